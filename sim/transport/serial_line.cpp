#include "sim/transport/serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/text/errno_text.h"
#include "sim/serial_frame.h"
#include "sim/sim_server.h"
#include "sim/transport/serial_answer.h"

namespace {
struct Speed {
  int32_t rate;
  speed_t code;
};
constexpr Speed Speeds[] = {{600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},    {9600, B9600},
                            {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

std::optional<speed_t> SpeedCode(int32_t rate) {
  for (const Speed& s : Speeds)
    if (s.rate == rate) return s.code;
  return std::nullopt;
}

int32_t RateOf(speed_t code) {
  for (const Speed& s : Speeds)
    if (s.code == code) return s.rate;
  return 0;
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string Errno(const std::string& what) { return what + ": " + CzechErrnoText(errno); }

// Raw 8N1 at the rate, no flow control, reads that never wait.
bool MakeRaw(int fd, int32_t rate, std::string* error) {
  termios t{};
  const auto code = SpeedCode(rate);
  if (!code) {
    SetError(error, "rychlost " + std::to_string(rate) + " Bd sériová linka nemá");
    return false;
  }
  if (::tcgetattr(fd, &t) != 0) {
    SetError(error, Errno("nastavení linky nelze přečíst"));
    return false;
  }
  ::cfmakeraw(&t);
  t.c_cflag &= ~tcflag_t(CSTOPB | PARENB | CRTSCTS | CSIZE);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, *code) != 0 || ::cfsetospeed(&t, *code) != 0 || ::tcsetattr(fd, TCSANOW, &t) != 0) {
    SetError(error, Errno("linku nelze nastavit"));
    return false;
  }
  return true;
}

std::string LinkTarget(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, size_t(n)) : std::string();
}

// Only a link of this user's that leads to a pseudo-terminal that is gone was left by a
// simulator that died; a link that loops, leads elsewhere or is somebody else's is not ours to
// remove, whatever it looks like.
bool TakeOverLink(const std::string& path, std::string* error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    SetError(error, Errno(path));
    return false;
  }
  if (!S_ISLNK(st.st_mode)) {
    SetError(error, path + " už existuje a není symbolický odkaz; nepoužije se");
    return false;
  }
  const std::string target = LinkTarget(path);
  struct stat there {};
  const bool gone = ::stat(path.c_str(), &there) != 0 && errno == ENOENT;
  if (st.st_uid != ::geteuid() || target.rfind("/dev/pts/", 0) != 0 || !gone) {
    SetError(error, path + " už ukazuje na " + (target.empty() ? std::string("?") : target) +
                        " (jiný simulátor nebo cizí odkaz); odstraňte odkaz, pokud ho nikdo nepoužívá");
    return false;
  }
  if (::unlink(path.c_str()) != 0) {
    SetError(error, Errno(path));
    return false;
  }
  return true;
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         ::cfgetospeed(&a) == ::cfgetospeed(&b) && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

constexpr std::chrono::milliseconds AbandonCheckInterval{100};
}  // namespace

SimSerialLine::SimSerialLine(Kind kind, std::string path, simline::Wire wire, SimAdapter adapter)
    : kind_(kind),
      path_(std::move(path)),
      wire_(wire),
      adapter_(adapter),
      framer_(kind == Kind::Pty && wire == simline::Wire::Paced) {}

