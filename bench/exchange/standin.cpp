// Exchanges per second through the stand-in drivers to the headless simulator program
// (qx510-sim, started beside this benchmark on a free UDP port and a private endpoint): the
// LAN converter's over UDP on loopback, the serial port's over the local endpoint, to a line
// of one module and to the last of a line of 32. One exchange = one Send of command 100 (read
// the status register). And the control channel's round trip as `qx510-sim ctl` makes it
// (connect, one request line, one reply line), as a median.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/sim_process.h"
#include "bench/support/standin_driver.h"
#include "drivers/driver_abi.h"
#include "sim/control/sim_control.h"
#include "sim/protocol.h"

namespace {

constexpr double RequiredRate = 10000.0;  // exchanges per second, each path
constexpr double ControlLimitUs = 1000.0;  // median round trip of one control command
constexpr uint8_t LastOfLine = 31;         // the line of 32 holds addresses 0..31 at 9600 Bd

SimulatorProcess* Single = nullptr;  // one module at address 0
SimulatorProcess* Line = nullptr;    // 32 modules

void RunExchanges(benchmark::State& state, Driver& d, uint32_t handle, uint8_t address) {
  if (d.setConfig(handle, 9600, 150, 2) != 0) {
    state.SkipWithError("SetConfig failed");
    return;
  }
  const std::array<uint32_t, 8> request{address, 100, 0, 0, 0, 0, 0, 0};
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

void LanConverterUdp(benchmark::State& state, const SimulatorProcess& sim, uint8_t address) {
  Driver d("KNET1660");
  std::array<uintptr_t, 16> block{};
  block[0] = reinterpret_cast<uintptr_t>("127.0.0.1");
  block[1] = sim.port();
  block[2] = 100;
  uint32_t handle = 0;
  if (reinterpret_cast<DriverInitBlockFn>(d.init)(&handle, block.data()) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  RunExchanges(state, d, handle, address);
}

void SerialPortLocalEndpoint(benchmark::State& state, const SimulatorProcess& sim, uint8_t address) {
  sim.useEndpoint();
  Driver d("KSER660");
  uint32_t handle = 0;
  if (reinterpret_cast<DriverInitWordFn>(d.init)(&handle, 1) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  RunExchanges(state, d, handle, address);
}

void BM_LanConverterUdp(benchmark::State& state) { LanConverterUdp(state, *Single, 0); }
BENCHMARK(BM_LanConverterUdp)->MinTime(1.0)->UseRealTime();
void BM_SerialPortLocalEndpoint(benchmark::State& state) { SerialPortLocalEndpoint(state, *Single, 0); }
BENCHMARK(BM_SerialPortLocalEndpoint)->MinTime(1.0)->UseRealTime();
void BM_Line32Udp(benchmark::State& state) { LanConverterUdp(state, *Line, LastOfLine); }
BENCHMARK(BM_Line32Udp)->MinTime(1.0)->UseRealTime();
void BM_Line32LocalEndpoint(benchmark::State& state) { SerialPortLocalEndpoint(state, *Line, LastOfLine); }
BENCHMARK(BM_Line32LocalEndpoint)->MinTime(1.0)->UseRealTime();

double ControlMedianUs = -1;

void BM_ControlChannel(benchmark::State& state) {
  const std::string request = R"({"cmd":"voltage","module":31,"volts":1.5})";
  std::vector<double> us;
  std::string reply, error;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (!SimControlRequest(Line->controlPath(), request, &reply, &error) || reply != R"({"ok":true})") {
      state.SkipWithError(("control request failed: " + error + reply).c_str());
      return;
    }
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::nth_element(us.begin(), us.begin() + long(us.size() / 2), us.end());
  ControlMedianUs = us[us.size() / 2];
  state.counters["median_us"] = ControlMedianUs;
}
BENCHMARK(BM_ControlChannel)->MinTime(1.0)->UseRealTime();

// Keeps each path's exchanges per second (wall time: the simulator is another process).
class RateReporter : public benchmark::ConsoleReporter {
 public:
  RateReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0 || run.real_accumulated_time <= 0) continue;
      const double rate = double(run.iterations) / run.real_accumulated_time;
      const std::string name = run.benchmark_name();
      rates[name.substr(0, name.find('/'))] = rate;
    }
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // A line of 32, all at 9600 Bd, so that the last one is found behind all the others.
  std::string modules;
  for (int a = 0; a <= LastOfLine; ++a) modules.append(a ? "," : "").append(std::to_string(a));
  SimulatorProcess single(false);
  SimulatorProcess line(false, {"--modules", modules});
  for (const SimulatorProcess* sim : {&single, &line}) {
    if (!sim->error().empty()) {
      std::fprintf(stderr, "%s\n", sim->error().c_str());
      return 1;
    }
  }
  Single = &single;
  Line = &line;
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  bool met = true;
  const std::pair<const char*, const char*> paths[] = {
      {"BM_LanConverterUdp", "KNET1660.DLL over UDP, one module"},
      {"BM_SerialPortLocalEndpoint", "KSER660.DLL over the local endpoint, one module"},
      {"BM_Line32Udp", "KNET1660.DLL over UDP, 32nd of 32 modules"},
      {"BM_Line32LocalEndpoint", "KSER660.DLL over the local endpoint, 32nd of 32 modules"},
  };
  for (const auto& [name, what] : paths) {
    const auto it = reporter.rates.find(name);
    if (it == reporter.rates.end()) {
      std::printf("%s: did not run\n", what);
      met = false;
      continue;
    }
    std::printf("%s: %.0f exchanges/s (at least %.0f: ratio %.2f)\n", what, it->second, RequiredRate,
                it->second / RequiredRate);
    met = met && it->second >= RequiredRate;
  }
  if (ControlMedianUs < 0) {
    std::printf("control channel: did not run\n");
    met = false;
  } else {
    std::printf("control channel: median %.0f us per command (at most %.0f us: ratio %.2f)\n", ControlMedianUs,
                ControlLimitUs, ControlMedianUs / ControlLimitUs);
    met = met && ControlMedianUs < ControlLimitUs;
  }
#ifdef NDEBUG
  return met ? 0 : 2;
#else
  std::printf("debug build: the limits are checked in optimised builds only\n");
  return 0;
#endif
}
