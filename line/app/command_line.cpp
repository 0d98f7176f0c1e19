#include "line/app/command_line.h"

#include <QCoreApplication>

#include "base/text/window_options.h"
#include "line/calibration/protocol_command.h"
#include "line/common/command_output.h"
#include "line/report/report_command.h"

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
    PrintText(stdout, QString::fromUtf8(Help));
    return ReportWritten;
  }
  if (words.contains(QStringLiteral("--version")) || words.contains(QStringLiteral("-v"))) {
    PrintText(stdout, QStringLiteral("qx510-line %1\n").arg(QCoreApplication::applicationVersion()));
    return ReportWritten;
  }
  if (words.contains(QStringLiteral("--protocol"))) return RunProtocolCommand(words);
  return RunReportCommand(words);
}
