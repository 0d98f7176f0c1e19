#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

// The module's whole configuration as the companion moves it: every configuration byte the
// tool reads or writes, in a fixed order (bus address and rate first, as the address window
// moves them; then the analog range, the calibration constants, the digital bytes).
const std::vector<uint8_t>& ImageAddresses();
bool IsLineSetting(uint8_t address);  // bus address or baud code

// Bytes by configuration address; only the addresses of ImageAddresses() are used.
struct ConfigImage {
  std::array<uint8_t, 64> bytes{};
  uint8_t at(uint8_t address) const { return bytes[address]; }
};

// The named value a configuration address belongs to ("din_negation byte 1").
QString AddressRole(uint8_t address);

// The image decoded by name: "name=value" lines, and the same as JSON fields.
QStringList NamedValues(const ConfigImage& image);
QJsonObject NamedValuesJson(const ConfigImage& image);
// 32-bit groups as the image keeps them.
uint32_t DinNegationMask(const ConfigImage& image);
uint32_t DoutNegationMask(const ConfigImage& image);
uint32_t DoutInitialMask(const ConfigImage& image);

// A configuration backup: a text file with the module's identification, the date, the named
// values and the raw bytes, closed by a checksum over everything before it so that a damaged
// or truncated file is refused.
struct ConfigBackup {
  QString module;   // the module's type name (ModuleTypeName)
  QString version;
  QDateTime date;
  ConfigImage image;
};
QByteArray FormatBackup(const ConfigBackup& backup);
// False with the operator's message for a malformed, truncated or damaged file.
bool ParseBackup(const QByteArray& text, ConfigBackup& backup, QString& error);
