#pragma once

#include <QByteArray>
#include <QImage>
#include <QLocale>
#include <QString>

class TrendSeries;

// The readings of [t0, t1] as CSV for a spreadsheet, in the locale's form of the log
// (base/exchange/csv_format.h): "Čas" in ISO 8601 with its offset, "Místní čas" as a spreadsheet reads
// a date and time, the value; the locale's decimal mark, ";" where it is a comma. The file
// starts with the UTF-8 byte order mark, so that a spreadsheet opened by a double click reads
// the Czech letters right.
QByteArray TrendCsv(const TrendSeries& series, double t0, double t1, const QString& unit,
                    const QLocale& locale = QLocale());

// "7. 12. 2026 19:40:05 – 19:52:10", the date again where the span crosses midnight.
QString TrendSpanText(double t0, double t1, const QLocale& locale = QLocale());

// The plot with what it shows written above it: `title` (the module and its range) and the
// time span, so that a picture sent on says what it is.
QImage TitledTrendPicture(const QImage& plot, const QString& title, double t0, double t1);
