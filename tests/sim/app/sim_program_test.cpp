// The simulator program as an operator and a script use it: the front panel over a running
// simulator, the headless process (port, endpoint, state across restarts, one instance per
// endpoint), and the tool's own connection dialog reaching it with its default settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

#include <csignal>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "base/exchange/driver_loader.h"
#include "base/settings/tdata.h"
#include "connect/tform2.h"
#include "sim/app/sim_window.h"
#include "sim/app/traffic_model.h"
#include "sim/app/traffic_pane.h"
#include "sim/control/sim_control.h"
#include "sim/line/state_file.h"
#include "sim/sim_server.h"
#include "tests/sim/standin_support.h"
#include "tests/support/window_program.h"

namespace {

std::array<uint32_t, 8> Req(uint8_t address, uint8_t command, uint8_t index, std::array<uint8_t, 5> d = {}) {
  return {address, command, index, d[0], d[1], d[2], d[3], d[4]};
}

class SimProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    endpoint_ = dir_.filePath("sim.sock");
    ::setenv(simproto::EndpointEnv, endpoint_.toLocal8Bit().constData(), 1);
  }
  void TearDown() override {
    for (auto& p : processes_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();  // QProcess signals its own child's pid only
        p->waitForFinished(3000);
      }
    }
    ::unsetenv(simproto::EndpointEnv);
  }

  // A simulator in this process on the test's endpoint; udpPort -1: no UDP.
  SimServerOptions inProcess(int udpPort) const {
    SimServerOptions o;
    o.wire = simline::Wire::Instant;  // measures no time
    o.udpPort = udpPort;
    o.localPath = endpoint_.toStdString();
    return o;
  }

  // Starts the headless simulator and returns its UDP port (0 when it did not come up).
  QProcess* startHeadless(const QStringList& extra, uint16_t* port) {
    auto p = std::make_unique<QProcess>();
    p->setProgram(QCoreApplication::applicationDirPath() + "/qx510-sim");
    p->setArguments(QStringList{"--headless", "--wire", "instant", "--port", "0", "--endpoint", endpoint_} + extra);
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start();
    QProcess* raw = p.get();
    processes_.push_back(std::move(p));
    *port = 0;
    if (!raw->waitForStarted(5000)) return raw;
    QByteArray out;
    while (!out.contains('\n') && raw->waitForReadyRead(10000)) out += raw->readAllStandardOutput();
    const auto m = QRegularExpression("UDP 127\\.0\\.0\\.1:(\\d+), endpoint (.*)\n").match(QString::fromLocal8Bit(out));
    if (m.hasMatch()) *port = uint16_t(m.captured(1).toUInt());
    return raw;
  }

  static void StopBySignal(QProcess* p) {
    p->terminate();  // SIGTERM to the simulator's pid
    ASSERT_TRUE(p->waitForFinished(5000));
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p->exitCode(), 0);
  }

  QTemporaryDir dir_;
  QString endpoint_;
  std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(SimProgramTest, FrontPanelFollowsTheModuleAndDrivesTheBench) {
  SimServer sim(inProcess(0));
  ASSERT_TRUE(sim.start());
  SimWindow panel(&sim, "127.0.0.1", "");
  panel.show();

  // Switches are the inputs' bench.
  for (int n : {0, 9, 31}) panel.findChild<QToolButton*>(QString("Switch%1").arg(n))->click();
  EXPECT_EQ(sim.snapshot().inputSwitches(), 0x80000201u);
  panel.findChild<QToolButton*>("Switch9")->click();
  EXPECT_EQ(sim.snapshot().inputSwitches(), 0x80000001u);

  // The tool's requests show in the panel: the outputs it sets, the memory it writes, and
  // every exchange in the log, answered or not.
  StandinLib lib(0);
  uint32_t h = 0;
  ASSERT_EQ(lib.init(&h), 0u);
  EXPECT_EQ(lib.exchange(h, Req(0, 1, 64, {0, 0x03, 0, 0, 0x80})).status, 0u);
  EXPECT_EQ(lib.exchange(h, Req(0, 103, 0, {0, 42, 42, 0xAB, 0xAB})).status, 0u);
  ASSERT_EQ(lib.setConfig(h, 9600, 20, 2), 0u);
  EXPECT_EQ(lib.exchange(h, Req(9, 100, 0)).returned, 2u);
  EXPECT_EQ(lib.done(&h), 0u);
  panel.refresh();

  auto ledOn = [&](int n) {
    return panel.findChild<QLabel*>(QString("Led%1").arg(n))->styleSheet().contains("#2ecc40");
  };
  EXPECT_TRUE(ledOn(0));
  EXPECT_TRUE(ledOn(1));
  EXPECT_FALSE(ledOn(2));
  EXPECT_TRUE(ledOn(31));
  EXPECT_EQ(panel.findChild<QTableWidget*>("MemoryTable")->item(5, 2)->text(), "AB");  // address 42
  const SimTrafficModel* traffic = panel.findChild<TrafficPane*>()->model();
  ASSERT_EQ(traffic->rowCount(), 3);
  EXPECT_EQ(traffic->data(traffic->index(1, SimTrafficModel::Command)).toString(), "103 zápis konfigurace");
  EXPECT_EQ(traffic->data(traffic->index(2, SimTrafficModel::Status)).toString(), "bez odpovědi");

  // The analog bench: a short circuit reads the converter's own offset.
  panel.findChild<QWidget*>("ShortBox")->setProperty("checked", true);
  EXPECT_TRUE(sim.snapshot().shortCircuit());
  panel.refresh();
  EXPECT_EQ(panel.findChild<QLabel*>("ReadingLabel")->text(), "0,012 V");

  QMetaObject::invokeMethod(panel.findChild<QWidget*>("RaiseERR24"), "click");
  EXPECT_TRUE(sim.snapshot().statusRegister() & SimModule::StatusERR24);
  panel.refresh();
  panel.resize(panel.sizeHint());
  const QPixmap shot = panel.grab();
  EXPECT_FALSE(shot.isNull());
  if (const char* dir = std::getenv("QX510_SCREENSHOT_DIR")) shot.save(QDir(dir).filePath("qx510-sim-panel.png"));
}

