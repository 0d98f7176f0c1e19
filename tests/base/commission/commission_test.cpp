// Commissioning and the line's rate change against the simulated line, through the loader and
// the serial port's stand-in driver.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

#include "base/commission/commissioning.h"
#include "base/commission/line_rate.h"
#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"
#include "base/settings/driver_params.h"
#include "base/settings/tdata.h"
#include "base/text/baud.h"
#include "sim/sim_server.h"
#include "tests/support/scoped_env.h"

namespace {

class CommissionTest : public ::testing::Test {
 protected:
  void start(std::vector<SimModuleSpec> modules) {
    ASSERT_TRUE(dir_.isValid());
    configHome_.emplace("XDG_CONFIG_HOME", dir_.path().toStdString());
    SimServerOptions options;
    options.wire = simline::Wire::Instant;
    options.udpPort = -1;
    options.serveControl = false;
    options.localPath = dir_.filePath(QStringLiteral("sim.sock")).toStdString();
    options.modules = std::move(modules);
    sim_ = std::make_unique<SimServer>(options);
    std::string error;
    ASSERT_TRUE(sim_->start(&error)) << error;
    endpoint_.emplace(simproto::EndpointEnv, sim_->localPath());
    InitData(&data_);
    FillDriverParams(data_);
    ASSERT_EQ(DriverInit(data_.Interface, &data_.DriverHandle, data_.DriverParams), 0u);
    access_ = {data_.Interface, data_.DriverHandle, 60, {}};
  }
  void TearDown() override {
    if (data_.DriverHandle != 0) DriverDone(data_.Interface, &data_.DriverHandle);
  }
  int writes() const {
    int n = 0;
    for (const SimLogEntry& e : sim_->logSince(0)) n += e.request.command == Cmd::WriteConfigByte;
    return n;
  }
  // The operator switches the whole line off and on when asked, and it is counted.
  std::function<bool(const QString&)> operatorCyclesPower() {
    return [this](const QString&) {
      ++cycles_;
      sim_->withBus([](SimBus& bus) { bus.powerCycleAll(); });
      return true;
    };
  }
  ModulePlace placeOf(int module) const {
    const SimModule m = sim_->snapshot(module);
    return {m.busAddress(), BaudRateToCode(m.baudRate())};
  }

