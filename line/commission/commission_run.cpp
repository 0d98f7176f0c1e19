#include "line/commission/commission_run.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "base/config/config_transfer.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/identify.h"
#include "line/poll/line_worker.h"

struct CommissionRun::Shared {
  std::mutex mutex;
  std::condition_variable answered;
  QObject* target = nullptr;  // the run, until it goes; answers to a gone run are dropped
  std::optional<bool> powerCycled;
  std::atomic<bool> cancelled{false};

  void deliver(std::function<void()> answer) {
    std::lock_guard<std::mutex> lock(mutex);
    if (target != nullptr) QMetaObject::invokeMethod(target, std::move(answer), Qt::QueuedConnection);
  }
  // On the driver thread: asks the window and waits for the operator's word; the run's end
  // counts as giving up, so a job is never left waiting for a window that is gone.
  bool askPowerCycle(CommissionRun* run, const QString& prompt) {
    std::unique_lock<std::mutex> lock(mutex);
    if (target == nullptr || cancelled) return false;
    powerCycled.reset();
    QMetaObject::invokeMethod(target, [run, prompt] { emit run->powerCycleAsked(prompt); }, Qt::QueuedConnection);
    answered.wait(lock, [this] { return powerCycled.has_value() || target == nullptr || cancelled; });
    return powerCycled.value_or(false) && !cancelled;
  }
};

CommissionRun::CommissionRun(LineWorker* worker, QObject* parent)
    : QObject(parent), worker_(worker), shared_(std::make_shared<Shared>()) {
  shared_->target = this;
}

CommissionRun::~CommissionRun() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->target = nullptr;
  shared_->cancelled = true;
  shared_->answered.notify_all();
}

void CommissionRun::answerPowerCycle(bool done) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->powerCycled = done;
  shared_->answered.notify_all();
}

void CommissionRun::cancel() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->cancelled = true;
  shared_->answered.notify_all();
}

CommissionEvents CommissionRun::events() {
  auto shared = shared_;
  CommissionEvents e;
  e.report = [shared, this](CommissionStep step, const QString& text) {
    shared->deliver([this, step, text] { emit report(step, text); });
  };
  e.progress = [shared, this](CommissionStep step, ImagePhase, int percent) {
    shared->deliver([this, step, percent] { emit progress(step, percent); });
  };
  e.powerCycle = [shared, this](const QString& prompt) { return shared->askPowerCycle(this, prompt); };
  e.cancelled = [shared] { return shared->cancelled.load(); };
  return e;
}

void CommissionRun::start(const CommissionPlan& plan, int powerWaitMs) {
  if (busy_) return;
  plan_ = plan;
  powerWaitMs_ = powerWaitMs;
  runJob(true);
}

void CommissionRun::retry() {
  if (busy_ || job_ == nullptr) return;
  runJob(false);
}

void CommissionRun::runJob(bool restart) {
  busy_ = true;
  shared_->cancelled = false;
  // The job belongs to the driver thread until it is handed back: the window never reads it
  // while it runs.
  auto job = restart ? nullptr : job_;
  job_.reset();
  auto shared = shared_;
  worker_->onWire([this, shared, job, plan = plan_, wait = powerWaitMs_, events = events()](
                      uint8_t iface, uint32_t handle, uint16_t timeoutMs, const LineWorker::RateSetter& setRate,
                      uint32_t status, const QString& error) mutable {
    if (status != 0) {
      shared->deliver([this, error] {
        busy_ = false;
        emit report(CommissionStep::Find, error);
        emit commissioned(false);
      });
      return;
    }
    // The job keeps the access of its first run: the rate setter belongs to this same thread.
    if (job == nullptr) {
      job = std::make_shared<Commissioning>(PlaceAccess{iface, handle, timeoutMs, setRate}, plan, events);
      job->setPowerWaitMs(wait);
    }
    const bool ok = job->run();
    shared->deliver([this, job, ok] {
      job_ = job;
      busy_ = false;
      emit commissioned(ok);
    });
  });
}

void CommissionRun::changeRate(const LineFile& line, int baudCode, int powerWaitMs) {
  if (busy_) return;
  busy_ = true;
  shared_->cancelled = false;
  auto shared = shared_;
  worker_->onWire([this, shared, line, baudCode, powerWaitMs](uint8_t iface, uint32_t handle, uint16_t timeoutMs,
                                                              const LineWorker::RateSetter& setRate, uint32_t status,
                                                              const QString& error) {
    LineRateResult result;
    if (status != 0) {
      result.outcome = LineRateResult::Refused;
      result.refusal = error;
      result.line = line;
    } else {
      LineRateEvents events;
      events.progress = [shared, this](int phase, int index, int count) {
        shared->deliver([this, phase, index, count] { emit rateProgress(phase, index, count); });
      };
      events.powerCycle = [shared, this](const QString& prompt) { return shared->askPowerCycle(this, prompt); };
      events.cancelled = [shared] { return shared->cancelled.load(); };
      result = ChangeLineRate(PlaceAccess{iface, handle, timeoutMs, setRate}, line, baudCode, events, powerWaitMs);
    }
    shared->deliver([this, result] {
      busy_ = false;
      emit rateChanged(result);
    });
  });
}

void CommissionRun::readTemplate(const LineModule& module) {
  if (busy_) return;
  busy_ = true;
  auto shared = shared_;
  worker_->onLine(module, [this, shared](const ModuleLink& link, uint32_t status, const QString& lineError) {
    QString ident, error = lineError;
    ImageRead read;
    if (status == 0) status = IdentifyModule(link.iface, link.handle, link.module, ident);
    if (status != 0 && error.isEmpty()) error = DriverStatusText(link.iface, status);
    if (status == 0) {
      read = ReadModuleImage(link);
      if (!read.ok()) error = ReadResultText(link.iface, read.result).trimmed();
    }
    shared->deliver([this, image = read.image, type = ModuleTypeName(ident.remove(QChar(u'\0'))), error] {
      busy_ = false;
      emit templateRead(image, type, error);
    });
  });
}
