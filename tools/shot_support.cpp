#include "tools/shot_support.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocale>
#include <cstdio>

namespace {

QDir output;
const char* name = "screenshots";
int failures = 0;

}  // namespace

bool StartShots(int argc, char** argv, const char* program) {
  name = program;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", program);
    return false;
  }
  output = QDir(QString::fromLocal8Bit(argv[1]));
  if (!output.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "%s: cannot create %s\n", program, argv[1]);
    return false;
  }
  // The operator's language, decimal comma included.
  QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
  return true;
}

void Settle(int ms, const std::function<void(double)>& each) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    if (each) each(double(clock.elapsed()) / 1000.0);
  }
}

void Save(QWidget* window, const char* file) {
  Settle(100);
  if (window->grab().save(output.filePath(QLatin1String(file)))) {
    std::printf("%s\n", qPrintable(output.filePath(QLatin1String(file))));
  } else {
    std::fprintf(stderr, "%s: cannot write %s\n", name, file);
    ++failures;
  }
}

int ShotsStatus() { return failures == 0 ? 0 : 1; }
