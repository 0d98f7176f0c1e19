#include "base/exchange_trace.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

#include "base/driver_loader.h"

namespace {

const char* const InterfaceNames[] = {"serial", "isa", "pci", "usb", "lan"};

QString InterfaceName(uint8_t iface) {
  return iface < InterfaceCount ? QString::fromLatin1(InterfaceNames[iface]) : QString::number(iface);
}

QString Bytes(const std::array<uint8_t, 5>& bytes) {
  QString text;
  for (uint8_t b : bytes) text += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
  text.chop(1);
  return text;
}

QJsonArray BytesJson(const std::array<uint8_t, 5>& bytes) {
  QJsonArray array;
  for (uint8_t b : bytes) array.append(b);
  return array;
}

QString Milliseconds(int64_t ns) { return QString::number(double(ns) / 1e6, 'f', 3); }

}  // namespace

QString ExchangeTimeText(int64_t epochNs) {
  const int64_t ms = epochNs / 1000000;
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
  const QDateTime stamped = local.toOffsetFromUtc(local.offsetFromUtc());
  // ISO 8601 with microseconds: Qt writes milliseconds only.
  QString text = stamped.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
  text += QStringLiteral("%1").arg(int((epochNs / 1000) % 1000), 3, 10, QLatin1Char('0'));
  const int offset = stamped.offsetFromUtc();
  const int minutes = std::abs(offset) / 60;
  text += QStringLiteral("%1%2:%3")
              .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
  return text;
}

QByteArray ExchangeTraceLine(const ExchangeRecord& r, bool json) {
  const QString text = QString::fromUtf8(r.statusText);
  if (json) {
    const QJsonObject object{{QStringLiteral("time"), ExchangeTimeText(r.startNs)},
                             {QStringLiteral("interface"), InterfaceName(r.iface)},
                             {QStringLiteral("address"), r.address},
                             {QStringLiteral("rate"), qint64(r.rate)},
                             {QStringLiteral("command"), r.command},
                             {QStringLiteral("name"), QString::fromUtf8(ExchangeCommandName(r.command))},
                             {QStringLiteral("index"), r.index},
                             {QStringLiteral("out"), BytesJson(r.out)},
                             {QStringLiteral("status"), qint64(r.status)},
                             {QStringLiteral("text"), text},
                             {QStringLiteral("in"), BytesJson(r.in)},
                             {QStringLiteral("duration_ms"), double(r.durationNs) / 1e6}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
  }
  return QStringLiteral("%1 %2 adr %3 %4 Bd  %5 %6 [%7]  > %8  < %9  stav %10 %11  %12 ms")
      .arg(ExchangeTimeText(r.startNs), InterfaceName(r.iface))
      .arg(r.address)
      .arg(r.rate)
      .arg(r.command)
      .arg(QString::fromUtf8(ExchangeCommandName(r.command)))
      .arg(r.index)
      .arg(Bytes(r.out), Bytes(r.in))
      .arg(r.status)
      .arg(text, Milliseconds(r.durationNs))
      .toUtf8();
}

void ExchangeStats::add(const ExchangeRecord& record) {
  const ExchangeOutcome outcome = ClassifyExchangeStatus(record.status);
  ++total_;
  ++counts_[int(outcome)];
  if (outcome == ExchangeOutcome::Good || outcome == ExchangeOutcome::Refused) {
    answered_.push_back(record.durationNs);
    sorted_ = false;
  }
}

int64_t ExchangeStats::roundTrip(double q) const {
  if (answered_.empty()) return -1;
  if (!sorted_) {
    std::sort(answered_.begin(), answered_.end());
    sorted_ = true;
  }
  const auto rank = std::size_t(std::ceil(q * double(answered_.size())));
  return answered_[std::clamp<std::size_t>(rank, 1, answered_.size()) - 1];
}

QString ExchangeStats::text() const {
  QString line = QStringLiteral("Výměn: %1, dobrých %2, bez odpovědi %3, poškozených %4, odmítnutých %5, jiných chyb %6")
                     .arg(total_)
                     .arg(count(ExchangeOutcome::Good))
                     .arg(count(ExchangeOutcome::Timeout))
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
