#include "base/wire/precise_wait.h"

#include <sys/prctl.h>

#include <cerrno>
#include <ctime>

void WaitUntil(std::chrono::steady_clock::time_point deadline) {
  // An absolute deadline on CLOCK_MONOTONIC, the clock steady_clock reads on Linux: a signal
  // cannot cut the wait short, and restarting it does not stretch it.
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch());
  timespec until{};
  until.tv_sec = static_cast<time_t>(ns.count() / 1000000000);
  until.tv_nsec = static_cast<long>(ns.count() % 1000000000);
  // The slack is lifted for this wait alone; the toolkit's timers keep theirs.
  const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
  if (slack > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0, 0, 0);
}
