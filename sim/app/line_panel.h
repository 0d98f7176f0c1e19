#pragma once
// The simulator window's line box: the modules on the simulated line (number, address, rate,
// identification, power, armed faults), adding and removing one, power-cycling the line.
// The selected module is the one the rest of the window shows and drives. It is held by
// identity, not by its place in the list: when a script removes it, nothing is selected until
// the operator picks a module, rather than its neighbour being driven with its values.

#include <QGroupBox>

#include <cstdint>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;
class SimBus;
class SimServer;

class LinePanel : public QGroupBox {
  Q_OBJECT
 public:
  explicit LinePanel(SimServer* server, QWidget* parent = nullptr);

  int selected() const { return selected_; }           // index in the last refresh; -1: none
  uint64_t selectedId() const { return selectedId_; }  // 0: none
  void refresh(const SimBus& bus);

 signals:
  void selectionChanged(int index);  // -1: nothing selected

 private:
  void addModule();
  void removeModule();
  void select(int index, uint64_t id);

  SimServer* server_;
  int selected_ = 0;
  uint64_t selectedId_ = 0;
  std::vector<uint64_t> rowIds_;
  QPushButton* remove_;
  QTableWidget* table_;
  QSpinBox* address_;
  QComboBox* rate_;
  QLabel* message_;
};
