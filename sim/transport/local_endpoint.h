#pragma once
// The local SOCK_SEQPACKET endpoint the other four stand-ins reach: each record is one request
// frame, answered on the same connection. Only the user's own processes are kept as clients.
// Served on SimServer's thread, which polls the listener and every client.

#include <chrono>
#include <string>
#include <vector>

class SimServer;

class SimLocalEndpoint {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds AcceptPause{100};  // after accept fails

  SimLocalEndpoint() = default;
  ~SimLocalEndpoint() { close(); }
  SimLocalEndpoint(const SimLocalEndpoint&) = delete;
  SimLocalEndpoint& operator=(const SimLocalEndpoint&) = delete;

  // Listens at path, taking over the socket a dead simulator left there. False with a
  // one-line reason (see TakeOverStaleSocket).
  bool open(const std::string& path, std::string* error);
  // The listener and every client; the socket file goes too.
  void close();

  // Serving thread only.
  bool listening() const { return listenFd_ >= 0; }
  int listenFd() const { return listenFd_; }
  // The listener is left unpolled until then after an accept failed.
  Clock::time_point pausedUntil() const { return pausedUntil_; }
  void accept();
  const std::vector<int>& clients() const { return clients_; }
  // The records a client sent, at most SimServer::ReceivesPerRound of them. False: the client
  // is gone and should be dropped.
  bool serve(SimServer& server, int fd);
  void drop(int fd);
  void closeClients();

 private:
  int listenFd_ = -1;
  bool ownsFile_ = false;
  std::string path_;
  Clock::time_point pausedUntil_{};
  std::vector<int> clients_;
};
