#pragma once
// The simulator window's line box: the modules on the simulated line (number, address, rate,
// identification, power, armed faults), adding and removing one, power-cycling the line.
// The selected module is the one the rest of the window shows and drives.

#include <QGroupBox>

class QComboBox;
class QLabel;
class QSpinBox;
class QTableWidget;
class SimBus;
class SimServer;

class LinePanel : public QGroupBox {
  Q_OBJECT
 public:
  explicit LinePanel(SimServer* server, QWidget* parent = nullptr);

  int selected() const { return selected_; }
  void refresh(const SimBus& bus);

 signals:
  void selectionChanged(int index);

 private:
  void addModule();
  void removeModule();
  void select(int index);

  SimServer* server_;
  int selected_ = 0;
  QTableWidget* table_;
  QSpinBox* address_;
  QComboBox* rate_;
  QLabel* message_;
};
