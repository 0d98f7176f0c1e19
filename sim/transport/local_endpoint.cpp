#include "sim/transport/local_endpoint.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "sim/protocol.h"
#include "sim/sim_server.h"
#include "sim/transport/local_socket.h"
#include "sim/transport/socket_reply.h"

bool SimLocalEndpoint::open(const std::string& path, std::string* error) {
  path_ = path;
  pausedUntil_ = {};
  if (!TakeOverStaleSocket(path_, SOCK_SEQPACKET, error)) return false;
  listenFd_ = ListenPrivate(path_, SOCK_SEQPACKET, 16, error);
  ownsFile_ = listenFd_ >= 0;
  return ownsFile_;
}

void SimLocalEndpoint::close() {
  closeClients();
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
  if (ownsFile_) ::unlink(path_.c_str());
  ownsFile_ = false;
}

void SimLocalEndpoint::accept() {
  for (int i = 0; i < SimServer::ReceivesPerRound; ++i) {
    const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c >= 0) {
      // The socket is the user's alone; only a privileged process of another user gets this far.
      if (simproto::PeerUid(c) == long(::geteuid()))
        clients_.push_back(c);
      else
        ::close(c);
      continue;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    // Out of descriptors, say: the connection stays queued and the listener stays readable,
    // so it is left alone for a while instead of being polled in a tight loop.
    if (errno != EAGAIN && errno != EWOULDBLOCK) pausedUntil_ = Clock::now() + AcceptPause;
    return;
  }
}

bool SimLocalEndpoint::serve(SimServer& server, int fd) {
  uint8_t buffer[512];
  for (int i = 0; i < SimServer::ReceivesPerRound; ++i) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    // A zero-length record from a client still connected is an unreadable request, counted
    // by the server like any other; only the end of the connection ends it.
    if (n == 0 && simproto::SeqpacketPeerGone(fd)) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    // `qx510-sim --probe` asks the simulator, not a module: answered at once, not logged.
    if (const auto probe = simproto::DecodeProbe(buffer, size_t(n), simproto::TypeProbe)) {
      const auto answer = simproto::EncodeProbe(simproto::TypeProbeAnswer, *probe);
      ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      continue;
    }
    server.serveSocketFrame(buffer, size_t(n), SimLogEntry::Local, SimSocketReply{fd, false, {}});
  }
  return true;
}

void SimLocalEndpoint::drop(int fd) {
  ::close(fd);
  std::erase(clients_, fd);
}

void SimLocalEndpoint::closeClients() {
  for (int c : clients_) ::close(c);
  clients_.clear();
}
