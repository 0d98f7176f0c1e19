#include "line/settings/settings_run.h"

#include <QDateTime>
#include <functional>
#include <mutex>

#include "base/config/line_image.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/identify.h"
#include "line/poll/line_worker.h"
#include "line/settings/settings_change.h"

struct SettingsRun::Shared {
  std::mutex mutex;
  QObject* target = nullptr;  // the run, until it goes; answers to a gone run are dropped

  void deliver(std::function<void()> answer) {
    std::lock_guard<std::mutex> lock(mutex);
    if (target != nullptr) QMetaObject::invokeMethod(target, std::move(answer), Qt::QueuedConnection);
  }
};

namespace {

// `work` for each module in turn on the driver thread, and `done` with all their results on the
// run's thread once the last has run. The jobs run one after another on one thread, so the
// results gather there without a lock.
template <typename T, typename S>
void ForEachModule(LineWorker* worker, const std::shared_ptr<S>& shared, const QVector<LineModule>& modules,
                   std::function<T(const LineModule&, const ModuleLink&, uint32_t, const QString&)> work,
                   std::function<void(const QVector<T>&)> done) {
  auto results = std::make_shared<QVector<T>>();
  if (modules.isEmpty()) return shared->deliver([done] { done({}); });
  for (int i = 0; i < modules.size(); ++i) {
    const bool last = i + 1 == modules.size();
    worker->onLine(modules[i], [shared, results, work, done, last, m = modules[i]](const ModuleLink& link, uint32_t status,
                                                                                   const QString& error) {
      results->append(work(m, link, status, error));
      if (last) shared->deliver([done, all = *results] { done(all); });
    });
  }
}

}  // namespace

SettingsRun::SettingsRun(LineWorker* worker, QObject* parent)
    : QObject(parent), worker_(worker), shared_(std::make_shared<Shared>()) {
  shared_->target = this;
  connect(worker_, &LineWorker::restored, this, &SettingsRun::restored);
  connect(worker_, &LineWorker::imageProgress, this, &SettingsRun::imageProgress);
}

SettingsRun::~SettingsRun() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->target = nullptr;
}

void SettingsRun::moved(const LineModule& from, const LineModule& to) {
  for (LineModule& m : undoModules_)
    if (m == from) {
      m.address = to.address;
      m.baudCode = to.baudCode;
    }
}

ImageEvents SettingsRun::readEvents(const std::shared_ptr<Shared>& shared, SettingsRun* run, const LineModule& m,
                                    const QString& prefix) {
  ImageEvents events;
  events.progress = [shared, run, m, prefix](ImagePhase, int percent) {
    shared->deliver([run, m, prefix, percent] { emit run->status(m, prefix + ReadProgressText(percent)); });
  };
  return events;
}

void SettingsRun::read(const QVector<LineModule>& modules) {
  if (busy_) return;
  busy_ = true;
  auto shared = shared_;
  ForEachModule<ModuleSettings>(
      worker_, shared_, modules,
      [this, shared](const LineModule& m, const ModuleLink& link, uint32_t lineStatus, const QString& error) {
        ModuleSettings s;
        s.module = m;
        if (lineStatus != 0) {
          s.read.result.outcome = ConfigTransferResult::DriverError;
          s.read.result.status = lineStatus;
          s.text = QLatin1Char(' ') + error;
          return s;
        }
        s.read = ReadModuleImage(link, readEvents(shared, this, m, QString()), SettingsAddresses());
        s.text = ReadResultText(link.iface, s.read.result);
        return s;
      },
      [this](const QVector<ModuleSettings>& all) {
        busy_ = false;
        emit readDone(all);
      });
}

void SettingsRun::write(const QVector<SettingsWish>& wishes) {
  if (busy_) return;
  busy_ = true;
  wishes_ = wishes;
  QVector<LineModule> unsaved;
  for (const SettingsWish& w : wishes)
    if (!undoModules_.contains(w.module)) unsaved.append(w.module);
  if (unsaved.isEmpty()) return writeAll();
  auto shared = shared_;
  ForEachModule<ModuleImage>(
      worker_, shared_, unsaved,
      [this, shared](const LineModule& m, const ModuleLink& link, uint32_t lineStatus, const QString& error) {
        if (lineStatus == 0) shared->deliver([this, m] { emit status(m, QStringLiteral(" Záloha: čte se identifikace…")); });
        // The driver thread has set the module's rate already; what it said of that is the reach.
        const LineAccess access{link.iface, link.handle, [&](const LineModule&, QString& text) {
                                  text = error;
                                  return lineStatus;
                                }};
        return ReadLineModule(access, m, readEvents(shared, this, m, QStringLiteral(" Záloha:")));
      },
      [this](const QVector<ModuleImage>& images) { backedUp(images); });
}

