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

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/text/baud.h"
#include "base/exchange/driver_loader.h"
#include "base/wire/port_map.h"
#include "base/settings/settings.h"
#include "base/settings/tdata.h"
#include "connect/tform2.h"
#include "line/app/line_window.h"
#include "line/poll/line_worker.h"
#include "line/connect/scan_panel.h"
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
    sim_.setArguments(QStringList{"--headless", "--no-state", "--port", "0", "--endpoint", path("sim.sock"), "--modules",
                                  LineSpec(), "--pty", link()} +
                      adapter());
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

  // What the simulator's pseudo-terminal plays of the PC's adapter.
  virtual QStringList adapter() const { return {}; }

  QString path(const char* name) const { return dir_.filePath(QLatin1String(name)); }
  QString link() const { return path("ttyQX"); }

  void map(const QString& port, const QString& options = QString()) {
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("qx510")));
    QFile file(dir_.filePath(QStringLiteral("qx510/") + QLatin1String(portmap::FileName)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write((port + '=' + link() + ' ' + options + '\n').toLocal8Bit());
  }

  // The simulator's control channel, as a trainer uses it.
  void ctl(const QStringList& args) {
    QProcess p;
    p.start(sim_.program(), QStringList{"ctl", "--endpoint", path("sim.sock")} + args);
    ASSERT_TRUE(p.waitForFinished(20000));
    ASSERT_EQ(p.exitCode(), 0) << args.join(' ').toStdString() << ": " << p.readAllStandardError().toStdString();
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

// The response timeout is the module's time, so the dialog's 150 ms reach a module at the
// slowest rates too, whose frames alone take longer on the wire.
TEST_F(PtyLineTest, ConnectionDialogConnectsAndIdentifiesWithItsDefaultsAtEveryRate) {
  map(QStringLiteral("COM1"));
  for (const Module& m : {Line[0], Line[1], Line[4]}) {
    SCOPED_TRACE(m.rate);
    TData data{};
    InitData(&data);
    data.ComPort = 1;
    data.ModuleAddress = uint8_t(m.address);
    data.BaudRate = m.rate;
    TForm2 dialog;
    dialog.setData(&data);
    dialog.FormShow();
    dialog.Button1Click();
    EXPECT_TRUE(data.Connected);
    EXPECT_EQ(dialog.findChild<QLabel*>("Panel1")->text(), TForm2::SuccessText + QStringLiteral("QX-510   v.1.20"));
    if (data.Connected) DriverDone(data.Interface, &data.DriverHandle);
  }
}

// A module that answers later than the timeout, from just short of it to twice it: its answer
// to the analog input never becomes the inputs' reading that the next request asks for.
TEST_F(PtyLineTest, ALateAnswerIsNeverTheNextRequestsReading) {
  map(QStringLiteral("COM1"));
  const QString module = QStringLiteral("module=4");  // 0@9600
  ctl({"inputs", module, "value=15"});
  ctl({"voltage", module, "volts=7.662"});
  const QStringList watch{"watch", "ain0,din", "--count", "3", "--interval", "300", "--format", "json",
                          "--interface", "serial", "--com-port", "1", "--address", "0", "--rate", "9600", "--timeout", "150"};
  const Result clean = cli(watch, {});
  ASSERT_EQ(clean.code, 0) << clean.err.toStdString();
  const double ain0 = QJsonDocument::fromJson(clean.out.split('\n').first().toUtf8())["ain0"]["value"].toDouble();
  for (int delayMs : {140, 150, 160, 170, 200, 250, 300}) {
    SCOPED_TRACE(delayMs);
    ctl({"fault", module, "kind=delay", QStringLiteral("ms=%1").arg(delayMs), "command=0", "count=1"});
    const Result r = cli(watch, {});
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 3) << r.out.toStdString() << r.err.toStdString();
    for (const QString& line : lines) {
      const QJsonObject reading = QJsonDocument::fromJson(line.toUtf8()).object();
      if (reading["ain0"].toObject().contains("value")) {
        EXPECT_EQ(reading["ain0"]["value"].toDouble(), ain0) << line.toStdString();
      }
      if (reading["din"].toObject().contains("din")) {
        EXPECT_EQ(reading["din"]["din"].toInt(), 15) << line.toStdString();
      }
    }
    ctl({"clear", module});
  }
}

// A driver killed while it holds the line leaves the pseudo-terminal exclusive and at its own
// rate; the simulator gives it back as it was, so the next program opens it and its Done leaves
// the settings the line had before either.
TEST_F(PtyLineTest, AKilledClientLeavesTheLineAsItFoundIt) {
  map(QStringLiteral("COM1"));
  const int watcher = ::open(link().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(watcher, 0);
  termios before{};
  ASSERT_EQ(::tcgetattr(watcher, &before), 0);

  QProcess holder;
  holder.start(QStringLiteral(QX510_CLI), {"watch", "ain0", "--interval", "100", "--interface", "serial", "--com-port",
                                           "1", "--address", "1", "--rate", "1200"});
  ASSERT_TRUE(holder.waitForStarted(10000));
  ASSERT_TRUE(WaitFor([&] { return holder.canReadLine() || holder.state() != QProcess::Running; }, 30000));
  ASSERT_EQ(holder.state(), QProcess::Running) << holder.readAllStandardError().toStdString();
  holder.kill();  // SIGKILL to its own process id: no Done
  ASSERT_TRUE(holder.waitForFinished(10000));

  auto released = [&] {
    int exclusive = 1;
    termios now{};
    return ::ioctl(watcher, TIOCGEXCL, &exclusive) == 0 && !exclusive && ::tcgetattr(watcher, &now) == 0 &&
           ::cfgetospeed(&now) == ::cfgetospeed(&before) && now.c_cflag == before.c_cflag;
  };
  EXPECT_TRUE(WaitFor(released, 10000)) << "the line stays exclusive or at the killed client's rate";

  const Result next = cli({"identify"}, at("serial", Line[2]));
  EXPECT_EQ(next.code, 0) << next.err.toStdString();
  termios after{};
  ASSERT_EQ(::tcgetattr(watcher, &after), 0);
  EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  ::close(watcher);
}

// A 2-wire adapter hears its own request: announced in the mapping or not, that copy is never
// an answer, so an address nobody has stays silent and a module is still reached.
class PtyEchoLineTest : public PtyLineTest {
 protected:
  QStringList adapter() const override { return {"--adapter-echo"}; }
};

TEST_F(PtyEchoLineTest, TheRequestsOwnEchoIsNeverAnAnswer) {
  for (const char* options : {"", "echo=1"}) {
    SCOPED_TRACE(options);
    map(QStringLiteral("COM1"), QLatin1String(options));
    Result r = cli({"identify"}, at("serial", Line[4]));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    r = cli({"identify"}, at("serial", {7, 9600}));
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("Modul neodpověděl"))) << r.err.toStdString();
    r = cli({"scan", "--addresses", "0-7", "--rates", "9600", "--json"}, {"--interface", "serial", "--com-port", "1"});
    EXPECT_EQ(QJsonDocument::fromJson(r.out.toUtf8()).array().size(), 1) << r.out.toStdString() << r.err.toStdString();
  }
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
