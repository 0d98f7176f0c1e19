// CPU of one tick of each live window against a minimal poller: a bare window with one label
// that makes the same exchange through the same driver and shows what it got, the measured
// value as a number, anything else as its five bytes. Both run against the simulated module
// through the serial port's stand-in, on the offscreen platform unless QT_QPA_PLATFORM says
// otherwise. A tick is a real one: the event loop runs until the timer has fired and its slot
// returned (the window's own timer, brought down to 1 ms; the output window's write button
// pressed by a timer), so waking up and painting are counted on both sides. The module's
// values stay put, as they mostly do while an engineer watches a window.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <string>

#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"
#include "bench/support/window_bench.h"
#include "live/tform11.h"
#include "live/tform15.h"
#include "live/tform3.h"
#include "live/tform9.h"
#include "ui/status_bar.h"

namespace {

struct LiveCase {
  const char* window;
  uint8_t command;
  uint8_t index;
  bool measuredValue;
};

// The exchange each window makes on a tick.
const LiveCase Cases[] = {
    {"TForm3", Cmd::ReadChannel, 0, true},
    {"TForm11", Cmd::ReadChannel, DigitalIndex, false},
    {"TForm15", Cmd::ReadStatus, 0, false},
    {"TForm9", Cmd::WriteOutputs, DigitalIndex, false},
};

// One benchmark iteration per timeout of the timer, which runs every millisecond meanwhile.
void CountTicks(benchmark::State& state, QTimer* timer) {
  QEventLoop loop;
  QObject::connect(timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer->start(1);
  for (auto _ : state) loop.exec();
  timer->stop();
}

void Expose(QWidget* window) {
  window->show();
  (void)QTest::qWaitForWindowExposed(window);
  QCoreApplication::processEvents();
}

template <class W>
void WindowTick(benchmark::State& state, void (W::*tick)()) {
  W window;
  window.setData(&Module().data());
  Expose(&window);
  auto* timer = window.template findChild<QTimer*>(QStringLiteral("Timer1"));
  if (timer != nullptr) timer->stop();
  (window.*tick)();
  QCoreApplication::processEvents();
  const QString expected = QLatin1Char(' ') + DriverStatusText(Module().data().Interface, 0);
  const QString shown = window.statusBar()->text();
  if (shown != expected && shown != QStringLiteral(" Data zapsána")) {
    state.SkipWithError(("the window shows: " + shown).toStdString().c_str());
    return;
  }
  QTimer press;
  if (timer == nullptr) {
    QObject::connect(&press, &QTimer::timeout, &window, tick);
    timer = &press;
  }
  CountTicks(state, timer);
}

void MinimalPoller(benchmark::State& state, const LiveCase& c) {
  QLabel label;
  Expose(&label);
  const TData& d = Module().data();
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, &label, [&] {
    const ExchangeResult r = ModuleTransact(d.Interface, d.DriverHandle, d.ModuleAddress, c.command, c.index);
    if (c.measuredValue) {
      const double value = DecodeMeasuredValue(r.Data[1], r.Data[2], r.Data[3], r.Data[4]);
      label.setText(QString::number(value, 'f', r.Data[4] & 0x7F));
    } else {
      label.setText(QString::asprintf("%02x %02x %02x %02x %02x", r.Data[0], r.Data[1], r.Data[2], r.Data[3],
                                      r.Data[4]));
    }
  });
  CountTicks(state, &timer);
}

void Register() {
  // CPU of the benchmark's thread (the module answers on another), the least of three runs.
  const auto add = [](const std::string& name, auto&& fn, auto... args) {
    Repeated(benchmark::RegisterBenchmark(name.c_str(), fn, args...), 3);
  };
  add("TForm3", WindowTick<TForm3>, &TForm3::Timer1Timer);
  add("TForm11", WindowTick<TForm11>, &TForm11::Timer1Timer);
  add("TForm15", WindowTick<TForm15>, &TForm15::Timer1Timer);
  add("TForm9", WindowTick<TForm9>, &TForm9::Button1Click);
  for (const LiveCase& c : Cases) add(std::string("poller/") + c.window, MinimalPoller, c);
}

bool Summarise(const FigureReporter& reporter) {
  std::printf("\nCPU per tick against a minimal poller of the same exchange:\n");
  bool within = true;
  for (const LiveCase& c : Cases) {
    within &= PrintRatio(c.window, reporter.cpuSeconds(c.window),
                         reporter.cpuSeconds(std::string("poller/") + c.window), 1e6, "us", 1.5);
  }
  return within;
}

}  // namespace

int main(int argc, char** argv) { return RunWindowBenchmarks(argc, argv, Register, Summarise); }
