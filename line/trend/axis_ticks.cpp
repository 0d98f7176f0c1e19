#include "line/trend/axis_ticks.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace {

struct TimeStep {
  double seconds;
  const char* format;  // QLocale date/time format of the labels at this step
};

// Each format shows the step's own unit, so labels of consecutive ticks differ.
constexpr TimeStep TimeSteps[] = {
    {0.1, "HH:mm:ss,z"}, {0.2, "HH:mm:ss,z"}, {0.5, "HH:mm:ss,z"}, {1, "HH:mm:ss"},      {2, "HH:mm:ss"},
    {5, "HH:mm:ss"},     {10, "HH:mm:ss"},    {15, "HH:mm:ss"},    {30, "HH:mm:ss"},     {60, "HH:mm"},
    {120, "HH:mm"},      {300, "HH:mm"},      {600, "HH:mm"},      {900, "HH:mm"},       {1800, "HH:mm"},
    {3600, "HH:mm\nd. M."}, {7200, "HH:mm\nd. M."}, {10800, "HH:mm\nd. M."}, {21600, "HH:mm\nd. M."},
    {43200, "HH:mm\nd. M."}, {86400, "d. M.\nyyyy"}, {2 * 86400, "d. M.\nyyyy"}, {7 * 86400, "d. M.\nyyyy"},
    {14 * 86400, "d. M.\nyyyy"}, {28 * 86400, "d. M.\nyyyy"}};

// A date in the labels of the finer steps only where it changes, so a span across midnight
// is readable without every label carrying the date.
QString TimeLabel(double t, const TimeStep& step, const QLocale& locale, bool withDate) {
  const QDateTime at = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(t * 1000)));
  QString format = QString::fromLatin1(step.format);
  if (format.endsWith(QLatin1String("z"))) {
    // Tenths only: the finest step is a tenth of a second.
    QString text = locale.toString(at, QStringLiteral("HH:mm:ss"));
    return text + locale.decimalPoint() + QString::number(at.time().msec() / 100);
  }
  if (withDate && !format.contains(QLatin1Char('d'))) format += QStringLiteral("\nd. M.");
  return locale.toString(at, format);
}

}  // namespace

AxisTicks TimeTicks(double t0, double t1, int maxTicks, const QLocale& locale) {
  AxisTicks ticks;
  if (!(t1 > t0) || !std::isfinite(t0) || !std::isfinite(t1)) return ticks;
  maxTicks = std::max(maxTicks, 2);
  const TimeStep* step = std::end(TimeSteps) - 1;
  for (const TimeStep& s : TimeSteps)
    if ((t1 - t0) / s.seconds <= maxTicks) {
      step = &s;
      break;
    }
  // Steps of minutes and longer fall on the local clock's round values, not UTC's.
  const double offset = step->seconds >= 60 ? QDateTime::fromMSecsSinceEpoch(qint64(t0 * 1000)).offsetFromUtc() : 0;
  double first = std::ceil((t0 + offset) / step->seconds - 1e-9) * step->seconds - offset;
  if (step->seconds >= 86400) {
    // Days from local midnight, whatever the offset did meanwhile.
    QDateTime day = QDateTime::fromMSecsSinceEpoch(qint64(t0 * 1000));
    day = QDateTime(day.date(), QTime(0, 0));
    if (day.toMSecsSinceEpoch() < qint64(t0 * 1000)) day = day.addDays(1);
    first = day.toMSecsSinceEpoch() / 1000.0;
  }
  QDate previous;
  for (int i = 0; i <= maxTicks + 1; ++i) {
    const double t = first + i * step->seconds;
    if (t > t1 + 1e-9) break;
    const QDate date = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(t * 1000))).date();
    ticks.at.append(t);
    ticks.labels.append(TimeLabel(t, *step, locale, previous.isValid() && date != previous));
    previous = date;
  }
  return ticks;
}

AxisTicks ValueTicks(double lo, double hi, int maxTicks, const QLocale& locale) {
  AxisTicks ticks;
  if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi)) return ticks;
  maxTicks = std::max(maxTicks, 2);
  const double raw = (hi - lo) / maxTicks;
  int exponent = int(std::floor(std::log10(raw)));
  double step = 0;
  for (;; ++exponent) {
    const double power = std::pow(10.0, exponent);
    for (double m : {1.0, 2.0, 5.0})
      if (m * power >= raw) {
        step = m * power;
        break;
      }
    if (step > 0) break;
  }
  // A span that falls between two ticks of the round step gets the next finer one: an axis
  // with one label says nothing about the scale.
  for (int finer = 0; finer < 3; ++finer) {
    ticks = {};
    const int decimals = std::clamp(-int(std::floor(std::log10(step) + 1e-9)), 0, 15);
    const long long firstIndex = std::llround(std::ceil(lo / step - 1e-9));
    for (long long i = firstIndex;; ++i) {
      const double v = double(i) * step;
      if (v > hi + step * 1e-9 || ticks.at.size() > maxTicks + 1) break;
      ticks.at.append(v);
      // i * step is exact in the printed digits; a negative zero would read "-0".
      ticks.labels.append(locale.toString(i == 0 ? 0.0 : v, 'f', decimals));
    }
    if (ticks.at.size() >= 2) break;
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    step *= mantissa > 4 ? 0.4 : 0.5;  // 5 -> 2 -> 1 -> 0.5
  }
  return ticks;
}

ValueSpan FitValueRange(double min, double max) {
  if (min > max) std::swap(min, max);
  const double size = std::max(std::abs(min), std::abs(max));
  // Below this the readings differ only in digits nobody reads: a flat line.
  const double flat = std::max(size * 1e-4, 1e-6);
  if (max - min < flat) {
    const double mid = (min + max) / 2;
    const double half = std::max(std::abs(mid) * 0.01, 0.01);
    return {mid - half, mid + half};
  }
  const double margin = (max - min) * 0.05;
  return {min - margin, max + margin};
}
