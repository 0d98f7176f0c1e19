// A restore against the scripted driver: which bytes it writes, and that only its read-back of
// the whole image can make it succeed.

#include <gtest/gtest.h>

#include <functional>

#include "base/calibration/calibration_procedure.h"
#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"
#include "base/config/module_image.h"
#include "tests/support/scripted_driver.h"

namespace {

constexpr uint8_t Module = 7;

class ModuleImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(DriverInit(InterfaceSerial, &handle_, {}), 0u);
    for (uint8_t a : ImageAddresses()) {
      start_.bytes[a] = uint8_t(a == 0 ? 0 : a + 1);
      drv_.setConfigByte(a, start_.at(a));
    }
    wanted_ = start_;
    wanted_.bytes[0] = 1;
    wanted_.bytes[33] = 0x81;
    drv_.clearLog();
  }
  void TearDown() override {
    if (DriverLibraryLoaded()) DriverDone(InterfaceSerial, &handle_);
  }

  ModuleLink link() const { return {InterfaceSerial, handle_, Module}; }

  ScriptedDriver drv_{InterfaceSerial};
  uint32_t handle_ = 0;
  ConfigImage start_, wanted_;
};

std::vector<uint8_t> AddressesOf(const std::vector<ConfigByte>& bytes) {
  std::vector<uint8_t> out;
  for (const ConfigByte& b : bytes) out.push_back(b.address);
  return out;
}

std::vector<uint8_t> AddressesOf(const std::vector<ByteDifference>& differences) {
  std::vector<uint8_t> out;
  for (const ByteDifference& d : differences) out.push_back(d.address);
  return out;
}

