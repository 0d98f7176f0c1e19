#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVector>

#include "line/line_types.h"

// A line as it is kept between runs: the modules found, each with its address, rate and
// identification, and for a backup each module's configuration image. A text file of "key=value" lines, one "[module]" section per module,
// closed by a SHA-256 over everything before it so that a damaged or cut file is refused.
struct LineFile {
  QDateTime saved;
  QVector<LineModule> modules;
  QHash<int, ConfigImage> images;  // by ModuleKey; a backup holds one for every module
  const ConfigImage* image(const LineModule& m) const {
    const auto it = images.constFind(ModuleKey(m));
    return it == images.cend() ? nullptr : &*it;
  }
};

QByteArray FormatLineFile(const LineFile& line);
// False with the operator's message for a file that is not a line file, damaged or cut.
bool ParseLineFile(const QByteArray& text, LineFile& line, QString& error);

// Written by the checked writer (base/checked_file.h) through a temporary file renamed over
// the old one: a failed save leaves the old file whole; `error` is the reason in Czech.
bool SaveLineFile(const QString& path, const LineFile& line, QString& error);
bool LoadLineFile(const QString& path, LineFile& line, QString& error);

// The line the workbench opens with: the last one scanned or loaded, in the user's folder.
QString LastLinePath();
