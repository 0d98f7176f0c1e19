#include "drivers/standin/line_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return take;
    int locked;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
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
    // The holder before may have removed the file between our open and our lock: a lock on a
    // file no longer at the path holds nothing, so the path is opened afresh.
    struct stat atPath {}, held {};
    if (::stat(path.c_str(), &atPath) != 0 || ::fstat(fd, &held) != 0 || atPath.st_ino != held.st_ino ||
        atPath.st_dev != held.st_dev) {
      ::close(fd);
      continue;
    }
    // A holder that ended left its id behind; this one replaces it. Should the write fail, the
    // hold stands all the same: only the refused would miss the holder's id.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, pid.data(), pid.size(), 0);
    take.result = LineTake::Taken;
    take.fd = fd;
    take.path = path;
    return take;
  }
}

void ReleaseLine(int fd, const std::string& path) {
  // Removed while still held, so that nobody can lock this file after us and believe the
  // line is theirs while another locks a new file at the path.
  ::unlink(path.c_str());
  ::close(fd);
}

}  // namespace standin