void SettingsRun::backedUp(const QVector<ModuleImage>& images) {
  QStringList failures;
  for (const ModuleImage& i : images)
    if (!i.ok()) failures << QStringLiteral("modul %1: %2").arg(ModulePlace(i.module), i.error);
  QString failure;
  if (!failures.isEmpty()) {
    failure = QStringLiteral("Zálohu nelze pořídit, nic nezapsáno: ") + failures.join(QStringLiteral("; "));
  } else {
    // The backup grows by the modules new to it and is saved whole under a new name: the file
    // always holds every module a later undo restores.
    LineFile extended = backup_;
    extended.saved = QDateTime::currentDateTime();
    for (const ModuleImage& i : images) {
      LineModule m = i.module;
      m.ident = i.ident;
      extended.modules.append(m);
      extended.images.insert(ModuleKey(m), i.read.image);
    }
    const QString path = AutoBackupPath(extended.saved);
    QString error;
    if (path.isEmpty())
      failure = QStringLiteral("Zálohu nelze pořídit, nic nezapsáno: uživatel nemá složku pro data.");
    else if (!SaveLineFile(path, extended, error))
      failure = QStringLiteral("Zálohu nelze uložit do %1, nic nezapsáno: %2").arg(path, error);
    if (failure.isEmpty()) {
      backup_ = extended;
      backupPath_ = path;
      for (int i = undoModules_.size(); i < extended.modules.size(); ++i) undoModules_.append(extended.modules[i]);
    }
  }
  if (!failure.isEmpty()) {
    busy_ = false;
    emit written({}, failure);
    return;
  }
  writeAll();
}

void SettingsRun::writeAll() {
  QVector<LineModule> modules;
  QHash<int, std::vector<ConfigByte>> bytes;
  for (const SettingsWish& w : std::as_const(wishes_)) {
    modules.append(w.module);
    bytes.insert(ModuleKey(w.module), ChangedSettings(w.before, w.wanted));
  }
  auto shared = shared_;
  ForEachModule<ChangeReport>(
      worker_, shared_, modules,
      [this, shared, bytes](const LineModule& m, const ModuleLink& link, uint32_t lineStatus, const QString& error) {
        ChangeReport r;
        r.module = m;
        r.writes = bytes.value(ModuleKey(m));
        if (lineStatus != 0) {
          r.result.outcome = ConfigTransferResult::DriverError;
          r.result.status = lineStatus;
          r.text = QLatin1Char(' ') + error + QStringLiteral("; nic nezapsáno");
          return r;
        }
        if (r.writes.empty()) {
          r.text = QStringLiteral(" Beze změny, nebylo co zapsat.");
          return r;
        }
        ConfigTransfer::Events events;
        events.progress = [this, shared, m](int percent) {
          shared->deliver([this, m, percent] { emit status(m, WriteProgressText(percent)); });
        };
        ConfigTransfer transfer(link.iface, link.handle, link.module, events);
        r.result = transfer.Write(r.writes);
        r.text = WriteResultText(link.iface, r.result);
        if (!r.result.ok()) r.text += QStringLiteral(" (") + WrittenSoFarText(r.writes, r.result.done) + QLatin1Char(')');
        return r;
      },
      [this](const QVector<ChangeReport>& reports) {
        busy_ = false;
        emit written(reports, QString());
      });
}

void SettingsRun::undo() {
  if (busy_ || undoModules_.isEmpty()) return;
  // undoModules_ runs parallel to the backup's modules: the same modules in the same order,
  // each where it answers now.
  QVector<RestoreJob> jobs;
  for (int i = 0; i < backup_.modules.size(); ++i)
    if (const ConfigImage* image = backup_.image(backup_.modules[i])) jobs.append(RestoreJob{undoModules_[i], *image, ImageSelection{}});
  busy_ = true;
  undoing_ = true;
  worker_->restore(jobs);
}

void SettingsRun::restored(const QVector<RestoreReport>& reports, bool stopped) {
  if (!undoing_) return;  // the backup pane's restore
  undoing_ = false;
  busy_ = false;
  emit undone(reports, stopped);
}

void SettingsRun::imageProgress(int index, int count, int phase, int percent) {
  if (!undoing_ || index < 0 || index >= undoModules_.size() || count != undoModules_.size()) return;
  static const char* const phases[] = {"Vrácení: čtení", "Vrácení: zápis", "Vrácení: kontrola"};
  emit status(undoModules_[index], QStringLiteral(" %1 (%2 %)").arg(QString::fromUtf8(phases[std::clamp(phase, 0, 2)])).arg(percent));
}

void SettingsRun::find(const LineModule& at) {
  if (busy_) return;
  busy_ = true;
  auto shared = shared_;
  worker_->onLine(at, [this, shared, at](const ModuleLink& link, uint32_t status, const QString& error) {
    QString ident;
    QString text = error;
    if (status == 0) {
      status = IdentifyModule(link.iface, link.handle, link.module, ident);
      ident.remove(QChar(u'\0'));
      if (status != 0) text = DriverStatusText(link.iface, status);
    }
    shared->deliver([this, at, status, ident, text] {
      busy_ = false;
      emit found(at, status == 0, ident, text);
    });
  });
}
