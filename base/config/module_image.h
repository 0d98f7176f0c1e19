#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/config/config_image.h"
#include "base/config/config_transfer.h"

// Whole-image work on a module's configuration memory for any caller, window or command
// line: nothing here prints; progress, cancelling and the pause between exchanges go through
// ImageEvents, and every outcome comes back as data.

// Where the exchanges go: the loaded driver's interface and handle, and the module's address.
struct ModuleLink {
  uint8_t iface = 0;
  uint32_t handle = 0;
  uint8_t module = 0;
};

enum class ImagePhase { Reading, Writing, Verifying };

struct ImageEvents {
  // The phase and its percentage, as ConfigTransfer reports it (0 % first).
  std::function<void(ImagePhase, int percent)> progress;
  // Asked before each byte but a phase's first, and by RestoreImage also before its first
  // write and before its final read; true ends the work there. The workbench's stop button
  // and the companion's SIGINT and SIGTERM both come in here.
  std::function<bool()> cancelled;
  // As ConfigTransfer::Events::pause; empty: a 1 ms wait.
  std::function<void(std::chrono::steady_clock::time_point exchanged)> pause;
};

// A module's image as far as it could be read: the read stops at the first failure, and
// `known` marks the addresses that were read.
struct ImageRead {
  ConfigImage image;
  std::array<bool, 64> known{};
  ConfigTransferResult result;
  bool ok() const { return result.ok(); }
};
ImageRead ReadModuleImage(const ModuleLink& link, const ImageEvents& events = {},
                          const std::vector<uint8_t>& addresses = ImageAddresses());

// The addresses at which the module's image differs from the wanted one; an address the read
// did not reach counts as differing, with `known` false.
std::vector<ByteDifference> DifferingBytes(const ImageRead& module, const ConfigImage& wanted,
                                           const std::vector<uint8_t>& addresses);

// The bytes a restore writes: each address whose value the read did not show equal to the
// wanted one, in the given order. A byte that could not be read is written.
std::vector<ConfigByte> RestoreBytes(const ImageRead& before, const ConfigImage& wanted,
                                     const std::vector<uint8_t>& addresses);

// How a restore ended. `refused` are the bytes of the wanted image that the settings windows
// would never write (outcome Refused: nothing was written); `writes` the bytes it meant to
// write, `write` how the writes went (write.done of them went through); `after` the final read
// of the whole image (after.result how it went), and `differences` the restored addresses at
// which it differs from the wanted image.
struct RestoreResult {
  enum Outcome { Done, Refused, Cancelled, WriteFailed, ReadBackFailed, Differs } outcome = Done;
  std::vector<RefusedByte> refused;
  std::vector<ConfigByte> writes;
  ConfigTransferResult write;
  ImageRead after;
  std::vector<ByteDifference> differences;
  bool ok() const { return outcome == Done; }
};

// Refuses, writing nothing, a wanted image whose bytes at the addresses hold a value the
// settings windows would never write (RefusedBytes: a range byte other than 0 or 1, a baud
// code above 8). Otherwise writes RestoreBytes(before, wanted, addresses), each with its
// read-back, stopping at the first failure or when cancelled; then, unless a write failed or
// the work was cancelled, reads the whole image back and compares the restored addresses with
// the wanted image. Only that comparison makes the result Done, so a spoilt first read can
// neither hide a byte that needs writing nor pass for success.
RestoreResult RestoreImage(const ModuleLink& link, const ImageRead& before, const ConfigImage& wanted,
                           const std::vector<uint8_t>& addresses, const ImageEvents& events = {});

// What the module holds after writes that stopped with `done` of `writes` through, each of
// those verified by its read-back: which addresses were written, which not, and, when only
// some were, that the module now holds a mix of the new values and its former ones.
QString WrittenSoFarText(const std::vector<ConfigByte>& writes, std::size_t done);
// The same for a cancelled restore, saying also when its final read-back was not made.
QString RestoreHoldsText(const RestoreResult& result);
