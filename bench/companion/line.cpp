// qx510-cli line backup of a line of 32 modules at 115200 Bd, the in-process simulator paced at
// wire time, against the wire: the exchanges the simulator served during the backup, counted in
// the same run, each holding the line for one exchange on the wire (wire::ExchangeTime), less
// the silence after the last answer. The 1 ms pause after each read falls within the line's
// silence after an answer, so it adds nothing to the floor.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <memory>

#include "base/config/line_file.h"
#include "base/text/baud.h"
#include "base/wire/wire_time.h"
#include "bench/companion/cli_run.h"
#include "bench/support/figures.h"
#include "sim/sim_server.h"

namespace {

constexpr int Modules = 32;
constexpr int32_t Rate = 115200;
constexpr double Limit = 1.1;

SimServer* Sim = nullptr;
QString LinePath, BackupPath;

void BM_LineBackup32(benchmark::State& state) {
  uint64_t exchanges = 0;
  for (auto _ : state) {
    const uint64_t before = Sim->requestCount();
    if (RunCliQuietly({"line", "backup", BackupPath, "--force", "--line", LinePath}) != 0) {
      state.SkipWithError("line backup failed");
      return;
    }
    exchanges = Sim->requestCount() - before;
  }
  const auto wire = wire::ExchangeTime(Rate) * int64_t(exchanges) - wire::InterFrameSilence(Rate);
  state.counters["floor_ms"] = std::chrono::duration<double, std::milli>(wire).count();
  state.counters["exchanges"] = double(exchanges);
}
// The least of three: the run least disturbed by the rest of the machine.
BENCHMARK(BM_LineBackup32)->Apply([](benchmark::internal::Benchmark* b) {
  Repeated(b->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond), 3);
});

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  QTemporaryDir dir;
  std::vector<SimModuleSpec> specs;
  LineFile line;
  line.saved = QDateTime::currentDateTime();
  for (int a = 0; a < Modules; ++a) {
    specs.push_back({uint8_t(a), uint8_t(BaudRateToCode(Rate))});
    line.modules.append(LineModule{uint8_t(a), BaudRateToCode(Rate), QStringLiteral("QX-510   v.1.20")});
  }
  const std::unique_ptr<SimServer> sim = StartBenchLine(dir, specs, simline::Wire::Paced);
  if (!sim) return 1;
  Sim = sim.get();
  LinePath = dir.filePath(QStringLiteral("line.qx510line"));
  BackupPath = dir.filePath(QStringLiteral("backup.qx510line"));
  QString error;
  if (!SaveLineFile(LinePath, line, error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }

  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nline backup of %d modules at %d Bd, %.0f exchanges, against the wire:\n", Modules, Rate,
              reporter.counter("BM_LineBackup32", "exchanges"));
  const bool within = PrintRatio("line backup, 32 modules", reporter.realSeconds("BM_LineBackup32"),
                                 reporter.counter("BM_LineBackup32", "floor_ms") / 1000.0, 1000, "ms", Limit);
  return Verdict(within);
}
