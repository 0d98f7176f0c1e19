#include "drivers/standin/standin_core.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "drivers/driver_abi.h"
#include "drivers/standin/line_lock.h"
#include "drivers/standin/serial_transport.h"
#include "sim/protocol.h"

namespace standin {
namespace {

using Clock = std::chrono::steady_clock;

struct Connection {
  Kind kind = Serial;
  int fd = -1;
  uint32_t rate = DefaultRate;
  uint32_t responseTimeoutMs = DefaultResponseTimeoutMs;
  uint32_t udpTimeoutMs = 0;  // LAN only: the network's share of the wait
  uint32_t variant = 2;
  uint32_t seq = 0;
  int64_t receiveWaitMs = 0;  // the socket's receive timeout as last set; 0: none
  uint64_t damagedFrames = 0; // frames passed over because a check failed
  sockaddr_in peer{};         // LAN only
  int lineFd = -1;             // the hold on the line
  std::string linePath;
  std::unique_ptr<SerialLine> serial;  // a real device the port is mapped to, else none
  std::mutex sendMutex;

  ~Connection() {
    if (fd >= 0) ::close(fd);
    serial.reset();  // the device is let go before the line's hold
    if (lineFd >= 0) ReleaseLine(lineFd, linePath);
  }
};

// Who held the line that the last refused Init wanted, for the Error entry's text.
std::atomic<pid_t> lastHolder{0};
// Why the last Init could not use its line's lock, in Windows-1250, for the Error entry's
// text; empty until one could not.
std::mutex lockProblemMutex;
std::string lastLockProblem;

constexpr size_t TextRoom = 99;  // the Error entry's buffer: slots 1..99, one character each

// The Windows-1250 form of UTF-8 text (the Czech of the lock's reasons, and a path); what the
// code page lacks becomes '?', and so does a byte that is not UTF-8.
std::string ToCp1250(const std::string& utf8) {
  // Unicode code points of the bytes 0x80..0xFF; 0 where the code page has none.
  static constexpr uint16_t Upper[128] = {
      0x20AC, 0,      0x201A, 0,      0x201E, 0x2026, 0x2020, 0x2021, 0,      0x2030, 0x0160, 0x2039, 0x015A,
      0x0164, 0x017D, 0x0179, 0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0,      0x2122,
      0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
      0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
      0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
      0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
      0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
      0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
      0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
      0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9};
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto b = uint8_t(utf8[i]);
    const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    uint32_t code = extra == 0 ? b : extra == 1 ? (b & 0x1Fu) : extra == 2 ? (b & 0x0Fu) : (b & 0x07u);
    bool whole = extra >= 0 && i + size_t(extra) < utf8.size();
    for (int k = 1; whole && k <= extra; ++k) {
      const auto cont = uint8_t(utf8[i + size_t(k)]);
      whole = (cont & 0xC0) == 0x80;
      code = code << 6 | (cont & 0x3Fu);
    }
    i += whole ? size_t(extra) + 1 : 1;
    char c = '?';
    if (whole && code < 0x80) {
      c = char(code);
    } else if (whole) {
      for (int k = 0; k < 128; ++k)
        if (Upper[k] == code) c = char(0x80 + k);
    }
    out += c;
  }
  return out;
}

// "Zámek linky <problem>: <path>", the path shortened in its middle when the whole would not
// fit the Error entry's buffer: the reason stays whole, and so do the folder and the line's name
// at the path's two ends.
std::string LockProblemText(const LineTake& take) {
  // Zámek linky
  const std::string lead = "Z\xe1" "mek linky";
  if (take.path.empty()) return lead + ": " + ToCp1250(take.problem);
  const std::string head = lead + " " + ToCp1250(take.problem) + ": ";
  std::string path = ToCp1250(take.path);
  if (head.size() + path.size() > TextRoom && head.size() + 9 < TextRoom) {
    const size_t keep = TextRoom - head.size() - 1;  // one character for the ellipsis
    path = path.substr(0, keep / 2) + "\x85" + path.substr(path.size() - (keep - keep / 2));
  }
  return head + path;
}

uint32_t HoldLine(Connection& c, const std::string& line) {
  const LineTake take = TakeLine(line);
  if (take.result == LineTake::Busy) {
    lastHolder = take.holder;
    return LineBusy;
  }
  if (take.result != LineTake::Taken) {
    const std::string text = LockProblemText(take);
    std::lock_guard<std::mutex> lock(lockProblemMutex);
    lastLockProblem = text;
    return LockFailed;
  }
  c.lineFd = take.fd;
  c.linePath = take.path;
  return Ok;
}

// Handles carry the slot (low byte, 1-based) and a generation, so that a handle closed
// and then reused by mistake is refused instead of reaching another connection.
constexpr int Slots = 16;
std::mutex tableMutex;
std::array<std::shared_ptr<Connection>, Slots> table;
std::array<uint32_t, Slots> generations{};

uint32_t Register(std::shared_ptr<Connection> c, uint32_t* handle) {
  std::lock_guard<std::mutex> lock(tableMutex);
  for (int i = 0; i < Slots; ++i) {
    if (!table[size_t(i)]) {
      table[size_t(i)] = std::move(c);
      const uint32_t gen = ++generations[size_t(i)] & 0xFFFFFF;
      *handle = (gen << 8) | uint32_t(i + 1);
      return Ok;
    }
  }
  return TooMany;
}

std::shared_ptr<Connection> Find(Kind kind, uint32_t handle) {
  const uint32_t slot = handle & 0xFF;
  if (slot < 1 || slot > Slots) return nullptr;
  std::lock_guard<std::mutex> lock(tableMutex);
  auto& c = table[slot - 1];
  if (!c || c->kind != kind || ((generations[slot - 1] & 0xFFFFFF) != handle >> 8)) return nullptr;
  return c;
}

// SOCK_SEQPACKET keeps frame boundaries and tells at connect time whether a simulator is there.
// A simulator that takes no connection within the response timeout is as good as silent.
// Only a simulator of the user's own is talked to: whatever answers as another user might
// say anything.
uint32_t ConnectLocal(int& fd, uint32_t timeoutMs) {
  const std::string path = simproto::EndpointPath();
  if (path.empty()) return NoPrivateFolder;
  const int s = simproto::ConnectEndpoint(path, int(timeoutMs));
  if (s == simproto::ForeignPeer) return ForeignSimulator;
  if (s == -ENAMETOOLONG) return BadParams;
  if (s == -ETIMEDOUT) return Timeout;
  if (s < 0) {
    const int err = -s;
    return (err == ENOENT || err == ECONNREFUSED || err == ENOTSOCK || err == EACCES) ? NotRunning : CommError;
  }
  fd = s;
  return Ok;
}

uint32_t SocketErrorStatus(int err) {
  return (err == ECONNREFUSED || err == ECONNRESET || err == EPIPE || err == ENOTCONN) ? NotRunning : CommError;
}

// Sends one frame, waiting for room no longer than the deadline: a simulator that stopped
// reading fills the socket's queue, and a blocking send would then wait for good. -1 with
// errno ETIMEDOUT when the deadline passed.
ssize_t SendFrame(int fd, const uint8_t* data, size_t size, Clock::time_point deadline) {
  for (;;) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return n;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      errno = ETIMEDOUT;
      return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, int(left));
  }
}

