#pragma once
// A built window program started as from a shell on a machine with no display (no DISPLAY,
// WAYLAND_DISPLAY or QT_QPA_PLATFORM): what its command line alone answers.

#include <QString>
#include <QStringList>

// --help and -h (naming helpNames), --version and -v ("name x.y"), the toolkit's -style
// before --version: status 0, the answer on standard output and nothing on standard error.
// An unknown option and a stray argument: status 2, nothing on standard output, a message on
// standard error that begins with the name and names the argument. name: what the program
// calls itself.
void ExpectWindowProgramCommandLine(const QString& path, const QString& name, const QStringList& helpNames);
