#pragma once
// The simulator window's wire box: whether the line takes the wire's time, the serial line
// it serves, and the selected module's processing time before it answers. A module that
// answers late is the delay fault of the fault box.

#include <QGroupBox>

#include <chrono>
#include <cstdint>

class QDoubleSpinBox;
class QLabel;
class SimBus;
class SimServer;

// "1 ms", "2,5 ms": a turnaround in the operator's words.
QString TurnaroundText(std::chrono::nanoseconds turnaround);

class WirePanel : public QGroupBox {
  Q_OBJECT
 public:
  explicit WirePanel(SimServer* server, QWidget* parent = nullptr);

  // By identity (SimBusModule::id); 0: none, and the field stays disabled.
  void setModule(uint64_t id);
  void refresh(const SimBus& bus);

 private:
  void apply();

  SimServer* server_;
  uint64_t moduleId_ = 0;
  QDoubleSpinBox* turnaround_;
  QLabel* timing_;
};
