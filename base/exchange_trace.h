#pragma once
// Exchange records as a reader shows them: one text or JSON line each, and the counts and
// round trips of many.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/exchange_observer.h"

// "2026-12-07T15:20:01.123456+01:00 ..." in local time with its offset.
QString ExchangeTimeText(int64_t epochNs);
// One line without its line end, in the text or the JSON lines form.
QByteArray ExchangeTraceLine(const ExchangeRecord& record, bool json);
// The text form into a buffer of the caller's (ended by 0, cut to fit); its length. For a
// writer that traces every exchange as it goes.
constexpr std::size_t ExchangeTraceTextSize = 320;
std::size_t ExchangeTraceText(const ExchangeRecord& record, char* buffer, std::size_t size);

class ExchangeStats {
 public:
  void add(const ExchangeRecord& record);
  uint64_t total() const { return total_; }
  uint64_t count(ExchangeOutcome outcome) const { return counts_[int(outcome)]; }
  // Round trip of the exchanges the module answered (good or refused), in ns; the q-quantile
  // (0..1) by the nearest rank, -1 when there were none.
  int64_t roundTrip(double q) const;
  QString text() const;       // one Czech line
  QByteArray json() const;    // one JSON object

 private:
  uint64_t total_ = 0;
  uint64_t counts_[6] = {};
  mutable std::vector<int64_t> answered_;
  mutable bool sorted_ = true;
};
