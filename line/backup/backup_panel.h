#pragma once

#include <QVector>
#include <QWidget>

#include "base/config/line_file.h"
#include "line/common/line_types.h"

class ElidedLabel;
class LineWorker;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;

// The line's configuration: a backup of every module into one file, the live line compared
// with a backup or two modules with each other byte by byte, chosen modules restored from a
// backup. A backup file is only ever written by a backup, never by a restore.
class BackupPanel : public QWidget {
  Q_OBJECT
 public:
  BackupPanel(LineWorker* worker, QWidget* parent = nullptr);

  void setModules(const QVector<LineModule>& live);
  void setConnected(bool connected);
  bool busy() const { return pending_ != Idle; }
  bool restoring() const { return pending_ == Restore; }
  QString message() const;
  bool messageIsFailure() const { return failed_; }
  QTableWidget* differences() const { return table_; }
  const LineFile& file() const { return file_; }

 public slots:
  // Reads every live module and writes the backup to `path` when all were read.
  void backupTo(const QString& path);
  bool openFile(const QString& path);
  void compareWithFile();
  void compareModules(int a, int b);
  // Restores the file's checked modules, without asking (the button asks first). When a
  // checked module's backup holds a byte the settings windows would refuse, lists each such
  // byte per module and writes nothing.
  void restoreChecked();
  void setChecked(const QList<int>& fileRows);
  void setSelection(bool calibration, bool lineSettings);

 signals:
  void finished();

 private:
  enum Pending { Idle, Backup, CompareFile, CompareModules, Restore };
  void imagesRead(const QVector<ModuleImage>& images, bool stopped);
  void restored(const QVector<RestoreReport>& reports, bool stopped);
  void progress(int index, int count, int phase, int percent);
  void start(Pending what, const QString& text);
  void done(const QString& text, bool failure);
  void addRow(const LineModule& m, const ByteDifference& d, const QString& note = QString());
  void addNote(const LineModule& m, const QString& note);
  // The restore jobs of the checked modules; false, having said why and listed any refused
  // byte per module in the table, when nothing may be written.
  bool checkedJobs(QVector<RestoreJob>& jobs);
  // A byte of a module's backup that the restore refuses, with its message.
  void addRefused(const LineModule& m, const RefusedByte& b);
  void updateButtons();

  LineWorker* worker_;
  QVector<LineModule> live_;
  LineFile file_;
  QString filePath_;
  QString backupPath_;
  QVector<LineModule> compared_;  // the modules of the read or restore under way
  Pending pending_ = Idle;
  bool connected_ = false;
  bool failed_ = false;

  QPushButton* backup_;
  QPushButton* open_;
  ElidedLabel* fileLabel_;
  QListWidget* fileModules_;
  QPushButton* compareFile_;
  QComboBox* moduleA_;
  QComboBox* moduleB_;
  QPushButton* compareTwo_;
  QCheckBox* calibration_;
  QCheckBox* lineSettings_;
  QPushButton* restore_;
  QPushButton* stop_;
  QProgressBar* bar_;
  QLabel* message_;
  QTableWidget* table_;
};
