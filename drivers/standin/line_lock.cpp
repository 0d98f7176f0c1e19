#include "drivers/standin/line_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "sim/runtime_dir.h"

namespace standin {

std::string LocalLineName(const std::string& line, const std::string& endpoint) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : endpoint) h = (h ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return line + "-" + hex;
}

LineTake TakeLine(const std::string& line) {
  LineTake take;
  const simproto::RuntimeDir dir = simproto::UserRuntimeDir();
  if (dir.path.empty()) return take;
  const std::string path = dir.path + "/qx510-line-" + line + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return take;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) {
      char text[24] = {};
      const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
      take.result = LineTake::Busy;
      take.holder = n > 0 ? pid_t(std::strtol(text, nullptr, 10)) : 0;
      if (take.holder < 0) take.holder = 0;
    }
    ::close(fd);
    return take;
  }
  // A holder that ended left its id behind; this one replaces it. Should the write fail, the
  // hold stands all the same: only the refused would miss the holder's id.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, pid.data(), pid.size(), 0);
  take.result = LineTake::Taken;
  take.fd = fd;
  return take;
}

}  // namespace standin
