#include "base/text/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QTranslator* InstallQtCzechTranslation() {
  auto* app = QCoreApplication::instance();
  if (app == nullptr) return nullptr;
  // Owned by the application, so it lives exactly as long as the texts it translates.
  auto* translator = new QTranslator(app);
  // "qtbase" covers every text of Qt Core, Gui and Widgets the programs show.
  if (!translator->load(QLocale(QLocale::Czech), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}
