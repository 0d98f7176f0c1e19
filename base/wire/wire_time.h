#pragma once
// Time a QX-510 exchange occupies an RS-485 line. Plain C++ without Qt: the tool, the
// companion, the workbench, the stand-in drivers and the simulator must all agree on it.
//
// A character of 8N1 is 10 bits. Every exchange on the wire is a 12-byte request and a
// 13-byte answer (see sim/serial_frame.h). A module knows a request has ended only after the
// line has been silent for the inter-frame silence (3.5 characters, never less than
// 1.75 ms, as RS-485 field buses use), then needs its turnaround (processing time) before it
// answers; the master keeps the same silence after the answer before it sends again. So
// one exchange holds the line for:
//
//   request + silence + turnaround + answer + silence
//
// Every figure is in nanoseconds so that 115200 Bd keeps its precision.

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace wire {

using std::chrono::nanoseconds;

constexpr int BitsPerCharacter = 10;  // start, 8 data, stop
constexpr int RequestBytes = 12;
constexpr int AnswerBytes = 13;
constexpr nanoseconds MinimumSilence{1'750'000};
constexpr nanoseconds DefaultTurnaround{1'000'000};

// A rate of 0 or less has no wire time (an interface that reports none).
constexpr nanoseconds CharacterTime(int32_t rate) {
  return rate > 0 ? nanoseconds(int64_t(BitsPerCharacter) * 1'000'000'000 / rate) : nanoseconds(0);
}

constexpr nanoseconds FrameTime(int32_t rate, int bytes) { return CharacterTime(rate) * bytes; }
constexpr nanoseconds RequestTime(int32_t rate) { return FrameTime(rate, RequestBytes); }
constexpr nanoseconds AnswerFrameTime(int32_t rate) { return FrameTime(rate, AnswerBytes); }

constexpr nanoseconds InterFrameSilence(int32_t rate) {
  return std::max(MinimumSilence, CharacterTime(rate) * 7 / 2);
}

// From the first bit of a request to the end of the silence after its answer.
constexpr nanoseconds ExchangeTime(int32_t rate, nanoseconds turnaround = DefaultTurnaround) {
  return RequestTime(rate) + InterFrameSilence(rate) + turnaround + AnswerFrameTime(rate) + InterFrameSilence(rate);
}

// From the end of the request's last byte to the first bit of the answer: the least response
// timeout that can reach a module on a serial line, where the timeout counts from there.
constexpr nanoseconds ReplyStart(int32_t rate, nanoseconds turnaround = DefaultTurnaround) {
  return InterFrameSilence(rate) + turnaround;
}

// What an unanswered request costs the wire at the least: the request, the silence and
// turnaround in which the answer would have begun, and the answer's own time, which a master
// waits out before it speaks again.
constexpr nanoseconds SilentTryTime(int32_t rate, nanoseconds turnaround = DefaultTurnaround) {
  return RequestTime(rate) + ReplyStart(rate, turnaround) + AnswerFrameTime(rate);
}

}  // namespace wire
