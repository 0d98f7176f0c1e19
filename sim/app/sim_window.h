#pragma once
// The simulator's front panel: the module as a bench engineer would see it, and the bench
// around it (source, switches, fault bits, power), refreshed from the running SimServer.

#include <QWidget>

#include <array>
#include <string>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPlainTextEdit;
class QTableWidget;
class QTimer;
class QToolButton;
class SimServer;

class SimWindow : public QWidget {
  Q_OBJECT
 public:
  SimWindow(SimServer* server, const QString& udpHost, const std::string& statePath, QWidget* parent = nullptr);

 public slots:
  void refresh();  // runs every 100 ms

 private:
  QWidget* buildModuleBox(const QString& udpHost, const std::string& statePath);
  QWidget* buildOutputsBox();
  QWidget* buildInputsBox();
  QWidget* buildAnalogBox();
  QWidget* buildStatusBox();
  QWidget* buildMemoryBox();
  QWidget* buildLogBox();
  void applySwitches();

  SimServer* server_;
  QTimer* timer_;
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
  QPlainTextEdit* log_;
  QLabel* countLabel_;
  QLabel* storeErrorLabel_;
  uint64_t lastLogged_ = 0;
  uint32_t shownOutputs_ = 0xFFFFFFFF;
  bool firstRefresh_ = true;
};
