// The whole path a user with an adapter has: the tool, the companion and the workbench open
// COM1 (or the USB converter) through the stand-in drivers, the user's serial-ports file leads
// the port to a pseudo-terminal, and the simulator program serves a line of modules behind it
// at wire time. Only the rates differ from a bench with real modules.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QSet>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/baud.h"
#include "base/driver_loader.h"
#include "base/port_map.h"
#include "base/settings.h"
#include "base/tdata.h"
#include "connect/tform2.h"
#include "line/line_window.h"
#include "line/line_worker.h"
#include "line/scan_panel.h"
#include "sim/protocol.h"
#include "tests/support/scoped_env.h"
#include "tests/support/wait_for.h"

namespace {

struct Module {
  int address, rate;
};
// Every rate once, on two addresses, so a scan of addresses 0-1 has a module at each rate
// and a silent address at each rate.
constexpr Module Line[] = {{0, 600},   {1, 1200},  {0, 2400},  {1, 4800},  {0, 9600},
                           {1, 19200}, {0, 38400}, {1, 57600}, {0, 115200}};

QString LineSpec() {
  QStringList parts;
  for (const Module& m : Line) parts << QStringLiteral("%1@%2").arg(m.address).arg(m.rate);
  return parts.join(',');
}

struct Result {
  int code = -1;
  QString out, err;
};

// A private settings folder mapping the port to the link of a headless simulator that paces
// every exchange at wire time, as it starts by default.
class PtyLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    configHome_.emplace("XDG_CONFIG_HOME", dir_.path().toLocal8Bit().toStdString());
    // Nothing may reach a simulator over the local socket: only the pty serves this line.
    ::setenv(simproto::EndpointEnv, path("unused.sock").toLocal8Bit().constData(), 1);
    SetConnectionSettingsPath(path("W_qx510.ini"));

    sim_.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/qx510-sim"));
    sim_.setArguments({"--headless", "--no-state", "--port", "0", "--endpoint", path("sim.sock"), "--modules",
                       LineSpec(), "--pty", link()});
    sim_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim_.start();
    ASSERT_TRUE(sim_.waitForStarted(10000)) << sim_.errorString().toStdString();
    // The line naming the link comes once the simulator serves it; the link alone may come
    // before, and a first request then waits for a simulator still starting.
    QByteArray said;
    ASSERT_TRUE(WaitFor(
        [&] {
          said += sim_.readAllStandardOutput();
          return said.contains("serial ") || sim_.state() != QProcess::Running;
        },
        30000));
    ASSERT_EQ(sim_.state(), QProcess::Running) << "the simulator ended: " << said.toStdString();
    ASSERT_TRUE(QFileInfo(link()).exists());
  }
  void TearDown() override {
    sim_.terminate();  // SIGTERM to its own process id
    sim_.waitForFinished(10000);
    SetConnectionSettingsPath(QString());
    ::unsetenv(simproto::EndpointEnv);
    configHome_.reset();
  }

  QString path(const char* name) const { return dir_.filePath(QLatin1String(name)); }
  QString link() const { return path("ttyQX"); }

  void map(const QString& port) {
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("qx510")));
    QFile file(dir_.filePath(QStringLiteral("qx510/") + QLatin1String(portmap::FileName)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((port + '=' + link() + '\n').toLocal8Bit());
  }

  // The companion as a user runs it: its own process, every connection value given, so that
  // a settings file beside the build's copy changes nothing.
  static Result cli(QStringList args, const QStringList& connection) {
    QProcess p;
    p.start(QStringLiteral(QX510_CLI), args << connection);
    Result r;
    if (!p.waitForFinished(120000)) {
      p.kill();
      p.waitForFinished();
      return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
  }
  static QStringList at(const char* interface, const Module& m) {
    QStringList c{"--interface", interface, "--address", QString::number(m.address), "--rate", QString::number(m.rate),
                  "--timeout", "1000"};
    if (QLatin1String(interface) == QLatin1String("serial")) c << "--com-port" << "1";
    return c;
  }

  QTemporaryDir dir_;
  std::optional<ScopedEnv> configHome_;
  QProcess sim_;
};

// Identification, a whole configuration read and a byte written with its read-back, set and
// set back, at a slow rate and the fastest: the driver's tty settings, its silences and the
// simulator's pacing must agree at both ends of the range.
TEST_F(PtyLineTest, CompanionServesAModuleAtASlowAndAFastRate) {
  map(QStringLiteral("COM1"));
  for (const Module& m : {Line[2], Line[8]}) {
    SCOPED_TRACE(m.rate);
    const QStringList c = at("serial", m);
    Result r = cli({"identify"}, c);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("QX-510   v.1.20"))) << r.out.toStdString();

    r = cli({"config", "show"}, c);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("\nain0_range=0-10V\n"))) << r.out.toStdString();

    for (const char* range : {"current", "voltage"}) {
      r = cli({"set", "range", range}, c);
      EXPECT_EQ(r.code, 0) << range << ": " << r.err.toStdString();
      EXPECT_EQ(r.err, QStringLiteral("Konfigurace zapsána.\n")) << range;
    }
  }
}

