#include "base/wire_budget.h"

#include <QLocale>

namespace {

int CeilMs(wire::nanoseconds ns) { return int((ns.count() + 999'999) / 1'000'000); }

}  // namespace

double ExchangeWireTimeMs(int32_t rate) { return double(wire::ExchangeTime(rate).count()) / 1e6; }

int ExchangeWireMs(int32_t rate) { return CeilMs(wire::ExchangeTime(rate)); }

int LeastResponseTimeoutMs(int32_t rate) { return CeilMs(wire::ExchangeTime(rate) + wire::HostAllowance); }

int ScanTryTimeoutMs(int32_t rate, int userTimeoutMs) {
  return userTimeoutMs > 0 ? userTimeoutMs : LeastResponseTimeoutMs(rate);
}

QString ResponseTimeoutWarning(int timeoutMs, int32_t rate) {
  const int wireMs = ExchangeWireMs(rate);
  if (timeoutMs >= wireMs) return {};
  return QStringLiteral("Varování: timeout odpovědi %1 ms je kratší než doba výměny na vedení při %2 Bd (%3 ms); "
                        "nejméně %4 ms.")
      .arg(timeoutMs)
      .arg(rate)
      .arg(wireMs)
      .arg(LeastResponseTimeoutMs(rate));
}

QString RoundTripText(double roundTripMs, int32_t rate) {
  const QLocale locale;
  return QStringLiteral("odezva %1 ms (vedení %2 ms)")
      .arg(locale.toString(roundTripMs, 'f', 1), locale.toString(ExchangeWireTimeMs(rate), 'f', 1));
}
