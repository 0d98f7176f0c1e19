#pragma once
// Where a module answers on a line (its bus address and rate) and how to look for it there:
// a new module moves from its delivery place to its own, and a line's modules from one rate to
// another, and after every step that can go wrong the operator learns where it answers now.

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/config/module_image.h"

struct ModulePlace {
  uint8_t address = 0;
  int baudCode = 4;
  friend bool operator==(const ModulePlace&, const ModulePlace&) = default;
};

// "adresa 5, 57600 Bd"
QString PlaceText(const ModulePlace& place);
// "5@57600": an address 0..255, '@' and one of the nine rates in Bd.
bool ParsePlace(const QString& text, ModulePlace& place);

// The driver connection the work goes through; each place is reached by setting its rate.
// (The line's backup and restore reach a module through LineAccess, base/config/line_image.h.)
struct PlaceAccess {
  uint8_t iface = 0;
  uint32_t handle = 0;
  uint16_t responseTimeoutMs = 150;
  // Sets the interface's rate; empty: DriverSetConfig with responseTimeoutMs. A caller that
  // keeps its own record of the rate set (the workbench's driver thread) passes its own.
  std::function<uint32_t(int baudCode)> setRate;

  uint32_t useRate(int baudCode) const;
  ModuleLink link(uint8_t address) const { return {iface, handle, address}; }
};

// What one look at a place found.
struct PlaceProbe {
  enum Outcome { Answered, Silent, Collided, Failed } outcome = Silent;
  QString ident;        // Answered: the module's identification
  uint32_t status = 0;  // Failed: the driver's status
};

// Identifies the module at the place. Answers that arrive damaged are asked for again; when
// every one of them comes damaged, more than one module answers there (Collided): two new
// modules at one delivery address, whose answers overlay each other on the wire.
PlaceProbe ProbePlace(const PlaceAccess& access, const ModulePlace& place);
// "pravděpodobně dva moduly na adrese 0 (9600 Bd): každá odpověď přišla poškozená"
QString CollisionText(const ModulePlace& place);

// Where a module was found: at one of the places looked at, or nowhere.
struct Whereabouts {
  bool found = false;
  ModulePlace place;
  QString ident;
  std::vector<ModulePlace> looked;  // in the order looked at
};
// Looks at each place once, in order, until the module answers.
Whereabouts Locate(const PlaceAccess& access, const std::vector<ModulePlace>& places);
// "Modul teď odpovídá na adrese 5, 9600 Bd." or the places where it did not.
QString WhereaboutsText(const Whereabouts& where);
