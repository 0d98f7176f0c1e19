#pragma once
// The compact frame of the serial line (a tty, a pty or a real RS-485 adapter). Plain C++
// without Qt so that the driver libraries can include it.
//
//   request (10 bytes): address command index d0 d1 d2 d3 d4 | crc u16
//   answer  (10 bytes): address command status d0 d1 d2 d3 d4 | crc u16
//
// The request carries only what an exchange needs. The answer carries one byte beyond it,
// the echoed command: a wire has no sequence numbers, so the echo (with the address) is what
// lets a master drop a late answer to an earlier request instead of taking it for this one.
// Frames are delimited by the inter-frame silence (base/wire_time.h); the CRC is the same
// CRC-16/CCITT as the socket frames' (sim/protocol.h), low byte first.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/protocol.h"

namespace serialframe {

constexpr size_t Size = 10;  // each way
using Frame = std::array<uint8_t, Size>;

inline bool CrcHolds(const uint8_t* p, size_t n) {
  return n == Size && simproto::Crc16(p, n - simproto::CrcSize) == uint16_t(p[n - 2] | p[n - 1] << 8);
}

inline Frame EncodeRequest(uint8_t address, uint8_t command, uint8_t index, const std::array<uint8_t, 5>& data) {
  Frame b{address, command, index, data[0], data[1], data[2], data[3], data[4], 0, 0};
  simproto::SealFrame(b);
  return b;
}

// Sequence and rate are not on the wire: they stay 0 (the rate is the line's).
inline std::optional<simproto::Request> DecodeRequest(const uint8_t* p, size_t n) {
  if (!CrcHolds(p, n)) return std::nullopt;
  simproto::Request r;
  r.address = p[0];
  r.command = p[1];
  r.index = p[2];
  for (size_t i = 0; i < 5; ++i) r.data[i] = p[3 + i];
  return r;
}

inline Frame EncodeAnswer(const simproto::Answer& a) {
  Frame b{a.address, a.command, a.status, a.data[0], a.data[1], a.data[2], a.data[3], a.data[4], 0, 0};
  simproto::SealFrame(b);
  return b;
}

inline std::optional<simproto::Answer> DecodeAnswer(const uint8_t* p, size_t n) {
  if (!CrcHolds(p, n)) return std::nullopt;
  simproto::Answer a;
  a.address = p[0];
  a.command = p[1];
  a.status = p[2];
  for (size_t i = 0; i < 5; ++i) a.data[i] = p[3 + i];
  return a;
}

}  // namespace serialframe
