#pragma once

#include <QAbstractTableModel>
#include <deque>
#include <functional>

#include "base/exchange_observer.h"

// Which exchanges the traffic pane shows.
struct TrafficFilter {
  int address = -1;        // -1: every module
  int command = -1;        // -1: every command
  bool failuresOnly = false;
  bool passes(const ExchangeRecord& r) const {
    return (address < 0 || r.address == address) && (command < 0 || r.command == command) &&
           (!failuresOnly || r.status != 0);
  }
};

// The last exchanges (up to Capacity), and of them those the filter lets through, newest last.
class TrafficModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { Time, Address, Rate, Command, Sent, Answered, Duration, Status, ColumnCount };
  static constexpr std::size_t Capacity = 20000;

  explicit TrafficModel(QObject* parent = nullptr);

  // Keeps the records; the view shows them unless paused.
  void add(const std::vector<ExchangeRecord>& records);
  void setFilter(const TrafficFilter& filter);
  void setPaused(bool paused);
  bool paused() const { return paused_; }
  void clear();
  // Every kept record the filter lets through, oldest first.
  void forEachShown(const std::function<void(const ExchangeRecord&)>& f) const;
  std::size_t kept() const { return all_.size(); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  void rebuild();

  std::deque<ExchangeRecord> all_;
  std::deque<ExchangeRecord> shown_;
  TrafficFilter filter_;
  bool paused_ = false;
};
