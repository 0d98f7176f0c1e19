// The workbench's main window against an in-process simulated line of three modules, through
// the real loader, the stand-in drivers and the workbench's own driver thread.

#include <gtest/gtest.h>

#include <QBrush>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QFileDialog>
#include <QLabel>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QProgressBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/settings/settings.h"
#include "base/exchange/commands.h"
#include "base/wire/wire_time.h"
#include "base/config/config_image.h"
#include "line/backup/backup_panel.h"
#include "line/connect/connection_panel.h"
#include "base/config/line_file.h"
#include "line/poll/line_model.h"
#include "line/app/module_detail_window.h"
#include "line/app/line_window.h"
#include "line/poll/line_worker.h"
#include "line/log/log_panel.h"
#include "line/publish/mqtt_panel.h"
#include "line/common/workbench_settings.h"
#include "line/connect/scan_panel.h"
#include "line/traffic/traffic_panel.h"
#include "sim/control/sim_control.h"
#include "sim/sim_server.h"
#include "tests/line/simulated_workbench.h"
#include "tests/sim/sim_line.h"
#include "tests/support/file_faults.h"

namespace {

// The lines of the one CSV file a log wrote into `folder`; none, and a failure, otherwise.
QStringList LogFileLines(const QString& folder) {
  const QStringList files = QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files);
  QFile file(files.size() == 1 ? QDir(folder).filePath(files.first()) : QString());
  if (!file.open(QIODevice::ReadOnly)) {
    ADD_FAILURE() << "expected one readable log file, found " << files.size();
    return {};
  }
  return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Module index: address, baud code.
constexpr SimModuleSpec Line[] = {{1, 4}, {5, 7}, {17, 8}};

LineModule Module(const SimModuleSpec& s) {
  LineModule m;
  m.address = s.address;
  m.baudCode = s.baudCode;
  return m;
}

class LineWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    sim_ = StartLine(dir_, {std::begin(Line), std::end(Line)});
    ASSERT_NE(sim_, nullptr);
    for (int i = 0; i < sim_->moduleCount(); ++i)
      sim_->withModule(i, [](SimModule& m) { m.setConverterError({1.0, 0.0, 0.0}); });
    workbench_.emplace(dir_, *sim_);
    window_ = std::make_unique<LineWindow>();
    window_->setLinePath(dir_.filePath(QStringLiteral("linka.qx510line")));
  }
  void TearDown() override {
    window_.reset();
    workbench_.reset();
  }

  void connectLine() {
    window_->connectLine();
    ASSERT_TRUE(WaitFor([this] { return window_->isConnected(); }));
  }

  // The line as the operator would have it after a scan, without spending the scan's time.
  void knownLine(const std::vector<SimModuleSpec>& line = {std::begin(Line), std::end(Line)}) {
    QVector<LineModule> modules;
    for (const SimModuleSpec& s : line) modules.append(Module(s));
    LineFile file{QDateTime::currentDateTime(), modules, {}};
    QString error;
    ASSERT_TRUE(SaveLineFile(window_->linePath(), file, error));
    window_->setLinePath(window_->linePath());
  }

  int rowOf(const SimModuleSpec& s) const { return window_->model()->rowOf(s.address, s.baudCode); }
  QString cell(int row, int column) {
    return window_->model()->data(window_->model()->index(row, column)).toString();
  }
  // Waits until every module has come back from a poll at least `times` more times.
  bool pollsDone(int times = 1) {
    std::vector<uint64_t> start;
    for (int r = 0; r < window_->model()->rowCount(); ++r) start.push_back(window_->model()->row(r).exchanges.total());
    return WaitFor([&] {
      for (int r = 0; r < window_->model()->rowCount(); ++r)
        if (window_->model()->row(r).exchanges.total() < start[size_t(r)] + uint64_t(times)) return false;
      return true;
    });
  }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
  std::optional<SimulatedWorkbench> workbench_;
  std::unique_ptr<LineWindow> window_;
};

TEST_F(LineWindowTest, ScanFindsExactlyTheLineAndKeepsIt) {
  connectLine();
  ScanPanel* scan = window_->scanPanel();
  scan->findChild<QSpinBox*>(QStringLiteral("LastAddress"))->setValue(20);
  // Each rate its own timeout; the slowest rates are left out only to keep the test short.
  ASSERT_EQ(scan->plan().timeoutMs, 0);
  for (int code = 0; code < 4; ++code) scan->findChild<QCheckBox*>(QStringLiteral("Rate%1").arg(code))->setChecked(false);
  bool finished = false;
  // Queued to the window's thread after the window's own slot, which takes the modules found.
  QObject::connect(window_->worker(), &LineWorker::scanFinished, window_.get(), [&] { finished = true; });
  emit scan->scanRequested(scan->plan());
  ASSERT_TRUE(WaitFor([&] { return finished; }, 120000));
  // The modules found shortened the later tries; the bar still ends full.
  auto* bar = scan->findChild<QProgressBar*>();
  EXPECT_EQ(bar->value(), bar->maximum());

  ASSERT_EQ(window_->model()->rowCount(), 3);
  for (const SimModuleSpec& s : Line) {
    const int row = rowOf(s);
    ASSERT_GE(row, 0) << int(s.address);
    EXPECT_EQ(window_->model()->row(row).module.ident, QStringLiteral("QX-510   v.1.20"));
  }
  // Each module's round trip beside the wire time of its rate.
  auto* found = scan->findChild<QTableWidget*>(QStringLiteral("FoundTable"));
  ASSERT_EQ(found->rowCount(), 3);
  for (int row = 0; row < 3; ++row) {
    const int rate = found->item(row, 1)->text().section(' ', 0, 0).toInt();
    EXPECT_EQ(found->item(row, 4)->text(),
              QLocale().toString(double(wire::ExchangeTime(rate).count()) / 1e6, 'f', 2));
  }
  LineFile saved;
  QString error;
  ASSERT_TRUE(LoadLineFile(window_->linePath(), saved, error)) << error.toStdString();
  EXPECT_EQ(saved.modules.size(), 3);

  // The next start opens with the same line, before any scan.
  window_.reset();
  window_ = std::make_unique<LineWindow>();
  window_->setLinePath(dir_.filePath(QStringLiteral("linka.qx510line")));
  EXPECT_EQ(window_->model()->rowCount(), 3);
}

