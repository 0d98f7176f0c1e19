#include "ui/window_util.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <sys/prctl.h>

#include <cerrno>
#include <ctime>

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
  if (ms <= 0) return;
  // An absolute deadline on CLOCK_MONOTONIC, the clock steady_clock reads on Linux: a signal
  // cannot cut the wait short, and restarting it does not stretch it.
  const auto deadline = std::chrono::duration_cast<std::chrono::nanoseconds>(
      (since + std::chrono::milliseconds(ms)).time_since_epoch());
  timespec until{};
  until.tv_sec = static_cast<time_t>(deadline.count() / 1000000000);
  until.tv_nsec = static_cast<long>(deadline.count() % 1000000000);
  // The kernel may wake a sleeper as late as its timer slack, 50 us by default: 5 % of every
  // pause, measured. The slack is lifted for this wait alone; the toolkit's timers keep it.
  const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
  if (slack > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0, 0, 0);
}
