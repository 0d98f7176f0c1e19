#pragma once

#include <array>
#include <cstdint>

// The eight words handed to a driver's Send; each word holds a byte in its low 8 bits.
struct ModuleRequest {
  uint32_t Address;
  uint32_t Command;
  uint32_t Index;
  uint32_t Data0, Data1, Data2, Data3, Data4;
};
static_assert(sizeof(ModuleRequest) == 8 * sizeof(uint32_t));

// One request/response exchange with the module through the loaded driver. A handle of 0
// sends nothing and leaves Data0..Data4 and status untouched; a failed exchange zeroes
// Data0..Data4. response points to 100 words provided by the caller. status is the result's
// StatusByte; ModuleTransact keeps the whole result.
void ModuleExchange(uint8_t iface, uint32_t handle, uint8_t address, uint8_t command, uint8_t index,
                    uint8_t& d0, uint8_t& d1, uint8_t& d2, uint8_t& d3, uint8_t& d4,
                    uint8_t& status, uint32_t* response);

// A driver result as one byte: its low byte, except that a failure whose low byte is 0
// (256, 0x10000, ...) gives 0xFF, so that it never reads as success.
constexpr uint8_t StatusByte(uint32_t result) {
  if (result == 0) return 0;
  return (result & 0xFFu) != 0 ? uint8_t(result & 0xFFu) : uint8_t{0xFF};
}

// Signed-magnitude measured value: 23-bit magnitude (high bits 0..6, mid, low), sign in
// bit 7 of high, decimal places in bits 0..6 of places.
double DecodeMeasuredValue(uint8_t low, uint8_t mid, uint8_t high, uint8_t places);

// The status and the five result bytes of one exchange.
struct ExchangeResult {
  uint32_t Status = 0;  // the driver's whole result, 0 = success
  std::array<uint8_t, 5> Data{};  // Data0..Data4
};

// ModuleExchange with fresh data bytes and a response area of its own; what the windows use.
// With a handle of 0 nothing is sent and the result is Status 0 with the data bytes as sent.
ExchangeResult ModuleTransact(uint8_t iface, uint32_t handle, uint8_t address, uint8_t command,
                              uint8_t index, std::array<uint8_t, 5> data = {});
