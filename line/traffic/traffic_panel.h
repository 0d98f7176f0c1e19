#pragma once

#include <QWidget>

#include "line/common/line_types.h"
#include "line/traffic/traffic_model.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QTableView;

// Every exchange on the line as it goes: filtered by module, command or failure, paused,
// exported to a text file.
class TrafficPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TrafficPanel(QWidget* parent = nullptr);

  TrafficModel* model() { return &model_; }
  // The module filter offers "všechny" and the addresses of `modules`.
  void setModules(const QVector<LineModule>& modules);
  // Takes in what the queue holds, each record shown to `each` too, and shows it.
  void drain(ExchangeQueue& queue, const std::function<void(const ExchangeRecord&)>& each);
  // Writes the shown exchanges, one trace line each; false with the reason.
  bool exportTo(const QString& path, QString& error) const;
  // The export button's work once a file is chosen: exports and says how it went below the
  // bar, a failure in red until the next export.
  bool exportAndSay(const QString& path);

 private:
  void applyFilter();
  void updateCount();

  TrafficModel model_;
  QComboBox* address_;
  QComboBox* command_;
  QCheckBox* failures_;
  QCheckBox* pause_;
  QLabel* count_;
  QLabel* message_;
  QTableView* table_;
  uint64_t dropped_ = 0;
};