void ClearResult(uint32_t* response100, uint32_t* aux) {
  for (int i = 0; i < 4; ++i) response100[i] = 0;
  response100[QX510_DRIVER_RAW_WORD] = 0;
  *aux = 0;
}

void PutRaw(const Reply& reply, uint32_t* response100) {
  static_assert(Reply::RawMax == QX510_DRIVER_RAW_MAX);
  if (reply.rawSize == 0) return;
  response100[QX510_DRIVER_RAW_WORD] = QX510_DRIVER_RAW_TAG | uint32_t(reply.rawSize);
  for (size_t i = 0; i < reply.rawSize; ++i) response100[QX510_DRIVER_RAW_WORD + 1 + i] = reply.raw[i];
}

void Disconnect(Connection& c) {
  ::close(c.fd);
  c.fd = -1;
  c.receiveWaitMs = 0;
}

// The kernel's clock tick: a socket's receive wait is counted in ticks and may run up to
// about two of them past the time asked for.
int64_t ClockTickMs() {
  static const int64_t tick = [] {
    timespec res{};
    if (::clock_getres(CLOCK_MONOTONIC_COARSE, &res) != 0 || res.tv_sec > 0) return int64_t(10);
    return std::max<int64_t>(1, (res.tv_nsec + 999999) / 1000000);
  }();
  return tick;
}

