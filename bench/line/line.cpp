// The line workbench against the simulator program with a line of 32 modules, pinned with it
// to one CPU:
// - the window polling the line round-robin at the fastest interval, exchanges/s against a
//   bare loop of the same exchanges through the same driver (the most the line allows);
// - the window's own CPU (its thread, not the driver thread) at ten readings a second of each
//   module, against the same window connected and idle;
// - the whole process's CPU at ten readings a second of each module with every reading
//   published to a broker on 127.0.0.1 (a mosquitto of its own), against the same without
//   publishing: what publishing adds;
// - a trend of 360 000 readings zoomed and panned, against the same plot without data;
// - the start of qx510-line to a visible window against the tool's.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <time.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"
#include "base/settings/settings.h"
#include "bench/support/figures.h"
#ifdef QX510_BENCH_BROKER
#include <QLineEdit>

#include "line/publish/mqtt_panel.h"
#include "line/common/workbench_settings.h"
#include "tests/mqtt/test_broker.h"
#endif
#include "bench/line/line_poll.h"
#include "bench/support/sim_process.h"
#include "base/config/line_file.h"
#include "line/app/line_window.h"
#include "line/poll/line_worker.h"
#include "line/trend/trend_plot.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Modules = 32;
constexpr int TrendPoints = 360000;

QTemporaryDir* Scratch = nullptr;

QVector<LineModule> Line() {
  QVector<LineModule> line;
  for (int a = 0; a < Modules; ++a) {
    LineModule m;
    m.address = uint8_t(a);
    m.baudCode = 4;
    line.append(m);
  }
  return line;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A workbench window on screen with the line of 32 modules, polling every intervalMs once
// connected.
std::unique_ptr<LineWindow> WindowOnLine(int intervalMs) {
  const QString path = Scratch->filePath(QStringLiteral("bench.qx510line"));
  QString error;
  SaveLineFile(path, LineFile{QDateTime::currentDateTime(), Line(), {}}, error);
  auto window = std::make_unique<LineWindow>();
  window->setLinePath(path);
  window->findChild<QSpinBox*>(QStringLiteral("PollInterval"))->setValue(intervalMs);
  window->show();
  return window;
}

// The same three exchanges per module as the workbench polls them, in a bare loop of this
// thread for `seconds`: the most the line and the driver allow at all. Exchanges per second,
// -1 when the line could not be opened.
double BareLoopRate(double seconds) {
  DriverParamBlock params{};
  params[0] = 1;
  uint32_t handle = 0;
  if (DriverInit(InterfaceSerial, &handle, params) != 0 || DriverSetConfig(InterfaceSerial, handle, 9600, 150, 2) != 0)
    return -1;
  uint64_t n = 0;
  const auto start = Clock::now();
  while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
    for (uint8_t a = 0; a < Modules; ++a) {
      ModuleTransact(InterfaceSerial, handle, a, Cmd::ReadChannel, 0);
      ModuleTransact(InterfaceSerial, handle, a, Cmd::ReadChannel, DigitalIndex);
      ModuleTransact(InterfaceSerial, handle, a, Cmd::ReadStatus, 0);
      n += 3;
    }
  }
  const double rate = double(n) / std::chrono::duration<double>(Clock::now() - start).count();
  DriverDone(InterfaceSerial, &handle);
  return rate;
}

