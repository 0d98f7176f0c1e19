#pragma once
// What qx510-line's command-line uses share: their exit statuses and how they print.

#include <QString>
#include <cstdio>

constexpr int ReportWritten = 0;
constexpr int ReportFailed = 2;  // bad usage, a file that cannot be read, a PDF that cannot be written

// Flushed at once: a script reading both streams sees them in the order they were written.
inline void PrintText(FILE* to, const QString& text) {
  std::fputs(text.toUtf8().constData(), to);
  std::fflush(to);
}
