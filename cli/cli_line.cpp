// line backup/restore/verify: every module of a line, in the workbench's line file.
//
// Exit status for a line: 0 when every module succeeded; 1 when some did not (no answer, a
// failed read or write, a difference, a module the backup lacks) while the others were done;
// 2 a bad file or usage, a byte the settings windows never write, or (restore, verify) a module
// of another type at a module's place; 3 no driver, or no module of the line answered.

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <memory>

#include "base/config/line_image.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/identify.h"
#include "base/text/baud.h"
#include "base/text/czech_plural.h"
#include "cli/cli_context.h"

namespace {

// The line of a backup: --line FILE ("-": standard input), else the workbench's last line.
// A restore or a verify takes it from the backup, its first argument.
bool LoadLine(CliContext& c, const QString& path, LineFile& line, int& exitCode) {
  if (path.isEmpty()) {
    exitCode = c.fail(ExitUsage, QStringLiteral("Linka pracoviště není uložena (chybí složka uživatele); zadejte --line SOUBOR."));
    return false;
  }
  QByteArray text;
  if (!c.readFile(path, LineFileMaxBytes, QStringLiteral("soubor linky"), text, exitCode)) return false;
  QString error;
  if (!ParseLineFile(text, line, error)) {
    exitCode = c.fail(ExitUsage, path + QStringLiteral(": ") + error);
    return false;
  }
  if (line.modules.isEmpty()) {
    exitCode = c.fail(ExitUsage, path + QStringLiteral(": linka nemá žádný modul; nic neprovedeno."));
    return false;
  }
  return true;
}

// A backup for restore and verify: refused before any module traffic when it holds no image
// or a byte that they would take holds a value the settings windows never write.
bool LoadLineBackup(CliContext& c, LineFile& line, int& exitCode) {
  const QString path = c.args.positional.front();
  if (!LoadLine(c, path, line, exitCode)) return false;
  if (line.images.isEmpty()) {
    exitCode = c.fail(ExitUsage, path + QStringLiteral(": soubor obsahuje jen seznam modulů, bez konfigurace; nic neprovedeno."));
    return false;
  }
  QStringList refused;
  for (const LineModule& m : line.modules)
    if (const ConfigImage* image = line.image(m))
      if (const QString text = RefusedValueText(*image, c.comparedAddresses()); !text.isEmpty())
        refused << LineModuleText(m) + QStringLiteral(": ") + text;
  if (refused.isEmpty()) return true;
  exitCode = c.fail(ExitUsage, path + QStringLiteral(": ") + refused.join(QStringLiteral("; ")) + QStringLiteral(" Nic nezapsáno."));
  return false;
}

// The driver opened once; each module reached at its own rate with the connection's timeout.
LineAccess Access(CliContext& c) {
  LineAccess access{c.data.Interface, c.data.DriverHandle, {}};
  auto rate = std::make_shared<int>(-1);
  access.reach = [&c, rate](const LineModule& m, QString& error) {
    if (*rate == m.baudCode) return uint32_t(0);
    const uint32_t status =
        DriverSetConfig(c.data.Interface, c.data.DriverHandle, uint32_t(BaudCodeToRate(m.baudCode)), c.data.ResponseTimeout, 2);
    *rate = status == 0 ? m.baudCode : -1;
    if (status != 0) error = c.statusText(status);
    return status;
  };
  return access;
}

QString Prefix(int index, int count) { return QStringLiteral("Modul %1 z %2: ").arg(index + 1).arg(count); }

// One module's result: a line "adresa 5, 57600 Bd: text" (the differing bytes after it), or
// one JSON object; on standard output, or on standard error while that carries a backup.
void Report(CliContext& c, const LineModule& m, bool ok, const QString& text,
            const std::vector<ByteDifference>& differences = {}, bool toErr = false) {
  c.settle();
  QTextStream& to = toErr ? *c.io.err : c.out();
  if (c.json()) {
    QJsonArray list;
    for (const ByteDifference& d : differences) list.append(DifferenceJson(d));
    const QJsonObject object{{QStringLiteral("address"), m.address},
                             {QStringLiteral("rate"), BaudCodeToRate(m.baudCode)},
                             {QStringLiteral("ok"), ok},
                             {QStringLiteral("result"), text},
                             {QStringLiteral("differences"), list}};
    to << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << '\n';
  } else {
    QStringList bytes;
    for (const ByteDifference& d : differences) bytes << DifferenceText(d);
    to << LineModuleText(m) << QStringLiteral(": ") << text
       << (bytes.isEmpty() ? QString() : QStringLiteral(": ") + bytes.join(QStringLiteral("; "))) << '\n';
  }
  to.flush();
}

// "z 4 modulů"
QString OfModules(int n) { return CzechCount(n, "modulu", "modulů", "modulů"); }

const QString NotInBackupText = QStringLiteral("při záloze neodpověděl, v záloze chybí");

}  // namespace