TEST_F(LineWindowTest, ConnectionPanelWarnsWhileTheTimeoutIsShorterThanTheSlowestModulesExchange) {
  ConnectionPanel* panel = window_->connectionPanel();
  auto* timeout = panel->findChild<QLineEdit*>(QStringLiteral("TimeoutEdit"));
  auto* warning = panel->findChild<QLabel*>(QStringLiteral("TimeoutWarning"));
  const struct {
    std::vector<SimModuleSpec> line;
    const char* timeout;
    const char* warning;  // nullptr: none
  } cases[] = {
      {{Line[0], Line[1]}, "34", "Varování: timeout odpovědi 34 ms je kratší než doba výměny na vedení při 9600 Bd (35 ms)."},
      {{Line[0], Line[1]}, "35", nullptr},
      {{Line[1], Line[2]}, "34", nullptr},
      {{Line[1], Line[2]}, "8", "Varování: timeout odpovědi 8 ms je kratší než doba výměny na vedení při 57600 Bd (9 ms)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.timeout);
    knownLine(c.line);
    timeout->setText(QLatin1String(c.timeout));
    EXPECT_EQ(panel->timeoutWarning(), c.warning ? QString::fromUtf8(c.warning) : QString());
    EXPECT_EQ(warning->isHidden(), c.warning == nullptr);
  }
}

TEST_F(LineWindowTest, ConnectionPanelNamesTheDeviceAMappedPortLeadsTo) {
  ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("qx510")));
  QFile map(dir_.filePath(QStringLiteral("qx510/serial-ports")));
  ASSERT_TRUE(map.open(QIODevice::WriteOnly));
  map.write("COM4=/dev/ttyUSB0\n");
  map.close();
  ConnectionPanel* panel = window_->connectionPanel();
  auto* port = panel->findChild<QLineEdit*>(QStringLiteral("PortEdit"));
  port->setText(QStringLiteral("4"));
  EXPECT_EQ(panel->deviceText(), QStringLiteral("Zařízení: COM4 → /dev/ttyUSB0"));
  port->setText(QStringLiteral("1"));
  EXPECT_EQ(panel->deviceText(), QStringLiteral("Zařízení: COM1 → simulátor"));
}

TEST_F(LineWindowTest, SilentModuleIsMarkedKeptAndComesBack) {
  knownLine();
  connectLine();
  window_->findChild<QSpinBox*>(QStringLiteral("PollInterval"))->setValue(0);
  window_->startPolling();
  const int row = rowOf(Line[1]);
  // The exchanges are counted as they happen, the readings handed over in batches: wait for the
  // reading, not only for the exchange.
  ASSERT_TRUE(WaitFor([&] {
    window_->model()->flush();
    return cell(row, LineModel::State) == QStringLiteral("odpovídá");
  })) << cell(row, LineModel::State).toStdString();

  sim_->withBus([](SimBus& bus) { bus.arm(1, SimFault{.kind = SimFault::Silent}); });
  ASSERT_TRUE(WaitFor([&] { return window_->model()->row(row).silent; }));
  EXPECT_EQ(window_->model()->rowCount(), 3);
  EXPECT_EQ(cell(row, LineModel::State), QStringLiteral("neodpovídá"));
  EXPECT_FALSE(cell(row, LineModel::LastError).isEmpty());
  // The others keep answering meanwhile.
  const uint64_t before = window_->model()->row(rowOf(Line[2])).exchanges.total();
  ASSERT_TRUE(WaitFor([&] { return window_->model()->row(rowOf(Line[2])).exchanges.total() > before + 8; }));
  EXPECT_FALSE(window_->model()->row(rowOf(Line[2])).silent);
  // The traffic pane, filtered to failures, holds the silent module's timeouts alone, and
  // exports what it shows.
  TrafficModel* traffic = window_->trafficPanel()->model();
  traffic->setFilter(TrafficFilter{.address = -1, .command = -1, .failuresOnly = true});
  ASSERT_GT(traffic->rowCount(), 0);
  traffic->forEachShown([](const ExchangeRecord& r) {
    EXPECT_EQ(r.address, Line[1].address);
    EXPECT_EQ(ClassifyExchangeStatus(r.status), ExchangeOutcome::Timeout);
  });
  const QString exported = dir_.filePath(QStringLiteral("provoz.txt"));
  QString error;
  ASSERT_TRUE(window_->trafficPanel()->exportTo(exported, error)) << error.toStdString();
  QFile exportFile(exported);
  ASSERT_TRUE(exportFile.open(QIODevice::ReadOnly));
  EXPECT_EQ(exportFile.readAll().count('\n'), traffic->rowCount());

  sim_->withBus([](SimBus& bus) { bus.clearFaults(1); });
  ASSERT_TRUE(WaitFor([&] { return !window_->model()->row(row).silent; }));
  EXPECT_EQ(cell(row, LineModel::State), QStringLiteral("odpovídá"));
  EXPECT_GT(window_->model()->row(row).failures(), 0u);
}

TEST_F(LineWindowTest, LogHoldsTheValuesTheSimulatorWasGiven) {
  knownLine();
  connectLine();
  LogPanel* panel = window_->logPanel();
  const QString folder = dir_.filePath(QStringLiteral("log"));
  panel->setFolder(folder);
  auto* list = panel->findChild<QListWidget*>(QStringLiteral("LogModules"));
  ASSERT_EQ(list->count(), 3);
  list->item(rowOf(Line[1]))->setCheckState(Qt::Checked);
  ASSERT_TRUE(panel->startLog());
  EXPECT_TRUE(window_->statusText(2).contains(QStringLiteral("modulů 5")));

  const double given[] = {1.25, -3.5, 7.125};
  window_->startPolling();
  for (double volts : given) {
    sim_->withModule(1, [volts](SimModule& m) { m.setSourceVoltage(volts); });
    ASSERT_TRUE(pollsDone(8));  // four exchanges a poll: two polls after the change at least
  }
  panel->stopLog();
  window_->stopPolling();

  const QStringList lines = LogFileLines(folder);
  ASSERT_GT(lines.size(), 3);
  EXPECT_EQ(lines.first(), QStringLiteral("time;local_time;address;rate;ain0;unit;error"));
  QList<double> seen;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QStringList cells = lines[i].split(QLatin1Char(';'));
    ASSERT_EQ(cells.size(), 7) << lines[i].toStdString();
    EXPECT_EQ(cells[2], QStringLiteral("5"));
    EXPECT_EQ(cells[3], QStringLiteral("57600"));
    EXPECT_EQ(cells[5], QStringLiteral("V"));
    EXPECT_TRUE(QDateTime::fromString(cells[0], Qt::ISODateWithMs).isValid()) << cells[0].toStdString();
    const double value = QLocale(QLocale::Czech).toDouble(cells[4]);
    if (seen.isEmpty() || seen.back() != value) seen.append(value);
  }
  // Every value given shows up, in order, and nothing else but the value before the first.
  ASSERT_GE(seen.size(), 3);
  EXPECT_EQ(seen.mid(seen.size() - 3), QList<double>(std::begin(given), std::end(given)));
}

