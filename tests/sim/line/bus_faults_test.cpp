// Every fault the simulated line can inject, as the operator meets it in the tool's own
// windows (through the real loader and the serial port's stand-in): the configuration
// window's status text, the live window keeping its last good value, and the line answering
// again once the fault is cleared.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTemporaryDir>

#include <memory>

#include "base/exchange/driver_loader.h"
#include "base/settings/tdata.h"
#include "config/tform14.h"
#include "connect/tform2.h"
#include "live/tform3.h"
#include "sim/sim_server.h"
#include "tests/sim/sim_line.h"

namespace {

const QString TimedOut = " Modul neodpověděl (vypršel čas pro odpověď)";
const QString Written = " Konfigurace zapsána.";
const QString Damaged = " Poškozená odpověď modulu";
constexpr int FirstIoByte = 32, IoBytes = 12;  // the digital I/O window's part of the memory

class BusFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    sim_ = StartLine(dir_, {{0, 4}, {5, 7}, {17, 8}});  // the tool's default module first
    ASSERT_TRUE(sim_);
    ::setenv(simproto::EndpointEnv, sim_->localPath().c_str(), 1);
    InitData(&data_);
    data_.ResponseTimeout = 60;
    TForm2 dialog;
    dialog.setData(&data_);
    dialog.FormShow();
    dialog.Button1Click();
    ASSERT_TRUE(IsConnected(&data_));
  }
  void TearDown() override {
    if (data_.Connected) DriverDone(data_.Interface, &data_.DriverHandle);
    ::unsetenv(simproto::EndpointEnv);
  }
  void Arm(int target, const SimFault& fault) {
    sim_->withBus([&](SimBus& bus) { bus.arm(target, fault); });
  }
  void ClearFaults() {
    sim_->withBus([](SimBus& bus) { bus.clearAllFaults(); });
  }
  static QString StatusOf(QWidget& window) { return window.findChild<QLabel*>("StatusPanel0")->text(); }
  // "Zapsat" in the digital I/O window: its twelve bytes, each written and read back.
  QString Write() {
    TForm14 window;
    window.setData(&data_);
    window.show();
    window.Button1Click();
    return StatusOf(window);
  }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
  TData data_{};
};

TEST_F(BusFaults, ConfigurationWindowTellsEachFaultAndWorksOnceItIsCleared) {
  struct Case {
    const char* name;
    SimFault fault;
    QString text;
    QString orText = {};  // when timing decides between two truthful texts
  };
  const Case cases[] = {
      {"no answer", {.kind = SimFault::Silent, .count = 1}, TimedOut},
      {"no answer to reads", {.kind = SimFault::Silent, .command = 102}, TimedOut},
      // Whether an earlier request's late answer comes while the next one waits.
      {"answer too late", {.kind = SimFault::Delay, .delayMs = 150}, TimedOut, " Odpověď modulu přišla pozdě"},
      {"answer late within the timeout", {.kind = SimFault::Delay, .delayMs = 5}, Written},
      {"short answer", {.kind = SimFault::Malformed, .count = 1, .form = SimFault::WrongLength}, Damaged},
      {"wrong sequence", {.kind = SimFault::Malformed, .count = 1, .form = SimFault::WrongSequence}, Damaged},
      {"wrong address", {.kind = SimFault::Malformed, .count = 1, .form = SimFault::WrongAddress}, Damaged},
      {"flipped bits", {.kind = SimFault::Malformed, .form = SimFault::FlippedBits}, Damaged},
      {"wrong value", {.kind = SimFault::Malformed, .form = SimFault::WrongValue}, " Chyba zápisu dat."},
      {"refusal", {.kind = SimFault::Refuse, .count = 1, .status = 21}, " Modul odmítl neplatný index příkazu"},
      {"refused writes", {.kind = SimFault::Refuse, .command = 103, .status = 23},
       " Modul odmítl požadavek: kopie se neshodují"},
      {"collision", {.kind = SimFault::Collision, .count = 1}, Damaged},
  };
  for (const auto& c : cases) {
    for (int target : {SimBus::Line, 0}) {
      SCOPED_TRACE(std::string(c.name) + (target == SimBus::Line ? " on the line" : " on the module"));
      Arm(target, c.fault);
      const QString shown = Write();
      if (c.orText.isEmpty() || shown != c.orText) {
        EXPECT_EQ(shown, c.text);
      }
      ClearFaults();
      EXPECT_EQ(Write(), Written);
    }
  }
}

TEST_F(BusFaults, PowerLostDuringAWriteKeepsOrLosesThatByteAsTheMemoryWould) {
  for (bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "kept" : "lost");
    sim_->withModule([](SimModule& m) {
      for (int a = FirstIoByte; a < FirstIoByte + IoBytes; ++a) m.setConfigByte(a, 0xFF);
    });
    Arm(0, {.kind = SimFault::PowerLoss, .afterWrites = 3, .keepWrite = keep});
    EXPECT_EQ(Write(), TimedOut);
    const SimModule m = sim_->snapshot(0);
    EXPECT_FALSE(m.powered());
    int written = 0;
    for (int a = FirstIoByte; a < FirstIoByte + IoBytes; ++a) written += m.configByte(a) == 0;
    EXPECT_EQ(written, keep ? 3 : 2);
    EXPECT_TRUE(sim_->snapshot(1).powered());  // the rest of the line runs on
    sim_->setPowered(true);
    EXPECT_EQ(Write(), Written);
  }
}

TEST_F(BusFaults, LiveWindowKeepsItsLastGoodValue) {
  sim_->setSourceVoltage(5.0);
  TForm3 window;
  window.setData(&data_);
  window.show();
  window.Timer1Timer();
  auto* value = window.findChild<QLabel*>("Label18");
  const QString good = value->text();
  ASSERT_TRUE(good.endsWith(" V")) << good.toStdString();
  const SimFault faults[] = {{.kind = SimFault::Silent}, {.kind = SimFault::Collision}, {.kind = SimFault::Refuse}};
  for (const auto& f : faults) {
    SCOPED_TRACE(SimFault::KindName(f.kind));
    Arm(SimBus::Line, f);
    sim_->setSourceVoltage(7.0);
    window.Timer1Timer();
    EXPECT_EQ(value->text(), good);
    EXPECT_NE(StatusOf(window), " ");
    ClearFaults();
    window.Timer1Timer();
    EXPECT_TRUE(value->text().startsWith("7,")) << value->text().toStdString();
    sim_->setSourceVoltage(5.0);
    window.Timer1Timer();
    EXPECT_EQ(value->text(), good);
  }
}

}  // namespace
