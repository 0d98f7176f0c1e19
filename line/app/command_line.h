#pragma once
// qx510-line's command-line use: --help, --version, --report and --protocol, all without a
// window or a display.

#include <QStringList>

// Whether the arguments ask for the command-line use rather than the window: any argument
// but the toolkit's options (one it does not know is refused there).
bool IsCommandLineUse(int argc, char** argv);
// Runs it; the exit status. Needs a QGuiApplication (fonts) on any platform, offscreen will do.
int RunCommandLine(const QStringList& arguments);
