#pragma once
// The simulator's front panel: the line of modules, the faults armed on it, and the selected
// module as a bench engineer would see it with the bench around it (source, switches, status
// bits, power), above the traffic pane (every exchange of the line). It repaints when the
// running SimServer reports a change, at most every RefreshIntervalMs however fast changes
// come, and never on a clock of its own, so an idle simulator costs no processor time. The
// panels scroll, so the window fits a small screen.

#include <QWidget>

#include <array>
#include <atomic>
#include <string>
#include <vector>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QTableWidget;
class QTimer;
class QToolButton;
class FaultPanel;
class LinePanel;
class SimModule;
class SimServer;
class TrafficPane;
class WirePanel;

class SimWindow : public QWidget {
  Q_OBJECT
 public:
  SimWindow(SimServer* server, const QString& udpHost, const std::string& statePath, QWidget* parent = nullptr);
  ~SimWindow() override;

  int selectedModule() const;  // -1: none
  static constexpr int RefreshIntervalMs = 100;

 public slots:
  // Brings every part up to date at once; changes arrive through scheduleRefresh().
  void refresh();

 private:
  QWidget* buildModuleBox(const QString& udpHost, const std::string& statePath);
  QWidget* buildOutputsBox();
  QWidget* buildInputsBox();
  QWidget* buildAnalogBox();
  QWidget* buildStatusBox();
  QWidget* buildMemoryBox();
  void applySwitches();
  void showBench(const SimModule& m);
  void showNoModule();
  void scheduleRefresh();  // any thread
  template <class F>
  void onSelected(F&& f);

  SimServer* server_;
  LinePanel* line_;
  FaultPanel* faults_;
  WirePanel* wire_;
  QTimer* timer_;
  std::atomic<bool> refreshPosted_{false};
  QLabel* identLabel_;
  QLabel* lineLabel_;
  QCheckBox* powerBox_;
  std::array<QLabel*, 32> leds_{};
  std::array<QToolButton*, 32> switches_{};
  QDoubleSpinBox* voltageSpin_;
  QDoubleSpinBox* currentSpin_;
  QCheckBox* shortBox_;
  QLabel* rangeLabel_;
  QLabel* readingLabel_;
  QLabel* statusValueLabel_;
  std::array<QLabel*, 5> statusBitLabels_{};
  QTableWidget* memoryTable_;
  TrafficPane* traffic_;
  QLabel* storeErrorLabel_;
  std::vector<QWidget*> benchBoxes_;  // what needs a selected module
  uint32_t shownOutputs_ = 0xFFFFFFFF;
  uint32_t shownStatus_ = 0xFFFFFFFF;
  bool firstRefresh_ = true;
  bool refreshing_ = false;
};
