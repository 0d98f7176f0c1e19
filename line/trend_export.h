#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

class TrendSeries;

// The readings of [t0, t1] as CSV the way the locale writes numbers: ";" between the cells
// where the decimal separator is a comma, else ","; the time in ISO 8601 with its offset.
QByteArray TrendCsv(const TrendSeries& series, double t0, double t1, const QString& unit,
                    const QLocale& locale = QLocale());
QChar CsvSeparator(const QLocale& locale);

