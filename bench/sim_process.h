#pragma once
// The simulator program (qx510-sim, beside the benchmark) as a child process for the whole
// run, on a free UDP port of 127.0.0.1 and a private endpoint, without a state file. Ended by
// SIGTERM to its own process id.
#include <sys/types.h>

#include <cstdint>
#include <string>

class SimulatorProcess {
 public:
  // withWindow: its front panel open (on the offscreen platform unless QT_QPA_PLATFORM says
  // otherwise); else --headless.
  explicit SimulatorProcess(bool withWindow);
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  uint16_t port() const { return port_; }
  const std::string& endpoint() const { return endpoint_; }
  const std::string& error() const { return error_; }
  // CPU time all its threads have used so far. /proc/<pid>/stat counts in 10 ms ticks, too
  // coarse for an idle process over a few seconds, so the scheduler's nanoseconds are summed.
  double cpuSeconds() const;

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  uint16_t port_ = 0;
  std::string endpoint_;
  std::string error_;
};

// The directory of the running benchmark, where the driver libraries and qx510-sim lie.
std::string BenchDirectory();
