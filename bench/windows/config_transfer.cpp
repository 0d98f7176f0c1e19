// Wall time of each configuration window's read ("Přečíst") and write ("Zapsat") against its
// floor: the exchanges it makes times one round trip (an exchange made after a 1 ms pause, as
// in a sequence), measured in the same run, plus the 1 ms pauses between them. Against the
// simulated module through the serial port's stand-in, on the offscreen platform unless
// QT_QPA_PLATFORM says otherwise. The exchanges are counted by the module; the write stores
// what the read brought, so the module keeps its memory. Between two presses the event loop
// has its turn untimed, as it has between an operator's clicks.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>
#include <QTest>

#include "base/exchange/commands.h"
#include "bench/support/window_bench.h"
#include "config/tform12.h"
#include "config/tform13.h"
#include "config/tform14.h"
#include "ui/window_util.h"

namespace {

constexpr double PauseSeconds = 1e-3;

struct ConfigCase {
  const char* window;
  // Whether a pause also follows the last byte (the address window pauses only between its
  // bytes).
  bool pauseAfterLast;
};
const ConfigCase Cases[] = {{"TForm12", false}, {"TForm13", true}, {"TForm14", true}};

QString Status(QWidget* window) {
  return window->findChild<QLabel*>(QStringLiteral("StatusPanel0"))->text();
}

template <class W>
void Transfer(benchmark::State& state, bool write) {
  W window;
  window.setData(&Module().data());
  window.show();
  (void)QTest::qWaitForWindowExposed(&window);
  window.Button2Click();  // the working copy is then the module's memory
  const QString done = write ? QStringLiteral(" Konfigurace zapsána.") : QStringLiteral(" Konfigurace přečtena.");
  const uint64_t before = Module().requestCount();
  if (write) window.Button1Click(); else window.Button2Click();
  if (Status(&window) != done) {
    state.SkipWithError(("the window shows: " + Status(&window)).toStdString().c_str());
    return;
  }
  const double exchanges = double(Module().requestCount() - before);
  for (auto _ : state) {
    state.PauseTiming();
    QCoreApplication::processEvents();
    state.ResumeTiming();
    if (write) window.Button1Click(); else window.Button2Click();
  }
  state.counters["exchanges"] = exchanges;
}

void RoundTrip(benchmark::State& state, bool afterPause) {
  const TData& d = Module().data();
  for (auto _ : state) {
    if (afterPause) {
      state.PauseTiming();
      ProcessMessagesAndWait(1);
      state.ResumeTiming();
    }
    const ExchangeResult r = ReadConfig(d.Interface, d.DriverHandle, d.ModuleAddress, CfgAddr::AinRange);
    if (r.Status != 0) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
}

// The pause alone, nothing to handle: what the machine adds to 1 ms.
void Pause(benchmark::State& state) {
  for (auto _ : state) ProcessMessagesAndWait(1);
}

void Register() {
  // Wall time, each the least of several runs.
  auto add = [](const char* name, auto&& fn, auto... args) {
    Repeated(benchmark::RegisterBenchmark(name, fn, args...), 5)->MinTime(0.2)->UseRealTime();
  };
  add("round trip", RoundTrip, false);
  add("round trip after pause", RoundTrip, true);
  add("pause", Pause);
  add("TForm12 read", Transfer<TForm12>, false);
  add("TForm12 write", Transfer<TForm12>, true);
  add("TForm13 read", Transfer<TForm13>, false);
  add("TForm13 write", Transfer<TForm13>, true);
  add("TForm14 read", Transfer<TForm14>, false);
  add("TForm14 write", Transfer<TForm14>, true);
}

bool Summarise(const FigureReporter& reporter) {
  // Every exchange of a sequence but the first follows a pause, and the module's side has gone
  // to sleep meanwhile: that round trip, not one of a busy loop, is what the sequence meets.
  const double roundTrip = reporter.realSeconds("round trip after pause");
  std::printf("\nWall time against exchanges x round trip (%.1f us after a pause, %.1f us back to back)"
              " + 1 ms pauses:\n",
              roundTrip * 1e6, reporter.realSeconds("round trip") * 1e6);
  bool within = PrintRatio("pause of 1 ms", reporter.realSeconds("pause"), PauseSeconds, 1e3, "ms", 1.15);
  for (const ConfigCase& c : Cases) {
    for (const char* op : {"read", "write"}) {
      const std::string name = std::string(c.window) + " " + op;
      const double exchanges = reporter.counter(name, "exchanges");
      // A read pauses after each byte, a write after each write and each read-back.
      const double pauses = c.pauseAfterLast ? exchanges : exchanges - 1;
      const double floor = roundTrip > 0 && exchanges > 0 ? exchanges * roundTrip + pauses * PauseSeconds : -1;
      within &= PrintRatio(name, reporter.realSeconds(name), floor, 1e3, "ms", 1.15);
    }
  }
  return within;
}

}  // namespace

int main(int argc, char** argv) { return RunWindowBenchmarks(argc, argv, Register, Summarise); }
