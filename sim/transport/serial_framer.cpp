#include "sim/transport/serial_framer.h"

#include <algorithm>

namespace simline {

void SerialFramer::received(TimePoint arrival, const uint8_t* bytes, size_t n, int32_t rate) {
  if (n == 0) return;
  if (!any_ || !modelWire_) pending_.end = arrival;
  if (modelWire_) pending_.end = std::max(pending_.end, arrival) + wire::CharacterTime(rate) * int64_t(n);
  pending_.rate = rate;
  // One byte past the limit is kept, so that the frame still reads as too long.
  const size_t limit = MaxKept + 1;
  if (pending_.bytes.size() < limit)
    pending_.bytes.insert(pending_.bytes.end(), bytes, bytes + std::min(n, limit - pending_.bytes.size()));
  any_ = true;
}

std::optional<TimePoint> SerialFramer::due() const {
  if (!any_) return std::nullopt;
  return pending_.end + wire::InterFrameSilence(pending_.rate);
}

std::optional<SerialFramer::Frame> SerialFramer::take(TimePoint now) {
  const auto at = due();
  if (!at || now < *at) return std::nullopt;
  Frame frame = std::move(pending_);
  pending_ = {};
  any_ = false;
  return frame;
}

}  // namespace simline
