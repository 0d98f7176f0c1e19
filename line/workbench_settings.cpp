#include "line/workbench_settings.h"

#include <QDir>
#include <QSettings>

#include "base/settings.h"

namespace {

QString& OverridePath() {
  static QString path;
  return path;
}

}  // namespace

QString WorkbenchSettingsPath() {
  if (!OverridePath().isEmpty()) return OverridePath();
  const QString dir = UserSettingsDirectory();
  return dir.isEmpty() ? QString() : QDir(dir).filePath(QStringLiteral("linka.ini"));
}

void SetWorkbenchSettingsPath(const QString& path) { OverridePath() = path; }

bool SaveWorkbenchSettings(QSettings& settings, QString& error) {
  QDir().mkpath(QFileInfo(settings.fileName()).absolutePath());
  settings.sync();
  if (settings.status() == QSettings::NoError) return true;
  error = settings.status() == QSettings::AccessError ? QStringLiteral("soubor %1 nelze zapsat").arg(settings.fileName())
                                                      : QStringLiteral("soubor %1 je poškozen").arg(settings.fileName());
  return false;
}
