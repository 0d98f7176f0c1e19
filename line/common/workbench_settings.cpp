#include "line/common/workbench_settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

#include "base/files/checked_file.h"
#include "base/settings/settings.h"
#include "mqtt/mqtt_messages.h"

namespace {

QString& OverridePath() {
  static QString path;
  return path;
}

// QSettings opens the file itself, and would wait on a FIFO put there for ever: a file that the
// one reader refuses is replaced, for this run, by a scratch file of the program's own.
QString Usable(const QString& path) {
  static QString refused, scratch;
  static QTemporaryDir dir;
  if (path.isEmpty() || path == refused) return path.isEmpty() ? path : scratch;
  QByteArray bytes;
  QString why;
  bool missing = false;
  if (ReadFileChecked(path, MaxWorkbenchSettingsBytes, &bytes, &why, &missing) || missing) return path;
  refused = path;
  scratch = dir.filePath(QStringLiteral("linka.ini"));
  std::fprintf(stderr, "%s: soubor nastavení %s nelze použít: %s; volby pracoviště se do konce běhu neuloží.\n",
               qPrintable(QCoreApplication::applicationName()), qPrintable(path), qPrintable(why));
  return scratch;
}

}  // namespace

QString WorkbenchSettingsPath() {
  if (!OverridePath().isEmpty()) return Usable(OverridePath());
  const QString dir = UserSettingsDirectory();
  return dir.isEmpty() ? QString() : Usable(QDir(dir).filePath(QStringLiteral("linka.ini")));
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
