#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <optional>

// qx510-cli: the tool's exchange and configuration code driven from a shell.
//
// Exit status: 0 success; 1 the module answered with a failure, or verify found a difference;
// 2 bad usage or a bad file; 3 no connection or no driver.
enum CliExit { ExitOk = 0, ExitModule = 1, ExitUsage = 2, ExitConnection = 3 };

// Everything the program touches outside the module, so a test can run it in-process.
struct CliIo {
  QTextStream* out = nullptr;  // data
  QTextStream* err = nullptr;  // messages, progress
  // One line the operator typed; empty when the input has ended.
  std::function<std::optional<QString>()> readLine;
  bool errIsTerminal = false;  // draw progress bars on err
  // True once the operator asked to stop (Ctrl+C).
  std::function<bool()> interrupted;
  std::function<void(int ms)> sleep;
};

// args: the command line without the program name.
int RunCli(const QStringList& args, CliIo& io);