// How long one blocking receive may wait. The socket keeps the setting, so exchanges with
// the same timeout make no extra call: a receive costs one system call, as it would in a
// program that reads its socket bare.
bool SetReceiveWait(Connection& c, int64_t ms) {
  if (ms == c.receiveWaitMs) return true;
  const timeval tv{time_t(ms / 1000), suseconds_t(ms % 1000 * 1000)};
  if (::setsockopt(c.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return false;
  c.receiveWaitMs = ms;
  return true;
}

uint32_t Exchange(Connection& c, const simproto::Request& request, Reply& reply) {
  const bool lan = c.kind == Lan;
  if (c.fd < 0) {
    if (lan) return CommError;
    if (const uint32_t s = ConnectLocal(c.fd, c.responseTimeoutMs); s != Ok) return s;
  }
  const uint64_t waitMs = uint64_t(c.responseTimeoutMs) + (lan ? c.udpTimeoutMs : 0);
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  const auto frame = simproto::EncodeRequest(request);
  ssize_t sent = SendFrame(c.fd, frame.data(), frame.size(), deadline);
  if (sent < 0 && !lan && (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN)) {
    // The simulator was restarted since the last exchange: reach the new one once.
    Disconnect(c);
    if (const uint32_t s = ConnectLocal(c.fd, c.responseTimeoutMs); s != Ok) return s;
    sent = SendFrame(c.fd, frame.data(), frame.size(), deadline);
  }
  if (sent < 0) return errno == ETIMEDOUT ? Timeout : SocketErrorStatus(errno);
  if (size_t(sent) != frame.size()) return CommError;

  // Answers that came after their request had timed out still wait in the socket; they are
  // read here and passed over like any frame that is not this request's answer. A frame
  // longer than the buffer is cut short, and so fails the length check.
  uint8_t buffer[64];
  bool damaged = false, stale = false;
  for (;;) {
    // Rounded up, so that the wait is never shorter than the timeout promised.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    // An earlier request's answer says the module is there but slower than the timeout.
    if (left <= 0) return damaged ? Damaged : stale ? Late : Timeout;
    // The blocking receive stops two ticks short of the deadline; ppoll(), whose timers are
    // exact, waits out the rest, so an unanswered try costs its timeout and not a tick more
    // (a scan makes hundreds of them).
    const int64_t blockMs = left - 2 * ClockTickMs();
    ssize_t n;
    if (blockMs > 0) {
      if (!SetReceiveWait(c, blockMs)) return CommError;
      // The LAN socket is connected: it takes datagrams from the converter's address only.
      n = ::recv(c.fd, buffer, sizeof buffer, 0);
    } else {
      const auto rest = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
      const timespec ts{time_t(std::max<int64_t>(rest, 0) / 1000000000), long(std::max<int64_t>(rest, 0) % 1000000000)};
      pollfd p{c.fd, POLLIN, 0};
      if (::ppoll(&p, 1, &ts, nullptr) <= 0) continue;  // the deadline decides
      n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    }
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;  // the deadline decides
      const uint32_t s = SocketErrorStatus(errno);
      if (!lan) Disconnect(c);
      return s;
    }
    // The simulator closed the connection; a zero-length record while it is open is a
    // damaged frame like any other, passed over below.
    if (n == 0 && !lan && simproto::SeqpacketPeerGone(c.fd)) {
      Disconnect(c);
      return NotRunning;
    }
    const Received received = ParseReply(buffer, size_t(n), request.seq, request.address, request.command);
    if (received.kind == Received::Answer) {
      reply = received.reply;
      return Ok;
    }
    if (received.kind == Received::Damaged) {
      damaged = true;
      ++c.damagedFrames;
      reply.keepRaw(buffer, size_t(n));
    }
    stale = stale || received.kind == Received::Stale;
  }
}

struct Text {
  uint32_t code;
  const char* text;  // Windows-1250
};
// The UTF-8 form of each text stands in the comment beside it.
constexpr Text Texts[] = {
    {Ok, "Bez chyby"},
    // Simulátor modulu QX-510 není spuštěn
    {NotRunning, "Simul\xe1" "tor modulu QX-510 nen\xed" " spu\x9a" "t\xec" "n"},
    // Modul neodpověděl (vypršel čas pro odpověď)
    {Timeout, "Modul neodpov\xec" "d\xec" "l (vypr\x9a" "el \xe8" "as pro odpov\xec" "\xef" ")"},
    // Neplatný identifikátor připojení
    {BadHandle, "Neplatn\xfd" " identifik\xe1" "tor p\xf8" "ipojen\xed"},
    // Neplatné parametry volání ovladače
    {BadParams, "Neplatn\xe9" " parametry vol\xe1" "n\xed" " ovlada\xe8" "e"},
    // Příliš mnoho otevřených připojení
    {TooMany, "P\xf8" "\xed" "li\x9a" " mnoho otev\xf8" "en\xfd" "ch p\xf8" "ipojen\xed"},
    // Chyba komunikace se simulátorem modulu
    {CommError, "Chyba komunikace se simul\xe1" "torem modulu"},
    // Neplatná IP adresa převodníku QN-1660
    {BadIp, "Neplatn\xe1" " IP adresa p\xf8" "evodn\xed" "ku QN-1660"},
    // Neplatný UDP port převodníku QN-1660
    {BadPort, "Neplatn\xfd" " UDP port p\xf8" "evodn\xed" "ku QN-1660"},
    // Poškozená odpověď modulu
    {Damaged, "Po\x9a" "kozen\xe1" " odpov\xec" "\xef" " modulu"},
    // Odpověď modulu přišla pozdě
    {Late, "Odpov\xec" "\xef" " modulu p\xf8" "i\x9a" "la pozd\xec"},
    // Soukromou složku pro zámek linky nelze použít
    {LockFailed, "Soukromou slo\x9e" "ku pro z\xe1" "mek linky nelze pou\x9e" "\xed" "t"},
    // Simulátor běží pod jiným uživatelem, nepoužije se
    {ForeignSimulator, "Simul\xe1tor b\xec\x9e\xed pod jin\xfdm u\x9eivatelem, nepou\x9eije se"},
    // Soukromou složku simulátoru nelze použít
    {NoPrivateFolder, "Soukromou slo\x9eku simul\xe1toru nelze pou\x9e\xedt"},
    // Modul nezná požadovaný příkaz
    {simproto::ModuleStatus::UnknownCommand, "Modul nezn\xe1" " po\x9e" "adovan\xfd" " p\xf8" "\xed" "kaz"},
    // Modul odmítl neplatný index příkazu
    {simproto::ModuleStatus::BadIndex, "Modul odm\xed" "tl neplatn\xfd" " index p\xf8" "\xed" "kazu"},
    // Adresa mimo konfigurační paměť modulu
    {simproto::ModuleStatus::BadConfigAddress, "Adresa mimo konfigura\xe8" "n\xed" " pam\xec" "\x9d" " modulu"},
    // Modul odmítl požadavek: kopie se neshodují
    {simproto::ModuleStatus::CopiesDiffer, "Modul odm\xed" "tl po\x9e" "adavek: kopie se neshoduj\xed"},
};
// Linka je obsazena jiným programem[ (PID <holder>)]
constexpr const char* BusyText = "Linka je obsazena jin\xfd" "m programem";
// Linka je již otevřena tímto programem
constexpr const char* BusyHereText = "Linka je ji\x9e" " otev\xf8" "ena t\xed" "mto programem";
// Neznámý chybový kód <code>
constexpr const char* UnknownText = "Nezn\xe1" "m\xfd" " chybov\xfd" " k\xf3" "d ";

}  // namespace

