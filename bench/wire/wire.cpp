// The programs against the wire itself: the simulator program serves its line on a
// pseudo-terminal at wire time, and the tool's code reaches it through COM1 mapped there, as a
// user's adapter is reached. Each figure stands beside the floor the wire sets at its rate:
// - TForm14's read and verified write at 9600 and 115200 Bd, against Σ exchanges × one
//   exchange on the wire, and the 1 ms pauses between them where they outlast the line's
//   silence after an answer, less the silence after the last answer: the command is done when
//   that answer has arrived (goal 1.1x);
// - qx510-cli scan of 256 addresses at 115200 Bd and of the addresses given (0-15 by default)
//   at all nine rates, against the wire: Σ unanswered tries × (request + silence + turnaround
//   + the answer's time, which the master waits out) + the identification of each module
//   found, and every module of a line of eight spread over the rates found (goal 1.2x); the
//   same again behind a USB adapter's factory latency timer of 16 ms, which the floor adds to
//   every try and every answered exchange;
// - the workbench polling a line of 32 modules at 115200 Bd, against the exchanges per second
//   the wire allows (goal 0.9x).
// Everything runs pinned to one CPU, the simulator included.
//
//   bench_wire [--all-rates-addresses FIRST-LAST]
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QSet>
#include <QSpinBox>
#include <QTest>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "base/text/baud.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/exchange_observer.h"
#include "base/wire/wire_budget.h"
#include "bench/support/figures.h"
#include "bench/line/line_poll.h"
#include "bench/wire/wire_line.h"
#include "cli/cli.h"
#include "config/tform14.h"
#include "base/config/line_file.h"
#include "line/app/line_window.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double PauseSeconds = 1e-3;
constexpr double TransferLimit = 1.1, ScanLimit = 1.2, PollLimit = 0.9;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class Counter : public ExchangeObserver {
 public:
  void exchanged(const ExchangeRecord&) noexcept override { ++count; }
  std::atomic<uint64_t> count{0};
};

// TForm14's read or write at `rate`, the least wall time of five, and the exchanges it made.
bool Transfer(int32_t rate, bool write) {
  TData data;
  if (!ConnectCom1(data, rate, 0, 1000)) {
    std::printf("COM1 at %d Bd: no connection\n", rate);
    return false;
  }
  TForm14 window;
  window.setData(&data);
  window.show();
  (void)QTest::qWaitForWindowExposed(&window);
  window.Button2Click();  // the working copy is then the module's memory, which a write keeps
  const QString done = write ? QStringLiteral(" Konfigurace zapsána.") : QStringLiteral(" Konfigurace přečtena.");
  Counter counter;
  SetExchangeObserver(&counter);
  double best = -1;
  uint64_t exchanges = 0;
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::processEvents();
    const uint64_t before = counter.count;
    const auto start = Clock::now();
    if (write) window.Button1Click(); else window.Button2Click();
    const double s = Since(start);
    const QString said = window.findChild<QLabel*>(QStringLiteral("StatusPanel0"))->text();
    if (said != done) {
      std::printf("TForm14 at %d Bd shows: %s\n", rate, qPrintable(said));
      best = -1;
      break;
    }
    exchanges = counter.count - before;
    best = best < 0 ? s : std::min(best, s);
  }
  SetExchangeObserver(nullptr);
  DriverDone(data.Interface, &data.DriverHandle);
  // A pause follows every exchange of the window's sequence, the last one's included; it runs
  // while the line keeps its silence after the answer, which the exchange's wire time already
  // holds, so only what a pause lasts beyond that silence adds to the floor.
  const double silence = std::chrono::duration<double>(wire::InterFrameSilence(rate)).count();
  const double floor = double(exchanges) * (ExchangeSeconds(rate) + std::max(0.0, PauseSeconds - silence)) - silence;
  const std::string what = "TForm14 " + std::string(write ? "write" : "read") + " at " + std::to_string(rate) +
                           " Bd, " + std::to_string(exchanges) + " exchanges";
  return PrintRatio(what, best, exchanges > 0 ? floor : -1, 1e3, "ms", TransferLimit);
}

struct Module {
  int address, rate;
};
// A line of eight spread over the rates, on low addresses so that a short range finds them all.
constexpr Module Spread[] = {{1, 600},  {2, 1200},  {3, 2400},  {4, 4800},
                             {5, 9600}, {6, 19200}, {7, 38400}, {8, 115200}};

