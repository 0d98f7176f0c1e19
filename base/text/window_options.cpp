#include "base/text/window_options.h"

#include <QByteArray>
#include <cstdio>
#include <cstring>

namespace {

// What QGuiApplication, QApplication and the X11 platform plugin take from the command line
// and remove before the program sees it.
const char* const ValueOptions[] = {"-platform", "-platformpluginpath", "-platformtheme", "-plugin",
                                    "-session",  "-qwindowgeometry",    "-geometry",      "-qwindowtitle",
                                    "-title",    "-qwindowicon",        "-icon",          "-display",
                                    "-name",     "-visual",             "-style",         "-stylesheet"};
const char* const FlagOptions[] = {"-reverse", "-widgetcount", "-testability", "-nograb", "-dograb", "-sync"};
const char* const JoinedOptions[] = {"-style=", "-stylesheet=", "-qmljsdebugger="};

void Print(FILE* to, const QString& text) {
  std::fputs(text.toUtf8().constData(), to);
  std::fflush(to);
}

}  // namespace

int ToolkitOptionSpan(int argc, char** argv, int i) {
  QByteArray arg(argv[i]);
  if (arg.startsWith("--")) arg.remove(0, 1);  // Qt reads -x and --x alike
  for (const char* option : FlagOptions)
    if (arg == option) return 1;
  for (const char* option : JoinedOptions)
    if (arg.startsWith(option)) return 1;
  for (const char* option : ValueOptions)
    if (arg == option) return i + 1 < argc ? 2 : 0;  // Qt leaves one without its value alone
  return 0;
}

int AnswerWindowProgramOptions(int argc, char** argv, const char* program, const char* version,
                               const QString& help) {
  for (int i = 1; i < argc; ++i) {
    if (const int span = ToolkitOptionSpan(argc, argv, i); span > 0) {
      i += span - 1;
      continue;
    }
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      Print(stdout, help);
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-v") == 0) {
      Print(stdout, QStringLiteral("%1 %2\n").arg(QLatin1String(program), QLatin1String(version)));
      return 0;
    }
    const QString word = QString::fromLocal8Bit(arg);
    Print(stderr, QStringLiteral("%1: %2 %3; %1 --help vypíše volby\n")
                      .arg(QLatin1String(program),
                           word.startsWith(QLatin1Char('-')) ? QStringLiteral("neznámá volba")
                                                             : QStringLiteral("nečekaný argument"),
                           word));
    return 2;
  }
  return -1;
}