uint32_t OpenLocal(Kind kind, uint32_t unit, uint32_t* handle) {
  if (!handle) return BadParams;
  auto c = std::make_shared<Connection>();
  c->kind = kind;
  if (kind == Serial || kind == Usb) {
    const std::string port = kind == Serial ? portmap::SerialPortName(unit) : portmap::UsbPortName;
    const MappedPort mapped = FindMappedPort(port);
    if (mapped.status != Ok) return mapped.status;
    if (mapped.port) {
      c->serial = std::make_unique<SerialLine>(port, *mapped.port);
      if (const uint32_t s = HoldLine(*c, LocalLineName("tty", c->serial->device())); s != Ok) return s;
      if (const uint32_t s = c->serial->Open(c->rate); s != Ok) return s;
      return Register(std::move(c), handle);
    }
  }
  char line[16];
  if (kind == Serial)
    std::snprintf(line, sizeof line, "com%u", unsigned(unit));
  else if (kind == Isa)
    std::snprintf(line, sizeof line, "isa-%x", unsigned(unit));
  else
    std::snprintf(line, sizeof line, "%s", kind == Pci ? "pci" : "usb");
  if (const uint32_t s = HoldLine(*c, LocalLineName(line, simproto::EndpointPath())); s != Ok) return s;
  if (const uint32_t s = ConnectLocal(c->fd, c->responseTimeoutMs); s != Ok) return s;
  return Register(std::move(c), handle);
}

