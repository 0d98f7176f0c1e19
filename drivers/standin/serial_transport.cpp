#include "drivers/standin/serial_transport.h"

#include <errno.h>
#include <iconv.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "base/wire_time.h"
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
               "nastavte 1 ms (viz README, odstavec „Real RS-485 adapter“)\n",
               program_invocation_short_name, port.c_str(), device.c_str(), ms, ms);
}

std::string TtyName(const std::string& device) {
  const size_t slash = device.rfind('/');
  return slash == std::string::npos ? device : device.substr(slash + 1);
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
  const int latency = LatencyTimerMs(TtyName(device_));
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

uint32_t SerialLine::Exchange(const simproto::Request& request, uint32_t responseTimeoutMs, Reply& reply) {
  if (!tty_.isOpen())
    if (const uint32_t s = Open(rate_); s != Ok) return s;
  const auto frame = serialframe::EncodeRequest(request.address, request.command, request.index, request.data);
  SleepUntil(quietAt_);
  // Whatever came since the last exchange (an answer after its timeout) is nobody's now.
  ::tcflush(tty_.fd(), TCIFLUSH);
  // The response timeout holds the whole exchange, both frames' wire time included, as it does
  // through the simulator's sockets; the scan's try budget and the least timeout the programs
  // advise are reckoned the same way (base/wire_budget.h).
  const auto deadline = Clock::now() + std::chrono::milliseconds(responseTimeoutMs);
  if (const uint32_t s = Send(frame.data(), deadline); s != Ok) return s;
  return Receive(frame.data(), request.address, request.command, deadline, reply);
}

uint32_t SerialLine::Send(const uint8_t* frame, Clock::time_point deadline) {
  size_t sent = 0;
  while (sent < serialframe::Size) {
    const ssize_t n = ::write(tty_.fd(), frame + sent, serialframe::Size - sent);
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

uint32_t SerialLine::Receive(const uint8_t* request, uint8_t address, uint8_t command, Clock::time_point deadline,
                             Reply& reply) {
  const int32_t rate = int32_t(rate_);
  // A USB adapter hands bytes over in bursts up to its latency timer apart, and a loaded PC
  // passes received bytes on to the reader in bursts some milliseconds apart (the kernel moves
  // them from the port to the tty in a worker thread); a gap shorter than both is no end of a
  // frame.
  constexpr std::chrono::milliseconds HostJitter{10};
  const auto silence = wire::InterFrameSilence(rate) + std::chrono::milliseconds(latencyMs_) + HostJitter;
  uint8_t pending[64];
  size_t have = 0;
  bool echoDue = options_.echo, damaged = false, stale = false, collided = false;
  Clock::time_point lastByte = Clock::now();
  auto drop = [&](size_t n) {
    std::memmove(pending, pending + n, have - n);
    have -= n;
  };
  for (;;) {
    if (echoDue && have >= serialframe::Size) {
      // The adapter's copy of the request; any other bytes there mean a second sender spoke
      // at the same time, and the module heard what the adapter heard.
      collided = std::memcmp(pending, request, serialframe::Size) != 0;
      damaged = damaged || collided;
      if (collided) reply.keepRaw(pending, serialframe::Size);
      echoDue = false;
      drop(serialframe::Size);
    }
    while (!echoDue && have >= serialframe::Size) {
      const auto answer = serialframe::DecodeAnswer(pending, serialframe::Size);
      if (!answer) {
        // Not a frame from here: look for one starting at the next byte.
        damaged = true;
        reply.keepRaw(pending, 1);
        drop(1);
        continue;
      }
      drop(serialframe::Size);
      // Whatever answers a request spoilt on the wire does not answer ours; the exchange waits
      // out its time so that the line is quiet again before the next one.
      if (collided) continue;
      if (answer->address == address && answer->command == command) {
        quietAt_ = lastByte + wire::InterFrameSilence(rate);
        reply = AnswerReply(answer->status, answer->data);
        return Ok;
      }
      stale = true;  // a late answer to an earlier request
    }
    const auto now = Clock::now();
    if (now >= deadline) {
      quietAt_ = now;
      reply.keepRaw(pending, have);
      return damaged || have > 0 ? Damaged : stale ? Late : Timeout;
    }
    const int ready = WaitReadable(tty_.fd(), have > 0 ? std::min(deadline, lastByte + silence) : deadline);
    if (ready < 0) return Lost(EIO);
    if (ready == 0) {
      // Only a silence the tty confirms cuts a frame: a reader that woke late by its own clock
      // finds the rest of the frame already waiting.
      if (have > 0 && Clock::now() - lastByte >= silence) {
        damaged = true;  // a frame cut short
        reply.keepRaw(pending, have);
        echoDue = false;
        have = 0;
      }
      continue;
    }
    const ssize_t n = ::read(tty_.fd(), pending + have, sizeof pending - have);
    if (n > 0) {
      have += size_t(n);
      lastByte = Clock::now();
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
