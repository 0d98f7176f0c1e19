#pragma once

#include <QStringList>
#include <QVector>
#include <QWidget>

#include "line/common/line_types.h"

class QCheckBox;
class QColor;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

// Looks for modules: every address of a range at every chosen rate, one short try each.
// Modules are listed as they answer; the time left is estimated from the tries so far.
class ScanPanel : public QWidget {
  Q_OBJECT
 public:
  explicit ScanPanel(QWidget* parent = nullptr);

  ScanPlan plan() const;
  void setConnected(bool connected);
  QVector<LineModule> found() const { return found_; }

 public slots:
  void started();
  void progress(int done, int total, qint64 elapsedMs);
  void moduleFound(const LineModule& module);
  // Probably two modules answer at the place: listed, never taken into the line.
  void conflictFound(const LineModule& place);
  void finished(bool stopped, uint32_t status, const QString& error);

 signals:
  void scanRequested(const ScanPlan& plan);
  void stopRequested();
  // The operator takes the modules of a stopped scan as the line.
  void adoptRequested(const QVector<LineModule>& modules);

 private:
  void updateButtons();
  void addRow(const QStringList& cells, const QColor& colour);

  QSpinBox* first_;
  QSpinBox* last_;
  QSpinBox* timeout_;
  QVector<QCheckBox*> rates_;
  QPushButton* start_;
  QPushButton* stop_;
  QPushButton* adopt_;
  QProgressBar* bar_;
  QLabel* left_;
  QLabel* result_;
  QTableWidget* table_;
  QVector<LineModule> found_;
  QStringList conflicts_;  // as the result says them
  bool connected_ = false;
  bool running_ = false;
};

