#include "cli/cli_context.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <utility>

#include "base/text/baud.h"
#include "base/text/czech_plural.h"
#include "base/exchange/driver_loader.h"
#include "base/settings/driver_params.h"
#include "base/exchange/identify.h"
#include "base/settings/line_device.h"
#include "base/config/setting_labels.h"
#include "base/settings/settings.h"
#include "base/exchange/exchange_observer.h"
#include "base/wire/wire_budget.h"

namespace {

const char* const InterfaceWords[] = {"serial", "isa", "pci", "usb", "lan"};

}  // namespace

CliContext::~CliContext() {
  // A command that returned early still leaves the line unwatched.
  if (queue_) SetExchangeObserver(nullptr);
}

QString CliContext::connectionDescription() const {
  const TData& d = data;
  QString where;
  switch (d.Interface) {
    case InterfaceSerial:
    case InterfaceUsb: where = QLatin1Char(' ') + LineDeviceText(d); break;
    case InterfaceIsa: where = QStringLiteral(" báze %1h").arg(d.IsaBaseAddress, 0, 16); break;
    case InterfaceLan:
      where = QStringLiteral(" %1, UDP port %2, UDP timeout %3 ms")
                  .arg(QString::fromLatin1(d.IpAddress.constData()))
                  .arg(d.UdpPort)
                  .arg(d.UdpTimeout);
      break;
    default: break;
  }
  return QStringLiteral("rozhraní %1%2, adresa %3, %4 Bd, timeout %5 ms; nastavení: %6")
      .arg(QString::fromLatin1(d.Interface < InterfaceCount ? InterfaceWords[d.Interface] : "?"), where)
      .arg(d.ModuleAddress)
      .arg(d.BaudRate)
      .arg(d.ResponseTimeout)
      .arg(settingsFile.isEmpty() ? QStringLiteral("výchozí hodnoty") : settingsFile);
}

int CliContext::connect(bool identify, std::optional<int32_t> udpTimeout) {
  TData& d = data;
  FillDriverParams(d);
  if (d.Interface == InterfaceLan && udpTimeout) d.DriverParams[2] = static_cast<uintptr_t>(*udpTimeout);
  uint32_t handle = 0;
  // Each text is fetched while the driver that gave the status is still loaded.
  auto failed = [this](const QString& text) {
    disconnect();
    return fail(ExitConnection, text + QStringLiteral(" (") + connectionDescription() + QLatin1Char(')'));
  };
  uint32_t status = DriverInit(d.Interface, &handle, d.DriverParams);
  if (status != 0) return failed(QStringLiteral("Chyba inicializace připojení - ") + statusText(status));
  d.DriverHandle = handle;
  d.Connected = true;
  if (tracing_) traceHeader_ = json() ? QJsonDocument(QJsonObject{{QStringLiteral("connection"), connectionDescription()}})
                                             .toJson(QJsonDocument::Compact) + '\n'
                                       : "# " + connectionDescription().toUtf8() + '\n';
  status = DriverSetConfig(d.Interface, handle, uint32_t(d.BaudRate), d.ResponseTimeout, 2);
  if (status != 0) return failed(QStringLiteral("Chyba inicializace připojení - ") + statusText(status));
  if (const QString warning = ResponseTimeoutWarning(d.ResponseTimeout, d.BaudRate, LineTimingOf(d).basis);
      !warning.isEmpty())
    say(warning);
  if (identify) {
    const uint8_t identStatus = IdentifyModule(d.Interface, handle, d.ModuleAddress, d.ModuleIdent);
    if (identStatus != 0) return failed(statusText(identStatus));
  }
  if (args.has(QStringLiteral("save"))) {
    QString error;
    if (!SaveConnectionSettings(&d, ConnectionSettingsPath(), &error)) {
      disconnect();
      return fail(ExitUsage, QStringLiteral("Nastavení připojení nelze uložit do %1: %2.").arg(ConnectionSettingsPath(), error));
    }
  }
  return ExitOk;
}

