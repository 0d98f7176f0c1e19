#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>
#include <cstdint>

#include "base/text/baud.h"
#include "base/config/config_image.h"
#include "base/config/line_file.h"
#include "base/config/line_image.h"
#include "base/exchange/exchange_observer.h"
#include "base/config/module_image.h"
#include "base/wire/wire_budget.h"

// What a scan tries: every address of the range at every chosen rate, one try each with the
// time a scan budget gives it (base/wire/wire_budget.h), or the operator's own.
struct ScanPlan {
  int firstAddress = 0;
  int lastAddress = 255;
  QVector<int> baudCodes;
  int timeoutMs = 0;         // 0: each rate's own (base/wire/wire_budget.h)
  int restoreBaudCode = 4;   // the rate and timeout the interface returns to afterwards
  int restoreTimeoutMs = 150;
  // Every try at the budget's timeout as it stands: about the longest the scan takes when
  // nothing answers.
  int budgetMs(const ScanBudget& budget) const {
    int ms = 0;
    for (int code : baudCodes) ms += budget.tryTimeoutMs(BaudCodeToRate(code)) * (lastAddress - firstAddress + 1);
    return ms;
  }
};

// One poll of one module.
struct ModuleReading {
  uint8_t address = 0;
  int baudCode = 4;
  qint64 timeMs = 0;          // milliseconds since the epoch, when the reading was taken
  bool ok = false;            // every exchange of the poll answered
  uint32_t status = 0;        // the failing exchange's status
  ExchangeOutcome outcome = ExchangeOutcome::Good;  // what that status says about the line
  QString error;              // its text
  // A module that failed is polled less often while it keeps failing: when its next poll is
  // due at the latest (ms since the epoch); 0 when it is polled in the next round.
  qint64 nextPollMs = 0;
  bool current = false;       // input 0 measures current (shown in mA) rather than voltage
  double ain0 = 0;
  int decimals = 0;
  uint32_t din = 0;
  uint32_t statusRegister = 0;

  QString unit() const { return current ? QStringLiteral("mA") : QStringLiteral("V"); }
};

// The answer of a command the operator gave a module (outputs, status clear).
struct CommandResult {
  enum Kind { Outputs, ClearStatus } kind = Outputs;
  uint8_t address = 0;
  int baudCode = 4;
  uint32_t word = 0;  // the outputs written
  uint32_t status = 0;
  QString error;
};

Q_DECLARE_METATYPE(LineModule)
Q_DECLARE_METATYPE(ScanPlan)
Q_DECLARE_METATYPE(ModuleReading)
Q_DECLARE_METATYPE(CommandResult)
