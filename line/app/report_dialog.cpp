#include "line/app/report_dialog.h"

#include <QDir>
#include <QMessageBox>

#include "line/backup/backup_panel.h"
#include "line/report/line_report.h"
#include "line/app/line_window.h"
#include "line/report/report_pdf.h"
#include "line/common/save_path.h"
#include "line/common/workbench_settings.h"

bool SaveLineReport(LineWindow* window, const QString& path, QString& error) {
  const LineReport report = ReportFromOverview(*window->model(), window->backupPanel()->file(), WorkbenchLineName());
  return WriteLineReport(report, path, error);
}

void SaveLineReportAs(LineWindow* window) {
  const QString path = AskSavePath(window, QStringLiteral("Protokol linky"),
                                   QDir(DocumentsFolder()).filePath(QStringLiteral("protokol-linky-%1.pdf").arg(WorkbenchLineName())),
                                   QStringLiteral("Protokol PDF (*.pdf)"), QStringLiteral("pdf"));
  if (path.isEmpty()) return;
  QString error;
  if (!SaveLineReport(window, path, error))
    QMessageBox::warning(window, QStringLiteral("Protokol linky"),
                         QStringLiteral("Protokol nelze zapsat do %1: %2").arg(path, error));
}
