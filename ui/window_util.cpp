#include "ui/window_util.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>

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

void ProcessMessagesAndWait(int ms) {
  QCoreApplication::processEvents();
  QThread::msleep(static_cast<unsigned long>(ms));
}
