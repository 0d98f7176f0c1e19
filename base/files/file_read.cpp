#include "base/files/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/text/errno_text.h"

namespace {

std::string TooLarge(std::size_t limit, std::size_t size) {
  return "je větší než " + ByteSizeText(limit) + " (má " + std::to_string(size) + " B)";
}

}  // namespace

std::string FileKindText(mode_t mode) {
  if (S_ISDIR(mode)) return "je to složka";
  if (S_ISCHR(mode)) return "je to znakové zařízení";
  if (S_ISBLK(mode)) return "je to blokové zařízení";
  if (S_ISFIFO(mode)) return "je to roura (FIFO)";
  if (S_ISSOCK(mode)) return "je to soket";
  return "je to zvláštní soubor";
}

std::string NotRegularFileText(mode_t mode) { return "není obyčejný soubor, " + FileKindText(mode); }

std::string ByteSizeText(std::size_t bytes) {
  if (bytes >= (std::size_t(1) << 20) && bytes % (std::size_t(1) << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " B";
}

FileReadResult ReadWholeFile(const std::string& path, std::size_t limit, std::string& bytes, std::string& reason) {
  bytes.clear();
  reason.clear();
  // Looked at first, so that a device is refused without being opened (opening a serial port
  // may already move its lines) and a FIFO without a writer holds nothing up.
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    const int error = path.empty() ? ENOENT : errno;
    if (error == ENOENT || error == ENOTDIR) return FileReadResult::Missing;
    reason = CzechErrnoText(error);
    return FileReadResult::Refused;
  }
  if (!S_ISREG(st.st_mode)) {
    reason = NotRegularFileText(st.st_mode);
    return FileReadResult::Refused;
  }
  // Non-blocking all the same: something else may have been put there meanwhile.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) return FileReadResult::Missing;
    reason = CzechErrnoText(error);
    return FileReadResult::Refused;
  }
  if (::fstat(fd, &st) != 0) st.st_mode = 0;
  if (!S_ISREG(st.st_mode)) {
    reason = st.st_mode != 0 ? NotRegularFileText(st.st_mode) : CzechErrnoText(errno);
    ::close(fd);
    return FileReadResult::Refused;
  }
  if (st.st_size > 0 && std::size_t(st.st_size) > limit) {
    ::close(fd);
    reason = TooLarge(limit, std::size_t(st.st_size));
    return FileReadResult::Refused;
  }
  // To the end, whatever the size said: a file that grows while it is read is refused too,
  // one byte past the limit being enough to tell.
  bytes.reserve(std::size_t(st.st_size));
  char buffer[65536];
  for (;;) {
    const std::size_t room = limit + 1 - bytes.size();
    const ssize_t n = ::read(fd, buffer, room < sizeof buffer ? room : sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      reason = CzechErrnoText(errno);
      ::close(fd);
      bytes.clear();
      return FileReadResult::Refused;
    }
    bytes.append(buffer, std::size_t(n));
    if (bytes.size() > limit) {
      ::close(fd);
      reason = TooLarge(limit, bytes.size());
      bytes.clear();
      return FileReadResult::Refused;
    }
  }
  ::close(fd);
  return FileReadResult::Read;
}
