#pragma once
// Which serial port reaches a real device: the user's mapping file `serial-ports` in the
// settings folder (~/.config/qx510/). A port without a line there reaches the simulator.
// Plain C++ without Qt: the serial drivers read it at every Init, and the programs read it to
// name the device in their connection line.
//
//   # comment; a '#' also ends a line's content
//   COM1=/dev/ttyUSB0 echo=1
//   USB=/dev/serial/by-id/usb-XYZ-if00-port0 rs485=off latency-warning=0
//
// Port names: COM1..COM255 (the serial port) and USB (the USB converter), in any case. The
// device is an absolute path without blanks; options follow it, separated by blanks.
//
// The file is UTF-8 text (a leading byte order mark is skipped) of at most MaxFileBytes,
// without control characters but the tab and a CR before the line end, and without invisible
// formatting ones (base/text/plain_text.h): a NUL would cut the device's name where the system
// reads it, so that another device would be opened than the one named.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace portmap {

inline constexpr char FileName[] = "serial-ports";
// A mapping is a few lines; a larger file is refused whole, never read in part.
inline constexpr std::size_t MaxFileBytes = 1 << 20;

enum class Rs485 {
  Auto,  // the kernel's RS-485 mode where the port has it, else the adapter switches itself
  Off,   // the port's RS-485 setting is left as it is
};

struct PortOptions {
  std::string device;
  bool echo = false;            // a 2-wire adapter hands the request back before the answer
  Rs485 rs485 = Rs485::Auto;
  bool latencyWarning = true;   // warn when a USB adapter's latency timer is above 1 ms
};

struct ParseError {
  enum Kind {
    None,
    NoEquals,        // a line without NAME=DEVICE
    UnknownPort,     // not COM1..COM255 or USB
    DuplicatePort,
    NoDevice,
    RelativeDevice,
    UnknownOption,
    BadValue,
    BadCharacter,    // a control or formatting character, or no UTF-8; `reason` names it
    Unreadable,      // the file is there but is refused or cannot be read (line 0); `reason` says why
  } kind = None;
  int line = 0;       // 1-based
  std::string token;  // what was wrong, as written (the file's path for Unreadable)
  std::string reason;
};

struct PortMap {
  std::map<std::string, PortOptions> ports;  // by upper-case port name
  ParseError error;                          // the first error; the map is empty then
  bool ok() const { return error.kind == ParseError::None; }
};

PortMap Parse(std::string_view text);
// A missing file is an empty map; a FIFO, device or folder, a file larger than MaxFileBytes
// or one that cannot be read is Unreadable (base/files/file_read.h).
PortMap Load(const std::string& path);

// $XDG_CONFIG_HOME/qx510/serial-ports, else ~/.config/qx510/serial-ports: the folder of the
// tool's own settings (base/settings/settings.h UserSettingsDirectory); empty without a home folder.
std::string DefaultPath();

// "COM1".."COM255" for the serial port, "USB" for the converter.
std::string SerialPortName(uint32_t comPort);
inline constexpr char UsbPortName[] = "USB";

std::optional<PortOptions> Find(const PortMap& map, std::string_view portName);

// The reason in Czech (UTF-8), for the drivers' texts and the programs' messages; what the
// file held is shown with its unsafe characters escaped (base/text/plain_text.h ShownText).
std::string Describe(const ParseError& error);

}  // namespace portmap
