#pragma once

#include <QLocale>
#include <QString>
#include <QVector>

// Tick positions and their labels for the trend's axes, chosen from the visible span so that
// no two labels read alike: the step is a round one (1, 2 or 5 times a power of ten for
// values; seconds, minutes, hours or days for times) and the labels show exactly as many
// digits as the step needs.
struct AxisTicks {
  QVector<double> at;
  QVector<QString> labels;
};

// Times in seconds since the epoch, labelled in local time; at most `maxTicks` ticks.
AxisTicks TimeTicks(double t0, double t1, int maxTicks, const QLocale& locale = QLocale());
AxisTicks ValueTicks(double lo, double hi, int maxTicks, const QLocale& locale = QLocale());

// The value axis' range for readings from `min` to `max`: a small margin around them, and
// for a flat line a range around its value wide enough to label (never a span the axis could
// only label with one number over and over).
struct ValueSpan {
  double lo, hi;
};
ValueSpan FitValueRange(double min, double max);
