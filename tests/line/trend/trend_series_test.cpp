// The trend's memory: thinning that keeps what a plot shows, statistics over a span.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "line/trend/trend_series.h"

namespace {

TEST(TrendSeries, ThinningKeepsEveryColumnsExtremesAndStaysSmall) {
  struct Case {
    int points;
    int columns;
  };
  for (const Case c : {Case{360000, 800}, Case{1000, 800}, Case{5000, 3}, Case{2, 100}}) {
    SCOPED_TRACE(c.points);
    TrendSeries s(c.points + 10);
    for (int i = 0; i < c.points; ++i) s.append(1000.0 + i * 0.1, std::sin(i * 0.37) * 10 + (i == c.points / 2 ? 500 : 0));
    const double t0 = 1000.0, t1 = 1000.0 + (c.points - 1) * 0.1;
    QVector<double> xs, ys;
    s.decimate(t0, t1, c.columns, xs, ys);
    EXPECT_LE(xs.size(), std::max<qsizetype>(2 * c.columns + 4, c.points));
    EXPECT_TRUE(std::is_sorted(xs.begin(), xs.end()));
    // The spike and the overall extremes survive the thinning.
    const TrendSeries::Stats all = s.stats(t0, t1);
    EXPECT_EQ(all.count, std::size_t(c.points));
    EXPECT_DOUBLE_EQ(*std::max_element(ys.begin(), ys.end()), all.max);
    EXPECT_DOUBLE_EQ(*std::min_element(ys.begin(), ys.end()), all.min);
  }
}

TEST(TrendSeries, StatsCoverOnlyTheSpanAndCapacityDropsTheOldest) {
  TrendSeries s(8);
  for (int i = 0; i < 8; ++i) s.append(i, i);
  const TrendSeries::Stats mid = s.stats(2, 4);
  EXPECT_EQ(mid.count, 3u);
  EXPECT_DOUBLE_EQ(mid.mean, 3);
  EXPECT_DOUBLE_EQ(mid.min, 2);
  EXPECT_DOUBLE_EQ(mid.max, 4);
  EXPECT_EQ(s.stats(20, 30).count, 0u);
  s.append(8, 8);  // full: the oldest quarter goes
  EXPECT_EQ(s.size(), 7u);
  EXPECT_DOUBLE_EQ(s.firstTime(), 2);
  s.append(1, 99);  // a clock that stepped back keeps the series in order
  EXPECT_DOUBLE_EQ(s.lastTime(), 8);
}

}  // namespace
