#include "bench/line/line_poll.h"

#include <QEventLoop>
#include <QTimer>

#include <chrono>

#include "line/poll/line_model.h"
#include "line/app/line_window.h"

void Settle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool Connect(LineWindow& window) {
  window.connectLine();
  Settle(500);
  return window.isConnected();
}

double WindowPollRate(LineWindow& window, double seconds) {
  using Clock = std::chrono::steady_clock;
  if (!Connect(window)) return -1;
  auto exchanges = [&window] {
    uint64_t n = 0;
    for (int r = 0; r < window.model()->rowCount(); ++r) n += window.model()->row(r).exchanges.total();
    return n;
  };
  const uint64_t before = exchanges();
  const auto start = Clock::now();
  Settle(int(seconds * 1000));
  const double rate = double(exchanges() - before) / std::chrono::duration<double>(Clock::now() - start).count();
  window.disconnectLine();
  Settle(200);
  return rate;
}
