#pragma once

#include <QString>

class QSettings;

// The workbench's per-user choices (window place, what the log records), in the folder of
// the tool's own settings (UserSettingsDirectory) unless a test sets another file.
QString WorkbenchSettingsPath();
void SetWorkbenchSettingsPath(const QString& path);  // empty: back to the user's folder

// Writes `settings` out; false with the reason when the file was not written.
bool SaveWorkbenchSettings(QSettings& settings, QString& error);
