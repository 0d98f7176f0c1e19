#include "line/calibration/calibration_history.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include "line/calibration/calibration_certificate.h"
#include "line/common/save_path.h"
#include "line/common/workbench_settings.h"

namespace {

QString Red(const QString& text) {
  return QStringLiteral("<span style='color:#b00000'>%1</span>").arg(text.toHtmlEscaped());
}

// Whole, signed and signed by a key trusted here: it gives a certificate.
bool Certified(const CalibrationRecordEntry& e) { return e.sound && e.refusal.isEmpty(); }

}  // namespace

CalibrationHistory::CalibrationHistory(const LineModule& module, QWidget* parent)
    : QGroupBox(QStringLiteral("Kalibrace"), parent), module_(module), folder_(CalibrationRecordFolder()) {
  setObjectName(QStringLiteral("CalibrationHistory"));
  viewer_ = [](const QString& pdf) { return QDesktopServices::openUrl(QUrl::fromLocalFile(pdf)); };
  auto* grid = new QGridLayout(this);
  auto* tagLabel = new QLabel(QStringLiteral("Ozn&ačení"), this);
  tag_ = new QLineEdit(this);
  tag_->setObjectName(QStringLiteral("CalibrationTag"));
  tag_->setPlaceholderText(QStringLiteral("označení nebo výrobní číslo"));
  tagLabel->setBuddy(tag_);
  calibrate_ = new QPushButton(QStringLiteral("&Kalibrace…"), this);
  calibrate_->setObjectName(QStringLiteral("Calibrate"));
  grid->addWidget(tagLabel, 0, 0);
  grid->addWidget(tag_, 0, 1);
  grid->addWidget(calibrate_, 1, 0, 1, 2);
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("CalibrationRecords"));
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setTextElideMode(Qt::ElideRight);
  grid->addWidget(list_, 2, 0, 1, 2);
  open_ = new QPushButton(QStringLiteral("Otevřít pro&tokol"), this);
  open_->setObjectName(QStringLiteral("OpenCertificate"));
  save_ = new QPushButton(QStringLiteral("Uložit &jako PDF…"), this);
  save_->setObjectName(QStringLiteral("SaveCertificate"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(open_);
  buttons->addWidget(save_);
  grid->addLayout(buttons, 3, 0, 1, 2);
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("CalibrationMessage"));
  message_->setWordWrap(true);
  grid->addWidget(message_, 4, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(2, 1);

  tag_->setText(QSettings(WorkbenchSettingsPath(), QSettings::IniFormat).value(settingsKey()).toString());
  connect(tag_, &QLineEdit::editingFinished, this, [this] {
    keepTag();
    refresh();
  });
  connect(calibrate_, &QPushButton::clicked, this, &CalibrationHistory::calibrateRequested);
  connect(open_, &QPushButton::clicked, this, [this] { openCertificate(list_->currentRow()); });
  connect(save_, &QPushButton::clicked, this, &CalibrationHistory::saveCertificate);
  connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) { openCertificate(list_->row(item)); });
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
    const bool certified = row >= 0 && row < entries_.size() && Certified(entries_[row]);
    open_->setEnabled(certified);
    save_->setEnabled(certified);
  });
  refresh();
}

QString CalibrationHistory::settingsKey() const {
  return QStringLiteral("kalibrace/oznaceni-%1-%2").arg(module_.address).arg(module_.baudCode);
}

QString CalibrationHistory::tag() const { return tag_->text().trimmed(); }

void CalibrationHistory::setTag(const QString& tag) {
  tag_->setText(tag);
  keepTag();
  refresh();
}

void CalibrationHistory::setRecordFolder(const QString& folder) {
  folder_ = folder;
  refresh();
}

QString CalibrationHistory::message() const { return message_->text(); }

void CalibrationHistory::setMessage(const QString& text, bool failure) { message_->setText(failure ? Red(text) : text.toHtmlEscaped()); }

void CalibrationHistory::keepTag() {
  QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
  if (stored.value(settingsKey()).toString() == tag()) return;
  stored.setValue(settingsKey(), tag());
  QString error;
  if (!SaveWorkbenchSettings(stored, error)) setMessage(QStringLiteral("Označení modulu nelze uložit: ") + error, true);
}

