// The simulator program with its window open (offscreen unless QT_QPA_PLATFORM says
// otherwise) against the same program headless: CPU while nobody talks to it, in per cent of
// one core, and exchanges per second through the serial port's stand-in.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "base/driver_loader.h"
#include "base/exchange.h"
#include "base/tdata.h"
#include "bench/figures.h"
#include "bench/sim_process.h"
#include "sim/protocol.h"

namespace {

constexpr double IdleSeconds = 4.0;
constexpr double MaxIdleShare = 0.001;  // of one core
constexpr double RequiredRate = 10000.0;

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
  for (auto _ : state) {
    if (ModuleTransact(data.Interface, handle, data.ModuleAddress, 100, 0).Status != 0) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  DriverDone(data.Interface, &handle);
  state.SetItemsProcessed(int64_t(state.iterations()));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RegisterBenchmark("idle/window", Idle, true)->Iterations(1)->UseManualTime();
  benchmark::RegisterBenchmark("idle/headless", Idle, false)->Iterations(1)->UseManualTime();
  benchmark::RegisterBenchmark("exchanges/window", Exchanges, true)->MinTime(1.0)->UseRealTime();
  benchmark::RegisterBenchmark("exchanges/headless", Exchanges, false)->MinTime(1.0)->UseRealTime();
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nThe simulator with its window against the simulator headless:\n");
  bool within = PrintLimit("idle CPU (% of a core)", reporter.counter("idle/window", "share"),
                           reporter.counter("idle/headless", "share"), 100, "%", MaxIdleShare, true);
  within &= PrintLimit("exchanges per second", reporter.perSecond("exchanges/window"),
                       reporter.perSecond("exchanges/headless"), 1, "/s", RequiredRate, false);
  return Verdict(within);
}
