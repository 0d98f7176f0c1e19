#pragma once

#include <array>
#include <cstdint>

// 100 slots, one Windows-1250 character in the low 8 bits of each; 0 ends the text.
using MessageBuffer = std::array<uint32_t, 100>;

// Handed to a driver's Init. Pointer-sized so that the LAN converter's word 0 can carry
// the address of the IP text on a 64-bit build; on a 32-bit build these are 32-bit words.
using DriverParamBlock = std::array<uintptr_t, 16>;

enum InterfaceType : uint8_t {
  InterfaceSerial = 0,  // standard serial port COMn, KSER660.DLL
  InterfaceIsa = 1,     // ISA card ZK-660, KISA660.DLL
  InterfacePci = 2,     // PCI card ZK-1660, KBRD1660.DLL
  InterfaceUsb = 3,     // USB converter ZC-1660, KCNV1660.DLL
  InterfaceLan = 4,     // LAN converter QN-1660 over UDP, KNET1660.DLL
};
constexpr int InterfaceCount = 5;
