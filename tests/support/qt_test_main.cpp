// main() of every test executable: a QApplication on the offscreen platform, then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

extern "C" {
// Leaks inside the system's font and display libraries are not ours to fix.
const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:libQt6Gui\nleak:libxkbcommon\n";
}
}

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Tests that care about the decimal separator set their own locale; the rest see a fixed one.
  QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
