#pragma once
// The serial port and the USB converter on a real serial device, when the user mapped the
// port to one (base/port_map.h): the compact frames of sim/serial_frame.h on the wire,
// delimited by the line's silence and checked by their CRC. Without a mapping the port
// reaches the simulator's local endpoint as before.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "base/port_map.h"
#include "drivers/standin/standin_core.h"
#include "drivers/standin/tty_device.h"
#include "sim/protocol.h"

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
  // One request and its answer. The wait is the response timeout plus the wire time of both
  // frames at the line's rate and the adapter's latency timer. A device that went away is
  // opened afresh at the next exchange.
  uint32_t Exchange(const simproto::Request& request, uint32_t responseTimeoutMs, Reply& reply);
  // The name to hold the line by: the device behind the mapped path.
  const std::string& device() const { return device_; }

 private:
  using Clock = std::chrono::steady_clock;
  uint32_t Lost(int err);
  uint32_t Send(const uint8_t* frame, Clock::time_point deadline);
  uint32_t Receive(const uint8_t* request, uint8_t address, uint8_t command, Clock::time_point deadline,
                   Reply& reply);

  std::string portName_;
  portmap::PortOptions options_;
  std::string device_;
  TtyDevice tty_;
  uint32_t rate_ = DefaultRate;
  int latencyMs_ = 0;            // the USB adapter's latency timer, 0 when it has none
  Clock::time_point quietAt_{};  // the line's silence after the last frame ends here
};

// The Windows-1250 text of a serial device's status, naming the device and the reason of the
// last such failure; empty for any other status.
std::string SerialErrorText(uint32_t code);

}  // namespace standin
