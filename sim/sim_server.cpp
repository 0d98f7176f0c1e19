#include "sim/sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "sim/sim_control.h"
#include "sim/state_file.h"

namespace {
void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

bool FillUnixAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

constexpr int AddrBaudCode = 62;
constexpr int AddrBusAddress = 63;

using Clock = std::chrono::steady_clock;
}  // namespace

// An answer held back by a delay fault until its time comes.
struct SimServer::Delayed {
  Clock::time_point due;
  int fd = -1;  // the UDP socket or the local client
  sockaddr_in to{};
  bool udp = false;
  std::vector<uint8_t> frame;
};

SimServer::SimServer(SimServerOptions options) : options_(std::move(options)) {}

SimServer::~SimServer() { stop(); }

bool SimServer::start(std::string* error) {
  if (running()) return true;

  if (!loadLine(error)) return false;

  if (options_.udpPort >= 0) {
    udpFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (udpFd_ < 0) {
      SetError(error, Errno("UDP socket"));
      closeAll();
      return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(options_.udpPort));
    if (options_.udpPort > 65535 || ::inet_pton(AF_INET, options_.udpHost.c_str(), &addr.sin_addr) != 1) {
      SetError(error, "invalid UDP address " + options_.udpHost + ":" + std::to_string(options_.udpPort));
      closeAll();
      return false;
    }
    if (::bind(udpFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      SetError(error, Errno("UDP " + options_.udpHost + ":" + std::to_string(options_.udpPort)));
      closeAll();
      return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(udpFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    boundPort_ = ntohs(addr.sin_port);
  }

  if (options_.serveLocal) {
    localPath_ = options_.localPath.empty() ? simproto::DefaultEndpointPath() : options_.localPath;
    sockaddr_un addr{};
    if (!FillUnixAddress(localPath_, addr)) {
      SetError(error, "endpoint path too long: " + localPath_);
      closeAll();
      return false;
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0) {
      SetError(error, Errno("local socket"));
      closeAll();
      return false;
    }
    if (::access(localPath_.c_str(), F_OK) == 0) {
      // A socket file left by a simulator that died is taken over; a live one is not.
      if (const int probe = simproto::ConnectEndpoint(localPath_); probe >= 0) {
        ::close(probe);
        SetError(error, "another simulator already answers on " + localPath_);
        closeAll();
        return false;
      }
      ::unlink(localPath_.c_str());
    }
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 16) != 0) {
      SetError(error, Errno("local endpoint " + localPath_));
      closeAll();
      return false;
    }
    ownsSocketFile_ = true;
  }

  if (options_.serveLocal && options_.serveControl) {
    controlPath_ = options_.controlPath.empty() ? localPath_ + ".ctl" : options_.controlPath;
    control_ = std::make_unique<SimControlListener>(this);
    if (!control_->start(controlPath_, error)) {
      control_.reset();
      closeAll();
      return false;
    }
  }

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    SetError(error, Errno("pipe"));
    closeAll();
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  thread_ = std::thread([this] { run(); });
  return true;
}

// The line to start with: the state file's, the options' (each keeping its saved memory when
// one was saved alike), or one factory module.
bool SimServer::loadLine(std::string* error) {
  std::vector<SimModule::Memory> saved;
  if (!options_.statePath.empty()) {
    std::string why;
    if (!LoadSimState(options_.statePath, saved, &why) && ::access(options_.statePath.c_str(), F_OK) == 0)
      stateWarning_ = why;  // unreadable: start from the factory values, overwrite on change
  }
  std::vector<SimModule::Memory> line;
  for (const auto& spec : options_.modules) {
    const auto same = std::find_if(saved.begin(), saved.end(), [&](const SimModule::Memory& m) {
      return m[AddrBusAddress] == spec.address && m[AddrBaudCode] == spec.baudCode;
    });
    SimModule::Memory memory = SimModule::FactoryMemory();
    memory[AddrBusAddress] = spec.address;
    memory[AddrBaudCode] = spec.baudCode;
    line.push_back(same != saved.end() ? *same : memory);
  }
  if (line.empty()) line = saved;
  if (!line.empty()) {
    std::string why;
    if (!bus_.replace(line, &why)) {
      if (options_.modules.empty()) {
        stateWarning_ = options_.statePath + ": " + why;  // a hand-edited file; the factory line
      } else {
        SetError(error, why);
        return false;
      }
    }
  }
  // Nothing is written before the line differs from the file (an unreadable file included).
  saved_ = options_.modules.empty() || !stateWarning_.empty() ? bus_.memories() : saved;
  persistLocked();
  return true;
}

void SimServer::stop() {
  if (control_) control_->stop();
  control_.reset();
  if (thread_.joinable()) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(wakeWrite_, &byte, 1);
    thread_.join();
  }
  closeAll();
}

void SimServer::closeAll() {
  CloseFd(udpFd_);
  CloseFd(listenFd_);
  CloseFd(wakeRead_);
  CloseFd(wakeWrite_);
  if (ownsSocketFile_) ::unlink(localPath_.c_str());
  ownsSocketFile_ = false;
}

