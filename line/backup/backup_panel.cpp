#include "line/backup/backup_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/text/baud.h"
#include "base/files/checked_file.h"
#include "base/text/czech_plural.h"
#include "base/exchange/identify.h"
#include "base/config/setting_labels.h"
#include "line/common/elided_label.h"
#include "line/poll/line_worker.h"
#include "line/common/save_path.h"
#include "ui/question.h"

namespace {

QString ByteNote(uint8_t address) {
  if (IsCalibrationByte(address)) return QStringLiteral("kalibrační konstanta");
  if (IsLineSetting(address)) return QStringLiteral("adresa a rychlost");
  return QString();
}

const char* const PhaseNames[] = {"čtení", "zápis", "kontrolní čtení"};

}  // namespace

BackupPanel::BackupPanel(LineWorker* worker, QWidget* parent) : QWidget(parent), worker_(worker) {
  setObjectName(QStringLiteral("BackupPanel"));
  auto* layout = new QVBoxLayout(this);

  auto* fileRow = new QHBoxLayout;
  backup_ = new QPushButton(QStringLiteral("Zálo&hovat linku do souboru…"), this);
  backup_->setObjectName(QStringLiteral("BackupLine"));
  open_ = new QPushButton(QStringLiteral("Ot&evřít zálohu…"), this);
  open_->setObjectName(QStringLiteral("OpenBackup"));
  fileLabel_ = new ElidedLabel(this);  // a path: its middle goes, never the window's width
  fileLabel_->setElideMode(Qt::ElideMiddle);
  fileLabel_->setText(QStringLiteral("Záloha není otevřena."));
  fileLabel_->setObjectName(QStringLiteral("BackupFile"));
  fileRow->addWidget(backup_);
  fileRow->addWidget(open_);
  fileRow->addWidget(fileLabel_, 1);
  layout->addLayout(fileRow);

  auto* middle = new QHBoxLayout;
  auto* fileBox = new QGroupBox(QStringLiteral("Modul&y v záloze (zaškrtnuté se obnoví)"), this);
  auto* fileLayout = new QVBoxLayout(fileBox);
  fileModules_ = new QListWidget(fileBox);
  fileModules_->setObjectName(QStringLiteral("BackupModules"));
  fileLayout->addWidget(fileModules_);
  middle->addWidget(fileBox, 1);

  auto* actions = new QGroupBox(QStringLiteral("Porovnání a obnova"), this);
  auto* grid = new QGridLayout(actions);
  compareFile_ = new QPushButton(QStringLiteral("&Porovnat živou linku se zálohou"), actions);
  compareFile_->setObjectName(QStringLiteral("CompareFile"));
  grid->addWidget(compareFile_, 0, 0, 1, 3);
  moduleA_ = new QComboBox(actions);
  moduleA_->setObjectName(QStringLiteral("ModuleA"));
  moduleB_ = new QComboBox(actions);
  moduleB_->setObjectName(QStringLiteral("ModuleB"));
  compareTwo_ = new QPushButton(QStringLiteral("Porovnat d&va moduly"), actions);
  compareTwo_->setObjectName(QStringLiteral("CompareModules"));
  grid->addWidget(moduleA_, 1, 0);
  grid->addWidget(moduleB_, 1, 1);
  grid->addWidget(compareTwo_, 1, 2);
  calibration_ = new QCheckBox(QStringLiteral("obnovit i ka&librační konstanty"), actions);
  calibration_->setObjectName(QStringLiteral("RestoreCalibration"));
  lineSettings_ = new QCheckBox(QStringLiteral("obnovit i ad&resu a rychlost (platí po zapnutí modulu)"), actions);
  lineSettings_->setObjectName(QStringLiteral("RestoreLineSettings"));
  grid->addWidget(calibration_, 2, 0, 1, 3);
  grid->addWidget(lineSettings_, 3, 0, 1, 3);
  restore_ = new QPushButton(QStringLiteral("Obnovit zaškrtnuté &moduly…"), actions);
  restore_->setObjectName(QStringLiteral("RestoreModules"));
  stop_ = new QPushButton(QStringLiteral("&Zastavit"), actions);
  stop_->setObjectName(QStringLiteral("StopBackup"));
  grid->addWidget(restore_, 4, 0, 1, 2);
  grid->addWidget(stop_, 4, 2);
  middle->addWidget(actions, 1);
  layout->addLayout(middle);

  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("BackupProgress"));
  bar_->setRange(0, 100);
  bar_->setValue(0);
  layout->addWidget(bar_);
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("BackupMessage"));
  KeepWrappedLabelNarrow(message_);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(message_);

  table_ = new QTableWidget(0, 6, this);
  table_->setObjectName(QStringLiteral("Differences"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Modul"), QStringLiteral("Adresa v paměti"), QStringLiteral("Hodnota"),
                                     QStringLiteral("Na lince / modul A"), QStringLiteral("V záloze / modul B"),
                                     QStringLiteral("Poznámka")});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->setColumnWidth(0, 150);
  table_->setColumnWidth(1, 110);
  table_->setColumnWidth(2, 190);
  table_->setColumnWidth(3, 140);
  table_->setColumnWidth(4, 140);
  layout->addWidget(table_, 1);

  connect(backup_, &QPushButton::clicked, this, [this] {
    const QString path = AskSavePath(this, QStringLiteral("Záloha linky"),
                                     filePath_.isEmpty() ? QDir(DocumentsFolder()).filePath(QStringLiteral("zaloha-linky.qx510line")) : filePath_,
                                     QStringLiteral("Linka QX-510 (*.qx510line)"), QStringLiteral("qx510line"));
    if (!path.isEmpty()) backupTo(path);
  });
  connect(open_, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Otevřít zálohu linky"),
                                                      filePath_.isEmpty() ? DocumentsFolder() : filePath_,
                                                      QStringLiteral("Linka QX-510 (*.qx510line)"));
    if (!path.isEmpty()) openFile(path);
  });
  connect(compareFile_, &QPushButton::clicked, this, &BackupPanel::compareWithFile);
  connect(compareTwo_, &QPushButton::clicked, this,
          [this] { compareModules(moduleA_->currentIndex(), moduleB_->currentIndex()); });
  connect(restore_, &QPushButton::clicked, this, [this] {
    // What would be refused is shown before the question.
    QVector<RestoreJob> jobs;
    if (!checkedJobs(jobs)) return;
    QStringList names;
    for (const RestoreJob& job : jobs) names << LineModuleText(job.module);
    QString what = QStringLiteral("konfigurace");
    if (calibration_->isChecked()) what += QStringLiteral(", kalibrační konstanty");
    if (lineSettings_->isChecked()) what += QStringLiteral(", adresa a rychlost");
    if (AskYesNo(this, names.size() == 1 ? QStringLiteral("Obnova modulu") : QStringLiteral("Obnova modulů"),
                 (names.size() == 1 ? QStringLiteral("Zapsat do modulu (%1) ze zálohy: %2?")
                                    : QStringLiteral("Zapsat do modulů (%1) ze zálohy: %2?"))
                     .arg(names.join(QStringLiteral("; ")), what)))
      restoreChecked();
  });
  connect(stop_, &QPushButton::clicked, this, [this] { worker_->stopScan(); });
  connect(worker_, &LineWorker::imagesRead, this, &BackupPanel::imagesRead);
  connect(worker_, &LineWorker::restored, this, &BackupPanel::restored);
  connect(worker_, &LineWorker::imageProgress, this, &BackupPanel::progress);
  updateButtons();
}

