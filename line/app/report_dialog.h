#pragma once

#include <QString>

class LineWindow;

// The overview's "Protokol linky…": the report of the line as the window holds it (the
// overview's modules, state and statistics, the configuration from the backup last written
// or opened), written to `path`. False with the reason.
bool SaveLineReport(LineWindow* window, const QString& path, QString& error);
// Asks where to write it (".pdf" added when the name has no suffix), writes it, and says
// when that failed.
void SaveLineReportAs(LineWindow* window);
