#include "line/poll/line_worker.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include "base/text/baud.h"
#include "base/text/czech_plural.h"
#include "base/config/setting_labels.h"
#include "base/exchange/commands.h"
#include "base/config/config_transfer.h"
#include "base/exchange/driver_loader.h"
#include "base/settings/driver_params.h"
#include "base/exchange/exchange.h"
#include "base/exchange/exchange_observer.h"
#include "base/exchange/identify.h"
#include "base/settings/line_device.h"
#include "base/exchange/line_scan.h"

namespace {

qint64 NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// The wall clock as the exchange records have it.
int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

LineWorker::LineWorker() : thread_(std::make_unique<QThread>()) {
  thread_->setObjectName(QStringLiteral("qx510-line-driver"));
  moveToThread(thread_.get());
  thread_->start();
  post([this] {
    pollTimer_ = new QTimer(this);
    pollTimer_->setSingleShot(true);
    connect(pollTimer_, &QTimer::timeout, this, &LineWorker::pollNext);
  });
}

LineWorker::~LineWorker() {
  stopScan_ = true;
  // The handle is given back on the thread that opened it, before the thread ends.
  QMetaObject::invokeMethod(this, [this] { doClose(); }, Qt::BlockingQueuedConnection);
  thread_->quit();
  thread_->wait();
}

void LineWorker::post(std::function<void()> work) {
  queued_.fetch_add(1);
  QMetaObject::invokeMethod(
      this,
      [this, work = std::move(work)] {
        queued_.fetch_sub(1);
        work();
      },
      Qt::QueuedConnection);
}

void LineWorker::open(const TData& settings) {
  post([this, settings] { doOpen(settings); });
}

void LineWorker::close() {
  post([this] { doClose(); });
}

void LineWorker::scan(const ScanPlan& plan) {
  stopScan_ = false;
  post([this, plan] { doScan(plan); });
}

void LineWorker::setModules(const QVector<LineModule>& modules) {
  post([this, modules] {
    modules_ = modules;
    if (next_ >= modules_.size()) next_ = 0;
  });
}

void LineWorker::setPolling(bool on, int intervalMs, int timeoutMs) {
  post([this, on, intervalMs, timeoutMs] {
    polling_ = on;
    intervalMs_ = std::max(0, intervalMs);
    timeoutMs_ = std::max(1, timeoutMs);
    if (!on) {
      pollTimer_->stop();
      handOver();
      return;
    }
    if (!pollTimer_->isActive()) {
      next_ = 0;
      roundStart_ = NowMs();
      pollTimer_->start(0);
    }
  });
}

bool LineWorker::scanTry(int64_t startNs) const {
  const int64_t from = scanFromNs_.load(), to = scanToNs_.load();
  return from != 0 && startNs >= from && (to == 0 || startNs <= to);
}

void LineWorker::pollSoon(const LineModule& module) {
  Stats& stats = stats_[key(module)];
  stats.dueRound = 0;
  stats.dueMs = 0;
}

void LineWorker::backOff(Stats& stats, ModuleReading& reading) {
  ++stats.failures;
  // 1, 3, 7 ... rounds passed over; past a dozen failures the time cap decides anyway.
  const qint64 skip = (qint64(1) << std::min(stats.failures, 12)) - 1;
  stats.dueRound = round_ + 1 + skip;
  stats.dueMs = reading.timeMs + BackOffCapMs;
  // For the operator: the rounds to come taken to last as long as the last one.
  const qint64 roundMs = std::max<qint64>({roundMs_, intervalMs_, 1});
  reading.nextPollMs = std::min(stats.dueMs, reading.timeMs + skip * roundMs);
}

void LineWorker::writeOutputs(const LineModule& module, uint32_t word) {
  post([this, module, word] { emit commandDone(writeWord(module, word)); });
}

void LineWorker::pulseOutputs(const LineModule& module, uint32_t word, uint32_t after, int ms) {
  post([this, module, word, after, ms] {
    const CommandResult first = writeWord(module, word);
    emit commandDone(first);
    if (first.status != 0) return;
    QTimer::singleShot(std::max(0, ms), this, [this, module, after] { emit commandDone(writeWord(module, after)); });
  });
}

void LineWorker::clearStatus(const LineModule& module) {
  post([this, module] {
    CommandResult r;
    r.kind = CommandResult::ClearStatus;
    r.address = module.address;
    r.baudCode = module.baudCode;
    pollSoon(module);
    if (!connected_) {
      r.status = StatusNoEntry;
      r.error = NotConnectedText.trimmed();
    } else if (useRate(module.baudCode, timeoutMs_, &r.status)) {
      r.status = ModuleTransact(data_.Interface, data_.DriverHandle, module.address, Cmd::ClearStatus, 0).Status;
      if (r.status != 0) r.error = DriverStatusText(data_.Interface, r.status);
    } else {
      r.error = DriverStatusText(data_.Interface, r.status);
    }
    emit commandDone(r);
  });
}

void LineWorker::doOpen(TData settings) {
  doClose();
  data_ = settings;
  FillDriverParams(data_);
  uint32_t handle = 0;
  uint32_t status = DriverInit(data_.Interface, &handle, data_.DriverParams);
  if (status == 0) {
    data_.DriverHandle = handle;
    data_.Connected = true;
    connected_ = true;
    device_ = LineDeviceText(data_);
    rateCode_ = -1;
    if (!useRate(BaudRateToCode(data_.BaudRate), data_.ResponseTimeout, &status)) {
      const QString text = DriverStatusText(data_.Interface, status);
      doClose();
      emit opened(status, text);
      return;
    }
  }
  emit opened(status, status == 0 ? QString() : DriverStatusText(data_.Interface, status));
}

void LineWorker::doClose() {
  if (pollTimer_ != nullptr) pollTimer_->stop();
  polling_ = false;
  handOver();
  if (!connected_) return;
  DriverDone(data_.Interface, &data_.DriverHandle);
  data_.DriverHandle = 0;
  data_.Connected = false;
  connected_ = false;
  device_.clear();
  stats_.clear();
  emit closed();
}

bool LineWorker::useRate(int baudCode, int timeoutMs, uint32_t* status) {
  *status = 0;
  if (baudCode == rateCode_ && timeoutMs == rateTimeout_) return true;
  *status = DriverSetConfig(data_.Interface, data_.DriverHandle, uint32_t(BaudCodeToRate(baudCode)),
                            uint32_t(timeoutMs), 2);
  if (*status != 0) {
    rateCode_ = -1;
    return false;
  }
  rateCode_ = baudCode;
  rateTimeout_ = timeoutMs;
  SetExchangeLineRate(uint32_t(BaudCodeToRate(baudCode)));
  return true;
}

void LineWorker::doScan(ScanPlan plan) {
  if (!connected_) {
    emit scanFinished(false, StatusNoEntry, NotConnectedText.trimmed());
    return;
  }
  const bool wasPolling = polling_;
  pausePolling();
  QElapsedTimer clock;
  clock.start();
  const LineTiming timing = LineTimingOf(data_);
  ScanBudget budget(timing.basis, timing.adapterLatencyMs, plan.timeoutMs);
  // Progress in each try's timeout: a try at 600 Bd weighs seventy at 115200 Bd.
  const int total = plan.budgetMs(budget);
  uint32_t failed = 0;
  QString error;
  // The start first: a record of the polls before it never falls inside the span.
  scanFromNs_.store(NowNs());
  scanToNs_.store(0);
  emit scanProgress(0, total, 0);
  std::vector<uint8_t> addresses;
  for (int address = plan.firstAddress; address <= plan.lastAddress; ++address) addresses.push_back(uint8_t(address));
  ScanHooks hooks;
  hooks.setRate = [&](int code, int timeoutMs) {
    uint32_t status = 0;
    useRate(code, timeoutMs, &status);
    return status;
  };
  hooks.stop = [&] { return bool(stopScan_); };
  hooks.found = [&](const ScanFind& f) {
    LineModule m;
    m.address = f.address;
    m.baudCode = f.baudCode;
    m.ident = QString(f.ident).remove(QChar(u'\0'));
    // Three exchanges make an identification; the slowest is not known apart, so the mean
    // stands for it.
    m.answerMs = double(f.tookNs) / 3e6;
    m.late = f.late || f.nearLimit;
    emit scanFound(m);
  };
  hooks.conflict = [&](uint8_t address, int code) {
    LineModule place;
    place.address = address;
    place.baudCode = code;
    emit scanConflict(place);
  };
  hooks.tried = [&](int64_t doneMs, int64_t wholeMs) { emit scanProgress(int(doneMs), int(wholeMs), clock.elapsed()); };
  const ScanEnd end = ScanLine(data_.Interface, data_.DriverHandle, addresses,
                               std::vector<int>(plan.baudCodes.begin(), plan.baudCodes.end()), budget,
                               plan.restoreTimeoutMs, hooks);
  if (end.status != 0) {
    failed = end.status;
    error = QStringLiteral("Rychlost %1 Bd nelze nastavit: %2")
                .arg(BaudCodeToRate(end.failedBaudCode))
                .arg(DriverStatusText(data_.Interface, end.status));
  }
  scanToNs_.store(NowNs());
  uint32_t restoreStatus = 0;
  if (!useRate(plan.restoreBaudCode, plan.restoreTimeoutMs, &restoreStatus) && error.isEmpty()) {
    failed = restoreStatus;
    error = DriverStatusText(data_.Interface, restoreStatus);
  }
  emit scanFinished(bool(stopScan_), error.isEmpty() ? 0 : failed, error);
  if (wasPolling && polling_) {
    roundStart_ = NowMs();
    pollTimer_->start(0);
  }
}

int LineWorker::schedulePoll() {
  if (!polling_) return -1;
  if (next_ > 0) {
    pollTimer_->start(0);  // let queued commands in between two slices
    return 0;
  }
  // A round is over: the next starts an interval after this one started, or at once when
  // the round took longer. A round in which every module was passed over lasts a response
  // timeout, what a poll of a silent module would have cost, so that a line of dead modules
  // backs off by the clock too.
  const qint64 now = NowMs();
  qint64 due = roundStart_ + intervalMs_;
  if (roundPolled_)
    roundMs_ = now - roundStart_;
  else
    due = std::max(due, roundStart_ + timeoutMs_);
  ++round_;
  roundPolled_ = false;
  roundStart_ = std::max(due, now);
  const int wait = int(std::max<qint64>(0, due - now));
  pollTimer_->start(wait);
  return wait;
}

void LineWorker::handOver() {
  if (polled_.isEmpty()) return;
  handedOver_.start();
  emit readings(polled_);
  polled_.clear();
}

void LineWorker::pollNext() {
  if (!polling_ || !connected_) return;
  // Module after module until the round is over, work waits for this thread or a slice of
  // time has passed: a turn of the event loop costs about as much as an exchange with a fast
  // line, so it comes between slices, and the window is woken once a slice.
  constexpr int SliceMs = 2;
  QElapsedTimer slice;
  slice.start();
  while (!modules_.isEmpty()) {
    if (next_ >= modules_.size()) next_ = 0;
    if (due(stats_[key(modules_[next_])], NowMs())) {
      polled_.append(pollModule(modules_[next_]));
      roundPolled_ = true;
    }
    next_ = (next_ + 1) % int(modules_.size());
    if (next_ == 0 || queued_.load() > 0 || slice.elapsed() >= SliceMs) break;
  }
  if (modules_.isEmpty()) next_ = 0;
  // Waking the window's thread costs more than a poll of a fast line, so the readings go over
  // together: at once when polling pauses, else at most every HandOverMs.
  constexpr int HandOverMs = 40;
  if (schedulePoll() != 0 || !handedOver_.isValid() || handedOver_.elapsed() >= HandOverMs) handOver();
}

ModuleReading LineWorker::pollModule(const LineModule& module) {
  Stats& stats = stats_[key(module)];
  ModuleReading r;
  r.address = module.address;
  r.baudCode = module.baudCode;
  r.timeMs = NowMs();
  auto exchange = [&](uint8_t command, uint8_t index, std::array<uint8_t, 5> data) {
    const ExchangeResult result = ModuleTransact(data_.Interface, data_.DriverHandle, module.address, command, index, data);
    if (result.Status != 0) r.status = result.Status;
    return result;
  };
  auto finish = [&] {
    r.ok = r.status == 0;
    if (!r.ok) {
      r.outcome = ClassifyExchangeStatus(r.status);
      r.error = DriverStatusText(data_.Interface, r.status);
      stats.rangeByte = -1;  // read again once the module is back: it may have been reconfigured
      backOff(stats, r);
    } else {
      stats.failures = 0;
    }
    return r;
  };
  if (!useRate(module.baudCode, timeoutMs_, &r.status)) return finish();
  if (stats.rangeByte < 0) {
    const ExchangeResult range = exchange(Cmd::ReadConfigByte, 0, {0, CfgAddr::AinRange, CfgAddr::AinRange, 0, 0});
    if (range.Status != 0) return finish();
    stats.rangeByte = range.Data[3];
  }
  r.current = stats.rangeByte & 1;
  const ExchangeResult ain = exchange(Cmd::ReadChannel, 0, {});
  if (ain.Status != 0) return finish();
  r.ain0 = DecodeMeasuredValue(ain.Data[1], ain.Data[2], ain.Data[3], ain.Data[4]);
  r.decimals = ain.Data[4] & 0x7F;
  if (r.current) {  // amperes shown as milliamperes, as the tool's live window shows them
    r.ain0 *= 1000.0;
    r.decimals = 3;
  }
  const ExchangeResult din = exchange(Cmd::ReadChannel, DigitalIndex, {});
  if (din.Status != 0) return finish();
  r.din = uint32_t(din.Data[1]) | uint32_t(din.Data[2]) << 8 | uint32_t(din.Data[3]) << 16 | uint32_t(din.Data[4]) << 24;
  const ExchangeResult st = exchange(Cmd::ReadStatus, 0, {});
  if (st.Status != 0) return finish();
  r.statusRegister = uint32_t(st.Data[1]) | uint32_t(st.Data[2]) << 8 | uint32_t(st.Data[3]) << 16 | uint32_t(st.Data[4]) << 24;
  return finish();
}

CommandResult LineWorker::writeWord(const LineModule& module, uint32_t word) {
  CommandResult r;
  r.kind = CommandResult::Outputs;
  r.address = module.address;
  r.baudCode = module.baudCode;
  r.word = word;
  pollSoon(module);
  if (!connected_) {
    r.status = StatusNoEntry;
    r.error = NotConnectedText.trimmed();
    return r;
  }
  if (useRate(module.baudCode, timeoutMs_, &r.status))
    r.status = ModuleTransact(data_.Interface, data_.DriverHandle, module.address, Cmd::WriteOutputs, DigitalIndex,
                              {0, uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)})
                   .Status;
  if (r.status != 0) r.error = DriverStatusText(data_.Interface, r.status);
  return r;
}

