#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>

#include "line/calibration_wizard.h"
#include "line/line_types.h"
#include "line/trend_series.h"

class CalibrationHistory;
class InputTimeline;
class LineWorker;
class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class TrendPlot;

// One module in detail: input 0 as a trend, the inputs as a timeline, the outputs switched
// or pulsed one at a time, the status register and its clearing, its calibrations.
class ModuleDetailWindow : public QWidget {
  Q_OBJECT
 public:
  ModuleDetailWindow(const LineModule& module, LineWorker* worker, QWidget* parent = nullptr);

  const LineModule& module() const { return module_; }
  void addReading(const ModuleReading& reading);
  void commandDone(const CommandResult& result);
  // The last word written to the outputs (the module cannot report them), if any.
  std::optional<uint32_t> outputs() const { return outputs_; }
  void setOutputs(std::optional<uint32_t> word);
  // Polling stopped: the state no longer says the module answers.
  void pollingStopped();

  TrendSeries& series() { return series_; }
  TrendPlot* plot() const { return plot_; }
  CalibrationHistory* calibrationHistory() const { return history_; }
  // The guided calibration's window, open while it is (null otherwise).
  CalibrationWizard* calibrationWizard() const { return wizard_; }

 public slots:
  void switchOutput(bool on);
  void pulseOutput();
  void clearStatus();
  // Opens the guided calibration of input 0, or raises the one already open.
  CalibrationWizard* openCalibration();

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  bool confirmUnknownOutputs();
  void showOutputs();

  LineModule module_;
  LineWorker* worker_;
  TrendSeries series_;
  std::optional<uint32_t> outputs_;
  std::optional<ModuleReading> last_;
  bool unitKnown_ = false;
  bool grown_ = false;
  TrendPlot* plot_;
  InputTimeline* timeline_;
  QLabel* value_;
  QLabel* state_;
  QLabel* statusBits_;
  QLabel* outputsText_;
  QLabel* message_;
  QSpinBox* output_;
  QSpinBox* pulseMs_;
  QPushButton* on_;
  QPushButton* off_;
  QPushButton* pulse_;
  QPushButton* clear_;
  QPushButton* all_;
  CalibrationHistory* history_;
  QPointer<CalibrationWizard> wizard_;
};
