#pragma once
// The simulator program (qx510-sim, beside the benchmark) as a child process for the whole
// run, on a free UDP port of 127.0.0.1 and a private endpoint, without a state file. Ended by
// SIGTERM to its own process id.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class SimulatorProcess {
 public:
  // withWindow: its front panel open (on the offscreen platform unless QT_QPA_PLATFORM says
  // otherwise); else --headless. extra: further options, e.g. --modules for a line. paced:
  // the line at wire time, as a user has it; else instant, for figures against loopback.
  explicit SimulatorProcess(bool withWindow, const std::vector<std::string>& extra = {}, bool paced = false);
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  uint16_t port() const { return port_; }
  const std::string& endpoint() const { return endpoint_; }
  std::string controlPath() const { return endpoint_ + ".ctl"; }
  const std::string& error() const { return error_; }
  // Lets the stand-in drivers of this process reach it.
  void useEndpoint() const;
  // CPU time all its threads have used so far. /proc/<pid>/stat counts in 10 ms ticks, too
  // coarse for an idle process over a few seconds, so the scheduler's nanoseconds are summed.
  double cpuSeconds() const;
  // The same for its main thread alone: the event loop, where the window is painted.
  double mainThreadCpuSeconds() const;

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  uint16_t port_ = 0;
  std::string endpoint_;
  std::string error_;
};

// The directory of the running benchmark, where the driver libraries and qx510-sim lie.
std::string BenchDirectory();

// Pins this process, and every thread and child it starts afterwards, to the one CPU it runs
// on now: an exchange then costs its full work on that CPU, not a wake-up latency hidden by
// the other CPU idling. False when the scheduler refuses.
bool PinToOneCpu();

// Starts the program with the arguments (standard output and error to /dev/null) and waits
// for it; its exit status, or -1 when it could not be started.
int RunProgram(const std::vector<std::string>& args);