void CliContext::disconnect() {
  if (!data.Connected) return;
  DriverDone(data.Interface, &data.DriverHandle);
  data.DriverHandle = 0;
  data.Connected = false;
}

QString CliContext::statusText(uint32_t status) const { return DriverStatusText(data.Interface, status); }

int CliContext::exchangeFailed(const QString& what, uint32_t status) {
  return fail(ExitModule, what + QStringLiteral(": ") + statusText(status));
}

void CliContext::progressBar(const QString& label, int percent, const QString& after) {
  if (!io.errIsTerminal) {
    writeTrace();
    return;
  }
  settle();
  constexpr int width = 40;
  const int filled = percent * width / 100;
  *io.err << '\r' << label << " [" << QString(filled, QLatin1Char('#')) << QString(width - filled, QLatin1Char('.'))
          << "] " << percent << " %";
  // Padded, so that a shorter text covers what a longer one left.
  if (!after.isEmpty() && percent < 100) *io.err << QStringLiteral(", %1").arg(after, -16);
  barShown_ = percent < 100;
  if (percent >= 100) *io.err << '\n';
  io.err->flush();
}

void CliContext::settle() {
  if (barShown_) {
    *io.err << '\r' << QString(80, QLatin1Char(' ')) << '\r';
    io.err->flush();
    barShown_ = false;
  }
  writeTrace();
}

QString CliContext::startWatching() {
  tracing_ = args.has(QStringLiteral("trace"));
  if (!tracing_ && !args.has(QStringLiteral("stats")) && !args.has(QStringLiteral("mqtt"))) return {};
  const QString path = args.value(QStringLiteral("trace-file"));
  if (tracing_ && !path.isEmpty() && path != QLatin1String("-")) {
    traceFile_ = std::make_unique<CheckedStream>();
    if (!traceFile_->openFile(path, CheckedStream::Start::Truncate))
      return QStringLiteral("Soubor stopy %1 nelze zapsat: %2.").arg(path, traceFile_->failure());
  }
  queue_ = std::make_unique<ExchangeQueue>();
  SetExchangeObserver(queue_.get());
  return {};
}

void CliContext::writeTrace() {
  if (!queue_) return;
  ExchangeRecord record;
  QByteArray lines = std::exchange(traceHeader_, {});
  while (queue_->pop(record)) {
    stats_.add(record);
    if (tracing_) lines += ExchangeTraceLine(record, json()) + '\n';
  }
  if (lines.isEmpty()) return;
  if (traceFile_) {
    if (traceFile_->write(lines) >= 0) {
      traceLines_ += lines.count('\n');
      return;
    }
    // The trace stops here; the command goes on and fails at its end.
    const QString text = QStringLiteral("Stopa do %1 zastavena po %2 řádcích (%3 B): %4.")
                             .arg(traceFile_->name(), QString::number(traceLines_),
                                  QString::number(traceFile_->written()), traceFile_->failure());
    traceFile_.reset();
    tracing_ = false;
    traceFailed_ = true;
    say(text);
  } else {
    QTextStream& stream = args.value(QStringLiteral("trace-file")) == QLatin1String("-") ? *io.out : *io.err;
    stream << QString::fromUtf8(lines);
    stream.flush();
  }
}

void CliContext::finishWatching() {
  if (!queue_) return;
  SetExchangeObserver(nullptr);
  settle();
  if (queue_->dropped() != 0) say(QStringLiteral("Stopa: %1 %2 (zápis nestačil).")
            .arg(CzechPlural(qint64(queue_->dropped()), "nezaznamenána", "nezaznamenány", "nezaznamenáno"),
                 CzechCount(qint64(queue_->dropped()), "výměna", "výměny", "výměn")));
  if (args.has(QStringLiteral("stats"))) say(json() ? QString::fromUtf8(stats_.json()) : stats_.text());
  queue_.reset();
}

