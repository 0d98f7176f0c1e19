// A line of several simulated modules reached through the stand-in drivers: each answers at
// its own address and rate only, two set up alike collide, and the line survives every fault.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <functional>
#include <memory>

#include "sim/line/state_file.h"
#include "sim/sim_server.h"
#include "tests/sim/sim_line.h"
#include "tests/sim/standin_support.h"

namespace {

constexpr uint32_t Timeout = 2, Damaged = 9;

std::array<uint32_t, 8> Req(uint8_t address, uint8_t command, uint8_t index, std::array<uint8_t, 5> d = {}) {
  return {address, command, index, d[0], d[1], d[2], d[3], d[4]};
}

struct Member {
  uint8_t address;
  uint8_t baudCode;
  uint32_t rate;
};
constexpr Member Line[] = {{0, 4, 9600}, {5, 7, 57600}, {17, 8, 115200}};

class SimBusTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    std::vector<SimModuleSpec> modules;
    for (const auto& m : Line) modules.push_back({m.address, m.baudCode});
    sim_ = StartLine(dir_, modules, 0);
    ASSERT_TRUE(sim_);
    ::setenv(simproto::EndpointEnv, sim_->localPath().c_str(), 1);
    lib_ = std::make_unique<StandinLib>(GetParam());
    ASSERT_EQ(lib_->init(&handle_, "127.0.0.1", sim_->udpPort(), 5), 0u);
  }
  void TearDown() override {
    if (lib_ && handle_) lib_->done(&handle_);
    ::unsetenv(simproto::EndpointEnv);
  }
  StandinLib::Result Ask(uint32_t rate, std::array<uint32_t, 8> request, uint32_t timeoutMs = 40) {
    EXPECT_EQ(lib_->setConfig(handle_, rate, timeoutMs, 2), 0u);
    return lib_->exchange(handle_, request);
  }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
  std::unique_ptr<StandinLib> lib_;
  uint32_t handle_ = 0;
};

TEST_P(SimBusTest, EachModuleAnswersAtItsOwnAddressAndRateOnly) {
  ASSERT_EQ(sim_->moduleCount(), 3);
  for (int i = 0; i < 3; ++i) sim_->withModule(i, [&](SimModule& m) { m.setInputSwitches(0x100u << i); });
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const Member& m = Line[i];
    const auto r = Ask(m.rate, Req(m.address, 0, 64));
    ASSERT_EQ(r.returned, 0u);
    EXPECT_EQ(r.data[2], 1u << i);  // this module's own inputs, bits 8..15
    EXPECT_EQ(Ask(m.rate, Req(m.address, 103, 0, {0, 40, 40, uint8_t(i + 1), uint8_t(i + 1)})).status, 0u);
    // Another rate or a neighbour's address reaches nobody.
    EXPECT_EQ(Ask(Line[(i + 1) % 3].rate, Req(m.address, 100, 0)).returned, Timeout);
    EXPECT_EQ(Ask(m.rate, Req(Line[(i + 1) % 3].address, 100, 0)).returned, Timeout);
  }
  for (int i = 0; i < 3; ++i) EXPECT_EQ(sim_->snapshot(i).configByte(40), i + 1);
}

TEST_P(SimBusTest, LineAnswersAgainAfterEveryFaultIsCleared) {
  struct Case {
    const char* name;
    SimFault fault;
    uint32_t returned;  // what the faulty exchange gives
    uint32_t status;
  };
  const Case cases[] = {
      {"silent", {.kind = SimFault::Silent}, Timeout, Timeout},
      {"late", {.kind = SimFault::Delay, .delayMs = 120}, Timeout, Timeout},
      {"short frame", {.kind = SimFault::Malformed, .form = SimFault::WrongLength}, Damaged, Damaged},
      {"wrong sequence", {.kind = SimFault::Malformed, .form = SimFault::WrongSequence}, Damaged, Damaged},
      {"wrong address", {.kind = SimFault::Malformed, .form = SimFault::WrongAddress}, Damaged, Damaged},
      {"flipped bits", {.kind = SimFault::Malformed, .form = SimFault::FlippedBits}, Damaged, Damaged},
      {"refusal", {.kind = SimFault::Refuse, .status = 22}, 0, 22},
      {"collision", {.kind = SimFault::Collision}, Damaged, Damaged},
  };
  const Member& m = Line[1];
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (int target : {SimBus::Line, 1}) {
      sim_->withBus([&](SimBus& bus) { bus.arm(target, c.fault); });
      const auto bad = Ask(m.rate, Req(m.address, 100, 0));
      EXPECT_EQ(bad.returned, c.returned);
      EXPECT_EQ(bad.status, c.status);
      sim_->withBus([](SimBus& bus) { bus.clearAllFaults(); });
      const auto good = Ask(m.rate, Req(m.address, 100, 0), 300);  // also outwaits a late answer
      EXPECT_EQ(good.returned, 0u);
      EXPECT_EQ(good.status, 0u);
    }
  }
  // A wrong value from the module itself passes every frame check: only a read-back tells.
  sim_->withBus([](SimBus& bus) { bus.arm(1, {.kind = SimFault::Malformed, .count = 1, .form = SimFault::WrongValue}); });
  EXPECT_EQ(Ask(m.rate, Req(m.address, 200, 0)).data[1], uint8_t('Q' ^ 0x10));
  EXPECT_EQ(Ask(m.rate, Req(m.address, 200, 0)).data[1], uint8_t('Q'));
}

