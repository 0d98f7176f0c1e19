#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>
#include <cstdint>

#include "base/config/config_image.h"

// One module of the line: where it answers and what it calls itself.
struct LineModule {
  uint8_t address = 0;
  int baudCode = 4;
  QString ident;        // as the module sent it, zero characters removed
  bool late = false;    // found, but its answer came close to the scan's timeout, or after it
  double answerMs = 0;  // the mean of its identification exchanges during the scan
  QString tag = {};     // the operator's name for it (commissioning); the module does not know it
  bool operator==(const LineModule& o) const { return address == o.address && baudCode == o.baudCode; }
};

// A module's key in maps: address and baud code together.
inline int ModuleKey(uint8_t address, int baudCode) { return address * 16 + baudCode; }
inline int ModuleKey(const LineModule& m) { return ModuleKey(m.address, m.baudCode); }

// A line as it is kept between runs: the modules found, each with its address, rate and
// identification (and the tag it was commissioned with), and for a backup each module's
// configuration image. The workbench and the
// companion share it. A text file of "key=value" lines, one "[module]" section per module,
// closed by a SHA-256 over everything before it so that a damaged or cut file is refused.
struct LineFile {
  LineFile() = default;
  LineFile(QDateTime when, QVector<LineModule> list, QHash<int, ConfigImage> held = {}, QSet<int> absent = {})
      : saved(std::move(when)), modules(std::move(list)), images(std::move(held)), missing(std::move(absent)) {}

  QDateTime saved;
  QVector<LineModule> modules;
  QHash<int, ConfigImage> images;  // by ModuleKey; a backup holds one for every module that answered
  QByteArray seal = {};            // the SHA-256 (hex) the file was read with; FormatLineFile makes its own
  // By ModuleKey: modules of the line a backup could not read ("missing=1", no image).
  QSet<int> missing;
  bool isMissing(const LineModule& m) const { return missing.contains(ModuleKey(m)); }
  const ConfigImage* image(const LineModule& m) const {
    const auto it = images.constFind(ModuleKey(m));
    return it == images.cend() ? nullptr : &*it;
  }
};

// A line holds at most this many modules.
constexpr int LineFileMaxModules = 256;
// A file larger than this (far beyond 256 modules with their images) is refused unread.
constexpr qint64 LineFileMaxBytes = 4 << 20;

QByteArray FormatLineFile(const LineFile& line);
// False with the operator's message for a file that is not a line file, damaged or cut, or
// anything FormatLineFile would not write ("Soubor linky, řádek N: ..."): a section without
// its address, rate, ident or late, a key twice in a section, missing other than 1 or beside
// an image, a second section for the same
// address and rate, an image of other than exactly 128 hexadecimal digits, more than
// LineFileMaxModules sections, an unknown key. `line` is untouched unless the whole file is
// sound.
bool ParseLineFile(const QByteArray& text, LineFile& line, QString& error);

// Written by the checked writer (base/files/checked_file.h) through a temporary file renamed over
// the old one: a failed save leaves the old file whole; `error` is the reason in Czech.
bool SaveLineFile(const QString& path, const LineFile& line, QString& error);
// Read through the one reader (base/files/checked_file.h): a FIFO, a device or a folder is refused
// without blocking, and so is a file larger than LineFileMaxBytes.
bool LoadLineFile(const QString& path, LineFile& line, QString& error);

// The line the workbench opens with: the last one scanned or loaded, in the user's folder.
QString LastLinePath();
