#include "sim/app/traffic_command.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {
constexpr int ConnectTimeoutMs = 1000;
volatile std::sig_atomic_t stopSignal = 0;
void Stop(int signal) { stopSignal = signal; }

// A non-blocking connect bounded by ConnectTimeoutMs; -1 on failure.
int Connect(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return -1;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) return -1;
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return s;
  pollfd p{s, POLLOUT, 0};
  int error = 0;
  socklen_t len = sizeof error;
  if ((errno == EINPROGRESS || errno == EAGAIN) && ::poll(&p, 1, ConnectTimeoutMs) == 1 &&
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)
    return s;
  ::close(s);
  return -1;
}
}  // namespace

int RunTrafficCommand(const std::string& controlPath, const std::string& line) {
  struct sigaction action {};
  action.sa_handler = Stop;  // no SA_RESTART: poll() returns at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  const int s = Connect(controlPath);
  if (s < 0) {
    std::fprintf(stderr, "qx510-sim ctl: na %s neodpovídá žádný simulátor\n", controlPath.c_str());
    return 2;
  }
  const std::string out = line + "\n";
  if (::send(s, out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size())) {
    std::fprintf(stderr, "qx510-sim ctl: simulátor na %s nepřijal požadavek\n", controlPath.c_str());
    ::close(s);
    return 2;
  }
  bool first = true;
  int rc = 0;
  char buffer[65536];
  while (!stopSignal) {
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the simulator ended
    std::fwrite(buffer, 1, size_t(n), stdout);
    std::fflush(stdout);
    // The reply line comes first; an error reply ends the command.
    if (first && std::memchr(buffer, '\n', size_t(n))) {
      first = false;
      if (std::strncmp(buffer, "{\"ok\":true", 10) != 0) {
        rc = 1;
        break;
      }
    }
  }
  ::close(s);
  if (stopSignal) return 128 + stopSignal;
  if (first) {
    std::fprintf(stderr, "qx510-sim ctl: žádná odpověď z %s\n", controlPath.c_str());
    return 2;
  }
  return rc;
}
