#pragma once
// Watching the line: every exchange with the module, from every program that makes one,
// passes base/exchange/exchange.cpp, which hands a record of it to the one installed observer.
// With none installed the exchange pays one atomic load.

#include <array>
#include <cstdint>

// One exchange as it went over the line.
struct ExchangeRecord {
  int64_t startNs = 0;     // wall clock when the request was handed to the driver, ns since the epoch
  int64_t durationNs = 0;  // until the driver returned
  uint32_t rate = 0;       // the line's rate in Bd as last set (SetExchangeLineRate), 0 unknown
  uint32_t status = 0;     // the driver's whole result, 0 = success
  uint8_t iface = 0, address = 0, command = 0, index = 0;
  std::array<uint8_t, 5> out{};  // Data0..Data4 sent
  std::array<uint8_t, 5> in{};   // Data0..Data4 answered (zero after a failure)
  // After a failure, what came that was no usable answer (frames that failed their checks),
  // as the driver handed it back: the first `receivedSize` bytes. 0 when nothing came or the
  // driver does not tell.
  uint8_t receivedSize = 0;
  std::array<uint8_t, 32> received{};
  // The driver's text for status, UTF-8, ended by 0. Fetched on the exchanging thread while
  // the driver that answered is still loaded; a reader elsewhere could meet another driver.
  char statusText[112]{};
};

class ExchangeObserver {
 public:
  virtual ~ExchangeObserver() = default;
  // Called on the exchanging thread right after each exchange. It must not block, wait for a
  // lock or do I/O: copy what it needs and return (ExchangeQueue hands records to a reader).
  virtual void exchanged(const ExchangeRecord& record) noexcept = 0;
};

// Installs the program's observer (nullptr removes it) and returns the previous one. Remove
// an observer before destroying it, and not while another thread is exchanging.
ExchangeObserver* SetExchangeObserver(ExchangeObserver* observer);

// The rate the line runs at, for the records; DriverSetConfig announces each rate it sets.
void SetExchangeLineRate(uint32_t rate);

// What an exchange's status says about the line, for statistics.
enum class ExchangeOutcome : uint8_t {
  Good,     // 0
  Timeout,  // no answer in time
  Late,     // no answer in time, but the module's answer came after it, to this request or an earlier one
  Damaged,  // an answer came but could not be used
  Refused,  // the module answered and refused the request (its own statuses)
  Other,    // the driver failed for another reason (handle, socket, parameters, loader)
};
ExchangeOutcome ClassifyExchangeStatus(uint32_t status);

// The module command's short Czech name ("čtení stavu"), UTF-8; "?" for an unknown one.
const char* ExchangeCommandName(uint8_t command);