// The workbench and the bare loop in turn, five times, the best of each: a busy moment of the
// machine costs both alike. The line is held by one of them at a time.
void BM_Polling(benchmark::State& state) {
  const std::unique_ptr<LineWindow> window = WindowOnLine(0);
  Settle(200);
  for (auto _ : state) {
    double best = -1, bare = -1;
    for (int i = 0; i < 5; ++i) {
      best = std::max(best, WindowPollRate(*window, 2));
      bare = std::max(bare, BareLoopRate(2));
    }
    if (best < 0 || bare < 0) state.SkipWithError("no connection");
    state.SetIterationTime(1);
    state.counters["window_per_s"] = best;
    state.counters["bare_per_s"] = bare;
  }
}
BENCHMARK(BM_Polling)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// CPU seconds per wall second, as `cpuSeconds` counts them, of a window polling the line at ten
// readings a second per module, once `prepare` has set it up.
void CpuPerSecond(benchmark::State& state, double (*cpuSeconds)(), const std::function<void(LineWindow&)>& prepare) {
  const std::unique_ptr<LineWindow> owned = WindowOnLine(100);
  LineWindow& window = *owned;
  if (!Connect(window)) state.SkipWithError("no connection");
  prepare(window);
  Settle(1000);
  for (auto _ : state) {
    const double cpu = cpuSeconds();
    const auto start = Clock::now();
    Settle(5000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    state.counters["cpu_fraction"] = (cpuSeconds() - cpu) / seconds;
  }
  window.disconnectLine();
  Settle(200);
}

// The main window's thread while the line is polled, or connected and idle.
void WindowCpu(benchmark::State& state, bool polling) {
  CpuPerSecond(state, ThreadCpuSeconds, [polling](LineWindow& window) {
    if (!polling) window.stopPolling();
  });
}
void BM_WindowCpuPolling(benchmark::State& state) { WindowCpu(state, true); }
void BM_WindowCpuIdle(benchmark::State& state) { WindowCpu(state, false); }
BENCHMARK(BM_WindowCpuPolling)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowCpuIdle)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

#ifdef QX510_BENCH_BROKER
TestBroker* Broker = nullptr;

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// All threads of the workbench (window, driver, publishing), each reading published or none.
void ProcessCpu(benchmark::State& state, bool publishing) {
  CpuPerSecond(state, ProcessCpuSeconds, [&state, publishing](LineWindow& window) {
    if (!publishing) return;
    MqttPanel* panel = window.mqttPanel();
    panel->findChild<QLineEdit*>(QStringLiteral("MqttUrl"))->setText(Broker->url());
    auto* lineName = window.findChild<QLineEdit*>(QStringLiteral("LineName"));
    lineName->setText(QStringLiteral("bench"));
    emit lineName->editingFinished();
    panel->findChild<QSpinBox*>(QStringLiteral("MqttHeartbeat"))->setValue(0);
    if (!panel->startPublishing()) state.SkipWithError("publishing did not start");
  });
}
void BM_ProcessCpuPublishing(benchmark::State& state) { ProcessCpu(state, true); }
void BM_ProcessCpuPolling(benchmark::State& state) { ProcessCpu(state, false); }
BENCHMARK(BM_ProcessCpuPublishing)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessCpuPolling)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
#endif

// One zoom or pan of the trend and its repaint, with 360 000 readings or two.
void TrendRedraw(benchmark::State& state, int points) {
  TrendSeries series(TrendPoints + 10);
  const double t0 = 1.7e9;
  for (int i = 0; i < points; ++i) series.append(t0 + i * 0.1, 5 + 3 * std::sin(i * 0.001) + (i % 97) * 0.001);
  TrendPlot plot;
  plot.resize(1200, 500);
  plot.show();
  plot.setSeries(&series, QStringLiteral("V"));
  Settle(200);
  const double span = TrendPoints * 0.1;
  int step = 0;
  for (auto _ : state) {
    // Zoom in by halves down to a minute, then pan across the whole series.
    const double width = std::max(60.0, span / double(1 << (step % 10)));
    const double start = t0 + std::fmod(step * 997.0, std::max(1.0, span - width));
    plot.setView(start, start + width);
    ++step;
  }
  state.counters["points_shown"] = double(plot.shownPoints());
}
void BM_TrendRedraw(benchmark::State& state) { TrendRedraw(state, TrendPoints); }
void BM_TrendRedrawEmpty(benchmark::State& state) { TrendRedraw(state, 2); }
BENCHMARK(BM_TrendRedraw)->Apply([](auto* b) { Repeated(b->MinTime(0.5), 3); });
BENCHMARK(BM_TrendRedrawEmpty)->Apply([](auto* b) { Repeated(b->MinTime(0.5), 3); });