// The line in the window: modules added and chosen there, faults armed and shown there, and
// changes made elsewhere (a script, the driver) repainted without a clock running idle.
TEST_F(SimProgramTest, WindowShowsTheLineAndArmsFaults) {
  SimServer sim(inProcess(-1));
  ASSERT_TRUE(sim.start());
  SimWindow panel(&sim, "127.0.0.1", "");
  panel.show();
  auto* table = panel.findChild<QTableWidget*>("ModuleTable");
  auto* message = panel.findChild<QLabel*>("LineMessage");

  panel.findChild<QSpinBox*>("NewAddress")->setValue(5);
  panel.findChild<QComboBox*>("NewRate")->setCurrentIndex(7);
  panel.findChild<QPushButton*>("AddModuleButton")->click();
  panel.findChild<QPushButton*>("AddModuleButton")->click();  // the same again: added, and the collision said
  EXPECT_EQ(sim.moduleCount(), 3);
  EXPECT_EQ(message->text(), "Modul 2: kolize s modulem 1 (stejná adresa i rychlost), odpovědi na vedení kolidují.");
  ASSERT_TRUE(QTest::qWaitFor([&] { return table->rowCount() == 3; }));
  EXPECT_EQ(table->item(1, 1)->text(), "5 – kolize s modulem 2");
  EXPECT_EQ(table->item(1, 2)->text(), "57600 Bd");

  table->setCurrentCell(1, 0);
  EXPECT_EQ(panel.selectedModule(), 1);
  panel.findChild<QToolButton*>("Switch3")->click();
  EXPECT_EQ(sim.snapshot(1).inputSwitches(), 0x8u);
  EXPECT_EQ(sim.snapshot(0).inputSwitches(), 0x0u);

  panel.findChild<QComboBox*>("FaultKind")->setCurrentIndex(SimFault::Refuse);
  panel.findChild<QPushButton*>("ArmFaultButton")->click();
  ASSERT_EQ(sim.busSnapshot().faults(1).size(), 1u);
  EXPECT_EQ(sim.busSnapshot().faults(1)[0].kind, SimFault::Refuse);
  auto* armed = panel.findChild<QLabel*>("ArmedFaults");
  ASSERT_TRUE(QTest::qWaitFor([&] { return armed->text() == "Modul 1: odmítnutí, stav 20, ještě 1×"; }))
      << armed->text().toStdString();

  // A change from another thread reaches the window by itself; then nothing keeps it busy.
  std::thread([&] { sim.withBus([](SimBus& bus) { bus.clearAllFaults(); }); }).join();
  EXPECT_TRUE(QTest::qWaitFor([&] { return armed->text().isEmpty(); }));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !panel.findChild<QTimer*>("RefreshTimer")->isActive(); }));

  panel.resize(panel.sizeHint());
  if (const char* dir = std::getenv("QX510_SCREENSHOT_DIR")) panel.grab().save(QDir(dir).filePath("qx510-sim-line.png"));
}

