#include <QApplication>

#include "app/tform1.h"
#include "base/text/qt_translations.h"
#include "base/text/window_options.h"

namespace {

const char Help[] =
    "Použití: qx510 [volby Qt]\n"
    "         qx510 --help | --version\n"
    "\n"
    "Konfigurační a servisní nástroj vstupně-výstupního modulu QX-510. Vše se volí v jeho\n"
    "oknech; bez voleb otevře hlavní okno.\n"
    "\n"
    "  -h, --help     vypíše tuto nápovědu\n"
    "  -v, --version  vypíše verzi programu\n"
    "\n"
    "Volby Qt (například -platform, -style, -reverse) předá sadě Qt.\n"
    "\n"
    "Návratové kódy: 0 okno zavřeno, nápověda nebo verze vypsána; 2 neznámá volba nebo\n"
    "nečekaný argument.\n";

}  // namespace

int main(int argc, char** argv) {
  // Before the application exists: --help and --version need no display.
  if (const int status = AnswerWindowProgramOptions(argc, argv, "qx510", QX510_VERSION, QString::fromUtf8(Help));
      status >= 0)
    return status;
  QApplication app(argc, argv);
  InstallQtCzechTranslation();
  TForm1 form;
  form.show();
  return app.exec();
}
