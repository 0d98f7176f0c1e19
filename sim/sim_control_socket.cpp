// The control channel's socket: the client `qx510-sim ctl` uses and the server's listener.
#include "sim/sim_control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

constexpr size_t MaxLine = 4096;  // a request longer than this is no request

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

bool SocketAddress(const std::string& path, sockaddr_un& addr, std::string* error) {
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    SetError(error, "cesta řídicího soketu je příliš dlouhá: " + path);
    return false;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

bool SimControlRequest(const std::string& path, const std::string& line, std::string* reply, std::string* error,
                       int timeoutMs) {
  sockaddr_un addr{};
  if (!SocketAddress(path, addr, error)) return false;
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0 || ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    SetError(error, "na " + path + " neodpovídá žádný simulátor: " + std::strerror(errno));
    if (s >= 0) ::close(s);
    return false;
  }
  const std::string out = line + "\n";
  bool ok = ::send(s, out.data(), out.size(), MSG_NOSIGNAL) == ssize_t(out.size());
  std::string in;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (ok && in.find('\n') == std::string::npos) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    pollfd p{s, POLLIN, 0};
    char buffer[4096];
    ssize_t n = 0;
    ok = left > 0 && ::poll(&p, 1, int(left)) > 0 && (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;
    if (ok) in.append(buffer, size_t(n));
  }
  ::close(s);
  if (!ok) {
    SetError(error, "žádná odpověď z " + path);
    return false;
  }
  *reply = in.substr(0, in.find('\n'));
  return true;
}

bool SimControlListener::start(const std::string& path, std::string* error) {
  path_ = path;
  sockaddr_un addr{};
  if (!SocketAddress(path, addr, error)) return false;
  struct stat st{};
  if (::lstat(path.c_str(), &st) == 0) {
    // Only a socket nobody serves any more is taken over; any other file stays.
    std::string probeReply;
    if (!S_ISSOCK(st.st_mode) || SimControlRequest(path, "{\"cmd\":\"list\"}", &probeReply, nullptr, 200)) {
      SetError(error, S_ISSOCK(st.st_mode) ? "na " + path + " už odpovídá jiný simulátor"
                                           : path + " existuje a není soket");
      return false;
    }
    ::unlink(path.c_str());
  }
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int pipeFds[2];
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0 || ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    SetError(error, "řídicí soket " + path + ": " + std::strerror(errno));
    stop();
    return false;
  }
  ownsFile_ = true;
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  thread_ = std::thread([this] { run(); });
  return true;
}

void SimControlListener::stop() {
  if (thread_.joinable()) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(wakeWrite_, &byte, 1);
    thread_.join();
  }
  for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (ownsFile_) ::unlink(path_.c_str());
  ownsFile_ = false;
}

void SimControlListener::run() {
  struct Client {
    int fd;
    std::string pending;
  };
  std::vector<Client> clients;
  std::vector<pollfd> fds;
  auto acceptPausedUntil = std::chrono::steady_clock::time_point{};
  for (;;) {
    const bool acceptNow = std::chrono::steady_clock::now() >= acceptPausedUntil;
    fds.clear();
    fds.push_back({wakeRead_, POLLIN, 0});
    fds.push_back({acceptNow ? listenFd_ : -1, POLLIN, 0});
    for (const auto& c : clients) fds.push_back({c.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), acceptNow ? -1 : 100) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;
    if (fds[1].revents) {
      for (;;) {
        const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (c >= 0) {
          clients.push_back({c, {}});
          continue;
        }
        // Out of descriptors: try again a little later instead of spinning on the backlog.
        if (errno == EMFILE || errno == ENFILE) acceptPausedUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        break;
      }
    }
    std::vector<int> closed, handedOver;
    for (size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      Client& c = clients[i - 2];
      char buffer[4096];
      const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) {
        closed.push_back(c.fd);
        continue;
      }
      c.pending.append(buffer, size_t(n));
      bool drop = false;
      for (size_t eol; !drop && (eol = c.pending.find('\n')) != std::string::npos;) {
        const std::string request = c.pending.substr(0, eol);
        std::string reply = SimControlExecute(*server_, request);
        c.pending.erase(0, eol + 1);
        if (SimTrafficStreams::IsRequest(request) && reply == R"({"ok":true})") {
          if (traffic_.adopt(c.fd, reply)) {
            handedOver.push_back(c.fd);
            break;
          }
          reply = R"({"ok":false,"error":"provoz už sleduje nejvýše 8 klientů"})";
        }
        reply += "\n";
        // A client that does not read its replies is dropped rather than allowed to stall the channel.
        drop = ::send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != ssize_t(reply.size());
      }
      if (!handedOver.empty() && handedOver.back() == c.fd) continue;
      if (!drop && c.pending.size() > MaxLine) {
        const std::string reply = "{\"ok\":false,\"error\":\"řádek požadavku je příliš dlouhý\"}\n";
        [[maybe_unused]] auto sent = ::send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        drop = true;
      }
      if (drop) closed.push_back(c.fd);
    }
    for (int fd : closed) {
      ::close(fd);
      std::erase_if(clients, [&](const Client& c) { return c.fd == fd; });
    }
    for (int fd : handedOver) std::erase_if(clients, [&](const Client& c) { return c.fd == fd; });
  }
  for (const auto& c : clients) ::close(c.fd);
}
