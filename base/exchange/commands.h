#pragma once

#include <QStringList>
#include <array>
#include <cstdint>

#include "base/exchange/exchange.h"

// The module's commands.
namespace Cmd {
constexpr uint8_t ReadChannel = 0;        // Index n: measured value of analog input n; Index 64: digital inputs
constexpr uint8_t WriteOutputs = 1;       // Index 64: Data1..Data4 = DOUT0..DOUT31
constexpr uint8_t ReadStatus = 100;       // Data1..Data4 = status register bits 0..31
constexpr uint8_t ClearStatus = 101;
constexpr uint8_t ReadConfigByte = 102;   // Data1 = Data2 = address; answer in Data3
constexpr uint8_t WriteConfigByte = 103;  // Data1 = Data2 = address, Data3 = Data4 = value
constexpr uint8_t Identify = 200;         // Index 0, 1: module name; Index 2: version
}  // namespace Cmd

constexpr uint8_t DigitalIndex = 64;  // Index of the 32-bit digital groups for commands 0 and 1

// Configuration memory addresses.
namespace CfgAddr {
constexpr uint8_t AinRange = 0;          // range byte of input n at address n (0..5)
constexpr uint8_t VoltageGain = 15;      // gain low, gain high, offset low, offset high: 15..18
constexpr uint8_t CurrentGain = 19;      // the same for the current range: 19..22
constexpr uint8_t DoutInitialState = 32; // byte j of each digital field at base + 3j
constexpr uint8_t DinNegation = 33;
constexpr uint8_t DoutNegation = 34;
constexpr uint8_t DigitalStride = 3;
constexpr uint8_t BaudCode = 62;
constexpr uint8_t BusAddress = 63;
}  // namespace CfgAddr

// Bit n (0..31) of a 32-bit group travels as bit n mod 8 of Data(1 + n div 8); the four
// bytes here are Data1..Data4.
inline bool GroupBit(const std::array<uint8_t, 4>& bytes, int n) {
  return (bytes[n / 8] >> (n % 8)) & 1u;
}
inline void SetGroupBit(std::array<uint8_t, 4>& bytes, int n, bool on) {
  const uint8_t mask = uint8_t(1u << (n % 8));
  bytes[n / 8] = on ? uint8_t(bytes[n / 8] | mask) : uint8_t(bytes[n / 8] & ~mask);
}
// Data1..Data4 of an exchange result as a 32-bit group.
inline std::array<uint8_t, 4> GroupBytes(const ExchangeResult& r) {
  return {r.Data[1], r.Data[2], r.Data[3], r.Data[4]};
}

// One configuration byte read (command 102) or written (command 103).
inline ExchangeResult ReadConfig(uint8_t iface, uint32_t handle, uint8_t module, uint8_t cfgAddress) {
  return ModuleTransact(iface, handle, module, Cmd::ReadConfigByte, 0, {0, cfgAddress, cfgAddress, 0, 0});
}
inline ExchangeResult WriteConfig(uint8_t iface, uint32_t handle, uint8_t module, uint8_t cfgAddress,
                                  uint8_t value) {
  return ModuleTransact(iface, handle, module, Cmd::WriteConfigByte, 0,
                        {0, cfgAddress, cfgAddress, value, value});
}

// Names of the status register's bits; "---" marks a bit without a name.
inline QStringList StatusBitNames() {
  QStringList names(32, QStringLiteral("---"));
  names[1] = QStringLiteral("FN");
  names[2] = QStringLiteral("PRF");
  names[4] = QStringLiteral("PWR");
  names[5] = QStringLiteral("RST");
  names[6] = QStringLiteral("ERR24");
  return names;
}
