#pragma once

#include <QString>

class QSettings;

// The workbench's per-user choices (window place, what the log records), in the folder of
// the tool's own settings (UserSettingsDirectory) unless a test sets another file. A file
// there that is no regular file or is larger than MaxWorkbenchSettingsBytes is said once on
// standard error and left alone; the choices then go to a scratch file until the program ends.
constexpr qint64 MaxWorkbenchSettingsBytes = 1 << 20;
QString WorkbenchSettingsPath();
void SetWorkbenchSettingsPath(const QString& path);  // empty: back to the user's folder

// Writes `settings` out; false with the reason when the file was not written.
bool SaveWorkbenchSettings(QSettings& settings, QString& error);

// The line's one name, set once by the operator and used wherever the line is named: the line
// report, the MQTT topics (PREFIX/LINE/...) and the log files' names. The host name until set.
QString WorkbenchLineName();
// Keeps `name` (empty: back to the host name); false with the reason for a name that cannot
// name the line in a topic (a '/', '+' or '#', a leading '$') or a file that was not written.
bool SetWorkbenchLineName(const QString& name, QString& error);
