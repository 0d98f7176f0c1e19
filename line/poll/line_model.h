#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QVector>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "base/exchange/address_conflict.h"
#include "base/exchange/exchange_observer.h"
#include "base/exchange/exchange_trace.h"
#include "line/common/line_types.h"

// The line overview: one row per module, in the order they were found. A module that stops
// answering keeps its row, marked, with its last values greyed, until it answers again. While
// nobody asks the modules (the line disconnected, the polling stopped) every row says so and
// its values read as the last known, with the time they were read.
class LineModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { Address, Rate, Ident, State, Ain0, Inputs, Outputs, StatusReg, LastError, Exchanges, ColumnCount };
  // Inputs and Outputs: the 32 bits as an unsigned int, or an invalid QVariant while unknown.
  static constexpr int BitsRole = Qt::UserRole + 1;

  struct Row {
    LineModule module;
    std::optional<ModuleReading> last;  // the last reading that answered
    bool polled = false;                // at least one poll came back
    bool silent = false;                // the last poll failed
    ExchangeOutcome outcome = ExchangeOutcome::Good;  // how it failed
    bool conflict = false;              // its polls keep failing damaged, the others' not: two modules there
    qint64 nextPollMs = 0;              // while failing: its next poll at the latest (ms since the epoch)
    QString lastError;
    ExchangeStats exchanges;            // every exchange with the module, from the exchange observer
    std::optional<uint32_t> outputs;    // the last word this program wrote
    uint64_t failures() const { return exchanges.total() - exchanges.count(ExchangeOutcome::Good); }
  };

  // Whether the values shown are being renewed.
  enum class Watch { Disconnected, NotPolling, Polling };

  explicit LineModel(QObject* parent = nullptr);

  void setWatch(Watch watch);
  Watch watch() const { return watch_; }
  // The exchange statistics of every row start anew (a new connection).
  void resetExchanges();

  void setModules(const QVector<LineModule>& modules);
  void addModule(const LineModule& module);
  void removeModule(int row);
  QVector<LineModule> modules() const;
  int rowOf(uint8_t address, int baudCode) const;
  const Row& row(int r) const { return rows_.at(r); }

  // Keep what came; the views learn of it at the next flush(), so a burst of readings costs
  // one repaint.
  void apply(const ModuleReading& reading);
  void applyCommand(const CommandResult& result);
  void addExchange(const ExchangeRecord& record);
  void flush();

  static QString StatusBitsText(uint32_t bits);
  // "neodpovídá", "poškozená odpověď", "pravděpodobně dva moduly na adrese 5", ... with the wait
  // for the next poll while it is a second or more.
  static QString StateText(const Row& row, qint64 nowMs, Watch watch = Watch::Polling);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  QVector<Row> rows_;
  // The cells that changed since the last flush, a bit per column for each row: only they are
  // repainted, since shaping a cell's text costs more than everything else the window does.
  void markDirty(int row, uint32_t columns);
  static constexpr uint32_t Cell(Column c) { return 1u << c; }
  // Whether the row's place probably holds two modules, after its polls or the others' changed.
  void updateConflict(int row);
  void updateConflicts();

  Watch watch_ = Watch::Disconnected;
  QHash<int, int> rowOf_;  // by ModuleKey: every exchange record looks its row up
  AddressConflicts polls_;  // every poll's outcome, by place
  std::vector<uint32_t> dirty_;
  bool anyDirty_ = false;
  qint64 waitsShownAt_ = 0;  // the second the rows' waits for their next poll were last repainted
};

// The polling's readings per second over the last WindowMs, or since the polling started when
// that is shorter: long enough that a module at 600 Bd, whose poll takes nearly two seconds,
// counts at the rate it is read, not at 0 or 1 by turns.
class PollRate {
 public:
  static constexpr qint64 WindowMs = 10000;
  // The polling starts (again), `readings` taken so far.
  void start(qint64 nowMs, qint64 readings);
  // The count of readings so far, once every tick of the window.
  void add(qint64 nowMs, qint64 readings);
  double perSecond() const;
  // "12 odečtů/s", "méně než 1 odečet/s", or that no reading came yet.
  QString text() const;

 private:
  std::deque<std::pair<qint64, qint64>> samples_;  // time, readings so far; the first at or before the window
  qint64 startReadings_ = 0;
};
