#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>
#include <QSet>
#include <QTimeZone>

#include "line/trend/axis_ticks.h"

namespace {

const QLocale Czech(QLocale::Czech, QLocale::Czechia);

void ExpectDistinct(const AxisTicks& ticks, const char* what) {
  ASSERT_EQ(ticks.at.size(), ticks.labels.size()) << what;
  EXPECT_GE(ticks.at.size(), 2) << what;
  for (int i = 1; i < ticks.at.size(); ++i) {
    EXPECT_GT(ticks.at[i], ticks.at[i - 1]) << what;
    EXPECT_NE(ticks.labels[i], ticks.labels[i - 1]) << what << ": " << ticks.labels[i].toStdString();
  }
  EXPECT_EQ(QSet<QString>(ticks.labels.begin(), ticks.labels.end()).size(), ticks.labels.size()) << what;
}

TEST(AxisTicks, TimeLabelsNeverRepeatOverAnySpan) {
  const double start = QDateTime(QDate(2024, 3, 30), QTime(17, 49, 9, 300)).toMSecsSinceEpoch() / 1000.0;
  // From a second and a half (the span that printed "17:49:09" twice) to weeks, a span across
  // the clock change at night included; at every width from a narrow window to a wide one.
  for (double span : {1.5, 3.0, 7.0, 40.0, 90.0, 400.0, 3000.0, 7200.0, 40000.0, 86400.0 * 1.5, 86400.0 * 9, 86400.0 * 60})
    for (int maxTicks : {3, 6, 12, 20}) {
      const AxisTicks ticks = TimeTicks(start, start + span, maxTicks, Czech);
      const std::string what = "span " + std::to_string(span) + " s, " + std::to_string(maxTicks) + " ticks";
      ExpectDistinct(ticks, what.c_str());
      EXPECT_LE(ticks.at.size(), maxTicks + 1) << what;
      EXPECT_GE(ticks.at.first(), start) << what;
      EXPECT_LE(ticks.at.last(), start + span) << what;
    }
}

TEST(AxisTicks, SubSecondLabelsUseTheLocalesDecimalComma) {
  const double start = QDateTime(QDate(2024, 5, 2), QTime(17, 49, 9)).toMSecsSinceEpoch() / 1000.0;
  const AxisTicks ticks = TimeTicks(start, start + 1, 6, Czech);
  ASSERT_FALSE(ticks.labels.isEmpty());
  EXPECT_EQ(ticks.labels.first(), QStringLiteral("17:49:09,0"));
}

TEST(AxisTicks, ValueLabelsNeverRepeat) {
  struct Case {
    double lo, hi;
  };
  // A wide span, a narrow one around a large value, spans around zero and of tiny currents.
  for (const Case c : {Case{0, 10}, Case{7661.2, 7663.9}, Case{-0.004, 0.003}, Case{3.99991, 4.00012},
                       Case{-250, 250}, Case{0.0042, 0.0043}, Case{1e5, 1.00001e5}})
    for (int maxTicks : {3, 5, 10}) {
      const AxisTicks ticks = ValueTicks(c.lo, c.hi, maxTicks, Czech);
      ExpectDistinct(ticks, (std::to_string(c.lo) + ".." + std::to_string(c.hi)).c_str());
      for (const QString& label : ticks.labels) EXPECT_NE(label, QStringLiteral("-0")) << "negative zero";
    }
}

TEST(AxisTicks, FlatLineGetsARangeItsLabelsCanTellApart) {
  for (double v : {7662.0, 0.0, -3.25, 0.004, 1e6}) {
    const ValueSpan span = FitValueRange(v, v + std::abs(v) * 1e-9);
    EXPECT_LT(span.lo, v);
    EXPECT_GT(span.hi, v);
    const AxisTicks ticks = ValueTicks(span.lo, span.hi, 5, Czech);
    ExpectDistinct(ticks, std::to_string(v).c_str());
  }
  const ValueSpan moving = FitValueRange(1.0, 3.0);
  EXPECT_DOUBLE_EQ(moving.lo, 0.9);
  EXPECT_DOUBLE_EQ(moving.hi, 3.1);
}

TEST(AxisTicks, ValueLabelsShowTheStepsDigits) {
  const AxisTicks ticks = ValueTicks(7661.2, 7663.9, 6, Czech);
  QVector<QString> expected;
  for (double v : {7661.5, 7662.0, 7662.5, 7663.0, 7663.5}) expected.append(Czech.toString(v, 'f', 1));
  EXPECT_EQ(ticks.labels, expected);
}

}  // namespace
