#pragma once
// A simulated line for one test: its sockets in the test's own folder, nothing stored.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <vector>

#include "sim/sim_server.h"

// udpPort: -1 for none, 0 for any free port on 127.0.0.1. Null (and a test failure) when the
// simulator cannot start.
inline std::unique_ptr<SimServer> StartLine(const QTemporaryDir& dir, std::vector<SimModuleSpec> modules,
                                            int udpPort = -1) {
  SimServerOptions o;
  o.wire = simline::Wire::Instant;  // measures no time
  o.udpPort = udpPort;
  o.localPath = dir.filePath("sim.sock").toStdString();
  o.modules = std::move(modules);
  auto sim = std::make_unique<SimServer>(o);
  std::string error;
  EXPECT_TRUE(sim->start(&error)) << error;
  return sim->running() ? std::move(sim) : nullptr;
}
