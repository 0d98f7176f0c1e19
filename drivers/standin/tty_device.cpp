#include "drivers/standin/tty_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "drivers/standin/standin_core.h"

namespace standin {
namespace {

uint32_t Fail(TtyFailure& failure, uint32_t status, int err = 0, pid_t holder = 0) {
  failure = {status, err, holder};
  return status;
}

uint32_t OpenErrorStatus(int err) {
  switch (err) {
    // ENXIO, ENODEV, EIO: a node whose hardware is not there (a port without a UART, an
    // adapter unplugged a moment ago).
    case ENOENT: case ENOTDIR: case ENXIO: case ENODEV: case EIO: return DeviceMissing;
    case EACCES: case EPERM: return DeviceDenied;
    case EBUSY: return DeviceBusy;  // another program set TIOCEXCL
    default: return DeviceFailed;
  }
}

pid_t LockHolder(dev_t fsDev, ino_t inode) {
  std::unique_ptr<FILE, int (*)(FILE*)> locks(std::fopen("/proc/locks", "re"), std::fclose);
  if (!locks) return 0;
  char line[256];
  while (std::fgets(line, sizeof line, locks.get())) {
    int pid = 0;
    unsigned major = 0, minor = 0;
    unsigned long node = 0;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:1048 0 EOF"; a waiter's line carries "->".
    if (std::sscanf(line, "%*d: %*[A-Z] %*s %*s %d %x:%x:%lu", &pid, &major, &minor, &node) == 4 && pid > 0 &&
        node == inode && ::makedev(major, minor) == fsDev)
      return pid;
  }
  return 0;
}

pid_t DescriptorHolder(dev_t rdev) {
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
  if (!proc) return 0;
  while (const dirent* p = ::readdir(proc.get())) {
    char* end = nullptr;
    const long pid = std::strtol(p->d_name, &end, 10);
    if (pid <= 0 || *end != 0) continue;
    const std::string fds = std::string("/proc/") + p->d_name + "/fd";
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(fds.c_str()), ::closedir);
    if (!dir) continue;  // another user's process, or gone meanwhile
    while (const dirent* f = ::readdir(dir.get())) {
      struct stat st {};
      if (f->d_name[0] != '.' && ::stat((fds + "/" + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
          st.st_rdev == rdev)
        return pid_t(pid);
    }
  }
  return 0;
}

}  // namespace

bool SpeedOfRate(uint32_t rate, speed_t& speed) {
  static constexpr struct {
    uint32_t rate;
    speed_t speed;
  } speeds[] = {{300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
                {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
                {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
                {921600, B921600}};
  for (const auto& s : speeds)
    if (s.rate == rate) {
      speed = s.speed;
      return true;
    }
  return false;
}

std::string RealDevicePath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

pid_t DeviceHolder(dev_t rdev, dev_t fsDev, ino_t inode) {
  const pid_t locker = LockHolder(fsDev, inode);
  return locker > 0 ? locker : DescriptorHolder(rdev);
}

uint32_t TtyDevice::Open(const std::string& path, uint32_t rate, portmap::Rs485 rs485, TtyFailure& failure) {
  Close();
  speed_t speed;
  if (!SpeedOfRate(rate, speed)) return Fail(failure, RateUnsupported);
  // A simulator whose pseudo-terminal a killed driver left exclusive frees it within a moment
  // (sim/transport/serial_line.h), and takes the device's flock for as long as that takes:
  // what is busy only so briefly is not yet another program's.
  const auto patience = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  auto waitAgain = [&] {
    if (std::chrono::steady_clock::now() >= patience) return false;
    ::usleep(5000);
    return true;
  };
  // Non-blocking: a port waiting for carrier must not stop the open, and every wait is a
  // poll with a deadline.
  int fd;
  while ((fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == EBUSY && waitAgain()) {
  }
  if (fd < 0) {
    const int err = errno;
    const uint32_t status = OpenErrorStatus(err);
    struct stat st {};
    const pid_t holder = status == DeviceBusy && ::stat(path.c_str(), &st) == 0
                             ? DeviceHolder(st.st_rdev, st.st_dev, st.st_ino)
                             : 0;
    return Fail(failure, status, err, holder);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd)) {
    ::close(fd);
    return Fail(failure, NotATty);
  }
  // The advisory lock is what other serial programs look at; TIOCEXCL keeps out whoever does
  // not (root excepted, whom the kernel lets through). The settings to give back are read only
  // under the lock: before it they may still be a killed holder's.
  int locked;
  while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EWOULDBLOCK && waitAgain()) {
  }
  if (locked != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return Fail(failure, DeviceBusy, err, DeviceHolder(st.st_rdev, st.st_dev, st.st_ino));
    return Fail(failure, DeviceFailed, err);
  }
  if (::tcgetattr(fd, &original_) != 0) {
    ::close(fd);
    return Fail(failure, NotATty);
  }
  ::ioctl(fd, TIOCEXCL);
  fd_ = fd;
  if (const uint32_t s = SetRate(rate); s != Ok) {
    const int err = errno;
    Close();
    return Fail(failure, s, err);
  }
  if (rs485 == portmap::Rs485::Auto && ::ioctl(fd, TIOCGRS485, &originalRs485_) == 0) {
    // The kernel raises RTS while it sends and drops it after the last stop bit, where the
    // port's driver can; elsewhere (ENOTTY, EINVAL) the adapter is taken to switch itself.
    serial_rs485 mode = originalRs485_;
    mode.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    mode.flags &= ~uint32_t(SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX);
    rs485Changed_ = ::ioctl(fd, TIOCSRS485, &mode) == 0;
  }
  ::tcflush(fd, TCIOFLUSH);
  return Ok;
}

uint32_t TtyDevice::SetRate(uint32_t rate) {
  speed_t speed;
  if (!SpeedOfRate(rate, speed)) return RateUnsupported;
  termios t = original_;
  ::cfmakeraw(&t);
  t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
  t.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  // At once: a request whose exchange has ended is on the wire by now, and a wait for the
  // output to drain would never end on a pseudo-terminal nobody reads. tcsetattr succeeds
  // when any of the settings took, so the speed is read back.
  termios now{};
  if (::tcsetattr(fd_, TCSANOW, &t) != 0 || ::tcgetattr(fd_, &now) != 0)
    return errno == EIO || errno == ENXIO || errno == ENODEV ? DeviceLost : DeviceFailed;
  return ::cfgetospeed(&now) == speed ? uint32_t(Ok) : uint32_t(RateUnsupported);
}

void TtyDevice::Close() {
  if (fd_ < 0) return;
  if (rs485Changed_) ::ioctl(fd_, TIOCSRS485, &originalRs485_);
  rs485Changed_ = false;
  ::tcsetattr(fd_, TCSANOW, &original_);
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // drops the flock as well
  fd_ = -1;
}

}  // namespace standin
