#pragma once
// Two modules set to one address (two new modules at their delivery address, a module moved
// onto a neighbour's) both answer every request to it, and on an RS-485 wire their answers
// collide: the master gets a damaged answer every time, whatever the modules meant, while the
// other addresses answer as before. Told apart from a noisy line by that: noise spoils answers
// here and there, a conflict spoils every answer of one place and none elsewhere. Shared by the
// scans, the workbench's overview and the commissioning, which must write nothing where two
// modules answer.

#include <QHash>
#include <QString>

#include <cstdint>

#include "base/exchange/exchange_observer.h"

// Damaged answers in a row that make one place's damage persistent. One is everyday noise, and
// a scan asks a damaged try again at once with the full response timeout, since the late
// answer of the try before may have spoilt it; a third in a row, while the other places answer
// cleanly, is what neither noise (each answer spoilt with a small chance p, three in a row p³)
// nor a late answer explains. More would only make a scan and the overview slower to say it.
constexpr int ConflictTries = 3;

// What the exchanges with each place on the line (address and rate) have brought so far.
class AddressConflicts {
 public:
  // One exchange with whatever answers at `address` and `baudCode`: a scan's try, a poll.
  void add(uint8_t address, int baudCode, ExchangeOutcome outcome);
  void forget(uint8_t address, int baudCode);
  void clear();

  // Damaged answers in a row from the place, up to its latest exchange.
  int damagedRun(uint8_t address, int baudCode) const;
  // Places whose latest exchange brought a damaged answer.
  int damagedPlaces() const { return damagedPlaces_; }
  // Probably two modules at the place: its latest ConflictTries exchanges or more all brought
  // damaged answers, and the latest exchange with every other place none (a clean answer, a
  // refusal or silence). Damage at two places at once reads as a noisy line, not a conflict.
  bool probablyTwoModules(uint8_t address, int baudCode) const;

 private:
  static int key(uint8_t address, int baudCode) { return address * 16 + baudCode; }
  QHash<int, int> runs_;  // damaged answers in a row, by place; 0: its latest exchange was not damaged
  int damagedPlaces_ = 0;
};

// What the programs say of such a place: "pravděpodobně dva moduly na adrese 5".
QString AddressConflictText(uint8_t address);