  QTemporaryDir dir_;
  std::optional<ScopedEnv> configHome_, endpoint_;
  std::unique_ptr<SimServer> sim_;
  TData data_{};
  PlaceAccess access_;
  int cycles_ = 0;
};

// Power fails at the write of the address byte; the write either reached the memory or not.
// The step fails saying the module answers nowhere; once the operator has switched it on
// again, the step is done again from where the module then answers, and the rest follows.
TEST_F(CommissionTest, PowerLossDuringTheAddressWriteIsReportedAndTheStepRetried) {
  const struct {
    bool keep;
    ModulePlace afterPowerOn;
  } cases[] = {{false, {0, 4}}, {true, {9, 4}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keep);
    start({{0, 4}});
    ConfigImage wanted;
    wanted.bytes[CfgAddr::DinNegation] = 0x81;
    const CommissionPlan plan{{0, 4}, {9, 6}, wanted, QStringLiteral("QX-510"), QStringLiteral("TT-1")};
    cycles_ = 0;
    CommissionEvents events;
    events.powerCycle = operatorCyclesPower();
    Commissioning job(access_, plan, events);
    job.setPowerWaitMs(1000);
    // The 1st write is the template's only byte; the 2nd is the address.
    sim_->withBus([&](SimBus& bus) {
      SimFault loss{.kind = SimFault::PowerLoss};
      loss.afterWrites = 2;
      loss.keepWrite = c.keep;
      bus.arm(0, loss);
    });
    EXPECT_FALSE(job.run());
    EXPECT_EQ(job.last().step, CommissionStep::AddressRate);
    EXPECT_EQ(job.last().outcome, StepReport::Failed);
    EXPECT_FALSE(job.where().found);
    EXPECT_TRUE(job.last().text.contains(QStringLiteral("neodpovídá nikde"))) << job.last().text.toStdString();

    sim_->withBus([](SimBus& bus) { bus.module(0).setPowered(true); });
    EXPECT_TRUE(job.run()) << job.last().text.toStdString();
    const StepReport& retried = job.reports()[job.reports().size() - 3];
    EXPECT_EQ(retried.step, CommissionStep::AddressRate);
    EXPECT_TRUE(retried.text.contains(PlaceText(c.afterPowerOn))) << retried.text.toStdString();
    EXPECT_EQ(cycles_, 1);
    EXPECT_EQ(placeOf(0), (ModulePlace{9, 6}));
    EXPECT_EQ(sim_->snapshot(0).configByte(CfgAddr::DinNegation), 0x81);
    EXPECT_EQ(job.verified().image.at(CfgAddr::BusAddress), 9);
    TearDown();
    data_.DriverHandle = 0;
    sim_.reset();
  }
}

// Two new modules at the delivery place: every answer collides, and nothing is written.
TEST_F(CommissionTest, TwoModulesAtTheDeliveryPlaceAreRefusedBeforeAnyWrite) {
  start({{0, 4}, {7, 4}});
  sim_->withBus([](SimBus& bus) { bus.replace({SimModule::FactoryMemory(), SimModule::FactoryMemory()}); });
  Commissioning job(access_, {{0, 4}, {3, 4}, std::nullopt, {}, {}});
  EXPECT_FALSE(job.run());
  EXPECT_EQ(job.last().outcome, StepReport::Collided);
  EXPECT_TRUE(job.last().text.contains(QStringLiteral("pravděpodobně dva moduly na adrese 0"))) << job.last().text.toStdString();
  EXPECT_EQ(writes(), 0);
}

// A line of four moved from its rates to 115200 Bd; the module at address 2 refuses the write
// and stays where it was, and the line file says so.
TEST_F(CommissionTest, LineRateChangeReportsWhereEveryModuleAnswers) {
  start({{1, 4}, {2, 4}, {3, 7}, {4, 4}});
  sim_->withBus([](SimBus& bus) {
    bus.arm(1, {.kind = SimFault::Refuse, .command = Cmd::WriteConfigByte, .status = 23});
  });
  LineFile line;
  for (const auto& [address, code] : {std::pair{1, 4}, {2, 4}, {3, 7}, {4, 4}})
    line.modules.append(LineModule{uint8_t(address), code, QStringLiteral("QX-510   v.1.20")});
  line.images.insert(ModuleKey(1, 4), ConfigImage{});
  LineRateEvents events;
  events.powerCycle = operatorCyclesPower();
  const LineRateResult result = ChangeLineRate(access_, line, 8, events, 1000);
  EXPECT_EQ(result.outcome, LineRateResult::Incomplete);
  EXPECT_EQ(cycles_, 1);
  const struct {
    LineRateRow::Write write;
    int answersAt;
  } expected[] = {{LineRateRow::Written, 8}, {LineRateRow::Refused, 4}, {LineRateRow::Written, 8}, {LineRateRow::Written, 8}};
  ASSERT_EQ(result.rows.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(result.rows[size_t(i)].write, expected[i].write);
    ASSERT_TRUE(result.rows[size_t(i)].after.found);
    EXPECT_EQ(result.rows[size_t(i)].after.place.baudCode, expected[i].answersAt);
    EXPECT_EQ(result.line.modules[i].baudCode, expected[i].answersAt);
    EXPECT_EQ(BaudRateToCode(sim_->snapshot(i).baudRate()), expected[i].answersAt);
  }
  ASSERT_NE(result.line.image(result.line.modules[0]), nullptr);
  EXPECT_EQ(result.line.image(result.line.modules[0])->at(CfgAddr::BaudCode), 8);
}

}  // namespace
