#pragma once
// The UDP socket the LAN converter's stand-in (KNET1660.DLL) reaches: each datagram is one
// request frame, answered to the address it came from. Served on SimServer's thread, which
// polls fd() and calls receive().

#include <cstdint>
#include <string>

class SimServer;

class SimUdpPort {
 public:
  SimUdpPort() = default;
  ~SimUdpPort() { close(); }
  SimUdpPort(const SimUdpPort&) = delete;
  SimUdpPort& operator=(const SimUdpPort&) = delete;

  // Binds host:port, port 0 meaning a free one. False with a one-line reason.
  bool open(const std::string& host, int port, std::string* error);
  void close();
  int fd() const { return fd_; }
  uint16_t port() const { return port_; }  // the port bound, still known once closed

  // Serving thread: the datagrams that wait, at most SimServer::ReceivesPerRound of them.
  void receive(SimServer& server);

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};
