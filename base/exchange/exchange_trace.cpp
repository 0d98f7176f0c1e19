#include "base/exchange/exchange_trace.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdio>

#include "base/exchange/driver_loader.h"
#include "base/wire/wire_budget.h"

namespace {

const char* const InterfaceNames[] = {"serial", "isa", "pci", "usb", "lan"};

QString InterfaceName(uint8_t iface) {
  return iface < InterfaceCount ? QString::fromLatin1(InterfaceNames[iface]) : QString::number(iface);
}

template <std::size_t N>
QJsonArray BytesJson(const std::array<uint8_t, N>& bytes, std::size_t n = N) {
  QJsonArray array;
  for (std::size_t i = 0; i < std::min(n, N); ++i) array.append(bytes[i]);
  return array;
}

// Whole microseconds, as the trace lines show them; in the user's locale, since the summary is a
// sentence (the trace lines and JSON keep the decimal point).
QString Milliseconds(int64_t ns) { return QLocale().toString(double(ns / 1000) / 1e3, 'f', 3); }

}  // namespace

namespace {

// The local date and time to the second and the offset change once a second; converting to
// local time is what costs, so the last second's text is kept.
struct SecondText {
  int64_t second = INT64_MIN;
  char head[32] = {};   // "2026-12-07T15:20:01"
  char offset[8] = {};  // "+01:00"
};

const SecondText& Second(int64_t s) {
  thread_local SecondText last;
  if (s != last.second) {
    const QDateTime local = QDateTime::fromSecsSinceEpoch(s);
    const int seconds = local.offsetFromUtc(), minutes = std::abs(seconds) / 60;
    const QByteArray head = local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
    std::snprintf(last.head, sizeof last.head, "%s", head.constData());
    std::snprintf(last.offset, sizeof last.offset, "%c%02d:%02d", seconds < 0 ? '-' : '+', minutes / 60 % 100,
                  minutes % 60);
    last.second = s;
  }
  return last;
}

struct Number {
  uint32_t value;
};
// Nanoseconds as milliseconds to the microsecond: "12.345".
struct Millis {
  int64_t ns;
};
struct HexBytes {
  const uint8_t* bytes;
  std::size_t size;
  template <std::size_t N>
  HexBytes(const std::array<uint8_t, N>& a, std::size_t n = N) : bytes(a.data()), size(std::min(n, N)) {}
};

// Appends to a fixed buffer, never past its end.
struct Writer {
  char* at;
  char* end;
  void put(const char* text) {
    while (*text != 0 && at < end) *at++ = *text++;
  }
  void put(char c) {
    if (at < end) *at++ = c;
  }
  void put(Number n) {
    char digits[10];
    int k = 0;
    do digits[k++] = char('0' + n.value % 10); while ((n.value /= 10) != 0);
    while (k > 0) put(digits[--k]);
  }
  void put(HexBytes h) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < h.size; ++i) {
      if (i > 0) put(' ');
      put(Hex[h.bytes[i] >> 4]);
      put(Hex[h.bytes[i] & 15]);
    }
  }
  void put(Millis m) {
    const int64_t us = std::max<int64_t>(0, m.ns) / 1000;
    const uint32_t frac = uint32_t(us % 1000);
    put(Number{uint32_t(std::min<int64_t>(us / 1000, UINT32_MAX))});
    (*this)('.', char('0' + frac / 100), char('0' + frac / 10 % 10), char('0' + frac % 10));
  }
  template <typename... Parts>
  void operator()(const Parts&... parts) {
    (put(parts), ...);
  }
};

std::size_t TimeText(int64_t epochNs, char* buffer, std::size_t size) {
  const int64_t s = epochNs >= 0 ? epochNs / 1000000000 : (epochNs - 999999999) / 1000000000;
  const SecondText& second = Second(s);
  const int n = std::snprintf(buffer, size, "%s.%06d%s", second.head, int((epochNs - s * 1000000000) / 1000),
                              second.offset);
  return std::size_t(std::clamp(n, 0, int(size) - 1));
}

}  // namespace

QString ExchangeTimeText(int64_t epochNs) {
  char text[48];
  return QString::fromLatin1(text, qsizetype(TimeText(epochNs, text, sizeof text)));
}

std::size_t ExchangeTraceText(const ExchangeRecord& r, char* buffer, std::size_t size) {
  if (size == 0) return 0;
  // Possibly thousands of lines a second: no allocation, no formatting passes.
  Writer w{buffer, buffer + size - 1};
  w.at += TimeText(r.startNs, buffer, size);
  w(' ', r.iface < InterfaceCount ? InterfaceNames[r.iface] : "?", " adr ", Number{r.address}, ' ', Number{r.rate},
    " Bd  ", Number{r.command}, ' ', ExchangeCommandName(r.command), " [", Number{r.index}, "]  > ", HexBytes{r.out},
    "  < ");
  // A failed exchange has no data bytes: what came instead, if anything, is shown as it came.
  if (r.status == 0)
    w(HexBytes{r.in});
  else if (r.receivedSize > 0)
    w("přijato ", Number{r.receivedSize}, " B: ", HexBytes{r.received, r.receivedSize});
  else
    w("nic");
  w("  stav ", Number{r.status}, ' ', r.statusText, "  ", Millis{r.durationNs}, " ms");
  // The round trip beside what the wire alone takes tells a slow module from a slow host.
  if (r.rate > 0) w(" (vedení ", Millis{wire::ExchangeTime(int32_t(r.rate)).count() + 500}, " ms)");
  *w.at = 0;
  return std::size_t(w.at - buffer);
}

