// Loaded into a program by QT_QPA_GENERIC_PLUGINS=qx510startprobe: at the first exposed
// window it prints the steady clock's nanoseconds (the system's monotonic clock, the same in
// every process) and ends the program. The start-up benchmark spawns the programs with it.
#include <QCoreApplication>
#include <QEvent>
#include <QGenericPlugin>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdio>

namespace {

class FirstExpose : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!seen_ && event->type() == QEvent::Expose) {
      auto* window = qobject_cast<QWindow*>(watched);
      if (window != nullptr && window->isExposed()) {
        seen_ = true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
        std::printf("exposed %lld\n", static_cast<long long>(ns));
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
      }
    }
    return false;
  }

 private:
  bool seen_ = false;
};

}  // namespace

class StartProbePlugin : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "start_probe.json")
 public:
  QObject* create(const QString&, const QString&) override {
    auto* probe = new FirstExpose;
    qApp->installEventFilter(probe);
    return probe;
  }
};

#include "start_probe.moc"
