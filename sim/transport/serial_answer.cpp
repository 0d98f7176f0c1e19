#include "sim/transport/serial_answer.h"

#include <algorithm>

namespace {
// Where the socket answer's address and the fields after it lie, and where the wire's do:
// from the address on, the wire's answer carries the same fields with the index put in.
constexpr size_t SocketAddressAt = 8, SocketStatusAt = 10;
constexpr size_t WireAddressAt = 2, WireStatusAt = 5;

// Two drivers never start on the same bit: the receiver reads the characters of one answer
// overlaid on parts of the other's, for as long as both together hold the wire. No byte of it
// is either direction's mark, so nothing in it can pass for a frame, whatever the answers held.
std::vector<uint8_t> Collided(const serialframe::AnswerFrame& clean, size_t n) {
  std::vector<uint8_t> bytes(std::max(n, clean.size()));
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t own = clean[i % clean.size()], other = clean[(i + 1) % clean.size()];
    uint8_t heard = uint8_t((own & uint8_t(other << 3 | other >> 5)) ^ 0x5A);
    if (heard == serialframe::AnswerMark || heard == serialframe::RequestMark) heard ^= 0x01;
    bytes[i] = heard;
  }
  return bytes;
}

serialframe::WireAnswer OnWire(const simproto::Answer& a, const serialframe::WireRequest& request) {
  // The socket frame's sequence is the wire's tag as the simulator took it in.
  return {uint8_t(a.seq), a.address, a.command, request.index, a.status, a.data};
}
}  // namespace

std::vector<uint8_t> SerialAnswerBytes(const SimBus::Outcome& outcome, const serialframe::WireRequest& request) {
  if (outcome.frame.empty() || !outcome.answer) return {};
  const std::vector<uint8_t>& sent = outcome.frame;
  if (const auto sound = simproto::DecodeAnswer(sent.data(), sent.size())) {
    const auto bytes = serialframe::EncodeAnswer(OnWire(*sound, request));
    return {bytes.begin(), bytes.end()};
  }
  const auto clean = serialframe::EncodeAnswer(OnWire(*outcome.answer, request));
  if (outcome.collisionBytes > 0) return Collided(clean, outcome.collisionBytes);
  std::vector<uint8_t> bytes(clean.begin(), clean.end());
  if (sent.size() != simproto::AnswerSize) {
    // Cut short by as many bytes as the socket frame was.
    bytes.resize(bytes.size() - std::min(bytes.size(), simproto::AnswerSize - std::min(sent.size(), simproto::AnswerSize)));
    return bytes;
  }
  // Spoilt on the way: the same bits of the same fields go wrong (the wire's index, which the
  // socket frame lacks, stays whole).
  const auto reference = simproto::EncodeAnswer(*outcome.answer);
  auto spoil = [&](size_t wireAt, size_t socketAt, size_t n) {
    for (size_t i = 0; i < n; ++i) bytes[wireAt + i] ^= uint8_t(sent[socketAt + i] ^ reference[socketAt + i]);
  };
  spoil(WireAddressAt, SocketAddressAt, 2);                                           // address, command
  spoil(WireStatusAt, SocketStatusAt, simproto::AnswerSize - SocketStatusAt);         // status, data, CRC
  return bytes;
}
