#include "line/traffic/traffic_model.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <algorithm>

namespace {

template <std::size_t N>
QString Bytes(const std::array<uint8_t, N>& bytes, std::size_t n = N) {
  QString text;
  for (std::size_t i = 0; i < std::min(n, N); ++i)
    text += QStringLiteral("%1 ").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
  text.chop(1);
  return text;
}

// A failed exchange has no data bytes; what came instead is what tells line noise apart.
QString AnsweredText(const ExchangeRecord& r) {
  if (r.status == 0) return Bytes(r.in);
  if (r.receivedSize == 0) return QString();
  return QStringLiteral("přijato %1 B: %2").arg(r.receivedSize).arg(Bytes(r.received, r.receivedSize));
}

}  // namespace

TrafficModel::TrafficModel(QObject* parent) : QAbstractTableModel(parent) {}

void TrafficModel::take(const ExchangeRecord& r) {
  if (ring_.empty()) ring_.resize(Capacity);
  ring_[next_++ % Capacity] = r;
  kept_ = std::min(Capacity, kept_ + 1);
}

void TrafficModel::takeFrom(ExchangeQueue& queue, const std::function<void(const ExchangeRecord&)>& each) {
  if (ring_.empty()) ring_.resize(Capacity);
  while (queue.pop(ring_[next_ % Capacity])) {
    each(ring_[next_ % Capacity]);
    ++next_;
    kept_ = std::min(Capacity, kept_ + 1);
  }
}

void TrafficModel::publish() {
  const uint64_t from = published_;
  published_ = next_;
  if (paused_ || from == next_) return;
  const uint64_t oldest = next_ - kept_;
  // Rows whose records the ring has overwritten leave first.
  std::size_t gone = 0;
  while (gone < shown_.size() && shown_[gone] < oldest) ++gone;
  if (gone > 0 && gone == shown_.size()) {
    rebuild();
    return;
  }
  if (gone > 0) {
    beginRemoveRows({}, 0, int(gone) - 1);
    shown_.erase(shown_.begin(), shown_.begin() + std::ptrdiff_t(gone));
    endRemoveRows();
  }
  std::vector<uint64_t> passing;
  for (uint64_t serial = std::max(oldest, from); serial < next_; ++serial)
    if (filter_.passes(record(serial))) passing.push_back(serial);
  if (passing.empty()) return;
  beginInsertRows({}, int(shown_.size()), int(shown_.size() + passing.size()) - 1);
  shown_.insert(shown_.end(), passing.begin(), passing.end());
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
  kept_ = 0;
  rebuild();
}

void TrafficModel::rebuild() {
  published_ = next_;
  beginResetModel();
  shown_.clear();
  for (uint64_t serial = next_ - kept_; serial < next_; ++serial)
    if (filter_.passes(record(serial))) shown_.push_back(serial);
  endResetModel();
}

void TrafficModel::forEachShown(const std::function<void(const ExchangeRecord&)>& f) const {
  for (uint64_t serial : shown_) f(record(serial));
}

int TrafficModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(shown_.size()); }
int TrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || std::size_t(index.row()) >= shown_.size()) return {};
  const ExchangeRecord& r = record(shown_[std::size_t(index.row())]);
  if (role == Qt::ForegroundRole) return r.status != 0 ? QBrush(QColor(0xB0, 0, 0)) : QVariant();
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case Time:
      return QLocale().toString(QDateTime::fromMSecsSinceEpoch(r.startNs / 1000000).time(), QStringLiteral("HH:mm:ss.zzz"));
    case Address: return r.address;
    case Rate: return r.rate == 0 ? QString() : QStringLiteral("%1 Bd").arg(r.rate);
    case Command: return QStringLiteral("%1 %2 [%3]").arg(r.command).arg(QString::fromUtf8(ExchangeCommandName(r.command))).arg(r.index);
    case Sent: return Bytes(r.out);
    case Answered: return AnsweredText(r);
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
