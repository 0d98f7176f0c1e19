#pragma once

#include <QHash>
#include <QElapsedTimer>
#include <QObject>
#include <QVector>
#include <atomic>
#include <functional>
#include <memory>

#include "base/settings/tdata.h"
#include "line/common/line_types.h"

class QThread;
class QTimer;

// The one thread that talks to the line. Every driver call of the workbench runs here, so
// the window never waits for a module; the public methods may be called from any thread and
// only queue the work. Results come back through the signals (queued to the receiver).
//
// The driver handle stays open from open() to close() (or destruction): the line is held
// by this program all that time.
class LineWorker : public QObject {
  Q_OBJECT
 public:
  LineWorker();
  ~LineWorker() override;

  void open(const TData& settings);
  void close();
  void scan(const ScanPlan& plan);
  // Ends a scan, an image read or a restore at the next byte or try.
  void stopScan() { stopScan_ = true; }
  // Whether an exchange that started at `startNs` (ExchangeRecord::startNs) was a try of the
  // last scan, from any thread: a scan's unanswered tries are no failures of the polling. A
  // record taken from the exchange queue is always told right, as the scan marks its span
  // before its first try and after its last.
  bool scanTry(int64_t startNs) const;
  // The modules polled round-robin; one round starts at most every intervalMs (0: at once).
  // A module whose poll fails is passed over for 1, 3, 7 ... rounds, but at most BackOffCapMs,
  // so that a dead module does not cost the others a timeout every round; it is polled in
  // the next round again once it answers or the operator acts on it.
  void setModules(const QVector<LineModule>& modules);
  static constexpr int BackOffCapMs = 5000;
  void setPolling(bool on, int intervalMs, int timeoutMs);
  void writeOutputs(const LineModule& module, uint32_t word);
  // Writes `word`, and `after` once `ms` have passed.
  void pulseOutputs(const LineModule& module, uint32_t word, uint32_t after, int ms);
  void clearStatus(const LineModule& module);
  // Identification and whole configuration image of each module, in order.
  void readImages(const QVector<LineModule>& modules);
  // Each job: the module's image read, the differing bytes written with read-back, the
  // whole image read back and compared. A job whose wanted image holds a byte the settings
  // windows would refuse (RefusedBytes) is reported refused, and nothing is sent to its module.
  // After each job the module's input range is read again before its next value.
  void restore(const QVector<RestoreJob>& jobs);
  // A job of another part on the line (the guided calibration, line/calibration/calibration_run.h): run on
  // this thread between two polls, so none of its exchanges meets a poll half-way. `work` gets
  // the module's link with its rate set and status 0, or the failure's status and text (the
  // line not open, the rate refused) and a link not to be used. Afterwards the module's input
  // range is read again before its next value, as after a restore.
  using LineJob = std::function<void(const ModuleLink& link, uint32_t status, const QString& error)>;
  void onLine(const LineModule& module, LineJob work);
  // A job that reaches modules at places of its own choosing (a new module moved from its
  // delivery place to its own, a whole line moved to another rate): `work` gets the line's
  // interface and handle and this thread's rate setter, or the status and text of why the line
  // cannot be used. Polling waits until it returns; every module's range is read again after.
  using RateSetter = std::function<uint32_t(int baudCode)>;
  using WireJob = std::function<void(uint8_t iface, uint32_t handle, uint16_t timeoutMs, const RateSetter& setRate,
                                     uint32_t status, const QString& error)>;
  void onWire(WireJob work);
  // The port and device the open line goes through, as LineDeviceText named them when it was
  // opened (the drivers read the mapping then); empty for an interface never mapped or a line
  // not open. For the jobs of onLine: on this worker's thread only.
  const QString& lineDevice() const { return device_; }

 signals:
  void opened(uint32_t status, const QString& error);
  void closed();
  // done and total in ms of the tries' timeouts (ScanPlan::budgetMs), so slow rates weigh theirs.
  void scanProgress(int done, int total, qint64 elapsedMs);
  void scanFound(const LineModule& module);
  // Probably two modules at the module's address and rate: their answers keep colliding.
  void scanConflict(const LineModule& place);
  void scanFinished(bool stopped, uint32_t status, const QString& error);
  // The polls of one turn of the driver thread, in the order they were made.
  void readings(const QVector<ModuleReading>& readings);
  void commandDone(const CommandResult& result);
  // Module `index` of `count` is in `phase` (ImagePhase) at `percent`.
  void imageProgress(int index, int count, int phase, int percent);
  void imagesRead(const QVector<ModuleImage>& images, bool stopped);
  void restored(const QVector<RestoreReport>& reports, bool stopped);

 private:
  struct Stats {
    // Input 0's range byte, which decides the unit and scale of its value: read before the
    // first value of each answering spell and again after each write of ours to the module.
    int rangeByte = -1;
    int failures = 0;     // polls in a row that failed
    qint64 dueRound = 0;  // passed over until this round ...
    qint64 dueMs = 0;     // ... or this time, whichever comes first
  };
  // Whether the module is polled in this round.
  bool due(const Stats& stats, qint64 now) const { return stats.failures == 0 || round_ >= stats.dueRound || now >= stats.dueMs; }
  void backOff(Stats& stats, ModuleReading& reading);
  // The operator acts on the module: it is polled in the next round, failing or not.
  void pollSoon(const LineModule& module);
  void post(std::function<void()> work);
  void doOpen(TData settings);
  void doClose();
  void doScan(ScanPlan plan);
  void pollNext();
  // Starts the poll timer; its wait in ms, -1 when polling is off.
  int schedulePoll();
  void handOver();
  ModuleReading pollModule(const LineModule& module);
  ModuleLink link(const LineModule& module) const { return {data_.Interface, data_.DriverHandle, module.address}; }
  ImageEvents imageEvents(int index, int count);
  // Polling stops while a long job holds the line and resumes afterwards.
  void pausePolling();
  void resumePolling();
  // The line as the shared per-module work reaches it: the module's rate set on this thread.
  LineAccess access();
  CommandResult writeWord(const LineModule& module, uint32_t word);
  bool useRate(int baudCode, int timeoutMs, uint32_t* status);
  static int key(const LineModule& m) { return m.address * 16 + m.baudCode; }

  std::unique_ptr<QThread> thread_;
  // Worker thread only from here on.
  TData data_{};
  bool connected_ = false;
  QString device_;
  int rateCode_ = -1;
  int rateTimeout_ = -1;
  QVector<LineModule> modules_;
  QHash<int, Stats> stats_;
  int next_ = 0;
  bool polling_ = false;
  int intervalMs_ = 100;
  int timeoutMs_ = 150;
  qint64 roundStart_ = 0;
  qint64 round_ = 0;        // rounds begun since the start
  qint64 roundMs_ = 0;      // how long the last such round took
  bool roundPolled_ = false;  // the round under way polled a module
  QVector<ModuleReading> polled_;  // readings not yet handed over
  QElapsedTimer handedOver_;
  QTimer* pollTimer_ = nullptr;
  std::atomic<bool> stopScan_{false};
  std::atomic<int64_t> scanFromNs_{0}, scanToNs_{0};  // the last scan's span, 0: none or not ended
  std::atomic<int> queued_{0};  // work posted and not yet begun
};
