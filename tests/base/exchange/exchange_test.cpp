// ModuleExchange through the loader and the scripted driver, the measured-value format and
// the bit order of the 32-bit groups.
#include <gtest/gtest.h>

#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/exchange.h"
#include "tests/support/scripted_driver.h"

namespace {

using Bytes5 = std::array<uint8_t, 5>;
using Request = std::array<uint32_t, 8>;

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(DriverInit(InterfaceSerial, &handle, {}), 0u);
    drv.clearLog();
  }
  void TearDown() override {
    if (DriverLibraryLoaded()) DriverDone(InterfaceSerial, &handle);
  }

  // One exchange with the given data bytes in; the bytes and status as they come out.
  struct Out {
    Bytes5 data;
    uint8_t status;
  };
  Out exchange(uint8_t command, uint8_t index, Bytes5 data, uint8_t statusIn = 0xCC, uint32_t h = 0xFFFFFFFF) {
    Out out{data, statusIn};
    std::array<uint32_t, 100> response{};
    ModuleExchange(InterfaceSerial, h == 0xFFFFFFFF ? handle : h, 0x2B, command, index, out.data[0], out.data[1],
                   out.data[2], out.data[3], out.data[4], out.status, response.data());
    return out;
  }

  ScriptedDriver drv{InterfaceSerial};
  uint32_t handle = 0;
};

TEST_F(ExchangeTest, BuildsTheRequestWordByWord) {
  exchange(0xC8, 0x02, {0x01, 0x80, 0xFF, 0x7F, 0x10});
  ASSERT_EQ(drv.requests().size(), 1u);
  EXPECT_EQ(drv.requests()[0], (Request{0x2B, 0xC8, 0x02, 0x01, 0x80, 0xFF, 0x7F, 0x10}));
  EXPECT_EQ(drv.calls()[0].handle, handle);
}

TEST_F(ExchangeTest, SuccessTakesOnlyTheLowBytes) {
  // The scripted driver sets the upper bytes of every result word.
  drv.setAnswer(100, 0, {0x81, 0x00, 0xFF, 0x5A, 0x01});
  const Out out = exchange(100, 0, {9, 9, 9, 9, 9});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.data, (Bytes5{0x81, 0x00, 0xFF, 0x5A, 0x01}));
}

TEST_F(ExchangeTest, FailureZeroesEveryDataByte) {
  for (bool byReturn : {false, true}) {
    SCOPED_TRACE(byReturn ? "status by return value" : "status by pointer");
    drv.reset();
    drv.setStatusByReturn(byReturn);
    drv.setAnswer(0, 64, {1, 2, 3, 4, 5});
    drv.failCommand(0, 64, 42);
    const Out out = exchange(0, 64, {0x11, 0x22, 0x33, 0x44, 0x55});
    EXPECT_EQ(out.status, 42);
    EXPECT_EQ(out.data, Bytes5{});
    EXPECT_EQ(drv.requests().at(0)[3], 0x11u) << "the bytes went out before they were cleared";
  }
}

// The status byte is the low byte, but never 0 for a failure; ModuleTransact keeps it whole.
TEST_F(ExchangeTest, AnyNonZeroResultIsAFailure) {
  const struct {
    uint32_t result;
    uint8_t byte;
  } rows[] = {{0x1FF, 0xFF}, {0x107, 0x07}, {0x100, 0xFF}, {0x10000, 0xFF}, {0x80000000u, 0xFF}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.result);
    drv.setAnswer(1, 64, {1, 2, 3, 4, 5});
    drv.failExchange(1, row.result);
    drv.failExchange(2, row.result);
    const Out out = exchange(1, 64, {});
    EXPECT_EQ(out.status, row.byte);
    EXPECT_EQ(out.data, Bytes5{});
    const ExchangeResult whole = ModuleTransact(InterfaceSerial, handle, 0x2B, 1, 64);
    EXPECT_EQ(whole.Status, row.result);
    EXPECT_EQ(whole.Data, Bytes5{});
    // Shown as its byte is: the driver's text below 100, the loader's above.
    EXPECT_EQ(DriverStatusText(InterfaceSerial, whole.Status),
              row.byte < 100 ? QStringLiteral("Chyba č. %1").arg(row.byte) : QStringLiteral("neznámý chybový kód"));
    drv.clearLog();
  }
}

