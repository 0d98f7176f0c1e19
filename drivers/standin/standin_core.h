#pragma once
// The shared inside of the five stand-in driver libraries: a table of open connections and
// one exchange with the simulated module, over UDP (the LAN converter) or over the
// simulator's local endpoint (serial port, ISA card, PCI card, USB converter). No Qt, so the
// libraries stay light.

#include <array>
#include <cstddef>
#include <cstdint>

namespace standin {

// Statuses of the stand-ins, all within 1..99; the module's own statuses (20..23, see
// sim/protocol.h) pass through unchanged.
enum Status : uint32_t {
  Ok = 0,
  NotRunning = 1,   // nothing answers on the endpoint (UDP: the port is closed)
  Timeout = 2,      // no answer within the response timeout
  BadHandle = 3,
  BadParams = 4,
  TooMany = 5,      // every connection slot is taken
  CommError = 6,    // the socket failed in another way, or the answer made no sense
  BadIp = 7,
  BadPort = 8,
  Damaged = 9,      // only answers that failed the frame checks came within the timeout
  // 10 is the loader's own "no such interface or entry"; its text must not speak of lines.
  ForeignSimulator = 11,  // the endpoint's simulator runs as another user: never used
  LineBusy = 12,    // another handle holds the line (see LineHolder for whose)
  LockFailed = 13,  // the user's private folder for line locks cannot be used
  NoPrivateFolder = 14,   // the user's private folder for the endpoint cannot be had
  Late = 15,        // no answer within the timeout, but an earlier request's came meanwhile
  // A real serial device the user mapped the port to (drivers/standin/serial_transport.h);
  // 20..23 are the module's.
  DeviceMissing = 16,
  DeviceDenied = 17,
  DeviceBusy = 18,       // another program holds the device
  NotATty = 19,
  DeviceLost = 24,       // the device went away while open
  DeviceFailed = 25,
  RateUnsupported = 26,
  BadPortMap = 27,       // the user's serial-ports file has an error
};

enum Kind { Serial = 0, Isa = 1, Pci = 2, Usb = 3, Lan = 4 };

constexpr uint32_t DefaultRate = 9600;
constexpr uint32_t DefaultResponseTimeoutMs = 150;
constexpr uint32_t MaxTimeoutMs = 600000;

// Opens a connection of kind 0..3 to the local endpoint ($QX510_SIM_ENDPOINT or the default),
// holding the line until Close: serial port `unit` (1..255), the ISA card at base address
// `unit`, the PCI card or the USB converter (unit unused). LineBusy when a handle holds it
// already, in this process or another.
uint32_t OpenLocal(Kind kind, uint32_t unit, uint32_t* handle);
// Opens a UDP connection: block word 0 = address of the IP text, 1 = port, 2 = UDP timeout
// in ms. The answer is awaited for the response timeout plus the UDP timeout. Holds the
// converter at that address and port as OpenLocal holds its line.
uint32_t OpenLan(uint32_t* handle, const uintptr_t* block);
uint32_t SetConfig(Kind kind, uint32_t handle, uint32_t rate, uint32_t timeoutMs, uint32_t variant);
uint32_t GetConfig(Kind kind, uint32_t handle, uint32_t* rate, uint32_t* timeoutMs, uint32_t* variant);
uint32_t Send(Kind kind, uint32_t handle, const uint32_t* request8, uint32_t* response100, uint32_t* aux,
              uint32_t* status);
uint32_t Close(Kind kind, uint32_t* handle);
// What Send reports for one answer.
struct Reply {
  uint32_t status = Ok;  // the status word
  uint32_t aux = 0;
  uint32_t response[4] = {};
  // After a failure: the bytes that came and failed the frame checks, the first RawMax of
  // them, handed back in the response words (see QX510_DRIVER_RAW_WORD).
  static constexpr size_t RawMax = 32;
  std::array<uint8_t, RawMax> raw{};
  size_t rawSize = 0;
  void keepRaw(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n && rawSize < RawMax; ++i) raw[rawSize++] = bytes[i];
  }
};
// What Send reports for a module's answer with this status (one a module gives,
// simproto::ModuleStatus::Known) and data.
Reply AnswerReply(uint8_t status, const std::array<uint8_t, 5>& data);
// What one frame received for the request with this sequence number, bus address and
// command is: its answer (with what Send reports), a late answer to an earlier request of
// this connection, or a frame that fails a check (length, type, CRC, a status no module
// answers, or it claims to answer this request or a later one while naming another address
// or command). The exchange waits on after either of the last two, and a timeout after a
// damaged frame says so.
struct Received {
  enum Kind { Answer, Stale, Damaged } kind = Damaged;
  Reply reply;  // for Answer
};
Received ParseReply(const uint8_t* bytes, size_t size, uint32_t seq, uint8_t address, uint8_t command);

// Fills the 100-slot buffer with the Windows-1250 text of a status, from slot 1 on.
uint32_t ErrorText(uint32_t code, uint32_t* buffer100);

}  // namespace standin
