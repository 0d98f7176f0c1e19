#pragma once
// qx510-line --report FILE.pdf [LINE]: the line report without a window or a display.

#include <QStringList>

// `words`: the arguments after the program's name. ReportWritten or ReportFailed
// (line/common/command_output.h).
int RunReportCommand(const QStringList& words);
