#pragma once
// "Protokol uvedení do provozu": every module of one commissioning session with its place, tag,
// identification and configuration by named values as read back, when it was verified, and
// what failed on the way; an A4 PDF in Czech like the line report.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

#include "base/commission/module_place.h"
#include "base/config/config_image.h"

struct CommissionRecord {
  ModulePlace place;         // the module's own place on the line
  QString tag;
  QString ident;
  std::optional<ConfigImage> image;  // as read back at the end; none when it never got there
  QDateTime verifiedAt;      // invalid: not verified
  QStringList failures;      // each step that did not end done, in the engine's words
  bool ok() const { return verifiedAt.isValid(); }
};

struct CommissionProtocol {
  QString lineName;
  QString version;
  ModulePlace delivery;
  QString templateSource;  // "bez vzoru", a module of the line or a file
  QDateTime made;
  QVector<CommissionRecord> modules;
};

// The PDF's bytes; empty, with the reason, when it could not be made.
QByteArray RenderCommissionProtocol(const CommissionProtocol& protocol, QString& error);
// Written through a temporary file beside `path`: a failure leaves the former file.
bool WriteCommissionProtocol(const CommissionProtocol& protocol, const QString& path, QString& error);
