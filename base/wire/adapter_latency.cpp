#include "base/wire/adapter_latency.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

bool ReadNumber(const std::string& path, int& value) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "re"), std::fclose);
  return f && std::fscanf(f.get(), "%d", &value) == 1;
}

}  // namespace

int AdapterLatencyMs(const std::string& device) {
  char resolved[PATH_MAX];
  const std::string real = ::realpath(device.c_str(), resolved) ? std::string(resolved) : device;
  const std::string name = real.substr(real.rfind('/') + 1);
  if (name.empty()) return -1;
  // FTDI adapters keep it on the USB serial port's device; the class link leads there too.
  const std::string candidates[] = {
      "/sys/bus/usb-serial/devices/" + name + "/latency_timer",
      "/sys/class/tty/" + name + "/device/latency_timer",
      "/sys/class/tty/" + name + "/device/../latency_timer",
  };
  for (const auto& path : candidates) {
    int ms = -1;
    if (ReadNumber(path, ms) && ms >= 0) return ms;
  }
  return -1;
}
