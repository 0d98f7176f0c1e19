#pragma once
// A real serial device (a tty: an on-board port, a USB adapter, a pseudo-terminal) held by one
// driver handle: raw 8N1 without flow control, exclusive against every program that honours
// TIOCEXCL or an flock on the device, and left with the settings it had when it is let go.

#include <sys/types.h>
#include <termios.h>
#include <linux/serial.h>

#include <cstdint>
#include <string>

#include "base/wire/port_map.h"

namespace standin {

// Why an open failed, with the details its text names.
struct TtyFailure {
  uint32_t status = 0;  // a standin::Status
  int err = 0;          // errno, for DeviceFailed
  pid_t holder = 0;     // DeviceBusy: who holds the device, 0 when that cannot be told
};

class TtyDevice {
 public:
  TtyDevice() = default;
  ~TtyDevice() { Close(); }
  TtyDevice(const TtyDevice&) = delete;
  TtyDevice& operator=(const TtyDevice&) = delete;

  // Ok, or the failure's status with its details in `failure`.
  uint32_t Open(const std::string& path, uint32_t rate, portmap::Rs485 rs485, TtyFailure& failure);
  uint32_t SetRate(uint32_t rate);
  // Gives the device its former settings back and lets it go; a device that is gone already
  // is only closed.
  void Close();
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  termios original_{};
  bool rs485Changed_ = false;
  serial_rs485 originalRs485_{};
};

// The termios speed of a rate in Bd; false for a rate the tty layer has no constant for.
bool SpeedOfRate(uint32_t rate, speed_t& speed);

// The device behind a path (links such as /dev/serial/by-id/... resolved), else the path.
std::string RealDevicePath(const std::string& path);

// The process that holds the character device `rdev` (its flock in /proc/locks, else an open
// descriptor under /proc/*/fd, as far as this user may look); 0 when none can be told.
pid_t DeviceHolder(dev_t rdev, dev_t fsDev, ino_t inode);

}  // namespace standin
