// The simulated module as the tool's windows see it: answers to each command, the
// calibration correction, negation, power cycle, line settings and the state file.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

#include "sim/line/module_model.h"
#include "sim/line/state_file.h"
#include "sim/protocol.h"
#include "tests/support/file_faults.h"

namespace {

using Data = SimModule::Data;
constexpr uint32_t Rate9600 = 9600;

SimModule::Reply Ask(SimModule& m, uint8_t command, uint8_t index, Data data = {}) {
  auto r = m.handle(m.busAddress(), uint32_t(m.baudRate()), command, index, data);
  EXPECT_TRUE(r.has_value()) << "command " << int(command) << " got no answer";
  return r.value_or(SimModule::Reply{255, {}});
}

uint8_t ReadCfg(SimModule& m, uint8_t a) { return Ask(m, 102, 0, {0, a, a, 0, 0}).data[3]; }
void WriteCfg(SimModule& m, uint8_t a, uint8_t v) { ASSERT_EQ(Ask(m, 103, 0, {0, a, a, v, v}).status, 0); }

uint32_t GroupOf(const SimModule::Reply& r) {
  return uint32_t(r.data[1]) | uint32_t(r.data[2]) << 8 | uint32_t(r.data[3]) << 16 | uint32_t(r.data[4]) << 24;
}

// The reading as the tool decodes it: 23-bit magnitude, sign in bit 7 of the high byte.
double Reading(SimModule& m) {
  const auto r = Ask(m, 0, 0);
  double v = double((r.data[3] & 0x7F) << 16 | r.data[2] << 8 | r.data[1]);
  if (r.data[3] & 0x80) v = -v;
  for (int i = 0; i < (r.data[4] & 0x7F); ++i) v /= 10;
  return v;
}

// A client's two-point calibration: constants from a zero and a reference reading, with
// E, Z and F truncated to whole working units, gain = round-half-even(G + 0.1) and the
// offset rounded toward minus infinity.
bool Constants(double entered, double zero, double reference, double k, uint16_t& gain, uint16_t& offset) {
  const double e = std::trunc(entered * 1000), z = std::trunc(zero * k), f = std::trunc(reference * k);
  if (f - z <= 0) return false;
  const double g = 10000 * e / (f - z);
  if (g < 0 || g > 65535) return false;
  gain = uint16_t(std::nearbyint(g + 0.1));
  const double o = gain * z / 10000;
  offset = uint16_t(o >= 0 ? int64_t(o) : int64_t(o + 65536));
  return true;
}

TEST(SimModel, FactoryMemoryAndIdentification) {
  SimModule m;
  for (int a = 0; a < 64; ++a) {
    uint8_t expected = 0;
    if (a == 15 || a == 19) expected = 16;
    if (a == 16 || a == 20) expected = 39;
    if (a == 62) expected = 4;
    EXPECT_EQ(ReadCfg(m, uint8_t(a)), expected) << "address " << a;
  }
  EXPECT_EQ(m.busAddress(), 0);
  EXPECT_EQ(m.baudRate(), 9600);

  std::string ident;
  for (uint8_t index : {0, 1, 2}) {
    const auto r = Ask(m, 200, index);
    EXPECT_EQ(r.status, 0);
    for (int i = 1; i <= 4; ++i) ident += char(r.data[size_t(i)]);
  }
  EXPECT_EQ(ident.substr(0, 8), "QX-510  ");
  EXPECT_EQ(ident.size(), 12u);
}

TEST(SimModel, RefusedRequestsAnswerAModuleStatusAndNoData) {
  using namespace simproto::ModuleStatus;
  struct Case {
    uint8_t command, index;
    Data data;
    uint8_t status;
  };
  const Case cases[] = {
      {102, 0, {0, 64, 64, 0, 0}, BadConfigAddress},
      {103, 0, {0, 200, 200, 1, 1}, BadConfigAddress},
      {102, 0, {0, 3, 4, 0, 0}, CopiesDiffer},
      {103, 0, {0, 5, 5, 1, 2}, CopiesDiffer},
      {0, 7, {}, BadIndex},
      {1, 0, {0, 1, 1, 1, 1}, BadIndex},
      {200, 3, {}, BadIndex},
      {55, 0, {9, 9, 9, 9, 9}, UnknownCommand},
  };
  for (const auto& c : cases) {
    SimModule m;
    const auto before = m.memory();
    const auto r = Ask(m, c.command, c.index, c.data);
    EXPECT_EQ(r.status, c.status) << "command " << int(c.command);
    EXPECT_EQ(r.data, Data{}) << "command " << int(c.command);
    EXPECT_EQ(m.memory(), before) << "a refused write changed memory";
    EXPECT_EQ(m.outputs(), 0u);
  }
}

struct CalibrationCase {
  const char* name;
  bool current;
  SimModule::ConverterError error;
  double reference;  // V or mA, what the operator applies and enters
  double other;      // a second point checked after calibration
};

void PrintTo(const CalibrationCase& c, std::ostream* os) { *os << c.name; }

class SimCalibration : public ::testing::TestWithParam<CalibrationCase> {};

TEST_P(SimCalibration, RoundTripMatchesTheReferenceWithinOneDigit) {
  const auto& c = GetParam();
  SimModule m;
  m.setConverterError(c.error);
  const uint8_t base = c.current ? 19 : 15;
  const double k = c.current ? 1e6 : 1e3;        // reading to working unit
  const double digit = c.current ? 1e-6 : 1e-3;  // one step of the reported value
  auto apply = [&](double v) { c.current ? m.setSourceCurrent(v) : m.setSourceVoltage(v); };
  auto expected = [&](double v) { return c.current ? v / 1000 : v; };  // mA are reported as A

  // The neutral start, as the calibration window performs it.
  WriteCfg(m, 0, c.current ? 1 : 0);
  for (uint8_t i = 0; i < 4; ++i) WriteCfg(m, uint8_t(base + i), uint8_t(i == 0 ? 16 : i == 1 ? 39 : 0));

  m.setShortCircuit(true);
  apply(c.reference);
  const double zero = Reading(m);
  m.setShortCircuit(false);
  const double ref = Reading(m);
  ASSERT_GT(std::fabs(ref - expected(c.reference)), 5 * digit) << "the converter error should be visible before";

  uint16_t gain = 0, offset = 0;
  ASSERT_TRUE(Constants(c.reference, zero, ref, k, gain, offset));
  WriteCfg(m, base, uint8_t(gain));
  WriteCfg(m, uint8_t(base + 1), uint8_t(gain >> 8));
  WriteCfg(m, uint8_t(base + 2), uint8_t(offset));
  WriteCfg(m, uint8_t(base + 3), uint8_t(offset >> 8));

  EXPECT_NEAR(Reading(m), expected(c.reference), digit * 1.001);
  apply(c.other);
  EXPECT_NEAR(Reading(m), expected(c.other), 3 * digit);
  m.setShortCircuit(true);
  EXPECT_NEAR(Reading(m), 0.0, 2 * digit);
  // The other range keeps its own neutral constants.
  WriteCfg(m, 0, c.current ? 0 : 1);
  EXPECT_EQ(m.gain(!c.current), 10000);
  EXPECT_EQ(m.offset(!c.current), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, SimCalibration,
    ::testing::Values(CalibrationCase{"VoltageDefaultError", false, {}, 5.0, 8.2},
                      CalibrationCase{"VoltageNegativeOffsetLowGain", false, {0.97, -41.0, 0}, 4.5, 1.3},
                      CalibrationCase{"CurrentDefaultError", true, {}, 10.0, 17.5},
                      CalibrationCase{"CurrentPositiveOffset", true, {1.035, 0, 120.0}, 9.2, 3.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimModel, MeasuredValueFormatAndSaturation) {
  struct Case {
    int32_t units;
    uint8_t places;
    std::array<uint8_t, 4> bytes;
  };
  const Case cases[] = {
      {12345, 3, {0x39, 0x30, 0x00, 3}},
      {-12345, 3, {0x39, 0x30, 0x80, 3}},
      {0, 6, {0, 0, 0, 6}},
      {0x7FFFFF, 3, {0xFF, 0xFF, 0x7F, 3}},
      {0x1000000, 3, {0xFF, 0xFF, 0x7F, 3}},  // beyond 23 bits saturates, never wraps
      {-0x1000000, 3, {0xFF, 0xFF, 0xFF, 3}},
  };
  for (const auto& c : cases) EXPECT_EQ(SimModule::EncodeMeasured(c.units, c.places), c.bytes) << c.units;

  SimModule m;
  m.setConverterError({1.0, 0.0, 0.0});
  m.setSourceVoltage(50.0);  // far over the range: the converter clips
  const double clipped = Reading(m);
  EXPECT_GT(clipped, 10.0);
  EXPECT_LT(clipped, 13.0);
  m.setSourceVoltage(-3.25);
  EXPECT_DOUBLE_EQ(Reading(m), -3.25);
  WriteCfg(m, 0, 3);  // readers test bit 0 only
  m.setSourceCurrent(4.0);
  EXPECT_NEAR(Reading(m), 0.004, 1e-9);
}

TEST(SimModel, NegationAppliesToInputsAndOutputTerminals) {
  SimModule m;
  m.setInputSwitches(0x00000201);  // DIN0 and DIN9 closed
  EXPECT_EQ(GroupOf(Ask(m, 0, 64)), 0x00000201u);

  // Negate DIN0..7 and DIN24..31 (addresses 33 and 42).
  WriteCfg(m, 33, 0xFF);
  WriteCfg(m, 42, 0x80);
  EXPECT_EQ(GroupOf(Ask(m, 0, 64)), 0x800002FEu);

  // Outputs: command 1 sets them; the negation turns the terminals, not the commanded state.
  ASSERT_EQ(Ask(m, 1, 64, {0, 0x05, 0x00, 0x00, 0x80}).status, 0);
  EXPECT_EQ(m.outputs(), 0x80000005u);
  EXPECT_EQ(m.physicalOutputs(), 0x80000005u);
  WriteCfg(m, 34, 0x0F);  // negate DOUT0..3
  WriteCfg(m, 43, 0x80);  // and DOUT31
  EXPECT_EQ(m.outputs(), 0x80000005u);
  EXPECT_EQ(m.physicalOutputs(), 0x0000000Au);
}

TEST(SimModel, PowerCycleRestoresOutputsStatusAndLineSettings) {
  SimModule m;
  EXPECT_EQ(GroupOf(Ask(m, 100, 0)), SimModule::StatusPWR | SimModule::StatusRST);
  ASSERT_EQ(Ask(m, 101, 0).status, 0);
  EXPECT_EQ(GroupOf(Ask(m, 100, 0)), 0u);
  m.raiseStatusBits(SimModule::StatusERR24 | SimModule::StatusFN);
  EXPECT_EQ(Ask(m, 100, 0).data[1], 0x42);

  WriteCfg(m, 32, 0x81);  // DOUT0 and DOUT7 start on
  WriteCfg(m, 41, 0x40);  // DOUT30
  ASSERT_EQ(Ask(m, 1, 64, {0, 0xFF, 0xFF, 0xFF, 0xFF}).status, 0);
  EXPECT_EQ(m.outputs(), 0xFFFFFFFFu);  // the initial state waits for the next power-up

  // A new address and rate are stored at once but used only after a power cycle.
  WriteCfg(m, 63, 17);
  WriteCfg(m, 62, 6);
  EXPECT_TRUE(m.handle(0, Rate9600, 100, 0, {}).has_value());
  EXPECT_FALSE(m.handle(17, 38400, 100, 0, {}).has_value());

  m.setPowered(false);
  EXPECT_FALSE(m.handle(0, Rate9600, 100, 0, {}).has_value()) << "a module that is off answers";
  EXPECT_EQ(m.physicalOutputs(), 0u);
  m.setPowered(true);

  EXPECT_EQ(m.outputs(), 0x40000081u);
  struct Line {
    uint8_t address;
    uint32_t rate;
    bool answers;
  };
  for (const Line& l : {Line{17, 38400, true}, Line{0, 9600, false}, Line{17, 9600, false}, Line{0, 38400, false},
                        Line{16, 38400, false}}) {
    EXPECT_EQ(m.handle(l.address, l.rate, 102, 0, {0, 63, 63, 0, 0}).has_value(), l.answers)
        << int(l.address) << " at " << l.rate;
  }
  const auto status = m.handle(17, 38400, 100, 0, {});
  ASSERT_TRUE(status);
  EXPECT_EQ(GroupOf(*status), SimModule::StatusPWR | SimModule::StatusRST) << "raised bits survive a power cycle";
  EXPECT_EQ(m.memory()[63], 17);
}

TEST(SimModel, UnknownBaudCodeFallsBackTo9600) {
  for (uint8_t code : {9, 200}) {
    SimModule m;
    WriteCfg(m, 62, code);
    m.powerCycle();
    EXPECT_EQ(m.baudRate(), 9600);
  }
  for (uint8_t code = 0; code <= 8; ++code) {
    SimModule m;
    WriteCfg(m, 62, code);
    m.powerCycle();
    EXPECT_EQ(m.baudRate(), SimModule::BaudCodeRate(code));
  }
}

TEST(SimStateFile, RoundTripAndRefusedFiles) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("nested/deeper/module.state").toStdString();

  SimModule::Memory memory = SimModule::FactoryMemory();
  memory[0] = 1;
  memory[43] = 0xA5;
  memory[63] = 255;
  SimModule::Memory second = SimModule::FactoryMemory();
  second[63] = 7;
  const std::vector<SimModule::Memory> line = {memory, second};
  ASSERT_TRUE(SaveSimState(path, line));
  std::vector<SimModule::Memory> loaded;
  ASSERT_EQ(LoadSimState(path, loaded), SimStateLoad::Loaded);
  EXPECT_EQ(loaded, line);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path + ".tmp" + std::to_string(getpid()))));

