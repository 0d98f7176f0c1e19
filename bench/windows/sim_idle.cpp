// The simulator program with its window open (offscreen unless QT_QPA_PLATFORM says
// otherwise), the traffic pane showing every exchange, against the same program headless:
// - CPU while nobody talks to it, in per cent of one core;
// - at full exchange rate through the serial port's stand-in, the simulator's CPU per
//   exchange (all its threads) and the share of a core its window's thread takes.
// Everything runs pinned to one CPU, so that what the window costs shows as cost and not
// as a second CPU's idle time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "base/exchange/driver_loader.h"
#include "base/exchange/exchange.h"
#include "base/settings/tdata.h"
#include "bench/support/figures.h"
#include "bench/support/sim_process.h"
#include "sim/protocol.h"

namespace {

constexpr double IdleSeconds = 4.0;
constexpr double MaxIdleShare = 0.001;   // of one core
constexpr double MaxCpuRatio = 1.2;      // per exchange, window against headless
constexpr double MaxWindowShare = 0.10;  // of one core, the window's thread at full rate

void Idle(benchmark::State& state, bool withWindow) {
  SimulatorProcess sim(withWindow);
  if (!sim.error().empty()) {
    state.SkipWithError(sim.error().c_str());
    return;
  }
  // Start-up work is not idling.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  for (auto _ : state) {
    const double before = sim.cpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(IdleSeconds));
    state.SetIterationTime(IdleSeconds);
    state.counters["share"] = (sim.cpuSeconds() - before) / IdleSeconds;
  }
}

void Exchanges(benchmark::State& state, bool withWindow) {
  SimulatorProcess sim(withWindow);
  if (!sim.error().empty()) {
    state.SkipWithError(sim.error().c_str());
    return;
  }
  ::setenv(simproto::EndpointEnv, sim.endpoint().c_str(), 1);
  TData data{};
  InitData(&data);
  data.DriverParams.fill(0);
  data.DriverParams[0] = data.ComPort;
  uint32_t handle = 0;
  if (DriverInit(data.Interface, &handle, data.DriverParams) != 0 ||
      DriverSetConfig(data.Interface, handle, uint32_t(data.BaudRate), data.ResponseTimeout, 2) != 0) {
    state.SkipWithError("the serial port's stand-in did not connect");
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the window's first paint
  const double cpuBefore = sim.cpuSeconds(), mainBefore = sim.mainThreadCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (ModuleTransact(data.Interface, handle, data.ModuleAddress, 100, 0).Status != 0) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double n = double(state.iterations());
  state.counters["cpu_per_exchange"] = (sim.cpuSeconds() - cpuBefore) / n;
  state.counters["main_thread_share"] = (sim.mainThreadCpuSeconds() - mainBefore) / wall;
  DriverDone(data.Interface, &handle);
  state.SetItemsProcessed(int64_t(state.iterations()));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!PinToOneCpu()) std::fprintf(stderr, "bench_sim_idle: cannot pin to one CPU; figures will vary\n");
  benchmark::RegisterBenchmark("idle/window", Idle, true)->Iterations(1)->UseManualTime();
  benchmark::RegisterBenchmark("idle/headless", Idle, false)->Iterations(1)->UseManualTime();
  Repeated(benchmark::RegisterBenchmark("exchanges/window", Exchanges, true)->MinTime(2.0)->UseRealTime(), 3);
  Repeated(benchmark::RegisterBenchmark("exchanges/headless", Exchanges, false)->MinTime(2.0)->UseRealTime(), 3);
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nThe simulator with its window and traffic pane against the simulator headless:\n");
  bool within = PrintLimit("idle CPU (% of a core)", reporter.counter("idle/window", "share"),
                           reporter.counter("idle/headless", "share"), 100, "%", MaxIdleShare, true);
  within &= PrintRatio("CPU per exchange at full rate", reporter.counter("exchanges/window", "cpu_per_exchange"),
                       reporter.counter("exchanges/headless", "cpu_per_exchange"), 1e6, "us", MaxCpuRatio);
  within &= PrintLimit("window thread at full rate (% of a core)",
                       reporter.counter("exchanges/window", "main_thread_share"),
                       reporter.counter("exchanges/headless", "main_thread_share"), 100, "%", MaxWindowShare, true);
  std::printf("exchanges per second: window %.0f, headless %.0f\n", reporter.perSecond("exchanges/window"),
              reporter.perSecond("exchanges/headless"));
  return Verdict(within);
}