// The statistics count the exchanges of this connection, never a scan's unanswered tries; a
// disconnected line says so; a module's trend goes back to its first reading.
TEST_F(LineWindowTest, StatisticsStartAtEachConnectionAndLeaveTheScanOut) {
  knownLine();
  connectLine();
  ASSERT_TRUE(pollsDone(8));
  const auto timeouts = [this] { return window_->mqttPanel()->statistics().count(ExchangeOutcome::Timeout); };
  ScanPanel* scan = window_->scanPanel();
  scan->findChild<QSpinBox*>(QStringLiteral("LastAddress"))->setValue(3);
  for (int code = 0; code < 9; ++code) scan->findChild<QCheckBox*>(QStringLiteral("Rate%1").arg(code))->setChecked(code == 4);
  bool finished = false;
  QObject::connect(window_->worker(), &LineWorker::scanFinished, window_.get(), [&] { finished = true; });
  emit scan->scanRequested(scan->plan());
  ASSERT_TRUE(WaitFor([&] { return finished; }));
  ASSERT_TRUE(pollsDone(4));
  EXPECT_EQ(timeouts(), 0u) << "three of the scan's four tries met nobody";
  const int row = rowOf(Line[0]);  // the one module the scan found
  ASSERT_EQ(window_->model()->rowCount(), 1);
  EXPECT_GE(window_->openDetail(row)->series().size(), 2u) << "read before the detail opened";

  window_->disconnectLine();
  window_->model()->flush();
  EXPECT_TRUE(cell(row, LineModel::State).startsWith(QStringLiteral("odpojeno, hodnoty z "))) << cell(row, LineModel::State).toStdString();
  EXPECT_EQ(window_->model()->data(window_->model()->index(row, LineModel::Ain0), Qt::ForegroundRole), QVariant(QBrush(Qt::gray)));
  window_->connectLine();
  EXPECT_EQ(window_->mqttPanel()->statistics().total(), 0u);
  EXPECT_EQ(window_->model()->row(row).exchanges.total(), 0u);
  ASSERT_TRUE(WaitFor([this] { return window_->isConnected(); }));
}

TEST_F(LineWindowTest, OutputsPulseAndStatusClearReachTheModuleAndTheOverview) {
  knownLine();
  connectLine();
  const int row = rowOf(Line[2]);
  const LineModule module = window_->model()->row(row).module;
  window_->model()->flush();
  EXPECT_EQ(cell(row, LineModel::Outputs), QStringLiteral("neznámé"));
  auto outputs = [this] { return sim_->snapshot(2).outputs(); };

  window_->worker()->writeOutputs(module, 0x00F0000Fu);
  ASSERT_TRUE(WaitFor([&] { return outputs() == 0x00F0000Fu && window_->model()->row(row).outputs; }));
  EXPECT_EQ(*window_->model()->row(row).outputs, 0x00F0000Fu);

  // A pulse of output 8: two writes, the second bringing back the word as it was before.
  QList<uint32_t> written;
  QObject::connect(window_->worker(), &LineWorker::commandDone, window_.get(), [&](const CommandResult& r) {
    if (r.status == 0) written.append(r.word);
  });
  window_->worker()->pulseOutputs(module, 0x00F0010Fu, 0x00F0000Fu, 30);
  ASSERT_TRUE(WaitFor([&] { return written.size() == 2; }));
  EXPECT_EQ(written, QList<uint32_t>({0x00F0010Fu, 0x00F0000Fu}));
  EXPECT_EQ(outputs(), 0x00F0000Fu);
  EXPECT_EQ(*window_->model()->row(row).outputs, 0x00F0000Fu);

  sim_->withModule(2, [](SimModule& m) { m.raiseStatusBits(SimModule::StatusERR24); });
  window_->worker()->clearStatus(module);
  ASSERT_TRUE(WaitFor([&] { return sim_->snapshot(2).statusRegister() == 0; }));
}

TEST_F(LineWindowTest, ReturnPressesNoButton) {
  knownLine();
  window_->show();
  window_->scanPanel();
  ModuleDetailWindow* detail = window_->openDetail(0);
  ASSERT_NE(detail, nullptr);
  QWidget* calibration = detail->openCalibration();
  for (QWidget* w : {static_cast<QWidget*>(window_.get()), static_cast<QWidget*>(detail), calibration})
    for (QPushButton* b : w->findChildren<QPushButton*>())
      EXPECT_FALSE(b->isDefault() || b->autoDefault()) << b->objectName().toStdString();
}

// Readings per module address, as the driver thread hands them to the window.
struct PollCounter {
  QHash<int, int> polls;
  int batches = 0;
  explicit PollCounter(LineWorker* worker, QObject* context) {
    QObject::connect(worker, &LineWorker::readings, context, [this](const QVector<ModuleReading>& readings) {
      ++batches;
      for (const ModuleReading& r : readings) ++polls[r.address];
    });
  }
};

