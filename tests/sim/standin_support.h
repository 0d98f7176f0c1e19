#pragma once
// Test helpers for the stand-in drivers: the seven entries of one library opened directly,
// a closed UDP port, and a scriptable LAN converter and local simulator that answer however a
// test wants.

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/text/codepage.h"
#include "drivers/driver_abi.h"
#include "sim/protocol.h"

inline const char* const StandinPrefixes[] = {"KSER660", "KISA660", "KBRD1660", "KCNV1660", "KNET1660"};

// One stand-in library, opened from the test executable's directory.
class StandinLib {
 public:
  explicit StandinLib(int kind) : kind_(kind) {
    const std::string prefix = StandinPrefixes[kind];
    const std::string path = QCoreApplication::applicationDirPath().toStdString() + "/" + prefix + ".DLL";
    lib_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib_) throw std::runtime_error("cannot load " + path + ": " + ::dlerror());
    auto sym = [&](const char* role) {
      void* p = ::dlsym(lib_, (prefix + "_" + role).c_str());
      if (!p) throw std::runtime_error(prefix + " lacks " + role);
      return p;
    };
    version = reinterpret_cast<DriverVersionFn>(sym("Version"));
    initRaw = sym("Init");
    setConfig = reinterpret_cast<DriverSetConfigFn>(sym("SetConfig"));
    getConfig = reinterpret_cast<DriverGetConfigFn>(sym("GetConfig"));
    send = reinterpret_cast<DriverSendFn>(sym("Send"));
    done = reinterpret_cast<DriverDoneFn>(sym("Done"));
    error = reinterpret_cast<DriverErrorFn>(sym("Error"));
  }
  ~StandinLib() {
    if (lib_) ::dlclose(lib_);
  }
  StandinLib(const StandinLib&) = delete;
  StandinLib& operator=(const StandinLib&) = delete;

  int kind() const { return kind_; }

  // Init the way the loader calls it for this kind. word0: serial port or ISA base.
  uint32_t initWord(uint32_t* handle, uint32_t word0) {
    return reinterpret_cast<DriverInitWordFn>(initRaw)(handle, word0);
  }
  uint32_t initPlain(uint32_t* handle) { return reinterpret_cast<DriverInitPlainFn>(initRaw)(handle); }
  uint32_t initBlock(uint32_t* handle, const uintptr_t* block) {
    return reinterpret_cast<DriverInitBlockFn>(initRaw)(handle, block);
  }
  // Init with sensible parameters; LAN: ip and port and a UDP timeout.
  uint32_t init(uint32_t* handle, const char* ip = "127.0.0.1", uint16_t port = 0, uint32_t udpTimeout = 20) {
    switch (kind_) {
      case 0: return initWord(handle, 1);
      case 1: return initWord(handle, 0x300);
      case 4: {
        std::array<uintptr_t, 16> block{};
        block[0] = reinterpret_cast<uintptr_t>(ip);
        block[1] = port;
        block[2] = udpTimeout;
        return initBlock(handle, block.data());
      }
      default: return initPlain(handle);
    }
  }

  struct Result {
    uint32_t returned = 0;
    uint32_t status = 0;
    std::array<uint8_t, 5> data{};  // Data0 from aux, Data1..4 from the response words
    std::array<uint32_t, 100> response{};
    uint32_t aux = 0;
  };
  Result exchange(uint32_t handle, std::array<uint32_t, 8> request) {
    Result r;
    r.response.fill(0xDEADBEEF);
    r.aux = 0xDEADBEEF;
    r.status = 0xDEADBEEF;
    r.returned = send(handle, request.data(), r.response.data(), &r.aux, &r.status);
    r.data = {uint8_t(r.aux), uint8_t(r.response[0]), uint8_t(r.response[1]), uint8_t(r.response[2]),
              uint8_t(r.response[3])};
    return r;
  }

  // The Error entry's text for a code, as UTF-8 (slot 0 is skipped when 0, as the tool reads it).
  std::string errorText(uint32_t code) {
    std::array<uint32_t, 100> buffer;
    buffer.fill(0xFFFFFFFF);
    if (error(code, buffer.data()) != 0) return "<Error failed>";
    QByteArray bytes;
    if (buffer[0] != 0) bytes.append(char(buffer[0]));
    for (size_t i = 1; i < buffer.size() && buffer[i] != 0; ++i) bytes.append(char(buffer[i] & 0xFF));
    return FromCp1250(bytes).toStdString();
  }

  DriverVersionFn version = nullptr;
  void* initRaw = nullptr;
  DriverSetConfigFn setConfig = nullptr;
  DriverGetConfigFn getConfig = nullptr;
  DriverSendFn send = nullptr;
  DriverDoneFn done = nullptr;
  DriverErrorFn error = nullptr;

 private:
  int kind_;
  void* lib_ = nullptr;
};

