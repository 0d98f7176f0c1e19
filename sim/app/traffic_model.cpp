#include "sim/app/traffic_model.h"

#include <QColor>
#include <QDateTime>
#include <QIODevice>

#include "sim/control/traffic.h"

bool SimTrafficFilter::passes(const SimLogEntry& e) const {
  if (module >= 0 && e.module != module) return false;
  if (command >= 0 && e.request.command != command) return false;
  switch (status) {
    case AnyStatus: return true;
    case Ok: return SimOutcomeOf(e) == SimOutcome::Ok;
    case Refused: return SimOutcomeOf(e) == SimOutcome::Refused;
    case Silent: return SimOutcomeOf(e) == SimOutcome::Silent;
    case Faulted: return !e.note.empty();
  }
  return true;
}

SimTrafficModel::SimTrafficModel(QObject* parent)
    : QAbstractTableModel(parent), utcOffset_(QDateTime::currentDateTime().offsetFromUtc()) {}

int SimTrafficModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(shown_.size()); }
int SimTrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Columns; }

QString SimTrafficModel::text(const SimLogEntry& e, int column) const {
  switch (column) {
    case Time: return SimTimeText(e, utcOffset_).mid(11, 12);  // hh:mm:ss.zzz
    case Module: return e.module >= 0 ? QString::number(e.module) : QStringLiteral("–");
    case Address: return QString::number(e.request.address);
    case Rate: return QString::number(e.request.rate);
    case Command: return QStringLiteral("%1 %2").arg(e.request.command).arg(SimCommandName(e.request.command));
    case Index: return QString::number(e.request.index);
    case Data: return SimDataText(e.request.data.data());
    case Status: return SimStatusText(e);
    case Answer: return e.answer ? SimDataText(e.answer->data.data()) : QString();
    case Fault: return QString::fromStdString(e.note);
    default: return {};
  }
}

QVariant SimTrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || size_t(index.row()) >= shown_.size()) return {};
  const SimLogEntry& e = *shown_[size_t(index.row())];
  if (role == Qt::DisplayRole) return text(e, index.column());
  if (role == Qt::ForegroundRole && (SimOutcomeOf(e) != SimOutcome::Ok || !e.note.empty())) return QColor(0xb0, 0, 0);
  return {};
}

QVariant SimTrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  static const char* const names[Columns] = {"Čas", "Modul", "Adresa", "Bd", "Příkaz", "Index",
                                             "Data", "Stav", "Odpověď", "Porucha"};
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= Columns) return {};
  return QString::fromUtf8(names[section]);
}

void SimTrafficModel::append(std::vector<SimLogEntry> batch) {
  if (batch.empty()) return;
  if (batch.front().serial > lastSerial_ + 1) skipped_ += batch.front().serial - lastSerial_ - 1;
  lastSerial_ = batch.back().serial;
  received_ += batch.size();
  const size_t before = kept_.size();
  for (auto& e : batch) kept_.push_back(std::move(e));
  std::vector<const SimLogEntry*> passing;
  for (size_t i = before; i < kept_.size(); ++i)
    if (filter_.passes(kept_[i])) passing.push_back(&kept_[i]);
  // What will not stay is neither inserted nor painted; nor is a row whose entry goes.
  const size_t take = std::min(passing.size(), MaxRows);
  const size_t evicted = kept_.size() > KeepRows ? kept_.size() - KeepRows : 0;
  const uint64_t lastEvicted = evicted ? kept_[evicted - 1].serial : 0;
  size_t overflow = shown_.size() + take > MaxRows ? shown_.size() + take - MaxRows : 0;
  while (overflow < shown_.size() && shown_[overflow]->serial <= lastEvicted) ++overflow;
  if (overflow > 0) {
    beginRemoveRows({}, 0, int(overflow) - 1);
    shown_.erase(shown_.begin(), shown_.begin() + ptrdiff_t(overflow));
    endRemoveRows();
  }
  if (take > 0) {
    beginInsertRows({}, int(shown_.size()), int(shown_.size() + take) - 1);
    shown_.insert(shown_.end(), passing.end() - ptrdiff_t(take), passing.end());
    endInsertRows();
  }
  kept_.erase(kept_.begin(), kept_.begin() + ptrdiff_t(evicted));
}

void SimTrafficModel::setFilter(const SimTrafficFilter& filter) {
  beginResetModel();
  filter_ = filter;
  shown_.clear();
  for (auto it = kept_.rbegin(); it != kept_.rend() && shown_.size() < MaxRows; ++it)
    if (filter_.passes(*it)) shown_.push_front(&*it);
  endResetModel();
}

void SimTrafficModel::clear() {
  beginResetModel();
  kept_.clear();
  shown_.clear();
  received_ = skipped_ = 0;
  endResetModel();
}

namespace {
QString CsvField(QString text) {
  if (!text.contains(',') && !text.contains('"') && !text.contains('\n')) return text;
  return '"' + text.replace('"', QStringLiteral("\"\"")) + '"';
}
}  // namespace

void SimTrafficModel::writeCsv(QIODevice& out) const {
  QStringList header{QStringLiteral("pořadí"), QStringLiteral("čas"), QStringLiteral("spojení")};
  for (int c = Module; c < Columns; ++c) header << headerData(c, Qt::Horizontal).toString().toLower();
  out.write(header.join(',').toUtf8() + "\r\n");
  for (const SimLogEntry* row : shown_) {
    const SimLogEntry& e = *row;
    QStringList fields{QString::number(e.serial), SimTimeText(e, utcOffset_),
                       e.channel == SimLogEntry::Lan      ? QStringLiteral("UDP")
                       : e.channel == SimLogEntry::Serial ? QStringLiteral("sériová")
                                                          : QStringLiteral("místní")};
    for (int c = Module; c < Columns; ++c) fields << CsvField(text(e, c));
    out.write(fields.join(',').toUtf8() + "\r\n");
  }
}