QByteArray ExchangeTraceLine(const ExchangeRecord& r, bool json) {
  if (json) {
    QJsonObject object{{QStringLiteral("time"), ExchangeTimeText(r.startNs)},
                       {QStringLiteral("interface"), InterfaceName(r.iface)},
                       {QStringLiteral("address"), r.address},
                       {QStringLiteral("rate"), qint64(r.rate)},
                       {QStringLiteral("command"), r.command},
                       {QStringLiteral("name"), QString::fromUtf8(ExchangeCommandName(r.command))},
                       {QStringLiteral("index"), r.index},
                       {QStringLiteral("out"), BytesJson(r.out)},
                       {QStringLiteral("status"), qint64(r.status)},
                       {QStringLiteral("text"), QString::fromUtf8(r.statusText)},
                       {QStringLiteral("in"), BytesJson(r.in)},
                       {QStringLiteral("duration_ms"), double(r.durationNs) / 1e6}};
    if (r.rate > 0) object.insert(QStringLiteral("wire_ms"), ExchangeWireTimeMs(int32_t(r.rate)));
    if (r.status != 0) object.insert(QStringLiteral("received"), BytesJson(r.received, r.receivedSize));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
  }
  char line[ExchangeTraceTextSize];
  return QByteArray(line, qsizetype(ExchangeTraceText(r, line, sizeof line)));
}

namespace {

// Round trips below 2 * SubBuckets ns have a bucket each; above, every power of two is split
// into SubBuckets buckets. Past about 18 minutes (never a round trip) all share the last.
constexpr int SubBits = 5, SubBuckets = 1 << SubBits;
constexpr uint64_t LongestNs = (uint64_t(1) << 40) - 1;

int Shift(uint64_t ns) { return std::max(0, int(std::bit_width(ns)) - SubBits - 1); }

std::size_t BucketOf(uint64_t ns) {
  ns = std::min(ns, LongestNs);
  const int shift = Shift(ns);
  return std::size_t(shift) * SubBuckets + std::size_t(ns >> shift);
}

// The middle of the bucket.
int64_t BucketValue(std::size_t bucket) {
  if (bucket < 2 * SubBuckets) return int64_t(bucket);
  const int shift = int(bucket / SubBuckets) - 1;
  const uint64_t top = bucket - std::size_t(shift) * SubBuckets;
  return int64_t((top << shift) + (uint64_t(1) << shift) / 2);
}

}  // namespace

void ExchangeStats::add(const ExchangeRecord& record) {
  const ExchangeOutcome outcome = ClassifyExchangeStatus(record.status);
  ++total_;
  ++counts_[int(outcome)];
  if (outcome != ExchangeOutcome::Good && outcome != ExchangeOutcome::Refused) return;
  const int64_t ns = std::max<int64_t>(0, record.durationNs);
  minNs_ = answered_ == 0 ? ns : std::min(minNs_, ns);
  maxNs_ = answered_ == 0 ? ns : std::max(maxNs_, ns);
  ++answered_;
  sumNs_ += ns;
  const std::size_t bucket = BucketOf(uint64_t(ns));
  if (bucket >= buckets_.size()) buckets_.resize(bucket + 1);
  ++buckets_[bucket];
}

int64_t ExchangeStats::roundTrip(double q) const {
  if (answered_ == 0) return -1;
  const auto rank = std::clamp<uint64_t>(uint64_t(std::ceil(q * double(answered_))), 1, answered_);
  if (rank == 1) return minNs_;
  if (rank == answered_) return maxNs_;
  uint64_t below = 0;
  for (std::size_t b = 0; b < buckets_.size(); ++b) {
    below += buckets_[b];
    if (below >= rank) return std::clamp(BucketValue(b), minNs_, maxNs_);
  }
  return maxNs_;
}

int64_t ExchangeStats::meanRoundTrip() const { return answered_ == 0 ? -1 : sumNs_ / int64_t(answered_); }

QString ExchangeStats::text() const {
  QString line = QStringLiteral("Výměn: %1, dobrých %2, bez odpovědi %3, pozdních %4, poškozených %5, odmítnutých %6, "
                                "jiných chyb %7")
                     .arg(total_)
                     .arg(count(ExchangeOutcome::Good))
                     .arg(count(ExchangeOutcome::Timeout))
                     .arg(count(ExchangeOutcome::Late))
                     .arg(count(ExchangeOutcome::Damaged))
                     .arg(count(ExchangeOutcome::Refused))
                     .arg(count(ExchangeOutcome::Other));
  if (roundTrip(1.0) >= 0)
    line += QStringLiteral("; doba odezvy medián %1 ms, 95 % %2 ms, max %3 ms")
                .arg(Milliseconds(roundTrip(0.5)), Milliseconds(roundTrip(0.95)), Milliseconds(roundTrip(1.0)));
  return line;
}

QByteArray ExchangeStats::json() const {
  QJsonObject object{{QStringLiteral("exchanges"), qint64(total_)},
                     {QStringLiteral("good"), qint64(count(ExchangeOutcome::Good))},
                     {QStringLiteral("timeouts"), qint64(count(ExchangeOutcome::Timeout))},
                     {QStringLiteral("late"), qint64(count(ExchangeOutcome::Late))},
                     {QStringLiteral("damaged"), qint64(count(ExchangeOutcome::Damaged))},
                     {QStringLiteral("refused"), qint64(count(ExchangeOutcome::Refused))},
                     {QStringLiteral("other"), qint64(count(ExchangeOutcome::Other))}};
  if (roundTrip(1.0) >= 0) {
    object.insert(QStringLiteral("median_ms"), double(roundTrip(0.5)) / 1e6);
    object.insert(QStringLiteral("p95_ms"), double(roundTrip(0.95)) / 1e6);
    object.insert(QStringLiteral("max_ms"), double(roundTrip(1.0)) / 1e6);
  }
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
