// The serial port mapping as a user or an attacker may write it: whatever the file holds, a
// mistake empties the map and is described without a byte a terminal would act on, and every
// device the map names is an absolute path the system reads as written.
#include <string>
#include <string_view>

#include "base/text/plain_text.h"
#include "base/wire/port_map.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const portmap::PortMap map = portmap::Parse(text);
  const std::string said = portmap::Describe(map.error);
  std::string what;
  FuzzCheck(map.ok() == said.empty(), "a mistake is described, a sound map is not");
  FuzzCheck(!FindUnsafeText(said, what), "a description holds no control or formatting character and is UTF-8");
  FuzzCheck(map.ok() || map.ports.empty(), "a mistake leaves the map empty");
  for (const auto& [name, port] : map.ports) {
    FuzzCheck(!port.device.empty() && port.device.front() == '/', "a device is an absolute path");
    FuzzCheck(port.device.find_first_of(std::string_view(" \t\r\n\0", 5)) == std::string::npos,
              "a device holds no blank and no NUL");
    FuzzCheck(!FindUnsafeText(port.device, what), "a device holds no unsafe character");
    FuzzCheck(portmap::Find(map, name).has_value(), "each port is found by its name");
  }
  return 0;
}
