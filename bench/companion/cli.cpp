// qx510-cli against an in-process simulated line of modules, through the loader and the
// serial port's stand-in driver:
// - scan of 256 addresses at one rate with a 20 ms scan timeout, against its floor:
//   unanswered addresses x the timeout + the answered exchanges x one round trip;
// - config restore of a whole image (every byte but address and rate differs, the calibration
//   constants included), against (exchanges x one round trip + the 1 ms pauses).
// One round trip is measured first, as the mean of many status register reads.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/exchange/commands.h"
#include "base/config/config_image.h"
#include "base/exchange/driver_loader.h"
#include "base/settings/settings.h"
#include "bench/companion/cli_run.h"
#include "cli/cli.h"
#include "sim/sim_server.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int ScanTimeoutMs = 20;
constexpr double ScanLimit = 1.1, RestoreLimit = 1.2;
// Modules on the line, all at 9600 Bd.
constexpr SimModuleSpec Line[] = {{0, 4}, {37, 4}, {128, 4}, {255, 4}};
constexpr int LineSize = int(std::size(Line));

SimServer* Sim = nullptr;
QString BackupPath;
double RoundTripMs = 0;

int Run(const QStringList& args) { return RunCliQuietly(args); }

double MeasureRoundTripMs() {
  DriverParamBlock params{};
  params[0] = 1;
  uint32_t handle = 0;
  if (DriverInit(InterfaceSerial, &handle, params) != 0 || DriverSetConfig(InterfaceSerial, handle, 9600, 150, 2) != 0)
    return -1;
  constexpr int n = 2000;
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i) ModuleTransact(InterfaceSerial, handle, 0, Cmd::ReadStatus, 0);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / n;
  DriverDone(InterfaceSerial, &handle);
  return ms;
}

void BM_Scan256(benchmark::State& state) {
  for (auto _ : state) {
    if (Run({"scan", "--rates", "9600", "--scan-timeout", QString::number(ScanTimeoutMs)}) != 0)
      state.SkipWithError("scan failed");
  }
  // The connect's Init and SetConfig are not exchanges; three identification exchanges per module.
  const double floorMs = (256 - LineSize) * double(ScanTimeoutMs) + LineSize * 3 * RoundTripMs;
  state.counters["floor_ms"] = floorMs;
}
BENCHMARK(BM_Scan256)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_RestoreFullImage(benchmark::State& state) {
  const std::vector<uint8_t>& addresses = ImageAddresses();
  for (auto _ : state) {
    state.PauseTiming();
    // Every byte but the line settings differs from the backup of module 0.
    Sim->withModule(1, [&](SimModule& m) {
      for (uint8_t a : addresses)
        if (!IsLineSetting(a)) m.setConfigByte(a, uint8_t(0xA5 ^ a));
    });
    state.ResumeTiming();
    if (Run({"config", "restore", BackupPath, "--address", "37", "--with-calibration"}) != 0)
      state.SkipWithError("restore failed");
  }
  const int bytes = int(addresses.size());
  const int written = bytes - 2;
  // Identification, the image read, a write with its read-back per differing byte and the
  // final read of the whole image; a pause after each read and two per written byte.
  const int exchanges = 3 + bytes + 2 * written + bytes;
  const int pauses = bytes + 2 * written + bytes;
  state.counters["floor_ms"] = exchanges * RoundTripMs + pauses * 1.0;
}
BENCHMARK(BM_RestoreFullImage)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

class FloorReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      Figure f;
      f.name = run.benchmark_name();
      f.ms = run.real_accumulated_time * 1000.0 / double(run.iterations);
      f.floorMs = run.counters.at("floor_ms").value;
      f.limit = f.name.rfind("BM_Scan256", 0) == 0 ? ScanLimit : RestoreLimit;
      figures.push_back(f);
    }
  }
  struct Figure {
    std::string name;
    double ms = 0, floorMs = 0, limit = 0;
  };
  std::vector<Figure> figures;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  QTemporaryDir dir;
  // Instant: measures no time.
  const std::unique_ptr<SimServer> sim = StartBenchLine(dir, {std::begin(Line), std::end(Line)}, simline::Wire::Instant);
  if (!sim) return 1;
  Sim = sim.get();
  BackupPath = dir.filePath(QStringLiteral("backup.txt"));
  if (Run({"config", "backup", BackupPath}) != 0) return 1;
  RoundTripMs = MeasureRoundTripMs();
  if (RoundTripMs <= 0) {
    std::fprintf(stderr, "no connection to the simulated line\n");
    return 1;
  }

  FloorReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("round trip %.3f ms\n", RoundTripMs);
  bool within = !reporter.figures.empty();
  for (const auto& f : reporter.figures) {
    const double ratio = f.ms / f.floorMs;
    std::printf("%s: %.1f ms, floor %.1f ms, ratio %.3f (at most %.1f)\n", f.name.c_str(), f.ms, f.floorMs, ratio,
                f.limit);
    within = within && ratio <= f.limit;
  }
  return within ? 0 : 2;
}
