// Exchanges per second through the stand-in drivers to the headless simulator program
// (qx510-sim, started beside this benchmark on a free UDP port and a private endpoint): the
// LAN converter's over UDP on loopback, the serial port's over the local endpoint. One
// exchange = one Send of command 100 (read the status register).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "drivers/driver_abi.h"
#include "sim/protocol.h"

extern char** environ;

namespace {

constexpr double RequiredRate = 10000.0;  // exchanges per second, each path

std::string ExeDir() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().string(); }

struct Driver {
  explicit Driver(const std::string& prefix) {
    lib = ::dlopen((ExeDir() + "/" + prefix + ".DLL").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) throw std::runtime_error(::dlerror());
    init = ::dlsym(lib, (prefix + "_Init").c_str());
    setConfig = reinterpret_cast<DriverSetConfigFn>(::dlsym(lib, (prefix + "_SetConfig").c_str()));
    send = reinterpret_cast<DriverSendFn>(::dlsym(lib, (prefix + "_Send").c_str()));
    done = reinterpret_cast<DriverDoneFn>(::dlsym(lib, (prefix + "_Done").c_str()));
    if (!init || !setConfig || !send || !done) throw std::runtime_error(prefix + ": an entry is missing");
  }
  ~Driver() { ::dlclose(lib); }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;
  void* lib;
  void* init;
  DriverSetConfigFn setConfig;
  DriverSendFn send;
  DriverDoneFn done;
};

// qx510-sim --headless for the whole run, ended by SIGTERM to its own process id.
class HeadlessSimulator {
 public:
  HeadlessSimulator() {
    endpoint_ = "/tmp/qx510-bench-" + std::to_string(::getpid()) + ".sock";
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
      error_ = "pipe failed";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const std::string program = ExeDir() + "/qx510-sim";
    std::vector<std::string> args = {program, "--headless", "--no-state", "--port", "0", "--endpoint", endpoint_};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    output_ = out[0];
    if (rc != 0) {
      pid_ = -1;
      error_ = "cannot start " + program;
      return;
    }
    // The first line names the UDP port it took.
    std::string line;
    char c = 0;
    while (line.find('\n') == std::string::npos) {
      pollfd p{output_, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0 || ::read(output_, &c, 1) != 1) break;
      line += c;
    }
    std::smatch m;
    if (std::regex_search(line, m, std::regex("UDP 127\\.0\\.0\\.1:(\\d+),"))) port_ = uint16_t(std::stoi(m[1]));
    if (port_ == 0) error_ = "qx510-sim did not come up: " + line;
    ::setenv(simproto::EndpointEnv, endpoint_.c_str(), 1);
  }
  ~HeadlessSimulator() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (output_ >= 0) ::close(output_);
  }
  HeadlessSimulator(const HeadlessSimulator&) = delete;
  HeadlessSimulator& operator=(const HeadlessSimulator&) = delete;

  uint16_t port() const { return port_; }
  const std::string& error() const { return error_; }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  uint16_t port_ = 0;
  std::string endpoint_;
  std::string error_;
};

HeadlessSimulator* Simulator = nullptr;

void RunExchanges(benchmark::State& state, Driver& d, uint32_t handle) {
  if (d.setConfig(handle, 9600, 150, 2) != 0) {
    state.SkipWithError("SetConfig failed");
    return;
  }
  const std::array<uint32_t, 8> request{0, 100, 0, 0, 0, 0, 0, 0};
  std::array<uint32_t, 100> response{};
  uint32_t aux = 0, status = 0;
  for (auto _ : state) {
    const uint32_t r = d.send(handle, request.data(), response.data(), &aux, &status);
    if (r != 0 || status != 0) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(response);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  d.done(&handle);
}

void BM_LanConverterUdp(benchmark::State& state) {
  Driver d("KNET1660");
  std::array<uintptr_t, 16> block{};
  block[0] = reinterpret_cast<uintptr_t>("127.0.0.1");
  block[1] = Simulator->port();
  block[2] = 100;
  uint32_t handle = 0;
  if (reinterpret_cast<DriverInitBlockFn>(d.init)(&handle, block.data()) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  RunExchanges(state, d, handle);
}
BENCHMARK(BM_LanConverterUdp)->MinTime(1.0)->UseRealTime();

void BM_SerialPortLocalEndpoint(benchmark::State& state) {
  Driver d("KSER660");
  uint32_t handle = 0;
  if (reinterpret_cast<DriverInitWordFn>(d.init)(&handle, 1) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  RunExchanges(state, d, handle);
}
BENCHMARK(BM_SerialPortLocalEndpoint)->MinTime(1.0)->UseRealTime();

// Keeps each path's exchanges per second (wall time: the simulator is another process).
class RateReporter : public benchmark::ConsoleReporter {
 public:
  RateReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0 || run.real_accumulated_time <= 0) continue;
      const double rate = double(run.iterations) / run.real_accumulated_time;
      if (run.benchmark_name().rfind("BM_LanConverterUdp", 0) == 0) lan = rate;
      if (run.benchmark_name().rfind("BM_SerialPortLocalEndpoint", 0) == 0) local = rate;
    }
  }
  double lan = -1, local = -1;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  HeadlessSimulator simulator;
  if (!simulator.error().empty()) {
    std::fprintf(stderr, "%s\n", simulator.error().c_str());
    return 1;
  }
  Simulator = &simulator;
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.lan < 0 || reporter.local < 0) {
    std::printf("an exchange path did not run\n");
    return 1;
  }
  std::printf("KNET1660.DLL over UDP: %.0f exchanges/s, KSER660.DLL over the local endpoint: %.0f exchanges/s "
              "(at least %.0f each)\n",
              reporter.lan, reporter.local, RequiredRate);
#ifdef NDEBUG
  return reporter.lan >= RequiredRate && reporter.local >= RequiredRate ? 0 : 2;
#else
  std::printf("debug build: the minimum is checked in optimised builds only\n");
  return 0;
#endif
}