// qx510-cli scan with its default try timeouts over the addresses and rates given: its wall
// time against the floor, and whether it found exactly the modules of the line there.
bool Scan(int first, int last, const QList<int32_t>& rates, int latencyMs) {
  QStringList rateList;
  for (int32_t r : rates) rateList << QString::number(r);
  const QStringList args{"scan", "--interface", "serial", "--com-port", "1", "--timeout", "150", "--addresses",
                         QStringLiteral("%1-%2").arg(first).arg(last), "--rates", rateList.join(','), "--json"};
  QString out, err;
  QTextStream o(&out), e(&err);
  CliIo io;
  io.out = &o;
  io.err = &e;
  io.interrupted = [] { return 0; };
  io.sleep = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
  const auto start = Clock::now();
  const int code = RunCli(args, io);
  const double seconds = Since(start);
  o.flush();
  e.flush();

  QSet<QPair<int, int>> found, expected;
  for (const QJsonValue& v : QJsonDocument::fromJson(out.toUtf8()).array())
    found.insert({v["address"].toInt(), v["rate"].toInt()});
  double floor = 0;
  for (int32_t rate : rates) {
    for (int a = first; a <= last; ++a) {
      const bool present = std::any_of(std::begin(Spread), std::end(Spread),
                                       [&](const Module& m) { return m.address == a && m.rate == rate; });
      if (present) expected.insert({a, rate});
      // An identification is three exchanges; a silent try is what the wire needs to tell that
      // nobody answered.
      const double latency = latencyMs / 1e3;
      floor += present ? 3 * (ExchangeSeconds(rate) + latency)
                       : std::chrono::duration<double>(wire::SilentTryTime(rate)).count() + latency;
    }
  }
  const bool all = code == 0 && found == expected;
  if (!all) std::printf("scan found %d of %d modules (status %d): %s", int(found.size()), int(expected.size()), code,
                        qPrintable(err));
  const std::string what = "qx510-cli scan, addresses " + std::to_string(first) + "-" + std::to_string(last) + ", " +
                           std::to_string(rates.size()) + (rates.size() == 1 ? " rate" : " rates") +
                           (latencyMs > 0 ? ", latency timer " + std::to_string(latencyMs) + " ms" : "");
  return PrintRatio(what, seconds, floor, 1.0, "s", ScanLimit) && all;
}

// The workbench polling 32 modules at 115200 Bd at its fastest interval: exchanges per second
// against what the wire allows.
bool Poll(const QString& scratch) {
  constexpr int Modules = 32;
  constexpr int32_t Rate = 115200;
  QVector<LineModule> line;
  for (int a = 0; a < Modules; ++a) {
    LineModule m;
    m.address = uint8_t(a);
    m.baudCode = BaudRateToCode(Rate);
    line.append(m);
  }
  const QString path = scratch + QStringLiteral("/wire.qx510line");
  QString error;
  if (!SaveLineFile(path, LineFile{QDateTime::currentDateTime(), line, {}}, error)) return false;
  LineWindow window;
  window.setLinePath(path);
  window.findChild<QSpinBox*>(QStringLiteral("PollInterval"))->setValue(0);
  window.show();
  const double perSecond = WindowPollRate(window, 10);
  return PrintRatioAtLeast("qx510-line polling 32 modules at 115200 Bd, exchanges/s", perSecond,
                           1.0 / ExchangeSeconds(Rate), 1, "/s", PollLimit);
}

std::string ModulesOption(const Module* begin, const Module* end) {
  std::string s;
  for (const Module* m = begin; m != end; ++m) {
    if (!s.empty()) s += ',';
    s += std::to_string(m->address);
    s += '@';
    s += std::to_string(m->rate);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 0, last = 15;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--all-rates-addresses") == 0 && i + 1 < argc &&
        std::sscanf(argv[i + 1], "%d-%d", &first, &last) == 2 && 0 <= first && first <= last && last <= 255) {
      ++i;
      continue;
    }
    std::fprintf(stderr, "usage: %s [--all-rates-addresses FIRST-LAST]\n", argv[0]);
    return 1;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (!PinToOneCpu()) std::printf("could not pin to one CPU\n");
  QTemporaryDir scratch;
  bool within = true;
  {
    PtyLine line("0@9600,0@115200");
    if (!line.error().empty()) {
      std::fprintf(stderr, "%s\n", line.error().c_str());
      return 1;
    }
    for (int32_t rate : {9600, 115200})
      for (bool write : {false, true}) within &= Transfer(rate, write);
  }
  for (int latencyMs : {0, 16}) {
    PtyLine line(ModulesOption(std::begin(Spread), std::end(Spread)), latencyMs);
    if (!line.error().empty()) return 1;
    within &= Scan(0, 255, {115200}, latencyMs);
    QList<int32_t> all;
    for (int code = 0; code < BaudCodeCount; ++code) all << BaudCodeToRate(code);
    within &= Scan(first, last, all, latencyMs);
  }
  {
    Module line32[32];
    for (int a = 0; a < 32; ++a) line32[a] = {a, 115200};
    PtyLine line(ModulesOption(std::begin(line32), std::end(line32)));
    if (!line.error().empty()) return 1;
    within &= Poll(scratch.path());
  }
  return Verdict(within);
}
