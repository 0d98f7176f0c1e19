#pragma once

#include <QString>
#include <cstdint>

#include "base/config_transfer.h"
#include "base/tdata.h"
#include "cli/cli.h"
#include "cli/cli_args.h"
#include "base/config_backup.h"
#include "base/config_image.h"
#include "base/module_image.h"

// One run of a command: its arguments (after the command words), the connection settings and,
// once opened, the connection.
struct CliContext {
  explicit CliContext(CliIo& streams) : io(streams) {}
  CliIo& io;
  ParsedArgs args;
  TData data{};

  QTextStream& out() { return *io.out; }
  // A message for the operator: one line on the error stream.
  void say(const QString& text) { *io.err << text << Qt::endl; }
  // The message and the exit status in one.
  int fail(int code, const QString& text) {
    say(text);
    return code;
  }
  bool json() const { return args.has(QStringLiteral("json")); }

  // Loads the driver, sets rate and timeout and, unless `identify` is false, identifies the
  // module into data.ModuleIdent. On failure says why and returns ExitConnection.
  int connect(bool identify = true);
  void disconnect();
  // The driver's text for a status the module or driver answered.
  QString statusText(uint32_t status) const;
  // A failed exchange: says what failed and returns ExitModule.
  int exchangeFailed(const QString& what, uint32_t status);

  // The connection as the whole-image work takes it.
  ModuleLink link() const { return {data.Interface, data.DriverHandle, data.ModuleAddress}; }
  // Progress of whole-image work goes to a bar on the terminal.
  ImageEvents imageEvents();
  // A configuration transfer on the connection; progress goes to a bar on the terminal.
  ConfigTransfer transfer(const QString& label);
  // Reads the whole configuration image; on failure says so and returns false.
  bool readImage(ConfigImage& image, int& exitCode);
  // A failed read of the image: says where it stopped and returns ExitModule.
  int readFailed(const ConfigTransferResult& result);
  // Writes with read-back, stopping at the first failure, which it names.
  int writeBytes(const std::vector<ConfigByte>& bytes);
  // A failed write with read-back: names the byte and returns ExitModule.
  int writeFailed(const ConfigTransferResult& result);

  void progressBar(const QString& label, int percent);
};

// The commands; each returns the exit status.
int CmdIdentify(CliContext& c);
int CmdScan(CliContext& c);
int CmdWatch(CliContext& c);
int CmdDout(CliContext& c);
int CmdStatusClear(CliContext& c);
int CmdConfigShow(CliContext& c);
int CmdConfigBackup(CliContext& c);
int CmdConfigRestore(CliContext& c);
int CmdConfigVerify(CliContext& c);
int CmdSet(CliContext& c);
int CmdCalibrate(CliContext& c);
