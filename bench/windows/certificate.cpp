// The calibration certificate: how long one takes to render and how large its PDF is, beside
// the floor of a page holding one line in the same embedded font.

#include <QBuffer>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <cstdio>

#include "base/calibration/calibration_record.h"
#include "bench/support/figures.h"
#include "line/calibration/calibration_certificate.h"
#include "tests/support/calibration_sample.h"

namespace {

// A full page's worth: ten readings each way.
CalibrationRecord Sample() { return SampleCalibrationRecord(10); }

QByteArray FloorPage() {
  QByteArray pdf;
  QBuffer buffer(&pdf);
  buffer.open(QIODevice::WriteOnly);
  QPdfWriter writer(&buffer);
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setResolution(300);
  QPainter p(&writer);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPointSizeF(9.5);
  p.setFont(f);
  p.drawText(QPointF(100, 100), QStringLiteral("Kalibrační protokol"));
  p.end();
  return pdf;
}

void BM_Certificate(benchmark::State& state) {
  const CalibrationRecord record = Sample();
  QString error;
  qint64 bytes = 0;
  for (auto _ : state) {
    const QByteArray pdf = RenderCalibrationCertificate(record, error);
    if (pdf.isEmpty()) {
      state.SkipWithError(error.toStdString().c_str());
      return;
    }
    bytes = pdf.size();
  }
  state.counters["bytes"] = double(bytes);
}
// The least of five runs: the first render of the process also loads the font.
BENCHMARK(BM_Certificate)->Apply([](benchmark::internal::Benchmark* b) { Repeated(b, 5)->Iterations(5)->UseRealTime(); });

void BM_FloorPage(benchmark::State& state) {
  qint64 bytes = 0;
  for (auto _ : state) bytes = FloorPage().size();
  state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_FloorPage)->Apply([](benchmark::internal::Benchmark* b) { Repeated(b, 5)->Iterations(5)->UseRealTime(); });

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nThe calibration certificate against its floor (one line, same font):\n");
  bool within = PrintLimit("certificate render", reporter.realSeconds("BM_Certificate"),
                           reporter.realSeconds("BM_FloorPage"), 1e3, "ms", 0.200, true);
  within &= PrintLimit("certificate PDF size", reporter.counter("BM_Certificate", "bytes"),
                       reporter.counter("BM_FloorPage", "bytes"), 1.0 / 1024, "kB", 200 * 1024, true);
  return Verdict(within);
}
