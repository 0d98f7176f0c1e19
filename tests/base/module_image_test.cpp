// A restore against the scripted driver: which bytes it writes, and that only its read-back of
// the whole image can make it succeed.

#include <gtest/gtest.h>

#include <functional>

#include "base/driver_loader.h"
#include "base/module_image.h"
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

}  // namespace
