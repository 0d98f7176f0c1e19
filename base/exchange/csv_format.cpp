#include "base/exchange/csv_format.h"

#include <QDateTime>
#include <algorithm>

#include "base/exchange/exchange_trace.h"

namespace {
QString Hex(uint32_t word) { return QStringLiteral("0x%1").arg(word, 8, 16, QLatin1Char('0')); }
}  // namespace

CsvFormat CsvFormat::Plain() { return {}; }

CsvFormat CsvFormat::ForLocale(const QLocale& locale) {
  CsvFormat format;
  format.numbers = locale;
  // A spreadsheet reads "1 234,5" as text: values never group their digits.
  format.numbers.setNumberOptions(QLocale::OmitGroupSeparator);
  if (locale.decimalPoint() == QStringLiteral(",")) format.separator = QLatin1Char(';');
  return format;
}

QString CsvFormat::field(const QString& text) const {
  if (!text.contains(separator) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
      !text.contains(QLatin1Char('\r')))
    return text;
  return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

QString CsvFormat::line(const QStringList& fields) const {
  QStringList quoted;
  quoted.reserve(fields.size());
  for (const QString& f : fields) quoted << field(f);
  return quoted.join(separator);
}

QString CsvFormat::number(double value, int decimals) const {
  return numbers.toString(value, 'f', std::clamp(decimals, 0, 18));
}

QString CsvFormat::localTimePattern() const {
  // Quoted, so that no decimal mark is ever taken for a pattern letter.
  const QString mark = QLatin1Char('\'') + numbers.decimalPoint() + QLatin1Char('\'');
  return numbers.decimalPoint() == QStringLiteral(".") ? QStringLiteral("yyyy-MM-dd HH:mm:ss") + mark + QStringLiteral("zzz")
                                                       : QStringLiteral("d.M.yyyy HH:mm:ss") + mark + QStringLiteral("zzz");
}

QString CsvFormat::localTime(qint64 msSinceEpoch) const {
  return QDateTime::fromMSecsSinceEpoch(msSinceEpoch).toString(localTimePattern());
}

QString CsvHeader(const CsvFormat& format, const CsvValues& values) {
  QStringList columns = {QStringLiteral("time"), QStringLiteral("local_time"), QStringLiteral("address"), QStringLiteral("rate")};
  if (values.ain0) columns << QStringLiteral("ain0") << QStringLiteral("unit");
  if (values.din) columns << QStringLiteral("din");
  if (values.status) columns << QStringLiteral("status");
  columns << QStringLiteral("error");
  return format.line(columns);
}

QString CsvRow(const CsvFormat& format, const CsvValues& values, const CsvReading& r) {
  QStringList cells = {ExchangeTimeText(r.timeMs * 1000000), format.localTime(r.timeMs), QString::number(r.address),
                       QString::number(r.rate)};
  if (values.ain0) {
    cells << (r.ain0 ? format.number(*r.ain0, r.decimals) : QString()) << (r.ain0 ? r.unit : QString());
  }
  if (values.din) cells << (r.din ? Hex(*r.din) : QString());
  if (values.status) cells << (r.status ? Hex(*r.status) : QString());
  cells << r.error;
  return format.line(cells);
}
