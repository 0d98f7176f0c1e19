#include "base/commission/commission_template.h"

#include <QFileInfo>

#include "base/commission/module_place.h"
#include "base/config/config_backup.h"
#include "base/config/line_file.h"
#include "base/exchange/identify.h"
#include "base/files/checked_file.h"

namespace {

// "FILE:5" or "FILE:5@57600"; a file whose own name ends so is taken whole.
void SplitTemplateArgument(const QString& argument, QString& path, QString& module) {
  path = argument;
  module.clear();
  const qsizetype colon = argument.lastIndexOf(QLatin1Char(':'));
  if (colon <= 0 || QFileInfo::exists(argument)) return;
  const QString tail = argument.mid(colon + 1);
  bool number = false;
  tail.section(QLatin1Char('@'), 0, 0).toUInt(&number);
  if (!number) return;
  path = argument.left(colon);
  module = tail;
}

}  // namespace

bool LoadCommissionTemplate(const QString& argument, CommissionTemplate& out, QString& error) {
  QString path, module;
  SplitTemplateArgument(argument, path, module);
  QByteArray text;
  QString why;
  bool missing = false;
  if (!ReadFileChecked(path, LineFileMaxBytes, &text, &why, &missing)) {
    error = missing ? QStringLiteral("Vzor %1 neexistuje.").arg(path) : QStringLiteral("Vzor %1 nelze číst: %2.").arg(path, why);
    return false;
  }
  LineFile line;
  QString lineError;
  if (!ParseLineFile(text, line, lineError)) {
    ConfigBackup backup;
    QString backupError;
    if (!module.isEmpty() || !ParseBackup(text, backup, backupError)) {
      // A file that calls itself a line file gets the line file's reason.
      error = path + QStringLiteral(": ") + (text.contains("format=qx510-line") || !module.isEmpty() ? lineError : backupError);
      return false;
    }
    out = {backup.image, backup.module};
    return true;
  }
  const LineModule* chosen = nullptr;
  for (const LineModule& m : line.modules) {
    if (!line.image(m)) continue;
    ModulePlace place;
    const bool match = module.isEmpty() || (module.contains(QLatin1Char('@')) ? ParsePlace(module, place) && place == ModulePlace{m.address, m.baudCode}
                                                                               : module == QString::number(m.address));
    if (!match) continue;
    if (chosen) {
      error = module.isEmpty() ? QStringLiteral("%1: linka má víc modulů s konfigurací; zadejte %1:ADRESA.").arg(path)
                               : QStringLiteral("%1: na adrese %2 je víc modulů; zadejte %1:ADRESA@RYCHLOST.").arg(path, module);
      return false;
    }
    chosen = &m;
  }
  if (!chosen) {
    error = module.isEmpty() ? QStringLiteral("%1: linka nemá žádný modul s konfigurací.").arg(path)
                             : QStringLiteral("%1: modul %2 v lince není nebo nemá konfiguraci.").arg(path, module);
    return false;
  }
  out = {*line.image(*chosen), ModuleTypeName(chosen->ident)};
  return true;
}
