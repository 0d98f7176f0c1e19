#include "cli/cli_context.h"

#include "base/baud.h"
#include "base/driver_loader.h"
#include "base/identify.h"
#include "base/settings.h"

int CliContext::connect(bool identify) {
  TData& d = data;
  d.DriverParams.fill(0);
  switch (d.Interface) {
    case InterfaceSerial: d.DriverParams[0] = d.ComPort; break;
    case InterfaceIsa: d.DriverParams[0] = d.IsaBaseAddress; break;
    case InterfaceLan:
      // The driver reads the text through word 0 during Init; data() gives it a buffer of its own.
      d.DriverParams[0] = reinterpret_cast<uintptr_t>(d.IpAddress.data());
      d.DriverParams[1] = static_cast<uintptr_t>(d.UdpPort);
      d.DriverParams[2] = static_cast<uintptr_t>(d.UdpTimeout);
      break;
    default: break;
  }
  uint32_t handle = 0;
  uint32_t status = DriverInit(d.Interface, &handle, d.DriverParams);
  if (status != 0)
    return fail(ExitConnection, QStringLiteral("Chyba inicializace připojení - ") + DriverStatusText(d.Interface, status));
  d.DriverHandle = handle;
  d.Connected = true;
  status = DriverSetConfig(d.Interface, handle, uint32_t(d.BaudRate), d.ResponseTimeout, 2);
  if (status != 0) {
    disconnect();
    return fail(ExitConnection, QStringLiteral("Chyba inicializace připojení - ") + DriverStatusText(d.Interface, status));
  }
  if (identify) {
    const uint8_t identStatus = IdentifyModule(d.Interface, handle, d.ModuleAddress, d.ModuleIdent);
    if (identStatus != 0) {
      const QString text = statusText(identStatus);
      disconnect();
      return fail(ExitConnection, text);
    }
  }
  if (args.has(QStringLiteral("save"))) {
    QString error;
    if (!SaveConnectionSettings(&d, ConnectionSettingsPath(), &error)) {
      disconnect();
      return fail(ExitUsage, QStringLiteral("Nastavení připojení nelze uložit: ") + error);
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

void CliContext::progressBar(const QString& label, int percent) {
  if (!io.errIsTerminal) return;
  constexpr int width = 40;
  const int filled = percent * width / 100;
  *io.err << '\r' << label << " [" << QString(filled, QLatin1Char('#')) << QString(width - filled, QLatin1Char('.'))
          << "] " << percent << " %";
  if (percent >= 100) *io.err << '\n';
  io.err->flush();
}

ImageEvents CliContext::imageEvents() {
  ImageEvents events;
  events.progress = [this](ImagePhase phase, int percent) {
    progressBar(phase == ImagePhase::Reading   ? QStringLiteral("Čtení")
                : phase == ImagePhase::Writing ? QStringLiteral("Zápis")
                                               : QStringLiteral("Kontrola"),
                percent);
  };
  return events;
}

ConfigTransfer CliContext::transfer(const QString& label) {
  ConfigTransfer::Events events;
  events.progress = [this, label](int percent) { progressBar(label, percent); };
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
  return exchangeFailed(QStringLiteral("Čtení adresy %1 selhalo").arg(result.address), result.status);
}

int CliContext::writeBytes(const std::vector<ConfigByte>& bytes) {
  const ConfigTransferResult result = transfer(QStringLiteral("Zápis")).Write(bytes);
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
                                .arg(AddressRole(result.address))
                                .arg(result.written, 2, 16, QLatin1Char('0'))
                                .arg(result.readBack, 2, 16, QLatin1Char('0')));
  return exchangeFailed(QStringLiteral("Zápis adresy %1 (%2) selhal; zápis zastaven")
                            .arg(result.address)
                            .arg(AddressRole(result.address)),
                        result.status);
}
