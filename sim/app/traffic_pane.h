#pragma once
// The simulator window's traffic pane: every request and answer of the line (time, module,
// command, data, status, the fault that acted), filtered by module, command and status; pause,
// clear, export to CSV; the counters of each module.

#include <QGroupBox>

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;
class SimBus;
class SimServer;
class SimTrafficModel;

class TrafficPane : public QGroupBox {
  Q_OBJECT
 public:
  explicit TrafficPane(QWidget* parent = nullptr);

  // Takes what the server served since the last call (nothing while paused) and shows the
  // counters of the line; SimWindow calls it on its refresh clock.
  void refresh(const SimServer& server, const SimBus& bus);
  SimTrafficModel* model() const { return model_; }
  bool exportCsv(const QString& path, QString* error) const;

 private:
  void applyFilter();
  void exportChosen();
  void showSummary();

  SimTrafficModel* model_;
  QTableView* view_;
  QComboBox* module_;
  QComboBox* command_;
  QComboBox* status_;
  QPushButton* pause_;
  QTableWidget* counters_;
  QLabel* summary_;
  QLabel* exportError_;
};
