#pragma once
// "Protokol linky": what the line report holds, gathered either from the running workbench or
// from a saved line file. Only values a module sent or a file holds go in; what neither knows
// stays empty and the report says so.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVector>
#include <optional>
#include <utility>

#include "base/config/config_image.h"
#include "line/common/pdf_document.h"
#include "base/text/czech_plural.h"
#include "base/exchange/exchange_trace.h"
#include "line/common/line_types.h"

class LineModel;
struct LineFile;

struct ReportModule {
  LineModule module;
  std::optional<ConfigImage> image;        // from the backup, when the backup holds the module
  std::optional<QString> state;            // as the overview shows it; none for a saved line
  std::optional<ExchangeStats> exchanges;  // likewise
};

struct LineReport {
  QString lineName;
  QString host;
  QDateTime made;
  QString version;
  bool live = false;  // state and statistics come from the running workbench
  // The file the configuration comes from: its path (when known), when it was saved, its seal.
  // No file at all: `saved` invalid and `seal` empty.
  QString filePath;
  QDateTime saved;
  QByteArray seal;
  bool fileHasImages = false;
  QVector<ReportModule> modules;
};

// A saved line: its modules and their images; state and statistics unknown. Named `lineName`,
// or when that is empty after the file.
LineReport ReportFromLineFile(const LineFile& file, const QString& path, const QString& lineName = QString());
// The overview as it stands, with the images of the backup last written or opened (empty: none).
LineReport ReportFromOverview(const LineModel& model, const LineFile& backup, const QString& lineName);

