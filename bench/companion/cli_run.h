#pragma once
// The companion program run in the benchmark's own process, its output kept and its
// messages printed only when it fails; and the simulated line it talks to.
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/settings/settings.h"
#include "cli/cli.h"
#include "sim/sim_server.h"

// output: what the command wrote to its data stream, when the caller wants it.
inline int RunCliQuietly(const QStringList& args, QString* output = nullptr) {
  QString out, err;
  QTextStream o(&out), e(&err);
  CliIo io;
  io.out = &o;
  io.err = &e;
  io.interrupted = [] { return false; };
  io.sleep = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
  const int code = RunCli(args, io);
  o.flush();
  e.flush();
  if (code != 0) std::fprintf(stderr, "%s\n", qPrintable(err));
  if (output != nullptr) *output = out;
  return code;
}

// A line answering on a thread of this process at a private endpoint in `dir` (no UDP, no
// state file), with the stand-in drivers and the companion's settings pointed at it; null,
// after saying why, when it cannot start.
inline std::unique_ptr<SimServer> StartBenchLine(const QTemporaryDir& dir, std::vector<SimModuleSpec> modules,
                                                 simline::Wire wire) {
  SimServerOptions options;
  options.wire = wire;
  options.udpPort = -1;
  options.localPath = dir.filePath(QStringLiteral("sim.sock")).toStdString();
  options.modules = std::move(modules);
  auto sim = std::make_unique<SimServer>(options);
  std::string error;
  if (!sim->start(&error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return nullptr;
  }
  ::setenv(simproto::EndpointEnv, sim->localPath().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit().constData(), 1);  // no serial-ports file of the user's
  SetConnectionSettingsPath(dir.filePath(QStringLiteral("W_qx510.ini")));
  return sim;
}