// A dead module is passed over for more and more rounds, so the healthy ones keep a reading
// every round: counted per module over a number of rounds, not timed.
TEST_F(LineWindowTest, DeadModuleBacksOffAndTheOthersKeepTheirRounds) {
  knownLine();
  connectLine();
  window_->findChild<QSpinBox*>(QStringLiteral("PollInterval"))->setValue(0);
  window_->startPolling();
  ASSERT_TRUE(pollsDone());
  sim_->withBus([](SimBus& bus) { bus.arm(1, SimFault{.kind = SimFault::Silent}); });
  const int dead = rowOf(Line[1]);
  ASSERT_TRUE(WaitFor([&] { return window_->model()->row(dead).silent; }));

  PollCounter counter(window_->worker(), window_.get());
  constexpr int Rounds = 64;
  ASSERT_TRUE(WaitFor([&] { return counter.polls.value(Line[0].address) >= Rounds; }));
  const int healthy = counter.polls.value(Line[0].address);
  EXPECT_GE(counter.polls.value(Line[2].address), healthy * 9 / 10);
  // 1, 3, 7, 15, 31 rounds passed over: about log2 of the rounds, a few more should the 5 s
  // cap strike on a slow machine.
  EXPECT_LE(counter.polls.value(Line[1].address), 10) << healthy;
  EXPECT_EQ(window_->model()->row(dead).outcome, ExchangeOutcome::Timeout);
  EXPECT_TRUE(cell(dead, LineModel::State).startsWith(QStringLiteral("neodpovídá"))) << cell(dead, LineModel::State).toStdString();

  // An action of the operator's on the module polls it in the next round.
  const int before = counter.polls.value(Line[1].address);
  window_->worker()->clearStatus(window_->model()->row(dead).module);
  ASSERT_TRUE(WaitFor([&] { return counter.polls.value(Line[0].address) >= healthy + 3; }));
  EXPECT_GT(counter.polls.value(Line[1].address), before);
}

// A spoilt answer is not silence: the overview names each (spoilt answers that keep coming
// while the other modules answer cleanly as two modules at the address), and the traffic pane
// and its export carry the bytes the spoilt answer brought.
TEST_F(LineWindowTest, DamagedAnswerIsToldFromSilenceAndItsBytesAreKept) {
  knownLine();
  connectLine();
  window_->findChild<QSpinBox*>(QStringLiteral("PollInterval"))->setValue(0);
  window_->startPolling();
  ASSERT_TRUE(pollsDone());
  const struct {
    const char* name;
    SimFault fault;
    ExchangeOutcome outcome;
    const char* state;
    bool bytes;
  } cases[] = {
      {"silent", SimFault{.kind = SimFault::Silent}, ExchangeOutcome::Timeout, "neodpovídá", false},
      {"bits flipped on the way", SimFault{.kind = SimFault::Malformed, .form = SimFault::FlippedBits},
       ExchangeOutcome::Damaged, "pravděpodobně dva moduly na adrese 5", true},
      {"a collision", SimFault{.kind = SimFault::Collision}, ExchangeOutcome::Damaged,
       "pravděpodobně dva moduly na adrese 5", true},
  };
  const int row = rowOf(Line[1]);
  TrafficModel* traffic = window_->trafficPanel()->model();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    traffic->clear();
    sim_->withBus([&](SimBus& bus) { bus.arm(1, c.fault); });
    EXPECT_TRUE(WaitFor([&] { return cell(row, LineModel::State).startsWith(QString::fromUtf8(c.state)); }))
        << cell(row, LineModel::State).toStdString();
    EXPECT_EQ(window_->model()->row(row).outcome, c.outcome);
    traffic->setFilter(TrafficFilter{.address = Line[1].address, .command = -1, .failuresOnly = true});
    // The records still queued from the case before may come after the clear: this case's
    // are those of its outcome.
    int first = -1;
    ASSERT_TRUE(WaitFor([&] {
      traffic->publish();
      int k = 0;
      traffic->forEachShown([&](const ExchangeRecord& r) {
        if (first < 0 && ClassifyExchangeStatus(r.status) == c.outcome) first = k;
        ++k;
      });
      return first >= 0;
    }));
    const QString answered = traffic->data(traffic->index(first, TrafficModel::Answered)).toString();
    traffic->forEachShown([&](const ExchangeRecord& r) {
      if (ClassifyExchangeStatus(r.status) == c.outcome) {
        EXPECT_EQ(r.receivedSize > 0, c.bytes);
      }
    });
    EXPECT_EQ(answered.startsWith(QStringLiteral("přijato ")), c.bytes) << answered.toStdString();
    const QString exported = dir_.filePath(QStringLiteral("provoz.txt"));
    QString error;
    ASSERT_TRUE(window_->trafficPanel()->exportTo(exported, error)) << error.toStdString();
    QFile exportFile(exported);
    ASSERT_TRUE(exportFile.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(exportFile.readAll());
    EXPECT_EQ(text.contains(QStringLiteral("< přijato ")), c.bytes);
    if (c.bytes) {
      EXPECT_TRUE(text.contains(answered.mid(answered.indexOf(QLatin1Char(':')) + 2))) << text.toStdString();
    }
    sim_->withBus([](SimBus& bus) { bus.clearFaults(1); });
    ASSERT_TRUE(WaitFor([&] { return !window_->model()->row(row).silent; }));
  }
}

// The overview's row of an address that two modules share says so while their answers collide,
// and answers again once a script has removed one of the two.
TEST_F(LineWindowTest, OverviewNamesTwoModulesAtOneAddressUntilOneIsRemoved) {
  knownLine();
  connectLine();
  window_->startPolling();
  const int row = rowOf(Line[1]);
  const std::pair<const char*, const char*> steps[] = {
      {R"({"cmd":"add","address":5,"baud":57600})", "pravděpodobně dva moduly na adrese 5"},
      {R"({"cmd":"remove","module":3})", "odpovídá"}};
  for (const auto& [request, state] : steps) {
    EXPECT_NE(SimControlExecute(*sim_, request).find(R"("ok":true)"), std::string::npos);
    EXPECT_TRUE(WaitFor([&] { return cell(row, LineModel::State).startsWith(QString::fromUtf8(state)); }))
        << cell(row, LineModel::State).toStdString();
    EXPECT_EQ(cell(rowOf(Line[2]), LineModel::State), QStringLiteral("odpovídá"));
  }
}

