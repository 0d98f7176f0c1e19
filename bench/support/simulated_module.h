#pragma once
// A simulated module answering on its own thread inside the benchmark (a private endpoint, no
// UDP, no state file), and a TData connected to it through the serial port's stand-in driver
// as the connection dialog leaves it: factory address 0 at 9600 Bd.
#include <memory>
#include <string>

#include "base/settings/tdata.h"

class SimServer;

class SimulatedModule {
 public:
  SimulatedModule();
  ~SimulatedModule();
  SimulatedModule(const SimulatedModule&) = delete;
  SimulatedModule& operator=(const SimulatedModule&) = delete;

  const std::string& error() const { return error_; }
  TData& data() { return data_; }
  // Requests the module has decoded since it started.
  uint64_t requestCount() const;

 private:
  std::unique_ptr<SimServer> server_;
  TData data_{};
  std::string error_;
};
