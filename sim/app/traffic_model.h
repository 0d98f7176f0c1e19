#pragma once
// The rows of the simulator's traffic pane: the exchanges served, newest last, as many as
// MaxRows of those that pass the filter. Rows arrive in batches (SimWindow pulls them from the
// server's ring on its refresh clock) and are turned into text only when the view paints
// them, so a flood of exchanges costs the window one insert per batch, not one layout each.

#include <QAbstractTableModel>

#include <deque>

#include "sim/sim_server.h"

class QIODevice;

struct SimTrafficFilter {
  enum Status { AnyStatus, Ok, Refused, Silent, Faulted };
  int module = -1;   // -1: every module
  int command = -1;  // -1: every command
  Status status = AnyStatus;
  bool passes(const SimLogEntry& e) const;
};

class SimTrafficModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { Time, Module, Address, Rate, Command, Index, Data, Status, Answer, Fault, Columns };
  static constexpr size_t MaxRows = 5000;    // shown, after the filter
  static constexpr size_t KeepRows = 20000;  // kept, so that another filter finds them

  explicit SimTrafficModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  void append(std::vector<SimLogEntry> batch);
  void setFilter(const SimTrafficFilter& filter);
  const SimTrafficFilter& filter() const { return filter_; }
  void clear();
  const SimLogEntry& entry(int row) const { return *shown_[size_t(row)]; }
  uint64_t lastSerial() const { return lastSerial_; }
  void setLastSerial(uint64_t serial) { lastSerial_ = serial; }
  uint64_t received() const { return received_; }
  uint64_t skipped() const { return skipped_; }  // lost to the ring before they were pulled

  // The shown rows as CSV with a header line, times in ISO 8601 with the offset.
  void writeCsv(QIODevice& out) const;

 private:
  QString text(const SimLogEntry& e, int column) const;

  SimTrafficFilter filter_;
  std::deque<SimLogEntry> kept_;          // a deque keeps its elements in place at both ends
  std::deque<const SimLogEntry*> shown_;  // into kept_, oldest first
  uint64_t lastSerial_ = 0;
  uint64_t received_ = 0;
  uint64_t skipped_ = 0;
  int utcOffset_ = 0;
};
