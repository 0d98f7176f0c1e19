#pragma once

#include <QAbstractTableModel>
#include <deque>
#include <functional>
#include <vector>

#include "base/exchange/exchange_observer.h"
#include "base/exchange/exchange_queue.h"

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

  // Keeps a record; the view learns of the records kept at the next publish(), unless paused.
  void take(const ExchangeRecord& record);
  // Takes every record the queue holds, straight into the ring, each shown to `each` as well.
  void takeFrom(ExchangeQueue& queue, const std::function<void(const ExchangeRecord&)>& each);
  void publish();
  void setFilter(const TrafficFilter& filter);
  void setPaused(bool paused);
  bool paused() const { return paused_; }
  void clear();
  // Every kept record the filter lets through, oldest first.
  void forEachShown(const std::function<void(const ExchangeRecord&)>& f) const;
  std::size_t kept() const { return kept_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  void rebuild();
  const ExchangeRecord& record(uint64_t serial) const { return ring_[serial % Capacity]; }

  // The kept records in a ring that is filled once and then overwritten, oldest first: at
  // tens of thousands of exchanges a second, allocating per record costs more than the rest.
  std::vector<ExchangeRecord> ring_;
  uint64_t next_ = 0;        // serial of the next record
  uint64_t published_ = 0;   // serials from here on are not yet published
  std::size_t kept_ = 0;     // the serials next_ - kept_ .. next_ - 1 are kept
  std::deque<uint64_t> shown_;  // serials of the kept records the filter lets through
  TrafficFilter filter_;
  bool paused_ = false;
};
