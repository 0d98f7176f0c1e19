#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

#include "base/calibration/calibration_readout.h"
#include "base/calibration/calibration_record.h"
#include "base/calibration/record_signature.h"
#include "line/common/line_types.h"

class CalibrationRun;
class LineWorker;
class QComboBox;
class DateField;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;

// "Kalibrace": the guided calibration of input 0 of one module of the line. The operator's
// entries (reference instrument, the module's tag, tolerance, name), the input read as found,
// the two-point procedure of the tool's calibration window, the power cycle the module needs,
// the input read as left; every reading's error and verdict as it comes. However it ends, the
// record is kept (base/calibration/calibration_record.h) and its certificate offered.
//
// The module's exchanges run on the line's driver thread (line/calibration/calibration_run.h); a cancel,
// a failure or the window closed half-way leaves the module as it was found.
class CalibrationWizard : public QDialog {
  Q_OBJECT
 public:
  enum Step { Entries, AsFound, Zero, Reference, PowerCycle, AsLeft, Result };

  // presentRange: the input's range as the polls last saw it (RangeVoltage, RangeCurrent), or
  // -1; the range offered first.
  CalibrationWizard(LineWorker* worker, const LineModule& module, int presentRange, const QString& tag,
                    QWidget* parent = nullptr);
  ~CalibrationWizard() override;

  Step step() const { return step_; }
  // Between the first step and the result: the module may hold what the calibration wrote.
  bool running() const { return step_ != Entries && step_ != Result; }
  // Between a cancel or failure and the module's write-back having answered.
  bool ending() const { return ending_ != Ending::None && step_ != Result; }
  const CalibrationRecord& record() const { return record_; }
  // Where the record was kept; empty (with recordError()) when it could not be.
  QString recordPath() const { return recordPath_; }
  QString recordError() const { return recordError_; }
  QString message() const;

  // The waits: the series' settling and spacing, the wait before the zero and reference
  // readings, the spacing of the tries while the module's power is cycled.
  void setTimings(int settleMs, int intervalMs, int probeMs);
  void setRecordFolder(const QString& folder) { folder_ = folder; }

 public slots:
  // The step's own button: go on, measure, confirm.
  void proceed();
  // Ends the calibration, leaving the module as it was found; the record says so.
  void cancelCalibration();
  // Asks where and writes the certificate of the kept record.
  void saveCertificate();

 signals:
  // A record was kept (the module's history shows it).
  void recordSaved(const QString& path, const QString& tag);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  enum class Ending { None, Cancelled, Failed };
  QWidget* buildEntries();
  QWidget* buildSeries(Step step, QLineEdit*& reference, QTableWidget*& table, QLabel*& summary);
  QWidget* buildProcedure(Step step);
  void showStep(Step step);
  void setMessage(const QString& text, bool failure = false);
  bool takeEntries();
  bool takeReference(QLineEdit* field, double& value);
  void beginSeries(QLineEdit* field);
  void seriesRead(const Readout& readout, const CalibrationConstantsValue& constants, uint8_t iface, const QString& device);
  void addReading(int index, const CalibrationReading& reading);
  // A write step's answer: true when every byte was written, else the calibration fails.
  bool written(int result, const QString& text);
  void started(int result, const QString& text);
  void measured(uint32_t status, double value, const QString& text);
  void stored(int result, const QString& text);
  void probed(bool answered);
  void fail(const QString& text);
  void finished(bool complete, const QString& restoredText, const CalibrationConstantsValue& constants);
  void updateTolerance();
  QTableWidget* table(Step step) const;

  LineWorker* worker_;
  LineModule module_;
  Step step_ = Entries;
  Ending ending_ = Ending::None;
  std::unique_ptr<CalibrationRun> run_;
  CalibrationRecord record_;
  SigningKey key_;  // the user's, loaded (or made) before the first exchange
  QString folder_;
  QString recordPath_, recordError_;
  QString failure_;
  ReadoutOptions readout_;
  int settleMs_ = 1000;
  int probeMs_ = 300;
  double zero_ = 0;         // the module's reading of the short-circuited input
  double entered_ = 0;      // the reference of the two-point procedure
  bool sawOff_ = false;     // the module kept silent since the power step began
  QTimer probe_;

  QListWidget* steps_;
  QStackedWidget* pages_;
  QComboBox* range_;
  QLineEdit* referenceName_;
  QLineEdit* referenceSerial_;
  DateField* validUntil_;
  QLineEdit* tag_;
  QDoubleSpinBox* tolerance_;
  QLabel* toleranceValue_;
  QLineEdit* operator_;
  QSpinBox* count_;
  QLineEdit* asFoundReference_;
  QTableWidget* asFoundTable_;
  QLabel* asFoundSummary_;
  QLabel* zeroText_;
  QLabel* referenceText_;
  QLineEdit* procedureReference_;
  QLabel* powerText_;
  QLabel* powerState_;
  QLineEdit* asLeftReference_;
  QTableWidget* asLeftTable_;
  QLabel* asLeftSummary_;
  QLabel* resultText_;
  QLabel* message_;
  QPushButton* action_;
  QPushButton* cancel_;
  QPushButton* certificate_;
  QPushButton* close_;
};
