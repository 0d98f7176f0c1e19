#pragma once
// The simulated RS-485 line's clock: when each frame of an exchange occupies the wire. Plain
// C++; every time comes in as an argument, so the schedule can be checked without waiting.
//
// The line carries one frame at a time. A request handed over at `ready` goes out as soon as
// the line is free, takes its wire time at the request's rate, and a module that answers does
// so after the inter-frame silence that ends the request, its turnaround and, when it is
// slow, its lateness. The line stays held until the silence after the answer (or after an
// unanswered request) has passed, so requests from every transport queue behind each other
// as on a half-duplex wire. A late answer holds the line as an answer in its turnaround does:
// what comes meanwhile waits behind it.
//
// Instant: no wire at all (loopback speed, for tests that do not measure time); only a
// module's lateness still holds its answer back, as it always did.

#include <chrono>
#include <cstdint>
#include <optional>

#include "base/wire/wire_time.h"

namespace simline {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using std::chrono::nanoseconds;

enum class Wire { Paced, Instant };

// The longest turnaround a module may be given, in milliseconds.
constexpr double MaxTurnaroundMs = 10000;

struct Span {
  TimePoint start;
  TimePoint end;
};

struct Exchange {
  Span request;
  std::optional<Span> answer;  // empty: nobody answers
};

// What an answering module adds to the exchange. Modules that answer together (set up alike)
// collide: their answers hold the wire from the first one's start until the last one's end,
// `spread` after the first one's.
struct Answering {
  nanoseconds turnaround = wire::DefaultTurnaround;
  nanoseconds late{0};
  nanoseconds spread{0};
};

class WireLine {
 public:
  explicit WireLine(Wire wire = Wire::Paced) : wire_(wire) {}

  Wire wire() const { return wire_; }
  // A request handed to the line at `ready` at `rate` Bd, and the answer if one comes.
  Exchange carry(TimePoint ready, int32_t rate, std::optional<Answering> answering);
  // When the next request could begin at the earliest.
  TimePoint freeAt() const { return free_; }

 private:
  Wire wire_;
  TimePoint free_{};
};

}  // namespace simline
