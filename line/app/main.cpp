#include <QApplication>
#include <QGuiApplication>

#include "base/text/qt_translations.h"
#include "line/app/line_window.h"
#include "line/app/command_line.h"

int main(int argc, char** argv) {
  if (IsCommandLineUse(argc, argv)) {
    // No window, so no display either: the offscreen platform still gives the fonts the
    // report needs.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    InstallQtCzechTranslation();
    QGuiApplication::setApplicationName(QStringLiteral("qx510-line"));
    QGuiApplication::setApplicationVersion(QStringLiteral(QX510_VERSION));
    return RunCommandLine(QGuiApplication::arguments());
  }
  QApplication app(argc, argv);
  InstallQtCzechTranslation();
  QApplication::setApplicationName(QStringLiteral("qx510-line"));
  QApplication::setApplicationVersion(QStringLiteral(QX510_VERSION));
  LineWindow window;
  window.show();
  return app.exec();
}