TEST_F(ModuleImageTest, RestoreSucceedsOnlyOnItsReadBack) {
  const std::vector<uint8_t> restored = SelectedAddresses({});  // the range byte first

  struct Case {
    const char* name;
    std::function<void(ScriptedDriver&)> beforeRead;
    std::function<void(ImageRead&)> spoil;                  // what the first read got wrong
    std::function<void(ScriptedDriver&, ImagePhase, int)> onProgress;
    bool cancelWrites;
    RestoreResult::Outcome outcome;
    std::vector<uint8_t> writes, differences;
  };
  const Case cases[] = {
      {"plain", {}, {}, {}, false, RestoreResult::Done, {0, 33}, {}},
      {"the module answers another value at the read-back", {}, {},
       [](ScriptedDriver& d, ImagePhase phase, int percent) {
         if (phase == ImagePhase::Verifying && percent == 0) d.setReadBack(33, 0x80);
       },
       false, RestoreResult::Differs, {0, 33}, {33}},
      {"the first read showed the range byte as wanted", {}, [](ImageRead& r) { r.image.bytes[0] = 1; }, {}, false,
       RestoreResult::Differs, {33}, {0}},
      {"the first read stopped at the range byte", [](ScriptedDriver& d) { d.failExchange(3, 9); }, {}, {}, false,
       RestoreResult::Done, restored, {}},
      {"a write is refused", [](ScriptedDriver& d) { d.failCommand(103, 33, 9); }, {}, {}, false,
       RestoreResult::WriteFailed, {0, 33}, {}},
      {"cancelled after the first write", {}, {}, {}, true, RestoreResult::Cancelled, {0, 33}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    drv_.reset();
    for (uint8_t a : ImageAddresses()) drv_.setConfigByte(a, start_.at(a));
    if (c.beforeRead) c.beforeRead(drv_);

    ImageEvents events;
    events.pause = [](std::chrono::steady_clock::time_point) {};
    ImageRead before = ReadModuleImage(link(), events);
    if (c.spoil) c.spoil(before);

    bool verifying = false;
    int writesDone = 0;
    events.progress = [&](ImagePhase phase, int percent) {
      verifying = verifying || phase == ImagePhase::Verifying;
      if (phase == ImagePhase::Writing && percent > 0) ++writesDone;
      if (c.onProgress) c.onProgress(drv_, phase, percent);
    };
    events.cancelled = [&] { return c.cancelWrites && writesDone > 0; };
    const RestoreResult result = RestoreImage(link(), before, wanted_, restored, events);

    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(AddressesOf(result.writes), c.writes);
    EXPECT_EQ(AddressesOf(result.differences), c.differences);
    EXPECT_EQ(verifying, c.outcome == RestoreResult::Done || c.outcome == RestoreResult::Differs);
    if (result.ok()) {
      for (uint8_t a : restored) EXPECT_EQ(drv_.configByte(a), wanted_.at(a)) << int(a);
    }
  }
}

// The shared restore refuses, before any exchange, a value the settings windows would never
// write, whichever program calls it.
TEST_F(ModuleImageTest, RestoreRefusesWhatTheWindowsWouldNotWriteAndSendsNothing) {
  const struct {
    const char* name;
    uint8_t address, value;
    ImageSelection selection;
    bool refused;
  } cases[] = {
      {"range byte 7", CfgAddr::AinRange, 7, {}, true},
      {"range byte 2", CfgAddr::AinRange, 2, {true, true}, true},
      {"baud code 12 with the line settings", CfgAddr::BaudCode, 12, {true, false}, true},
      {"baud code 9 with the line settings", CfgAddr::BaudCode, 9, {true, false}, true},
      {"baud code 12 left out", CfgAddr::BaudCode, 12, {false, false}, false},
      {"baud code 8", CfgAddr::BaudCode, 8, {true, false}, false},
      {"bus address 255", CfgAddr::BusAddress, 255, {true, false}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    drv_.reset();
    for (uint8_t a : ImageAddresses()) drv_.setConfigByte(a, start_.at(a));
    ImageEvents events;
    events.pause = [](std::chrono::steady_clock::time_point) {};
    const std::vector<uint8_t> addresses = SelectedAddresses(c.selection);
    const ImageRead before = ReadModuleImage(link(), events, addresses);
    ASSERT_TRUE(before.ok());
    drv_.clearLog();
    ConfigImage wanted = wanted_;
    wanted.bytes[CfgAddr::BaudCode] = 4;  // the fixture's 63 would be refused too
    wanted.bytes[c.address] = c.value;
    const RestoreResult result = RestoreImage(link(), before, wanted, addresses, events);
    if (c.refused) {
      EXPECT_EQ(result.outcome, RestoreResult::Refused);
      ASSERT_EQ(result.refused.size(), 1u);
      EXPECT_EQ(result.refused[0].address, c.address);
      EXPECT_EQ(result.refused[0].value, c.value);
      EXPECT_TRUE(result.refused[0].text.contains(QStringLiteral("nelze zapsat"))) << result.refused[0].text.toStdString();
      EXPECT_TRUE(drv_.requests().empty());
      for (uint8_t a : ImageAddresses()) EXPECT_EQ(drv_.configByte(a), start_.at(a)) << int(a);
    } else {
      EXPECT_EQ(result.outcome, RestoreResult::Done);
      EXPECT_TRUE(result.refused.empty());
    }
  }
}

// A stop asked for while the module is read comes before the first write; one asked for during
// the writes leaves the bytes written so far, and the text says the module holds a mix.
TEST_F(ModuleImageTest, ACancelledRestoreStopsAtTheNextByteAndSaysWhatTheModuleHolds) {
  const std::vector<uint8_t> addresses = SelectedAddresses({});
  ConfigImage wanted = wanted_;
  wanted.bytes[CfgAddr::DoutNegation] = 0x42;  // three bytes to write: 0, 33, 34
  const struct {
    const char* name;
    int cancelAfterWrites;  // -1: cancelled before the writes begin
    RestoreResult::Outcome outcome;
    std::size_t written;
    bool verified;
    const char* text;
  } cases[] = {
      {"before the first write", -1, RestoreResult::Cancelled, 0, false, "nezapsán žádný z 3 bajtů (adresy 0, 33, 34), modul beze změny"},
      {"after the first write", 1, RestoreResult::Cancelled, 1, false,
       "zapsáno a ověřeno 1 z 3 bajtů (adresa 0), nezapsáno 2 (adresy 33, 34): modul je zapsán jen zčásti a drží směs"},
      {"after the last write", 3, RestoreResult::Cancelled, 3, false,
       "zapsány a ověřeny všechny 3 bajty (adresy 0, 33, 34); celá paměť zpětně nepřečtena"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    drv_.reset();
    for (uint8_t a : ImageAddresses()) drv_.setConfigByte(a, start_.at(a));
    ImageEvents events;
    events.pause = [](std::chrono::steady_clock::time_point) {};
    const ImageRead before = ReadModuleImage(link(), events, addresses);
    drv_.clearLog();
    int writesDone = 0;
    events.progress = [&](ImagePhase phase, int percent) {
      if (phase == ImagePhase::Writing && percent > 0) ++writesDone;
    };
    events.cancelled = [&] { return writesDone >= c.cancelAfterWrites; };
    const RestoreResult result = RestoreImage(link(), before, wanted, addresses, events);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.write.done, c.written);
    int sentWrites = 0, sentReads = 0;
    for (const auto& r : drv_.requests()) {
      sentWrites += r[1] == Cmd::WriteConfigByte;
      sentReads += r[1] == Cmd::ReadConfigByte;
    }
    EXPECT_EQ(sentWrites, int(c.written));
    EXPECT_EQ(sentReads, int(c.written));  // the read-backs alone: no final read
    EXPECT_TRUE(RestoreHoldsText(result).contains(QString::fromUtf8(c.text))) << RestoreHoldsText(result).toStdString();
  }
}

// A calibration's start and its store of the constants stop at the next byte when asked; the
// write-back is never stopped and leaves the module as it was found. A calibration that stored
// its constants says that they stay.
TEST_F(ModuleImageTest, ACalibrationStopsAtTheNextByteAndItsWriteBackRuns) {
  const std::vector<uint8_t> own = {CfgAddr::AinRange, 15, 16, 17, 18};
  const struct {
    const char* name;
    bool store;          // the constants are stored after the start
    int cancelAtWrite;   // the cancelled callback says yes from this write on (1-based); 0: never
    ConfigWriteResult start, stored;
    const char* restoredText;
  } cases[] = {
      {"during the start", false, 2, ConfigWriteResult::Cancelled, ConfigWriteResult::Written, "Původní rozsah vstupu a kalibrační konstanty obnoveny."},
      {"during the store", true, 7, ConfigWriteResult::Written, ConfigWriteResult::Cancelled, "Původní rozsah vstupu a kalibrační konstanty obnoveny."},
      {"not at all", true, 0, ConfigWriteResult::Written, ConfigWriteResult::Written,
       "Nové kalibrační konstanty zapsány; původní rozsah vstupu nastaven zpět."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    drv_.reset();
    for (uint8_t a : ImageAddresses()) drv_.setConfigByte(a, start_.at(a));
    CalibrationSession session(InterfaceSerial, handle_, Module, {});
    const auto writes = [this] {
      int n = 0;
      for (const auto& r : drv_.requests()) n += r[1] == Cmd::WriteConfigByte;
      return n;
    };
    int asked = 0;
    session.setCancelled([&] {
      ++asked;
      return c.cancelAtWrite > 0 && writes() + 1 >= c.cancelAtWrite;
    });
    EXPECT_EQ(session.Start(0, RangeVoltage), c.start);
    if (c.start == ConfigWriteResult::Written && c.store) {
      EXPECT_EQ(session.StoreConstants(12345, 6), c.stored);
    }
    const int beforeWriteBack = writes();
    if (c.cancelAtWrite > 0) {
      EXPECT_EQ(beforeWriteBack, c.cancelAtWrite - 1);
    }
    const int askedBefore = asked;
    const CalibrationSession::Restored restored = session.Restore();
    EXPECT_EQ(asked, askedBefore);  // the write-back is never asked about
    EXPECT_TRUE(restored.complete);
    EXPECT_EQ(restored.text, QString::fromUtf8(c.restoredText));
    if (c.cancelAtWrite > 0) {
      for (uint8_t a : own) EXPECT_EQ(drv_.configByte(a), start_.at(a)) << int(a);
    } else {
      EXPECT_EQ(drv_.configByte(CfgAddr::AinRange), start_.at(CfgAddr::AinRange));
      EXPECT_EQ(drv_.configByte(15), 12345 & 0xFF);
    }
  }
}

}  // namespace
