#pragma once

#include <QString>
#include <cstdint>

#include "base/exchange/driver_types.h"

// The module's identification: three exchanges of command 200 with Index 0, 1 and 2, each
// bringing four Windows-1250 characters (the eight-character name, then the four-character
// version); Data0 of each answer goes into the next request. After each exchange its status
// text is fetched with DriverErrorText into `text` (a buffer of its own when null), so on a
// failure `text` holds the failure's text. Returns the status of the first failing exchange,
// or 0 with `ident` := name, " v." and version.
uint8_t IdentifyModule(uint8_t iface, uint32_t handle, uint8_t address, QString& ident,
                       MessageBuffer* text = nullptr);

// The name part of an identification (its first eight characters) without padding blanks
// and zero characters, for comparing module types.
QString ModuleTypeName(const QString& ident);