TEST_F(PtyLineTest, CompanionReachesTheLineThroughTheUsbConverter) {
  map(QStringLiteral("USB"));
  const Result r = cli({"identify"}, at("usb", Line[8]));
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.startsWith(QStringLiteral("QX-510   v.1.20"))) << r.out.toStdString();
}

// The default scan budget of each rate (its wire time and the host's margin) has to be enough
// for a paced line: a margin that leaves out part of the wire would lose the slow modules.
TEST_F(PtyLineTest, CompanionScanWithItsDefaultsFindsAModuleAtEveryRate) {
  map(QStringLiteral("COM1"));
  const Result r = cli({"scan", "--addresses", "0-1", "--json"}, {"--interface", "serial", "--com-port", "1", "--timeout", "150"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  QSet<QPair<int, int>> found, expected;
  for (const QJsonValue& v : QJsonDocument::fromJson(r.out.toUtf8()).array())
    found.insert({v["address"].toInt(), v["rate"].toInt()});
  for (const Module& m : Line) expected.insert({m.address, m.rate});
  EXPECT_EQ(found, expected) << r.out.toStdString() << r.err.toStdString();
}

TEST_F(PtyLineTest, ConnectionDialogConnectsAndIdentifies) {
  map(QStringLiteral("COM1"));
  TData data{};
  InitData(&data);
  data.ComPort = 1;
  data.ModuleAddress = uint8_t(Line[4].address);
  data.BaudRate = Line[4].rate;
  TForm2 dialog;
  dialog.setData(&data);
  dialog.FormShow();
  dialog.Button1Click();
  EXPECT_TRUE(data.Connected);
  EXPECT_EQ(dialog.findChild<QLabel*>("Panel1")->text(), TForm2::SuccessText + QStringLiteral("QX-510   v.1.20"));
  if (data.Connected) DriverDone(data.Interface, &data.DriverHandle);
}

TEST_F(PtyLineTest, WorkbenchScanWithItsDefaultsFindsTheLine) {
  map(QStringLiteral("COM1"));
  LineWindow window;
  window.setLinePath(path("linka.qx510line"));
  window.connectLine();
  ASSERT_TRUE(WaitFor([&] { return window.isConnected(); }, 30000));
  ScanPanel* scan = window.scanPanel();
  scan->findChild<QSpinBox*>(QStringLiteral("LastAddress"))->setValue(1);
  ASSERT_EQ(scan->plan().timeoutMs, 0);
  ASSERT_EQ(scan->plan().baudCodes.size(), BaudCodeCount);
  bool finished = false;
  QObject::connect(window.worker(), &LineWorker::scanFinished, &window, [&] { finished = true; });
  emit scan->scanRequested(scan->plan());
  ASSERT_TRUE(WaitFor([&] { return finished; }, 120000));
  QSet<QPair<int, int>> found, expected;
  for (const LineModule& m : scan->found()) found.insert({m.address, BaudCodeToRate(m.baudCode)});
  for (const Module& m : Line) expected.insert({m.address, m.rate});
  EXPECT_EQ(found, expected);
}

}  // namespace
