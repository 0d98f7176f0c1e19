#include "sim/transport/udp_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text/errno_text.h"
#include "sim/sim_server.h"
#include "sim/transport/socket_reply.h"

bool SimUdpPort::open(const std::string& host, int port, std::string* error) {
  const std::string where = host + ":" + std::to_string(port);
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    close();
    return false;
  };
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return fail(std::string("soket UDP: ") + CzechErrnoText(errno));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  if (port > 65535 || ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1)
    return fail("neplatná adresa UDP " + where);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    return fail("UDP " + where + ": " + CzechErrnoText(errno));
  socklen_t len = sizeof addr;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  return true;
}

void SimUdpPort::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void SimUdpPort::receive(SimServer& server) {
  uint8_t buffer[512];
  for (int i = 0; i < SimServer::ReceivesPerRound; ++i) {
    SimSocketReply reply{fd_, true, {}};
    socklen_t fromLen = sizeof reply.to;
    const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&reply.to), &fromLen);
    if (n < 0) return;
    server.serveSocketFrame(buffer, size_t(n), SimLogEntry::Lan, reply);
  }
}
