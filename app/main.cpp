#include <QApplication>

#include "app/tform1.h"
#include "base/qt_translations.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  InstallQtCzechTranslation();
  TForm1 form;
  form.show();
  return app.exec();
}
