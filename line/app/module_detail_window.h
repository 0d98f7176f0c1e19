#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>

#include "line/calibration/calibration_wizard.h"
#include "line/trend/input_timeline.h"
#include "line/common/line_types.h"
#include "line/trend/trend_series.h"

// What the line has read of one module since its first poll, whether its detail is open or
// not: input 0 (TrendSeries' bound, 12 hours at ten readings a second) and the inputs of the
// last minutes.
struct ModuleHistory {
  TrendSeries ain0;
  std::optional<bool> current;  // the unit of ain0's values: mA, else V
  InputHistory inputs;
  void add(const ModuleReading& r) {
    if (!r.ok) return;
    if (current && *current != r.current) ain0.clear();  // another unit: the old values mean something else
    current = r.current;
    ain0.append(r.timeMs / 1000.0, r.ain0);
    inputs.append(r.timeMs / 1000.0, r.din);
  }
};

class CalibrationHistory;
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
  // `history`: the module's readings so far, kept on by the line window.
  ModuleDetailWindow(const LineModule& module, LineWorker* worker, std::shared_ptr<const ModuleHistory> history,
                     QWidget* parent = nullptr);

  const LineModule& module() const { return module_; }
  // A poll came back (and is in the history already).
  void addReading(const ModuleReading& reading);
  void commandDone(const CommandResult& result);
  // The last word written to the outputs (the module cannot report them), if any.
  std::optional<uint32_t> outputs() const { return outputs_; }
  void setOutputs(std::optional<uint32_t> word);
  // Polling stopped, or the line was disconnected: the state no longer says the module answers.
  void pollingStopped(bool disconnected = false);

  const TrendSeries& series() const { return history_->ain0; }
  TrendPlot* plot() const { return plot_; }
  CalibrationHistory* calibrationHistory() const { return calibrations_; }
  // The guided calibration's window, open while it is (null otherwise).
  CalibrationWizard* calibrationWizard() const { return wizard_; }

 public slots:
  void switchOutput(bool on);
  void pulseOutput();
  void clearStatus();
  // Opens the guided calibration of input 0, or raises the one already open.
  CalibrationWizard* openCalibration();

 signals:
  // "Nastavení…": the module's settings window, which the line window keeps.
  void settingsRequested(const LineModule& module);

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  bool confirmUnknownOutputs();
  void showOutputs();

  // The plot on the history's series in its unit, when that is known.
  void showUnit();

  LineModule module_;
  LineWorker* worker_;
  std::shared_ptr<const ModuleHistory> history_;
  std::optional<uint32_t> outputs_;
  std::optional<ModuleReading> last_;
  std::optional<bool> plotted_;  // the unit the plot shows
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
  CalibrationHistory* calibrations_;
  QPointer<CalibrationWizard> wizard_;
};
