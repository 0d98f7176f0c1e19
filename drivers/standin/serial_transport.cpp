#include "drivers/standin/serial_transport.h"

#include <errno.h>
#include <iconv.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "base/wire/adapter_latency.h"
#include "base/wire/wire_time.h"
#include "sim/serial_frame.h"

namespace standin {
namespace {

using Clock = std::chrono::steady_clock;

// The last failure of each serial status, as the Error entry names it (UTF-8).
std::mutex failureMutex;
std::map<uint32_t, std::string> failureTexts;

std::string ReasonText(uint32_t status, int err, pid_t holder, uint32_t rate) {
  switch (status) {
    case DeviceMissing: return "Sériové zařízení neexistuje";
    case DeviceDenied: return "K sériovému zařízení chybí oprávnění (skupina dialout)";
    case DeviceBusy:
      return holder > 0 ? "Sériové zařízení drží jiný program (PID " + std::to_string(holder) + ")"
                        : "Sériové zařízení drží jiný program";
    case NotATty: return "Zařízení není sériové";
    case DeviceLost: return "Sériové zařízení bylo odpojeno";
    case DeviceFailed: {
      const char* name = err > 0 ? ::strerrorname_np(err) : nullptr;
      return name ? std::string("Chyba sériového zařízení (") + name + ")" : "Chyba sériového zařízení";
    }
    case RateUnsupported:
      return rate > 0 ? "Sériové zařízení nepodporuje " + std::to_string(rate) + " Bd"
                      : "Sériové zařízení nepodporuje tuto rychlost";
    case BadPortMap: return std::string("Chyba v souboru ") + portmap::FileName;
    default: return {};
  }
}

void RememberFailure(uint32_t status, const std::string& text) {
  std::lock_guard<std::mutex> lock(failureMutex);
  failureTexts[status] = text;
}

std::string ToCp1250(const std::string& utf8) {
  iconv_t cd = ::iconv_open("WINDOWS-1250//TRANSLIT", "UTF-8");
  if (cd == iconv_t(-1)) return utf8;
  std::string out(utf8.size() + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* to = out.data();
  size_t toLeft = out.size();
  while (inLeft > 0 && ::iconv(cd, &in, &inLeft, &to, &toLeft) == size_t(-1)) {
    if (errno != EILSEQ && errno != EINVAL) break;
    ++in;  // a byte that is no UTF-8 (a device name in another encoding) is left out
    --inLeft;
  }
  ::iconv_close(cd);
  out.resize(out.size() - toLeft);
  return out;
}

// A USB adapter that collects bytes for its latency timer makes every exchange wait so much
// longer; the tool cannot change it (root can), so the user is told once per device. The
// driver's entries have no warning channel (a non-zero Init fails), so it goes to the
// program's standard error.
void WarnAboutLatency(const std::string& port, const std::string& device, int ms) {
  static std::mutex mutex;
  static std::set<std::string> warned;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!warned.insert(device).second) return;
  }
  std::fprintf(stderr,
               "%s: %s (%s): časovač latence adaptéru USB je %d ms a prodlouží každou výměnu až o %d ms; "
               "nastavte 1 ms (viz man qx510, oddíl SÉRIOVÉ ZAŘÍZENÍ)\n",
               program_invocation_short_name, port.c_str(), device.c_str(), ms, ms);
}

// Waits for input until `until`: 1 readable, 0 the time is up, -1 the device hung up.
int WaitReadable(int fd, Clock::time_point until) {
  for (;;) {
    const auto left = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now()).count());
    const timespec ts{time_t(left / 1'000'000'000), long(left % 1'000'000'000)};
    pollfd p{fd, POLLIN, 0};
    const int n = ::ppoll(&p, 1, &ts, nullptr);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? -1 : 0;
    // Input that is still there is read first; the read then tells a hangup.
    return (p.revents & POLLIN) ? 1 : -1;
  }
}