// Milliseconds from starting `program` to its first exposed window, -1 when it showed none.
double StartMs(const QString& program, const QString& pluginRoot) {
  {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_PLUGIN_PATH"), pluginRoot);
    env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("qx510startprobe"));
    env.insert(QStringLiteral("HOME"), Scratch->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), Scratch->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    p.setProcessEnvironment(env);
    const auto start = Clock::now();
    p.start(program, {});
    if (!p.waitForFinished(30000)) {
      p.kill();
      p.waitForFinished();
      return -1;
    }
    const QByteArray out = p.readAllStandardOutput();
    const qsizetype at = out.indexOf("exposed ");
    if (at < 0) return -1;
    const long long ns = out.mid(at + 8).trimmed().split('\n').first().toLongLong();
    return double(ns - std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count()) / 1e6;
  }
}

// The least start of each program, the two started in turn so that a busy moment costs both.
void LeastStarts(double& toolMs, double& lineMs) {
  toolMs = lineMs = -1;
  for (int i = 0; i < 15; ++i) {
    const double tool = StartMs(QStringLiteral(QX510_TOOL), QStringLiteral(QX510_PLUGINS));
    const double line = StartMs(QStringLiteral(QX510_LINE), QStringLiteral(QX510_PLUGINS));
    if (tool < 0 || line < 0) {
      toolMs = lineMs = -1;
      return;
    }
    if (toolMs < 0 || tool < toolMs) toolMs = tool;
    if (lineMs < 0 || line < lineMs) lineMs = line;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Every thread of this process and the simulator it starts share one CPU.
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(0, &one);
  if (sched_setaffinity(0, sizeof one, &one) != 0) std::printf("could not pin to one CPU\n");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  QTemporaryDir scratch;
  Scratch = &scratch;
  SetConnectionSettingsPath(scratch.filePath(QStringLiteral("W_qx510.ini")));
  std::string modules;
  for (int a = 0; a < Modules; ++a) modules.append(a ? "," : "").append(std::to_string(a));
  SimulatorProcess sim(false, {"--modules", modules});
  if (!sim.error().empty()) {
    std::fprintf(stderr, "%s\n", sim.error().c_str());
    return 1;
  }
  sim.useEndpoint();

#ifdef QX510_BENCH_BROKER
  // The pane keeps its settings for the user; this run keeps them in its scratch folder.
  SetWorkbenchSettingsPath(scratch.filePath(QStringLiteral("linka.ini")));
  TestBroker broker;
  QString brokerError;
  if (!broker.start(&brokerError)) std::fprintf(stderr, "no broker: %s\n", qPrintable(brokerError));
  Broker = &broker;
#endif
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  double toolMs = -1, lineMs = -1;
  LeastStarts(toolMs, lineMs);

  std::printf("\nThe line workbench against its floors:\n");
  bool within = PrintRatioAtLeast("polling 32 modules, exchanges/s", reporter.counter("BM_Polling", "window_per_s"),
                                  reporter.counter("BM_Polling", "bare_per_s"), 1, "/s", 0.9);
  within &= PrintLimit("window CPU, 32 x 10 readings/s", reporter.counter("BM_WindowCpuPolling", "cpu_fraction"),
                       reporter.counter("BM_WindowCpuIdle", "cpu_fraction"), 100, "%", 0.05, true);
#ifdef QX510_BENCH_BROKER
  const double plain = reporter.counter("BM_ProcessCpuPolling", "cpu_fraction");
  within &= PrintLimit("MQTT, 32 x 10 readings/s, all CPU", reporter.counter("BM_ProcessCpuPublishing", "cpu_fraction"),
                       plain, 100, "%", plain + 0.02, true);
#endif
  within &= PrintLimit("trend 360 000 points zoom/pan", reporter.realSeconds("BM_TrendRedraw"),
                       reporter.realSeconds("BM_TrendRedrawEmpty"), 1e3, "ms", 0.016, true);
  within &= PrintRatio("start to a visible window", lineMs / 1e3, toolMs / 1e3, 1e3, "ms", 1.3);
  return Verdict(within);
}
