#include "sim/transport/serial_answer.h"

#include <algorithm>

#include "sim/serial_frame.h"

namespace {
// Where the socket answer's address .. CRC lie: the same ten bytes the wire carries.
constexpr size_t WireFieldsAt = simproto::AnswerSize - serialframe::Size;
}  // namespace

std::vector<uint8_t> SerialAnswerBytes(const SimBus::Outcome& outcome, uint32_t requestSeq) {
  if (outcome.frame.empty() || !outcome.answer) return {};
  const std::vector<uint8_t>& sent = outcome.frame;
  if (const auto sound = simproto::DecodeAnswer(sent.data(), sent.size())) {
    simproto::Answer a = *sound;
    if (a.seq != requestSeq) a.command = uint8_t(a.command ^ 0x80);
    const auto bytes = serialframe::EncodeAnswer(a);
    return {bytes.begin(), bytes.end()};
  }
  const auto clean = serialframe::EncodeAnswer(*outcome.answer);
  std::vector<uint8_t> bytes(clean.begin(), clean.end());
  if (sent.size() != simproto::AnswerSize) {
    // Cut short by as many bytes as the socket frame was.
    bytes.resize(serialframe::Size - std::min(serialframe::Size, simproto::AnswerSize - sent.size()));
    return bytes;
  }
  // Spoilt on the way: the same bits of the same fields go wrong.
  const auto reference = simproto::EncodeAnswer(*outcome.answer);
  for (size_t i = 0; i < serialframe::Size; ++i) bytes[i] ^= uint8_t(sent[WireFieldsAt + i] ^ reference[WireFieldsAt + i]);
  return bytes;
}
