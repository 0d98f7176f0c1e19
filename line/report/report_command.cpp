#include "line/report/report_command.h"

#include <QFileInfo>

#include "base/config/line_file.h"
#include "line/common/command_output.h"
#include "line/common/workbench_settings.h"
#include "line/report/line_report.h"
#include "line/report/report_pdf.h"

namespace {

int Fail(const QString& text) {
  PrintText(stderr, QStringLiteral("qx510-line: %1\n").arg(text));
  return ReportFailed;
}

}  // namespace

int RunReportCommand(const QStringList& words) {
  const qsizetype at = words.indexOf(QStringLiteral("--report"));
  if (at != 0 && !words.isEmpty())
    return Fail(QStringLiteral("%1 %2; qx510-line --help vypíše, jak na to.")
                    .arg(words.first().startsWith(QLatin1Char('-')) ? QStringLiteral("neznámá volba")
                                                                    : QStringLiteral("nečekaný argument"),
                         words.first()));
  if (at != 0 || words.size() < 2 || words.size() > 3 || words.at(1).startsWith(QLatin1Char('-')) ||
      (words.size() == 3 && words.at(2).startsWith(QLatin1Char('-'))))
    return Fail(QStringLiteral("chybné použití; qx510-line --help vypíše, jak na to."));
  const QString target = words.at(1);
  const QString linePath = words.size() == 3 ? words.at(2) : LastLinePath();
  if (linePath.isEmpty()) return Fail(QStringLiteral("chybí soubor linky a složka s poslední linkou není známa."));
  LineFile line;
  QString error;
  if (!LoadLineFile(linePath, line, error))
    return Fail(QStringLiteral("soubor linky %1 nelze přečíst: %2").arg(linePath, error));
  // The workbench's own line carries the name the operator gave it; another file its file name.
  const bool own = QFileInfo(linePath).canonicalFilePath() == QFileInfo(LastLinePath()).canonicalFilePath();
  if (!WriteLineReport(ReportFromLineFile(line, linePath, own ? WorkbenchLineName() : QString()), target, error))
    return Fail(QStringLiteral("protokol nelze zapsat do %1: %2").arg(target, error));
  PrintText(stdout, QStringLiteral("Protokol linky zapsán do %1 (%2).\n")
                    .arg(target, CzechCount(line.modules.size(), "modul", "moduly", "modulů")));
  return ReportWritten;
}
