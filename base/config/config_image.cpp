#include "base/config/config_image.h"

#include <QJsonValue>
#include <QList>

#include "base/text/baud.h"
#include "base/calibration/calibration_constants.h"
#include "base/exchange/commands.h"
#include "base/config/config_transfer.h"
#include "base/text/number_text.h"
#include "base/config/setting_labels.h"

namespace {

uint16_t Word(const ConfigImage& image, uint8_t low) {
  return uint16_t(image.at(low) | image.at(uint8_t(low + 1)) << 8);
}

uint32_t Group(const ConfigImage& image, uint8_t base) {
  uint32_t mask = 0;
  for (int j = 0; j < 4; ++j) mask |= uint32_t(image.at(uint8_t(base + j * CfgAddr::DigitalStride))) << (8 * j);
  return mask;
}

struct Named {
  QString name;
  QJsonValue json;
  QString text;
};

QList<Named> Decode(const ConfigImage& image) {
  const uint8_t code = image.at(CfgAddr::BaudCode);
  const bool validCode = code < BaudCodeCount;
  const bool current = image.at(CfgAddr::AinRange) & 1;
  auto number = [](qint64 n) { return Named{QString(), QJsonValue(n), QString::number(n)}; };
  auto mask = [](uint32_t m) { return Named{QString(), QJsonValue(Hex8(m)), Hex8(m)}; };
  QList<std::pair<QString, Named>> fields = {
      {QStringLiteral("bus_address"), number(image.at(CfgAddr::BusAddress))},
      {QStringLiteral("baud_code"), number(code)},
      {QStringLiteral("baud_rate"), validCode ? number(BaudCodeToRate(code))
                                              : Named{QString(), QJsonValue(), QStringLiteral("invalid")}},
      {QStringLiteral("ain0_range"),
       Named{QString(), QJsonValue(current ? QStringLiteral("0-20mA") : QStringLiteral("0-10V")),
             current ? QStringLiteral("0-20mA") : QStringLiteral("0-10V")}},
      {QStringLiteral("din_negation"), mask(DinNegationMask(image))},
      {QStringLiteral("dout_negation"), mask(DoutNegationMask(image))},
      {QStringLiteral("dout_initial"), mask(DoutInitialMask(image))},
      {QStringLiteral("voltage_gain"), number(Word(image, CfgAddr::VoltageGain))},
      {QStringLiteral("voltage_offset"), number(int16_t(Word(image, CfgAddr::VoltageGain + 2)))},
      {QStringLiteral("current_gain"), number(Word(image, CfgAddr::CurrentGain))},
      {QStringLiteral("current_offset"), number(int16_t(Word(image, CfgAddr::CurrentGain + 2)))},
  };
  QList<Named> out;
  for (auto& [name, value] : fields) {
    value.name = name;
    out << value;
  }
  return out;
}

}  // namespace

const std::vector<uint8_t>& ImageAddresses() {
  static const std::vector<uint8_t> addresses = [] {
    std::vector<uint8_t> a = {CfgAddr::BusAddress, CfgAddr::BaudCode, CfgAddr::AinRange};
    for (uint8_t base : {CfgAddr::VoltageGain, CfgAddr::CurrentGain})
      for (int i = 0; i < 4; ++i) a.push_back(uint8_t(base + i));
    for (uint8_t base : {CfgAddr::DoutInitialState, CfgAddr::DinNegation, CfgAddr::DoutNegation})
      for (int j = 0; j < 4; ++j) a.push_back(uint8_t(base + j * CfgAddr::DigitalStride));
    return a;
  }();
  return addresses;
}

bool IsLineSetting(uint8_t address) { return address == CfgAddr::BusAddress || address == CfgAddr::BaudCode; }

bool IsCalibrationByte(uint8_t address) {
  return address >= CfgAddr::VoltageGain && address < CfgAddr::CurrentGain + 4;
}

std::vector<uint8_t> SelectedAddresses(const ImageSelection& selection) {
  std::vector<uint8_t> addresses;
  for (uint8_t a : ImageAddresses())
    if ((!IsLineSetting(a) || selection.lineSettings) && (!IsCalibrationByte(a) || selection.calibration))
      addresses.push_back(a);
  return addresses;
}

QString RefusedValueText(uint8_t address, uint8_t value) {
  QString why;
  if (address == CfgAddr::AinRange && value > RangeCurrent)
    why = AinRangeText;
  else if (address == CfgAddr::BaudCode && value >= BaudCodeCount)
    why = QStringLiteral("Komunikační rychlost musí být v rozsahu 600 Bd-115200 Bd.");
  if (why.isEmpty()) return why;
  return QStringLiteral("Bajt %1 (%2) = 0x%3 nelze zapsat: %4")
      .arg(address)
      .arg(ConfigByteLabel(address))
      .arg(value, 2, 16, QLatin1Char('0'))
      .arg(why);
}

QString RefusedValueText(const ConfigImage& image, const std::vector<uint8_t>& addresses) {
  for (uint8_t a : addresses)
    if (QString text = RefusedValueText(a, image.at(a)); !text.isEmpty()) return text;
  return {};
}

std::vector<RefusedByte> RefusedBytes(const ConfigImage& image, const std::vector<uint8_t>& addresses) {
  std::vector<RefusedByte> refused;
  for (uint8_t a : addresses)
    if (QString text = RefusedValueText(a, image.at(a)); !text.isEmpty()) refused.push_back({a, image.at(a), text});
  return refused;
}

std::vector<ByteDifference> DifferingBytes(const ConfigImage& module, const ConfigImage& wanted,
                                           const std::vector<uint8_t>& addresses) {
  std::vector<ByteDifference> differences;
  for (uint8_t a : addresses)
    if (module.at(a) != wanted.at(a)) differences.push_back({a, module.at(a), wanted.at(a), true});
  return differences;
}

QString AddressRole(uint8_t address) {
  if (address == CfgAddr::BusAddress) return QStringLiteral("bus_address");
  if (address == CfgAddr::BaudCode) return QStringLiteral("baud_code");
  if (address == CfgAddr::AinRange) return QStringLiteral("ain0_range");
  for (uint8_t base : {CfgAddr::VoltageGain, CfgAddr::CurrentGain}) {
    if (address >= base && address < base + 4) {
      static const char* const parts[] = {"gain low", "gain high", "offset low", "offset high"};
      return QStringLiteral("%1_%2 byte")
          .arg(base == CfgAddr::VoltageGain ? QStringLiteral("voltage") : QStringLiteral("current"),
               QLatin1String(parts[address - base]));
    }
  }
  static const char* const groups[] = {"dout_initial", "din_negation", "dout_negation"};
  const int offset = address - CfgAddr::DoutInitialState;
  if (offset >= 0 && offset < 12)
    return QStringLiteral("%1 byte %2").arg(QLatin1String(groups[offset % 3])).arg(offset / 3);
  return QStringLiteral("byte");
}

uint32_t DinNegationMask(const ConfigImage& image) { return Group(image, CfgAddr::DinNegation); }
uint32_t DoutNegationMask(const ConfigImage& image) { return Group(image, CfgAddr::DoutNegation); }
uint32_t DoutInitialMask(const ConfigImage& image) { return Group(image, CfgAddr::DoutInitialState); }

QStringList NamedValues(const ConfigImage& image) {
  QStringList lines;
  for (const Named& n : Decode(image)) lines << n.name + QLatin1Char('=') + n.text;
  return lines;
}

QJsonObject NamedValuesJson(const ConfigImage& image) {
  QJsonObject object;
  for (const Named& n : Decode(image)) object.insert(n.name, n.json);
  return object;
}
