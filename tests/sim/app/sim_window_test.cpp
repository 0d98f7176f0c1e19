// The simulator window against a line a script changes underneath it: the selection stays
// with its module, the bench follows every change, a flood of exchanges wakes the window once
// per refresh; and the traffic pane's rows, filters, cap and export.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDoubleSpinBox>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "sim/app/sim_window.h"
#include "sim/app/traffic_model.h"
#include "sim/app/traffic_pane.h"
#include "sim/control/sim_control.h"
#include "sim/sim_server.h"
#include "tests/sim/sim_line.h"
#include "tests/support/file_faults.h"

namespace {

class SimWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    sim_ = StartLine(dir_, {{0, 4}, {5, 4}, {9, 4}});
    ASSERT_TRUE(sim_);
  }
  void Ctl(const std::string& line) {
    const std::string reply = SimControlExecute(*sim_, line);
    ASSERT_EQ(reply, R"({"ok":true})") << line;
  }
  // Requests through the serving path, as a driver's would arrive.
  void Serve(uint8_t address, uint8_t command, int times = 1) {
    simproto::Request r;
    r.rate = 9600;
    r.address = address;
    r.command = command;
    for (int i = 0; i < times; ++i) {
      const auto frame = simproto::EncodeRequest(r);
      sim_->handleFrame(frame.data(), frame.size(), SimLogEntry::Local);
    }
  }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
};

TEST_F(SimWindowTest, SelectionStaysWithItsModuleAndTheBenchFollowsEveryChange) {
  SimWindow window(sim_.get(), "127.0.0.1", "");
  window.show();
  // A laptop's 1366 x 768 holds it, frame and desktop panels included; the panels scroll.
  EXPECT_LE(window.minimumSizeHint().width(), 1300);
  EXPECT_LE(window.minimumSizeHint().height(), 700);
  EXPECT_LE(window.width(), 1300);
  EXPECT_LE(window.height(), 700);
  auto* table = window.findChild<QTableWidget*>("ModuleTable");
  auto* voltage = window.findChild<QDoubleSpinBox*>("VoltageSpin");
  auto* switch3 = window.findChild<QToolButton*>("Switch3");
  table->setCurrentCell(1, 0);  // the module at address 5
  ASSERT_EQ(window.selectedModule(), 1);

  // A script removes the module before it: the window still drives the module at address 5.
  Ctl(R"({"cmd":"remove","module":0})");
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.selectedModule() == 0; }));
  switch3->click();
  EXPECT_EQ(sim_->snapshot(0).inputSwitches(), 0x8u);
  EXPECT_EQ(sim_->snapshot(1).inputSwitches(), 0x0u);

  // Changes made through the control channel show in the bench fields.
  Ctl(R"({"cmd":"voltage","module":0,"volts":3.5})");
  Ctl(R"({"cmd":"inputs","module":0,"value":129})");
  Ctl(R"({"cmd":"short","module":0,"on":true})");
  ASSERT_TRUE(QTest::qWaitFor([&] { return voltage->value() == 3.5; }));
  EXPECT_TRUE(window.findChild<QToolButton*>("Switch0")->isChecked());
  EXPECT_TRUE(window.findChild<QToolButton*>("Switch7")->isChecked());
  EXPECT_FALSE(switch3->isChecked());
  EXPECT_TRUE(window.findChild<QWidget*>("ShortBox")->property("checked").toBool());
  EXPECT_EQ(sim_->snapshot(0).sourceVoltage(), 3.5) << "showing a change must not send it back altered";

  // The selected module itself goes: nothing is selected and the bench cannot drive anything.
  Ctl(R"({"cmd":"remove","module":0})");
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.selectedModule() == -1; }));
  EXPECT_FALSE(switch3->isEnabled());
  EXPECT_FALSE(voltage->isEnabled());
  EXPECT_FALSE(window.findChild<QWidget*>("ArmFaultButton")->isEnabled());
  EXPECT_TRUE(table->selectedItems().isEmpty());
  switch3->click();
  EXPECT_EQ(sim_->snapshot(0).inputSwitches(), 0x0u);

  // Until the operator picks one.
  table->setCurrentCell(0, 0);
  EXPECT_EQ(window.selectedModule(), 0);
  EXPECT_TRUE(switch3->isEnabled());
  switch3->click();
  EXPECT_EQ(sim_->snapshot(0).inputSwitches(), 0x8u);
}

// Every change calls the server's listener; the window's thread must be woken once per
// refresh at most, not once per change.
// The turnaround is the selected module's, set from the window or a script alike.
TEST_F(SimWindowTest, TurnaroundFollowsTheSelectedModule) {
  SimWindow window(sim_.get(), "127.0.0.1", "");
  auto* table = window.findChild<QTableWidget*>("ModuleTable");
  auto* spin = window.findChild<QDoubleSpinBox*>("TurnaroundSpin");
  table->setCurrentCell(2, 0);
  spin->setValue(7.25);
  EXPECT_EQ(sim_->busSnapshot().entry(2).turnaround, std::chrono::microseconds(7250));
  EXPECT_EQ(sim_->busSnapshot().entry(0).turnaround, wire::DefaultTurnaround);
  Ctl(R"({"cmd":"turnaround","module":1,"ms":3})");
  table->setCurrentCell(1, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return spin->value() == 3.0; }));
  EXPECT_TRUE(QTest::qWaitFor([&] { return table->item(1, 5)->text().startsWith("3"); }));
}

