// A module's settings window on the workbench's driver thread against the scripted driver,
// which records every request: what the window reads, and what a write sends and in which order.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <functional>
#include <vector>

#include "base/config/line_file.h"
#include "base/exchange/commands.h"
#include "base/settings/tdata.h"
#include "line/poll/line_worker.h"
#include "line/settings/module_settings_window.h"
#include "line/settings/settings_change.h"
#include "tests/line/settings/settings_test_support.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_driver.h"

namespace {

using Request = std::array<uint32_t, 8>;
Request Read(uint8_t address) { return {3, Cmd::ReadConfigByte, 0, 0, address, address, 0, 0}; }
Request Write(uint8_t address, uint8_t value) { return {3, Cmd::WriteConfigByte, 0, 0, address, address, value, value}; }

struct ModuleSettingsTest : ::testing::Test {
  QTemporaryDir dir;
  ScopedEnv dataHome{"XDG_DATA_HOME", dir.path().toStdString()};
  ScriptedDriver driver{0};
  LineWorker worker;

  // The module as delivered, but its range byte 3 (a bit no window writes).
  void deliver() {
    for (uint8_t a : SettingsAddresses()) driver.setConfigByte(a, (a - CfgAddr::DoutInitialState) % 3 == 0 ? 0 : 0xFF);
    driver.setConfigByte(CfgAddr::BusAddress, 3);
    driver.setConfigByte(CfgAddr::BaudCode, 4);
    driver.setConfigByte(CfgAddr::AinRange, 3);
  }
  void SetUp() override {
    deliver();
    OpenLine(worker);
  }
  std::vector<Request> configRequests() const {
    std::vector<Request> r;
    for (const Request& q : driver.requests())
      if (q[1] == Cmd::ReadConfigByte || q[1] == Cmd::WriteConfigByte) r.push_back(q);
    return r;
  }
};

TEST_F(ModuleSettingsTest, ReadsTheSettingsThenWritesOnlyWhatChangedEachReadBackAfterTheBackup) {
  const LineModule module = Module(3, 4);
  const struct {
    const char* what;
    std::function<void(ModuleSettingsWindow&)> edit;
    std::vector<Request> sent;  // after the backup
    const char* status;
  } cases[] = {
      // The range byte goes back as the analog window writes it: the range alone.
      {"range", [](ModuleSettingsWindow& w) { w.findChild<QComboBox*>("RangeCombo")->setCurrentIndex(0); },
       {Write(0, 0), Read(0)}, " Konfigurace zapsána."},
      {"input 0 negation, output 31 initial state",
       [](ModuleSettingsWindow& w) {
         w.findChild<QCheckBox*>("DinNegation0")->setChecked(false);
         w.findChild<QCheckBox*>("DoutInitial31")->setChecked(true);
       },
       {Write(0, 1), Read(0), Write(41, 0x80), Read(41), Write(33, 0xFE), Read(33)}, " Konfigurace zapsána."},
      {"address and rate, address first as the address window",
       [](ModuleSettingsWindow& w) {
         w.findChild<QLineEdit*>("AddressEdit")->setText("7");
         w.findChild<QComboBox*>("RateCombo")->setCurrentIndex(8);
       },
       {Write(63, 7), Read(63), Write(62, 8), Read(62), Write(0, 1), Read(0)}, " Konfigurace zapsána."},
      {"an address out of range sends nothing", [](ModuleSettingsWindow& w) { w.findChild<QLineEdit*>("AddressEdit")->setText("256"); },
       {}, " Adresa modulu musí být v rozsahu 0-255."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    deliver();
    driver.clearLog();
    ModuleSettingsWindow window(&worker, module);
    window.setQuestion([](const QString&) { return true; });
    ASSERT_TRUE(WaitFor([&] { return !window.run()->busy(); }));
    std::vector<Request> reads;
    for (uint8_t a : SettingsAddresses()) reads.push_back(Read(a));
    EXPECT_EQ(configRequests(), reads);
    EXPECT_EQ(window.status(), " Konfigurace přečtena.");

    c.edit(window);
    driver.clearLog();
    window.writeModule();
    ASSERT_TRUE(WaitFor([&] { return !window.run()->busy(); }));
    EXPECT_EQ(window.status(), QString::fromUtf8(c.status));
    std::vector<Request> sent = configRequests();
    if (c.sent.empty()) {
      EXPECT_TRUE(sent.empty());
      continue;
    }
    // The whole image read for the backup, then the writes, each followed by its read-back.
    ASSERT_EQ(sent.size(), ImageAddresses().size() + c.sent.size());
    EXPECT_EQ(std::vector<Request>(sent.begin() + long(ImageAddresses().size()), sent.end()), c.sent);
    LineFile backup;
    QString error;
    ASSERT_TRUE(LoadLineFile(window.run()->backupPath(), backup, error)) << error.toStdString();
    ASSERT_EQ(backup.modules.size(), 1);
    EXPECT_EQ(backup.image(backup.modules[0])->at(CfgAddr::AinRange), 3);
  }
}

TEST_F(ModuleSettingsTest, AWriteStopsAtTheFirstByteTheModuleDoesNotKeep) {
  driver.setReadBack(41, 0);
  ModuleSettingsWindow window(&worker, Module(3, 4));
  ASSERT_TRUE(WaitFor([&] { return !window.run()->busy(); }));
  window.findChild<QCheckBox*>("DoutInitial31")->setChecked(true);
  window.findChild<QCheckBox*>("DinNegation0")->setChecked(false);
  driver.clearLog();
  window.writeModule();
  ASSERT_TRUE(WaitFor([&] { return !window.run()->busy(); }));
  EXPECT_TRUE(window.status().startsWith(" Chyba zápisu dat. (zapsáno a ověřeno 1 z 3 bajtů")) << window.status().toStdString();
  const std::vector<Request> sent = configRequests();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(std::vector<Request>(sent.end() - 4, sent.end()), (std::vector<Request>{Write(0, 1), Read(0), Write(41, 0x80), Read(41)}));
}

}  // namespace
