#include "drivers/standin/line_lock.h"

#include <arpa/inet.h>
#include <ifaddrs.h>

#include <cstdio>
#include <cstdlib>

#include "sim/lock_file.h"
#include "sim/runtime_dir.h"

namespace standin {

std::string LocalLineName(const std::string& line, const std::string& endpoint) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : endpoint) h = (h ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return line + "-" + hex;
}

namespace {
// Whether a datagram sent to this address stays on this host: 0.0.0.0 (which the kernel sends
// to the loopback), the whole loopback range 127.0.0.0/8, and every IPv4 address assigned to an
// interface of this host right now.
bool IsThisHost(in_addr address) {
  const uint32_t a = ntohl(address.s_addr);
  if (a == INADDR_ANY || (a >> 24) == 127) return true;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool mine = false;
  for (const ifaddrs* i = list; i && !mine; i = i->ifa_next)
    mine = i->ifa_addr && i->ifa_addr->sa_family == AF_INET &&
           reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == address.s_addr;
  ::freeifaddrs(list);
  return mine;
}
}  // namespace

// The converter is named by where its datagrams go, not by the text that was typed. Every
// address of this host names one converter, 127.0.0.1: a simulator bound to the wildcard
// (--address 0.0.0.0) answers at all of them, one bound to 127.0.0.1 (its default) at 127.0.0.1
// and 0.0.0.0 alike, and a driver cannot tell which it is talking to. So a hold on any of them
// holds them all; at worst two listeners of this host on two local addresses at one port count
// as one line (the second refused while the first is held), but no two handles ever reach one
// converter at once. An address of another machine names itself.
std::string LanLineName(in_addr address, uint16_t port) {
  if (IsThisHost(address)) address.s_addr = htonl(INADDR_LOOPBACK);
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return "lan-" + std::string(text) + "-" + std::to_string(port);
}

LineTake TakeLine(const std::string& line) {
  LineTake take;
  const simproto::RuntimeDir dir = simproto::UserRuntimeDir();
  if (dir.path.empty()) {
    take.problem = dir.error;
    return take;
  }
  take.path = dir.path + "/qx510-line-" + line + ".lock";
  const simproto::LockTake lock = simproto::TakeLockFile(take.path, std::to_string(::getpid()) + "\n");
  switch (lock.result) {
    case simproto::LockTake::Taken:
      take.result = LineTake::Taken;
      take.fd = lock.fd;
      break;
    case simproto::LockTake::Busy:
      take.result = LineTake::Busy;
      take.holder = pid_t(std::strtol(lock.holder.c_str(), nullptr, 10));
      if (take.holder < 0) take.holder = 0;
      break;
    case simproto::LockTake::Refused:
      take.problem = lock.problem;
      break;
  }
  return take;
}

void ReleaseLine(int fd, const std::string& path) { simproto::ReleaseLockFile(fd, path); }

}  // namespace standin
