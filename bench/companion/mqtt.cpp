// Publishing to an MQTT broker (a real mosquitto on 127.0.0.1), each figure against its floor
// taken in the same run:
// - qx510-cli watch of 32 modules at 115200 Bd on a line paced at wire time, at the shortest
//   interval, publishing every reading, against the same watch without publishing (readings
//   per second, at least 0.95x);
// - publish-to-arrival latency at a subscriber on loopback through MqttClient, its median
//   against the same through a bare libmosquitto client (goal: median under 2 ms).
#include <benchmark/benchmark.h>
#include <mosquitto.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "bench/companion/cli_run.h"
#include "bench/support/figures.h"
#include "mqtt/mqtt_client.h"
#include "sim/sim_server.h"
#include "tests/mqtt/test_broker.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Modules = 32, Rounds = 8, Runs = 3, Messages = 1000;
TestBroker* Broker = nullptr;

// Readings per second of one watch of every module, in its steady state: from the first reading
// of the second round to the last, by the readings' own times. The first round is left out of
// both figures: publishing identifies each module there once, for its description.
double WatchRate(bool publishing) {
  QStringList args = {"watch", "ain0,din,status", "--addresses", QStringLiteral("0-%1").arg(Modules - 1),
                      "--interface", "serial", "--rate", "115200", "--interval", "1", "--count", QString::number(Rounds),
                      "--format", "json"};
  if (publishing) args += {"--mqtt", Broker->url(), "--mqtt-line", "bench", "--mqtt-heartbeat", "0"};
  QString out;
  const int code = RunCliQuietly(args, &out);
  const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  if (code != 0 || lines.size() != Rounds * Modules) return -1;
  auto time = [&](qsizetype i) {
    const QString text = QJsonDocument::fromJson(lines[i].toUtf8()).object()[QStringLiteral("time")].toString();
    return QDateTime::fromString(text, Qt::ISODateWithMs).toMSecsSinceEpoch();
  };
  const qint64 spanMs = time(lines.size() - 1) - time(Modules);
  return spanMs > 0 ? (lines.size() - 1 - Modules) * 1000.0 / double(spanMs) : -1;
}

// Runs alternate, and each kind keeps its best: the one least disturbed by the machine.
void BM_Watch32(benchmark::State& state) {
  double bare = -1, published = -1;
  for (auto _ : state) {
    for (int i = 0; i < Runs; ++i) {
      bare = std::max(bare, WatchRate(false));
      published = std::max(published, WatchRate(true));
    }
    state.SetIterationTime(1);
  }
  state.counters["bare_per_s"] = bare;
  state.counters["mqtt_per_s"] = published;
}
BENCHMARK(BM_Watch32)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Arrival times at a subscriber of messages whose payload is their sending time.
class Arrivals {
 public:
  bool start(int port) {
    mosq_ = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
      const auto now = Clock::now().time_since_epoch().count();
      auto* a = static_cast<Arrivals*>(self);
      const long long sent = std::atoll(static_cast<const char*>(m->payload));
      std::lock_guard lock(a->mutex_);
      a->latenciesNs_.push_back(double(now - sent));
    });
    mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
      static_cast<Arrivals*>(self)->subscribed_ = true;
    });
    mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void*, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, "lat/#", 0);
    });
    if (mosquitto_connect(mosq_, "127.0.0.1", port, 30) != 0 || mosquitto_loop_start(mosq_) != 0) return false;
    for (int i = 0; i < 500 && !subscribed_; ++i) QThread::msleep(10);
    return subscribed_;
  }
  ~Arrivals() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, true);
    mosquitto_destroy(mosq_);
  }
  // The median after `count` arrived; -1 when they did not.
  double medianMs(size_t count) {
    for (int i = 0; i < 500; ++i) {
      {
        std::lock_guard lock(mutex_);
        if (latenciesNs_.size() >= count) {
          std::vector<double> v = latenciesNs_;
          std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
          return v[v.size() / 2] / 1e6;
        }
      }
      QThread::msleep(10);
    }
    return -1;
  }

 private:
  mosquitto* mosq_ = nullptr;
  std::atomic<bool> subscribed_{false};
  std::mutex mutex_;
  std::vector<double> latenciesNs_;
};

QByteArray Now() { return QByteArray::number(qint64(Clock::now().time_since_epoch().count())); }

void BM_Latency(benchmark::State& state) {
  double ours = -1, bare = -1;
  for (auto _ : state) {
    {
      Arrivals arrivals;
      MqttSettings s;
      s.url.host = QStringLiteral("127.0.0.1");
      s.url.port = Broker->port();
      s.presenceTopic = "lat-presence";
      MqttClient client(s);
      QString error;
      if (!arrivals.start(Broker->port()) || !client.start(&error)) {
        state.SkipWithError("no broker");
        return;
      }
      while (client.state() != MqttClient::State::Connected) QThread::msleep(5);
      for (int i = 0; i < Messages; ++i) {
        client.publish("lat/ours", Now());
        QThread::usleep(1000);
      }
      ours = arrivals.medianMs(Messages);
    }
    {
      Arrivals arrivals;
      mosquitto* m = mosquitto_new(nullptr, true, nullptr);
      if (!arrivals.start(Broker->port()) || mosquitto_connect(m, "127.0.0.1", Broker->port(), 30) != 0 ||
          mosquitto_loop_start(m) != 0) {
        state.SkipWithError("no broker");
        return;
      }
      for (int i = 0; i < Messages; ++i) {
        const QByteArray now = Now();
        mosquitto_publish(m, nullptr, "lat/bare", int(now.size()), now.constData(), 0, false);
        QThread::usleep(1000);
      }
      bare = arrivals.medianMs(Messages);
      mosquitto_disconnect(m);
      mosquitto_loop_stop(m, true);
      mosquitto_destroy(m);
    }
    state.SetIterationTime(1);
  }
  state.counters["ours_ms"] = ours;
  state.counters["bare_ms"] = bare;
}
BENCHMARK(BM_Latency)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  mosquitto_lib_init();

  QTemporaryDir dir;
  std::vector<SimModuleSpec> line;
  for (int a = 0; a < Modules; ++a) line.push_back({uint8_t(a), 8});
  const std::unique_ptr<SimServer> sim = StartBenchLine(dir, line, simline::Wire::Paced);
  if (!sim) return 1;
  if (!TestBroker::Available()) {
    std::fprintf(stderr, "mosquitto is not installed (scripts/install-deps.sh)\n");
    return 1;
  }
  TestBroker broker;
  QString brokerError;
  if (!broker.start(&brokerError)) {
    std::fprintf(stderr, "%s\n", qPrintable(brokerError));
    return 1;
  }
  Broker = &broker;

  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nPublishing to MQTT against its floors:\n");
  bool within = PrintRatioAtLeast("watch 32 modules, readings/s", reporter.counter("BM_Watch32", "mqtt_per_s"),
                                  reporter.counter("BM_Watch32", "bare_per_s"), 1, "/s", 0.95);
  within &= PrintLimit("publish to arrival, median", reporter.counter("BM_Latency", "ours_ms"),
                       reporter.counter("BM_Latency", "bare_ms"), 1, "ms", 2, true);
  return Verdict(within);
}
