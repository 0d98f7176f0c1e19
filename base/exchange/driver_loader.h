#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "base/exchange/driver_types.h"

// Status codes of the loader's own; the drivers' codes are 0..99, 0 = success.
constexpr uint32_t StatusNoEntry = 10;             // interface outside 0..4 or entry missing
constexpr uint32_t StatusLoadFailedBase = 100;     // + interface: the library did not load
constexpr uint32_t StatusBadLibraryBase = 110;     // + interface: an entry point is missing

// One program-wide loader: at most one driver library is loaded at a time.
uint32_t DriverInit(uint8_t iface, uint32_t* handle, DriverParamBlock params);
uint32_t DriverSetConfig(uint8_t iface, uint32_t handle, uint32_t a, uint32_t b, uint32_t c);
uint32_t DriverSend(uint8_t iface, uint32_t handle, const uint32_t* request, uint32_t* response,
                    uint32_t* aux, uint32_t* status);
uint32_t DriverDone(uint8_t iface, uint32_t* handle);
uint32_t DriverErrorText(uint8_t iface, uint32_t code, MessageBuffer* buffer);

uint32_t StringToMessageBuffer(const QString& text, MessageBuffer* buffer);
QString MessageBufferToString(const MessageBuffer& buffer);

// The text every window shows for a driver result: DriverErrorText of its byte (StatusByte)
// and MessageBufferToString. So the driver's Error entry gives 0..99, the loader's table 100
// and up, and a failure whose low byte is 0 reads as 255 ("neznámý chybový kód").
QString DriverStatusText(uint8_t iface, uint32_t code);

// The library file name of an interface ("KSER660.DLL", ...), empty outside 0..4.
QString DriverLibraryName(uint8_t iface);

// The directory of the running executable (empty if unknown): driver libraries are looked
// up there first.
std::string ExecutableDirectory();

// The directory searched before the platform's standard search. Empty (the default) means
// the directory of the running executable. Tests point it at variant libraries.
void DriverSetLibraryDirectory(const QString& directory);

// True while a driver library is loaded (for tests and diagnostics).
bool DriverLibraryLoaded();
// Changes whenever a library is loaded or unloaded: what was learnt from the loaded driver
// (its status texts) holds while it stays the same.
uint64_t DriverLoadCount();
