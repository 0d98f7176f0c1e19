#pragma once

#include <QGroupBox>
#include <QVector>
#include <functional>

#include "base/calibration/calibration_record.h"
#include "line/common/line_types.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The calibrations of one module: the tag it goes by (the module reports none, so the
// operator's is kept per module in the workbench's settings), "Kalibrace…", and the records
// of that tag, newest first, each opened as its certificate. A record whose seal or signature
// does not match is listed as damaged or forged, one not signed or signed by a key not trusted
// here says so; none of them gives a certificate.
class CalibrationHistory : public QGroupBox {
  Q_OBJECT
 public:
  explicit CalibrationHistory(const LineModule& module, QWidget* parent = nullptr);

  QString tag() const;
  void setTag(const QString& tag);
  void setRecordFolder(const QString& folder);
  QString recordFolder() const { return folder_; }
  const QVector<CalibrationRecordEntry>& entries() const { return entries_; }
  QListWidget* list() const { return list_; }
  QString message() const;
  // How a certificate is shown (the desktop's PDF viewer unless a test looks instead).
  void setViewer(std::function<bool(const QString& pdf)> viewer) { viewer_ = std::move(viewer); }

 public slots:
  void refresh();
  // The row's certificate, written to the temporary folder and shown; false for a damaged
  // record or a failure, which the panel says.
  bool openCertificate(int row);
  void saveCertificate();

 signals:
  void calibrateRequested();

 private:
  void keepTag();
  void setMessage(const QString& text, bool failure);
  QString settingsKey() const;

  LineModule module_;
  QString folder_;
  QVector<CalibrationRecordEntry> entries_;
  std::function<bool(const QString&)> viewer_;
  QLineEdit* tag_;
  QPushButton* calibrate_;
  QListWidget* list_;
  QPushButton* open_;
  QPushButton* save_;
  QLabel* message_;
};
