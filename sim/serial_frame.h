#pragma once
// The compact frame of the serial line (a tty, a pty or a real RS-485 adapter). Plain C++
// without Qt so that the driver libraries can include it.
//
//   request (12 bytes): 0xC3 tag address command index d0 d1 d2 d3 d4 | crc u16
//   answer  (13 bytes): 0x3C tag address command index status d0 d1 d2 d3 d4 | crc u16
//
// A wire has no connection to tell whose a frame is, so every answer names its request: the
// master's tag (a counter it steps for every request), the address, the command and the index;
// for a configuration read or write the module also echoes the configuration address in d1 and
// d2. The first byte marks the direction: an adapter that hands the master its own request
// back, or a line that only echoes, can never pass a request off as an answer, since the mark
// is under the CRC. Frames are delimited by the inter-frame silence (base/wire/wire_time.h); the CRC
// is the same CRC-16/CCITT as the socket frames' (sim/protocol.h), low byte first.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/wire/wire_time.h"
#include "sim/protocol.h"

namespace serialframe {

constexpr uint8_t RequestMark = 0xC3;
constexpr uint8_t AnswerMark = 0x3C;
constexpr size_t RequestSize = size_t(wire::RequestBytes);
constexpr size_t AnswerSize = size_t(wire::AnswerBytes);
using RequestFrame = std::array<uint8_t, RequestSize>;
using AnswerFrame = std::array<uint8_t, AnswerSize>;

inline bool CrcHolds(const uint8_t* p, size_t n) {
  return n > simproto::CrcSize && simproto::Crc16(p, n - simproto::CrcSize) == uint16_t(p[n - 2] | p[n - 1] << 8);
}

// The request as the wire carries it; `tag` travels where the socket frames carry the sequence.
struct WireRequest {
  uint8_t tag = 0;
  uint8_t address = 0, command = 0, index = 0;
  std::array<uint8_t, 5> data{};
};

struct WireAnswer {
  uint8_t tag = 0;
  uint8_t address = 0, command = 0, index = 0, status = 0;
  std::array<uint8_t, 5> data{};
};

inline RequestFrame EncodeRequest(const WireRequest& r) {
  RequestFrame b{RequestMark, r.tag, r.address, r.command, r.index, r.data[0], r.data[1], r.data[2], r.data[3],
                 r.data[4], 0, 0};
  simproto::SealFrame(b);
  return b;
}

inline std::optional<WireRequest> DecodeRequest(const uint8_t* p, size_t n) {
  if (n != RequestSize || p[0] != RequestMark || !CrcHolds(p, n)) return std::nullopt;
  WireRequest r;
  r.tag = p[1];
  r.address = p[2];
  r.command = p[3];
  r.index = p[4];
  for (size_t i = 0; i < 5; ++i) r.data[i] = p[5 + i];
  return r;
}

inline AnswerFrame EncodeAnswer(const WireAnswer& a) {
  AnswerFrame b{AnswerMark, a.tag,     a.address, a.command, a.index, a.status, a.data[0],
                a.data[1],  a.data[2], a.data[3], a.data[4], 0,       0};
  simproto::SealFrame(b);
  return b;
}

inline std::optional<WireAnswer> DecodeAnswer(const uint8_t* p, size_t n) {
  if (n != AnswerSize || p[0] != AnswerMark || !CrcHolds(p, n)) return std::nullopt;
  WireAnswer a;
  a.tag = p[1];
  a.address = p[2];
  a.command = p[3];
  a.index = p[4];
  a.status = p[5];
  for (size_t i = 0; i < 5; ++i) a.data[i] = p[6 + i];
  return a;
}

// Commands whose answer echoes the configuration address (d1 and d2) it read or wrote.
inline bool EchoesConfigAddress(uint8_t command) { return command == 102 || command == 103; }

// Whether `a` is the answer to `r` by every name it carries: tag, address, command, index, and
// the configuration address where the command has one (a refusal carries none).
inline bool Answers(const WireAnswer& a, const WireRequest& r) {
  if (a.tag != r.tag || a.address != r.address || a.command != r.command || a.index != r.index) return false;
  if (EchoesConfigAddress(r.command) && a.status == simproto::ModuleStatus::Ok)
    return a.data[1] == r.data[1] && a.data[2] == r.data[2];
  return true;
}

}  // namespace serialframe