int CmdLineBackup(CliContext& c) {
  LineFile line;
  int exitCode = ExitOk;
  const QString linePath = c.args.has(QStringLiteral("line")) ? c.args.value(QStringLiteral("line")) : LastLinePath();
  if (const int r = c.checkOutputTarget(); r != ExitOk) return r;
  if (!LoadLine(c, linePath, line, exitCode)) return exitCode;
  if (const int r = c.connect(/*identify=*/false); r != ExitOk) return r;
  // Results go to standard error while standard output carries the backup.
  const bool toErr = c.args.positional.front() == QLatin1String("-");

  const LineAccess access = Access(c);
  const int count = int(line.modules.size());
  QVector<ModuleImage> images;
  QStringList missing;
  for (int i = 0; i < count; ++i) {
    const ModuleImage m = ReadLineModule(access, line.modules[i], c.imageEvents(Prefix(i, count)));
    if (m.read.result.outcome == ConfigTransferResult::Cancelled || c.interrupted()) {
      if (c.io.errIsTerminal) *c.io.err << '\n';
      return c.stopped(QStringLiteral("Záloha přerušena signálem %1 u modulu %2; nic neuloženo.")
                           .arg(c.signalName(), LineModuleText(line.modules[i])));
    }
    images.append(m);
    if (!m.ok()) missing << QStringLiteral("%1 (%2)").arg(LineModuleText(m.module), m.error);
    Report(c, m.module, m.ok(), m.ok() ? QStringLiteral("zálohován, %1").arg(m.ident.simplified())
                                       : QStringLiteral("neodpověděl, v záloze chybí (%1)").arg(m.error),
           {}, toErr);
  }
  const qsizetype saved = images.size() - missing.size();
  if (saved == 0) return c.fail(ExitConnection, QStringLiteral("Žádný modul linky neodpověděl; záloha nebyla uložena."));
  QString where;
  if (const int r = c.writeOutput(FormatLineFile(LineBackup(images, QDateTime::currentDateTime())),
                                  QStringLiteral("Zálohu linky"), where);
      r != ExitOk)
    return r;
  c.say(LineBackupText(saved, where, missing));
  return missing.isEmpty() ? ExitOk : ExitModule;
}

int CmdLineVerify(CliContext& c) {
  LineFile line;
  int exitCode = ExitOk;
  if (!LoadLineBackup(c, line, exitCode) || (exitCode = c.connect(/*identify=*/false)) != ExitOk) return exitCode;
  const LineAccess access = Access(c);
  const std::vector<uint8_t> addresses = c.comparedAddresses();
  const int count = int(line.modules.size());
  int equal = 0, differing = 0, failed = 0, other = 0, answered = 0;
  for (int i = 0; i < count; ++i) {
    const LineModule& module = line.modules[i];
    const ConfigImage* wanted = line.image(module);
    if (wanted == nullptr) {
      ++failed;
      Report(c, module, false, NotInBackupText + QStringLiteral(", neověřen"));
      continue;
    }
    const ModuleImage m = ReadLineModule(access, module, c.imageEvents(Prefix(i, count)));
    if (m.read.result.outcome == ConfigTransferResult::Cancelled || c.interrupted()) {
      if (c.io.errIsTerminal) *c.io.err << '\n';
      return c.stopped(QStringLiteral("Porovnání přerušeno signálem %1 u modulu %2.").arg(c.signalName(), LineModuleText(module)));
    }
    answered += m.ok() || !m.read.ok();  // identified
    if (!m.ok()) {
      ++failed;
      Report(c, module, false, QStringLiteral("nelze přečíst: ") + m.error);
    } else if (ModuleTypeName(m.ident) != ModuleTypeName(module.ident)) {
      ++other;
      Report(c, module, false, QStringLiteral("na adrese je jiný modul (%1), v záloze %2").arg(m.ident, module.ident));
    } else if (const std::vector<ByteDifference> d = DifferingBytes(m.read, *wanted, addresses); !d.empty()) {
      ++differing;
      Report(c, module, false, QStringLiteral("liší se od zálohy v %1").arg(CzechCount(qint64(d.size()), "bajtu", "bajtech", "bajtech")), d);
    } else {
      ++equal;
      Report(c, module, true, QStringLiteral("souhlasí se zálohou"));
    }
  }
  const QString summary = QStringLiteral("Souhlasí %1 z %2; liší se %3, nelze ověřit %4, jiný modul %5.")
                              .arg(equal).arg(OfModules(count)).arg(differing).arg(failed).arg(other);
  if (other > 0) return c.fail(ExitUsage, summary);
  if (answered == 0) return c.fail(ExitConnection, summary + QStringLiteral(" Žádný modul linky neodpověděl."));
  if (equal < count) return c.fail(ExitModule, summary);
  c.say(QStringLiteral("Všechny moduly linky souhlasí se zálohou."));
  return ExitOk;
}

