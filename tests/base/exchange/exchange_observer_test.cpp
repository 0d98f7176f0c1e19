// What an observer of the line sees of each exchange, and the queue that hands records to a
// reader: its order, its bound, several writers at once.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "base/exchange/address_conflict.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/exchange.h"
#include "base/exchange/exchange_queue.h"
#include "base/exchange/exchange_trace.h"
#include "tests/support/scripted_driver.h"

namespace {

using Bytes5 = std::array<uint8_t, 5>;

class ObserverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(DriverInit(InterfaceSerial, &handle, {}), 0u);
    SetExchangeObserver(&queue);
    ASSERT_EQ(DriverSetConfig(InterfaceSerial, handle, 57600, 150, 2), 0u);  // the rate the records carry
  }
  void TearDown() override {
    SetExchangeObserver(nullptr);
    SetExchangeLineRate(0);
    if (DriverLibraryLoaded()) DriverDone(InterfaceSerial, &handle);
  }
  ScriptedDriver drv{InterfaceSerial};
  uint32_t handle = 0;
  ExchangeQueue queue{8};
};

TEST_F(ObserverTest, RecordsEveryExchangeWithItsTextFetchedWhileTheDriverIsLoaded) {
  drv.setAnswer(100, 0, {0x81, 0x10, 0x20, 0x30, 0x40});
  drv.failCommand(0, 64, 2);
  const struct {
    uint8_t command, index;
    Bytes5 out;
    uint32_t status;
    Bytes5 in;
  } rows[] = {
      {100, 0, {1, 2, 3, 4, 5}, 0, {0x81, 0x10, 0x20, 0x30, 0x40}},
      {0, 64, {9, 9, 9, 9, 9}, 2, {}},
  };
  for (const auto& row : rows) ModuleTransact(InterfaceSerial, handle, 7, row.command, row.index, row.out);
  DriverDone(InterfaceSerial, &handle);  // the texts were fetched before this

  for (const auto& row : rows) {
    ExchangeRecord r;
    ASSERT_TRUE(queue.pop(r));
    EXPECT_EQ(r.iface, InterfaceSerial);
    EXPECT_EQ(r.address, 7);
    EXPECT_EQ(r.rate, 57600u);
    EXPECT_EQ(r.command, row.command);
    EXPECT_EQ(r.index, row.index);
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.in, row.in);
    EXPECT_STRNE(r.statusText, "");
    EXPECT_GE(r.durationNs, 0);
    EXPECT_GT(r.startNs, 0);
    const QJsonObject json = QJsonDocument::fromJson(ExchangeTraceLine(r, true)).object();
    EXPECT_EQ(json.value("status").toInt(), int(row.status));
    EXPECT_EQ(json.value("text").toString(), QString::fromUtf8(r.statusText));
    EXPECT_TRUE(json.value("time").toString().contains(QRegularExpression("[+-]\\d\\d:\\d\\d$")));
  }
  ExchangeRecord none;
  EXPECT_FALSE(queue.pop(none));
}

TEST_F(ObserverTest, AFullQueueDropsAndCountsInsteadOfWaiting) {
  for (int i = 0; i < 11; ++i) ModuleTransact(InterfaceSerial, handle, uint8_t(i), 100, 0);
  EXPECT_EQ(queue.dropped(), 3u);
  ExchangeRecord r;
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(queue.pop(r));
    EXPECT_EQ(r.address, i);
  }
  EXPECT_FALSE(queue.pop(r));
  ModuleTransact(InterfaceSerial, handle, 42, 100, 0);  // room again
  ASSERT_TRUE(queue.pop(r));
  EXPECT_EQ(r.address, 42);
}

TEST(ExchangeQueue, WritersOnSeveralThreadsLoseNothingWhileTheReaderKeepsUp) {
  ExchangeQueue queue(64);
  constexpr int Writers = 4, Each = 20000;
  std::vector<std::thread> writers;
  for (int w = 0; w < Writers; ++w)
    writers.emplace_back([&queue, w] {
      ExchangeRecord r;
      r.address = uint8_t(w);
      for (int i = 0; i < Each; ++i) {
        r.durationNs = i;
        queue.exchanged(r);
      }
    });
  std::vector<int64_t> last(Writers, -1);
  int64_t taken = 0;
  bool ordered = true;
  auto drain = [&] {
    ExchangeRecord r;
    while (queue.pop(r)) {
      ordered = ordered && r.durationNs > last[r.address];
      last[r.address] = r.durationNs;
      ++taken;
    }
  };
  while (taken + int64_t(queue.dropped()) < int64_t(Writers) * Each) drain();
  for (std::thread& t : writers) t.join();
  drain();
  EXPECT_TRUE(ordered);
  EXPECT_EQ(taken + int64_t(queue.dropped()), int64_t(Writers) * Each);
}