TEST_F(LineWindowTest, ModulesAddedAndRemovedByHandArePolledAndKept) {
  knownLine();
  connectLine();
  window_->findChild<QSpinBox*>(QStringLiteral("PollInterval"))->setValue(0);
  window_->startPolling();
  LineModule added;
  added.address = 9;  // nothing answers there
  added.baudCode = 4;
  window_->addModule(added);
  window_->addModule(added);  // once is enough
  ASSERT_EQ(window_->model()->rowCount(), 4);
  const int addedRow = window_->model()->rowOf(9, 4);
  ASSERT_TRUE(WaitFor([&] { return window_->model()->row(addedRow).polled; }));
  EXPECT_TRUE(window_->model()->row(addedRow).silent);

  window_->removeModule(rowOf(Line[0]));
  ASSERT_EQ(window_->model()->rowCount(), 3);
  EXPECT_LT(rowOf(Line[0]), 0);
  LineFile saved;
  QString error;
  ASSERT_TRUE(LoadLineFile(window_->linePath(), saved, error)) << error.toStdString();
  ASSERT_EQ(saved.modules.size(), 3);
  EXPECT_FALSE(saved.modules.contains(Module(Line[0])));
  EXPECT_TRUE(saved.modules.contains(added));
  // The polling follows: once the readings polled before the removal are in (the second
  // batch after it holds none of them), none comes for the module removed.
  PollCounter counter(window_->worker(), window_.get());
  ASSERT_TRUE(WaitFor([&] { return counter.batches >= 2; }));
  counter.polls.clear();
  ASSERT_TRUE(WaitFor([&] { return counter.polls.value(Line[2].address) >= 20; }));
  EXPECT_EQ(counter.polls.value(Line[0].address), 0);
}

// A file the workbench cannot write is said with its name and the reason, in red, and the
// text stays until the next save; nothing claims a success.

TEST_F(LineWindowTest, ALineThatCannotBeSavedSaysSoAndTheTextStays) {
  knownLine();
  auto* info = window_->findChild<QLabel*>(QStringLiteral("LineInfo"));
  ASSERT_NE(info, nullptr);
  const QString target = dir_.filePath(QStringLiteral("jinam.qx510line"));
  bool chosen = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(target);
    QMetaObject::invokeMethod(dialog, "accept");  // as the Save button
    chosen = true;
  });
  {
    FileSizeLimit limit(100);
    window_->saveLineAs();
  }
  ASSERT_TRUE(chosen);
  const QString said = QStringLiteral("Linku nelze uložit do %1: soubor by byl větší, než systém dovoluje").arg(target);
  EXPECT_EQ(info->text(), said);
  EXPECT_TRUE(info->styleSheet().contains(QStringLiteral("#b00000")));
  EXPECT_EQ(QDir(dir_.path()).entryList({QStringLiteral("jinam*")}, QDir::Files | QDir::Hidden), QStringList());
  window_->show();
  QTest::qWait(300);
  EXPECT_EQ(info->text(), said);
}

TEST_F(LineWindowTest, ALogThatFillsTheDiskStopsAndSaysSoUntilTheNextStart) {
  knownLine();
  connectLine();
  LogPanel* panel = window_->logPanel();
  const QString folder = dir_.filePath(QStringLiteral("log"));
  panel->setFolder(folder);
  panel->findChild<QListWidget*>(QStringLiteral("LogModules"))->item(rowOf(Line[1]))->setCheckState(Qt::Checked);
  {
    FileSizeLimit limit(1000);
    ASSERT_TRUE(panel->startLog());
    window_->startPolling();
    ASSERT_TRUE(WaitFor([&] { return panel->summary().contains(QStringLiteral("Záznam zastaven")); }));
  }
  const QStringList files = QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files);
  ASSERT_EQ(files.size(), 1);
  const QString file = QDir(folder).filePath(files.first());
  const QByteArray bytes = FileBytes(file);
  EXPECT_TRUE(bytes.endsWith('\n'));
  const QRegularExpression said(
      QStringLiteral("^Záznam zastaven: Zápis do (.+) selhal: soubor by byl větší, než systém dovoluje; v souboru "
                     "(?:je|jsou) (\\d+) řád(?:ek|ky|ků) záznamu \\((\\d+) B\\), poslední z .+\\.$"));
  const QRegularExpressionMatch m = said.match(panel->summary().trimmed());
  ASSERT_TRUE(m.hasMatch()) << panel->summary().toStdString();
  EXPECT_EQ(m.captured(1), file);
  EXPECT_EQ(bytes.count('\n'), m.captured(2).toInt() + 1);
  EXPECT_EQ(bytes.size(), m.captured(3).toInt());
  // The status bar and the panel keep saying it while the polling goes on.
  QTest::qWait(1300);
  EXPECT_EQ(window_->statusText(2).trimmed(), panel->summary().trimmed());
  EXPECT_TRUE(panel->summary().contains(QStringLiteral("Záznam zastaven")));
  EXPECT_TRUE(panel->findChild<QLabel*>(QStringLiteral("LogState"))->text().startsWith(QStringLiteral("Záznam zastaven")));
  EXPECT_EQ(FileBytes(file), bytes);
  window_->stopPolling();
}

