#pragma once
// What the settings windows' tests share: a module of the line, and the driver thread holding
// the line through whichever drivers lie beside the test.

#include <gtest/gtest.h>

#include "base/settings/tdata.h"
#include "line/poll/line_worker.h"
#include "tests/support/wait_for.h"

inline LineModule Module(uint8_t address, int baudCode) {
  LineModule m;
  m.address = address;
  m.baudCode = baudCode;
  return m;
}

// The tool's default connection, opened on the worker's thread.
inline void OpenLine(LineWorker& worker) {
  TData data{};
  InitData(&data);
  bool opened = false;
  QObject here;  // the answer comes to this thread, and only while it waits
  QObject::connect(&worker, &LineWorker::opened, &here, [&](uint32_t status) { opened = status == 0; });
  worker.open(data);
  ASSERT_TRUE(WaitFor([&] { return opened; }));
}
