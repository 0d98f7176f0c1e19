// The control channel's socket: the client `qx510-sim ctl` uses and the server's listener.
#include "sim/control/sim_control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/text/errno_text.h"
#include "sim/protocol.h"

namespace {

constexpr size_t MaxLine = 4096;  // a request longer than this is no request

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string ErrorReply(const std::string& text) { return "{\"ok\":false,\"error\":\"" + text + "\"}\n"; }

// Best effort: a client that cannot take a short line at once is not waited for.
void SendLine(int fd, const std::string& line) {
  [[maybe_unused]] auto sent = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

bool SimControlRequest(const std::string& path, const std::string& line, std::string* reply, std::string* error,
                       int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const int s = simproto::ConnectLocalSocket(path, SOCK_STREAM, timeoutMs, ::geteuid());
  if (s == simproto::ForeignPeer) {
    SetError(error, "simulátor na " + path + " běží pod jiným uživatelem; nepoužije se");
    return false;
  }
  if (s < 0) {
    SetError(error, "na " + path + " neodpovídá žádný simulátor: " +
                        (s == -ETIMEDOUT ? "nepřijal spojení do " + std::to_string(timeoutMs) + " ms"
                                         : CzechErrnoText(-s)));
    return false;
  }
  const std::string out = line + "\n";
  bool ok = ::send(s, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == ssize_t(out.size());
  std::string in;
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
    SetError(error, "simulátor na " + path + " neodpověděl do " + std::to_string(timeoutMs) + " ms");
    return false;
  }
  *reply = in.substr(0, in.find('\n'));
  return true;
}

bool SimControlListener::start(const std::string& path, std::string* error) {
  path_ = path;
  if (limits_.user < 0) limits_.user = long(::geteuid());
  if (!TakeOverStaleSocket(path, SOCK_STREAM, error) || (listenFd_ = ListenPrivate(path, SOCK_STREAM, 16, error)) < 0)
    return false;
  ownsFile_ = true;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    SetError(error, "řídicí kanál " + path + ": " + CzechErrnoText(errno));
    stop();
    return false;
  }
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

// Waiting connections are accepted, so the backlog never fills; those beyond the limit and
// those of another user get their error line and are closed at once. A bounded number a
// round, so that a flood of connections cannot keep the clients held from being served.
// False when out of descriptors.
bool SimControlListener::acceptClients(std::vector<Client>& clients) {
  for (int round = 0; round < 64; ++round) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return errno != EMFILE && errno != ENFILE;
    }
    if (simproto::PeerUid(fd) != limits_.user) {
      SendLine(fd, ErrorReply("požadavky jiného uživatele simulátor nepřijímá"));
      ::close(fd);
    } else if (int(clients.size()) >= limits_.maxClients) {
      SendLine(fd, ErrorReply("řídicí kanál obsluhuje nejvýše " + std::to_string(limits_.maxClients) +
                              " klientů najednou"));
      ::close(fd);
    } else {
      clients.push_back({fd, {}, Clock::now(), false});
    }
  }
  return true;
}

bool SimControlListener::serve(Client& c) {
  char buffer[4096];
  const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  if (n <= 0) return false;
  c.pending.append(buffer, size_t(n));
  for (size_t eol; (eol = c.pending.find('\n')) != std::string::npos;) {
    c.lastRequest = Clock::now();
    const std::string request = c.pending.substr(0, eol);
    std::string reply = SimControlExecute(*server_, request);
    c.pending.erase(0, eol + 1);
    // A stream is served on its own thread from here on: the client leaves this list unclosed.
    if (SimTrafficStreams::IsRequest(request) && reply == R"({"ok":true})") {
      if (traffic_.adopt(c.fd, reply)) {
        c.fd = -1;
        return false;
      }
      reply = R"({"ok":false,"error":"provoz už sleduje nejvýše 8 klientů"})";
    }
    reply += "\n";
    // A client that does not read its replies is dropped rather than allowed to stall the channel.
    if (::send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != ssize_t(reply.size())) return false;
  }
  if (c.pending.size() > MaxLine) {
    SendLine(c.fd, ErrorReply("řádek požadavku je příliš dlouhý"));
    return false;
  }
  return true;
}

std::optional<SimControlListener::Clock::time_point> SimControlListener::idleDeadline(
    const std::vector<Client>& clients) const {
  std::optional<Clock::time_point> first;
  for (const auto& c : clients)
    if (!c.streaming && (!first || c.lastRequest + limits_.idle < *first)) first = c.lastRequest + limits_.idle;
  return first;
}

void SimControlListener::run() {
  std::vector<Client> clients;
  std::vector<pollfd> fds;
  auto acceptPausedUntil = Clock::time_point{};
  for (;;) {
    const auto now = Clock::now();
    const bool acceptNow = now >= acceptPausedUntil;
    fds.clear();
    fds.push_back({wakeRead_, POLLIN, 0});
    fds.push_back({acceptNow ? listenFd_ : -1, POLLIN, 0});
    for (const auto& c : clients) fds.push_back({c.fd, POLLIN, 0});
    auto wakeAt = idleDeadline(clients);
    if (!acceptNow && (!wakeAt || acceptPausedUntil < *wakeAt)) wakeAt = acceptPausedUntil;
    const int timeoutMs =
        wakeAt ? int(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(*wakeAt - now).count())) : -1;
    if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;
    std::vector<int> closed;
    for (size_t i = 2; i < fds.size(); ++i)
      if (fds[i].revents && !serve(clients[i - 2])) closed.push_back(clients[i - 2].fd);
    const auto after = Clock::now();
    for (const auto& c : clients)
      if (!c.streaming && after >= c.lastRequest + limits_.idle) closed.push_back(c.fd);
    for (int fd : closed)
      if (std::erase_if(clients, [&](const Client& c) { return c.fd == fd; }) > 0 && fd >= 0) ::close(fd);
    // Out of descriptors the listener stays readable though nothing can be accepted: it is
    // looked at again a little later instead of in a tight loop.
    if (fds[1].revents && !acceptClients(clients)) acceptPausedUntil = Clock::now() + std::chrono::milliseconds(100);
  }
  for (const auto& c : clients) ::close(c.fd);
}
