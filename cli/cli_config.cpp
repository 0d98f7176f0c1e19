// config show/backup/restore/verify and set.

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <map>

#include "base/files/checked_file.h"
#include "base/exchange/commands.h"
#include "base/exchange/identify.h"
#include "base/config/setting_labels.h"
#include "cli/cli_context.h"

namespace {

QString Version(const QString& ident) {
  const qsizetype at = ident.lastIndexOf(QLatin1String(" v."));
  QString version = at >= 0 ? ident.mid(at + 3) : QString();
  version.remove(QChar(u'\0'));
  return version.trimmed();
}

// The calibration constants are the module's own: a restore leaves them unless asked.
const QString OwnByteNote = QStringLiteral(" (vlastní modulu)");

QString ByteText(uint8_t value) { return QStringLiteral("0x%1").arg(value, 2, 16, QLatin1Char('0')); }

QString JsonLine(const QJsonObject& object) {
  return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// A backup is a few kilobytes; a file or an input larger than this is no backup, and no more
// of it than one byte past the limit is read.
constexpr qint64 MaxBackupBytes = 1 << 20;

// The backup named by the command's argument, read before any module traffic.
bool LoadBackup(CliContext& c, ConfigBackup& backup, int& exitCode) {
  QByteArray text;
  if (!c.readFile(c.args.positional.front(), MaxBackupBytes, QStringLiteral("záloha"), text, exitCode)) return false;
  QString error;
  if (!ParseBackup(text, backup, error)) {
    exitCode = c.fail(ExitUsage, c.args.positional.front() + QStringLiteral(": ") + error);
    return false;
  }
  return true;
}

// Connects and checks that the module is of the backup's type.
bool ConnectMatching(CliContext& c, const ConfigBackup& backup, int& exitCode) {
  if ((exitCode = c.connect()) != ExitOk) return false;
  const QString type = ModuleTypeName(c.data.ModuleIdent);
  if (type != backup.module) {
    exitCode = c.fail(ExitUsage, QStringLiteral("Záloha je z modulu %1, připojen je modul %2; nic nezapsáno.")
                                     .arg(backup.module, type));
    return false;
  }
  return true;
}

// The backup, refused before any module traffic when a byte that restore or verify would
// take holds a value the settings windows never write.
bool LoadUsableBackup(CliContext& c, ConfigBackup& backup, int& exitCode) {
  if (!LoadBackup(c, backup, exitCode)) return false;
  const QString refused = RefusedValueText(backup.image, c.comparedAddresses());
  if (refused.isEmpty()) return true;
  exitCode = c.fail(ExitUsage, c.args.positional.front() + QStringLiteral(": ") + refused + QStringLiteral(" Nic nezapsáno."));
  return false;
}

// One line per difference on stdout ("byte.33 (Negace DIN, bajt 0): modul 0x00 (žádný bit), záloha
// 0x81 (bity 0, 7)"),
// or the JSON array of them.
QJsonArray PrintDifferences(CliContext& c, const std::vector<ByteDifference>& differences) {
  QJsonArray list;
  for (const ByteDifference& d : differences) {
    list.append(DifferenceJson(d));
    if (!c.json()) c.out() << DifferenceText(d) << '\n';
  }
  return list;
}

}  // namespace

int CmdConfigShow(CliContext& c) {
  if (const int r = c.connect(); r != ExitOk) return r;
  ConfigImage image;
  int exitCode = ExitOk;
  if (!c.readImage(image, exitCode)) return exitCode;
  const QString module = ModuleTypeName(c.data.ModuleIdent), version = Version(c.data.ModuleIdent);
  if (c.json()) {
    QJsonObject raw;
    QJsonArray own;
    for (uint8_t a : ImageAddresses()) {
      raw.insert(QString::number(a), image.at(a));
      if (IsCalibrationByte(a)) own.append(a);
    }
    c.out() << JsonLine({{QStringLiteral("module"), module},
                         {QStringLiteral("version"), version},
                         {QStringLiteral("values"), NamedValuesJson(image)},
                         {QStringLiteral("raw"), raw},
                         {QStringLiteral("module_own"), own}})
            << '\n';
    return ExitOk;
  }
  c.out() << "module=" << module << "\nversion=" << version << '\n';
  for (const QString& line : NamedValues(image)) c.out() << line << '\n';
  for (uint8_t a : ImageAddresses())
    c.out() << QStringLiteral("byte.%1=%2  ; %3%4\n")
                   .arg(a)
                   .arg(ByteText(image.at(a)), ConfigByteLabel(a), IsCalibrationByte(a) ? OwnByteNote : QString());
  return ExitOk;
}

int CmdConfigBackup(CliContext& c) {
  if (const int r = c.checkOutputTarget(); r != ExitOk) return r;
  if (const int r = c.connect(); r != ExitOk) return r;
  ConfigBackup backup;
  int exitCode = ExitOk;
  if (!c.readImage(backup.image, exitCode)) return exitCode;
  backup.module = ModuleTypeName(c.data.ModuleIdent);
  backup.version = Version(c.data.ModuleIdent);
  backup.date = QDateTime::currentDateTimeUtc();
  QString where;
  if (const int r = c.writeOutput(FormatBackup(backup), QStringLiteral("Konfiguraci"), where); r != ExitOk) return r;
  c.say(QStringLiteral("Konfigurace uložena %1.").arg(where));
  return ExitOk;
}

int CmdConfigRestore(CliContext& c) {
  ConfigBackup backup;
  int exitCode = ExitOk;
  if (!LoadUsableBackup(c, backup, exitCode) || !ConnectMatching(c, backup, exitCode)) return exitCode;

  const std::vector<uint8_t> addresses = c.comparedAddresses();
  const ImageRead before = ReadModuleImage(c.link(), c.imageEvents());
  if (before.result.outcome == ConfigTransferResult::Cancelled && !c.args.has(QStringLiteral("dry-run")))
    return c.stopped(QStringLiteral("Přerušeno signálem %1 při čtení modulu, před prvním zápisem: nic nezapsáno, "
                                    "modul beze změny.")
                         .arg(c.signalName()));
  if (c.args.has(QStringLiteral("dry-run"))) {
    if (!before.ok()) return c.readFailed(before.result);
    const std::vector<ConfigByte> changes = RestoreBytes(before, backup.image, addresses);
    if (changes.empty()) {
      c.say(QStringLiteral("Konfigurace modulu souhlasí se zálohou; není co zapsat."));
      return ExitOk;
    }
    for (const ConfigByte& b : changes)
      c.out() << QStringLiteral("byte.%1 (%2): %3 -> %4\n")
                     .arg(b.address)
                     .arg(ConfigByteLabel(b.address), ConfigByteValueText(b.address, before.image.at(b.address)),
                          ConfigByteValueText(b.address, b.value));
    c.say(QStringLiteral("Zkouška nanečisto: nic nezapsáno."));
    return ExitOk;
  }
  // A byte the first read did not reach is written rather than skipped; the read-back decides.
  if (!before.ok()) {
    if (c.io.errIsTerminal) *c.io.err << '\n';
    c.say(QStringLiteral("Čtení adresy %1 selhalo: %2; zbylé bajty se zapíší bez porovnání.")
              .arg(before.result.address)
              .arg(c.statusText(before.result.status)));
  }

  const RestoreResult result = RestoreImage(c.link(), before, backup.image, addresses, c.imageEvents());
  switch (result.outcome) {
    case RestoreResult::Done: break;
    case RestoreResult::Refused:  // LoadUsableBackup refused it already; the shared restore checks again
      return c.fail(ExitUsage, c.args.positional.front() + QStringLiteral(": ") + result.refused.front().text +
                                   QStringLiteral(" Nic nezapsáno."));
    case RestoreResult::WriteFailed: return c.writeFailed(result.write);
    case RestoreResult::Cancelled:
      if (c.io.errIsTerminal) *c.io.err << '\n';
      return c.stopped(QStringLiteral("Obnova přerušena signálem %1: %2.").arg(c.signalName(), RestoreHoldsText(result)));
    case RestoreResult::ReadBackFailed:
      if (c.io.errIsTerminal) *c.io.err << '\n';
      return c.exchangeFailed(QStringLiteral("Kontrolní čtení adresy %1 selhalo; zápis nelze ověřit")
                                  .arg(result.after.result.address),
                              result.after.result.status);
    case RestoreResult::Differs:
      PrintDifferences(c, result.differences);
      return c.fail(ExitModule, QStringLiteral("Kontrolní čtení: konfigurace modulu se po zápisu od zálohy liší."));
  }
  c.say(result.writes.empty() ? QStringLiteral("Konfigurace modulu souhlasí se zálohou; není co zapsat.")
                              : QStringLiteral("Konfigurace zapsána a zpětně ověřena."));
  return ExitOk;
}

int CmdConfigVerify(CliContext& c) {
  ConfigBackup backup;
  ConfigImage current;
  int exitCode = ExitOk;
  if (!LoadUsableBackup(c, backup, exitCode) || !ConnectMatching(c, backup, exitCode) ||
      !c.readImage(current, exitCode))
    return exitCode;

  const QJsonArray differences = PrintDifferences(c, DifferingBytes(current, backup.image, c.comparedAddresses()));
  if (c.json())
    c.out() << JsonLine({{QStringLiteral("equal"), differences.isEmpty()}, {QStringLiteral("differences"), differences}})
            << '\n';
  if (!differences.isEmpty()) return c.fail(ExitModule, QStringLiteral("Konfigurace modulu se od zálohy liší."));
  c.say(QStringLiteral("Konfigurace modulu souhlasí se zálohou."));
  return ExitOk;
}

int CmdSet(CliContext& c) {
  const QStringList& words = c.args.positional;
  if (words.size() % 2 != 0) return c.fail(ExitUsage, QStringLiteral("Ke jménu %1 chybí hodnota.").arg(words.back()));
  std::map<uint8_t, uint8_t> bytes;  // by address
  auto mask = [&bytes](uint8_t base, uint32_t m) {
    for (int j = 0; j < 4; ++j) bytes[uint8_t(base + j * CfgAddr::DigitalStride)] = uint8_t(m >> (8 * j));
  };
  QStringList seen;
  for (qsizetype i = 0; i < words.size(); i += 2) {
    const QString name = words[i], value = words[i + 1];
    if (seen.contains(name)) return c.fail(ExitUsage, QStringLiteral("Hodnota %1 je zadána dvakrát.").arg(name));
    seen << name;
    uint32_t m = 0;
    if (name == QLatin1String("address")) {
      uint8_t address = 0;
      if (!ParseByteInRange(value, 0, 255, address)) return c.fail(ExitUsage, AddressRangeText.trimmed());
      bytes[CfgAddr::BusAddress] = address;
    } else if (name == QLatin1String("rate")) {
      int code = 0;
      if (!ParseRate(value, code)) return c.fail(ExitUsage, RateChoicesText);
      bytes[CfgAddr::BaudCode] = uint8_t(code);
    } else if (name == QLatin1String("range")) {
      const QString v = value.trimmed();
      if (v == QLatin1String("0-10V") || v == QLatin1String("voltage"))
        bytes[CfgAddr::AinRange] = 0;
      else if (v == QLatin1String("0-20mA") || v == QLatin1String("current"))
        bytes[CfgAddr::AinRange] = 1;
      else
        return c.fail(ExitUsage, AinRangeText);
    } else if (name == QLatin1String("din-negation") || name == QLatin1String("dout-negation") ||
               name == QLatin1String("dout-initial")) {
      if (!ParseMask32(value, m))
        return c.fail(ExitUsage, QStringLiteral("Maska musí být 0x a nejvýše 8 šestnáctkových číslic, "
                                                "seznam bitů 0-31 (např. 0,3,17) nebo none."));
      mask(name == QLatin1String("din-negation")    ? CfgAddr::DinNegation
           : name == QLatin1String("dout-negation") ? CfgAddr::DoutNegation
                                                    : CfgAddr::DoutInitialState,
           m);
    } else {
      return c.fail(ExitUsage, QStringLiteral("Neznámá hodnota: %1 (address, rate, range, din-negation, "
                                              "dout-negation, dout-initial)").arg(name));
    }
  }
  std::vector<ConfigByte> changes;
  for (uint8_t a : ImageAddresses()) {
    const auto it = bytes.find(a);
    if (it == bytes.end()) continue;
    if (const QString refused = RefusedValueText(a, it->second); !refused.isEmpty()) return c.fail(ExitUsage, refused);
    changes.push_back({a, it->second});
  }

  if (const int r = c.connect(); r != ExitOk) return r;
  return c.writeBytes(changes);
}