void CalibrationHistory::refresh() {
  list_->clear();
  entries_.clear();
  if (!tag().isEmpty() && !folder_.isEmpty()) entries_ = ListCalibrationRecords(folder_, tag());
  const QLocale locale;
  for (const CalibrationRecordEntry& e : entries_) {
    const QString when = locale.toString(e.started.toLocalTime(), QStringLiteral("d. M. yyyy HH:mm"));
    QString text;
    if (e.sound) {
      const CalibrationRecord& r = e.record;
      text = QStringLiteral("%1, %2\n%3 – %4").arg(when, r.range == 1 ? QStringLiteral("proudový") : QStringLiteral("napěťový"),
                                                    EndText(r.end), VerdictText(r.verdict()));
      if (!e.refusal.isEmpty())
        text += r.signature.present() ? QStringLiteral(" – podepsán neznámým klíčem") : QStringLiteral(" – nepodepsán");
    } else {
      text = QStringLiteral("%1\npoškozený nebo padělaný záznam").arg(when);
    }
    auto* item = new QListWidgetItem(text, list_);
    const QString why = e.sound ? e.refusal : e.error;
    item->setToolTip(QDir::toNativeSeparators(e.path) + (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
    if (!Certified(e)) item->setForeground(QColor(0xb0, 0, 0));
  }
  if (!entries_.isEmpty()) list_->setCurrentRow(0);
  open_->setEnabled(!entries_.isEmpty() && Certified(entries_[0]));
  save_->setEnabled(open_->isEnabled());
  calibrate_->setEnabled(true);
  if (tag().isEmpty())
    setMessage(QStringLiteral("Záznamy kalibrací se hledají podle označení modulu."), false);
  else if (entries_.isEmpty())
    setMessage(QStringLiteral("Modul s tímto označením zatím nemá žádný záznam kalibrace."), false);
  else
    setMessage(QString(), false);
}

bool CalibrationHistory::openCertificate(int row) {
  if (row < 0 || row >= entries_.size()) return false;
  const CalibrationRecordEntry& e = entries_[row];
  if (!e.sound) {
    setMessage(QStringLiteral("Záznam je poškozený nebo padělaný (%1); protokol z něj vydat nelze.").arg(e.error), true);
    return false;
  }
  if (!e.refusal.isEmpty()) {
    setMessage(QStringLiteral("Protokol nevznikne: %1").arg(e.refusal), true);
    return false;
  }
  const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation)).filePath(QStringLiteral("qx510-kalibrace"));
  QDir().mkpath(folder);
  const QString pdf = QDir(folder).filePath(CertificateNumber(e.record) + QStringLiteral(".pdf"));
  QString error;
  if (!WriteCalibrationCertificate(e.record, pdf, error)) {
    setMessage(QStringLiteral("Protokol nelze vytvořit: %1").arg(error), true);
    return false;
  }
  if (!viewer_(pdf)) {
    setMessage(QStringLiteral("Protokol %1 nelze otevřít; prohlížeč PDF se nespustil.").arg(QDir::toNativeSeparators(pdf)), true);
    return false;
  }
  setMessage(QString(), false);
  return true;
}

void CalibrationHistory::saveCertificate() {
  const int row = list_->currentRow();
  if (row < 0 || row >= entries_.size() || !Certified(entries_[row])) return;
  const CalibrationRecord& r = entries_[row].record;
  const QString path = AskSavePath(this, QStringLiteral("Kalibrační protokol"),
                                   QDir(DocumentsFolder()).filePath(CertificateNumber(r) + QStringLiteral(".pdf")),
                                   QStringLiteral("Protokol PDF (*.pdf)"), QStringLiteral("pdf"));
  if (path.isEmpty()) return;
  QString error;
  if (!WriteCalibrationCertificate(r, path, error))
    setMessage(QStringLiteral("Protokol nelze zapsat do %1: %2").arg(QDir::toNativeSeparators(path), error), true);
  else
    setMessage(QStringLiteral("Protokol uložen: %1").arg(QDir::toNativeSeparators(path)), false);
}
