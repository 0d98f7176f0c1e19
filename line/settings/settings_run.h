#pragma once

#include <QObject>
#include <QVector>
#include <memory>
#include <vector>

#include "base/config/line_file.h"
#include "line/common/line_types.h"

class LineWorker;

// One module's settings as read: the bytes of SettingsAddresses() as far as the read got.
struct ModuleSettings {
  LineModule module;
  ImageRead read;
  QString text;  // how the read ended, in the settings windows' words
  bool ok() const { return read.ok(); }
};

// A module, what the window last read of it, and what the operator wants it to hold.
struct SettingsWish {
  LineModule module;
  ConfigImage before;
  ConfigImage wanted;
};

// How the write of one module's changes went.
struct ChangeReport {
  LineModule module;
  std::vector<ConfigByte> writes;
  ConfigTransferResult result;
  QString text;  // for the operator, beginning with a blank as the settings windows' texts do
  bool ok() const { return result.ok(); }
};

// The exchanges of the workbench's settings windows, each a job of the LineWorker's thread,
// their answers signalled on the thread that made the run. One request at a time.
//
// Before the first write to a module the run backs the modules of that write up (identification
// and whole image) into a line file of its own (AutoBackupPath); nothing is written unless every
// one of them was read and the file saved. undo() restores that backup through the worker's
// restore, the one the backup pane uses.
class SettingsRun : public QObject {
  Q_OBJECT
 public:
  explicit SettingsRun(LineWorker* worker, QObject* parent = nullptr);
  ~SettingsRun() override;

  bool busy() const { return busy_; }
  // The backup taken before the first write, and its file; empty before.
  const LineFile& backup() const { return backup_; }
  QString backupPath() const { return backupPath_; }
  // A module of the backup now answers at another place (its address or rate followed).
  void moved(const LineModule& from, const LineModule& to);

  void read(const QVector<LineModule>& modules);
  // Writes each module's bytes that differ between before and wanted, each with its
  // read-back, after the backup where the module has none yet.
  void write(const QVector<SettingsWish>& wishes);
  // Restores the backup into every module it holds, at its present place, but for the
  // address and rate (a module would then answer elsewhere only after its next power-up).
  void undo();
  // Whether a module answers at `at`, and what it calls itself there.
  void find(const LineModule& at);

 signals:
  // Progress, in the settings windows' words; `module` is the module it concerns.
  void status(const LineModule& module, const QString& text);
  void readDone(const QVector<ModuleSettings>& settings);
  // `failure`: why nothing was written (the backup could not be taken); else one report a module.
  void written(const QVector<ChangeReport>& reports, const QString& failure);
  void undone(const QVector<RestoreReport>& reports, bool stopped);
  void found(const LineModule& at, bool answered, const QString& ident, const QString& error);

 private:
  struct Shared;
  // The progress of a read on the driver thread as the run's status, after `prefix`; touches
  // the run only on its own thread, while it lives.
  static ImageEvents readEvents(const std::shared_ptr<Shared>& shared, SettingsRun* run, const LineModule& module,
                                const QString& prefix);
  void backedUp(const QVector<ModuleImage>& images);
  void writeAll();
  void restored(const QVector<RestoreReport>& reports, bool stopped);
  void imageProgress(int index, int count, int phase, int percent);

  LineWorker* worker_;
  std::shared_ptr<Shared> shared_;
  bool busy_ = false;
  bool undoing_ = false;
  QVector<SettingsWish> wishes_;
  QVector<LineModule> undoModules_;
  LineFile backup_;
  QString backupPath_;
};
