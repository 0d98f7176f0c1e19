#include "line/report/line_report.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSysInfo>
#include <cstdlib>

#include "base/config/setting_labels.h"
#include "base/config/line_file.h"
#include "line/poll/line_model.h"

namespace {

LineReport Started(const QString& lineName) {
  LineReport report;
  report.lineName = lineName;
  report.host = QSysInfo::machineHostName();
  report.made = QDateTime::currentDateTime();
  report.version = QCoreApplication::applicationVersion();
  return report;
}

void TakeFile(LineReport& report, const LineFile& file, const QString& path) {
  report.filePath = path;
  report.saved = file.saved;
  report.seal = file.seal;
  report.fileHasImages = !file.images.isEmpty();
}

std::optional<ConfigImage> ImageOf(const LineFile& file, const LineModule& m) {
  if (const ConfigImage* image = file.image(m)) return *image;
  return std::nullopt;
}

}  // namespace

LineReport ReportFromLineFile(const LineFile& file, const QString& path, const QString& lineName) {
  LineReport report = Started(lineName.isEmpty() ? QFileInfo(path).completeBaseName() : lineName);
  TakeFile(report, file, path);
  for (const LineModule& m : file.modules) report.modules.append({m, ImageOf(file, m), std::nullopt, std::nullopt});
  return report;
}

LineReport ReportFromOverview(const LineModel& model, const LineFile& backup, const QString& lineName) {
  LineReport report = Started(lineName);
  report.live = true;
  TakeFile(report, backup, QString());
  for (int r = 0; r < model.rowCount(); ++r) {
    const LineModel::Row& row = model.row(r);
    report.modules.append({row.module, ImageOf(backup, row.module),
                           model.data(model.index(r, LineModel::State)).toString(), row.exchanges});
  }
  return report;
}
