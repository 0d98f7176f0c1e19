#pragma once
// A scan of a line for its modules, shared by the companion and the workbench: every address
// at every rate identified once, with the time a scan budget gives a try.

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "base/wire/wire_budget.h"

struct ScanFind {
  uint8_t address = 0;
  int baudCode = 0;
  QString ident;           // as the module sent it
  int64_t tookNs = 0;      // its identification, three exchanges
  bool late = false;       // found only when asked again with the response timeout
  bool nearLimit = false;  // found, but past half the slack its try's timeout left
  int tryTimeoutMs = 0;    // the try's timeout
};

struct ScanHooks {
  // Sets the interface's rate and response timeout; the driver's status.
  std::function<uint32_t(int baudCode, int timeoutMs)> setRate;
  std::function<bool()> stop;  // asked before every try
  std::function<void(const ScanFind&)> found;
  // After every try of the plan: the time its tries took at their timeouts, and that with what
  // the rest would take at the budget as it stands now. The budget shortens tries as it learns,
  // so the whole is reckoned anew each time; after the last try the two are equal.
  std::function<void(int64_t doneMs, int64_t wholeMs)> tried;
  // Probably two modules answer at the address and rate: its answers keep arriving damaged
  // while the others' do not (base/exchange/address_conflict.h). May be empty.
  std::function<void(uint8_t address, int baudCode)> conflict;
};

struct ScanEnd {
  uint32_t status = 0;      // of a rate that could not be set
  int failedBaudCode = -1;  // that rate's code
  bool stopped = false;     // `stop` ended the scan before its last try
};

// Tries every address at every rate, in the order given. A try that met the late answer of an
// earlier request, or a spoilt one, may have caught what the try before it was given too little
// time for: both addresses are asked again at that rate with `responseTimeoutMs`, and one whose
// answers keep coming damaged until ConflictTries of them decide is reported as a conflict
// rather than passed over. Every module found teaches the budget what the host takes. Leaves
// the interface at the last rate set.
ScanEnd ScanLine(uint8_t iface, uint32_t handle, const std::vector<uint8_t>& addresses,
                 const std::vector<int>& baudCodes, ScanBudget& budget, int responseTimeoutMs, const ScanHooks& hooks);
