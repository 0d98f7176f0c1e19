#pragma once

#include <QFile>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "base/files/checked_file.h"
#include "base/config/config_transfer.h"
#include "base/exchange/exchange_queue.h"
#include "base/exchange/exchange_trace.h"
#include "base/settings/tdata.h"
#include "cli/cli.h"
#include "cli/cli_args.h"
#include "base/config/config_backup.h"
#include "base/config/config_image.h"
#include "base/config/module_image.h"

// One run of a command: its arguments (after the command words), the connection settings and,
// once opened, the connection.
struct CliContext {
  explicit CliContext(CliIo& streams) : io(streams) {}
  ~CliContext();
  CliIo& io;
  ParsedArgs args;
  TData data{};
  QString settingsFile;  // the settings file the connection came from; empty: the defaults

  // The data stream. Whatever the terminal shows before it (a progress bar, trace lines
  // pending) is settled first, so the lines never run into each other.
  QTextStream& out() {
    settle();
    return *io.out;
  }
  // A message for the operator: one line on the error stream.
  void say(const QString& text) {
    settle();
    *io.err << text << Qt::endl;
  }
  // The message and the exit status in one.
  int fail(int code, const QString& text) {
    say(text);
    return code;
  }
  bool json() const { return args.has(QStringLiteral("json")); }
  // The signal that asked the program to stop, 0 while none did.
  int interruptSignal() const { return io.interrupted ? io.interrupted() : 0; }
  bool interrupted() const { return interruptSignal() != 0; }
  // "SIGINT" or "SIGTERM".
  QString signalName() const;
  // A command the signal cut short: says how far it got and returns 128 + the signal. Only a
  // command cut short exits so; one that ran to its end keeps its status (see RunCli).
  int stopped(const QString& text) {
    say(text);
    return 128 + interruptSignal();
  }

  // --trace and --stats: watches every exchange from here on; the message of a trace file
  // that cannot be opened, or an empty text.
  QString startWatching();
  // The line's exchange counts so far (watched with --stats or --mqtt).
  const ExchangeStats& lineStats() {
    writeTrace();
    return stats_;
  }
  // The trace written out, the statistics said, the line no longer watched.
  void finishWatching();
  // The command's exit status once the trace is finished and the data stream checked: a trace
  // or data that could not be written is said (unless said already) and fails a command that
  // otherwise succeeded with ExitUsage.
  int finish(int result);
  // The data stream flushed and checked: empty while everything written to it got there, else
  // why not (see CliIo::checkOutput). A failure returned here is the caller's to say.
  QString outputFailure(bool delivered = false);
  // Clears the progress bar and writes the trace lines gathered so far.
  void settle();

  // Loads the driver, sets rate and timeout and, unless `identify` is false, identifies the
  // module into data.ModuleIdent. On failure says why and returns ExitConnection. A scan
  // passes a UDP timeout of 0 so that its own timeout bounds every try.
  int connect(bool identify = true, std::optional<int32_t> udpTimeout = std::nullopt);
  void disconnect();
  // The driver's text for a status the module or driver answered.
  QString statusText(uint32_t status) const;
  // A failed exchange: says what failed and returns ExitModule.
  int exchangeFailed(const QString& what, uint32_t status);

  // The connection as the whole-image work takes it.
  ModuleLink link() const { return {data.Interface, data.DriverHandle, data.ModuleAddress}; }
  // Progress of whole-image work goes to a bar on the terminal, its label after `prefix`; a
  // signal ends the work at the next byte.
  ImageEvents imageEvents(const QString& prefix = QString());
  // What restore and verify take of an image: the line settings and the calibration constants
  // only when asked (--with-address-rate, --with-calibration).
  ImageSelection imageSelection() const;
  std::vector<uint8_t> comparedAddresses() const { return SelectedAddresses(imageSelection()); }
  // The file `path` whole ("-": standard input), before any module traffic: false, having said
  // why (a missing, unreadable or special file, one larger than maxBytes, of which no more than
  // a byte past the limit is read) and set ExitUsage. `kind` is what such a file is, for the
  // refusal of a larger one ("záloha").
  bool readFile(const QString& path, qint64 maxBytes, const QString& kind, QByteArray& text, int& exitCode);
  // The output the command's first argument names ("-": standard output), before any module
  // traffic: ExitUsage, said, for a device, a FIFO or a folder (never replaced) and for an
  // existing file without --force.
  int checkOutputTarget();
  // Writes `bytes` there through the checked writer, the earlier file kept on failure; to
  // standard output, done only once the reader has taken it all. ExitUsage, said ("`what`
  // nelze zapsat …"), on failure; else ExitOk with `where` ("do SOUBOR", "na standardní výstup").
  int writeOutput(const QByteArray& bytes, const QString& what, QString& where);
  // A configuration transfer on the connection; progress goes to a bar on the terminal, and a
  // signal ends it at the next byte.
  ConfigTransfer transfer(const QString& label);
  // Reads the whole configuration image; on failure says so and returns false.
  bool readImage(ConfigImage& image, int& exitCode);
  // A failed read of the image: says where it stopped and returns ExitModule (128 + the
  // signal when a signal stopped it).
  int readFailed(const ConfigTransferResult& result);
  // Writes with read-back, stopping at the first failure, which it names, or at a signal,
  // saying which bytes the module now holds.
  int writeBytes(const std::vector<ConfigByte>& bytes);
  // A failed write with read-back: names the byte and returns ExitModule.
  int writeFailed(const ConfigTransferResult& result);

  // `after`: what follows the percentage (the time left).
  void progressBar(const QString& label, int percent, const QString& after = QString());

  // Interface, address, rate and where they came from, for a failed connection.
  QString connectionDescription() const;

 private:
  void writeTrace();
  std::unique_ptr<ExchangeQueue> queue_;
  ExchangeStats stats_;
  bool tracing_ = false;
  QByteArray traceHeader_;  // the connection, written before the first exchange's line
  std::unique_ptr<CheckedStream> traceFile_;  // null: the trace goes to the error stream
  qint64 traceLines_ = 0;  // written to the trace file
  bool traceFailed_ = false;  // the trace file could not be written; the trace stopped
  bool outputFailureTaken_ = false;  // a command said the data stream's failure itself
  bool barShown_ = false;
};

// One differing byte as restore and verify list it: "byte.33 (Negace DIN, bajt 0): modul 0x00
// (žádný bit), záloha 0x81 (bity 0, 7)", and as JSON.
QString DifferenceText(const ByteDifference& d);
QJsonObject DifferenceJson(const ByteDifference& d);

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
int CmdRecordVerify(CliContext& c);
// A whole line, in the workbench's line file (cli/cli_line.cpp).
int CmdLineBackup(CliContext& c);
int CmdLineRestore(CliContext& c);
int CmdLineVerify(CliContext& c);

// Commissioning (cli_commission.cpp): a new module put in service, a line's rate changed.
int CmdCommission(CliContext& c);
int CmdLineRate(CliContext& c);