std::unique_ptr<SimSerialLine> SimSerialLine::Open(Kind kind, const std::string& path, int32_t rate,
                                                   simline::Wire wire, std::string* error, SimAdapter adapter) {
  std::unique_ptr<SimSerialLine> line(new SimSerialLine(kind, path, wire, adapter));
  if (kind == Kind::Device) {
    line->device_ = path;
    line->deviceRate_ = rate;
    line->fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line->fd_ < 0) {
      SetError(error, Errno("sériový port " + path));
      return nullptr;
    }
    if (!::isatty(line->fd_) || ::ioctl(line->fd_, TIOCEXCL) != 0) {
      SetError(error, path + " není sériový port, nebo ho nelze získat výhradně");
      return nullptr;
    }
    if (!MakeRaw(line->fd_, rate, error)) return nullptr;
    ::tcflush(line->fd_, TCIOFLUSH);
    return line;
  }

  line->fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (line->fd_ < 0 || ::grantpt(line->fd_) != 0 || ::unlockpt(line->fd_) != 0 ||
      ::ptsname_r(line->fd_, name, sizeof name) != 0) {
    SetError(error, Errno("pseudoterminál nelze vytvořit"));
    return nullptr;
  }
  line->device_ = name;
  line->slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line->slave_ < 0) {
    SetError(error, Errno(std::string("pseudoterminál ") + name));
    return nullptr;
  }
  if (::fcntl(line->fd_, F_SETFL, ::fcntl(line->fd_, F_GETFL) | O_NONBLOCK) != 0) {
    SetError(error, Errno("pseudoterminál"));
    return nullptr;
  }
  if (!MakeRaw(line->slave_, rate, error) || !TakeOverLink(path, error)) return nullptr;
  ::tcgetattr(line->slave_, &line->started_);
  if (::symlink(name, path.c_str()) != 0) {
    SetError(error, Errno("odkaz " + path));
    return nullptr;
  }
  line->ownsLink_ = true;
  return line;
}

SimSerialLine::~SimSerialLine() {
  // A later simulator may have taken a link over: only the one still leading here is removed.
  if (ownsLink_ && LinkTarget(path_) == device_) ::unlink(path_.c_str());
  if (slave_ >= 0) ::close(slave_);
  if (fd_ >= 0) ::close(fd_);
}

int32_t SimSerialLine::lineRate() const {
  if (kind_ == Kind::Device) return deviceRate_;
  termios t{};
  return ::tcgetattr(slave_, &t) == 0 ? RateOf(::cfgetospeed(&t)) : 0;
}

short SimSerialLine::events() const { return short(POLLIN | (blocked_ ? POLLOUT : 0)); }

std::optional<simline::TimePoint> SimSerialLine::due() const {
  std::optional<simline::TimePoint> at = framer_.due();
  if (!blocked_ && !out_.empty() && (!at || out_.front().due < *at)) at = out_.front().due;
  if (kind_ == Kind::Pty && (!at || nextAbandonCheck_ < *at)) at = nextAbandonCheck_;
  return at;
}

void SimSerialLine::serve(SimServer& server, short revents, simline::TimePoint now) {
  if (kind_ == Kind::Pty && now >= nextAbandonCheck_) {
    releaseAbandoned();
    nextAbandonCheck_ = now + AbandonCheckInterval;
  }
  if (revents & POLLOUT) blocked_ = false;
  if (revents & POLLIN) receive(now);
  if (const auto frame = framer_.take(now)) answer(server, *frame);
  flush(now);
}

void SimSerialLine::receive(simline::TimePoint now) {
  uint8_t buffer[256];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) return;  // drained (EAGAIN), or nothing to read on a line nobody drives
    const uint8_t* p = buffer;
    size_t left = size_t(n);
    if (now >= echoUntil_) echo_.clear();
    while (left > 0 && !echo_.empty() && *p == echo_.front()) {
      echo_.erase(echo_.begin());
      ++p;
      --left;
    }
    if (left > 0) echo_.clear();
    const int32_t rate = lineRate();
    if (adapter_.echo && kind_ == Kind::Pty) {
      // The adapter hears each byte as it crosses the wire.
      for (size_t k = 0; k < left; ++k) {
        echoEnd_ = wire_ == simline::Wire::Instant ? now : std::max(echoEnd_, now) + wire::CharacterTime(rate);
        hand(echoEnd_, p[k]);
      }
    }
    framer_.received(now, p, left, rate);
  }
}

void SimSerialLine::hand(simline::TimePoint onWire, uint8_t byte) {
  simline::TimePoint at = onWire;
  if (adapter_.latency.count() > 0) {
    // The chip sends what it holds when its timer, started by the first byte it held, runs out.
    if (onWire > heldUntil_) heldUntil_ = onWire + adapter_.latency;
    at = heldUntil_;
  }
  if (!out_.empty() && out_.back().due == at) {
    out_.back().bytes.push_back(byte);
    return;
  }
  out_.push_back({at, {byte}});
}