void SleepUntil(Clock::time_point t) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  const timespec ts{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
  // steady_clock is CLOCK_MONOTONIC on Linux.
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

// What came on the line during one exchange, cut into frames.
struct Pending {
  uint8_t bytes[64];
  size_t have = 0;
  std::chrono::steady_clock::time_point lastByte;
  void drop(size_t n) {
    std::memmove(bytes, bytes + n, have - n);
    have -= n;
  }
};

bool Gone(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE; }

}  // namespace

MappedPort FindMappedPort(const std::string& portName) {
  MappedPort out;
  const std::string path = portmap::DefaultPath();
  if (path.empty()) return out;
  const portmap::PortMap map = portmap::Load(path);
  if (!map.ok()) {
    const auto& e = map.error;
    std::string text = ReasonText(BadPortMap, 0, 0, 0);
    if (e.line > 0) text += ", řádek " + std::to_string(e.line);
    RememberFailure(BadPortMap, text + ": " + portmap::Describe(e));
    out.status = BadPortMap;
    return out;
  }
  out.port = portmap::Find(map, portName);
  return out;
}

SerialLine::SerialLine(std::string portName, portmap::PortOptions options)
    : portName_(std::move(portName)), options_(std::move(options)), device_(RealDevicePath(options_.device)) {}

uint32_t SerialLine::Open(uint32_t rate) {
  // The path may lead elsewhere after an adapter was plugged in again.
  device_ = RealDevicePath(options_.device);
  TtyFailure failure;
  if (const uint32_t s = tty_.Open(device_, rate, options_.rs485, failure); s != Ok) {
    RememberFailure(s, ReasonText(s, failure.err, failure.holder, rate) + ": " + device_);
    return s;
  }
  rate_ = rate;
  const int latency = AdapterLatencyMs(device_);
  latencyMs_ = std::max(latency, 0);
  if (options_.latencyWarning && latency > 1) WarnAboutLatency(portName_, device_, latency);
  quietAt_ = Clock::now();
  return Ok;
}

uint32_t SerialLine::SetRate(uint32_t rate) {
  if (tty_.isOpen()) {
    if (const uint32_t s = tty_.SetRate(rate); s != Ok) {
      RememberFailure(s, ReasonText(s, errno, 0, rate) + ": " + device_);
      return s;
    }
  }
  rate_ = rate;
  return Ok;
}

uint32_t SerialLine::Lost(int err) {
  const uint32_t s = Gone(err) ? DeviceLost : DeviceFailed;
  RememberFailure(s, ReasonText(s, err, 0, rate_) + ": " + device_);
  tty_.Close();
  return s;
}

// A USB adapter hands bytes over in bursts up to its latency timer apart, and a loaded PC
// passes received bytes on to the reader in bursts some milliseconds apart (the kernel moves
// them from the port to the tty in a worker thread); a gap shorter than both is no end of a
// frame.
SerialLine::Clock::duration SerialLine::FrameGap() const {
  constexpr std::chrono::milliseconds HostJitter{10};
  return wire::InterFrameSilence(int32_t(rate_)) + std::chrono::milliseconds(latencyMs_) + HostJitter;
}

uint32_t SerialLine::Exchange(const simproto::Request& request, uint32_t responseTimeoutMs, Reply& reply) {
  if (!tty_.isOpen())
    if (const uint32_t s = Open(rate_); s != Ok) return s;
  const int32_t rate = int32_t(rate_);
  const serialframe::WireRequest wanted{++tag_, request.address, request.command, request.index, request.data};
  const auto frame = serialframe::EncodeRequest(wanted);
  SleepUntil(quietAt_);
  bool strayHeard = false;
  if (const uint32_t s = Settle(strayHeard); s != Ok) return s;
  const auto sentAt = Clock::now();
  const auto onWire = wire::RequestTime(rate);
  if (const uint32_t s = Send(frame.data(), frame.size(), sentAt + onWire + std::chrono::milliseconds(responseTimeoutMs));
      s != Ok)
    return s;
  // The timeout is the module's time: it starts when the request's last bit has left, which
  // is no sooner than its wire time after the first, and no sooner than the port's queue drained.
  const auto requestEnd = std::max(Drained(sentAt + onWire + FrameGap()), sentAt + onWire);
  // The first byte has arrived one character after it began, and an adapter may hold it back
  // for its latency timer.
  const auto firstByteBy = requestEnd + std::chrono::milliseconds(responseTimeoutMs) +
                           std::chrono::milliseconds(latencyMs_) + wire::CharacterTime(rate);
  const uint32_t s = Receive(frame, wanted, sentAt, firstByteBy, reply);
  return s == Timeout && strayHeard ? Late : s;
}

