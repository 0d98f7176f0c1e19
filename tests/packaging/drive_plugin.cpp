// Works the installed tool's windows as an operator would: opens "Připojení", optionally types
// a response timeout, connects with what the dialog shows, closes the dialog and the tool.
// Reports on standard output what the dialog showed and what the main window's status bar says.
// Loaded with QT_QPA_GENERIC_PLUGINS=qx510drive[:<timeout>].
#include <QAction>
#include <QApplication>
#include <QGenericPlugin>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace {

class Operator : public QObject {
 public:
  explicit Operator(const QString& timeout) : timeout_(timeout) {
    connect(&tick_, &QTimer::timeout, this, &Operator::step);
    tick_.start(100);
  }

 private:
  static void report(const char* what, const QString& text) {
    std::printf("%s: %s\n", what, text.toUtf8().constData());
    std::fflush(stdout);
  }

  static QWidget* mainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->isVisible() && w->findChild<QAction*>(QStringLiteral("Pipojen1")) != nullptr) return w;
    }
    return nullptr;
  }

  void step() {
    if (++ticks_ > 300) {
      report("failed", QStringLiteral("stuck in step %1").arg(stage_));
      QCoreApplication::exit(3);
      return;
    }
    QWidget* main = mainWindow();
    QWidget* dialog = QApplication::activeModalWidget();
    switch (stage_) {
      case 0:
        if (main == nullptr) return;
        // Queued: the dialog runs its own event loop, in which this timer keeps ticking.
        QMetaObject::invokeMethod(main->findChild<QAction*>(QStringLiteral("Pipojen1")), &QAction::trigger,
                                  Qt::QueuedConnection);
        stage_ = 1;
        return;
      case 1: {
        if (dialog == nullptr || dialog == main) return;
        auto* timeout = dialog->findChild<QLineEdit*>(QStringLiteral("Edit5"));
        report("timeout shown", timeout->text());
        if (!timeout_.isEmpty()) timeout->setText(timeout_);
        dialog->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        report("dialog", dialog->findChild<QLabel*>(QStringLiteral("Panel1"))->text());
        dialog->findChild<QPushButton*>(QStringLiteral("Button2"))->click();
        stage_ = 2;
        return;
      }
      case 2:
        if (main == nullptr || dialog != nullptr) return;
        report("status bar", main->findChild<QLabel*>(QStringLiteral("StatusPanel0"))->text());
        stage_ = 3;
        main->close();
        return;
      default:
        return;
    }
  }

  QString timeout_;
  QTimer tick_;
  int stage_ = 0;
  int ticks_ = 0;
};

}  // namespace

class DrivePlugin : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "drive_plugin.json")
 public:
  QObject* create(const QString& key, const QString& arguments) override {
    if (key.compare(QLatin1String("qx510drive"), Qt::CaseInsensitive) != 0) return nullptr;
    return new Operator(arguments);
  }
};

#include "drive_plugin.moc"
