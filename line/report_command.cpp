#include "line/report_command.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

#include "base/window_options.h"
#include "line/line_file.h"
#include "line/line_report.h"
#include "line/protocol_command.h"
#include "line/report_pdf.h"
#include "line/workbench_settings.h"

namespace {

const char Help[] =
    "Použití: qx510-line                           okno pracoviště linky\n"
    "         qx510-line --report SOUBOR.pdf [LINKA]\n"
    "         qx510-line --protocol ZÁZNAM -o SOUBOR.pdf\n"
    "\n"
    "  --report SOUBOR.pdf  zapíše protokol linky jako PDF, bez okna a bez displeje: moduly\n"
    "                       s adresou, rychlostí, identifikací a konfigurací ze souboru linky\n"
    "                       LINKA (*.qx510line; výchozí je poslední linka pracoviště, pojmenovaná\n"
    "                       názvem linky z pracoviště; jiný soubor nese jméno souboru).\n"
    "                       Stav modulů a statistika výměn uložené linky nejsou známé.\n"
    "  --protocol ZÁZNAM -o SOUBOR.pdf\n"
    "                       zapíše kalibrační protokol (jedna strana A4) ze záznamu kalibrace\n"
    "                       ZÁZNAM (*.qx510cal, jak jej zapíše qx510-cli calibrate --record),\n"
    "                       bez okna a bez displeje; - je standardní vstup či výstup.\n"
    "                       Odmítne záznam poškozený nebo změněný (pečeť SHA-256 či podpis Ed25519\n"
    "                       chybí nebo nesouhlasí), nepodepsaný a podepsaný klíčem, který tento\n"
    "                       počítač nezná (vypíše otisk klíče a jméno podepisujícího).\n"
    "  -v, --version        verze programu\n"
    "  -h, --help           nápověda\n"
    "\n"
    "Návratové kódy: 0 protokol zapsán, 2 chybné použití, soubor linky či záznam nelze přečíst\n"
    "nebo protokol nelze zapsat (soubor pak nevznikne), 3 záznam kalibrace je poškozený,\n"
    "padělaný, nepodepsaný, podepsaný neznámým klíčem nebo to není záznam kalibrace (protokol\n"
    "nevznikne). Soubor linky i záznam musí být obyčejný soubor (roura, zařízení ani složka ne),\n"
    "soubor linky nejvýše 4 MiB, záznam nejvýše 4 MiB.\n";

void Print(FILE* to, const QString& text) {
  std::fputs(text.toUtf8().constData(), to);
  std::fflush(to);
}

int Fail(const QString& text) {
  Print(stderr, QStringLiteral("qx510-line: %1\n").arg(text));
  return ReportFailed;
}

}  // namespace

bool IsCommandLineUse(int argc, char** argv) {
  // Any argument but the toolkit's options, so that a mistyped one is refused rather than
  // ignored by an opened window.
  for (int i = 1; i < argc; ++i) {
    if (const int span = ToolkitOptionSpan(argc, argv, i); span > 0) {
      i += span - 1;
      continue;
    }
    return true;
  }
  return false;
}

int RunCommandLine(const QStringList& arguments) {
  QStringList words = arguments.mid(1);
  if (words.contains(QStringLiteral("--help")) || words.contains(QStringLiteral("-h"))) {
    Print(stdout, QString::fromUtf8(Help));
    return ReportWritten;
  }
  if (words.contains(QStringLiteral("--version")) || words.contains(QStringLiteral("-v"))) {
    Print(stdout, QStringLiteral("qx510-line %1\n").arg(QCoreApplication::applicationVersion()));
    return ReportWritten;
  }
  if (words.contains(QStringLiteral("--protocol"))) return RunProtocolCommand(words);
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
  Print(stdout, QStringLiteral("Protokol linky zapsán do %1 (%2).\n")
                    .arg(target, CzechCount(line.modules.size(), "modul", "moduly", "modulů")));
  return ReportWritten;
}
