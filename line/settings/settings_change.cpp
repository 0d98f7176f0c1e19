#include "line/settings/settings_change.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include "base/exchange/commands.h"
#include "base/settings/settings.h"
#include "base/text/baud.h"

const std::vector<uint8_t>& SettingsAddresses() {
  static const std::vector<uint8_t> addresses = [] {
    std::vector<uint8_t> all;
    for (const auto& window : {AddressRateSlots(), AnalogRangeSlots(), DigitalSlots()})
      for (const ConfigByteSlot& slot : window) all.push_back(slot.address);
    return all;
  }();
  return addresses;
}

std::vector<ConfigByte> ChangedSettings(const ConfigImage& before, const ConfigImage& after) {
  std::vector<ConfigByte> changed;
  for (uint8_t address : SettingsAddresses())
    if (before.at(address) != after.at(address)) changed.push_back({address, after.at(address)});
  return changed;
}

bool TouchesLineSettings(const std::vector<ConfigByte>& bytes) {
  for (const ConfigByte& b : bytes)
    if (IsLineSetting(b.address)) return true;
  return false;
}

QStringList SettingChoiceNames() {
  return {QStringLiteral("Rozsah AIN 0"), QStringLiteral("Negace DIN"), QStringLiteral("Negace DOUT"),
          QStringLiteral("Počáteční stav DOUT")};
}

QStringList SettingChoiceValues(SettingChoice::Kind kind) {
  switch (kind) {
    case SettingChoice::AinRange: return {QStringLiteral("0-10V"), QStringLiteral("0-20mA")};
    case SettingChoice::DoutInitial: return {QStringLiteral("0 (vypnuto)"), QStringLiteral("1 (zapnuto)")};
    default: return {QStringLiteral("ne"), QStringLiteral("ano")};
  }
}

namespace {

uint8_t FieldBase(SettingChoice::Kind kind) {
  switch (kind) {
    case SettingChoice::DinNegation: return CfgAddr::DinNegation;
    case SettingChoice::DoutNegation: return CfgAddr::DoutNegation;
    default: return CfgAddr::DoutInitialState;
  }
}

}  // namespace

QString SettingChoiceText(const SettingChoice& c) {
  const QString name = SettingChoiceNames().value(c.kind);
  const QString value = SettingChoiceValues(c.kind).value(c.value);
  if (c.kind == SettingChoice::AinRange) return QStringLiteral("%1: %2").arg(name, value);
  const QString channels = c.first == c.last ? QString::number(c.first) : QStringLiteral("%1–%2").arg(c.first).arg(c.last);
  return QStringLiteral("%1 %2: %3").arg(name, channels, value);
}

bool DigitalBit(const ConfigImage& image, uint8_t base, int channel) {
  return image.at(uint8_t(base + channel / 8 * CfgAddr::DigitalStride)) >> (channel % 8) & 1;
}

void SetDigitalBit(ConfigImage& image, uint8_t base, int channel, bool on) {
  uint8_t& byte = image.bytes[base + channel / 8 * CfgAddr::DigitalStride];
  const uint8_t bit = uint8_t(1u << (channel % 8));
  byte = on ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
}

ConfigImage ApplyChoice(const SettingChoice& c, ConfigImage image) {
  if (c.kind == SettingChoice::AinRange) {
    image.bytes[CfgAddr::AinRange] = uint8_t(c.value & 1);
    return image;
  }
  for (int channel = std::max(0, c.first); channel <= std::min(31, c.last); ++channel)
    SetDigitalBit(image, FieldBase(c.kind), channel, c.value != 0);
  return image;
}

QString ModulePlace(const LineModule& m) { return QStringLiteral("%1 (%2 Bd)").arg(m.address).arg(BaudCodeToRate(m.baudCode)); }

QString AutoBackupFolder() {
  const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (dataHome.isEmpty()) return {};
  return QDir(dataHome).filePath(QStringLiteral("%1/zálohy").arg(QLatin1String(SettingsFolderName)));
}

QString AutoBackupPath(const QDateTime& when) {
  const QString folder = AutoBackupFolder();
  if (folder.isEmpty()) return {};
  return QDir(folder).filePath(QStringLiteral("záloha-%1.qx510line").arg(when.toString(QStringLiteral("yyyy-MM-dd-HHmmss-zzz"))));
}
