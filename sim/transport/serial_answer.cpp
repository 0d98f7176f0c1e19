#include "sim/transport/serial_answer.h"

#include <algorithm>

namespace {
// Where the socket answer's address and the fields after it lie, and where the wire's do:
// from the address on, the wire's answer carries the same fields with the index put in.
constexpr size_t SocketAddressAt = 8, SocketStatusAt = 10;
constexpr size_t WireAddressAt = 2, WireStatusAt = 5;

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