  // A file the single-module simulator wrote is one module.
  std::string v1 = "qx510-sim 1\n";
  for (int i = 0; i < 64; ++i) v1 += i == 63 ? "2A\n" : "00 ";
  std::ofstream(dir.filePath("v1.state").toStdString()) << v1;
  ASSERT_EQ(LoadSimState(dir.filePath("v1.state").toStdString(), loaded), SimStateLoad::Loaded);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0][63], 0x2A);

  std::string valid = "qx510-sim 1\n";
  for (int i = 0; i < 64; ++i) valid += "00 ";
  std::string tooMany = "qx510-sim 2\n";
  for (int m = 0; m < 33; ++m) tooMany += "module\n" + valid.substr(12);
  const std::string fifo = dir.filePath("fifo").toStdString();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir.filePath("folder").toStdString();
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
  struct Bad {
    const char* name;
    std::string text;  // written to a regular file unless path is given
    std::string path;
    SimStateLoad expected;
  };
  const Bad bad[] = {
      {"wrong header", "something else\n00", "", SimStateLoad::Invalid},
      {"truncated", "qx510-sim 1\n00 01 02\n", "", SimStateLoad::Invalid},
      {"not hex", valid.substr(0, valid.size() - 3) + "0G ", "", SimStateLoad::Invalid},
      {"three digits", valid.substr(0, valid.size() - 3) + "100", "", SimStateLoad::Invalid},
      {"signed", valid.substr(0, valid.size() - 3) + "-1 ", "", SimStateLoad::Invalid},
      {"valid but huge", valid + std::string(SimStateMaxBytes, ' '), "", SimStateLoad::Invalid},
      {"no module", "qx510-sim 2\n", "", SimStateLoad::Invalid},
      {"truncated module", "qx510-sim 2\nmodule\n00 01\n", "", SimStateLoad::Invalid},
      {"junk between modules", "qx510-sim 2\nmodule\n" + valid.substr(12) + "junk\n", "", SimStateLoad::Invalid},
      {"33 modules", tooMany, "", SimStateLoad::Invalid},
      {"fifo (must not block)", "", fifo, SimStateLoad::NotAFile},
      {"endless device", "", "/dev/zero", SimStateLoad::NotAFile},
      {"directory", "", folder, SimStateLoad::NotAFile},
      {"missing", "", dir.filePath("missing").toStdString(), SimStateLoad::Missing},
  };
  for (const auto& b : bad) {
    std::string p = b.path;
    if (p.empty()) {
      p = dir.filePath("bad.state").toStdString();
      std::ofstream(p) << b.text;
    }
    std::vector<SimModule::Memory> untouched = line;
    std::string error;
    EXPECT_EQ(LoadSimState(p, untouched, &error), b.expected) << b.name;
    EXPECT_FALSE(error.empty()) << b.name;
    EXPECT_EQ(error.find('\n'), std::string::npos) << b.name;
    EXPECT_EQ(untouched, line) << b.name;
  }
}

