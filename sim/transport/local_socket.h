#pragma once
// The simulator's two listening sockets (the exchange endpoint and the control channel):
// taking over the file a dead simulator left, and listening on a socket only its own user
// may reach.

#include <string>

// How long the simulator's own connects and requests wait for an answer by default.
constexpr int SimWaitMs = 1000;

// A socket left at path by a simulator that died is removed; a live simulator's socket, a
// stalled one (nothing accepted within SimWaitMs) and anything that is not a socket at all
// is left where it is, with a one-line reason. `type` is the socket's (SOCK_SEQPACKET,
// SOCK_STREAM).
bool TakeOverStaleSocket(const std::string& path, int type, std::string* error);

// A non-blocking listening socket of the given type at path, mode 0600 from the start
// whatever the umask: the descriptor, or -1 with a one-line reason.
int ListenPrivate(const std::string& path, int type, int backlog, std::string* error);
