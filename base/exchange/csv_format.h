#pragma once

#include <QChar>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// The one CSV form of readings, written by the companion's `watch --format csv` and by the
// workbench's log: the same columns under the same header, in this order (a value column only
// when its value is logged):
//
//   time        ISO 8601 with the offset from UTC ("2026-12-07T19:40:05.123+01:00"), for scripts
//   local_time  the same instant as a spreadsheet reads a date and time under the format's
//               rules: "7.12.2026 19:40:05,123" (locale) or "2026-12-07 19:40:05.123" (plain)
//   address     the module's address, 0-255
//   rate        its rate in Bd
//   ain0, unit  input 0 in V or mA, with the module's decimal places
//   din         the 32 inputs, "0xHHHHHHHH"
//   status      the status register, "0xHHHHHHHH"
//   error       empty when the reading answered, else why not (Czech)
//
// Two choices of separator and decimal mark: plain (`,` and `.`, what scripts expect) and the
// locale's (its decimal mark; `;` between fields where that mark is `,`, as a Czech spreadsheet
// expects). A field holding the separator, a quote or a line end is quoted.
//
// A file meant for a spreadsheet (the workbench's log, the trend's export, the companion's
// `watch -o` unless told otherwise) starts with the UTF-8 byte order mark: a spreadsheet
// opened by a double click otherwise takes the Czech letters for another code page.
inline constexpr char CsvByteOrderMark[] = "\xEF\xBB\xBF";

struct CsvFormat {
  QChar separator = QLatin1Char(',');
  QLocale numbers = QLocale::c();  // the decimal mark of values and of the local time's seconds

  static CsvFormat Plain();
  static CsvFormat ForLocale(const QLocale& locale = QLocale());

  QString field(const QString& text) const;
  QString line(const QStringList& fields) const;  // without the line end
  QString number(double value, int decimals) const;
  QString localTime(qint64 msSinceEpoch) const;
  QString localTimePattern() const;  // for QDateTime::fromString
};

// Which values the rows carry.
struct CsvValues {
  bool ain0 = false;
  bool din = false;
  bool status = false;
};

// One reading; a value the reading did not get stays empty.
struct CsvReading {
  qint64 timeMs = 0;  // since the epoch
  int address = 0;
  int32_t rate = 0;
  std::optional<double> ain0;
  int decimals = 0;
  QString unit;
  std::optional<uint32_t> din;
  std::optional<uint32_t> status;
  QString error;
};

QString CsvHeader(const CsvFormat& format, const CsvValues& values);
QString CsvRow(const CsvFormat& format, const CsvValues& values, const CsvReading& reading);
