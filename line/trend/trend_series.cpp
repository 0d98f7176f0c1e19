#include "line/trend/trend_series.h"

#include <algorithm>
#include <cmath>
#include <limits>

TrendSeries::TrendSeries(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 4)) {}

void TrendSeries::append(double t, double value) {
  if (!t_.empty() && t < t_.back()) t = t_.back();  // a clock stepped back must not unsort the series
  if (t_.size() >= capacity_) {
    const auto drop = std::ptrdiff_t(capacity_ / 4);
    t_.erase(t_.begin(), t_.begin() + drop);
    v_.erase(v_.begin(), v_.begin() + drop);
  }
  t_.push_back(t);
  v_.push_back(value);
}

void TrendSeries::clear() {
  t_.clear();
  v_.clear();
}

std::size_t TrendSeries::lower(double t) const { return std::size_t(std::lower_bound(t_.begin(), t_.end(), t) - t_.begin()); }
std::size_t TrendSeries::upper(double t) const { return std::size_t(std::upper_bound(t_.begin(), t_.end(), t) - t_.begin()); }

std::size_t TrendSeries::nearest(double t) const {
  if (t_.empty()) return 0;
  const std::size_t after = lower(t);
  if (after == 0) return 0;
  if (after == t_.size()) return after - 1;
  return t - t_[after - 1] <= t_[after] - t ? after - 1 : after;
}

TrendSeries::Stats TrendSeries::stats(double t0, double t1) const {
  Stats s;
  const std::size_t a = lower(t0), b = upper(t1);
  if (a >= b) return s;
  s.min = std::numeric_limits<double>::infinity();
  s.max = -s.min;
  double sum = 0;
  for (std::size_t i = a; i < b; ++i) {
    s.min = std::min(s.min, v_[i]);
    s.max = std::max(s.max, v_[i]);
    sum += v_[i];
  }
  s.count = b - a;
  s.mean = sum / double(s.count);
  return s;
}

void TrendSeries::decimate(double t0, double t1, int columns, QVector<double>& xs, QVector<double>& ys) const {
  xs.clear();
  ys.clear();
  std::size_t a = lower(t0), b = upper(t1);
  if (a > 0) --a;
  if (b < t_.size()) ++b;
  if (a >= b) return;
  columns = std::max(columns, 1);
  if (b - a <= std::size_t(columns) * 2 || t1 <= t0) {
    xs.reserve(qsizetype(b - a));
    ys.reserve(qsizetype(b - a));
    for (std::size_t i = a; i < b; ++i) {
      xs.append(t_[i]);
      ys.append(v_[i]);
    }
    return;
  }
  xs.reserve(columns * 2 + 4);
  ys.reserve(columns * 2 + 4);
  const double width = (t1 - t0) / columns;
  std::size_t i = a;
  while (i < b) {
    // The column of reading i, and the readings that share it.
    const double column = std::floor((t_[i] - t0) / width);
    const double end = t0 + (column + 1) * width;
    std::size_t lo = i, hi = i, j = i;
    for (; j < b && t_[j] < end; ++j) {
      if (v_[j] < v_[lo]) lo = j;
      if (v_[j] > v_[hi]) hi = j;
    }
    if (j == i) j = i + 1;  // guard against a column that rounding left empty
    const std::size_t first = std::min(lo, hi), second = std::max(lo, hi);
    xs.append(t_[first]);
    ys.append(v_[first]);
    if (second != first) {
      xs.append(t_[second]);
      ys.append(v_[second]);
    }
    i = j;
  }
}
