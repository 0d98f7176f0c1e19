#pragma once
// Wire format between the stand-in drivers and the simulated module. Plain C++ with no Qt so
// that the driver libraries can include it.
//
// One request frame goes out and at most one answer frame comes back, over UDP (the LAN
// converter) or over a local SOCK_SEQPACKET socket (the other four interfaces). Multi-byte
// fields are little-endian.
//
//   request (22 bytes): 'Q' 'X' version type=1 | seq u32 | rate u32 (Bd) |
//                       address command index d0 d1 d2 d3 d4 | crc u16
//   answer  (18 bytes): 'Q' 'X' version type=2 | seq u32 | address command status
//                       d0 d1 d2 d3 d4 | crc u16
//
//   probe   (10 bytes): 'Q' 'X' version type=3 | seq u32 | crc u16
//   probe answer (10 bytes): 'Q' 'X' version type=4 | seq u32 | crc u16
//
// A probe is answered by the simulator itself, on its local endpoint only, whatever the line
// holds (no module is asked, nothing is logged or counted): `qx510-sim --probe` tells by it a
// simulator that answers from a listener that only takes connections. The drivers never send
// one.
//
// The sequence number is the client's; the answer echoes it together with the address and
// command, so a client can tell its answer from a late one to an earlier request. The CRC
// (CRC-16/CCITT: polynomial 0x1021, initial value 0xFFFF) covers every byte before it, so
// a frame spoilt on its way is never taken for a good one; it catches every odd number of
// flipped bits and every burst of up to 16.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "sim/runtime_dir.h"