void BackupPanel::setModules(const QVector<LineModule>& live) {
  live_ = live;
  moduleA_->clear();
  moduleB_->clear();
  for (const LineModule& m : live) {
    moduleA_->addItem(LineModuleText(m));
    moduleB_->addItem(LineModuleText(m));
  }
  if (live.size() > 1) moduleB_->setCurrentIndex(1);
  updateButtons();
}

void BackupPanel::setConnected(bool connected) {
  connected_ = connected;
  updateButtons();
}

void BackupPanel::updateButtons() {
  const bool idle = pending_ == Idle;
  backup_->setEnabled(idle && connected_ && !live_.isEmpty());
  open_->setEnabled(idle);
  compareFile_->setEnabled(idle && connected_ && !file_.images.isEmpty());
  compareTwo_->setEnabled(idle && connected_ && live_.size() > 1);
  restore_->setEnabled(idle && connected_ && !file_.images.isEmpty());
  stop_->setEnabled(!idle);
}

QString BackupPanel::message() const { return message_->text(); }

void BackupPanel::start(Pending what, const QString& text) {
  pending_ = what;
  failed_ = false;
  bar_->setValue(0);
  message_->setStyleSheet(QString());
  message_->setText(text);
  updateButtons();
}

void BackupPanel::done(const QString& text, bool failure) {
  pending_ = Idle;
  failed_ = failure;
  message_->setText(text);
  message_->setStyleSheet(failure ? QStringLiteral("color: #b00000; font-weight: bold") : QString());
  updateButtons();
  emit finished();
}