TEST_F(ExchangeTest, HandleZeroSendsNothingAndTouchesNothing) {
  drv.failExchange(1, 5);
  const Out out = exchange(102, 0, {1, 2, 3, 4, 5}, 0xAB, 0);
  EXPECT_EQ(out.status, 0xAB);
  EXPECT_EQ(out.data, (Bytes5{1, 2, 3, 4, 5}));
  EXPECT_EQ(drv.count(LoggedCall::Send), 0);
}

TEST_F(ExchangeTest, NoLibraryGivesStatus10) {
  ASSERT_EQ(DriverDone(InterfaceSerial, &handle), 0u);
  const Out out = exchange(0, 0, {1, 2, 3, 4, 5}, 0, 0x51);
  EXPECT_EQ(out.status, 10);
  EXPECT_EQ(out.data, Bytes5{});
  EXPECT_EQ(drv.count(LoggedCall::Send), 0);
}

TEST_F(ExchangeTest, TransactStartsFromTheGivenBytes) {
  drv.setAnswer(0, 0, {0, 0x39, 0x30, 0x00, 3});
  const ExchangeResult ok = ModuleTransact(InterfaceSerial, handle, 4, 0, 0);
  EXPECT_EQ(ok.Status, 0);
  EXPECT_DOUBLE_EQ(DecodeMeasuredValue(ok.Data[1], ok.Data[2], ok.Data[3], ok.Data[4]), 12.345);

  const ExchangeResult none = ModuleTransact(InterfaceSerial, 0, 4, 1, 64, {7, 6, 5, 4, 3});
  EXPECT_EQ(none.Status, 0);
  EXPECT_EQ(none.Data, (Bytes5{7, 6, 5, 4, 3}));

  drv.failCommand(101, -1, 3);
  const ExchangeResult bad = ModuleTransact(InterfaceSerial, handle, 4, 101, 0, {1, 1, 1, 1, 1});
  EXPECT_EQ(bad.Status, 3);
  EXPECT_EQ(bad.Data, Bytes5{});
  EXPECT_EQ(drv.requests().size(), 2u);
}

// The configuration helpers and the script behind them: writes land in the scripted memory,
// a read-back override wins, failures hit the k-th exchange or the named address.
TEST_F(ExchangeTest, ConfigurationBytesThroughTheScript) {
  drv.setConfigByte(62, 4);
  EXPECT_EQ(ReadConfig(InterfaceSerial, handle, 9, 62).Data[3], 4);
  EXPECT_EQ(WriteConfig(InterfaceSerial, handle, 9, 63, 0x5A).Status, 0);
  EXPECT_EQ(drv.configByte(63), 0x5A);
  EXPECT_EQ(ReadConfig(InterfaceSerial, handle, 9, 63).Data[3], 0x5A);
  drv.setReadBack(63, 0x5B);
  EXPECT_EQ(ReadConfig(InterfaceSerial, handle, 9, 63).Data[3], 0x5B);
  const auto reqs = drv.requests();
  ASSERT_EQ(reqs.size(), 4u);
  EXPECT_EQ(reqs[0], (Request{9, 102, 0, 0, 62, 62, 0, 0}));
  EXPECT_EQ(reqs[1], (Request{9, 103, 0, 0, 63, 63, 0x5A, 0x5A}));

  drv.clearLog();
  drv.failExchange(2, 17);
  drv.failCommand(102, 33, 8);
  EXPECT_EQ(ReadConfig(InterfaceSerial, handle, 9, 62).Status, 0);
  EXPECT_EQ(ReadConfig(InterfaceSerial, handle, 9, 62).Status, 17);
  EXPECT_EQ(ReadConfig(InterfaceSerial, handle, 9, 62).Status, 0);
  EXPECT_EQ(ReadConfig(InterfaceSerial, handle, 9, 33).Status, 8);
  EXPECT_EQ(WriteConfig(InterfaceSerial, handle, 9, 33, 1).Status, 0);
  drv.failCommand(103, -1, 9);
  EXPECT_EQ(WriteConfig(InterfaceSerial, handle, 9, 40, 0x77).Status, 9);
  EXPECT_EQ(drv.configByte(40), 0) << "a failed write stores nothing";
}

