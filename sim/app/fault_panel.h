#pragma once
// The simulator window's fault box: arms a fault on the selected module or on the whole line
// and shows what is armed until it runs out or is cleared.

#include <QGroupBox>

#include "sim/line/sim_bus.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class SimServer;

// The operator's words for an armed fault ("zpoždění 300 ms, ještě 2×").
QString FaultText(const SimFault& fault);
QString FaultListText(const std::vector<SimFault>& faults);

class FaultPanel : public QGroupBox {
  Q_OBJECT
 public:
  explicit FaultPanel(SimServer* server, QWidget* parent = nullptr);

  // The module "vybraný modul" means, by identity (SimBusModule::id); 0: none, and the buttons
  // stay disabled for that target until a module is selected.
  void setModule(uint64_t id);
  void refresh(const SimBus& bus);

 private:
  SimFault faultFromControls() const;
  void enableForKind();
  void enableButtons();
  int target(const SimBus& bus) const;  // -1 (SimBus::Line) or a module index; -2: none

  SimServer* server_;
  uint64_t moduleId_ = 0;
  QComboBox* target_;
  QComboBox* kind_;
  QSpinBox* command_;
  QSpinBox* count_;
  QSpinBox* delay_;
  QComboBox* form_;
  QSpinBox* status_;
  QSpinBox* after_;
  QCheckBox* keep_;
  QLabel* armed_;
  QPushButton* arm_;
  QPushButton* clear_;
};