TEST_F(SimProgramTest, HeadlessSimulatorKeepsItsMemoryAcrossRestarts) {
  const QString state = dir_.filePath("state/module.state");
  uint16_t port = 0;
  QProcess* first = startHeadless({"--state", state}, &port);
  ASSERT_NE(port, 0) << first->readAllStandardError().toStdString();

  // A second simulator on the same endpoint refuses to start instead of stealing it.
  uint16_t otherPort = 0;
  QProcess* second = startHeadless({"--no-state"}, &otherPort);
  ASSERT_TRUE(second->state() == QProcess::NotRunning || second->waitForFinished(5000));
  EXPECT_EQ(second->exitCode(), 1);
  EXPECT_TRUE(second->readAllStandardError().contains("jiný simulátor")) << "stderr";

  // Its memory never goes beside the tool, whose settings file lives there.
  const QString besideTool = QCoreApplication::applicationDirPath() + "/module.state";
  uint16_t refusedPort = 0;
  QProcess* refused = startHeadless({"--state", besideTool}, &refusedPort);
  ASSERT_TRUE(refused->state() == QProcess::NotRunning || refused->waitForFinished(5000));
  EXPECT_EQ(refused->exitCode(), 2);
  EXPECT_FALSE(QFile::exists(besideTool));

  {
    StandinLib lan(4);
    uint32_t h = 0;
    ASSERT_EQ(lan.init(&h, "127.0.0.1", port), 0u);
    EXPECT_EQ(lan.exchange(h, Req(0, 103, 0, {0, 63, 63, 12, 12})).status, 0u);
    EXPECT_EQ(lan.exchange(h, Req(0, 103, 0, {0, 50, 50, 0x3C, 0x3C})).status, 0u);
    EXPECT_EQ(lan.done(&h), 0u);
  }
  StopBySignal(first);
  EXPECT_FALSE(QFile::exists(endpoint_)) << "the socket file outlived the simulator";

  QProcess* again = startHeadless({"--state", state}, &port);
  ASSERT_NE(port, 0) << again->readAllStandardError().toStdString();
  StandinLib usb(3);
  uint32_t h = 0;
  ASSERT_EQ(usb.init(&h), 0u);
  ASSERT_EQ(usb.setConfig(h, 9600, 200, 2), 0u);
  // The restart was a power-up: the new bus address is in force and the byte stayed.
  EXPECT_EQ(usb.exchange(h, Req(0, 102, 0, {0, 50, 50, 0, 0})).returned, 2u);
  const auto r = usb.exchange(h, Req(12, 102, 0, {0, 50, 50, 0, 0}));
  EXPECT_EQ(r.returned, 0u);
  EXPECT_EQ(r.data[3], 0x3C);
  EXPECT_EQ(usb.done(&h), 0u);
  StopBySignal(again);
}

// The wire's options: the turnarounds typed after the modules and set through the control
// channel, the pseudo-terminal's link for as long as the simulator runs; a wrong one is a
// usage error.
TEST_F(SimProgramTest, WireOptionsTurnaroundsAndThePseudoTerminalsLink) {
  const QString link = dir_.filePath("ttyQX");
  uint16_t port = 0;
  QProcess* sim = startHeadless({"--no-state", "--modules", "0@9600/2.5ms,5@57600", "--pty", link}, &port);
  ASSERT_NE(port, 0) << sim->readAllStandardError().toStdString();
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  const std::string control = endpoint_.toStdString() + ".ctl";
  auto turnarounds = [&] {
    std::string reply, error;
    EXPECT_TRUE(SimControlRequest(control, R"({"cmd":"list"})", &reply, &error)) << error;
    std::vector<double> ms;
    for (const auto m : QJsonDocument::fromJson(QByteArray::fromStdString(reply))["modules"].toArray())
      ms.push_back(m.toObject()["turnaround_ms"].toDouble());
    return ms;
  };
  EXPECT_EQ(turnarounds(), (std::vector<double>{2.5, 1.0}));
  std::string reply, error;
  ASSERT_TRUE(SimControlRequest(control, R"({"cmd":"turnaround","module":1,"ms":40})", &reply, &error)) << error;
  EXPECT_EQ(turnarounds(), (std::vector<double>{2.5, 40.0}));
  StopBySignal(sim);
  EXPECT_FALSE(QFileInfo(link).isSymLink()) << "the link outlived the simulator";

  const QStringList wrong[] = {{"--wire", "slow"},
                               {"--modules", "0@9600/soon"},
                               {"--modules", "0/20000ms"},
                               {"--pty", link, "--serial", "/dev/null"},
                               {"--serial", "/dev/null", "--serial-rate", "9601"}};
  for (const QStringList& args : wrong) {
    SCOPED_TRACE(args.join(' ').toStdString());
    QProcess* p = startHeadless(args + QStringList{"--no-state"}, &port);
    ASSERT_TRUE(p->state() == QProcess::NotRunning || p->waitForFinished(5000));
    EXPECT_EQ(p->exitCode(), 2);
  }
}

