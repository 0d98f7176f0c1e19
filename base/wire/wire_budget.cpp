#include "base/wire/wire_budget.h"

#include <QLocale>

#include <algorithm>

namespace {

int CeilMs(wire::nanoseconds ns) { return int((ns.count() + 999'999) / 1'000'000); }

wire::nanoseconds Least(TimeoutBasis basis, int32_t rate) {
  return basis == TimeoutBasis::FromRequestEnd ? wire::ReplyStart(rate) : wire::ExchangeTime(rate);
}

}  // namespace

double ExchangeWireTimeMs(int32_t rate) { return double(wire::ExchangeTime(rate).count()) / 1e6; }

int LeastResponseTimeoutMs(TimeoutBasis basis, int32_t rate) { return CeilMs(Least(basis, rate)); }

ScanBudget::ScanBudget(TimeoutBasis basis, int adapterLatencyMs, int userTimeoutMs)
    : basis_(basis), latencyMs_(std::max(0, adapterLatencyMs)), userTimeoutMs_(userTimeoutMs) {}

int ScanBudget::tryTimeoutMs(int32_t rate) const {
  if (userTimeoutMs_ > 0) return userTimeoutMs_;
  wire::nanoseconds margin = basis_ == TimeoutBasis::FromRequestEnd ? wire::SerialHostMargin : wire::HostMargin;
  if (assumedSlow_) margin = wire::FactoryAdapterLatency + wire::HostMargin;
  if (hostNs_ >= 0) margin = wire::nanoseconds(hostNs_);
  return CeilMs(Least(basis_, rate) + std::chrono::milliseconds(latencyMs_) + margin);
}

void ScanBudget::learn(int32_t rate, int64_t tookNs, int exchanges) {
  if (exchanges <= 0) return;
  // Exchanges in a row wait for the silence after each answer but the last one's.
  const int64_t wire = (wire::ExchangeTime(rate) * exchanges - wire::InterFrameSilence(rate)).count();
  const int64_t beyond = std::max<int64_t>(0, (tookNs - wire) / exchanges);
  // A latency timer the scan knows of is given apart; the margin is what remains.
  hostNs_ = std::max(hostNs_, std::max<int64_t>(0, beyond - int64_t(latencyMs_) * 1'000'000));
}

bool ScanBudget::assumeSlowAdapter() {
  if (userTimeoutMs_ > 0 || hostNs_ >= 0 || assumedSlow_) return false;
  assumedSlow_ = true;
  return true;
}

QString ResponseTimeoutWarning(int timeoutMs, int32_t rate, TimeoutBasis basis) {
  const int least = LeastResponseTimeoutMs(basis, rate);
  if (timeoutMs >= least) return {};
  const QString what = basis == TimeoutBasis::FromRequestEnd
                           ? QStringLiteral("ticho na vedení a doba zpracování v modulu")
                           : QStringLiteral("doba výměny na vedení");
  return QStringLiteral("Varování: timeout odpovědi %1 ms je kratší než %2 při %3 Bd (%4 ms).")
      .arg(timeoutMs)
      .arg(what)
      .arg(rate)
      .arg(least);
}

QString RoundTripText(double roundTripMs, int32_t rate) {
  const QLocale locale;
  return QStringLiteral("odezva %1 ms (vedení %2 ms)")
      .arg(locale.toString(roundTripMs, 'f', 1), locale.toString(ExchangeWireTimeMs(rate), 'f', 1));
}
