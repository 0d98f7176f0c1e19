#pragma once
// Where the answer to a request that came over a socket goes: back to the sender's UDP
// address, or down the local client's connection. It travels with the answer while the wire
// or a delay fault holds the answer back.

#include <netinet/in.h>

#include <cstdint>
#include <vector>

struct SimSocketReply {
  int fd = -1;  // the UDP socket or the local client
  bool udp = false;
  sockaddr_in to{};  // the UDP sender

  void deliver(const std::vector<uint8_t>& frame) const;
};
