#pragma once

#include <QObject>
#include <memory>

#include "base/commission/commissioning.h"
#include "base/commission/line_rate.h"

class LineWorker;

// The commissioning of one new module (base/commission's Commissioning) and the rate change of
// a whole line (ChangeLineRate), each run as one job of the LineWorker's thread; what they
// report comes back as signals on the thread that made the run. The operator's power cycle is
// asked for through powerCycleAsked and the job waits for answerPowerCycle (or the run's end).
class CommissionRun : public QObject {
  Q_OBJECT
 public:
  explicit CommissionRun(LineWorker* worker, QObject* parent = nullptr);
  ~CommissionRun() override;

  bool busy() const { return busy_; }
  // A new module: the steps from the first; retry() runs the step that failed again.
  void start(const CommissionPlan& plan, int powerWaitMs = 30000);
  void retry();
  // A module of the line as a template: its identification and whole image, on the driver thread.
  void readTemplate(const LineModule& module);
  void changeRate(const LineFile& line, int baudCode, int powerWaitMs = 30000);
  // The operator's word on the power cycle asked for: done, or given up.
  void answerPowerCycle(bool done);
  // Ends the work at the next byte; a power cycle asked for is given up.
  void cancel();
  // The module's commissioning as it stands after `commissioned`; none before a start, while
  // it runs, and after a run the line could not take.
  const Commissioning* job() const { return job_.get(); }

 signals:
  void report(CommissionStep step, const QString& text);
  void progress(CommissionStep step, int percent);
  void powerCycleAsked(const QString& prompt);
  // The steps ran to the end (ok) or to the first that did not end Done (job()->last()).
  void commissioned(bool ok);
  // `error` empty: the module's image and its type (ModuleTypeName) to copy.
  void templateRead(const ConfigImage& image, const QString& type, const QString& error);
  void rateProgress(int phase, int index, int count);
  void rateChanged(const LineRateResult& result);

 private:
  struct Shared;
  void runJob(bool restart);
  CommissionEvents events();

  LineWorker* worker_;
  std::shared_ptr<Shared> shared_;
  std::shared_ptr<Commissioning> job_;
  CommissionPlan plan_;
  int powerWaitMs_ = 30000;
  bool busy_ = false;
};
