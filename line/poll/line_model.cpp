#include "line/poll/line_model.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <utility>

#include "base/text/baud.h"
#include "base/exchange/commands.h"
#include "base/text/czech_plural.h"
#include "base/text/value_format.h"

namespace {

// The failed exchanges by kind, those that happened.
QString FailureCounts(const ExchangeStats& s) {
  QStringList parts;
  const auto add = [&](ExchangeOutcome o, const char* name) {
    if (s.count(o) > 0) parts << QStringLiteral("%1 %2").arg(QString::fromUtf8(name)).arg(s.count(o));
  };
  add(ExchangeOutcome::Timeout, "bez odpovědi");
  add(ExchangeOutcome::Late, "pozdních");
  add(ExchangeOutcome::Damaged, "poškozených");
  add(ExchangeOutcome::Refused, "odmítnutých");
  add(ExchangeOutcome::Other, "jiných");
  return parts.join(QStringLiteral(", "));
}

}  // namespace

LineModel::LineModel(QObject* parent) : QAbstractTableModel(parent) {}

void LineModel::setModules(const QVector<LineModule>& modules) {
  beginResetModel();
  rows_.clear();
  rowOf_.clear();
  polls_.clear();
  for (const LineModule& m : modules) {
    if (!rowOf_.contains(ModuleKey(m))) rowOf_.insert(ModuleKey(m), int(rows_.size()));
    Row row;
    row.module = m;
    rows_.append(row);
  }
  dirty_.assign(rows_.size(), 0);
  anyDirty_ = false;
  endResetModel();
}

void LineModel::addModule(const LineModule& module) {
  if (rowOf(module.address, module.baudCode) >= 0) return;
  beginInsertRows({}, int(rows_.size()), int(rows_.size()));
  rowOf_.insert(ModuleKey(module), int(rows_.size()));
  Row row;
  row.module = module;
  rows_.append(row);
  dirty_.push_back(0);
  endInsertRows();
}

void LineModel::removeModule(int r) {
  if (r < 0 || r >= rows_.size()) return;
  beginRemoveRows({}, r, r);
  polls_.forget(rows_[r].module.address, rows_[r].module.baudCode);
  rows_.remove(r);
  dirty_.erase(dirty_.begin() + r);
  rowOf_.clear();
  for (int i = 0; i < rows_.size(); ++i) rowOf_.insert(ModuleKey(rows_[i].module), i);
  endRemoveRows();
  updateConflicts();  // a row that failed with it may now be the only one that fails
}

QVector<LineModule> LineModel::modules() const {
  QVector<LineModule> list;
  for (const Row& r : rows_) list.append(r.module);
  return list;
}

void LineModel::setWatch(Watch watch) {
  if (watch == watch_) return;
  watch_ = watch;
  for (int r = 0; r < rows_.size(); ++r) markDirty(r, ~0u);
  flush();
}

void LineModel::resetExchanges() {
  for (int r = 0; r < rows_.size(); ++r) {
    rows_[r].exchanges = ExchangeStats();
    markDirty(r, Cell(Exchanges));
  }
  flush();
}

int LineModel::rowOf(uint8_t address, int baudCode) const { return rowOf_.value(ModuleKey(address, baudCode), -1); }

void LineModel::markDirty(int row, uint32_t columns) {
  dirty_[std::size_t(row)] |= columns;
  anyDirty_ = true;
}

void LineModel::apply(const ModuleReading& reading) {
  const int r = rowOf(reading.address, reading.baudCode);
  if (r < 0) return;
  Row& row = rows_[r];
  // A change of state recolours the whole row.
  uint32_t changed = !row.polled || row.silent == reading.ok ? ~0u : 0u;
  if (row.outcome != reading.outcome || row.nextPollMs != reading.nextPollMs) changed |= Cell(State);
  row.polled = true;
  row.silent = !reading.ok;
  row.outcome = reading.outcome;
  row.nextPollMs = reading.nextPollMs;
  // The other rows' verdicts change only when the count of places failing damaged does.
  const int damagedBefore = polls_.damagedPlaces();
  polls_.add(reading.address, reading.baudCode, reading.ok ? ExchangeOutcome::Good : reading.outcome);
  if (polls_.damagedPlaces() != damagedBefore)
    updateConflicts();
  else
    updateConflict(r);
  if (reading.ok) {
    const std::optional<ModuleReading>& last = row.last;
    if (!last || last->ain0 != reading.ain0 || last->decimals != reading.decimals || last->current != reading.current)
      changed |= Cell(Ain0);
    if (!last || last->din != reading.din) changed |= Cell(Inputs);
    if (!last || last->statusRegister != reading.statusRegister) changed |= Cell(StatusReg);
    row.last = reading;
  } else {
    row.lastError = QLocale().toString(QDateTime::fromMSecsSinceEpoch(reading.timeMs).time(), QStringLiteral("HH:mm:ss")) +
                    QLatin1Char(' ') + reading.error;
    changed |= Cell(LastError);
  }
  markDirty(r, changed);
}

