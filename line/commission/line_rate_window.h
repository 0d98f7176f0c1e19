#pragma once

#include <QVector>
#include <QWidget>
#include <functional>
#include <vector>

#include "base/commission/line_rate.h"
#include "line/common/line_types.h"

class CommissionRun;
class LineWorker;
class PowerCycleFoot;
class QComboBox;
class QPushButton;
class QTableWidget;

// "Změna rychlosti linky": the new rate written into every module of the line with read-back,
// one power cycle of the whole line, then every module looked for at the new rate (else where
// it still answers); the final table says for each module where it answers, and the line
// follows what was found (lineFollowed).
class LineRateWindow : public QWidget {
  Q_OBJECT
 public:
  enum Column { ModuleColumn, BeforeColumn, WriteColumn, NowColumn, ColumnCount };

  explicit LineRateWindow(LineWorker* worker, QWidget* parent = nullptr);

  void setModules(const QVector<LineModule>& modules);
  void setRate(int baudCode);
  void setPowerWaitMs(int ms) { powerWaitMs_ = ms; }
  // How the window asks before the first write (AskYesNo unless a test answers instead).
  void setQuestion(std::function<bool(const QString&)> ask) { ask_ = std::move(ask); }

  CommissionRun* run() const { return run_; }
  QTableWidget* table() const { return table_; }
  bool waitingForPowerCycle() const;
  QString message() const;

 public slots:
  void changeRate();
  void confirmPowerCycle();
  void cancelWork();

 signals:
  void lineFollowed(const QVector<LineModule>& modules);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void changed(const LineRateResult& result);
  void fillTable(const std::vector<LineRateRow>& rows, int baudCode);
  void say(const QString& text, bool failure = false);
  void updateButtons();

  CommissionRun* run_;
  QVector<LineModule> modules_;
  std::function<bool(const QString&)> ask_;
  int powerWaitMs_ = 30000;

  QComboBox* rate_;
  QTableWidget* table_;
  PowerCycleFoot* foot_;
  QPushButton* change_;
};
