#include "base/config/setting_labels.h"

#include <QStringList>

#include "base/text/baud.h"
#include "base/exchange/commands.h"

namespace {

struct Label {
  const char* name;
  const char* czech;
};
constexpr Label Labels[] = {
    {"bus_address", "Adresa modulu"},
    {"baud_code", "Komunikační rychlost"},
    {"ain0_range", "Rozsah AIN 0"},
    {"din_negation", "Negace DIN"},
    {"dout_negation", "Negace DOUT"},
    {"dout_initial", "Počáteční stav DOUT"},
    {"voltage_gain", "Kalibrace napětí: zesílení"},
    {"voltage_offset", "Kalibrace napětí: posun"},
    {"current_gain", "Kalibrace proudu: zesílení"},
    {"current_offset", "Kalibrace proudu: posun"},
};

QString Hex(uint8_t value) { return QStringLiteral("0x%1").arg(value, 2, 16, QLatin1Char('0')); }

// The digital field (0 initial state, 1 input negation, 2 output negation) and byte of an
// address, or -1.
int DigitalField(uint8_t address, int* byte) {
  const int offset = address - CfgAddr::DoutInitialState;
  if (offset < 0 || offset >= 4 * CfgAddr::DigitalStride) return -1;
  *byte = offset / CfgAddr::DigitalStride;
  return offset % CfgAddr::DigitalStride;
}

}  // namespace

QString SettingLabel(const QString& name) {
  for (const Label& l : Labels)
    if (name == QLatin1String(l.name)) return QString::fromUtf8(l.czech);
  return {};
}

QString SettingValueText(const QString& name, const QString& value) {
  if (name == QLatin1String("baud_code")) {
    bool ok = false;
    const int code = value.toInt(&ok);
    const QStringList rates = BaudRateItems();
    return ok && code >= 0 && code < rates.size() ? rates.at(code) : QStringLiteral("neplatný kód %1").arg(value);
  }
  return value;
}

QString ConfigByteLabel(uint8_t address) {
  if (address == CfgAddr::BusAddress) return SettingLabel(QStringLiteral("bus_address"));
  if (address == CfgAddr::BaudCode) return SettingLabel(QStringLiteral("baud_code"));
  if (address == CfgAddr::AinRange) return SettingLabel(QStringLiteral("ain0_range"));
  for (uint8_t base : {CfgAddr::VoltageGain, CfgAddr::CurrentGain}) {
    if (address >= base && address < base + 4) {
      const bool voltage = base == CfgAddr::VoltageGain;
      const int part = address - base;
      const QString word = SettingLabel(QLatin1String(voltage ? (part < 2 ? "voltage_gain" : "voltage_offset")
                                                              : (part < 2 ? "current_gain" : "current_offset")));
      return word + (part % 2 == 0 ? QStringLiteral(", nižší bajt") : QStringLiteral(", vyšší bajt"));
    }
  }
  int byte = 0;
  const int field = DigitalField(address, &byte);
  if (field >= 0) {
    static const char* const fields[] = {"dout_initial", "din_negation", "dout_negation"};
    return QStringLiteral("%1, bajt %2").arg(SettingLabel(QLatin1String(fields[field]))).arg(byte);
  }
  return QStringLiteral("bajt %1").arg(address);
}

QString ConfigByteValueText(uint8_t address, uint8_t value) {
  if (address == CfgAddr::BusAddress) return QString::number(value);
  if (address == CfgAddr::BaudCode)
    return value < BaudCodeCount ? BaudRateItems().at(value) : Hex(value) + QStringLiteral(": neplatný kód");
  if (address == CfgAddr::AinRange)
    return value == 0 ? QStringLiteral("0-10V") : value == 1 ? QStringLiteral("0-20mA") : Hex(value) + QStringLiteral(": neplatný rozsah");
  int byte = 0;
  if (DigitalField(address, &byte) >= 0) {
    // The bits of the 32 this byte carries, numbered as the digital window numbers them.
    QStringList bits;
    for (int b = 0; b < 8; ++b)
      if (value >> b & 1) bits << QString::number(byte * 8 + b);
    if (bits.isEmpty()) return Hex(value) + QStringLiteral(" (žádný bit)");
    return Hex(value) + QStringLiteral(" (%1 %2)").arg(bits.size() == 1 ? QStringLiteral("bit") : QStringLiteral("bity"),
                                                      bits.join(QStringLiteral(", ")));
  }
  return QStringLiteral("%1 (%2)").arg(Hex(value)).arg(value);
}
