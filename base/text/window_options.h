#pragma once
// The command line of a window program (the tool, the workbench): --help and --version are
// answered and a stray option refused before any application object exists, so that none of
// them needs a display; the toolkit's own options (-platform, -style, ...) pass to Qt.

#include <QString>

// How many arguments the toolkit option at argv[i] spans (1, or 2 with its value); 0 when
// argv[i] is none of them.
int ToolkitOptionSpan(int argc, char** argv, int i);

// The exit status when the command line is answered here, or -1 to go on to the window.
// -h/--help prints help and -v/--version "program version", on standard output, status 0;
// any other argument is refused on standard error with status 2.
int AnswerWindowProgramOptions(int argc, char** argv, const char* program, const char* version,
                               const QString& help);
