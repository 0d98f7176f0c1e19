#include "base/exchange/address_conflict.h"

void AddressConflicts::add(uint8_t address, int baudCode, ExchangeOutcome outcome) {
  int& run = runs_[key(address, baudCode)];
  const bool damaged = outcome == ExchangeOutcome::Damaged;
  damagedPlaces_ += int(damaged) - int(run > 0);
  run = damaged ? run + 1 : 0;
}

void AddressConflicts::forget(uint8_t address, int baudCode) {
  if (runs_.take(key(address, baudCode)) > 0) --damagedPlaces_;
}

void AddressConflicts::clear() {
  runs_.clear();
  damagedPlaces_ = 0;
}

int AddressConflicts::damagedRun(uint8_t address, int baudCode) const { return runs_.value(key(address, baudCode)); }

bool AddressConflicts::probablyTwoModules(uint8_t address, int baudCode) const {
  return damagedRun(address, baudCode) >= ConflictTries && damagedPlaces_ == 1;
}

QString AddressConflictText(uint8_t address) {
  return QStringLiteral("pravděpodobně dva moduly na adrese %1").arg(address);
}