// Whatever came since the last exchange ended is nobody's now; but while it still comes the
// line is not quiet, and a request sent into it would meet it. A line that never falls silent
// fails the exchange before anything is sent.
uint32_t SerialLine::Settle(bool& heard) {
  uint8_t drop[64];
  Clock::time_point last{}, bound{};
  for (;;) {
    // A raw tty reads 0 when nothing is there as well as when it was hung up: it is read only
    // once it says it holds something.
    const int ready = WaitReadable(tty_.fd(), Clock::now());
    if (ready < 0) return Lost(EIO);
    const ssize_t n = ready > 0 ? ::read(tty_.fd(), drop, sizeof drop) : -1;
    if (ready == 0) errno = EAGAIN;
    if (n > 0) {
      last = Clock::now();
      if (!heard) bound = last + wire::AnswerFrameTime(int32_t(rate_)) + 2 * FrameGap();
      heard = true;
      continue;
    }
    if (n == 0) return Lost(EIO);
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return Lost(errno);
    if (!heard || Clock::now() - last >= FrameGap()) return Ok;
    if (Clock::now() >= bound) return Damaged;
    if (WaitReadable(tty_.fd(), std::min(bound, last + FrameGap())) < 0) return Lost(EIO);
  }
}

uint32_t SerialLine::Send(const uint8_t* frame, size_t size, Clock::time_point deadline) {
  size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::write(tty_.fd(), frame + sent, size - sent);
    if (n > 0) {
      sent += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return Lost(errno);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return Timeout;
    pollfd p{tty_.fd(), POLLOUT, 0};
    if (::poll(&p, 1, int(left)) > 0 && (p.revents & (POLLHUP | POLLERR))) return Lost(EIO);
  }
  return Ok;
}

// tcdrain() without its unbounded wait: on a pseudo-terminal whose other end stopped reading
// the queue never empties.
SerialLine::Clock::time_point SerialLine::Drained(Clock::time_point bound) {
  const auto step = std::max<Clock::duration>(wire::CharacterTime(int32_t(rate_)), std::chrono::microseconds(50));
  for (;;) {
    int queued = 0;
    const auto now = Clock::now();
    if (::ioctl(tty_.fd(), TIOCOUTQ, &queued) != 0 || queued <= 0 || now >= bound) return now;
    SleepUntil(std::min(bound, now + step * queued));
  }
}


