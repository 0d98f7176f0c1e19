// `qx510-sim ctl list` and `qx510-sim send` as a script calls them, each a whole process
// (start, one request to a headless simulator, end), against a minimal Qt Core program
// started and ended the same way. Pinned to one CPU with the simulator. Judged by the CPU
// time each process takes (user and system, from the kernel's account of waited-for
// children): on a shared machine a process that waits for an answer on a pinned CPU waits
// again behind whatever else runs there, and the wall time shows that rather than its cost.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/support/figures.h"
#include "bench/support/sim_process.h"

namespace {

constexpr double MaxRatio = 1.2;

double ChildrenCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

void Start(benchmark::State& state, std::vector<std::string> args) {
  const double before = ChildrenCpuSeconds();
  for (auto _ : state) {
    if (RunProgram(args) != 0) {
      state.SkipWithError((args[0] + " failed").c_str());
      break;
    }
  }
  state.counters["cpu_per_process"] = (ChildrenCpuSeconds() - before) / double(state.iterations());
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

  std::printf("\nA whole process against a minimal Qt Core program, CPU time:\n");
  const double floor = reporter.counter("start/qt-core", "cpu_per_process");
  bool within = PrintRatio("qx510-sim ctl list", reporter.counter("start/ctl-list", "cpu_per_process"), floor, 1e3,
                           "ms", MaxRatio);
  within &= PrintRatio("qx510-sim send", reporter.counter("start/send", "cpu_per_process"), floor, 1e3, "ms", MaxRatio);
  std::printf("wall time: ctl list %.1f ms, send %.1f ms, floor %.1f ms\n", 1e3 * reporter.realSeconds("start/ctl-list"),
              1e3 * reporter.realSeconds("start/send"), 1e3 * reporter.realSeconds("start/qt-core"));
  return Verdict(within);
}
