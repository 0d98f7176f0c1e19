#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QVector>
#include <optional>
#include <vector>

#include "base/exchange_observer.h"
#include "base/exchange_trace.h"
#include "line/line_types.h"

// The line overview: one row per module, in the order they were found. A module that stops
// answering keeps its row, marked, with its last values greyed, until it answers again.
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
    qint64 nextPollMs = 0;              // while failing: its next poll at the latest (ms since the epoch)
    QString lastError;
    ExchangeStats exchanges;            // every exchange with the module, from the exchange observer
    std::optional<uint32_t> outputs;    // the last word this program wrote
    uint64_t failures() const { return exchanges.total() - exchanges.count(ExchangeOutcome::Good); }
  };

  explicit LineModel(QObject* parent = nullptr);

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
  // "neodpovídá", "poškozená odpověď", ... with the wait for the next poll while it is a second or more.
  static QString StateText(const Row& row, qint64 nowMs);

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

  QHash<int, int> rowOf_;  // by ModuleKey: every exchange record looks its row up
  std::vector<uint32_t> dirty_;
  bool anyDirty_ = false;
  qint64 waitsShownAt_ = 0;  // the second the rows' waits for their next poll were last repainted
};