void BackupPanel::progress(int index, int count, int phase, int percent) {
  if (pending_ == Idle || count <= 0) return;
  bar_->setValue((index * 100 + percent) / count);
  bar_->setFormat(QStringLiteral("modul %1 z %2: %3 %p %").arg(index + 1).arg(count).arg(QString::fromUtf8(PhaseNames[std::clamp(phase, 0, 2)])));
}

void BackupPanel::backupTo(const QString& path) {
  if (pending_ != Idle) return;
  // A device or a FIFO under the name is refused before the line is read.
  if (const QString refused = RefusedFileTarget(path); !refused.isEmpty())
    return done(QStringLiteral("Zálohu nelze uložit do %1: %2").arg(path, refused), true);
  backupPath_ = path;
  compared_ = live_;
  start(Backup, QStringLiteral("Čte se konfigurace: %1…").arg(LineModulesText(live_.size())));
  worker_->readImages(live_);
}

bool BackupPanel::openFile(const QString& path) {
  LineFile file;
  QString error;
  if (!LoadLineFile(path, file, error)) {
    done(QStringLiteral("Zálohu %1 nelze otevřít: %2").arg(path, error), true);
    return false;
  }
  file_ = file;
  filePath_ = path;
  fileLabel_->setText(QStringLiteral("%1 (uložena %2, modulů %3)")
                          .arg(path, QLocale().toString(file.saved, QLocale::ShortFormat))
                          .arg(file.modules.size()));
  fileModules_->clear();
  for (const LineModule& m : file_.modules) {
    const QString note = file_.isMissing(m) ? QStringLiteral("  (nezálohován: při záloze neodpověděl)") : QString();
    auto* item = new QListWidgetItem(LineModuleText(m) + QStringLiteral("  ") + m.ident + note, fileModules_);
    item->setFlags(file_.image(m) != nullptr ? item->flags() | Qt::ItemIsUserCheckable : item->flags() & ~Qt::ItemIsEnabled);
    item->setCheckState(Qt::Unchecked);
  }
  if (file_.images.isEmpty()) done(QStringLiteral("Soubor obsahuje jen seznam modulů, bez konfigurace."), true);
  updateButtons();
  return true;
}

void BackupPanel::setChecked(const QList<int>& rows) {
  for (int i = 0; i < fileModules_->count(); ++i)
    fileModules_->item(i)->setCheckState(rows.contains(i) ? Qt::Checked : Qt::Unchecked);
}

void BackupPanel::setSelection(bool calibration, bool lineSettings) {
  calibration_->setChecked(calibration);
  lineSettings_->setChecked(lineSettings);
}

void BackupPanel::compareWithFile() {
  if (pending_ != Idle || file_.images.isEmpty()) return;
  table_->setRowCount(0);
  compared_.clear();
  for (const LineModule& m : file_.modules)
    if (file_.image(m) != nullptr) compared_.append(m);
  start(CompareFile, QStringLiteral("Čte se konfigurace modulů k porovnání…"));
  worker_->readImages(compared_);
}

void BackupPanel::compareModules(int a, int b) {
  if (pending_ != Idle || a < 0 || b < 0 || a >= live_.size() || b >= live_.size() || a == b) return;
  table_->setRowCount(0);
  compared_ = {live_[a], live_[b]};
  start(CompareModules, QStringLiteral("Čte se konfigurace obou modulů…"));
  worker_->readImages(compared_);
}