int CliContext::finish(int result) {
  finishWatching();
  if (traceFile_) {
    traceFile_->close();  // a failed close is a failed write too
    if (traceFile_->failed()) {
      say(QStringLiteral("Stopu do %1 nelze dopsat: %2.").arg(traceFile_->name(), traceFile_->failure()));
      traceFailed_ = true;
    }
  }
  bool failed = traceFailed_;
  if (!outputFailureTaken_) {
    const QString failure = outputFailure();
    if (!failure.isEmpty()) {
      say(QStringLiteral("Standardní výstup nelze zapsat: %1; výstup příkazu je neúplný.").arg(failure));
      failed = true;
    }
  }
  return failed && result == ExitOk ? int(ExitUsage) : result;
}

QString CliContext::outputFailure(bool delivered) {
  if (!io.checkOutput) {
    io.out->flush();
    return {};
  }
  const QString failure = io.checkOutput(delivered);
  if (!failure.isEmpty()) outputFailureTaken_ = true;
  return failure;
}

QString CliContext::signalName() const {
  return interruptSignal() == SIGTERM ? QStringLiteral("SIGTERM") : QStringLiteral("SIGINT");
}

ImageEvents CliContext::imageEvents(const QString& prefix) {
  ImageEvents events;
  events.cancelled = [this] { return interrupted(); };
  events.progress = [this, prefix](ImagePhase phase, int percent) {
    progressBar(prefix + (phase == ImagePhase::Reading   ? QStringLiteral("Čtení")
                          : phase == ImagePhase::Writing ? QStringLiteral("Zápis")
                                                         : QStringLiteral("Kontrola")),
                percent);
  };
  return events;
}

ImageSelection CliContext::imageSelection() const {
  ImageSelection selection;
  selection.lineSettings = args.has(QStringLiteral("with-address-rate"));
  selection.calibration = args.has(QStringLiteral("with-calibration"));
  return selection;
}

bool CliContext::readFile(const QString& path, qint64 maxBytes, const QString& kind, QByteArray& text, int& exitCode) {
  const auto tooLarge = [&](const QString& what) {
    exitCode = fail(ExitUsage, QStringLiteral("%1 je větší než %2 MB (%3 B), %4 to není; nic neprovedeno.")
                                   .arg(what, QString::number(maxBytes >> 20), QString::number(maxBytes), kind));
    return false;
  };
  if (path == QLatin1String("-")) {
    const std::optional<QByteArray> input = io.readInput ? io.readInput(maxBytes + 1) : std::nullopt;
    if (!input) {
      exitCode = fail(ExitUsage, QStringLiteral("Standardní vstup nelze číst."));
      return false;
    }
    text = *input;
    if (text.size() > maxBytes) return tooLarge(QStringLiteral("Standardní vstup"));
    return true;
  }
  QString why;
  bool missing = false;
  // Through the one reader: a FIFO or a device given as the file is refused, never waited on.
  if (ReadFileChecked(path, maxBytes, &text, &why, &missing)) return true;
  const QFileInfo info(path);
  if (!missing && info.isFile() && info.size() > maxBytes) return tooLarge(QStringLiteral("Soubor ") + path);
  exitCode = fail(ExitUsage, missing ? QStringLiteral("Soubor %1 neexistuje.").arg(path)
                                     : QStringLiteral("Soubor %1 nelze číst: %2.").arg(path, why));
  return false;
}

int CliContext::checkOutputTarget() {
  const QString path = args.positional.front();
  if (path == QLatin1String("-")) return ExitOk;
  // A device, a FIFO or a folder under the name is never replaced, not even with --force.
  if (const QString refused = RefusedFileTarget(path); !refused.isEmpty())
    return fail(ExitUsage, QStringLiteral("Soubor %1 nelze zapsat: %2.").arg(path, refused));
  if (QFileInfo::exists(path) && !args.has(QStringLiteral("force")))
    return fail(ExitUsage, QStringLiteral("Soubor %1 už existuje; přepíše se jen s --force.").arg(path));
  return ExitOk;
}

