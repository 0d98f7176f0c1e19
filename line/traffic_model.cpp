#include "line/traffic_model.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QLocale>

namespace {

QString Bytes(const std::array<uint8_t, 5>& bytes) {
  QString text;
  for (uint8_t b : bytes) text += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
  text.chop(1);
  return text;
}

}  // namespace

TrafficModel::TrafficModel(QObject* parent) : QAbstractTableModel(parent) {}

void TrafficModel::add(const std::vector<ExchangeRecord>& records) {
  if (records.empty()) return;
  for (const ExchangeRecord& r : records) all_.push_back(r);
  while (all_.size() > Capacity) all_.pop_front();
  if (paused_) return;
  std::vector<const ExchangeRecord*> passing;
  for (const ExchangeRecord& r : records)
    if (filter_.passes(r)) passing.push_back(&r);
  if (passing.empty()) return;
  // The view holds at most Capacity rows: the oldest leave first.
  const std::size_t overflow = shown_.size() + passing.size() > Capacity ? shown_.size() + passing.size() - Capacity : 0;
  if (overflow >= shown_.size()) {
    rebuild();
    return;
  }
  if (overflow > 0) {
    beginRemoveRows({}, 0, int(overflow) - 1);
    shown_.erase(shown_.begin(), shown_.begin() + std::ptrdiff_t(overflow));
    endRemoveRows();
  }
  beginInsertRows({}, int(shown_.size()), int(shown_.size() + passing.size()) - 1);
  for (const ExchangeRecord* r : passing) shown_.push_back(*r);
  endInsertRows();
}

void TrafficModel::setFilter(const TrafficFilter& filter) {
  filter_ = filter;
  rebuild();
}

void TrafficModel::setPaused(bool paused) {
  if (paused_ == paused) return;
  paused_ = paused;
  if (!paused) rebuild();  // what came meanwhile shows up at once
}

void TrafficModel::clear() {
  all_.clear();
  rebuild();
}

void TrafficModel::rebuild() {
  beginResetModel();
  shown_.clear();
  for (const ExchangeRecord& r : all_)
    if (filter_.passes(r)) shown_.push_back(r);
  endResetModel();
}

void TrafficModel::forEachShown(const std::function<void(const ExchangeRecord&)>& f) const {
  for (const ExchangeRecord& r : shown_) f(r);
}

int TrafficModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(shown_.size()); }
int TrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || std::size_t(index.row()) >= shown_.size()) return {};
  const ExchangeRecord& r = shown_[std::size_t(index.row())];
  if (role == Qt::ForegroundRole) return r.status != 0 ? QBrush(QColor(0xB0, 0, 0)) : QVariant();
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case Time:
      return QLocale().toString(QDateTime::fromMSecsSinceEpoch(r.startNs / 1000000).time(), QStringLiteral("HH:mm:ss.zzz"));
    case Address: return r.address;
    case Rate: return r.rate == 0 ? QString() : QStringLiteral("%1 Bd").arg(r.rate);
    case Command: return QStringLiteral("%1 %2 [%3]").arg(r.command).arg(QString::fromUtf8(ExchangeCommandName(r.command))).arg(r.index);
    case Sent: return Bytes(r.out);
    case Answered: return r.status == 0 ? Bytes(r.in) : QString();
    case Duration: return QLocale().toString(double(r.durationNs) / 1e6, 'f', 2);
    case Status: return r.status == 0 ? QStringLiteral("v pořádku") : QStringLiteral("%1 %2").arg(r.status).arg(QString::fromUtf8(r.statusText));
    default: return {};
  }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const QStringList titles = {QStringLiteral("Čas"),      QStringLiteral("Adresa"),   QStringLiteral("Rychlost"),
                                     QStringLiteral("Příkaz"),   QStringLiteral("Odesláno"), QStringLiteral("Přijato"),
                                     QStringLiteral("Trvání [ms]"), QStringLiteral("Stav")};
  return titles.value(section);
}