void BackupPanel::addRow(const LineModule& m, const ByteDifference& d, const QString& note) {
  const int row = table_->rowCount();
  table_->insertRow(row);
  const QStringList cells = {LineModuleText(m), QString::number(d.address), ConfigByteLabel(d.address),
                             d.known ? ConfigByteValueText(d.address, d.module) : QStringLiteral("nepřečteno"),
                             ConfigByteValueText(d.address, d.wanted),
                             note.isEmpty() ? ByteNote(d.address) : note};
  for (int c = 0; c < cells.size(); ++c) table_->setItem(row, c, new QTableWidgetItem(cells[c]));
}

void BackupPanel::addNote(const LineModule& m, const QString& note) {
  const int row = table_->rowCount();
  table_->insertRow(row);
  table_->setItem(row, 0, new QTableWidgetItem(LineModuleText(m)));
  auto* item = new QTableWidgetItem(note);
  item->setForeground(QColor(0xB0, 0, 0));
  table_->setItem(row, 5, item);
}

void BackupPanel::imagesRead(const QVector<ModuleImage>& images, bool stopped) {
  const Pending what = pending_;
  if (what != Backup && what != CompareFile && what != CompareModules) return;
  QStringList failures;
  for (const ModuleImage& m : images)
    if (!m.ok()) failures << QStringLiteral("%1: %2").arg(LineModuleText(m.module), m.error);
  if (stopped) failures << QStringLiteral("zastaveno obsluhou");

  if (what == Backup) {
    // A module that does not answer is listed in the file as missing, and the others are
    // backed up; a stopped backup saves nothing, since the operator wanted it to end.
    QStringList missing;
    for (const ModuleImage& m : images)
      if (!m.ok()) missing << QStringLiteral("%1 (%2)").arg(LineModuleText(m.module), m.error);
    const qsizetype saved = images.size() - missing.size();
    if (stopped || images.size() != compared_.size() || saved == 0)
      return done(QStringLiteral("Záloha nebyla uložena, soubor zůstal beze změny. ") + failures.join(QStringLiteral("; ")), true);
    const LineFile file = LineBackup(images, QDateTime::currentDateTime());
    QString error;
    if (!SaveLineFile(backupPath_, file, error))
      return done(QStringLiteral("Zálohu nelze uložit do %1: %2").arg(backupPath_, error), true);
    openFile(backupPath_);
    return done(LineBackupText(saved, QStringLiteral("do ") + backupPath_, missing), !missing.isEmpty());
  }

  int differing = 0;
  if (what == CompareModules) {
    if (images.size() == 2 && images[0].ok() && images[1].ok()) {
      for (const ByteDifference& d : DifferingBytes(images[0].read.image, images[1].read.image, ImageAddresses())) {
        addRow(images[0].module, d);
        ++differing;
      }
    }
  } else {
    for (const ModuleImage& m : images) {
      if (!m.ok()) {
        addNote(m.module, QStringLiteral("modul nelze přečíst: ") + m.error);
        continue;
      }
      const ConfigImage* wanted = file_.image(m.module);
      if (ModuleTypeName(m.ident) != ModuleTypeName(m.module.ident))
        addNote(m.module, QStringLiteral("jiný modul: %1, v záloze %2").arg(m.ident, m.module.ident));
      for (const ByteDifference& d : DifferingBytes(m.read, *wanted, ImageAddresses())) {
        addRow(m.module, d);
        ++differing;
      }
    }
    for (const LineModule& m : live_)
      if (file_.image(m) == nullptr)
        addNote(m, file_.isMissing(m) ? QStringLiteral("modul při záloze neodpověděl, v záloze není")
                                      : QStringLiteral("modul linky není v záloze"));
  }
  if (!failures.isEmpty())
    return done(QStringLiteral("Porovnání neúplné: ") + failures.join(QStringLiteral("; ")), true);
  done(differing == 0 ? QStringLiteral("Konfigurace se shodují.") : QStringLiteral("Liší se %1 %2.").arg(differing).arg(CzechPlural(differing, "bajt", "bajty", "bajtů")), false);
}

