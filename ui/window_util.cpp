#include "ui/window_util.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include "base/wire/precise_wait.h"

void SetFixedClientSize(QWidget* window, int w, int h) {
  window->setFixedSize(w, h);
  CenterOnScreen(window);
}

void CenterOnScreen(QWidget* window) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

void ProcessMessagesAndWait(int ms, std::chrono::steady_clock::time_point since) {
  QCoreApplication::processEvents();
  if (ms > 0) WaitUntil(since + std::chrono::milliseconds(ms));
}