// A UDP port on 127.0.0.1 that nobody listens on (taken and released at once).
inline uint16_t ClosedUdpPort() {
  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// A LAN converter on 127.0.0.1 whose answers a test scripts: the script runs on the
// converter's thread for every well-formed request and may answer, stay silent, or send
// garbage, duplicates or answers from another socket.
class FakeConverter {
 public:
  using Script = std::function<void(FakeConverter&, int number, const simproto::Request&, const sockaddr_in& from)>;

  explicit FakeConverter(Script script) : script_(std::move(script)) {
    fd_ = openSocket();
    foreignFd_ = openSocket();
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~FakeConverter() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
    ::close(foreignFd_);
  }

  uint16_t port() const { return port_; }
  std::vector<simproto::Request> received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

  static simproto::Answer AnswerTo(const simproto::Request& r, std::array<uint8_t, 5> data, uint8_t status = 0) {
    simproto::Answer a;
    a.seq = r.seq;
    a.address = r.address;
    a.command = r.command;
    a.status = status;
    a.data = data;
    return a;
  }
  void reply(const sockaddr_in& to, const simproto::Answer& a, bool fromForeignPort = false) {
    const auto bytes = simproto::EncodeAnswer(a);
    sendRaw(to, bytes.data(), bytes.size(), fromForeignPort);
  }
  void sendRaw(const sockaddr_in& to, const void* bytes, size_t n, bool fromForeignPort = false) {
    ::sendto(fromForeignPort ? foreignFd_ : fd_, bytes, n, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }

 private:
  static int openSocket() {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return s;
  }
  void run() {
    int number = 0;
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      uint8_t buffer[256];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0) continue;
      const auto request = simproto::DecodeRequest(buffer, size_t(n));
      if (!request) continue;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(*request);
      }
      script_(*this, ++number, *request, from);
    }
  }

  Script script_;
  int fd_ = -1;
  int foreignFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<simproto::Request> received_;
  std::thread thread_;
};

// A simulator at a local endpoint whose answers a test scripts, as FakeConverter is for the LAN
// converter: the script runs on the simulator's thread for every well-formed request and
// answers on the connection it came by, or sends something else, or nothing.
class FakeLocalSimulator {
 public:
  using Script = std::function<void(FakeLocalSimulator&, int number, const simproto::Request&, int connection)>;

  FakeLocalSimulator(const std::string& path, Script script) : path_(path), script_(std::move(script)) {
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0)
      throw std::runtime_error("cannot listen on " + path);
    thread_ = std::thread([this] { run(); });
  }
  ~FakeLocalSimulator() {
    stop_ = true;
    thread_.join();
    for (int c : connections_) ::close(c);
    ::close(fd_);
    ::unlink(path_.c_str());
  }

  int connectionsAccepted() const { return accepted_; }
  std::vector<simproto::Request> received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

  static simproto::Answer AnswerTo(const simproto::Request& r, std::array<uint8_t, 5> data) {
    simproto::Answer a;
    a.seq = r.seq;
    a.address = r.address;
    a.command = r.command;
    a.data = data;
    return a;
  }
  void reply(int connection, const simproto::Answer& a) {
    const auto bytes = simproto::EncodeAnswer(a);
    sendRaw(connection, bytes.data(), bytes.size());
  }
  // n may be 0: a record of no bytes.
  void sendRaw(int connection, const void* bytes, size_t n) { ::send(connection, bytes, n, MSG_NOSIGNAL); }

 private:
  void run() {
    int number = 0;
    while (!stop_) {
      std::vector<pollfd> fds{{fd_, POLLIN, 0}};
      for (int c : connections_) fds.push_back({c, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), 10) <= 0) continue;
      if (fds[0].revents) {
        const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) {
          connections_.push_back(c);
          ++accepted_;
        }
      }
      for (size_t i = 1; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        uint8_t buffer[256];
        const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0 && (fds[i].revents & POLLHUP)) {  // the driver let go of the connection
          ::close(fds[i].fd);
          std::erase(connections_, fds[i].fd);
          continue;
        }
        const auto request = n > 0 ? simproto::DecodeRequest(buffer, size_t(n)) : std::nullopt;
        if (!request) continue;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          received_.push_back(*request);
        }
        script_(*this, ++number, *request, fds[i].fd);
      }
    }
  }

  std::string path_;
  Script script_;
  int fd_ = -1;
  std::vector<int> connections_;  // the simulator's thread only
  std::atomic<int> accepted_{0};
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<simproto::Request> received_;
  std::thread thread_;
};
