#pragma once
// An A4 portrait PDF made in memory at 300 dpi, for the line report and the calibration
// certificate alike.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMarginsF>
#include <QString>
#include <functional>
#include <utility>

#include "base/config/config_image.h"

class QPdfWriter;

// The PDF's bytes once `paint` has drawn its pages on the writer; empty, with the reason, when
// `paint` fails (it sets `error`) or the writer did not make a whole PDF. Margins in millimetres.
QByteArray RenderA4Pdf(const QString& title, const QString& creator, const QMarginsF& marginsMm,
                       const std::function<bool(QPdfWriter& writer, QString& error)>& paint, QString& error);

// The image's named values with the Czech labels and values the settings windows use
// ("Komunikační rychlost", "4800 Bd"), in NamedValues() order.
QList<std::pair<QString, QString>> ReportSettings(const ConfigImage& image);

// "7. 12. 2026 19:40:05 +01:00": a time as the report prints it, with its offset from UTC.
QString ReportTimeText(const QDateTime& time);