// Windows' tests arm a failure for the k-th exchange after clearing the log; one left over
// from before the clear must not hit a later sequence.
TEST_F(ExchangeTest, CountedFailuresStartAgainWithTheLog) {
  drv.failExchange(2, 17);
  drv.failCommand(101, -1, 3);
  EXPECT_EQ(exchange(100, 0, {}).status, 0);
  drv.clearLog();
  EXPECT_EQ(exchange(100, 0, {}).status, 0);
  EXPECT_EQ(exchange(100, 0, {}).status, 0) << "armed before clearLog";
  EXPECT_EQ(exchange(101, 0, {}).status, 3) << "a failure by command stays";

  // k counts the exchanges since the clear, those already made included.
  drv.failExchange(5, 6);
  EXPECT_EQ(exchange(100, 0, {}).status, 0);
  EXPECT_EQ(exchange(100, 0, {}).status, 6);
  drv.reset();
  drv.failExchange(1, 8);
  drv.reset();
  EXPECT_EQ(exchange(100, 0, {}).status, 0) << "armed before reset";
}

TEST(DecodeMeasuredValue, Extremes) {
  const struct {
    uint8_t low, mid, high, places;
    double value;
  } table[] = {
      {0x39, 0x30, 0x00, 3, 12.345},
      {0x39, 0x30, 0x80, 3, -12.345},
      {0xFF, 0xFF, 0x7F, 0, 8388607.0},
      {0xFF, 0xFF, 0x7F, 0x80, 8388607.0},
      {0xFF, 0xFF, 0xFF, 0, -8388607.0},
      {0x39, 0x30, 0x00, 0x83, 12.345},
      {0x00, 0x00, 0x00, 0, 0.0},
      {0x01, 0x00, 0x00, 0, 1.0},
      {0x00, 0x01, 0x00, 0, 256.0},
      {0x00, 0x00, 0x01, 0, 65536.0},
      {0x01, 0x00, 0x00, 7, 1e-7},
  };
  for (const auto& row : table) {
    const double got = DecodeMeasuredValue(row.low, row.mid, row.high, row.places);
    EXPECT_DOUBLE_EQ(got, row.value) << int(row.low) << " " << int(row.mid) << " " << int(row.high) << " "
                                     << int(row.places);
  }
  // Exactly what repeated division gives, not a rounded power of ten.
  EXPECT_EQ(DecodeMeasuredValue(0x39, 0x30, 0x00, 3), 12345.0 / 10 / 10 / 10);
}

TEST(GroupBits, EdgesOfEveryByte) {
  for (int n : {0, 7, 8, 9, 15, 16, 23, 24, 31}) {
    std::array<uint8_t, 4> bytes{};
    SetGroupBit(bytes, n, true);
    std::array<uint8_t, 4> expected{};
    expected[size_t(n / 8)] = uint8_t(1u << (n % 8));
    EXPECT_EQ(bytes, expected) << n;
    for (int m = 0; m < 32; ++m) EXPECT_EQ(GroupBit(bytes, m), m == n) << n << " " << m;
    std::array<uint8_t, 4> all{0xFF, 0xFF, 0xFF, 0xFF};
    SetGroupBit(all, n, false);
    for (int m = 0; m < 32; ++m) EXPECT_EQ(GroupBit(all, m), m != n) << n << " " << m;
  }
  ExchangeResult r;
  r.Data = {0xEE, 0x00, 0x02, 0x00, 0x80};
  const auto group = GroupBytes(r);
  EXPECT_TRUE(GroupBit(group, 9));
  EXPECT_TRUE(GroupBit(group, 31));
  EXPECT_FALSE(GroupBit(group, 1)) << "Data0 is not part of the group";
}

}  // namespace