// A store that fails (a full disk) keeps the earlier state; a device or FIFO at the path is
// refused by the store and by the check at start, and stays what it was.
TEST(SimStateFile, AFailedStoreKeepsTheEarlierFileAndOddNodesAreRefused) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("module.state").toStdString();
  SimModule::Memory memory = SimModule::FactoryMemory();
  ASSERT_TRUE(SaveSimState(path, {memory}));
  const QByteArray before = FileBytes(QString::fromStdString(path));
  memory[40] = 9;
  std::string error;
  {
    FileSizeLimit limit(100);
    EXPECT_FALSE(SaveSimState(path, {memory, memory}, &error));
  }
  EXPECT_EQ(error, "soubor stavu " + path + " nelze zapsat: soubor by byl větší, než systém dovoluje");
  EXPECT_EQ(FileBytes(QString::fromStdString(path)), before);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"module.state"});

  const std::vector<OddNode> nodes = OddNodes(dir.path());
  if (nodes.empty()) GTEST_SKIP() << "no character device of the test's own";
  for (const OddNode& node : nodes) {
    const std::string odd = node.path.toStdString();
    SCOPED_TRACE(odd);
    error.clear();
    EXPECT_FALSE(CanSaveSimState(odd, &error));
    EXPECT_NE(error.find("není obyčejný soubor"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(SaveSimState(odd, {memory}, &error));
    EXPECT_NE(error.find("není obyčejný soubor"), std::string::npos) << error;
    EXPECT_EQ(NodeType(node.path), node.type);
  }
}

}  // namespace
