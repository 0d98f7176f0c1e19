#pragma once
// An A4 portrait PDF made in memory at 300 dpi, for the line report and the calibration
// certificate alike.

#include <QByteArray>
#include <QMarginsF>
#include <QString>
#include <functional>

class QPdfWriter;

// The PDF's bytes once `paint` has drawn its pages on the writer; empty, with the reason, when
// `paint` fails (it sets `error`) or the writer did not make a whole PDF. Margins in millimetres.
QByteArray RenderA4Pdf(const QString& title, const QString& creator, const QMarginsF& marginsMm,
                       const std::function<bool(QPdfWriter& writer, QString& error)>& paint, QString& error);
