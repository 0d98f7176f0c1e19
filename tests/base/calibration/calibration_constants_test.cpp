#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "base/calibration/calibration_constants.h"
#include "base/exchange/exchange.h"

namespace {

struct ConstantsCase {
  const char* name;
  uint8_t range;
  double entered, zero, reference;  // V or mA entered; V or A read
  bool ok;
  uint16_t gain, offset;
};

// Readings are given in the module's units; the comments give E, Z and F in the working unit.
const ConstantsCase kCases[] = {
    {"gain_above_one", RangeVoltage, 5.0, 0.0, 4.750, true, 10526, 0},          // F 4750
    {"negative_zero_reading", RangeVoltage, 5.0, -0.125, 5.125, true, 9524, 65416},
    {"added_tenth_rounds_up", RangeVoltage, 5.0, 0.0, 5.032, true, 9937, 0},     // 9936.407
    {"largest_gain", RangeVoltage, 10.0, 0.0, 1.526, true, 65531, 0},            // 65530.80
    {"gain_too_large", RangeVoltage, 10.0, 0.0, 1.525, false, 0, 0},             // 65573.77
    {"gain_at_its_limit", RangeVoltage, 13.107, 0.0, 2.0, true, 65535, 0},       // G exactly 65535
    {"reference_equals_zero", RangeVoltage, 5.0, 0.5, 0.5, false, 0, 0},
    {"reference_below_zero", RangeVoltage, 5.0, 0.5, 0.4, false, 0, 0},
    {"span_truncated_to_nothing", RangeVoltage, 5.0, 0.0, 0.0009, false, 0, 0},  // F truncates to 0
    {"offset_half_truncated", RangeVoltage, 5.0, 0.003, 10.003, true, 5000, 1},   // O = 1.5
    {"offset_minus_half_floored", RangeVoltage, 5.0, -0.003, 9.997, true, 5000, 65534},  // O = -1.5
    {"half_rounds_to_even_down", RangeVoltage, 0.006, 0.0, 25.0, true, 2, 0},    // G 2.4 + 0.1
    {"half_rounds_to_even_up", RangeVoltage, 0.017, 0.0, 50.0, true, 4, 0},      // G 3.4 + 0.1
    {"entered_truncated", RangeVoltage, 4.9999, 0.0, 4.999, true, 10000, 0},     // E 4999, F 4999
    {"zero_truncated_toward_zero", RangeVoltage, 5.0, -0.1259, 4.875, true, 10000, 65411},  // Z -125
    {"negative_entry", RangeVoltage, -5.0, 0.0, 5.0, false, 0, 0},
    {"largest_positive_offset", RangeVoltage, 5.0, 32.767, 37.767, true, 10000, 32767},
    {"offset_beyond_positive_word", RangeVoltage, 5.0, 32.768, 37.768, false, 0, 0},
    {"largest_negative_offset", RangeVoltage, 5.0, -32.768, -27.768, true, 10000, 32768},
    {"offset_beyond_negative_word", RangeVoltage, 5.0, -32.769, -27.769, false, 0, 0},
    // Current: milliamperes entered, amperes read, microamperes worked in.
    {"current_gain", RangeCurrent, 10.0, 0.0, 0.0095, true, 10526, 0},           // F 9500 uA
    {"current_negative_zero", RangeCurrent, 10.0, -0.000125, 0.010125, true, 9756, 65414},
};

class ConstantsTable : public ::testing::TestWithParam<ConstantsCase> {};

TEST_P(ConstantsTable, ComputesOrRefuses) {
  const ConstantsCase& c = GetParam();
  uint16_t gain = 0xBEEF, offset = 0xCAFE;
  EXPECT_EQ(ComputeCalibrationConstants(c.range, c.entered, c.zero, c.reference, gain, offset), c.ok);
  if (c.ok) {
    EXPECT_EQ(gain, c.gain);
    EXPECT_EQ(offset, c.offset);
  } else {
    EXPECT_EQ(gain, 0xBEEF) << "a refused computation leaves the words alone";
    EXPECT_EQ(offset, 0xCAFE);
  }
}

INSTANTIATE_TEST_SUITE_P(Calibration, ConstantsTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Readings as the module delivers them, decoded from its format: 0.007 V is not exactly
// representable, and must still count as 7 mV rather than 6.
TEST(CalibrationConstants, DecodedReadingsKeepTheirLastUnit) {
  const double zero = DecodeMeasuredValue(7, 0, 0, 3);             // 0.007 V
  const double reference = DecodeMeasuredValue(0x8F, 0x13, 0, 3);  // 5.007 V
  uint16_t gain = 0, offset = 0;
  ASSERT_TRUE(ComputeCalibrationConstants(RangeVoltage, 5.0, zero, reference, gain, offset));
  EXPECT_EQ(gain, 10000);  // span 5000 mV; a lost unit would give 9998
  EXPECT_EQ(offset, 7);

  // 0.010017 A is 10017 uA (the product lands just above the integer; nothing to lose there).
  const double current = DecodeMeasuredValue(0x21, 0x27, 0, 6);
  ASSERT_TRUE(ComputeCalibrationConstants(RangeCurrent, 10.017, 0.0, current, gain, offset));
  EXPECT_EQ(gain, 10000);
}

TEST(CalibrationConstants, RefusesNonNumbers) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  uint16_t gain = 1, offset = 2;
  // An infinite reference or an infinite entry would otherwise come out as a gain of 0.
  for (auto [e, z, f] : {std::tuple{nan, 0.0, 5.0}, {5.0, nan, 5.0}, {5.0, 0.0, nan}, {5.0, -inf, 5.0},
                         {5.0, 0.0, inf}, {inf, 0.0, 5.0}})
    EXPECT_FALSE(ComputeCalibrationConstants(RangeVoltage, e, z, f, gain, offset)) << e << " " << z << " " << f;
  EXPECT_EQ(gain, 1);
  EXPECT_EQ(offset, 2);
}

}  // namespace