// Two modules at one address and rate both answer, the same bytes meant: the driver gets a
// damaged frame, the lone module beside them a clean one, until one of the two is gone.
TEST_P(SimBusTest, ModulesSetUpAlikeCollideUntilOneOfThemIsGone) {
  sim_->withBus([](SimBus& bus) { bus.add(Line[1].address, Line[1].baudCode); });
  const struct {
    std::function<void(SimBus&)> change;
    uint32_t returned;
  } steps[] = {
      {[](SimBus&) {}, Damaged},
      {[](SimBus& bus) { bus.arm(3, {.kind = SimFault::Silent}); }, 0},  // the twin named by its index alone
      {[](SimBus& bus) { bus.clearFaults(3); }, Damaged},
      {[](SimBus& bus) { bus.remove(3); }, 0},
  };
  for (const auto& step : steps) {
    sim_->withBus(step.change);
    EXPECT_EQ(Ask(Line[1].rate, Req(Line[1].address, 200, 0)).returned, step.returned);
    EXPECT_EQ(Ask(Line[2].rate, Req(Line[2].address, 200, 0)).returned, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Channels, SimBusTest, ::testing::Values(0, 4),
                         [](const auto& info) { return info.param == 4 ? "Udp" : "LocalEndpoint"; });

TEST(SimBusLine, ModulesSetUpAlikeAreAllowedAndALineHasItsBounds) {
  SimBus bus;
  std::string why;
  EXPECT_TRUE(bus.add(0, 5, &why)) << why;  // same address, another rate
  EXPECT_TRUE(bus.add(0, 4, &why)) << why;  // set up alike, as two new modules are
  EXPECT_FALSE(bus.add(1, 9, &why));  // no such baud code
  for (int a = 2; bus.size() < SimBus::MaxModules; ++a) ASSERT_TRUE(bus.add(uint8_t(a), 4));
  EXPECT_FALSE(bus.add(200, 4, &why));
  while (bus.size() > 1) ASSERT_TRUE(bus.remove(0));
  EXPECT_FALSE(bus.remove(0, &why));

  SimServerOptions o;
  o.wire = simline::Wire::Instant;  // measures no time
  o.udpPort = -1;
  o.serveLocal = false;
  o.modules = {{3, 4}, {3, 4}};
  SimServer sim(o);
  EXPECT_TRUE(sim.start(&why)) << why;
}

// A module saved before the line existed is not lost when the line is given on the command line.
TEST(SimBusLine, SavedModuleKeepsItsMemoryInANewLine) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string state = dir.filePath("module.state").toStdString();
  std::string v1 = "qx510-sim 1\n";
  for (int a = 0; a < 64; ++a) v1 += a == 40 ? "5A " : a == 62 ? "04 " : "00 ";
  std::ofstream(state) << v1;

  SimServerOptions o;
  o.wire = simline::Wire::Instant;  // measures no time
  o.udpPort = -1;
  o.serveLocal = false;
  o.statePath = state;
  o.modules = {{0, 4}, {5, 7}};
  {
    SimServer sim(o);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    EXPECT_EQ(sim.snapshot(0).configByte(40), 0x5A);
    EXPECT_EQ(sim.snapshot(1).configByte(40), 0);
  }
  std::vector<SimModule::Memory> saved;
  ASSERT_EQ(LoadSimState(state, saved), SimStateLoad::Loaded);
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0][40], 0x5A);
  EXPECT_EQ(saved[1][63], 5);
}

}  // namespace

namespace {

// Any one bit spoilt anywhere in a frame is caught, in either direction: a request is
// discarded and counted as unreadable, an answer is no answer.
TEST(SimBusFrames, EveryFlippedBitIsCaught) {
  simproto::Request r;
  r.seq = 0x01020304;
  r.rate = 9600;
  r.command = 200;
  const auto request = simproto::EncodeRequest(r);
  simproto::Answer a;
  a.seq = r.seq;
  a.command = 200;
  a.data = {0, 'Q', 'X', '-', '5'};
  const auto answer = simproto::EncodeAnswer(a);
  ASSERT_TRUE(simproto::DecodeAnswer(answer.data(), answer.size()));

  SimServer server;  // never started
  ASSERT_FALSE(server.handleFrame(request.data(), request.size(), SimLogEntry::Local).frame.empty());
  for (size_t bit = 0; bit < request.size() * 8; ++bit) {
    auto spoilt = request;
    spoilt[bit / 8] ^= uint8_t(1u << bit % 8);
    EXPECT_TRUE(server.handleFrame(spoilt.data(), spoilt.size(), SimLogEntry::Local).frame.empty()) << bit;
  }
  EXPECT_EQ(server.malformedCount(), request.size() * 8);
  EXPECT_EQ(server.requestCount(), 1u);
  for (size_t bit = 0; bit < answer.size() * 8; ++bit) {
    auto spoilt = answer;
    spoilt[bit / 8] ^= uint8_t(1u << bit % 8);
    EXPECT_FALSE(simproto::DecodeAnswer(spoilt.data(), spoilt.size())) << bit;
  }
}

}  // namespace
