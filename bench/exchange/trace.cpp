// What watching the line costs one exchange through the serial port's stand-in to the
// headless simulator: the exchange as it was before it could be watched (the floor), with
// the observer hook but nothing watching, and with every exchange traced as a text line to a
// file and counted. This process and the simulator share one CPU, so that the cost shows as
// time instead of hiding in the other CPU's wake-up latency. The figure is the CPU time both
// processes spend per exchange: on a shared machine the wall time also holds whatever else
// ran on that CPU.
#include <benchmark/benchmark.h>
#include <sched.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/exchange/driver_loader.h"
#include "base/exchange/exchange.h"
#include "base/exchange/exchange_queue.h"
#include "base/exchange/exchange_trace.h"
#include "bench/support/figures.h"
#include "bench/support/sim_process.h"

namespace {

constexpr uint8_t Iface = InterfaceSerial;
constexpr uint8_t Command = 100;  // the status register poll
uint32_t Handle = 0;
const SimulatorProcess* Sim = nullptr;

// The simulator's CPU time per exchange over one run, as a counter of the benchmark.
class SimulatorCpu {
 public:
  explicit SimulatorCpu(benchmark::State& state) : state_(state), start_(Sim->cpuSeconds()) {}
  ~SimulatorCpu() {
    if (state_.iterations() > 0)
      state_.counters["sim_cpu_us"] = (Sim->cpuSeconds() - start_) * 1e6 / double(state_.iterations());
  }

 private:
  benchmark::State& state_;
  double start_;
};

// The exchange without the observer hook: the loader's Send and the result's bytes.
uint32_t UnwatchedExchange(std::array<uint8_t, 5>& data) {
  const ModuleRequest request{0, Command, 0, data[0], data[1], data[2], data[3], data[4]};
  std::array<uint32_t, 100> response{};
  uint32_t aux = 0, status = 0;
  const uint32_t returned =
      DriverSend(Iface, Handle, reinterpret_cast<const uint32_t*>(&request), response.data(), &aux, &status);
  const uint32_t result = returned != 0 ? returned : status;
  data = {uint8_t(aux), uint8_t(response[0]), uint8_t(response[1]), uint8_t(response[2]), uint8_t(response[3])};
  return result;
}

void BM_NoObserver(benchmark::State& state) {
  SimulatorCpu sim(state);
  for (auto _ : state) {
    std::array<uint8_t, 5> data{};
    if (UnwatchedExchange(data) != 0) {
      state.SkipWithError("exchange failed");
      return;
    }
    benchmark::DoNotOptimize(data);
  }
}

void BM_TraceOff(benchmark::State& state) {
  SimulatorCpu sim(state);
  for (auto _ : state) {
    const ExchangeResult r = ModuleTransact(Iface, Handle, 0, Command, 0);
    if (r.Status != 0) {
      state.SkipWithError("exchange failed");
      return;
    }
    benchmark::DoNotOptimize(r);
  }
}

void BM_TraceOnFile(benchmark::State& state) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) {
    state.SkipWithError("no temporary file");
    return;
  }
  ExchangeQueue queue;
  ExchangeStats stats;
  SetExchangeObserver(&queue);
  ExchangeRecord record;
  SimulatorCpu sim(state);
  for (auto _ : state) {
    const ExchangeResult r = ModuleTransact(Iface, Handle, 0, Command, 0);
    while (queue.pop(record)) {
      char line[ExchangeTraceTextSize + 1];
      std::size_t n = ExchangeTraceText(record, line, sizeof line - 1);
      line[n++] = '\n';
      std::fwrite(line, 1, n, file);
      stats.add(record);
    }
    if (r.Status != 0) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  SetExchangeObserver(nullptr);
  std::fclose(file);
  state.counters["traced"] = double(stats.total());
}

constexpr int Repetitions = 9;  // the least disturbed of many: the two processes share the CPU with others
BENCHMARK(BM_NoObserver)->Apply([](auto* b) { Repeated(b->MinTime(0.5), Repetitions); });
BENCHMARK(BM_TraceOff)->Apply([](auto* b) { Repeated(b->MinTime(0.5), Repetitions); });
BENCHMARK(BM_TraceOnFile)->Apply([](auto* b) { Repeated(b->MinTime(0.5), Repetitions); });

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The simulator started below inherits the one CPU.
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(0, &one);
  if (sched_setaffinity(0, sizeof one, &one) != 0) std::printf("could not pin to one CPU\n");
  SimulatorProcess sim(false);
  if (!sim.error().empty()) {
    std::fprintf(stderr, "%s\n", sim.error().c_str());
    return 1;
  }
  sim.useEndpoint();
  Sim = &sim;
  DriverParamBlock params{};
  params[0] = 1;
  if (DriverInit(Iface, &Handle, params) != 0 || DriverSetConfig(Iface, Handle, 9600, 150, 2) != 0) {
    std::fprintf(stderr, "the serial port's stand-in did not start\n");
    return 1;
  }
  // The first thousands of exchanges pay for caches and the simulator's start; none of the
  // three should.
  for (int i = 0; i < 3000; ++i) ModuleTransact(Iface, Handle, 0, Command, 0);
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  DriverDone(Iface, &Handle);

  auto both = [&reporter](const char* name) {
    const double own = reporter.cpuSeconds(name), sim = reporter.counter(name, "sim_cpu_us");
    return own < 0 || sim < 0 ? -1.0 : own + sim / 1e6;
  };
  const double none = both("BM_NoObserver");
  const double off = both("BM_TraceOff");
  const double on = both("BM_TraceOnFile");
  bool within = PrintRatio("CPU/exchange, trace off : none", off, none, 1e6, "us", 1.02);
  within = PrintRatio("CPU/exchange, trace to file : off", on, off, 1e6, "us", 1.3) && within;
  return Verdict(within);
}
