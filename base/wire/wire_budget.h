#pragma once
// How long a program waits for a module at a rate, on top of what the wire itself takes
// (base/wire/wire_time.h). Every program that sets a timeout from the rate takes it from here, so
// the companion and the workbench give a scan try the same time and warn alike.
//
// What a response timeout counts depends on the path to the line. On a serial device (a port
// the user mapped in `serial-ports`) it is the module's time: from the request's last bit to
// the answer's first, as on every serial master in the field; the frames' own wire time comes
// on top. Through the simulator's sockets and the LAN converter it holds the whole exchange.

#include <QString>
#include <cstdint>

#include "base/wire/wire_time.h"

namespace wire {

// What the host may add to a socket exchange before a scan has measured it.
inline constexpr nanoseconds HostMargin{10'000'000};
// What a scan on a serial device allows the host beyond the adapter's latency timer before the
// first modules that answer have shown what this PC takes.
inline constexpr nanoseconds SerialHostMargin{2'000'000};
// The latency timer a USB adapter comes with from the factory, assumed when a scan meets late
// answers before it has measured anything, on a device whose timer cannot be read.
inline constexpr nanoseconds FactoryAdapterLatency{16'000'000};

}  // namespace wire

enum class TimeoutBasis {
  FromRequestEnd,  // a serial device: the module's time, from the request's end to the answer's start
  WholeExchange,   // the simulator's sockets and the LAN converter: request, answer and all
};

// The wire time of one exchange at `rate` in ms, exact, for showing beside a round trip.
double ExchangeWireTimeMs(int32_t rate);

// The least response timeout that reaches a module answering after the default turnaround, in
// whole ms: the line's silence and the turnaround on a serial device, the whole exchange through
// the sockets.
int LeastResponseTimeoutMs(TimeoutBasis basis, int32_t rate);

// The time a scan gives each try. Until a module has answered, the wire's least plus the
// adapter's latency timer and a margin for the host (wire::SerialHostMargin on a serial device,
// wire::HostMargin through the sockets); once modules have answered, the margin is what the
// slowest of them took beyond the wire. That is tight by design: an answer that begins just
// after its try's timeout is still heard while the driver waits it out, and the scan asks that
// module again (base/exchange/line_scan.h). Late answers met before anything was measured make the
// budget assume an adapter with the factory latency timer and wire::HostMargin. An operator's
// own timeout replaces all of it.
class ScanBudget {
 public:
  ScanBudget(TimeoutBasis basis, int adapterLatencyMs, int userTimeoutMs);
  TimeoutBasis basis() const { return basis_; }
  int tryTimeoutMs(int32_t rate) const;
  // A module answered `exchanges` exchanges (an identification: 3) at `rate` within `tookNs`.
  void learn(int32_t rate, int64_t tookNs, int exchanges);
  // Late answers came before any module taught the budget: the margin becomes the factory
  // adapter's and the host's. False when it was measured, assumed already or the operator's.
  bool assumeSlowAdapter();
  // What the host added to one exchange at the most so far; negative before any answer.
  int64_t hostNs() const { return hostNs_; }

 private:
  TimeoutBasis basis_;
  int latencyMs_;
  int userTimeoutMs_;
  int64_t hostNs_ = -1;
  bool assumedSlow_ = false;
};

// The Czech warning when a response timeout of `timeoutMs` is shorter than the least that
// reaches a module at `rate`, naming that least; an empty text when it is long enough.
QString ResponseTimeoutWarning(int timeoutMs, int32_t rate, TimeoutBasis basis);

// "odezva 31,4 ms (vedení 29,2 ms)": a measured round trip beside the wire time of one
// exchange at `rate`, in the operator's locale.
QString RoundTripText(double roundTripMs, int32_t rate);
