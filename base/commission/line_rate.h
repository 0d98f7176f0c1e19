#pragma once
// A whole line moved to another rate: the new rate written into every module (each with its
// read-back), one power cycle of the line, then every module looked for at the new rate, else
// at its old one, else at any rate at its address; the line file follows what was found.

#include <QString>
#include <chrono>
#include <functional>
#include <vector>

#include "base/commission/module_place.h"
#include "base/config/line_file.h"

struct LineRateEvents {
  // Before each module's write (phase 0) and each module's search (phase 1).
  std::function<void(int phase, int index, int count)> progress;
  // Asks the operator to switch the whole line off and on; false: the operator gave up.
  std::function<bool(const QString& prompt)> powerCycle;
  // Asked before each module's write; true ends the writes there (the search after a power
  // cycle is never cut short: every module is looked for once).
  std::function<bool()> cancelled;
  std::function<void(int ms)> sleep;  // empty: QThread::msleep
  std::function<void(std::chrono::steady_clock::time_point exchanged)> pause;
};

struct LineRateRow {
  LineModule before;
  enum Write { Written, Refused, Failed, NotTried } write = NotTried;
  QString writeText;   // why the write did not go through
  Whereabouts after;   // where it answers now
};

struct LineRateResult {
  // Refused: nothing written (see refusal). Cancelled: the writes or the power cycle were
  // given up; the modules still answer where they did, those written change at their next
  // power-up. Done: every module answers at the new rate. Incomplete: some do not.
  enum Outcome { Done, Refused, Cancelled, Incomplete } outcome = Done;
  QString refusal;
  int baudCode = 4;
  std::vector<LineRateRow> rows;
  bool powerCycled = false;
  LineFile line;  // the line as its modules answer now
};

// The line's modules as they answer after the change; `line` as given when nothing changed.
LineRateResult ChangeLineRate(const PlaceAccess& access, const LineFile& line, int baudCode,
                              const LineRateEvents& events = {}, int powerWaitMs = 30000);

// "adresa 5: 57600 Bd → 115200 Bd, odpovídá na 115200 Bd"
QString LineRateRowText(const LineRateRow& row, int baudCode);
// What a cancelled change leaves: which modules hold the new rate for their next power-up.
QString LineRateCancelText(const LineRateResult& result);
