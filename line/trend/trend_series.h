#pragma once

#include <QVector>
#include <cstddef>
#include <vector>

// Readings of one value over time (seconds since the epoch, ascending), kept up to a capacity;
// past it the oldest quarter goes. Hours at ten readings a second fit the default.
class TrendSeries {
 public:
  explicit TrendSeries(std::size_t capacity = 12 * 3600 * 10);

  void append(double t, double value);
  void clear();
  std::size_t size() const { return t_.size(); }
  bool empty() const { return t_.empty(); }
  double firstTime() const { return t_.front(); }
  double lastTime() const { return t_.back(); }

  struct Stats {
    std::size_t count = 0;
    double min = 0, max = 0, mean = 0;
  };
  // Over the readings with t0 <= t <= t1.
  Stats stats(double t0, double t1) const;

  // The readings of [t0, t1] and one on either side (so the line reaches the edges), thinned
  // for `columns` pixel columns: where a column holds more than two readings, only its
  // lowest and highest are kept, in their time order, so every peak stays visible.
  void decimate(double t0, double t1, int columns, QVector<double>& xs, QVector<double>& ys) const;

  // Every reading with t0 <= t <= t1, oldest first.
  template <typename F>
  void forEach(double t0, double t1, F&& each) const {
    for (std::size_t i = lower(t0), end = upper(t1); i < end; ++i) each(t_[i], v_[i]);
  }
  // The index of the reading nearest to t; size() when the series is empty.
  std::size_t nearest(double t) const;
  double time(std::size_t i) const { return t_[i]; }
  double value(std::size_t i) const { return v_[i]; }

 private:
  std::size_t lower(double t) const;
  std::size_t upper(double t) const;

  std::size_t capacity_;
  std::vector<double> t_, v_;
};
