#include "line/calibration/calibration_run.h"

#include <algorithm>
#include <mutex>

#include "base/exchange/driver_loader.h"
#include "line/poll/line_worker.h"

struct CalibrationRun::Shared {
  std::mutex mutex;
  QObject* target = nullptr;  // the run, until it goes; answers to a gone run are dropped
  std::atomic<bool> cancelled{false};
  // The driver thread's alone.
  std::unique_ptr<CalibrationSession> session;
  QString lastText;  // the last failed write's text, as the writer reported it

  void deliver(std::function<void()> answer) {
    std::lock_guard<std::mutex> lock(mutex);
    if (target != nullptr) QMetaObject::invokeMethod(target, std::move(answer), Qt::QueuedConnection);
  }
};

CalibrationRun::CalibrationRun(LineWorker* worker, const LineModule& module, uint8_t input, uint8_t range, QObject* parent)
    : QObject(parent), worker_(worker), module_(module), input_(input), range_(range == RangeCurrent ? RangeCurrent : RangeVoltage),
      shared_(std::make_shared<Shared>()) {
  shared_->target = this;
  settle_.setSingleShot(true);
  connect(&settle_, &QTimer::timeout, this, &CalibrationRun::measureNow);
}

CalibrationRun::~CalibrationRun() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->target = nullptr;
  }
  if (finished_) return;
  // Gone half-way (the window closed under it): what the calibration changed still goes back.
  shared_->cancelled = true;
  worker_->onLine(module_, [shared = shared_](const ModuleLink&, uint32_t status, const QString&) {
    if (status == 0 && shared->session) shared->session->Restore();
  });
}

void CalibrationRun::onLine(std::function<void(const ModuleLink&)> work,
                            std::function<void(uint32_t status, const QString& error)> failed) {
  busy_ = true;
  worker_->onLine(module_, [shared = shared_, work = std::move(work), failed = std::move(failed)](
                               const ModuleLink& link, uint32_t status, const QString& error) {
    if (status != 0) {
      shared->deliver([failed, status, error] { failed(status, error); });
      return;
    }
    work(link);
  });
}

void CalibrationRun::readSeries(double reference, const ReadoutOptions& options) {
  Shared* s = shared_.get();
  const uint8_t input = input_, range = range_;
  onLine(
      [this, s, worker = worker_, input, range, reference, options](const ModuleLink& link) {
        const CalibrationConstantsValue constants = ReadCalibrationConstants(link.iface, link.handle, link.module, range);
        const Readout readout = ReadInputSeries(
            link.iface, link.handle, link.module, input, range, reference, options,
            [this, s](int index, const CalibrationReading& r) { s->deliver([this, index, r] { emit reading(index, r); }); },
            [s] { return s->cancelled.load(); });
        const uint8_t iface = link.iface;
        s->deliver([this, readout, constants, iface, device = worker->lineDevice()] {
          busy_ = false;
          emit seriesRead(readout, constants, iface, device);
        });
      },
      [this](uint32_t status, const QString& error) {
        busy_ = false;
        Readout failed;
        failed.result = ReadoutResult::DriverError;
        failed.status = status;
        failed.text = error;
        emit seriesRead(failed, {}, 0, QString());
      });
}

void CalibrationRun::sessionStep(std::function<ConfigWriteResult(Shared& s, const ModuleLink& link)> step,
                                 void (CalibrationRun::*answer)(ConfigWriteResult, const QString&)) {
  Shared* s = shared_.get();
  onLine(
      [this, s, step = std::move(step), answer](const ModuleLink& link) {
        s->lastText.clear();
        const ConfigWriteResult r = step(*s, link);
        s->deliver([this, r, text = s->lastText, answer] {
          busy_ = false;
          emit(this->*answer)(r, text);
        });
      },
      [this, answer](uint32_t, const QString& error) {
        busy_ = false;
        emit(this->*answer)(ConfigWriteResult::DriverError, error);
      });
}

void CalibrationRun::start() {
  started_ = true;
  sessionStep(
      [input = input_, range = range_](Shared& s, const ModuleLink& link) {
        Shared* shared = &s;
        s.session = std::make_unique<CalibrationSession>(link.iface, link.handle, link.module,
                                                         [shared](const QString& text) { shared->lastText = text.trimmed(); });
        s.session->setCancelled([shared] { return shared->cancelled.load(); });
        s.session->setKeepOnlyWhenAccepted(true);
        return s.session->Start(input, range);
      },
      &CalibrationRun::started);
}

void CalibrationRun::measure(int settleMs) {
  busy_ = true;
  settle_.start(std::max(0, settleMs));
}

void CalibrationRun::measureNow() {
  readInput([this](uint32_t status, double value, const QString& text) { emit measured(status, value, text); });
}

void CalibrationRun::readInput(std::function<void(uint32_t status, double value, const QString& text)> answer) {
  Shared* s = shared_.get();
  const uint8_t input = input_;
  onLine(
      [this, s, input, answer](const ModuleLink& link) {
        double value = 0;
        const uint32_t status = MeasureInput(link.iface, link.handle, link.module, input, value);
        const QString text = status != 0 ? DriverStatusText(link.iface, status) : QString();
        s->deliver([this, status, value, text, answer] {
          busy_ = false;
          answer(status, value, text);
        });
      },
      [this, answer](uint32_t status, const QString& error) {
        busy_ = false;
        answer(status, 0, error);
      });
}

void CalibrationRun::store(uint16_t gain, uint16_t offset) {
  sessionStep(
      [gain, offset](Shared& s, const ModuleLink&) {
        return s.session ? s.session->StoreConstants(gain, offset) : ConfigWriteResult::DriverError;
      },
      &CalibrationRun::stored);
}

void CalibrationRun::probe() {
  readInput([this](uint32_t status, double, const QString&) { emit probed(status == 0); });
}

void CalibrationRun::finish(bool keep) {
  settle_.stop();
  finished_ = true;
  Shared* s = shared_.get();
  const uint8_t range = range_;
  onLine(
      [this, s, keep, range](const ModuleLink& link) {
        CalibrationSession::Restored restored;
        if (s->session) {
          if (keep) s->session->KeepStoredConstants();
          restored = s->session->Restore();
        }
        // What the module holds at the end, as it reports it.
        const CalibrationConstantsValue constants = ReadCalibrationConstants(link.iface, link.handle, link.module, range);
        s->deliver([this, restored, constants] {
          busy_ = false;
          emit finished(restored, constants);
        });
      },
      [this](uint32_t, const QString& error) {
        busy_ = false;
        CalibrationSession::Restored restored;
        // Without the line nothing could be written back; before the start nothing was
        // changed that needs it.
        restored.complete = !started_;
        if (!restored.complete)
          restored.text = QStringLiteral("Modul nelze vrátit do původního stavu: %1").arg(error);
        emit finished(restored, {});
      });
}

void CalibrationRun::cancel() {
  shared_->cancelled = true;
  if (settle_.isActive()) {
    settle_.stop();
    busy_ = false;
  }
}