TEST_F(SimWindowTest, AFloodOfRequestsWakesTheWindowOncePerRefresh) {
  SimWindow window(sim_.get(), "127.0.0.1", "");
  struct Counter : QObject {
    int posted = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::MetaCall) ++posted;
      return false;
    }
  } counter;
  window.installEventFilter(&counter);
  QSignalSpy refreshes(window.findChild<QTimer*>("RefreshTimer"), &QTimer::timeout);
  for (int round = 0; round < 3; ++round) {
    Serve(0, 100, 200);
    QCoreApplication::processEvents();
  }
  EXPECT_LE(counter.posted, refreshes.count() + 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return refreshes.count() > 0; }));
  const auto* traffic = window.findChild<SimTrafficModel*>();
  EXPECT_EQ(traffic->received(), 600u);
}

SimLogEntry Entry(uint64_t serial, int module, uint8_t command, std::optional<uint8_t> status, const char* note = "") {
  SimLogEntry e;
  e.serial = serial;
  e.module = module;
  e.request.command = command;
  if (status) {
    e.answer.emplace();
    e.answer->status = *status;
  }
  e.note = note;
  return e;
}

TEST(TrafficModelTest, FiltersCapAndExport) {
  SimTrafficModel model;
  std::vector<SimLogEntry> batch;
  uint64_t serial = 0;
  // Per module m: 100 (ok), 102 refused, 103 silent with a fault.
  for (int m = 0; m < 3; ++m) {
    batch.push_back(Entry(++serial, m, 100, 0));
    batch.push_back(Entry(++serial, m, 102, 21));
    batch.push_back(Entry(++serial, m, 103, std::nullopt, "porucha: bez odpovědi, \"A\""));
  }
  model.append(batch);
  EXPECT_EQ(model.rowCount(), 9);

  struct Case {
    const char* name;
    SimTrafficFilter filter;
    int rows;
  };
  const Case cases[] = {
      {"module 1", {.module = 1}, 3},
      {"command 102", {.command = 102}, 3},
      {"refused", {.status = SimTrafficFilter::Refused}, 3},
      {"silent, module 2", {.module = 2, .status = SimTrafficFilter::Silent}, 1},
      {"faulted", {.status = SimTrafficFilter::Faulted}, 3},
      {"ok, command 103", {.command = 103, .status = SimTrafficFilter::Ok}, 0},
      {"everything", {}, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    model.setFilter(c.filter);
    EXPECT_EQ(model.rowCount(), c.rows);
  }

  // Rows that arrive later pass the same filter; a gap in the serials is counted as lost.
  model.setFilter({.module = 0});
  model.append({Entry(serial + 5, 0, 1, 0), Entry(serial + 6, 1, 1, 0)});
  EXPECT_EQ(model.rowCount(), 4);
  EXPECT_EQ(model.skipped(), 4u);

  QBuffer csv;
  csv.open(QIODevice::WriteOnly);
  model.writeCsv(csv);
  const QList<QByteArray> lines = csv.data().split('\n');
  ASSERT_EQ(lines.size(), 6);  // header, four rows, the empty end
  EXPECT_TRUE(lines[0].startsWith("pořadí,čas,spojení,modul,")) << lines[0].toStdString();
  EXPECT_TRUE(lines[3].contains(",\"porucha: bez odpovědi, \"\"A\"\"\"")) << lines[3].toStdString();

  // However many arrive, the shown rows stay capped, the newest kept.
  model.setFilter({});
  std::vector<SimLogEntry> flood;
  for (size_t i = 0; i < SimTrafficModel::MaxRows + 10; ++i) flood.push_back(Entry(serial + 7 + i, 0, 100, 0));
  model.append(flood);
  EXPECT_EQ(size_t(model.rowCount()), SimTrafficModel::MaxRows);
  EXPECT_EQ(model.entry(model.rowCount() - 1).serial, flood.back().serial);
}

// An export that cannot be written whole leaves the earlier one as it was; a device or FIFO
// chosen as the file is refused and stays what it was.
TEST(TrafficPaneTest, AFailedExportKeepsTheEarlierFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TrafficPane pane;
  pane.model()->append({Entry(1, 0, 100, 0), Entry(2, 1, 102, 21)});
  const QString path = dir.filePath(QStringLiteral("provoz.csv"));
  QString error;
  ASSERT_TRUE(pane.exportCsv(path, &error)) << error.toStdString();
  const QByteArray before = FileBytes(path);
  std::vector<SimLogEntry> more;
  for (uint64_t serial = 3; serial < 20; ++serial) more.push_back(Entry(serial, 0, 100, 0));
  pane.model()->append(more);
  {
    FileSizeLimit limit(before.size());
    EXPECT_FALSE(pane.exportCsv(path, &error));
  }
  EXPECT_EQ(error, QStringLiteral("soubor by byl větší, než systém dovoluje"));
  EXPECT_EQ(FileBytes(path), before);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("provoz.csv")});

  const std::vector<OddNode> nodes = OddNodes(dir.path());
  if (nodes.empty()) GTEST_SKIP() << "no character device of the test's own";
  for (const OddNode& node : nodes) {
    SCOPED_TRACE(node.path.toStdString());
    EXPECT_FALSE(pane.exportCsv(node.path, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("není obyčejný soubor"))) << error.toStdString();
    EXPECT_EQ(NodeType(node.path), node.type);
  }
}

}  // namespace
