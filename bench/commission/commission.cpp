// Commissioning one module (found, template written, address and rate written, found again
// after the power cycle, its image read back and compared) at 9600 and 115200 Bd, against the
// wire time of the exchanges it made, counted in the same run: wire::ExchangeTime for each,
// the unanswered try too (the look at the new place, which must be free): no master can know
// the place silent sooner than a whole exchange would have taken, while the timeout the run
// gives it carries the host's margin on top. The operator's power cycle
// is left out of the figure. Goal 1.2x. Everything runs pinned to one CPU, the simulated line
// included.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>

#include "base/commission/commissioning.h"
#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/exchange_observer.h"
#include "base/settings/driver_params.h"
#include "base/settings/tdata.h"
#include "base/text/baud.h"
#include "base/wire/wire_budget.h"
#include "bench/support/figures.h"
#include "bench/support/sim_process.h"
#include "sim/sim_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double Limit = 1.2;
constexpr int Runs = 5;

class Floor : public ExchangeObserver {
 public:
  explicit Floor(int32_t rate) : rate_(rate) {}
  void exchanged(const ExchangeRecord&) noexcept override {
    ns += wire::ExchangeTime(rate_).count();
    ++exchanges;
  }
  std::atomic<int64_t> ns{0};
  std::atomic<int> exchanges{0};

 private:
  int32_t rate_;
};

// One commissioning at `rate`: seconds without the power cycle, and the floor.
bool Commission(const QString& endpoint, int code, double& seconds, double& floor, int& exchanges) {
  SimServerOptions options;
  options.udpPort = -1;
  options.serveControl = false;
  options.localPath = endpoint.toStdString();
  options.modules = {{0, uint8_t(code)}};
  SimServer sim(options);
  std::string error;
  if (!sim.start(&error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  TData data;
  InitData(&data);
  FillDriverParams(data);
  if (DriverInit(data.Interface, &data.DriverHandle, data.DriverParams) != 0) return false;
  const int32_t rate = BaudCodeToRate(code);
  // A timeout tuned to the line, as an engineer sets it for a commissioning run.
  const int timeoutMs = LeastResponseTimeoutMs(TimeoutBasis::WholeExchange, rate) +
                        int(wire::HostMargin.count() / 1000000);
  ConfigImage templ;
  templ.bytes[CfgAddr::AinRange] = 1;
  templ.bytes[CfgAddr::DinNegation] = 0xF0;
  templ.bytes[CfgAddr::DoutInitialState] = 0x0F;
  Clock::duration cycle{};
  CommissionEvents events;
  events.powerCycle = [&](const QString&) {
    const auto start = Clock::now();
    sim.withBus([](SimBus& bus) { bus.powerCycleAll(); });
    cycle += Clock::now() - start;
    return true;
  };
  Floor counted(rate);
  SetExchangeObserver(&counted);
  Commissioning job({data.Interface, data.DriverHandle, uint16_t(timeoutMs), {}}, {{0, code}, {1, code}, templ, {}, {}}, events);
  const auto start = Clock::now();
  const bool ok = job.run();
  const auto took = Clock::now() - start - cycle;
  SetExchangeObserver(nullptr);
  DriverDone(data.Interface, &data.DriverHandle);
  if (!ok) {
    std::fprintf(stderr, "%d Bd: %s\n", rate, qPrintable(job.last().text));
    return false;
  }
  seconds = std::chrono::duration<double>(took).count();
  floor = double(counted.ns.load()) / 1e9;
  exchanges = counted.exchanges.load();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!PinToOneCpu()) std::printf("could not pin to one CPU\n");
  QCoreApplication app(argc, argv);
  QTemporaryDir scratch;
  qputenv("XDG_CONFIG_HOME", scratch.path().toLocal8Bit());  // no serial-ports file of the user's
  const QString endpoint = scratch.filePath(QStringLiteral("sim.sock"));
  qputenv(simproto::EndpointEnv, endpoint.toLocal8Bit());
  bool within = true;
  for (const int code : {4, 8}) {
    double best = -1, bestFloor = 0;
    int exchanges = 0;
    for (int i = 0; i < Runs; ++i) {
      double seconds = 0, floor = 0;
      if (!Commission(endpoint, code, seconds, floor, exchanges)) return 1;
      if (best < 0 || seconds / floor < best / bestFloor) {
        best = seconds;
        bestFloor = floor;
      }
    }
    std::printf("%d Bd: %d exchanges\n", BaudCodeToRate(code), exchanges);
    within = PrintRatio("commission one module at " + std::to_string(BaudCodeToRate(code)) + " Bd", best, bestFloor,
                        1e3, "ms", Limit) && within;
  }
  return Verdict(within);
}