void LineModel::updateConflict(int r) {
  Row& row = rows_[r];
  const bool conflict = polls_.probablyTwoModules(row.module.address, row.module.baudCode);
  if (conflict == row.conflict) return;
  row.conflict = conflict;
  markDirty(r, Cell(State));
}

void LineModel::updateConflicts() {
  for (int r = 0; r < rows_.size(); ++r) updateConflict(r);
}

void LineModel::addExchange(const ExchangeRecord& record) {
  const int r = rowOf(record.address, BaudRateToCode(int32_t(record.rate)));
  if (r < 0) return;
  rows_[r].exchanges.add(record);
  markDirty(r, Cell(Exchanges));
}

void LineModel::applyCommand(const CommandResult& result) {
  const int r = rowOf(result.address, result.baudCode);
  if (r < 0) return;
  if (result.status != 0) {
    rows_[r].lastError = result.error;
    markDirty(r, Cell(LastError));
  } else if (result.kind == CommandResult::Outputs) {
    rows_[r].outputs = result.word;
    markDirty(r, Cell(Outputs));
  }
}

void LineModel::flush() {
  // A failing module's wait for its next poll counts down once a second.
  const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
  if (second != waitsShownAt_) {
    waitsShownAt_ = second;
    for (int r = 0; r < rows_.size(); ++r)
      if (rows_[r].silent && rows_[r].nextPollMs > 0) markDirty(r, Cell(State));
  }
  if (!anyDirty_) return;
  anyDirty_ = false;
  // Cell by cell: the view repaints just those cells' rectangles.
  for (int r = 0; r < int(dirty_.size()); ++r) {
    const uint32_t columns = std::exchange(dirty_[std::size_t(r)], 0);
    for (int c = 0; c < ColumnCount; ++c)
      if (columns >> c & 1u) emit dataChanged(index(r, c), index(r, c));
  }
}

QString LineModel::StatusBitsText(uint32_t bits) {
  const QStringList names = StatusBitNames();
  QStringList on;
  for (int n = 0; n < 32; ++n)
    if (bits >> n & 1u) on << (names[n] == QLatin1String("---") ? QStringLiteral("b%1").arg(n) : names[n]);
  return on.isEmpty() ? QStringLiteral("–") : on.join(QLatin1Char(' '));
}

QString LineModel::StateText(const Row& row, qint64 nowMs, Watch watch) {
  if (watch != Watch::Polling) {
    // Nobody asks the module: what it answered last is all that is known.
    const QString why = watch == Watch::Disconnected ? QStringLiteral("odpojeno") : QStringLiteral("dotazování neběží");
    if (!row.last) return why;
    return QStringLiteral("%1, hodnoty z %2")
        .arg(why, QLocale().toString(QDateTime::fromMSecsSinceEpoch(row.last->timeMs).time(), QStringLiteral("HH:mm:ss")));
  }
  if (!row.polled) return QStringLiteral("čeká");
  if (!row.silent) return QStringLiteral("odpovídá");
  QString text;
  switch (row.outcome) {
    case ExchangeOutcome::Damaged:
      text = row.conflict ? AddressConflictText(row.module.address) : QStringLiteral("poškozená odpověď");
      break;
    case ExchangeOutcome::Late: text = QStringLiteral("pozdní odpověď"); break;
    case ExchangeOutcome::Refused: text = QStringLiteral("odmítá dotaz"); break;
    case ExchangeOutcome::Other: text = QStringLiteral("chyba rozhraní"); break;
    case ExchangeOutcome::Good:  // a poll that failed is never good; counted as silent
    case ExchangeOutcome::Timeout: text = QStringLiteral("neodpovídá"); break;
  }
  // Below a second the next poll is as good as now.
  const qint64 waitMs = row.nextPollMs - nowMs;
  if (waitMs >= 1000) text += QStringLiteral(" (dotaz za %1 s)").arg((waitMs + 999) / 1000);
  return text;
}

int LineModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }
int LineModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant LineModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_.size()) return {};
  const Row& row = rows_[index.row()];
  const std::optional<ModuleReading>& last = row.last;
  const bool live = watch_ == Watch::Polling;
  if (role == Qt::ForegroundRole) {
    if (index.column() == State && row.silent && live) return QBrush(QColor(0xB0, 0, 0));
    if ((row.silent || !live) && index.column() >= Ain0 && index.column() <= StatusReg) return QBrush(Qt::gray);
    return {};
  }
  if (role == Qt::BackgroundRole && row.silent && live) return QBrush(QColor(0xFF, 0xE4, 0xE1));
  if (role == BitsRole) {
    if (index.column() == Inputs && last) return QVariant::fromValue(last->din);
    if (index.column() == Outputs && row.outputs) return QVariant::fromValue(*row.outputs);
    return {};
  }
  if (role == Qt::ToolTipRole) {
    if (index.column() == Outputs)
      return QStringLiteral("Modul své výstupy nehlásí: poslední slovo zapsané tímto programem.");
    if (index.column() == State) return StateText(row, QDateTime::currentMSecsSinceEpoch(), watch_);
    if (index.column() == Ident) return row.module.ident;
    if (!live && last && index.column() >= Ain0 && index.column() <= StatusReg && index.column() != Outputs)
      return QStringLiteral("Poslední známá hodnota, odečtena v %1")
          .arg(QLocale().toString(QDateTime::fromMSecsSinceEpoch(last->timeMs).time(), QStringLiteral("HH:mm:ss")));
    if (index.column() == LastError) return row.lastError;
    if (index.column() == Exchanges) return row.exchanges.text();
    return {};
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case Address: return row.module.address;
    case Rate: return QStringLiteral("%1 Bd").arg(BaudCodeToRate(row.module.baudCode));
    case Ident: return row.module.ident;
    case State: return StateText(row, QDateTime::currentMSecsSinceEpoch(), watch_);
    case Ain0:
      return last ? FormatFixedPrecision5(float(last->ain0), last->decimals) + QLatin1Char(' ') + last->unit() : QString();
    case Inputs: return last ? QStringLiteral("%1").arg(last->din, 8, 16, QLatin1Char('0')).toUpper() : QString();
    case Outputs:
      return row.outputs ? QStringLiteral("%1").arg(*row.outputs, 8, 16, QLatin1Char('0')).toUpper()
                         : QStringLiteral("neznámé");
    case StatusReg: return last ? StatusBitsText(last->statusRegister) : QString();
    case LastError: return row.lastError;
    case Exchanges:
      if (row.exchanges.total() == 0) return QString();
      return QStringLiteral("%1, chyb %2, ø %3 / max %4 ms")
          .arg(row.exchanges.total())
          .arg(row.failures() == 0 ? QStringLiteral("0")
                                   : QStringLiteral("%1 (%2)").arg(row.failures()).arg(FailureCounts(row.exchanges)))
          .arg(QLocale().toString(double(std::max<int64_t>(0, row.exchanges.meanRoundTrip())) / 1e6, 'f', 2))
          .arg(QLocale().toString(double(std::max<int64_t>(0, row.exchanges.roundTrip(1.0))) / 1e6, 'f', 2));
    default: return {};
  }
}

QVariant LineModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const QStringList titles = {
      QStringLiteral("Adresa"),      QStringLiteral("Rychlost"), QStringLiteral("Identifikace"),
      QStringLiteral("Stav"),        QStringLiteral("AIN 0"),    QStringLiteral("Vstupy DIN"),
      QStringLiteral("Výstupy (zapsané)"), QStringLiteral("Status registr"),
      QStringLiteral("Poslední chyba"), QStringLiteral("Výměny")};
  return titles.value(section);
}

void PollRate::start(qint64 nowMs, qint64 readings) {
  samples_.clear();
  startReadings_ = readings;
  samples_.emplace_back(nowMs, readings);
}

void PollRate::add(qint64 nowMs, qint64 readings) {
  if (samples_.empty()) return start(nowMs, readings);
  samples_.emplace_back(nowMs, readings);
  while (samples_.size() > 2 && samples_[1].first <= nowMs - WindowMs) samples_.pop_front();
}

double PollRate::perSecond() const {
  if (samples_.size() < 2 || samples_.back().first <= samples_.front().first) return 0;
  return double(samples_.back().second - samples_.front().second) * 1000.0 /
         double(samples_.back().first - samples_.front().first);
}

QString PollRate::text() const {
  if (samples_.empty() || samples_.back().second == startReadings_) return QStringLiteral("čeká se na první odečet");
  return CzechRate(perSecond(), "odečet", "odečty", "odečtů");
}
