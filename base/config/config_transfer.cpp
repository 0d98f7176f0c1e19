#include "base/config/config_transfer.h"

#include <cstddef>
#include <utility>

#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"
#include "base/wire/precise_wait.h"

uint8_t& ImageByte(ModuleConfigImage& image, std::size_t index) {
  Q_ASSERT(index < sizeof(ModuleConfigImage));
  return reinterpret_cast<uint8_t*>(&image)[index];
}

uint8_t ImageByte(const ModuleConfigImage& image, std::size_t index) {
  Q_ASSERT(index < sizeof(ModuleConfigImage));
  return reinterpret_cast<const uint8_t*>(&image)[index];
}

std::vector<ConfigByteSlot> AddressRateSlots() {
  return {{offsetof(ModuleConfigImage, AddressSetting), CfgAddr::BusAddress},
          {offsetof(ModuleConfigImage, BaudCodeSetting), CfgAddr::BaudCode}};
}

std::vector<ConfigByteSlot> AnalogRangeSlots() {
  return {{offsetof(ModuleConfigImage, AinRange), CfgAddr::AinRange}};
}

std::vector<ConfigByteSlot> DigitalSlots() {
  // Every byte of the initial states first, then the input negation, then the output
  // negation; byte j of a field lives at its base address + 3j.
  struct Block {
    std::size_t imageOffset;
    uint8_t base;
  };
  const Block blocks[] = {
      {offsetof(ModuleConfigImage, DoutInitialState), CfgAddr::DoutInitialState},
      {offsetof(ModuleConfigImage, DinNegation), CfgAddr::DinNegation},
      {offsetof(ModuleConfigImage, DoutNegation), CfgAddr::DoutNegation},
  };
  std::vector<ConfigByteSlot> bytes;
  for (const Block& block : blocks)
    for (int j = 0; j < 4; ++j)
      bytes.push_back({block.imageOffset + std::size_t(j), uint8_t(block.base + j * CfgAddr::DigitalStride)});
  return bytes;
}

ConfigTransfer::ConfigTransfer(uint8_t iface, uint32_t handle, uint8_t module, Events events)
    : iface_(iface), handle_(handle), module_(module), events_(std::move(events)) {}

// The pause runs from the end of the exchange, so that what the window shows meanwhile is
// part of it rather than added to it.
void ConfigTransfer::Pause(std::chrono::steady_clock::time_point exchanged) {
  if (events_.pause)
    events_.pause(exchanged);
  else
    WaitUntil(exchanged + std::chrono::milliseconds(1));
}

void ConfigTransfer::Progress(std::size_t done, std::size_t total) {
  if (events_.progress) events_.progress(total == 0 ? 100 : int(done * 100 / total));
}

bool ConfigTransfer::Cancelled(std::size_t k, uint8_t address, ConfigTransferResult& result) const {
  if (k == 0 || !events_.cancelled || !events_.cancelled()) return false;
  result.outcome = ConfigTransferResult::Cancelled;
  result.address = address;
  return true;
}

ConfigTransferResult ConfigTransfer::Read(const std::vector<uint8_t>& addresses,
                                          const std::function<void(std::size_t, uint8_t)>& store) {
  ConfigTransferResult result;
  const std::size_t total = addresses.size();
  Progress(0, total);
  for (std::size_t k = 0; k < total; ++k) {
    if (Cancelled(k, addresses[k], result)) return result;
    const ExchangeResult read = ReadConfig(iface_, handle_, module_, addresses[k]);
    const auto exchanged = std::chrono::steady_clock::now();
    if (read.Status != 0) {
      result.outcome = ConfigTransferResult::DriverError;
      result.address = addresses[k];
      result.status = read.Status;
      return result;
    }
    if (store) store(k, read.Data[3]);
    result.done = k + 1;
    Progress(k + 1, total);
    if (pauseAfterLast_ || k + 1 < total) Pause(exchanged);
  }
  return result;
}

ConfigTransferResult ConfigTransfer::Write(const std::vector<ConfigByte>& bytes) {
  ConfigTransferResult result;
  const std::size_t total = bytes.size();
  auto fail = [&result](ConfigTransferResult::Outcome outcome, uint8_t address, uint32_t status) {
    result.outcome = outcome;
    result.address = address;
    result.status = status;
    return result;
  };
  Progress(0, total);
  for (std::size_t k = 0; k < total; ++k) {
    const ConfigByte& byte = bytes[k];
    if (Cancelled(k, byte.address, result)) return result;
    const ExchangeResult written = WriteConfig(iface_, handle_, module_, byte.address, byte.value);
    if (written.Status != 0) return fail(ConfigTransferResult::DriverError, byte.address, written.Status);
    Pause(std::chrono::steady_clock::now());
    const ExchangeResult readBack = ReadConfig(iface_, handle_, module_, byte.address);
    const auto exchanged = std::chrono::steady_clock::now();
    if (readBack.Status != 0) return fail(ConfigTransferResult::DriverError, byte.address, readBack.Status);
    if (readBack.Data[3] != byte.value) {
      result.written = byte.value;
      result.readBack = readBack.Data[3];
      return fail(ConfigTransferResult::Mismatch, byte.address, 0);
    }
    result.done = k + 1;
    Progress(k + 1, total);
    if (pauseAfterLast_ || k + 1 < total) Pause(exchanged);
  }
  return result;
}

QString ReadProgressText(int percent) {
  return QStringLiteral(" Probíhá čtení konfigurace z modulu (%1 %)").arg(percent);
}

QString WriteProgressText(int percent) {
  return QStringLiteral(" Probíhá zápis konfigurace do modulu (%1 %)").arg(percent);
}

namespace {
QString FailureText(uint8_t iface, const ConfigTransferResult& result) {
  if (result.outcome == ConfigTransferResult::Mismatch) return QStringLiteral(" Chyba zápisu dat.");
  if (result.outcome == ConfigTransferResult::Cancelled) return QStringLiteral(" Přenos konfigurace přerušen.");
  return QStringLiteral(" ") + DriverStatusText(iface, result.status);
}
}  // namespace

QString ReadResultText(uint8_t iface, const ConfigTransferResult& result) {
  return result.ok() ? QStringLiteral(" Konfigurace přečtena.") : FailureText(iface, result);
}

QString WriteResultText(uint8_t iface, const ConfigTransferResult& result) {
  return result.ok() ? QStringLiteral(" Konfigurace zapsána.") : FailureText(iface, result);
}

bool ParseByteInRange(const QString& text, int min, int max, uint8_t& out) {
  bool ok = false;
  const qlonglong number = text.trimmed().toLongLong(&ok, 10);
  if (!ok || number < min || number > max) return false;
  out = static_cast<uint8_t>(number);
  return true;
}