class LineBackupTest : public LineWindowTest {
 protected:
  void SetUp() override {
    LineWindowTest::SetUp();
    knownLine();
    connectLine();
    panel_ = window_->backupPanel();
    path_ = dir_.filePath(QStringLiteral("zaloha.qx510line"));
    panel_->backupTo(path_);
    ASSERT_TRUE(finish()) << panel_->message().toStdString();
    ASSERT_EQ(panel_->file().images.size(), 3);
  }
  // Waits for the panel's work; true when it ended without a failure.
  bool finish() {
    EXPECT_TRUE(WaitFor([this] { return !panel_->busy(); }));
    return !panel_->messageIsFailure();
  }
  QByteArray fileBytes() const {
    QFile f(path_);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  QStringList column(int c) const {
    QStringList cells;
    for (int r = 0; r < panel_->differences()->rowCount(); ++r)
      cells << (panel_->differences()->item(r, c) ? panel_->differences()->item(r, c)->text() : QString());
    return cells;
  }

  BackupPanel* panel_ = nullptr;
  QString path_;
};

constexpr uint8_t DinByte1 = CfgAddr::DinNegation + CfgAddr::DigitalStride;

TEST_F(LineBackupTest, ASilentModuleIsListedMissingAndTheOthersAreBackedUp) {
  sim_->withBus([](SimBus& bus) { bus.arm(1, SimFault{.kind = SimFault::Silent}); });
  const QString partial = dir_.filePath(QStringLiteral("cast.qx510line"));
  panel_->backupTo(partial);
  EXPECT_FALSE(finish());  // saved, but shown as what it is: incomplete
  const QString message = panel_->message();
  EXPECT_TRUE(message.startsWith(QStringLiteral("Zálohovány 2 moduly do %1. Neodpověděl 1 modul, v záloze chybí: adresa 5, 57600 Bd (")
                                     .arg(partial)))
      << message.toStdString();
  LineFile file;
  QString error;
  ASSERT_TRUE(LoadLineFile(partial, file, error)) << error.toStdString();
  ASSERT_EQ(file.modules.size(), 3);
  EXPECT_EQ(file.images.size(), 2);
  for (const SimModuleSpec& s : Line) {
    const LineModule m = Module(s);
    EXPECT_EQ(file.isMissing(m), s.address == Line[1].address) << int(s.address);
    EXPECT_EQ(file.image(m) == nullptr, s.address == Line[1].address) << int(s.address);
  }
  // A restore offers what the file holds: the missing module cannot be ticked.
  auto* list = panel_->findChild<QListWidget*>(QStringLiteral("BackupModules"));
  ASSERT_EQ(list->count(), 3);
  EXPECT_FALSE(list->item(1)->flags() & Qt::ItemIsEnabled);
  EXPECT_TRUE(list->item(0)->flags() & Qt::ItemIsUserCheckable);

  // With no module answering, nothing is saved.
  for (int i = 0; i < 3; ++i) sim_->withBus([i](SimBus& bus) { bus.arm(i, SimFault{.kind = SimFault::Silent}); });
  const QByteArray before = fileBytes();
  panel_->backupTo(path_);
  EXPECT_FALSE(finish());
  EXPECT_TRUE(panel_->message().startsWith(QStringLiteral("Záloha nebyla uložena"))) << panel_->message().toStdString();
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(LineBackupTest, CompareNamesTheDriftAndRestoreLeavesCalibrationUnlessAsked) {
  const uint8_t gainBefore = sim_->snapshot(1).configByte(CfgAddr::VoltageGain);
  const uint8_t dinBefore = sim_->snapshot(1).configByte(DinByte1);
  sim_->withModule(1, [](SimModule& m) {
    m.setConfigByte(DinByte1, 0x5A);
    m.setConfigByte(CfgAddr::VoltageGain, 0x33);
  });

  panel_->compareWithFile();
  ASSERT_TRUE(finish()) << panel_->message().toStdString();
  EXPECT_EQ(column(1), QStringList({QString::number(CfgAddr::VoltageGain), QString::number(DinByte1)}));
  // Named and decoded as the settings windows show them: input bits 8-15 live in this byte.
  EXPECT_EQ(column(2), QStringList({QStringLiteral("Kalibrace napětí: zesílení, nižší bajt"), QStringLiteral("Negace DIN, bajt 1")}));
  EXPECT_EQ(column(3).last(), QStringLiteral("0x5a (bity 9, 11, 12, 14)"));

  struct Case {
    bool calibration;
    uint8_t gainAfter;
  };
  for (const Case c : {Case{false, 0x33}, Case{true, gainBefore}}) {
    panel_->setChecked({1});
    panel_->setSelection(c.calibration, false);
    panel_->restoreChecked();
    ASSERT_TRUE(finish()) << panel_->message().toStdString();
    EXPECT_EQ(sim_->snapshot(1).configByte(DinByte1), dinBefore);
    EXPECT_EQ(sim_->snapshot(1).configByte(CfgAddr::VoltageGain), c.gainAfter);
  }

  // Two modules of the line differ in their address and rate only.
  panel_->compareModules(0, 2);
  ASSERT_TRUE(finish()) << panel_->message().toStdString();
  EXPECT_EQ(column(1), QStringList({QString::number(CfgAddr::BusAddress), QString::number(CfgAddr::BaudCode)}));
}

TEST_F(LineBackupTest, RestoreCutByPowerLossIsReportedAndTheFileIsUnchanged) {
  const QByteArray before = fileBytes();
  sim_->withModule(1, [](SimModule& m) {
    for (int j = 0; j < 4; ++j) m.setConfigByte(CfgAddr::DinNegation + j * CfgAddr::DigitalStride, uint8_t(0x10 + j));
  });
  sim_->withBus([](SimBus& bus) { bus.arm(1, SimFault{.kind = SimFault::PowerLoss, .afterWrites = 2}); });
  panel_->setChecked({1});
  panel_->restoreChecked();
  EXPECT_FALSE(finish());
  EXPECT_TRUE(panel_->message().contains(QStringLiteral("NEBYLA"))) << panel_->message().toStdString();
  EXPECT_TRUE(panel_->message().contains(QStringLiteral("Adresa 5"))) << panel_->message().toStdString();
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(LineBackupTest, RestoreRefusesAModuleOfAnotherType) {
  sim_->withModule(1, [](SimModule& m) { m.setConfigByte(DinByte1, 0x5A); });
  LineModule other = panel_->file().modules[1];
  const ConfigImage wanted = *panel_->file().image(other);
  other.ident = QStringLiteral("QX-999   v.1.00");
  QVector<RestoreReport> reports;
  QObject::connect(window_->worker(), &LineWorker::restored, window_.get(),
                   [&](const QVector<RestoreReport>& r) { reports = r; });
  window_->worker()->restore({RestoreJob{other, wanted, ImageSelection{}}});
  ASSERT_TRUE(WaitFor([&] { return !reports.isEmpty(); }));
  EXPECT_FALSE(reports[0].ok());
  EXPECT_TRUE(reports[0].text.contains(QStringLiteral("jiný modul"))) << reports[0].text.toStdString();
  EXPECT_EQ(sim_->snapshot(1).configByte(DinByte1), 0x5A);
}

TEST_F(LineBackupTest, ABackupThatCannotBeWrittenSaysSoAndKeepsTheFile) {
  const QByteArray before = fileBytes();
  {
    FileSizeLimit limit(100);
    panel_->backupTo(path_);
    EXPECT_FALSE(finish());
  }
  const QString said = QStringLiteral("Zálohu nelze uložit do %1: soubor by byl větší, než systém dovoluje").arg(path_);
  EXPECT_EQ(panel_->message(), said);
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(QDir(dir_.path()).entryList({QStringLiteral("zaloha*")}, QDir::Files | QDir::Hidden),
            QStringList{QStringLiteral("zaloha.qx510line")});
  QTest::qWait(300);
  EXPECT_EQ(panel_->message(), said);
  EXPECT_TRUE(panel_->messageIsFailure());

  // A device or a FIFO is refused before the line is read, and stays what it was.
  const QString null = PrivateCharDevice(dir_.filePath(QStringLiteral("null")), "null");
  if (null.isEmpty()) GTEST_SKIP() << "no character device of the test's own";
  ASSERT_TRUE(MakeFifo(dir_.filePath(QStringLiteral("fifo"))));
  const struct {
    QString path;
    mode_t type;
    const char* kind;
  } targets[] = {{null, S_IFCHR, "znakové zařízení"},
                 {dir_.filePath(QStringLiteral("fifo")), S_IFIFO, "roura (FIFO)"}};
  for (const auto& t : targets) {
    SCOPED_TRACE(t.path.toStdString());
    panel_->backupTo(t.path);
    EXPECT_FALSE(panel_->busy());
    EXPECT_TRUE(panel_->messageIsFailure());
    EXPECT_EQ(panel_->message(), QStringLiteral("Zálohu nelze uložit do %1: není obyčejný soubor, je to %2")
                                     .arg(t.path, QString::fromUtf8(t.kind)));
    EXPECT_EQ(NodeType(t.path), t.type);
  }
}

// The eight negation bytes, written in this order by a restore.
std::vector<uint8_t> NegationBytes() {
  std::vector<uint8_t> bytes;
  for (uint8_t base : {CfgAddr::DinNegation, CfgAddr::DoutNegation})
    for (int j = 0; j < 4; ++j) bytes.push_back(uint8_t(base + j * CfgAddr::DigitalStride));
  return bytes;
}

TEST_F(LineBackupTest, ClosingDuringARestoreAsksAndReportsWhatTheModuleHolds) {
  const std::vector<uint8_t> bytes = NegationBytes();
  const ConfigImage wanted = *panel_->file().image(panel_->file().modules[1]);
  auto spoil = [&] {
    sim_->withModule(1, [&](SimModule& m) {
      for (uint8_t a : bytes) m.setConfigByte(a, uint8_t(wanted.at(a) ^ 0x5A));
    });
  };
  auto restoredBytes = [&] {
    int n = 0;
    for (uint8_t a : bytes) n += sim_->snapshot(1).configByte(a) == wanted.at(a);
    return n;
  };
  // Each write answered late, so that the restore is still under way when the window closes.
  sim_->withBus([](SimBus& bus) {
    bus.arm(1, SimFault{.kind = SimFault::Delay, .command = Cmd::WriteConfigByte, .delayMs = 40});
  });
  window_->show();
  panel_->setChecked({1});

  // The window's own question: Return answers nothing, Escape says no; the window stays and the
  // restore runs to its end.
  spoil();
  bool returnAnswered = true, noFocused = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    for (QPushButton* b : box->findChildren<QPushButton*>()) EXPECT_FALSE(b->isDefault()) << b->text().toStdString();
    noFocused = box->focusWidget() != nullptr && box->focusWidget() == box->escapeButton();
    QTest::keyClick(box, Qt::Key_Return);
    returnAnswered = QApplication::activeModalWidget() != box;
    QTest::keyClick(box, Qt::Key_Escape);
  });
  panel_->restoreChecked();
  window_->close();
  EXPECT_FALSE(returnAnswered);
  EXPECT_TRUE(noFocused);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(finish()) << panel_->message().toStdString();
  EXPECT_EQ(restoredBytes(), int(bytes.size()));

  // Yes, once the first byte is in: the restore stops at the next byte, and only then the
  // window closes, having told what the module holds.
  spoil();
  window_->setQuestion([&](const QString& question) {
    EXPECT_TRUE(question.contains(QStringLiteral("obnovují"))) << question.toStdString();
    QDeadlineTimer deadline(20000);
    while (restoredBytes() == 0 && !deadline.hasExpired()) QThread::msleep(1);
    return true;
  });
  panel_->restoreChecked();
  window_->close();
  EXPECT_TRUE(window_->isVisible());
  ASSERT_TRUE(WaitFor([&] { return !window_->isVisible(); }));
  const int written = restoredBytes();
  EXPECT_GE(written, 1);
  EXPECT_LT(written, int(bytes.size()));
  EXPECT_TRUE(panel_->message().contains(
      QStringLiteral("zapsáno a ověřeno %1 z %2 bajtů").arg(written).arg(bytes.size())))
      << panel_->message().toStdString();
  EXPECT_TRUE(panel_->message().contains(QStringLiteral("jen zčásti"))) << panel_->message().toStdString();
}

// A backup holding a value the settings windows never write is refused per module before
// anything is written, by the panel and by the driver thread alike.
TEST_F(LineBackupTest, RestoreRefusesARangeByteOrBaudCodeTheWindowsNeverWrite) {
  const struct {
    const char* name;
    uint8_t address, value;
    bool lineSettings;
  } cases[] = {
      {"range byte 7", CfgAddr::AinRange, 7, false},
      {"baud code 12", CfgAddr::BaudCode, 12, true},
  };
  const LineFile backup = panel_->file();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim_->withModule(1, [](SimModule& m) { m.setConfigByte(DinByte1, 0x5A); });  // something to restore
    LineFile edited = backup;
    const LineModule module = edited.modules[1];
    edited.images[ModuleKey(module)].bytes[c.address] = c.value;
    const QString path = dir_.filePath(QStringLiteral("upravena.qx510line"));
    QString error;
    ASSERT_TRUE(SaveLineFile(path, edited, error)) << error.toStdString();
    ASSERT_TRUE(panel_->openFile(path));
    const SimModule::Memory before = sim_->snapshot(1).memory();
    // The line is polled meanwhile; a restore would identify the module and write.
    const uint64_t serial = sim_->requestCount();
    const auto restoreTraffic = [&] {
      int n = 0;
      for (const SimLogEntry& e : sim_->logSince(serial))
        n += e.request.command == Cmd::Identify || e.request.command == Cmd::WriteConfigByte;
      return n;
    };

    panel_->setChecked({0, 1});
    panel_->setSelection(false, c.lineSettings);
    panel_->restoreChecked();
    EXPECT_FALSE(finish());
    EXPECT_TRUE(panel_->message().startsWith(QStringLiteral("Obnova odmítnuta, nic nezapsáno"))) << panel_->message().toStdString();
    EXPECT_TRUE(panel_->message().contains(QStringLiteral("adresa 5, 57600 Bd"))) << panel_->message().toStdString();
    ASSERT_EQ(panel_->differences()->rowCount(), 1);
    EXPECT_EQ(column(0), QStringList{QStringLiteral("adresa 5, 57600 Bd")});
    EXPECT_EQ(column(1), QStringList{QString::number(c.address)});
    EXPECT_TRUE(column(5).first().contains(QStringLiteral("nelze zapsat"))) << column(5).first().toStdString();

    // The driver thread refuses the same job without a word to the module.
    QVector<RestoreReport> reports;
    const QMetaObject::Connection spy = QObject::connect(window_->worker(), &LineWorker::restored, window_.get(),
                                                         [&](const QVector<RestoreReport>& r) { reports = r; });
    window_->worker()->restore({RestoreJob{module, *panel_->file().image(module), ImageSelection{c.lineSettings, false}}});
    ASSERT_TRUE(WaitFor([&] { return !reports.isEmpty(); }));
    QObject::disconnect(spy);
    EXPECT_EQ(reports[0].result.outcome, RestoreResult::Refused);
    EXPECT_TRUE(reports[0].text.startsWith(QStringLiteral("odmítnuto, nic nezapsáno"))) << reports[0].text.toStdString();

    EXPECT_EQ(restoreTraffic(), 0);
    EXPECT_EQ(sim_->snapshot(1).memory(), before);
    EXPECT_EQ(sim_->snapshot(0).memory()[DinByte1], panel_->file().image(panel_->file().modules[0])->at(DinByte1));
  }
}