void SimServer::run() {
  std::vector<int> clients;
  std::vector<pollfd> fds;
  std::vector<Delayed> delayed;  // few at a time: a delay fault is a trainer's tool
  uint8_t buffer[512];
  auto deliver = [](const Delayed& d) {
    if (d.udp)
      ::sendto(d.fd, d.frame.data(), d.frame.size(), 0, reinterpret_cast<const sockaddr*>(&d.to), sizeof d.to);
    else
      ::send(d.fd, d.frame.data(), d.frame.size(), MSG_NOSIGNAL);
  };
  // Sends the answer now, or queues it when a delay fault holds it back.
  auto answer = [&](const SimBus::Outcome& outcome, int fd, const sockaddr_in* to) {
    if (outcome.frame.empty()) return;
    Delayed d{Clock::now() + std::chrono::milliseconds(outcome.delayMs), fd, {}, to != nullptr, outcome.frame};
    if (to) d.to = *to;
    if (outcome.delayMs > 0)
      delayed.push_back(std::move(d));
    else
      deliver(d);
  };
  for (;;) {
    fds.clear();
    fds.push_back({wakeRead_, POLLIN, 0});
    if (udpFd_ >= 0) fds.push_back({udpFd_, POLLIN, 0});
    if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
    const size_t firstClient = fds.size();
    for (int c : clients) fds.push_back({c, POLLIN, 0});
    int timeoutMs = -1;
    if (!delayed.empty()) {
      const auto next = std::min_element(delayed.begin(), delayed.end(),
                                         [](const Delayed& a, const Delayed& b) { return a.due < b.due; })->due;
      timeoutMs = int(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count()));
    }
    if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;

    const auto now = Clock::now();
    for (const auto& d : delayed)
      if (d.due <= now) deliver(d);
    std::erase_if(delayed, [&](const Delayed& d) { return d.due <= now; });

    for (size_t i = 1; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      const int fd = fds[i].fd;
      if (fd == udpFd_) {
        // Drain what is there; one answer per request, back to its sender.
        for (;;) {
          sockaddr_in from{};
          socklen_t fromLen = sizeof from;
          const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
          if (n < 0) break;
          const auto request = simproto::DecodeRequest(buffer, size_t(n));
          if (!request) {
            ++malformed_;
            continue;
          }
          answer(process(*request, SimLogEntry::Lan), fd, &from);
        }
      } else if (fd == listenFd_) {
        for (;;) {
          const int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
          if (c < 0) break;
          clients.push_back(c);
        }
      } else if (i >= firstClient) {
        bool closed = (fds[i].revents & (POLLHUP | POLLERR)) != 0 && !(fds[i].revents & POLLIN);
        while (!closed) {
          const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
          if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            closed = true;
            break;
          }
          if (n < 0) break;
          const auto request = simproto::DecodeRequest(buffer, size_t(n));
          if (!request) {
            ++malformed_;
            continue;
          }
          answer(process(*request, SimLogEntry::Local), fd, nullptr);
        }
        if (closed) {
          // Its held-back answers die with it, before the descriptor number is reused.
          std::erase_if(delayed, [&](const Delayed& d) { return !d.udp && d.fd == fd; });
          ::close(fd);
          std::erase(clients, fd);
        }
      }
    }
  }
  for (int c : clients) ::close(c);
}

SimBus::Outcome SimServer::process(const simproto::Request& request, SimLogEntry::Channel channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  PersistGuard guard{this};
  SimBus::Outcome outcome = bus_.dispatch(request);
  SimLogEntry entry;
  entry.channel = channel;
  entry.serial = ++requests_;
  entry.request = request;
  entry.answer = outcome.answer;
  entry.module = outcome.module;
  entry.note = outcome.note;
  log_.push_back(std::move(entry));
  if (log_.size() > LogCapacity) log_.pop_front();
  return outcome;
}

void SimServer::persistLocked() {
  if (options_.statePath.empty()) return;
  auto line = bus_.memories();
  if (line == saved_) return;
  std::string why;
  if (SaveSimState(options_.statePath, line, &why)) {
    saved_ = std::move(line);
  } else {
    stateWarning_ = why;
  }
}

void SimServer::notifyChanged() {
  std::lock_guard<std::mutex> lock(listenerMutex_);
  if (listener_) listener_();
}

void SimServer::setChangeListener(std::function<void()> listener) {
  std::lock_guard<std::mutex> lock(listenerMutex_);
  listener_ = std::move(listener);
}

SimModule SimServer::snapshot(int index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bus_.module(index);
}

SimBus SimServer::busSnapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bus_;
}

int SimServer::moduleCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bus_.size();
}

std::vector<SimLogEntry> SimServer::recentLog() const { return logSince(0); }

std::vector<SimLogEntry> SimServer::logSince(uint64_t serial) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto first = std::find_if(log_.begin(), log_.end(), [&](const SimLogEntry& e) { return e.serial > serial; });
  return {first, log_.end()};
}

void SimServer::setSourceVoltage(double volts) {
  withModule([&](SimModule& m) { m.setSourceVoltage(volts); });
}
void SimServer::setSourceCurrent(double milliamps) {
  withModule([&](SimModule& m) { m.setSourceCurrent(milliamps); });
}
void SimServer::setShortCircuit(bool on) {
  withModule([&](SimModule& m) { m.setShortCircuit(on); });
}
void SimServer::setInputSwitches(uint32_t switches) {
  withModule([&](SimModule& m) { m.setInputSwitches(switches); });
}
void SimServer::raiseStatusBits(uint32_t mask) {
  withModule([&](SimModule& m) { m.raiseStatusBits(mask); });
}
void SimServer::setPowered(bool on) {
  withModule([&](SimModule& m) { m.setPowered(on); });
}
void SimServer::powerCycle() {
  withModule([](SimModule& m) { m.powerCycle(); });
}
