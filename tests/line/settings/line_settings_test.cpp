// Several modules' settings at once, and a module followed to its new address, against an
// in-process simulated line through the stand-in drivers and the workbench's driver thread.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <optional>

#include "base/config/line_file.h"
#include "base/exchange/commands.h"
#include "line/app/line_window.h"
#include "line/poll/line_model.h"
#include "line/poll/line_worker.h"
#include "line/settings/line_settings_window.h"
#include "line/settings/module_settings_window.h"
#include "tests/line/settings/settings_test_support.h"
#include "tests/line/simulated_workbench.h"
#include "tests/sim/sim_line.h"

namespace {

constexpr SimModuleSpec Line[] = {{1, 4}, {5, 7}, {17, 8}};

struct LineSettingsTest : ::testing::Test {
  QTemporaryDir dir;
  std::unique_ptr<SimServer> sim = StartLine(dir, {std::begin(Line), std::end(Line)});
  std::optional<SimulatedWorkbench> workbench;
  LineWorker worker;
  QVector<LineModule> line;

  void SetUp() override {
    ASSERT_NE(sim, nullptr);
    workbench.emplace(dir, *sim);
    for (const SimModuleSpec& s : Line) line.append(Module(s.address, s.baudCode));
  }
  uint8_t memory(int module, uint8_t address) { return sim->withModule(module, [&](SimModule& m) { return m.configByte(address); }); }
  void setMemory(int module, uint8_t address, uint8_t value) {
    sim->withModule(module, [&](SimModule& m) { m.setConfigByte(address, value); });
  }
  // The preview's rows as "module|setting|before|after|result".
  static QStringList Rows(const QTableWidget* table) {
    QStringList rows;
    for (int r = 0; r < table->rowCount(); ++r) {
      QStringList cells;
      for (int c = 0; c < table->columnCount(); ++c) cells << table->item(r, c)->text();
      rows << cells.join('|');
    }
    return rows;
  }
};

TEST_F(LineSettingsTest, PreviewListsExactlyTheBytesThatChange) {
  const struct {
    const char* what;
    uint8_t din0, din1, range;  // modules 0 and 1 alike; module 2 keeps the factory's
    SettingChoice choice;
    QStringList rows;
  } cases[] = {
      {"inputs 4-11 negated: byte 0 as it was, byte 1 half",
       0xF0, 0x00, 0, {SettingChoice::DinNegation, 4, 11, 1},
       {"1 (9600 Bd)|Negace DIN, bajt 1|0x00 (žádný bit)|0x0f (bity 8, 9, 10, 11)|",
        "5 (57600 Bd)|Negace DIN, bajt 1|0x00 (žádný bit)|0x0f (bity 8, 9, 10, 11)|"}},
      {"range: a byte no window writes is shown as such", 0xFF, 0xFF, 3, {SettingChoice::AinRange, 0, 0, 1},
       {"1 (9600 Bd)|Rozsah AIN 0|0x03: neplatný rozsah|0-20mA|", "5 (57600 Bd)|Rozsah AIN 0|0x03: neplatný rozsah|0-20mA|"}},
      {"nothing to change", 0xFF, 0xFF, 0, {SettingChoice::DinNegation, 0, 15, 1},
       {"1 (9600 Bd)||||beze změny", "5 (57600 Bd)||||beze změny"}},
  };
  OpenLine(worker);  // the test's own driver thread; a line window holds the line itself
  LineSettingsWindow window(&worker);
  window.setModules(line, {line[0], line[1]});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (int m = 0; m < 2; ++m) {
      setMemory(m, CfgAddr::DinNegation, c.din0);
      setMemory(m, CfgAddr::DinNegation + 3, c.din1);
      setMemory(m, CfgAddr::AinRange, c.range);
    }
    window.setChoice(c.choice);
    window.showPreview();
    ASSERT_TRUE(WaitFor([&] { return !window.run()->busy(); }));
    EXPECT_EQ(Rows(window.preview()), c.rows);
  }
}

