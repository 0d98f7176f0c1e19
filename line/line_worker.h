#pragma once

#include <QHash>
#include <QObject>
#include <QVector>
#include <atomic>
#include <memory>

#include "base/tdata.h"
#include "line/line_types.h"

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
  void stopScan() { stopScan_ = true; }
  // The modules polled round-robin; one round starts at most every intervalMs (0: at once).
  void setModules(const QVector<LineModule>& modules);
  void setPolling(bool on, int intervalMs, int timeoutMs);
  void writeOutputs(const LineModule& module, uint32_t word);
  // Writes `word`, and `after` once `ms` have passed.
  void pulseOutputs(const LineModule& module, uint32_t word, uint32_t after, int ms);
  void clearStatus(const LineModule& module);

 signals:
  void opened(uint32_t status, const QString& error);
  void closed();
  void scanProgress(int done, int total, qint64 elapsedMs);
  void scanFound(const LineModule& module);
  void scanFinished(bool stopped, uint32_t status, const QString& error);
  void reading(const ModuleReading& reading);
  void commandDone(const CommandResult& result);

 private:
  struct Stats {
    int rangeByte = -1;  // input 0's range byte, read once per answering spell
  };
  void post(std::function<void()> work);
  void doOpen(TData settings);
  void doClose();
  void doScan(ScanPlan plan);
  void pollNext();
  void schedulePoll();
  void pollModule(const LineModule& module);
  CommandResult writeWord(const LineModule& module, uint32_t word);
  bool useRate(int baudCode, int timeoutMs, uint32_t* status);
  static int key(const LineModule& m) { return m.address * 16 + m.baudCode; }

  std::unique_ptr<QThread> thread_;
  // Worker thread only from here on.
  TData data_{};
  bool connected_ = false;
  int rateCode_ = -1;
  int rateTimeout_ = -1;
  QVector<LineModule> modules_;
  QHash<int, Stats> stats_;
  int next_ = 0;
  bool polling_ = false;
  int intervalMs_ = 100;
  int timeoutMs_ = 150;
  qint64 roundStart_ = 0;
  QTimer* pollTimer_ = nullptr;
  std::atomic<bool> stopScan_{false};
};
