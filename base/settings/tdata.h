#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

#include "base/exchange/driver_types.h"

// The module's configuration as the settings windows hold it: 21 bytes.
struct ModuleConfigImage {
  uint8_t AddressSetting;                   // byte 0: the module's bus address
  uint8_t BaudCodeSetting;                  // byte 1: baud code 0..8
  std::array<uint8_t, 6> AinRange;          // bytes 2..7: range byte per analog input
  uint8_t Byte8;                            // byte 8: carried along, edited by no window
  std::array<uint8_t, 4> DinNegation;       // bytes 9..12
  std::array<uint8_t, 4> DoutNegation;      // bytes 13..16
  std::array<uint8_t, 4> DoutInitialState;  // bytes 17..20
  bool operator==(const ModuleConfigImage&) const = default;
};
static_assert(sizeof(ModuleConfigImage) == 21);

// The one record every window shares. Members keep this order.
struct TData {
  uint8_t Interface;
  uint8_t ModuleAddress;
  int32_t BaudRate;
  uint16_t ResponseTimeout;
  uint16_t IsaBaseAddress;
  uint8_t ComPort;
  QByteArray IpAddress;  // dotted text in 8-bit characters; data() stays zero-terminated
  int32_t UdpPort;
  int32_t UdpTimeout;
  QString ConnectionStatus;
  uint32_t DriverHandle;
  bool Connected;
  QString ModuleIdent;
  DriverParamBlock DriverParams;
  ModuleConfigImage ModuleConfig;
};

// The LAN converter's address until the operator enters another.
inline constexpr char DefaultIpAddress[] = "192.168.1.254";

void InitData(TData* data);

// Module traffic is attempted only while this holds.
inline bool IsConnected(const TData* data) {
  return data != nullptr && data->Connected && data->DriverHandle != 0;
}

// What every window shows instead of talking to a module that is not connected.
inline const QString NotConnectedText = QStringLiteral(" Připojení k modulu není inicializováno.");