uint32_t OpenLan(uint32_t* handle, const uintptr_t* block) {
  if (!handle || !block) return BadParams;
  const char* ipText = reinterpret_cast<const char*>(block[0]);
  if (!ipText) return BadIp;
  const size_t len = ::strnlen(ipText, 64);
  if (len == 0 || len >= 64) return BadIp;
  const std::string ip(ipText, len);
  auto c = std::make_shared<Connection>();
  c->kind = Lan;
  c->peer.sin_family = AF_INET;
  if (::inet_pton(AF_INET, ip.c_str(), &c->peer.sin_addr) != 1) return BadIp;
  if (block[1] < 1 || block[1] > 65535) return BadPort;
  if (block[2] > MaxTimeoutMs) return BadParams;
  c->peer.sin_port = htons(uint16_t(block[1]));
  c->udpTimeoutMs = uint32_t(block[2]);
  if (const uint32_t s = HoldLine(*c, LanLineName(c->peer.sin_addr, uint16_t(block[1]))); s != Ok) return s;
  c->fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (c->fd < 0) return CommError;
  // A connected socket takes datagrams from the converter's address only and reports a
  // closed port (ECONNREFUSED) instead of leaving us to time out.
  if (::connect(c->fd, reinterpret_cast<sockaddr*>(&c->peer), sizeof c->peer) != 0) return CommError;
  return Register(std::move(c), handle);
}

uint32_t SetConfig(Kind kind, uint32_t handle, uint32_t rate, uint32_t timeoutMs, uint32_t variant) {
  auto c = Find(kind, handle);
  if (!c) return BadHandle;
  if (rate == 0 || rate > 1000000 || timeoutMs == 0 || timeoutMs > MaxTimeoutMs) return BadParams;
  std::lock_guard<std::mutex> lock(c->sendMutex);
  if (c->serial)
    if (const uint32_t s = c->serial->SetRate(rate); s != Ok) return s;
  c->rate = rate;
  c->responseTimeoutMs = timeoutMs;
  c->variant = variant;
  return Ok;
}

uint32_t GetConfig(Kind kind, uint32_t handle, uint32_t* rate, uint32_t* timeoutMs, uint32_t* variant) {
  auto c = Find(kind, handle);
  if (!c) return BadHandle;
  if (!rate || !timeoutMs || !variant) return BadParams;
  std::lock_guard<std::mutex> lock(c->sendMutex);
  *rate = c->rate;
  *timeoutMs = c->responseTimeoutMs;
  *variant = c->variant;
  return Ok;
}

