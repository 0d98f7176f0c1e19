// The time a program gives one exchange at each rate, and the device a port leads to.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>

#include "base/settings/line_device.h"
#include "base/settings/tdata.h"
#include "base/wire/wire_budget.h"
#include "tests/support/scoped_env.h"

namespace {

TEST(WireBudget, ATryGetsWhatItsPathCountsPlusTheAdapterAndTheHostUntilTheOperatorSetsATimeout) {
  // Worked out by hand: a 12-byte request and a 13-byte answer of 10 bits a character, a
  // silence of 3.5 characters (1.75 ms at least) and 1 ms turnaround. On a serial device the
  // timeout counts the silence and the turnaround; through the sockets the whole exchange.
  const struct {
    int32_t rate;
    int serialMs, socketMs;
  } rates[] = {{600, 60, 535}, {1200, 31, 268}, {2400, 16, 135}, {4800, 9, 68},  {9600, 5, 35},
               {19200, 3, 18}, {38400, 3, 12},  {57600, 3, 9},   {115200, 3, 7}};
  for (const auto& r : rates) {
    SCOPED_TRACE(r.rate);
    EXPECT_EQ(LeastResponseTimeoutMs(TimeoutBasis::FromRequestEnd, r.rate), r.serialMs);
    EXPECT_EQ(LeastResponseTimeoutMs(TimeoutBasis::WholeExchange, r.rate), r.socketMs);

    ScanBudget serial(TimeoutBasis::FromRequestEnd, 16, 0), socket(TimeoutBasis::WholeExchange, 0, 0);
    EXPECT_EQ(serial.tryTimeoutMs(r.rate), r.serialMs + 16 + 2);
    EXPECT_GE(socket.tryTimeoutMs(r.rate), r.socketMs + 10);
    // Modules that answered show what the host takes: here 1.3 ms beyond the wire and the
    // known latency timer at most.
    const int64_t wire = (wire::ExchangeTime(r.rate) * 3 - wire::InterFrameSilence(r.rate)).count();
    serial.learn(r.rate, wire + 3 * 17'300'000, 3);
    serial.learn(r.rate, wire + 3 * 16'500'000, 3);  // a quicker one teaches nothing
    EXPECT_EQ(serial.hostNs(), 1'300'000);
    EXPECT_EQ(serial.tryTimeoutMs(r.rate),
              int((wire::ReplyStart(r.rate).count() + 17'300'000 + 999'999) / 1'000'000));
    // Late answers before anything was measured: a factory adapter is assumed, once.
    ScanBudget unknown(TimeoutBasis::FromRequestEnd, 0, 0);
    EXPECT_TRUE(unknown.assumeSlowAdapter());
    EXPECT_FALSE(unknown.assumeSlowAdapter());
    EXPECT_EQ(unknown.tryTimeoutMs(r.rate), r.serialMs + 26);
    EXPECT_FALSE(serial.assumeSlowAdapter());
    for (int user : {1, 20, 65535}) EXPECT_EQ(ScanBudget(TimeoutBasis::FromRequestEnd, 16, user).tryTimeoutMs(r.rate), user);

    for (const auto& [basis, least] : {std::pair{TimeoutBasis::FromRequestEnd, r.serialMs},
                                       std::pair{TimeoutBasis::WholeExchange, r.socketMs}}) {
      EXPECT_EQ(ResponseTimeoutWarning(least, r.rate, basis), QString());
      const QString warning = ResponseTimeoutWarning(least - 1, r.rate, basis);
      EXPECT_TRUE(warning.startsWith(QStringLiteral("Varování: timeout odpovědi %1 ms").arg(least - 1)))
          << warning.toStdString();
      EXPECT_TRUE(warning.endsWith(QStringLiteral("při %1 Bd (%2 ms).").arg(r.rate).arg(least))) << warning.toStdString();
    }
  }
  // The default 150 ms reaches a module at every rate on a serial device.
  EXPECT_EQ(ResponseTimeoutWarning(150, 600, TimeoutBasis::FromRequestEnd), QString());
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
