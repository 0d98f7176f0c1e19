#include "line/trend_export.h"

#include "line/csv_log.h"
#include "line/trend_series.h"

QChar CsvSeparator(const QLocale& locale) {
  return locale.decimalPoint() == QLatin1String(",") ? QLatin1Char(';') : QLatin1Char(',');
}

QByteArray TrendCsv(const TrendSeries& series, double t0, double t1, const QString& unit, const QLocale& locale) {
  QLocale numbers = locale;
  numbers.setNumberOptions(QLocale::OmitGroupSeparator);
  const QChar separator = CsvSeparator(locale);
  QString text = QStringLiteral("Čas") + separator + QStringLiteral("Hodnota [%1]").arg(unit) + QLatin1Char('\n');
  series.forEach(t0, t1, [&](double t, double v) {
    text += CsvLog::TimeText(qint64(std::llround(t * 1000))) + separator +
            numbers.toString(v, 'f', QLocale::FloatingPointShortest) + QLatin1Char('\n');
  });
  return text.toUtf8();
}
