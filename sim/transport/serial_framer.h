#pragma once
// Cuts what arrives on a serial line into frames: a frame ends when the line has been silent
// for the inter-frame silence after its last byte. Plain C++; times come in as arguments.
//
// On a pseudo-terminal the other side's bytes arrive all at once, however fast its rate, so
// each is given the wire time it would take after the one before it (modelWire). On a real
// port a byte has crossed the wire by the time it is read.

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/line/wire_line.h"

namespace simline {

class SerialFramer {
 public:
  explicit SerialFramer(bool modelWire) : modelWire_(modelWire) {}

  // A frame longer than this is garbage whatever follows; the rest of it is not kept.
  static constexpr size_t MaxKept = 64;

  void received(TimePoint arrival, const uint8_t* bytes, size_t n, int32_t rate);
  // When the bytes received so far become a frame; empty while none are pending.
  std::optional<TimePoint> due() const;

  struct Frame {
    std::vector<uint8_t> bytes;
    TimePoint end;  // when its last byte left the wire
    int32_t rate = 0;
  };
  // The pending frame once its silence has passed by `now`.
  std::optional<Frame> take(TimePoint now);

 private:
  bool modelWire_;
  Frame pending_;
  bool any_ = false;
};

}  // namespace simline