uint32_t Send(Kind kind, uint32_t handle, const uint32_t* request8, uint32_t* response100, uint32_t* aux,
              uint32_t* status) {
  if (!request8 || !response100 || !aux || !status) {
    if (status) *status = BadParams;
    return BadParams;
  }
  ClearResult(response100, aux);
  auto fail = [&](uint32_t s) {
    *status = s;
    return s;
  };
  auto c = Find(kind, handle);
  if (!c) return fail(BadHandle);
  for (int i = 0; i < 8; ++i)
    if (request8[i] > 0xFF) return fail(BadParams);

  std::lock_guard<std::mutex> lock(c->sendMutex);
  simproto::Request request;
  request.seq = ++c->seq;
  request.rate = c->rate;
  request.address = uint8_t(request8[0]);
  request.command = uint8_t(request8[1]);
  request.index = uint8_t(request8[2]);
  for (int i = 0; i < 5; ++i) request.data[size_t(i)] = uint8_t(request8[3 + i]);
  Reply reply;
  const uint32_t s = c->serial ? c->serial->Exchange(request, c->responseTimeoutMs, reply) : Exchange(*c, request, reply);
  if (s != Ok) {
    PutRaw(reply, response100);
    return fail(s);
  }
  *status = reply.status;
  *aux = reply.aux;
  for (int i = 0; i < 4; ++i) response100[i] = reply.response[i];
  return Ok;
}

Received ParseReply(const uint8_t* bytes, size_t size, uint32_t seq, uint8_t address, uint8_t command) {
  Received out;
  const auto answer = simproto::DecodeAnswer(bytes, size);
  if (!answer) return out;
  if (answer->seq != seq) {
    // Sequence numbers wrap: an earlier request's lies up to half the range behind.
    if (int32_t(answer->seq - seq) < 0) out.kind = Received::Stale;
    return out;
  }
  if (answer->address != address || answer->command != command) return out;
  if (!simproto::ModuleStatus::Known(answer->status)) return out;
  out.kind = Received::Answer;
  out.reply = AnswerReply(answer->status, answer->data);
  return out;
}

Reply AnswerReply(uint8_t status, const std::array<uint8_t, 5>& data) {
  Reply reply;
  // A status from the module travels in the status word; the call itself went through.
  reply.status = status;
  if (status == 0) {
    reply.aux = data[0];
    for (size_t i = 0; i < 4; ++i) reply.response[i] = data[1 + i];
  }
  return reply;
}

uint32_t Close(Kind kind, uint32_t* handle) {
  if (!handle) return BadParams;
  const uint32_t slot = *handle & 0xFF;
  if (!Find(kind, *handle)) return BadHandle;
  std::shared_ptr<Connection> closing;
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    closing = std::move(table[slot - 1]);
  }
  *handle = 0;
  return Ok;  // the socket closes with the last reference
}

uint32_t ErrorText(uint32_t code, uint32_t* buffer100) {
  if (!buffer100) return BadParams;
  std::string text;
  for (const auto& t : Texts)
    if (t.code == code) text = t.text;
  if (code == LockFailed) {
    std::lock_guard<std::mutex> lock(lockProblemMutex);
    if (!lastLockProblem.empty()) text = lastLockProblem;
  }
  if (code == LineBusy) {
    const pid_t holder = lastHolder;
    text = holder == ::getpid() ? BusyHereText
           : holder > 0         ? std::string(BusyText) + " (PID " + std::to_string(holder) + ")"
                                : BusyText;
  }
  if (text.empty()) text = SerialErrorText(code);
  if (text.empty()) text = std::string(UnknownText) + std::to_string(code);
  for (int i = 0; i < 100; ++i) buffer100[i] = 0;
  const size_t n = std::min<size_t>(text.size(), 99);
  for (size_t i = 0; i < n; ++i) buffer100[1 + i] = uint8_t(text[i]);
  return Ok;
}

}  // namespace standin
