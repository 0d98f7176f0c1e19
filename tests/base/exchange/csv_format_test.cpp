#include "base/exchange/csv_format.h"

#include <gtest/gtest.h>

#include <QDateTime>

namespace {
// A CSV line split as a spreadsheet splits it: quoted fields may hold the separator and
// doubled quotes.
QStringList Fields(const QString& line, QChar separator) {
  QStringList fields{QString()};
  bool quoted = false;
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar ch = line[i];
    if (quoted && ch == u'"' && i + 1 < line.size() && line[i + 1] == u'"') {
      fields.last() += ch;
      ++i;
    } else if (ch == u'"') {
      quoted = !quoted;
    } else if (ch == separator && !quoted) {
      fields << QString();
    } else {
      fields.last() += ch;
    }
  }
  return fields;
}
}  // namespace

// What was written comes back as numbers and times when read with the format's own rules.
TEST(CsvFormat, RowsReadBackWithTheirRules) {
  const QLocale czech(QLocale::Czech, QLocale::Czechia);
  const struct {
    const char* name;
    CsvFormat format;
    QLocale reader;
    QChar separator;
  } cases[] = {{"locale", CsvFormat::ForLocale(czech), czech, u';'}, {"plain", CsvFormat::Plain(), QLocale::c(), u','}};
  const CsvValues values{true, true, true};
  CsvReading r;
  r.timeMs = QDateTime(QDate(2026, 12, 7), QTime(19, 40, 5, 123)).toMSecsSinceEpoch();
  r.address = 31;
  r.rate = 57600;
  r.ain0 = 12345.678;  // a thousands separator would turn it into text
  r.decimals = 3;
  r.unit = QStringLiteral("mA");
  r.din = 0x201;
  r.error = QStringLiteral("status: modul odpověděl \"NAK\"; pak, znovu, nic");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.format.separator, c.separator);
    const QStringList header = Fields(CsvHeader(c.format, values), c.separator);
    const QStringList row = Fields(CsvRow(c.format, values, r), c.separator);
    ASSERT_EQ(row.size(), header.size()) << CsvRow(c.format, values, r).toStdString();
    const auto cell = [&](const char* column) { return row.at(header.indexOf(QLatin1String(column))); };
    EXPECT_EQ(QDateTime::fromString(cell("time"), Qt::ISODateWithMs).toMSecsSinceEpoch(), r.timeMs);
    EXPECT_EQ(QDateTime::fromString(cell("local_time"), c.format.localTimePattern()).toMSecsSinceEpoch(), r.timeMs)
        << cell("local_time").toStdString();
    bool ok = false;
    EXPECT_DOUBLE_EQ(c.reader.toDouble(cell("ain0"), &ok), 12345.678);
    EXPECT_TRUE(ok) << cell("ain0").toStdString();
    EXPECT_EQ(c.reader.toInt(cell("rate")), 57600);
    EXPECT_EQ(cell("unit"), QStringLiteral("mA"));
    EXPECT_EQ(cell("din"), QStringLiteral("0x00000201"));
    EXPECT_TRUE(cell("status").isEmpty());
    EXPECT_EQ(cell("error"), r.error);
  }
  EXPECT_EQ(CsvFormat::ForLocale(czech).localTime(r.timeMs), QStringLiteral("7.12.2026 19:40:05,123"));
}