TEST(ExchangeStats, CountsByOutcomeAndRoundTripsOfAnswers) {
  ExchangeStats stats;
  const struct {
    uint32_t status;
    int64_t ms;
  } rows[] = {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {23, 10}, {2, 150}, {6, 0}};
  for (const auto& row : rows) {
    ExchangeRecord r;
    r.status = row.status;
    r.durationNs = row.ms * 1000000;
    stats.add(r);
  }
  EXPECT_EQ(stats.total(), 7u);
  EXPECT_EQ(stats.count(ExchangeOutcome::Good), 4u);
  EXPECT_EQ(stats.count(ExchangeOutcome::Refused), 1u);
  EXPECT_EQ(stats.count(ExchangeOutcome::Timeout), 1u);
  EXPECT_EQ(stats.count(ExchangeOutcome::Other), 1u);
  EXPECT_NEAR(stats.roundTrip(0.5), 3000000, 3000000 / 64);  // of 1, 2, 3, 4, 10: the unanswered left out
  EXPECT_EQ(stats.roundTrip(0.95), 10000000);
  EXPECT_EQ(stats.roundTrip(1.0), 10000000);
  EXPECT_EQ(stats.meanRoundTrip(), 4000000);
  EXPECT_EQ(ExchangeStats().roundTrip(0.5), -1);
  EXPECT_EQ(ExchangeStats().meanRoundTrip(), -1);
}

// The statistics keep a histogram, not the round trips: each quantile within 1/64 of the
// exact nearest-rank value of the same round trips, the least and the largest exact.
TEST(ExchangeStats, QuantilesOfKnownDistributionsWithinTheBucketWidth) {
  std::mt19937_64 random(510);
  const struct {
    const char* name;
    std::function<int64_t(int)> ns;
  } distributions[] = {
      {"even 1 us .. 100 ms", [](int i) { return 1000 + int64_t(i) * 9999; }},
      {"two clusters 2 ms and 150 ms", [](int i) { return i % 10 == 0 ? 150000000 + i : 2000000 + i * 7; }},
      {"log-normal", [&](int) { return int64_t(std::lognormal_distribution<>(std::log(4e6), 0.8)(random)); }},
      {"below 64 ns, exact", [](int i) { return int64_t(i % 64); }},
      {"one value", [](int) { return int64_t(3456789); }},
  };
  for (const auto& d : distributions) {
    ExchangeStats stats;
    std::vector<int64_t> exact;
    for (int i = 1; i <= 10000; ++i) {
      ExchangeRecord r;
      r.durationNs = d.ns(i);
      exact.push_back(r.durationNs);
      stats.add(r);
    }
    std::sort(exact.begin(), exact.end());
    for (double q : {0.0, 0.01, 0.5, 0.9, 0.95, 0.999, 1.0}) {
      const auto rank = std::clamp<std::size_t>(std::size_t(std::ceil(q * double(exact.size()))), 1, exact.size());
      const int64_t want = exact[rank - 1];
      if (q == 0.0 || q == 1.0)
        EXPECT_EQ(stats.roundTrip(q), want) << d.name << " q " << q;
      else
        EXPECT_NEAR(double(stats.roundTrip(q)), double(want), double(want) / 64) << d.name << " q " << q;
    }
    int64_t sum = 0;
    for (int64_t ns : exact) sum += ns;
    EXPECT_EQ(stats.meanRoundTrip(), sum / int64_t(exact.size())) << d.name;
  }
}

}  // namespace

namespace {

// One place's answers that keep arriving damaged while the others' do not: two modules there.
// Damage that stops, does not last, or shows at a second place too, is no conflict.
TEST(AddressConflicts, PersistentDamageAtOnePlaceWhileTheOthersAreClean) {
  constexpr ExchangeOutcome D = ExchangeOutcome::Damaged, G = ExchangeOutcome::Good, T = ExchangeOutcome::Timeout;
  const struct {
    const char* name;
    std::vector<std::tuple<uint8_t, int, ExchangeOutcome>> tries;  // address, baud code, outcome
    bool conflict;                                                  // at address 5, 9600 Bd
  } cases[] = {
      {"three damaged, the others clean", {{5, 4, D}, {0, 4, G}, {5, 4, D}, {9, 4, T}, {5, 4, D}}, true},
      {"two are not enough", {{5, 4, D}, {0, 4, G}, {5, 4, D}}, false},
      {"a clean answer between", {{5, 4, D}, {5, 4, D}, {5, 4, G}, {5, 4, D}, {5, 4, D}}, false},
      {"another place damaged too", {{5, 4, D}, {5, 7, D}, {5, 4, D}, {5, 4, D}}, false},
      {"the other place clean again", {{0, 4, D}, {5, 4, D}, {0, 4, G}, {5, 4, D}, {5, 4, D}}, true},
  };
  for (const auto& c : cases) {
    AddressConflicts conflicts;
    for (const auto& [address, code, outcome] : c.tries) conflicts.add(address, code, outcome);
    EXPECT_EQ(conflicts.probablyTwoModules(5, 4), c.conflict) << c.name;
  }
}

}  // namespace