// Two simulators at two endpoints with one state file would overwrite each other's lines: the
// second does not start, and says which simulator holds the file.
TEST_F(SimProgramTest, TwoSimulatorsNeverShareAStateFile) {
  const QString state = dir_.filePath("module.state");
  uint16_t port = 0;
  QProcess* first = startHeadless({"--state", state, "--modules", "3@9600"}, &port);
  ASSERT_NE(port, 0) << first->readAllStandardError().toStdString();
  const QString otherEndpoint = dir_.filePath("other.sock");
  uint16_t otherPort = 0;
  QProcess* second = startHeadless({"--endpoint", otherEndpoint, "--state", state, "--modules", "7@9600"}, &otherPort);
  ASSERT_TRUE(second->state() == QProcess::NotRunning || second->waitForFinished(10000));
  EXPECT_EQ(otherPort, 0);
  EXPECT_EQ(second->exitCode(), 1);
  const QString said = QString::fromLocal8Bit(second->readAllStandardError());
  EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
  EXPECT_TRUE(said.contains(QStringLiteral("PID %1, endpoint %2").arg(first->processId()).arg(endpoint_)))
      << said.toStdString();
  EXPECT_FALSE(QFile::exists(otherEndpoint));
  StopBySignal(first);
  std::vector<SimModule::Memory> stored;
  ASSERT_EQ(LoadSimState(state.toStdString(), stored), SimStateLoad::Loaded);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0][63], 3) << "the refused simulator's line was stored";
  EXPECT_FALSE(QFile::exists(state + ".lock"));
}

// A state file it cannot use is refused on one line of standard error with exit status 1 and
// left in place; a FIFO there must not block it.
TEST_F(SimProgramTest, RefusesAStateFileItCannotUse) {
  const QString fifo = dir_.filePath("fifo.state");
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  uint16_t port = 0;
  QProcess* p = startHeadless({"--state", fifo}, &port);
  ASSERT_TRUE(p->state() == QProcess::NotRunning || p->waitForFinished(10000));
  EXPECT_EQ(p->exitCode(), 1);
  const QByteArray err = p->readAllStandardError();
  EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
  EXPECT_TRUE(QFileInfo(fifo).exists());
}

// A steady flood of configuration writes neither keeps SIGTERM from ending it nor costs a
// store per write; the bound on the wait only guards against a hang.
TEST_F(SimProgramTest, EndsOnSignalUnderAFloodOfDatagrams) {
  uint16_t port = 0;
  QProcess* p = startHeadless({"--state", dir_.filePath("module.state")}, &port);
  ASSERT_NE(port, 0) << p->readAllStandardError().toStdString();
  std::atomic<bool> flooding{true};
  std::atomic<uint64_t> sent{0};
  std::thread flood([&] {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    simproto::Request r;
    r.rate = 9600;
    r.command = 103;
    while (flooding) {
      const uint8_t v = uint8_t(++r.seq);
      r.data = {0, 40, 40, v, v};
      const auto frame = simproto::EncodeRequest(r);
      if (::sendto(s, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) ++sent;
    }
    ::close(s);
  });
  while (sent < 20000) std::this_thread::yield();
  p->terminate();
  const bool ended = p->waitForFinished(10000);
  flooding = false;
  flood.join();
  ASSERT_TRUE(ended) << "still running under the flood";
  EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p->exitCode(), 0);
}

