#include <QApplication>

#include "line/line_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("qx510-line"));
  QApplication::setApplicationVersion(QStringLiteral(QX510_VERSION));
  LineWindow window;
  window.show();
  return app.exec();
}