// Restores that change a module's range, to current and back to voltage: the overview, the
// detail and the log show the next values in the unit the module now uses, never volts scaled
// as milliamperes or amperes shown as volts.
TEST_F(LineBackupTest, AfterARestoreChangesTheRangeTheValuesCarryTheNewUnit) {
  const int row = rowOf(Line[1]);
  sim_->withModule(1, [](SimModule& m) {
    m.setSourceCurrent(12.5);
    m.setSourceVoltage(7.662);
  });
  LineFile toCurrent = panel_->file();
  toCurrent.images[ModuleKey(toCurrent.modules[1])].bytes[CfgAddr::AinRange] = 1;
  const QString currentPath = dir_.filePath(QStringLiteral("proud.qx510line"));
  QString error;
  ASSERT_TRUE(SaveLineFile(currentPath, toCurrent, error)) << error.toStdString();

  window_->findChild<QSpinBox*>(QStringLiteral("PollInterval"))->setValue(0);
  window_->startPolling();
  const auto shown = [&] {
    const auto& last = window_->model()->row(row).last;
    return last ? std::optional<ModuleReading>(*last) : std::nullopt;
  };
  // The log starts once the values given above are read.
  ASSERT_TRUE(WaitFor([&] { return shown() && !shown()->current && std::abs(shown()->ain0 - 7.662) < 0.001; }));
  LogPanel* log = window_->logPanel();
  const QString folder = dir_.filePath(QStringLiteral("log"));
  log->setFolder(folder);
  auto* list = log->findChild<QListWidget*>(QStringLiteral("LogModules"));
  list->item(row)->setCheckState(Qt::Checked);
  ASSERT_TRUE(log->startLog());
  window_->show();
  ModuleDetailWindow* detail = window_->openDetail(row);
  ASSERT_NE(detail, nullptr);
  auto* value = detail->findChild<QLabel*>(QStringLiteral("Ain0Value"));
  ASSERT_NE(value, nullptr);

  const struct {
    const char* name;
    QString file;
    uint8_t range;
    double value;
    const char* unit;
  } steps[] = {
      {"to current", currentPath, 1, 12.5, " mA"},
      {"back to voltage", path_, 0, 7.662, " V"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    ASSERT_TRUE(panel_->openFile(step.file));
    panel_->setChecked({1});
    panel_->setSelection(false, false);
    panel_->restoreChecked();
    ASSERT_TRUE(finish()) << panel_->message().toStdString();
    ASSERT_EQ(sim_->snapshot(1).configByte(CfgAddr::AinRange), step.range);
    // The first value polled after the restore, whichever: readings reach the window in batches.
    const qint64 restored = QDateTime::currentMSecsSinceEpoch();
    ASSERT_TRUE(WaitFor([&] { return shown() && shown()->timeMs >= restored; }));
    EXPECT_EQ(shown()->current, step.range == 1);
    EXPECT_NEAR(shown()->ain0, step.value, 0.01);
    window_->model()->flush();
    EXPECT_TRUE(cell(row, LineModel::Ain0).endsWith(QString::fromUtf8(step.unit))) << cell(row, LineModel::Ain0).toStdString();
    EXPECT_TRUE(WaitFor([&] { return value->text().endsWith(QString::fromUtf8(step.unit)); })) << value->text().toStdString();
  }
  log->stopLog();
  window_->stopPolling();

  const QStringList lines = LogFileLines(folder);
  ASSERT_GT(lines.size(), 2);
  // Every row holds either the current in mA or the voltage in V; both were logged.
  QSet<QString> units;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QStringList cells = lines[i].split(QLatin1Char(';'));
    ASSERT_EQ(cells.size(), 7) << lines[i].toStdString();
    units.insert(cells[5]);
    EXPECT_NEAR(QLocale(QLocale::Czech).toDouble(cells[4]), cells[5] == QLatin1String("mA") ? 12.5 : 7.662, 0.01)
        << lines[i].toStdString();
  }
  EXPECT_EQ(units, (QSet<QString>{QStringLiteral("mA"), QStringLiteral("V")}));
  EXPECT_TRUE(lines.last().endsWith(QStringLiteral(";V;"))) << lines.last().toStdString();
}

}  // namespace