uint32_t SerialLine::Receive(const serialframe::RequestFrame& frame, const serialframe::WireRequest& request,
                             Clock::time_point sentAt, Clock::time_point firstByteBy, Reply& reply) {
  const int32_t rate = int32_t(rate_);
  const auto gap = FrameGap();
  const auto answerTime = wire::AnswerFrameTime(rate);
  // No answer can be whole before both frames and the silence between them have crossed the wire.
  const auto earliest = sentAt + wire::RequestTime(rate) + wire::InterFrameSilence(rate) + answerTime;
  // A frame begun just before the timeout may still come whole; this long and no longer.
  const auto lastChance = firstByteBy + answerTime + gap;
  Pending in;
  in.lastByte = sentAt;
  bool echoDue = options_.echo, damaged = false, stale = false, collided = false;
  // Once given up, the exchange keeps the line until the answer it gave up on would have
  // passed, dropping whatever comes; an answer of its own that comes then is late, never data.
  std::optional<Clock::time_point> gaveUp;
  bool cameLate = false, heardSince = false;
  auto damage = [&](size_t n) {
    damaged = true;
    reply.keepRaw(in.bytes, n);
    in.drop(n);
  };
  for (;;) {
    if (echoDue && in.have >= serialframe::RequestSize) {
      // The adapter's copy of the request; any other bytes there mean a second sender spoke
      // at the same time, and the module heard what the adapter heard.
      collided = std::memcmp(in.bytes, frame.data(), frame.size()) != 0;
      if (collided) damage(frame.size()); else in.drop(frame.size());
      echoDue = false;
    }
    while (!echoDue && in.have > 0) {
      const uint8_t mark = in.bytes[0];
      if (mark == serialframe::AnswerMark && in.have < serialframe::AnswerSize) break;
      if (mark == serialframe::RequestMark && in.have < serialframe::RequestSize) break;
      if (const auto answer = mark == serialframe::AnswerMark ? serialframe::DecodeAnswer(in.bytes, serialframe::AnswerSize)
                                                              : std::nullopt) {
        const bool ours = serialframe::Answers(*answer, request);
        if (!simproto::ModuleStatus::Known(answer->status) || (!ours && answer->tag == request.tag) ||
            (ours && !gaveUp && in.lastByte < earliest)) {
          // A status no module answers, a frame with this request's tag that names another,
          // or one quicker than the wire: none of them is what the module said.
          damage(serialframe::AnswerSize);
          continue;
        }
        in.drop(serialframe::AnswerSize);
        // Whatever answers a request spoilt on the wire does not answer ours.
        if (collided) continue;
        if (ours && gaveUp) {
          cameLate = true;
        } else if (ours) {
          quietAt_ = in.lastByte + wire::InterFrameSilence(rate);
          reply = AnswerReply(answer->status, answer->data);
          return Ok;
        } else {
          stale = true;  // the late answer to an earlier request, or to another master's
        }
        continue;
      }
      if (mark == serialframe::RequestMark && std::memcmp(in.bytes, frame.data(), frame.size()) == 0) {
        in.drop(frame.size());  // our own request handed back by the line, whatever the mapping says
        continue;
      }
      damage(1);  // not a frame from here: look for one starting at the next byte
    }

    const auto now = Clock::now();
    if (!gaveUp && (in.have == 0 ? now >= firstByteBy : now >= lastChance)) {
      gaveUp = now;
      if (in.have > 0) damage(in.have);
    }
    const auto waitOutEnd = gaveUp ? *gaveUp + answerTime + std::chrono::milliseconds(latencyMs_) : now;
    if (gaveUp) {
      const bool quiet = in.have == 0 && (!heardSince || now - in.lastByte >= gap);
      const bool flooded = now >= waitOutEnd + answerTime + 2 * gap;
      if ((now >= waitOutEnd && quiet) || flooded) {
        if (flooded) damage(in.have);
        quietAt_ = std::max(now, in.lastByte + wire::InterFrameSilence(rate));
        return damaged ? Damaged : (stale || cameLate) ? Late : Timeout;
      }
    }
    Clock::time_point until;
    if (!gaveUp)
      until = in.have > 0 ? std::min(lastChance, in.lastByte + gap) : firstByteBy;
    else
      until = heardSince ? std::max(waitOutEnd, in.lastByte + gap) : waitOutEnd;
    const int ready = WaitReadable(tty_.fd(), until);
    if (ready < 0) return Lost(EIO);
    if (ready == 0) {
      // Only a silence the tty confirms cuts a frame: a reader that woke late by its own clock
      // finds the rest of the frame already waiting.
      if (in.have > 0 && Clock::now() - in.lastByte >= gap) {
        damage(in.have);  // a frame cut short
        echoDue = false;
      }
      continue;
    }
    const ssize_t n = ::read(tty_.fd(), in.bytes + in.have, sizeof in.bytes - in.have);
    if (n > 0) {
      in.have += size_t(n);
      in.lastByte = Clock::now();
      heardSince = heardSince || gaveUp.has_value();
    } else if (n == 0) {
      return Lost(EIO);  // a tty that was hung up reads as its end
    } else if (errno != EAGAIN && errno != EINTR) {
      return Lost(errno);
    }
  }
}

std::string SerialErrorText(uint32_t code) {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(failureMutex);
    if (const auto it = failureTexts.find(code); it != failureTexts.end()) text = it->second;
  }
  if (text.empty()) text = ReasonText(code, 0, 0, 0);
  return text.empty() ? text : ToCp1250(text);
}

}  // namespace standin
