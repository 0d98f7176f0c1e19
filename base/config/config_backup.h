#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "base/config/config_image.h"

// A configuration backup: a text file with the module's identification, the date, the named
// values and the raw bytes, closed by a checksum over everything before it so that a damaged
// or truncated file is refused.
struct ConfigBackup {
  QString module;   // the module's type name (ModuleTypeName)
  QString version;
  QDateTime date;
  ConfigImage image;
};
QByteArray FormatBackup(const ConfigBackup& backup);
// False with the operator's message for a malformed, truncated or damaged file.
bool ParseBackup(const QByteArray& text, ConfigBackup& backup, QString& error);
