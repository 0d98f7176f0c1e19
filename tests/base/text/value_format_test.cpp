#include "base/text/value_format.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <cmath>
#include <limits>

namespace {

struct FormatCase {
  float value;
  int decimals;
  const char* expected;  // written with ',' as the separator
};

const FormatCase kCases[] = {
    // module readings as the windows get them
    {12.345f, 3, "12,345"},
    {4.0f, 3, "4,000"},
    {5.12f, 2, "5,12"},
    {-12.345f, 3, "-12,345"},
    {0.0f, 0, "0"},
    {0.0f, 3, "0,000"},
    // at most five significant digits, zeros filling the remaining places
    {1.23456f, 2, "1,23"},
    {1.23456f, 4, "1,2346"},
    {1.23456f, 6, "1,234600"},
    {12345.6f, 1, "12346,0"},
    {99999.4f, 3, "99999,000"},
    {0.000123456f, 8, "0,00012346"},
    {1e-10f, 18, "0,000000000100000000"},
    // rounding: half away from zero, carries across the separator
    {2.5f, 0, "3"},
    {-2.5f, 0, "-3"},
    {0.125f, 2, "0,13"},
    {9.99996f, 4, "10,0000"},
    {0.006f, 2, "0,01"},
    {0.004f, 2, "0,00"},
    // a value that rounds to zero carries no sign
    {-0.0001f, 2, "0,00"},
    {-0.0f, 1, "0,0"},
    // more than 18 decimals are written as 18, fewer than 0 as 0
    {1.5f, 25, "1,500000000000000000"},
    {1.234e-15f, 25, "0,000000000000001234"},  // the cap also bounds the significant digits
    {7.6f, -1, "8"},
    // more than five whole digits: general format
    {8388607.0f, 0, "8,3886E6"},
    {-8388607.0f, 3, "-8,3886E6"},
    {123456.0f, 2, "1,2346E5"},
    {100000.0f, 0, "1E5"},
    {99999.5f, 0, "1E5"},
    {120000.0f, 4, "1,2E5"},
    {8388607000.0f, 3, "8,3886E9"},
};

class FormatTest : public ::testing::TestWithParam<QLocale::Language> {
 protected:
  void SetUp() override { QLocale::setDefault(QLocale(GetParam())); }
  void TearDown() override { QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia)); }
};

TEST_P(FormatTest, TableOfValues) {
  const QString separator = QLocale().decimalPoint();
  for (const auto& c : kCases) {
    const QString expected = QString::fromUtf8(c.expected).replace(QLatin1Char(','), separator);
    EXPECT_EQ(FormatFixedPrecision5(c.value, c.decimals), expected)
        << "value " << c.value << ", decimals " << c.decimals;
  }
}

TEST_P(FormatTest, NonFiniteValues) {
  EXPECT_EQ(FormatFixedPrecision5(std::numeric_limits<float>::quiet_NaN(), 2), "NAN");
  EXPECT_EQ(FormatFixedPrecision5(std::numeric_limits<float>::infinity(), 2), "INF");
  EXPECT_EQ(FormatFixedPrecision5(-std::numeric_limits<float>::infinity(), 2), "-INF");
}

// A calibration's figures: readings as the module sends them, what is derived from them with
// one decimal more at most.
TEST_P(FormatTest, CalibrationFiguresKeepTheModulesDecimals) {
  const QString separator = QLocale().decimalPoint();
  const struct {
    double value;
    bool derived, sign;
    const char* expected;
  } cases[] = {{5.112, false, false, "5,112"},         {0.1120000000000001, true, true, "+0,112"},
               {5.0, true, false, "5,000"},            {0.01, true, false, "0,010"},
               {5.1125, true, false, "5,1125"},        {5.112333333, true, false, "5,1123"},
               {-0.00001, true, true, "0,0000"},       {-0.0125, true, true, "-0,0125"},
               {10.0004999, false, false, "10,000"}};
  for (const auto& c : cases) {
    const QString expected = QString::fromUtf8(c.expected).replace(QLatin1Char(','), separator);
    EXPECT_EQ(c.derived ? DerivedFigure(c.value, c.sign) : ReadingFigure(c.value, c.sign), expected) << c.value;
  }
}

INSTANTIATE_TEST_SUITE_P(Separators, FormatTest,
                         ::testing::Values(QLocale::Czech, QLocale::English),
                         [](const auto& info) {
                           return info.param == QLocale::Czech ? std::string("Comma")
                                                               : std::string("Point");
                         });

}  // namespace
