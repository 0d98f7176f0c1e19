#include "sim/transport/socket_reply.h"

#include <sys/socket.h>

void SimSocketReply::deliver(const std::vector<uint8_t>& frame) const {
  if (udp)
    ::sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  else
    ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
}