// The program as a script meets it: --version, --help naming the commands; without
// --headless it runs its window (here offscreen), and `ctl traffic` streams that simulator's
// exchanges until a signal ends it with the conventional status.
TEST_F(SimProgramTest, VersionHelpWindowAndTrafficStream) {
  const QString program = QCoreApplication::applicationDirPath() + "/qx510-sim";
  struct Case {
    QStringList args;
    QStringList printed;
  };
  const Case cases[] = {{{"--version"}, {"qx510-sim 1."}},
                        {{"--help"}, {"--headless", "qx510-sim ctl", "qx510-sim send", "traffic"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    QProcess p;
    p.start(program, c.args);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    for (const auto& text : c.printed) EXPECT_TRUE(out.contains(text)) << out.toStdString();
  }

  auto& window = *processes_.emplace_back(std::make_unique<QProcess>());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  window.setProcessEnvironment(env);
  window.start(program, {"--port", "0", "--no-state", "--wire", "instant", "--endpoint", endpoint_});
  QByteArray out;
  while (!out.contains("control") && window.waitForReadyRead(10000)) out += window.readAllStandardOutput();
  ASSERT_TRUE(out.contains("control")) << window.readAllStandardError().toStdString();

  for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
    SCOPED_TRACE(signal);
    QProcess ctl;
    ctl.start(program, {"ctl", "--endpoint", endpoint_, "traffic"});
    QByteArray lines;
    while (!lines.contains('\n') && ctl.waitForReadyRead(10000)) lines += ctl.readAllStandardOutput();
    ASSERT_EQ(lines, "{\"ok\":true}\n");
    StandinLib lib(0);
    uint32_t h = 0;
    ASSERT_EQ(lib.init(&h), 0u);
    EXPECT_EQ(lib.exchange(h, Req(0, 200, 0)).status, 0u);
    EXPECT_EQ(lib.done(&h), 0u);
    while (lines.count('\n') < 2 && ctl.waitForReadyRead(10000)) lines += ctl.readAllStandardOutput();
    EXPECT_TRUE(lines.contains("\"name\":\"identifikace\"")) << lines.toStdString();
    ::kill(pid_t(ctl.processId()), signal);
    ASSERT_TRUE(ctl.waitForFinished(10000));
    EXPECT_EQ(ctl.exitCode(), status);
  }
  StopBySignal(&window);
}

// The tool's connection dialog, with its defaults and over the LAN converter, against the
// simulated module through the real loader and the stand-in libraries.
TEST_F(SimProgramTest, ConnectionDialogReachesTheSimulator) {
  SimServer sim(inProcess(0));
  ASSERT_TRUE(sim.start());

  for (int iface : {0, 4}) {
    SCOPED_TRACE(iface);
    TData data;
    InitData(&data);
    TForm2 dialog;
    dialog.setData(&data);
    dialog.FormShow();
    if (iface == 4) {
      auto* combo = dialog.findChild<QComboBox*>("ComboBox2");
      combo->setCurrentIndex(4);
      dialog.ComboBox2Change();
      dialog.findChild<QLineEdit*>("Edit2")->setText("127.0.0.1");
      dialog.findChild<QLineEdit*>("Edit3")->setText(QString::number(sim.udpPort()));
    }
    dialog.Button1Click();
    EXPECT_TRUE(data.Connected) << dialog.findChild<QLabel*>("Panel1")->text().toStdString();
    EXPECT_EQ(data.ModuleIdent, QString("QX-510   v.1.20"));
    EXPECT_TRUE(dialog.findChild<QLabel*>("Panel1")->text().endsWith("QX-510   v.1.20"));
    if (data.Connected) {
      EXPECT_EQ(DriverDone(data.Interface, &data.DriverHandle), 0u);
    }
  }
  int identifications = 0;
  for (const auto& e : sim.recentLog())
    if (e.request.command == 200 && e.answer) ++identifications;
  EXPECT_EQ(identifications, 6);
}

// The window program as qx510-sim hands over to it: help and version without a display, the
// toolkit's options taken, anything else refused before a window is made.
TEST(SimWindowCommandLine, AnsweredWithoutADisplay) {
  ExpectWindowProgramCommandLine(QCoreApplication::applicationDirPath() + "/qx510-sim-window", "qx510-sim",
                                 {"--headless", "--help", "--version"});
}

}  // namespace
