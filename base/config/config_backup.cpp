#include "base/config/config_backup.h"

#include <QHash>
#include <algorithm>
#include <array>

#include "base/text/number_text.h"
#include "base/files/sealed_text.h"

namespace {

constexpr char FormatTag[] = "qx510-config 1";
constexpr char BytePrefix[] = "byte.";

// Comments only, so that a reader of the first format takes the file as it always did.
const QString OwnBytesComment = QStringLiteral(
    "# bajty 15-22 (voltage_*, current_*): kalibrační konstanty vlastní modulu, ze kterého je záloha; "
    "obnovují se jen na výslovné přání");

}  // namespace

QByteArray FormatBackup(const ConfigBackup& backup) {
  QStringList lines = {QStringLiteral("# qx510-cli: záloha konfigurace modulu; raw bytes rule, named values are for reading"),
                       QStringLiteral("format=") + QLatin1String(FormatTag),
                       QStringLiteral("module=") + backup.module,
                       QStringLiteral("version=") + backup.version,
                       QStringLiteral("date=") + backup.date.toUTC().toString(Qt::ISODate),
                       OwnBytesComment};
  lines << NamedValues(backup.image);
  for (uint8_t address : ImageAddresses()) {
    if (IsCalibrationByte(address) && !IsCalibrationByte(uint8_t(address - 1)))
      lines << QStringLiteral("# kalibrační konstanty (vlastní modulu):");
    lines << QStringLiteral("%1%2=0x%3")
                 .arg(QLatin1String(BytePrefix))
                 .arg(address)
                 .arg(backup.image.at(address), 2, 16, QLatin1Char('0'));
  }
  const QByteArray body = lines.join(QLatin1Char('\n')).toUtf8() + '\n';
  return SealText(body);
}

bool ParseBackup(const QByteArray& text, ConfigBackup& backup, QString& error) {
  QByteArrayList lines;
  switch (OpenSealedText(text, lines)) {
    case SealState::Missing:
      error = QStringLiteral("Soubor zálohy je neúplný nebo poškozený: chybí kontrolní součet.");
      return false;
    case SealState::Broken:
      error = QStringLiteral("Soubor zálohy je poškozený: kontrolní součet nesouhlasí.");
      return false;
    case SealState::Sound: break;
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
