// New modules put in service and a line moved to another rate from the workbench, against an
// in-process simulated line through the stand-in drivers and the workbench's driver thread.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <optional>

#include "base/commission/module_place.h"
#include "base/config/line_file.h"
#include "base/exchange/commands.h"
#include "base/text/baud.h"
#include "line/app/line_window.h"
#include "line/commission/commission_run.h"
#include "line/commission/commissioning_window.h"
#include "line/commission/line_rate_window.h"
#include "line/poll/line_model.h"
#include "tests/line/simulated_workbench.h"
#include "tests/sim/sim_line.h"

namespace {

struct CommissioningTest : ::testing::Test {
  QTemporaryDir dir;
  std::unique_ptr<SimServer> sim;
  std::optional<SimulatedWorkbench> workbench;
  std::optional<LineWindow> window;

  // The workbench connected to a simulated line of `modules`, its line file in the test's folder.
  void open(std::vector<SimModuleSpec> modules) {
    sim = StartLine(dir, modules);
    ASSERT_NE(sim, nullptr);
    workbench.emplace(dir, *sim);
    window.emplace();
    window->setLinePath(dir.filePath("linka.qx510line"));
    for (const SimModuleSpec& s : modules) {
      LineModule m;
      m.address = s.address;
      m.baudCode = s.baudCode;
      window->addModule(m);
    }
    window->connectLine();
    ASSERT_TRUE(WaitFor([&] { return window->isConnected(); }));
  }
  void TearDown() override { window.reset(); }
  void deliver() {
    sim->withBus([](SimBus& bus) { ASSERT_TRUE(bus.add(0, 4)); });
  }
  int writes() const {
    int n = 0;
    for (const SimLogEntry& e : sim->logSince(0)) n += e.request.command == Cmd::WriteConfigByte;
    return n;
  }
  // The power cycle the window asks for, done on the simulated line and confirmed.
  template <typename W>
  bool cyclePower(W* w) {
    if (!WaitFor([&] { return w->waitingForPowerCycle(); })) return false;
    sim->withBus([](SimBus& bus) { bus.powerCycleAll(); });
    w->confirmPowerCycle();
    return WaitFor([&] { return !w->run()->busy(); });
  }
  QStringList linePlaces() {
    LineFile saved;
    QString error;
    EXPECT_TRUE(LoadLineFile(window->linePath(), saved, error)) << error.toStdString();
    QStringList places;
    for (const LineModule& m : saved.modules) places << QStringLiteral("%1@%2 %3").arg(m.address).arg(m.baudCode).arg(m.tag);
    places.sort();
    return places;
  }
};

TEST_F(CommissioningTest, FourDeliveredModulesGoIntoTheLineOneAfterAnotherAndIntoTheProtocol) {
  open({{31, 4}});
  // The line's module gives the template: its range and output negation, never its calibration.
  sim->withModule(0, [](SimModule& m) {
    m.setConfigByte(CfgAddr::AinRange, 1);
    m.setConfigByte(CfgAddr::DoutNegation, 0x0F);
    m.setConfigByte(CfgAddr::VoltageGain, 0x55);
  });
  const struct {
    ModulePlace to;
    const char* tag;
  } planned[] = {{{1, 5}, "TT-101"}, {{2, 5}, "TT-102"}, {{3, 8}, "TT-103"}, {{4, 0}, "TT-104"}};
  CommissioningWindow* w = window->openCommissioning();
  w->setPowerWaitMs(5000);
  w->setDelivery({0, 4});
  for (const auto& p : planned) w->addPlanned(p.to, QLatin1String(p.tag));
  w->findChild<QComboBox*>(QStringLiteral("Template"))->setCurrentIndex(1);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    deliver();
    w->startNext();
    ASSERT_TRUE(cyclePower(w)) << w->message().toStdString();
    EXPECT_EQ(w->plan()->item(i, CommissioningWindow::StateColumn)->text(), QStringLiteral("uveden do provozu"))
        << w->message().toStdString();
    const SimModule m = sim->snapshot(i + 1);
    EXPECT_EQ(m.busAddress(), planned[i].to.address);
    EXPECT_EQ(m.configByte(CfgAddr::AinRange), 1);
    EXPECT_EQ(m.configByte(CfgAddr::DoutNegation), 0x0F);
    EXPECT_EQ(m.configByte(CfgAddr::VoltageGain), SimModule::FactoryMemory()[CfgAddr::VoltageGain]);
  }
  EXPECT_EQ(linePlaces(), (QStringList{"1@5 TT-101", "2@5 TT-102", "31@4 ", "3@8 TT-103", "4@0 TT-104"}));

