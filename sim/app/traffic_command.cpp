#include "sim/app/traffic_command.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/protocol.h"

namespace {
volatile std::sig_atomic_t stopSignal = 0;
void Stop(int signal) { stopSignal = signal; }
}  // namespace

int RunTrafficCommand(const std::string& controlPath, const std::string& line, int timeoutMs) {
  struct sigaction action {};
  action.sa_handler = Stop;  // no SA_RESTART: poll() returns at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  const int s = simproto::ConnectLocalSocket(controlPath, SOCK_STREAM, timeoutMs, ::geteuid());
  if (s < 0) {
    std::fprintf(stderr, "qx510-sim ctl: %s\n",
                 s == simproto::ForeignPeer ? ("simulátor na " + controlPath + " běží pod jiným uživatelem; nepoužije se").c_str()
                                            : ("na " + controlPath + " neodpovídá žádný simulátor").c_str());
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
  // The reply line is waited for as any request's; the records after it as long as it takes.
  const auto replyDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!stopSignal && (!first || std::chrono::steady_clock::now() < replyDue)) {
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
    std::fprintf(stderr, "qx510-sim ctl: simulátor na %s neodpověděl\n", controlPath.c_str());
    return 2;
  }
  return rc;
}
