#pragma once
// How long a program waits for a module at a rate, on top of what the wire itself takes
// (base/wire_time.h). Every program that sets a timeout from the rate takes it from here, so
// the companion and the workbench give a scan try the same time and warn alike.

#include <QString>
#include <cstdint>

#include "base/wire_time.h"

namespace wire {

// What the host adds to an exchange beyond the wire: 10 ms for the PC to hand the request
// to the port and to wake up on the answer, plus 16 ms that a USB-serial adapter may hold a
// short answer back before passing it on (the factory setting of the common adapters'
// latency timer, the worst the workbench and the companion expect).
inline constexpr nanoseconds HostMargin{10'000'000};
inline constexpr nanoseconds AdapterLatency{16'000'000};
inline constexpr nanoseconds HostAllowance = HostMargin + AdapterLatency;

}  // namespace wire

// The whole margin in ms, for the texts that explain the budget.
inline constexpr int HostMarginMs = int(wire::HostAllowance.count() / 1'000'000);

// The wire time of one exchange at `rate` in ms, exact, for showing beside a round trip.
double ExchangeWireTimeMs(int32_t rate);

// The wire time of one exchange at `rate` in whole milliseconds, rounded up; 0 for no rate.
int ExchangeWireMs(int32_t rate);

// The least response timeout that reaches a module at `rate`: the exchange's wire time with
// the default turnaround plus the host's margin, in ms.
int LeastResponseTimeoutMs(int32_t rate);

// A scan try's timeout at `rate`: the operator's own when given (above 0), else the least
// response timeout of that rate.
int ScanTryTimeoutMs(int32_t rate, int userTimeoutMs);

// The Czech warning when a response timeout of `timeoutMs` is shorter than one exchange on
// the wire at `rate`, naming the least that works; an empty text when it is long enough.
QString ResponseTimeoutWarning(int timeoutMs, int32_t rate);

// "odezva 31,4 ms (vedení 29,2 ms)": a measured round trip beside the wire time of one
// exchange at `rate`, in the operator's locale.
QString RoundTripText(double roundTripMs, int32_t rate);
