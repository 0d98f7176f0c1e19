#include "sim/sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
}  // namespace

SimServer::SimServer(SimServerOptions options) : options_(std::move(options)) {}

SimServer::~SimServer() { stop(); }

bool SimServer::start(std::string* error) {
  if (running()) return true;

  if (!options_.statePath.empty()) {
    SimModule::Memory memory{};
    std::string why;
    if (LoadSimState(options_.statePath, memory, &why)) {
      module_.loadMemory(memory);
    } else if (::access(options_.statePath.c_str(), F_OK) == 0) {
      stateWarning_ = why;  // unreadable: start from the factory values, overwrite on change
    }
    savedGeneration_ = module_.memoryGeneration();
  }

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

void SimServer::stop() {
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
  uint8_t buffer[512];
  for (;;) {
    fds.clear();
    fds.push_back({wakeRead_, POLLIN, 0});
    if (udpFd_ >= 0) fds.push_back({udpFd_, POLLIN, 0});
    if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
    const size_t firstClient = fds.size();
    for (int c : clients) fds.push_back({c, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;

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
          if (const auto answer = process(*request, SimLogEntry::Lan)) {
            const auto bytes = simproto::EncodeAnswer(*answer);
            ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
          }
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
          if (const auto answer = process(*request, SimLogEntry::Local)) {
            const auto bytes = simproto::EncodeAnswer(*answer);
            ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
          }
        }
        if (closed) {
          ::close(fd);
          std::erase(clients, fd);
        }
      }
    }
  }
  for (int c : clients) ::close(c);
}

std::optional<simproto::Answer> SimServer::process(const simproto::Request& request, SimLogEntry::Channel channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto reply = module_.handle(request.address, request.rate, request.command, request.index, request.data);
  SimLogEntry entry;
  entry.channel = channel;
  entry.serial = ++requests_;
  entry.request = request;
  if (reply) {
    simproto::Answer answer;
    answer.seq = request.seq;
    answer.address = request.address;
    answer.command = request.command;
    answer.status = reply->status;
    answer.data = reply->data;
    entry.answer = answer;
  }
  log_.push_back(entry);
  if (log_.size() > LogCapacity) log_.pop_front();
  persistLocked();
  return entry.answer;
}

void SimServer::persistLocked() {
  if (options_.statePath.empty() || module_.memoryGeneration() == savedGeneration_) return;
  std::string why;
  if (SaveSimState(options_.statePath, module_.memory(), &why)) {
    savedGeneration_ = module_.memoryGeneration();
  } else {
    stateWarning_ = why;
  }
}

SimModule SimServer::snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return module_;
}

std::vector<SimLogEntry> SimServer::recentLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {log_.begin(), log_.end()};
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
