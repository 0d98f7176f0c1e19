#include "line/workbench_settings.h"

#include <QDir>
#include <QSettings>

#include "base/settings.h"
#include "mqtt/mqtt_messages.h"

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

namespace {
const QString LineNameKey = QStringLiteral("linka/nazev");
const QString EarlierLineNameKey = QStringLiteral("mqtt/linka");  // where the publishing pane kept it once
}  // namespace

QString WorkbenchLineName() {
  const QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
  const QString name = stored.value(LineNameKey, stored.value(EarlierLineNameKey)).toString().trimmed();
  return name.isEmpty() || !CheckMqttLineName(name).isEmpty() ? MqttDefaultLineName() : name;
}

bool SetWorkbenchLineName(const QString& name, QString& error) {
  const QString kept = name.trimmed();
  if (!kept.isEmpty()) {
    if (error = CheckMqttLineName(kept); !error.isEmpty()) return false;
  }
  QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
  stored.setValue(LineNameKey, kept);
  stored.remove(EarlierLineNameKey);
  return SaveWorkbenchSettings(stored, error);
}
