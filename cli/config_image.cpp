#include "cli/config_image.h"

#include <QCryptographicHash>
#include <QJsonValue>
#include <QList>
#include <algorithm>

#include "base/baud.h"
#include "base/calibration_constants.h"
#include "base/commands.h"
#include "cli/cli_args.h"

namespace {

constexpr char FormatTag[] = "qx510-config 1";
constexpr char BytePrefix[] = "byte.";
constexpr char ChecksumKey[] = "sha256=";

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

QByteArray Checksum(const QByteArray& body) {
  return QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex();
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

QByteArray FormatBackup(const ConfigBackup& backup) {
  QStringList lines = {QStringLiteral("# qx510-cli: záloha konfigurace modulu; raw bytes rule, named values are for reading"),
                       QStringLiteral("format=") + QLatin1String(FormatTag),
                       QStringLiteral("module=") + backup.module,
                       QStringLiteral("version=") + backup.version,
                       QStringLiteral("date=") + backup.date.toUTC().toString(Qt::ISODate)};
  lines << NamedValues(backup.image);
  for (uint8_t address : ImageAddresses())
    lines << QStringLiteral("%1%2=0x%3")
                 .arg(QLatin1String(BytePrefix))
                 .arg(address)
                 .arg(backup.image.at(address), 2, 16, QLatin1Char('0'));
  const QByteArray body = lines.join(QLatin1Char('\n')).toUtf8() + '\n';
  return body + ChecksumKey + Checksum(body) + '\n';
}

bool ParseBackup(const QByteArray& text, ConfigBackup& backup, QString& error) {
  QByteArrayList lines = text.split('\n');
  for (QByteArray& line : lines)
    if (line.endsWith('\r')) line.chop(1);
  while (!lines.isEmpty() && lines.back().trimmed().isEmpty()) lines.removeLast();
  if (lines.isEmpty() || !lines.back().startsWith(ChecksumKey)) {
    error = QStringLiteral("Soubor zálohy je neúplný nebo poškozený: chybí kontrolní součet.");
    return false;
  }
  const QByteArray sum = lines.takeLast().mid(int(sizeof ChecksumKey) - 1).trimmed();
  if (sum != Checksum(lines.join('\n') + '\n')) {
    error = QStringLiteral("Soubor zálohy je poškozený: kontrolní součet nesouhlasí.");
    return false;
  }

  ConfigBackup parsed;
  QHash<QString, QString> values;
  std::array<bool, 64> seen{};
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString line = QString::fromUtf8(lines[i]);
    if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq <= 0) {
      error = QStringLiteral("Soubor zálohy má chybný řádek %1.").arg(i + 1);
      return false;
    }
    const QString key = line.left(eq), value = line.mid(eq + 1);
    if (key.startsWith(QLatin1String(BytePrefix))) {
      qint64 address = 0, byte = 0;
      if (!ParseNumber(key.mid(int(sizeof BytePrefix) - 1), 0, 63, address) ||
          std::find(ImageAddresses().begin(), ImageAddresses().end(), uint8_t(address)) == ImageAddresses().end() ||
          seen[size_t(address)] || !ParseNumber(value, 0, 255, byte)) {
        error = QStringLiteral("Soubor zálohy má chybný řádek %1.").arg(i + 1);
        return false;
      }
      seen[size_t(address)] = true;
      parsed.image.bytes[size_t(address)] = uint8_t(byte);
    } else {
      values.insert(key, value);
    }
  }
  if (values.value(QStringLiteral("format")) != QLatin1String(FormatTag)) {
    error = QStringLiteral("Soubor není záloha konfigurace modulu ve známém formátu.");
    return false;
  }
  parsed.module = values.value(QStringLiteral("module")).trimmed();
  parsed.version = values.value(QStringLiteral("version")).trimmed();
  parsed.date = QDateTime::fromString(values.value(QStringLiteral("date")), Qt::ISODate);
  if (parsed.module.isEmpty() || !parsed.date.isValid()) {
    error = QStringLiteral("Souboru zálohy chybí identifikace modulu nebo datum.");
    return false;
  }
  for (uint8_t address : ImageAddresses()) {
    if (!seen[address]) {
      error = QStringLiteral("Souboru zálohy chybí bajt adresy %1.").arg(address);
      return false;
    }
  }
  backup = parsed;
  return true;
}
