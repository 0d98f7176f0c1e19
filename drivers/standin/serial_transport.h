#pragma once
// The serial port and the USB converter on a real serial device, when the user mapped the
// port to one (base/wire/port_map.h): the compact frames of sim/serial_frame.h on the wire,
// delimited by the line's silence and checked by their CRC. Without a mapping the port
// reaches the simulator's local endpoint as before.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "base/wire/port_map.h"
#include "drivers/standin/standin_core.h"
#include "drivers/standin/tty_device.h"
#include "sim/protocol.h"
#include "sim/serial_frame.h"

namespace standin {

struct MappedPort {
  uint32_t status = Ok;                      // BadPortMap when the user's file is wrong
  std::optional<portmap::PortOptions> port;  // none: the port reaches the simulator
};
// `portName`: "COM1".."COM255" or "USB".
MappedPort FindMappedPort(const std::string& portName);

class SerialLine {
 public:
  SerialLine(std::string portName, portmap::PortOptions options);
  // Opens the device at `rate`; the failure's text is kept for ErrorText.
  uint32_t Open(uint32_t rate);
  uint32_t SetRate(uint32_t rate);
  // One request and its answer. The response timeout counts from the request's last bit on
  // the wire to the answer's first (beyond the adapter's latency timer); the answer then has
  // its own wire time. An exchange that ends without its answer keeps the line until that
  // answer would have passed, so nothing it gave up on reaches the next request. A device
  // that went away is opened afresh at the next exchange.
  uint32_t Exchange(const simproto::Request& request, uint32_t responseTimeoutMs, Reply& reply);
  // The name to hold the line by: the device behind the mapped path.
  const std::string& device() const { return device_; }

 private:
  using Clock = std::chrono::steady_clock;
  uint32_t Lost(int err);
  uint32_t Settle(bool& heard);
  uint32_t Send(const uint8_t* frame, size_t size, Clock::time_point deadline);
  Clock::time_point Drained(Clock::time_point bound);
  uint32_t Receive(const serialframe::RequestFrame& frame, const serialframe::WireRequest& request,
                   Clock::time_point sentAt, Clock::time_point firstByteBy, Reply& reply);
  // The gap within a frame beyond which it counts as cut off.
  Clock::duration FrameGap() const;

  std::string portName_;
  portmap::PortOptions options_;
  std::string device_;
  TtyDevice tty_;
  uint32_t rate_ = DefaultRate;
  int latencyMs_ = 0;            // the USB adapter's latency timer, 0 when it has none
  Clock::time_point quietAt_{};  // the line's silence after the last frame ends here
  uint8_t tag_ = 0;              // the last request's
};

// The Windows-1250 text of a serial device's status, naming the device and the reason of the
// last such failure; empty for any other status.
std::string SerialErrorText(uint32_t code);

}  // namespace standin
