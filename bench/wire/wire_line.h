#pragma once
// A line of modules that the simulator program serves on a pseudo-terminal at wire time, with
// COM1 mapped to it in the serial-ports file of a private settings folder: the path a user with
// an RS-485 adapter has, for the figures that are measured against the wire.
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "base/settings/tdata.h"
#include "base/wire/wire_time.h"
#include "bench/support/sim_process.h"

class PtyLine {
 public:
  // modules: the simulator's --modules, e.g. "0@9600,0@115200"; latencyMs: the latency timer
  // of the USB adapter the simulator plays, 0 for none.
  explicit PtyLine(const std::string& modules, int latencyMs = 0);
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Empty when the line is up and COM1 leads to it.
  const std::string& error() const { return error_; }

 private:
  QTemporaryDir dir_;
  std::unique_ptr<SimulatorProcess> sim_;
  std::string error_;
};

// data connected through COM1 as the connection dialog leaves it; false when the driver
// refused.
bool ConnectCom1(TData& data, int32_t rate, uint8_t address, uint16_t timeoutMs);

// What the wire takes, in seconds, for the default turnaround of the simulated modules.
inline double ExchangeSeconds(int32_t rate) { return std::chrono::duration<double>(wire::ExchangeTime(rate)).count(); }
