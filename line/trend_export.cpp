#include "line/trend_export.h"

#include <QSaveFile>

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

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    error = file.errorString();
    return false;
  }
  if (file.write(bytes) != bytes.size() || file.size() != bytes.size()) {
    error = file.errorString().isEmpty() ? QStringLiteral("zápis neúplný") : file.errorString();
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {
    error = file.errorString();
    return false;
  }
  return true;
}
