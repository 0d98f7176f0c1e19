// The time a program gives one exchange at each rate, and the device a port leads to.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>

#include "base/line_device.h"
#include "base/tdata.h"
#include "base/wire_budget.h"
#include "tests/support/scoped_env.h"

namespace {

TEST(WireBudget, EveryRateGetsItsExchangeAndTheMarginUnlessTheOperatorSetsATimeout) {
  // The wire time worked out by hand: 20 characters of 10 bits, two silences of 3.5
  // characters (1.75 ms at least) and 1 ms turnaround.
  const struct {
    int32_t rate;
    int wireMs, leastMs;
  } rates[] = {{600, 451, 477},   {1200, 226, 252},  {2400, 114, 140}, {4800, 58, 84},   {9600, 30, 56},
               {19200, 16, 42},   {38400, 10, 36},   {57600, 8, 34},   {115200, 7, 33}};
  int slower = 1 << 30;
  for (const auto& r : rates) {
    SCOPED_TRACE(r.rate);
    EXPECT_EQ(ExchangeWireMs(r.rate), r.wireMs);
    const int own = ScanTryTimeoutMs(r.rate, 0);
    EXPECT_EQ(own, r.leastMs);
    EXPECT_GE(int64_t(own) * 1'000'000, (wire::ExchangeTime(r.rate) + wire::HostMargin + wire::AdapterLatency).count());
    EXPECT_LT(own, slower);  // a faster rate never waits longer
    slower = own;
    for (int user : {1, 20, 65535}) EXPECT_EQ(ScanTryTimeoutMs(r.rate, user), user);

    EXPECT_EQ(ResponseTimeoutWarning(r.wireMs, r.rate), QString());
    EXPECT_EQ(ResponseTimeoutWarning(r.leastMs, r.rate), QString());
    const QString warning = ResponseTimeoutWarning(r.wireMs - 1, r.rate);
    EXPECT_TRUE(warning.startsWith(QStringLiteral("Varování: timeout odpovědi %1 ms").arg(r.wireMs - 1)))
        << warning.toStdString();
    EXPECT_TRUE(warning.endsWith(QStringLiteral("při %1 Bd (%2 ms); nejméně %3 ms.").arg(r.rate).arg(r.wireMs).arg(r.leastMs)))
        << warning.toStdString();
  }
}

TEST(LineDevice, OnlyTheSerialPortAndTheUsbConverterLeadToADeviceAndAMistakeNamesNone) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const ScopedEnv configHome("XDG_CONFIG_HOME", dir.path().toLocal8Bit().toStdString());
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("qx510")));
  auto write = [&](const QByteArray& text) {
    QFile file(dir.filePath(QStringLiteral("qx510/serial-ports")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  };
  auto on = [](uint8_t iface, uint8_t com) {
    TData d{};
    InitData(&d);
    d.Interface = iface;
    d.ComPort = com;
    return LineDeviceText(d);
  };

  // The mapped and the unmapped port are named in the companion's tests; here what it never maps.
  write("COM3=/dev/ttyUSB0 echo=1\n");
  EXPECT_EQ(on(InterfaceSerial, 3), QStringLiteral("COM3 → /dev/ttyUSB0"));
  EXPECT_EQ(on(InterfaceIsa, 3), QString());
  EXPECT_EQ(on(InterfaceLan, 3), QString());
  // A mistake names no device: the driver would refuse to open one.
  write("COM3=/dev/ttyUSB0\nCOM4=ttyUSB1\n");
  EXPECT_TRUE(on(InterfaceSerial, 3).startsWith(QStringLiteral("COM3 → ? (chyba v souboru serial-ports, řádek 2: ")))
      << on(InterfaceSerial, 3).toStdString();

}

}  // namespace