void BackupPanel::addRefused(const LineModule& m, const RefusedByte& b) {
  const int row = table_->rowCount();
  table_->insertRow(row);
  const QStringList cells = {LineModuleText(m), QString::number(b.address), ConfigByteLabel(b.address), QString(),
                             ConfigByteValueText(b.address, b.value), QStringLiteral("odmítnuto: ") + b.text};
  for (int c = 0; c < cells.size(); ++c) table_->setItem(row, c, new QTableWidgetItem(cells[c]));
  table_->item(row, 5)->setForeground(QColor(0xB0, 0, 0));
}

bool BackupPanel::checkedJobs(QVector<RestoreJob>& jobs) {
  table_->setRowCount(0);
  jobs.clear();
  for (int i = 0; i < fileModules_->count(); ++i) {
    if (fileModules_->item(i)->checkState() != Qt::Checked) continue;
    const LineModule& m = file_.modules[i];
    const ConfigImage* image = file_.image(m);
    if (image == nullptr) continue;
    // A module of another type on the same address would take foreign settings.
    for (const LineModule& l : live_)
      if (l == m && !l.ident.isEmpty() && ModuleTypeName(l.ident) != ModuleTypeName(m.ident)) {
        done(QStringLiteral("%1: na lince je jiný modul (%2), v záloze %3; nic nezapsáno.").arg(LineModuleText(m), l.ident, m.ident),
             true);
        return false;
      }
    jobs.append(RestoreJob{m, *image, ImageSelection{lineSettings_->isChecked(), calibration_->isChecked()}});
  }
  if (jobs.isEmpty()) {
    done(QStringLiteral("Zaškrtněte moduly, které se mají obnovit."), true);
    return false;
  }
  // A value the settings windows would never write (a range byte other than 0 or 1, a baud
  // code above 8) is shown per module before anything is written, and then nothing is: the
  // operator unticks the module or mends the file. The worker and the shared restore refuse it
  // again, so no path writes it.
  QStringList refusedModules;
  for (const RestoreJob& job : jobs) {
    const std::vector<RefusedByte> refused = RefusedBytes(job.wanted, SelectedAddresses(job.selection));
    for (const RefusedByte& b : refused) addRefused(job.module, b);
    if (!refused.empty()) refusedModules << LineModuleText(job.module);
  }
  if (refusedModules.isEmpty()) return true;
  done(QStringLiteral("Obnova odmítnuta, nic nezapsáno: záloha modulů %1 obsahuje hodnotu, kterou nástroj nikdy "
                      "nezapisuje (viz tabulka). Zrušte jejich zaškrtnutí nebo použijte jinou zálohu.")
           .arg(refusedModules.join(QStringLiteral("; "))),
       true);
  return false;
}

void BackupPanel::restoreChecked() {
  if (pending_ != Idle) return;
  QVector<RestoreJob> jobs;
  if (!checkedJobs(jobs)) return;
  compared_.clear();
  for (const RestoreJob& job : jobs) compared_.append(job.module);
  start(Restore, QStringLiteral("Obnova: %1…").arg(LineModulesText(jobs.size())));
  worker_->restore(jobs);
}

void BackupPanel::restored(const QVector<RestoreReport>& reports, bool stopped) {
  if (pending_ != Restore) return;
  QStringList lines;
  bool failure = stopped;
  for (const RestoreReport& r : reports) {
    lines << QStringLiteral("%1: %2").arg(LineModuleText(r.module), r.text);
    failure = failure || !r.ok();
    for (const ByteDifference& d : r.result.differences) addRow(r.module, d, QStringLiteral("po obnově se liší"));
    for (const RefusedByte& b : r.result.refused) addRefused(r.module, b);
  }
  for (qsizetype i = reports.size(); i < compared_.size(); ++i)
    lines << QStringLiteral("%1: nezačato, beze změny").arg(LineModuleText(compared_[i]));
  if (stopped) lines << QStringLiteral("Obnova zastavena obsluhou.");
  // The modules' lines follow as sentences of their own: "Obnova dokončena. Adresa 31, …".
  QString said = lines.join(QStringLiteral("; "));
  if (!said.isEmpty()) said[0] = said[0].toUpper();
  done((failure ? QStringLiteral("Obnova NEBYLA úspěšná. ") : QStringLiteral("Obnova dokončena. ")) + said, failure);
}
