#pragma once

#include <QVector>
#include <QWidget>

#include "line/log/csv_log.h"
#include "line/common/line_types.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

// Chooses what to log, starts and stops the log, and says what is being logged.
class LogPanel : public QWidget {
  Q_OBJECT
 public:
  explicit LogPanel(CsvLog* log, QWidget* parent = nullptr);

  void setModules(const QVector<LineModule>& modules);
  void setFolder(const QString& folder);
  // Moves the choice to the log and starts it; false (and the reason shown) when it cannot.
  bool startLog();
  void stopLog();
  // A write failed: the log has stopped; the reason stays shown until the next start.
  void logFailed(const QString& error);
  // One line for the status bar: what is logged where, or that nothing is.
  QString summary() const;

 signals:
  void stateChanged();

 private:
  void refresh();
  // The values and modules ticked, kept per user between runs.
  void restoreChoice();
  void keepChoice();
  void choiceChanged();

  CsvLog* log_;
  QLineEdit* folder_;
  QCheckBox* ain0_;
  QCheckBox* inputs_;
  QCheckBox* status_;
  QSpinBox* maxMb_;
  QListWidget* modules_;
  QPushButton* browse_;
  QPushButton* start_;
  QPushButton* stop_;
  QLabel* state_;
  QString failure_;        // the log stopped or could not start: until the next start
  QString choiceFailure_;  // what is missing from the choice: until the choice changes
  QSet<int> chosen_;  // ModuleKey of every module ticked, also of those not on the line now
  bool filling_ = false;
};
