// `qx510-sim ctl list` and `qx510-sim send` as a script calls them, each a whole process
// (start, one request to a headless simulator, end), against a minimal Qt Core program
// started and ended the same way. Pinned to one CPU with the simulator.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/figures.h"
#include "bench/sim_process.h"

namespace {

constexpr double MaxRatio = 1.2;

void Start(benchmark::State& state, std::vector<std::string> args) {
  for (auto _ : state) {
    if (RunProgram(args) != 0) {
      state.SkipWithError((args[0] + " failed").c_str());
      break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!PinToOneCpu()) std::fprintf(stderr, "bench_sim_commands: cannot pin to one CPU; figures will vary\n");
  const SimulatorProcess sim(false);
  if (!sim.error().empty()) {
    std::fprintf(stderr, "bench_sim_commands: %s\n", sim.error().c_str());
    return 1;
  }
  const std::string dir = BenchDirectory();
  const std::string program = dir + "/qx510-sim";
  for (auto* b : {benchmark::RegisterBenchmark("start/qt-core", Start, std::vector<std::string>{dir + "/qx510-bench-core-floor"}),
                  benchmark::RegisterBenchmark("start/ctl-list", Start,
                                               std::vector<std::string>{program, "ctl", "--endpoint", sim.endpoint(), "list"}),
                  benchmark::RegisterBenchmark("start/send", Start,
                                               std::vector<std::string>{program, "send", "--endpoint", sim.endpoint(), "0", "100", "0"})})
    Repeated(b->MinTime(1.0)->UseRealTime()->Unit(benchmark::kMillisecond), 5);
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nA whole process against a minimal Qt Core program:\n");
  const double floor = reporter.realSeconds("start/qt-core");
  bool within = PrintRatio("qx510-sim ctl list", reporter.realSeconds("start/ctl-list"), floor, 1e3, "ms", MaxRatio);
  within &= PrintRatio("qx510-sim send", reporter.realSeconds("start/send"), floor, 1e3, "ms", MaxRatio);
  return Verdict(within);
}
