#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

#include "base/calibration/calibration_procedure.h"
#include "base/calibration/calibration_readout.h"
#include "base/calibration/calibration_record.h"
#include "line/common/line_types.h"

class LineWorker;

// The exchanges of one guided calibration of one range, each a job of the LineWorker's thread
// (so a poll never lands inside one and the window never waits for the wire); each answer
// comes back as a signal on the thread that made the run. One job at a time: the window asks
// for the next once the last has answered.
//
// The procedure is the shared CalibrationSession, which keeps the new constants only when the
// window says so (after the as-left readings): every other end, a cancel or a failure or the
// run destroyed half-way, writes back what the calibration changed.
class CalibrationRun : public QObject {
  Q_OBJECT
 public:
  CalibrationRun(LineWorker* worker, const LineModule& module, uint8_t input, uint8_t range, QObject* parent = nullptr);
  ~CalibrationRun() override;

  uint8_t input() const { return input_; }
  uint8_t range() const { return range_; }
  bool busy() const { return busy_; }

  // The input read options.count times against `reference`, through the constants the module
  // holds (as found, as left), with the range's constants read before the series. The series
  // holds the line for its settling and readings (about 2 s by default): the polls of the
  // other modules wait meanwhile, so none of them meets the input switched for the series.
  void readSeries(double reference, const ReadoutOptions& options);
  // Reads the bytes the start changes, then sets the range and neutral constants.
  void start();
  // One reading of the input once settleMs have passed (the zero and the reference).
  void measure(int settleMs);
  void store(uint16_t gain, uint16_t offset);
  // One reading, only to learn whether the module answers (around its power cycle).
  void probe();
  // The end: with `keep` the stored constants stay and only the range byte goes back, else
  // everything the calibration changed goes back; then the range's constants are read.
  void finish(bool keep);
  // The job under way ends at its next byte or reading; a measurement not yet begun is dropped.
  void cancel();

 signals:
  void reading(int index, const CalibrationReading& reading);
  // iface and device: the line's interface and the port and device it goes through
  // (LineWorker::lineDevice), what the record names.
  void seriesRead(const Readout& readout, const CalibrationConstantsValue& constants, uint8_t iface, const QString& device);
  void started(ConfigWriteResult result, const QString& text);
  void measured(uint32_t status, double value, const QString& text);
  void stored(ConfigWriteResult result, const QString& text);
  void probed(bool answered);
  void finished(const CalibrationSession::Restored& restored, const CalibrationConstantsValue& constants);

 private:
  struct Shared;
  // `work` on the driver thread; `failed` (on this thread) when the line could not be used.
  void measureNow();
  // One reading of the input on the driver thread, answered on this one.
  void readInput(std::function<void(uint32_t status, double value, const QString& text)> answer);
  // A step of the session on the driver thread, its result and the failed write's text
  // answered through `answer`.
  void sessionStep(std::function<ConfigWriteResult(Shared& s, const ModuleLink& link)> step,
                   void (CalibrationRun::*answer)(ConfigWriteResult, const QString&));
  void onLine(std::function<void(const ModuleLink&)> work, std::function<void(uint32_t status, const QString& error)> failed);

  LineWorker* worker_;
  LineModule module_;
  uint8_t input_;
  uint8_t range_;
  bool busy_ = false;
  bool started_ = false;   // start() asked for: from then on the end writes back
  bool finished_ = false;
  QTimer settle_;
  std::shared_ptr<Shared> shared_;
};