  if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) GTEST_SKIP() << "pdftotext missing";
  QString error;
  const QString pdf = dir.filePath("protokol.pdf");
  ASSERT_TRUE(w->saveProtocol(pdf, error)) << error.toStdString();
  QProcess text;
  text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
  ASSERT_TRUE(text.waitForFinished(60000));
  const QString out = QString::fromUtf8(text.readAllStandardOutput());
  EXPECT_TRUE(out.contains(QStringLiteral("Uvedeno do provozu: 4 z 4"))) << out.toStdString();
  for (const auto& p : planned)
    EXPECT_TRUE(out.contains(QStringLiteral("Modul %1: %2").arg(QLatin1String(p.tag), PlaceText(p.to)))) << out.toStdString();
  EXPECT_EQ(out.count(QStringLiteral("Rozsah AIN 0:")), 4) << out.toStdString();
}

// What the delivery place holds decides how the first step ends; nothing is written unless
// exactly one module answers there, and a step that found nobody can be run again.
TEST_F(CommissioningTest, TheDeliveryPlaceMustHoldExactlyOneModuleBeforeAnythingIsWritten) {
  open({{31, 4}});
  CommissioningWindow* w = window->openCommissioning();
  w->setDelivery({0, 4});
  w->addPlanned({5, 4}, QStringLiteral("TT-105"));
  const struct {
    const char* what;
    int delivered;
    const char* says;
  } cases[] = {{"two modules: refused", 2, "pravděpodobně dva moduly na adrese 0"},
               {"none: where it was looked for", 0, "Krok lze zopakovat"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim->withBus([](SimBus& bus) {
      while (bus.size() > 1) bus.remove(bus.size() - 1);
    });
    for (int i = 0; i < c.delivered; ++i) deliver();
    w->startNext();
    ASSERT_TRUE(WaitFor([&] { return !w->run()->busy(); }));
    EXPECT_TRUE(w->message().contains(QString::fromUtf8(c.says))) << w->message().toStdString();
    EXPECT_EQ(writes(), 0);
    EXPECT_EQ(linePlaces(), QStringList{"31@4 "});
  }
  // The module connected now, the step that found nobody is run again and the rest follow.
  deliver();
  w->retryStep();
  ASSERT_TRUE(cyclePower(w)) << w->message().toStdString();
  EXPECT_EQ(linePlaces(), (QStringList{"31@4 ", "5@4 TT-105"}));
}

// The workbench closed while the driver thread waits for the operator's power cycle: it ends,
// and the line keeps what it had.
TEST_F(CommissioningTest, TheWorkbenchClosedWhileAPowerCycleIsAwaitedEnds) {
  open({{31, 4}});
  CommissioningWindow* w = window->openCommissioning();
  w->addPlanned({5, 4}, QString());
  deliver();
  w->startNext();
  ASSERT_TRUE(WaitFor([&] { return w->waitingForPowerCycle(); }));
  const QString path = window->linePath();
  window.reset();
  LineFile saved;
  QString error;
  ASSERT_TRUE(LoadLineFile(path, saved, error)) << error.toStdString();
  EXPECT_EQ(saved.modules.size(), 1);
}

// A line of four moved to 115200 Bd; the module at address 2 refuses the write and keeps its
// rate: the final table and the line file say where each answers.
TEST_F(CommissioningTest, ALineOfFourMovedToAnotherRateEndsInTheTableOfWhereEachAnswers) {
  open({{1, 4}, {2, 4}, {3, 7}, {4, 4}});
  sim->withBus([](SimBus& bus) { bus.arm(1, {.kind = SimFault::Refuse, .command = Cmd::WriteConfigByte, .status = 23}); });
  LineRateWindow* w = window->openLineRate();
  w->setQuestion([](const QString&) { return true; });
  w->setPowerWaitMs(5000);
  w->setRate(8);
  w->changeRate();
  ASSERT_TRUE(cyclePower(w)) << w->message().toStdString();
  QStringList rows;
  for (int r = 0; r < w->table()->rowCount(); ++r)
    rows << w->table()->item(r, LineRateWindow::WriteColumn)->text().section(QLatin1Char(':'), 0, 0) + QLatin1Char('|') +
                w->table()->item(r, LineRateWindow::NowColumn)->text();
  EXPECT_EQ(rows, (QStringList{"zapsáno|adresa 1, 115200 Bd", "odmítnuto|adresa 2, 9600 Bd", "zapsáno|adresa 3, 115200 Bd",
                               "zapsáno|adresa 4, 115200 Bd"}))
      << w->message().toStdString();
  EXPECT_EQ(linePlaces(), (QStringList{"1@8 ", "2@4 ", "3@8 ", "4@8 "}));
  EXPECT_GE(window->model()->rowOf(2, 4), 0);
}

}  // namespace
