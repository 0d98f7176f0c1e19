#pragma once
// Exchange records as a reader shows them: one text or JSON line each, and the counts and
// round trips of many.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/exchange/exchange_observer.h"

// "2026-12-07T15:20:01.123456+01:00 ..." in local time with its offset.
QString ExchangeTimeText(int64_t epochNs);
// One line without its line end, in the text or the JSON lines form; the round trip has the
// wire time of an exchange at the record's rate beside it (base/wire/wire_time.h), when it is known.
QByteArray ExchangeTraceLine(const ExchangeRecord& record, bool json);
// The text form into a buffer of the caller's (ended by 0, cut to fit); its length. For a
// writer that traces every exchange as it goes.
constexpr std::size_t ExchangeTraceTextSize = 452;
std::size_t ExchangeTraceText(const ExchangeRecord& record, char* buffer, std::size_t size);

// Counts and round trips of any number of exchanges in a fixed amount of memory: the round
// trips go into a histogram whose buckets are at most 1/32 of their value wide, so a quantile
// is within 1.6 % of the exact one; the least and the largest are kept exactly.
class ExchangeStats {
 public:
  void add(const ExchangeRecord& record);
  uint64_t total() const { return total_; }
  uint64_t count(ExchangeOutcome outcome) const { return counts_[int(outcome)]; }
  // Round trip of the exchanges the module answered (good or refused), in ns; the q-quantile
  // (0..1) by the nearest rank, -1 when there were none.
  int64_t roundTrip(double q) const;
  // Their mean, exact; -1 when there were none.
  int64_t meanRoundTrip() const;
  QString text() const;       // one Czech line
  QByteArray json() const;    // one JSON object

 private:
  uint64_t total_ = 0;
  uint64_t counts_[6] = {};
  uint64_t answered_ = 0;
  int64_t sumNs_ = 0, minNs_ = 0, maxNs_ = 0;
  std::vector<uint64_t> buckets_;  // grows up to the bucket of the longest round trip, no further
};