void LineWorker::pausePolling() {
  pollTimer_->stop();
  handOver();
}

void LineWorker::resumePolling() {
  if (!polling_) return;
  roundStart_ = NowMs();
  pollTimer_->start(0);
}

ImageEvents LineWorker::imageEvents(int index, int count) {
  ImageEvents events;
  events.progress = [this, index, count](ImagePhase phase, int percent) {
    emit imageProgress(index, count, int(phase), percent);
  };
  events.cancelled = [this] { return bool(stopScan_); };
  return events;
}

void LineWorker::readImages(const QVector<LineModule>& modules) {
  stopScan_ = false;
  post([this, modules] {
    pausePolling();
    QVector<ModuleImage> images;
    for (int i = 0; i < modules.size() && !stopScan_; ++i) {
      pollSoon(modules[i]);
      images.append(ReadLineModule(access(), modules[i], imageEvents(i, int(modules.size()))));
    }
    const bool stopped = stopScan_;
    resumePolling();
    emit imagesRead(images, stopped);
  });
}

void LineWorker::restore(const QVector<RestoreJob>& jobs) {
  stopScan_ = false;
  post([this, jobs] {
    pausePolling();
    QVector<RestoreReport> reports;
    for (int i = 0; i < jobs.size() && !stopScan_; ++i) {
      reports.append(RestoreLineModule(access(), jobs[i], imageEvents(i, int(jobs.size()))));
      // Whatever the restore wrote, the next poll reads the input's range again before it
      // reads a value, so that the value is shown and logged in the unit the module now uses.
      stats_[key(jobs[i].module)].rangeByte = -1;
      pollSoon(jobs[i].module);
    }
    const bool stopped = stopScan_;
    resumePolling();
    emit restored(reports, stopped);
  });
}

