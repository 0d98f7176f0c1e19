#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <chrono>
#include <functional>
#include <vector>

#include "base/settings/tdata.h"

// One byte of a configuration transfer: its place in ModuleConfigImage (where the settings
// windows keep it) and its address in the module's configuration memory.
struct ConfigByteSlot {
  std::size_t imageByte;
  uint8_t address;
};

uint8_t& ImageByte(ModuleConfigImage& image, std::size_t index);
uint8_t ImageByte(const ModuleConfigImage& image, std::size_t index);

// The bytes of each settings window, in the order the window moves them.
std::vector<ConfigByteSlot> AddressRateSlots();  // bus address (63), then baud code (62)
std::vector<ConfigByteSlot> AnalogRangeSlots();  // range byte of input 0
std::vector<ConfigByteSlot> DigitalSlots();      // initial states, input negation, output negation

// A configuration byte at an address, as a transfer moves it.
struct ConfigByte {
  uint8_t address;
  uint8_t value;
};

// How a transfer ended. `done` bytes went through before the end; on a failure `address` is
// the byte it stopped at, with the driver `status`, or (mismatch) what was written and what
// the module read back; when cancelled, the byte it did not start.
struct ConfigTransferResult {
  enum Outcome { Done, DriverError, Mismatch, Cancelled } outcome = Done;
  std::size_t done = 0;
  uint8_t address = 0;
  uint32_t status = 0;
  uint8_t written = 0;
  uint8_t readBack = 0;
  bool ok() const { return outcome == Done; }
};

// Byte-by-byte transfer of configuration memory: a read is one command 102 per byte, a
// write is command 103 followed by its read-back, and both stop at the first failure without
// retry; bytes written before it stay written. Between exchanges the transfer pauses through
// `pause` (a window lets the toolkit process its messages there; empty: a 1 ms sleep) and
// after each byte reports the progress, (bytes done x 100) div (bytes in the transfer), to
// `progress`; 0 % is reported before the first exchange. `cancelled`, when set, is asked
// before each byte after the first; true ends the transfer there.
class ConfigTransfer {
 public:
  struct Events {
    std::function<void(int percent)> progress;
    std::function<void(std::chrono::steady_clock::time_point exchanged)> pause;
    std::function<bool()> cancelled;
  };
  ConfigTransfer(uint8_t iface, uint32_t handle, uint8_t module, Events events = {});

  // Whether the pause after each byte also follows the last one (the address window pauses
  // only between its bytes). On by default.
  void setPauseAfterLast(bool on) { pauseAfterLast_ = on; }

  // Reads the addresses in order; store(k, value) takes byte k as it arrives.
  ConfigTransferResult Read(const std::vector<uint8_t>& addresses,
                            const std::function<void(std::size_t, uint8_t)>& store);
  // Writes the bytes in order, each followed by its read-back.
  ConfigTransferResult Write(const std::vector<ConfigByte>& bytes);

 private:
  void Pause(std::chrono::steady_clock::time_point exchanged);
  void Progress(std::size_t done, std::size_t total);
  bool Cancelled(std::size_t k, uint8_t address, ConfigTransferResult& result) const;

  uint8_t iface_;
  uint32_t handle_;
  uint8_t module_;
  Events events_;
  bool pauseAfterLast_ = true;
};

// The settings windows' texts for a transfer: its progress, and how it ended (" " and the
// driver's text for a failed exchange).
QString ReadProgressText(int percent);
QString WriteProgressText(int percent);
QString ReadResultText(uint8_t iface, const ConfigTransferResult& result);
QString WriteResultText(uint8_t iface, const ConfigTransferResult& result);

// The address window's check of a whole number within min..max: true and out := number,
// or false with out untouched.
bool ParseByteInRange(const QString& text, int min, int max, uint8_t& out);
inline const QString AddressRangeText = QStringLiteral(" Adresa modulu musí být v rozsahu 0-255.");
inline const QString BaudRangeText =
    QStringLiteral(" Komunikační rychlost musí být v rozsahu 600Bd-115200Bd.");