TEST_F(LineSettingsTest, SeveralModulesRangesSetWithTheBackupTakenFirstThenUndone) {
  OpenLine(worker);
  LineSettingsWindow window(&worker);
  window.setQuestion([](const QString&) { return true; });
  window.setModules(line, {line[0], line[2]});
  window.setChoice({SettingChoice::AinRange, 0, 0, 1});
  window.showPreview();
  ASSERT_TRUE(WaitFor([&] { return !window.run()->busy(); }));
  window.writeModules();
  ASSERT_TRUE(WaitFor([&] { return !window.run()->busy(); }));
  EXPECT_EQ((std::vector<uint8_t>{memory(0, 0), memory(1, 0), memory(2, 0)}), (std::vector<uint8_t>{1, 0, 1}));
  for (int r = 0; r < window.preview()->rowCount(); ++r)
    EXPECT_EQ(window.preview()->item(r, LineSettingsWindow::ResultColumn)->text(), "Konfigurace zapsána.");

  // The backup holds the two modules as they were before the write.
  LineFile backup;
  QString error;
  ASSERT_TRUE(LoadLineFile(window.run()->backupPath(), backup, error)) << error.toStdString();
  EXPECT_TRUE(window.run()->backupPath().startsWith(dir.filePath("qx510/zálohy/")));
  ASSERT_EQ(backup.modules.size(), 2);
  for (const LineModule& m : backup.modules) {
    EXPECT_EQ(m.ident, "QX-510   v.1.20");
    EXPECT_EQ(backup.image(m)->at(CfgAddr::AinRange), 0);
  }

  window.undoChange();
  ASSERT_TRUE(WaitFor([&] { return !window.run()->busy(); }));
  EXPECT_EQ((std::vector<uint8_t>{memory(0, 0), memory(1, 0), memory(2, 0)}), (std::vector<uint8_t>{0, 0, 0}));
  EXPECT_EQ(window.message(), "Vrácení změny: modul 1 (9600 Bd): zapsán 1 bajt, každý ověřen, celá paměť zpětně přečtena a "
                              "souhlasí; modul 17 (115200 Bd): zapsán 1 bajt, každý ověřen, celá paměť zpětně přečtena a souhlasí");
}

TEST_F(LineSettingsTest, AModuleGivenANewAddressIsFollowedOnceItAnswersThereAfterItsPowerCycle) {
  LineWindow lineWindow;
  lineWindow.setLinePath(dir.filePath("linka.qx510line"));
  for (const LineModule& m : line) lineWindow.addModule(m);
  lineWindow.connectLine();
  ASSERT_TRUE(WaitFor([&] { return lineWindow.isConnected(); }));
  ModuleSettingsWindow* w = lineWindow.openSettings(line[1]);
  w->setQuestion([](const QString&) { return true; });
  w->setProbeInterval(20);
  ASSERT_TRUE(WaitFor([&] { return !w->run()->busy(); }));
  w->findChild<QLineEdit*>("AddressEdit")->setText("9");
  w->writeModule();
  ASSERT_TRUE(WaitFor([&] { return w->waitingForModule(); }));
  // Until its power-up it answers where it did: the window keeps looking.
  ASSERT_TRUE(WaitFor([&] { return w->status().contains("zatím neodpovídá (2. pokus)"); }));
  EXPECT_GE(lineWindow.model()->rowOf(5, 7), 0);
  sim->withModule(1, [](SimModule& m) { m.powerCycle(); });
  ASSERT_TRUE(WaitFor([&] { return lineWindow.model()->rowOf(9, 7) >= 0; }));
  EXPECT_LT(lineWindow.model()->rowOf(5, 7), 0);
  LineFile saved;
  QString error;
  ASSERT_TRUE(LoadLineFile(lineWindow.linePath(), saved, error)) << error.toStdString();
  QStringList places;
  for (const LineModule& m : saved.modules) places << QStringLiteral("%1@%2").arg(m.address).arg(m.baudCode);
  places.sort();
  EXPECT_EQ(places, (QStringList{"17@8", "1@4", "9@7"}));
}

}  // namespace
