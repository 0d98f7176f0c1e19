#include "line/report_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "line/backup_panel.h"
#include "line/line_report.h"
#include "line/line_window.h"
#include "line/report_pdf.h"

bool SaveLineReport(LineWindow* window, const QString& path, QString& error) {
  const LineReport report =
      ReportFromOverview(*window->model(), window->backupPanel()->file(), QFileInfo(window->linePath()).completeBaseName());
  return WriteLineReport(report, path, error);
}

void SaveLineReportAs(LineWindow* window) {
  QFileDialog dialog(window, QStringLiteral("Protokol linky"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(QStringLiteral("Protokol PDF (*.pdf)"));
  dialog.setDefaultSuffix(QStringLiteral("pdf"));
  dialog.selectFile(QStringLiteral("protokol-linky.pdf"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().constFirst();
  QString error;
  if (!SaveLineReport(window, path, error))
    QMessageBox::warning(window, QStringLiteral("Protokol linky"),
                         QStringLiteral("Protokol nelze zapsat do %1: %2").arg(path, error));
}