// A driver holds the pseudo-terminal with an flock and TIOCEXCL and gives the settings back at
// Done. One that was killed leaves the flag and its settings behind, and with them a line that
// nobody but root can open: once the flock is free, the simulator puts the line back as it
// started. The driver takes its flock before it reads the settings it will give back, so it
// never keeps the dead one's.
void SimSerialLine::releaseAbandoned() {
  int exclusive = 0;
  if (::ioctl(slave_, TIOCGEXCL, &exclusive) != 0 || !exclusive) return;
  if (::flock(slave_, LOCK_EX | LOCK_NB) != 0) return;  // a driver holds it
  ::ioctl(slave_, TIOCNXCL);
  termios now{};
  if (::tcgetattr(slave_, &now) != 0 || !SameSettings(now, started_)) ::tcsetattr(slave_, TCSANOW, &started_);
  ::tcflush(slave_, TCIOFLUSH);
  ::flock(slave_, LOCK_UN);
}

void SimSerialLine::answer(SimServer& server, const simline::SerialFramer::Frame& frame) {
  const std::vector<uint8_t>& b = frame.bytes;
  if (serialframe::DecodeAnswer(b.data(), b.size())) return;  // another module's, on a shared wire
  // A pseudo-terminal keeps no time: requests the driver sent a silence apart reach a
  // simulator that was slow to read as one run of bytes. Whole requests back to back are
  // taken one by one, each as having ended a request's wire time before the next.
  const size_t n = serialframe::RequestSize;
  const size_t count = kind_ == Kind::Pty && b.size() % n == 0 ? b.size() / n : 1;
  std::vector<serialframe::WireRequest> requests;
  for (size_t k = 0; k < count; ++k) {
    const auto wired = serialframe::DecodeRequest(b.data() + k * n, count == 1 ? b.size() : n);
    if (!wired) {
      server.countUnreadable();
      return;
    }
    requests.push_back(*wired);
  }
  for (size_t k = 0; k < count; ++k) {
    const serialframe::WireRequest& wired = requests[k];
    simproto::Request request;
    request.seq = wired.tag;
    request.rate = uint32_t(frame.rate);
    request.address = wired.address;
    request.command = wired.command;
    request.index = wired.index;
    request.data = wired.data;
    const auto ended = frame.end - wire::RequestTime(frame.rate) * int64_t(count - 1 - k);
    const auto served = server.serve(request, SimLogEntry::Serial, ended - wire::RequestTime(frame.rate));
    const std::vector<uint8_t> bytes = SerialAnswerBytes(served.outcome, wired);
    if (bytes.empty() || !served.wire.answer) continue;
    const simline::Span span = *served.wire.answer;
    if (kind_ == Kind::Device) {
      out_.push_back({wire_ == simline::Wire::Instant ? span.end : span.start, bytes});
      continue;
    }
    const auto character = wire_ == simline::Wire::Instant ? wire::nanoseconds(0) : wire::CharacterTime(frame.rate);
    for (size_t i = 0; i < bytes.size(); ++i) hand(span.start + character * int64_t(i + 1), bytes[i]);
  }
}

void SimSerialLine::flush(simline::TimePoint now) {
  while (!blocked_ && !out_.empty() && out_.front().due <= now) {
    std::vector<uint8_t>& bytes = out_.front().bytes;
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      out_.pop_front();  // the line is gone (a port unplugged): the answer is lost with it
      continue;
    }
    const size_t written = n > 0 ? size_t(n) : 0;
    if (kind_ == Kind::Device) {
      echo_.insert(echo_.end(), bytes.begin(), bytes.begin() + ptrdiff_t(written));
      // A USB adapter hands on what it heard up to its latency timer (16 ms) later.
      echoUntil_ = now + wire::AnswerFrameTime(lineRate()) + std::chrono::milliseconds(20);
    }
    if (written == bytes.size()) {
      out_.pop_front();
    } else {
      bytes.erase(bytes.begin(), bytes.begin() + ptrdiff_t(written));
      blocked_ = true;  // the reader has fallen behind: the rest goes when the line takes it
    }
  }
}