int CmdLineRestore(CliContext& c) {
  LineFile line;
  int exitCode = ExitOk;
  if (!LoadLineBackup(c, line, exitCode) || (exitCode = c.connect(/*identify=*/false)) != ExitOk) return exitCode;
  const LineAccess access = Access(c);
  const int count = int(line.modules.size());
  // Every module identified before the first write: one of another type at a module's place
  // refuses the whole restore, as config restore refuses it. Why each other module cannot be
  // restored; empty: it can.
  QStringList why(count), others;
  int reachable = 0;
  for (int i = 0; i < count; ++i) {
    if (c.interrupted())
      return c.stopped(QStringLiteral("Obnova přerušena signálem %1 před prvním zápisem: nic nezapsáno.").arg(c.signalName()));
    const LineModule& m = line.modules[i];
    if (line.image(m) == nullptr) {
      why[i] = NotInBackupText + QStringLiteral(", neobnoven");
      continue;
    }
    uint32_t status = access.reach(m, why[i]);
    if (status == 0) why[i] = OtherModuleText(access, m, status);
    if (status == 0 && !why[i].isEmpty())
      others << LineModuleText(m) + QStringLiteral(": ") + why[i];
    else if (status != 0)
      why[i] += QStringLiteral("; nic nezapsáno");
    reachable += why[i].isEmpty();
  }
  if (!others.isEmpty()) return c.fail(ExitUsage, QStringLiteral("Obnova linky odmítnuta: ") + others.join(QStringLiteral("; ")) + '.');

  const ImageSelection selection = c.imageSelection();
  QStringList restored, failed;
  for (int i = 0; i < count; ++i) {
    const LineModule& m = line.modules[i];
    // A module is never left half-written by a signal: the restore stops between modules.
    if (c.interrupted()) {
      QStringList untouched;
      for (int k = i; k < count; ++k) untouched << LineModuleText(line.modules[k]);
      const QString none = QStringLiteral("žádný");
      return c.stopped(QStringLiteral("Obnova přerušena signálem %1 mezi moduly. Obnoveny: %2. Nepodařilo se: %3. "
                                      "Nezačato, beze změny: %4.")
                           .arg(c.signalName(), restored.isEmpty() ? none : restored.join(QStringLiteral("; ")),
                                failed.isEmpty() ? none : failed.join(QStringLiteral("; ")), untouched.join(QStringLiteral("; "))));
    }
    if (!why[i].isEmpty()) {
      Report(c, m, false, why[i]);
      failed << LineModuleText(m);
      continue;
    }
    ImageEvents events = c.imageEvents(Prefix(i, count));
    events.cancelled = nullptr;
    const RestoreReport report = RestoreLineModule(access, RestoreJob{m, *line.image(m), selection}, events);
    Report(c, m, report.ok(), report.text, report.result.differences);
    (report.ok() ? restored : failed) << LineModuleText(m);
  }
  if (reachable == 0) return c.fail(ExitConnection, QStringLiteral("Žádný modul linky neodpověděl; nic nezapsáno."));
  if (!failed.isEmpty())
    return c.fail(ExitModule, QStringLiteral("Obnoveno %1 z %2; nepodařilo se: %3.")
                                  .arg(restored.size())
                                  .arg(OfModules(count), failed.join(QStringLiteral("; "))));
  c.say(QStringLiteral("Obnoveny všechny moduly linky (%1), každý zpětně ověřen.").arg(LineModulesText(count)));
  return ExitOk;
}