namespace simproto {

constexpr uint8_t Magic0 = 'Q';
constexpr uint8_t Magic1 = 'X';
constexpr uint8_t Version = 2;
constexpr uint8_t TypeRequest = 1;
constexpr uint8_t TypeAnswer = 2;
constexpr size_t RequestSize = 22;
constexpr size_t AnswerSize = 18;
constexpr size_t CrcSize = 2;
constexpr uint8_t TypeProbe = 3;
constexpr uint8_t TypeProbeAnswer = 4;
constexpr size_t ProbeSize = 10;

constexpr uint16_t DefaultUdpPort = 5000;
// Environment variable through which the stand-in drivers find the local endpoint; the
// simulator takes the same path with --endpoint.
constexpr const char* EndpointEnv = "QX510_SIM_ENDPOINT";

// Statuses the module itself answers (the drivers pass them through unchanged).
namespace ModuleStatus {
constexpr uint8_t Ok = 0;
constexpr uint8_t UnknownCommand = 20;
constexpr uint8_t BadIndex = 21;
constexpr uint8_t BadConfigAddress = 22;
constexpr uint8_t CopiesDiffer = 23;  // the two copies of an address or value disagree
// Whether a status byte is one a module answers; any other in an answer frame is damage, never
// one of a driver's own statuses, which speak of the PC's side.
constexpr bool Known(uint8_t status) { return status == Ok || (status >= UnknownCommand && status <= CopiesDiffer); }
}  // namespace ModuleStatus

struct Request {
  uint32_t seq = 0;
  uint32_t rate = 0;
  uint8_t address = 0;
  uint8_t command = 0;
  uint8_t index = 0;
  std::array<uint8_t, 5> data{};
};

struct Answer {
  uint32_t seq = 0;
  uint8_t address = 0;
  uint8_t command = 0;
  uint8_t status = 0;
  std::array<uint8_t, 5> data{};
};

inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline constexpr std::array<uint16_t, 256> CrcTable = [] {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = uint16_t(i << 8);
    for (int bit = 0; bit < 8; ++bit) c = uint16_t((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
    t[i] = c;
  }
  return t;
}();

inline uint16_t Crc16(const uint8_t* p, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) crc = uint16_t(crc << 8) ^ CrcTable[uint8_t(crc >> 8) ^ p[i]];
  return crc;
}

// Writes the CRC of everything before the frame's last two bytes into them.
template <size_t N>
inline void SealFrame(std::array<uint8_t, N>& b) {
  const uint16_t crc = Crc16(b.data(), N - CrcSize);
  b[N - 2] = uint8_t(crc);
  b[N - 1] = uint8_t(crc >> 8);
}

// Whether n bytes are a whole frame of this type and size whose CRC holds.
inline bool FrameIntact(const uint8_t* p, size_t n, uint8_t type, size_t size) {
  if (n != size || p[0] != Magic0 || p[1] != Magic1 || p[2] != Version || p[3] != type) return false;
  return Crc16(p, n - CrcSize) == uint16_t(p[n - 2] | p[n - 1] << 8);
}

inline std::array<uint8_t, RequestSize> EncodeRequest(const Request& r) {
  std::array<uint8_t, RequestSize> b{};
  b[0] = Magic0;
  b[1] = Magic1;
  b[2] = Version;
  b[3] = TypeRequest;
  PutU32(&b[4], r.seq);
  PutU32(&b[8], r.rate);
  b[12] = r.address;
  b[13] = r.command;
  b[14] = r.index;
  for (size_t i = 0; i < 5; ++i) b[15 + i] = r.data[i];
  SealFrame(b);
  return b;
}

inline std::optional<Request> DecodeRequest(const uint8_t* p, size_t n) {
  if (!FrameIntact(p, n, TypeRequest, RequestSize)) return std::nullopt;
  Request r;
  r.seq = GetU32(&p[4]);
  r.rate = GetU32(&p[8]);
  r.address = p[12];
  r.command = p[13];
  r.index = p[14];
  for (size_t i = 0; i < 5; ++i) r.data[i] = p[15 + i];
  return r;
}

inline std::array<uint8_t, AnswerSize> EncodeAnswer(const Answer& a) {
  std::array<uint8_t, AnswerSize> b{};
  b[0] = Magic0;
  b[1] = Magic1;
  b[2] = Version;
  b[3] = TypeAnswer;
  PutU32(&b[4], a.seq);
  b[8] = a.address;
  b[9] = a.command;
  b[10] = a.status;
  for (size_t i = 0; i < 5; ++i) b[11 + i] = a.data[i];
  SealFrame(b);
  return b;
}

inline std::optional<Answer> DecodeAnswer(const uint8_t* p, size_t n) {
  if (!FrameIntact(p, n, TypeAnswer, AnswerSize)) return std::nullopt;
  Answer a;
  a.seq = GetU32(&p[4]);
  a.address = p[8];
  a.command = p[9];
  a.status = p[10];
  for (size_t i = 0; i < 5; ++i) a.data[i] = p[11 + i];
  return a;
}

// A probe (TypeProbe) or its answer (TypeProbeAnswer) with this sequence number.
inline std::array<uint8_t, ProbeSize> EncodeProbe(uint8_t type, uint32_t seq) {
  std::array<uint8_t, ProbeSize> b{};
  b[0] = Magic0;
  b[1] = Magic1;
  b[2] = Version;
  b[3] = type;
  PutU32(&b[4], seq);
  SealFrame(b);
  return b;
}

// The sequence number of a whole probe frame of this type whose CRC holds.
inline std::optional<uint32_t> DecodeProbe(const uint8_t* p, size_t n, uint8_t type) {
  if (!FrameIntact(p, n, type, ProbeSize)) return std::nullopt;
  return GetU32(&p[4]);
}

// The local endpoint when neither the environment nor an option names one: qx510-sim.sock in
// the user's private folder (sim/runtime_dir.h). Empty, with the reason in *error, when that
// folder cannot be had: a name somebody else took in /tmp is never a place to look for or
// put the user's simulator.
inline std::string DefaultEndpointPath(std::string* error = nullptr) {
  const RuntimeDir dir = UserRuntimeDir();
  if (error) *error = dir.error;
  return dir.path.empty() ? std::string() : dir.path + "/qx510-sim.sock";
}

// The endpoint the stand-in drivers use: the environment's, else the default.
inline std::string EndpointPath(std::string* error = nullptr) {
  const char* env = std::getenv(EndpointEnv);
  if (env && *env) {
    if (error) error->clear();
    return env;
  }
  return DefaultEndpointPath(error);
}

// What ConnectEndpoint returns when the process at the endpoint runs as another user than
// the one expected: an impostor, or somebody else's simulator.
constexpr int ForeignPeer = -EPERM;

// The user a process listening on a connected local socket runs as; -1 when unknown.
inline long PeerUid(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return -1;
  return long(cred.uid);
}

// A connection of the given type (SOCK_SEQPACKET, SOCK_STREAM) to a local socket: the
// descriptor, or -errno (-ENAMETOOLONG for a path that does not fit a socket address).
// ECONNREFUSED means a socket file that nobody listens on any more; ForeignPeer a listener
// that runs as another user than expectedUid. With timeoutMs >= 0, -ETIMEDOUT means a
// listener whose backlog stayed full that long (stalled or overloaded); with a negative
// timeout the connect waits as long as it takes. The descriptor is blocking either way.
inline int ConnectLocalSocket(const std::string& path, int type, int timeoutMs, uid_t expectedUid) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return -ENAMETOOLONG;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int s = ::socket(AF_UNIX, type | SOCK_CLOEXEC | (timeoutMs >= 0 ? SOCK_NONBLOCK : 0), 0);
  if (s < 0) return -errno;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int err = 0;
  for (;;) {
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      err = 0;
      break;
    }
    err = errno;
    if (err == EINTR) continue;
    // A local socket never connects in the background: a full backlog answers a
    // non-blocking connect with EAGAIN at once, and the connect is tried again shortly.
    if (err != EAGAIN) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      err = ETIMEDOUT;
      break;
    }
    ::poll(nullptr, 0, int(std::min<int64_t>(left.count(), 5)));
  }
  if (err == 0 && PeerUid(s) != long(expectedUid)) {
    ::close(s);
    return ForeignPeer;
  }
  if (err == 0 && timeoutMs >= 0 && ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) & ~O_NONBLOCK) != 0) err = errno;
  if (err != 0) {
    ::close(s);
    return -err;
  }
  return s;
}

// Whether the peer of a connected SOCK_SEQPACKET socket has gone, for a receive that read 0
// bytes: a zero-length record reads as 0 bytes just as the end of the connection does. It is
// the end only when the peer has hung up (or shut down its sending side) and no record with
// data is left to read; otherwise it was an empty record, a damaged frame like any other.
inline bool SeqpacketPeerGone(int fd) {
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  if (::poll(&p, 1, 0) < 0) return false;  // the next receive tells
  if (!(p.revents & (POLLHUP | POLLRDHUP))) return false;
  int queued = 0;
  return ::ioctl(fd, FIONREAD, &queued) != 0 || queued <= 0;
}

// A SOCK_SEQPACKET connection to the simulator's local endpoint, as ConnectLocalSocket makes
// it; only a simulator of this process's own user is taken.
inline int ConnectEndpoint(const std::string& path, int timeoutMs = -1, uid_t expectedUid = ::geteuid()) {
  return ConnectLocalSocket(path, SOCK_SEQPACKET, timeoutMs, expectedUid);
}

}  // namespace simproto
