#pragma once
// The line report as a PDF: A4 pages, each with the report's header and "Strana N z M", in a
// font that carries the Czech letters, embedded.

#include <QByteArray>
#include <QString>

struct LineReport;

// The PDF's bytes; empty, with the reason, when it could not be made (no font with the Czech
// letters, the painter failed).
QByteArray RenderLineReport(const LineReport& report, QString& error);

// Renders the report and writes it to `path` through a temporary file beside it, renamed only
// once the whole PDF is written: a failure leaves no file, or the former one, at `path`.
bool WriteLineReport(const LineReport& report, const QString& path, QString& error);
