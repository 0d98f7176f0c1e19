#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

// The module's whole configuration as a backup, a restore or a comparison moves it: every
// configuration byte the tool reads or writes, in a fixed order (bus address and rate first, as the address window
// moves them; then the analog range, the calibration constants, the digital bytes).
const std::vector<uint8_t>& ImageAddresses();
bool IsLineSetting(uint8_t address);      // bus address or baud code
bool IsCalibrationByte(uint8_t address);  // one of the calibration constants' bytes

// Bytes by configuration address; only the addresses of ImageAddresses() are used.
struct ConfigImage {
  std::array<uint8_t, 64> bytes{};
  uint8_t at(uint8_t address) const { return bytes[address]; }
};

// The named value a configuration address belongs to ("din_negation byte 1").
QString AddressRole(uint8_t address);

// Which bytes of the image a restore or a comparison takes. The line settings decide how the
// module is reached, and the calibration constants belong to the module's own converter, so
// each comes along only when asked.
struct ImageSelection {
  bool lineSettings = false;
  bool calibration = false;
};
std::vector<uint8_t> SelectedAddresses(const ImageSelection& selection);  // in image order

// Whether the settings windows would write `value` to `address`: a range byte is 0 or 1, a
// baud code 0..8, a bus address 0..255 as the address window takes it (so every value of its
// byte); every other byte of the image takes any value. Empty when they would, else the
// operator's message naming the byte.
QString RefusedValueText(uint8_t address, uint8_t value);
inline const QString AinRangeText = QStringLiteral("Rozsah musí být 0-10V nebo 0-20mA.");
// The message for the first of the addresses whose byte in the image is refused, or empty.
QString RefusedValueText(const ConfigImage& image, const std::vector<uint8_t>& addresses);
// Every byte of the addresses that the settings windows would refuse, in the given order,
// each with its message.
struct RefusedByte {
  uint8_t address = 0;
  uint8_t value = 0;
  QString text;
};
std::vector<RefusedByte> RefusedBytes(const ConfigImage& image, const std::vector<uint8_t>& addresses);

// One byte in which the module (or a first image) differs from the wanted image. `known` is
// false when the module's byte could not be read; `module` is then 0.
struct ByteDifference {
  uint8_t address = 0;
  uint8_t module = 0;
  uint8_t wanted = 0;
  bool known = true;
  QString name() const { return AddressRole(address); }
};
// The addresses, in the given order, at which the two images differ.
std::vector<ByteDifference> DifferingBytes(const ConfigImage& module, const ConfigImage& wanted,
                                           const std::vector<uint8_t>& addresses);

// The image decoded by name: "name=value" lines, and the same as JSON fields.
QStringList NamedValues(const ConfigImage& image);
QJsonObject NamedValuesJson(const ConfigImage& image);
// 32-bit groups as the image keeps them.
uint32_t DinNegationMask(const ConfigImage& image);
uint32_t DoutNegationMask(const ConfigImage& image);
uint32_t DoutInitialMask(const ConfigImage& image);
