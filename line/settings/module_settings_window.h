#pragma once

#include <QTimer>
#include <QWidget>
#include <optional>
#include <array>

#include "line/common/line_types.h"
#include "line/settings/settings_foot.h"
#include "line/settings/settings_run.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class StatusBar;

// "Nastavení" of one module of the line: everything the tool's three settings windows edit
// (address and rate, the range of input 0, the negation of inputs and outputs, the outputs'
// initial state), read from the module when the window opens, edited, and written with
// read-back on the driver thread, with those windows' checks and texts. The first write backs
// the module up (SettingsRun); "Vrátit změnu" restores that backup.
//
// A new address or rate takes effect at the module's next power-up: after writing one the
// window asks for the power cycle and looks for the module at its new place once a second;
// when it answers there, moduleMoved tells the line, which follows it.
class ModuleSettingsWindow : public QWidget {
  Q_OBJECT
 public:
  ModuleSettingsWindow(LineWorker* worker, const LineModule& module, QWidget* parent = nullptr);

  const LineModule& module() const { return module_; }
  SettingsRun* run() const { return run_; }
  QString status() const;
  QString message() const;
  // Where the window looks for the module after a write of its address or rate (how often).
  void setProbeInterval(int ms) { probe_.setInterval(ms); }
  bool waitingForModule() const { return waiting_; }
  // How the window asks before an undo or a write of the address or rate (AskYesNo unless a
  // test answers instead).
  void setQuestion(std::function<bool(const QString&)> ask) { ask_ = std::move(ask); }

 public slots:
  void readModule();
  void writeModule();
  void undoChange();

 signals:
  void moduleMoved(const LineModule& from, const LineModule& to);

 private:
  // The controls from an image, and back with the address window's checks: false with the
  // check's message in the status bar.
  void showImage(const ConfigImage& image);
  bool takeImage(ConfigImage& image);
  void readDone(const QVector<ModuleSettings>& settings);
  void written(const QVector<ChangeReport>& reports, const QString& failure);
  void undone(const QVector<RestoreReport>& reports, bool stopped);
  void found(const LineModule& at, bool answered, const QString& ident, const QString& error);
  // The place the module's written address and rate point to, when it differs from where it answers.
  bool movesTo(LineModule& place) const;
  void updateButtons();
  void updateTitle();

  LineModule module_;
  SettingsRun* run_;
  std::function<bool(const QString&)> ask_;
  ConfigImage image_;  // what the module holds, as far as this window knows
  bool known_ = false;  // image_ was read
  bool waiting_ = false;  // for the module at its new place
  int tries_ = 0;
  QTimer probe_;

  QLineEdit* address_;
  QComboBox* rate_;
  QComboBox* range_;
  std::array<QCheckBox*, 96> bits_{};  // input negation, output negation, initial state: 32 each
  QPushButton* read_;
  QPushButton* write_;
  QPushButton* undo_;
  std::optional<SettingsFoot> foot_;
};