int CliContext::writeOutput(const QByteArray& bytes, const QString& what, QString& where) {
  const QString path = args.positional.front();
  if (path == QLatin1String("-")) {
    out() << QString::fromUtf8(bytes);
    // Saved only once the reader has it all: a full device, a closed output or a reader that
    // stopped early (| head -c10) is a failed save.
    if (const QString failure = outputFailure(/*delivered=*/true); !failure.isEmpty())
      return fail(ExitUsage, QStringLiteral("%1 nelze zapsat na standardní výstup: %2.").arg(what, failure));
    where = QStringLiteral("na standardní výstup");
    return ExitOk;
  }
  QString reason;
  if (!WriteFileChecked(path, bytes, &reason))
    return fail(ExitUsage, QStringLiteral("Soubor %1 nelze zapsat: %2.").arg(path, reason));
  where = QStringLiteral("do ") + path;
  return ExitOk;
}

QString DifferenceText(const ByteDifference& d) {
  return QStringLiteral("byte.%1 (%2): modul %3, záloha %4")
      .arg(d.address)
      .arg(ConfigByteLabel(d.address), d.known ? ConfigByteValueText(d.address, d.module) : QStringLiteral("?"),
           ConfigByteValueText(d.address, d.wanted));
}

QJsonObject DifferenceJson(const ByteDifference& d) {
  return {{QStringLiteral("address"), d.address},
          {QStringLiteral("name"), d.name()},
          {QStringLiteral("module"), d.known ? QJsonValue(d.module) : QJsonValue()},
          {QStringLiteral("backup"), d.wanted}};
}

ConfigTransfer CliContext::transfer(const QString& label) {
  ConfigTransfer::Events events;
  events.progress = [this, label](int percent) { progressBar(label, percent); };
  events.cancelled = [this] { return interrupted(); };
  return ConfigTransfer(data.Interface, data.DriverHandle, data.ModuleAddress, std::move(events));
}

bool CliContext::readImage(ConfigImage& image, int& exitCode) {
  const ImageRead read = ReadModuleImage(link(), imageEvents());
  if (!read.ok()) {
    exitCode = readFailed(read.result);
    return false;
  }
  image = read.image;
  return true;
}

int CliContext::readFailed(const ConfigTransferResult& result) {
  if (io.errIsTerminal) *io.err << '\n';
  if (result.outcome == ConfigTransferResult::Cancelled)
    return stopped(QStringLiteral("Přerušeno signálem %1: čtení konfigurace zastaveno po %2.")
                       .arg(signalName(), CzechCount(result.done, "bajtu", "bajtech", "bajtech")));
  return exchangeFailed(QStringLiteral("Čtení adresy %1 selhalo").arg(result.address), result.status);
}

int CliContext::writeBytes(const std::vector<ConfigByte>& bytes) {
  // A signal that came while connecting stops the command before its first write.
  ConfigTransferResult result;
  if (interrupted())
    result.outcome = ConfigTransferResult::Cancelled;
  else
    result = transfer(QStringLiteral("Zápis")).Write(bytes);
  if (result.outcome == ConfigTransferResult::Cancelled) {
    if (io.errIsTerminal) *io.err << '\n';
    return stopped(QStringLiteral("Přerušeno signálem %1: %2.").arg(signalName(), WrittenSoFarText(bytes, result.done)));
  }
  if (!result.ok()) return writeFailed(result);
  say(WriteResultText(data.Interface, result).trimmed());
  return ExitOk;
}

int CliContext::writeFailed(const ConfigTransferResult& result) {
  if (io.errIsTerminal) *io.err << '\n';
  if (result.outcome == ConfigTransferResult::Mismatch)
    return fail(ExitModule, QStringLiteral("%1 Adresa %2 (%3): zapsáno 0x%4, zpět přečteno 0x%5; zápis zastaven.")
                                .arg(WriteResultText(data.Interface, result).trimmed())
                                .arg(result.address)
                                .arg(ConfigByteLabel(result.address))
                                .arg(result.written, 2, 16, QLatin1Char('0'))
                                .arg(result.readBack, 2, 16, QLatin1Char('0')));
  return exchangeFailed(QStringLiteral("Zápis adresy %1 (%2) selhal; zápis zastaven")
                            .arg(result.address)
                            .arg(ConfigByteLabel(result.address)),
                        result.status);
}