void LineWorker::onLine(const LineModule& module, LineJob work) {
  post([this, module, work = std::move(work)] {
    QString error;
    const uint32_t status = access().reach(module, error);
    work(link(module), status, error);
    stats_[key(module)].rangeByte = -1;
    pollSoon(module);
  });
}

void LineWorker::onWire(WireJob work) {
  post([this, work = std::move(work)] {
    const RateSetter setRate = [this](int baudCode) {
      uint32_t status = 0;
      useRate(baudCode, timeoutMs_, &status);
      return status;
    };
    if (!connected_) return work(0, 0, 0, setRate, StatusNoEntry, NotConnectedText.trimmed());
    work(data_.Interface, data_.DriverHandle, uint16_t(timeoutMs_), setRate, 0, QString());
    for (Stats& s : stats_) s.rangeByte = -1;
  });
}

LineAccess LineWorker::access() {
  LineAccess a{data_.Interface, data_.DriverHandle, {}};
  a.reach = [this](const LineModule& module, QString& error) {
    uint32_t status = StatusNoEntry;
    if (!connected_)
      error = NotConnectedText.trimmed();
    else if (!useRate(module.baudCode, timeoutMs_, &status))
      error = DriverStatusText(data_.Interface, status);
    return status;
  };
  return a;
}
