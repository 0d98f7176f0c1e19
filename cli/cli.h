#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <optional>

// qx510-cli: the tool's exchange and configuration code driven from a shell.
//
// Exit status: 0 success; 1 the module answered with a failure, or verify found a difference;
// 2 bad usage or a bad file; 3 no connection or no driver, or the MQTT broker refused the login
// or the certificate, or (record verify) a calibration record was refused; 4 a watch that
// published to MQTT got no message to the broker; 128 + the signal (130 SIGINT, 143 SIGTERM)
// when stopped.
enum CliExit {
  ExitOk = 0,
  ExitModule = 1,
  ExitUsage = 2,
  ExitConnection = 3,
  ExitRecordRefused = 3,
  ExitNothingDelivered = 4,
};

// Everything the program touches outside the module, so a test can run it in-process.
struct CliIo {
  QTextStream* out = nullptr;  // data
  QTextStream* err = nullptr;  // messages, progress
  // One line the operator typed; empty when the input has ended.
  std::function<std::optional<QString>()> readLine;
  bool errIsTerminal = false;  // draw progress bars on err
  // The signal by which the operator asked to stop (SIGINT, SIGTERM), 0 while none.
  std::function<int()> interrupted;
  // Standard input for a file named "-", up to its end but never more than `maxBytes` bytes
  // (the caller asks for one more than it takes, to tell a longer input); nullopt when it
  // cannot be read.
  std::function<std::optional<QByteArray>(qint64 maxBytes)> readInput;
  // Flushes `out` and says why what was written to it did not all get there (a full device,
  // a closed standard output, a reader that went away), empty while it did. `delivered`: a
  // pipe's reader must also have taken every byte (waits for it). Unset: `out` cannot fail.
  std::function<QString(bool delivered)> checkOutput;
  std::function<void(int ms)> sleep;
};

// args: the command line without the program name.
int RunCli(const QStringList& args, CliIo& io);

