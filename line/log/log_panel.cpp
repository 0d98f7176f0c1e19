#include "line/log/log_panel.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include "base/text/baud.h"
#include "line/common/elided_label.h"
#include "line/common/save_path.h"
#include "line/common/workbench_settings.h"

LogPanel::LogPanel(CsvLog* log, QWidget* parent) : QWidget(parent), log_(log) {
  setObjectName(QStringLiteral("LogPanel"));
  auto* layout = new QHBoxLayout(this);
  auto* left = new QFormLayout;
  auto* folderRow = new QHBoxLayout;
  // The documents folder the desktop names, made at the first log; else the home folder.
  folder_ = new QLineEdit(DocumentsFolder(), this);
  folder_->setObjectName(QStringLiteral("LogFolder"));
  browse_ = new QPushButton(QStringLiteral("&Vybrat…"), this);
  browse_->setObjectName(QStringLiteral("LogBrowse"));
  folderRow->addWidget(folder_, 1);
  folderRow->addWidget(browse_);
  left->addRow(QStringLiteral("Složka zázna&mu"), folderRow);
  qobject_cast<QLabel*>(left->labelForField(folderRow))->setBuddy(folder_);
  auto* values = new QHBoxLayout;
  ain0_ = new QCheckBox(QStringLiteral("AIN &0"), this);
  ain0_->setObjectName(QStringLiteral("LogAin0"));
  ain0_->setChecked(true);
  inputs_ = new QCheckBox(QStringLiteral("vstupy DI&N"), this);
  inputs_->setObjectName(QStringLiteral("LogInputs"));
  status_ = new QCheckBox(QStringLiteral("Status &registr"), this);
  status_->setObjectName(QStringLiteral("LogStatus"));
  values->addWidget(ain0_);
  values->addWidget(inputs_);
  values->addWidget(status_);
  values->addStretch(1);
  left->addRow(QStringLiteral("Hodnoty"), values);
  maxMb_ = new QSpinBox(this);
  maxMb_->setObjectName(QStringLiteral("LogMaxMb"));
  maxMb_->setRange(1, 2000);
  maxMb_->setValue(10);
  maxMb_->setSuffix(QStringLiteral(" MB"));
  maxMb_->setMaximumWidth(120);
  left->addRow(QStringLiteral("Nový soubor každý den a &po"), maxMb_);
  auto* buttons = new QHBoxLayout;
  start_ = new QPushButton(QStringLiteral("Spustit zá&znam"), this);
  start_->setObjectName(QStringLiteral("LogStart"));
  stop_ = new QPushButton(QStringLiteral("Zast&avit záznam"), this);
  stop_->setObjectName(QStringLiteral("LogStop"));
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addStretch(1);
  left->addRow(buttons);
  state_ = new QLabel(this);
  state_->setObjectName(QStringLiteral("LogState"));
  KeepWrappedLabelNarrow(state_);
  left->addRow(state_);
  auto* leftColumn = new QVBoxLayout;
  leftColumn->addLayout(left);
  leftColumn->addStretch(1);
  layout->addLayout(leftColumn, 2);

  auto* right = new QVBoxLayout;
  auto* modulesLabel = new QLabel(QStringLiteral("Zaznam&enávané moduly"), this);
  right->addWidget(modulesLabel);
  modules_ = new QListWidget(this);
  modulesLabel->setBuddy(modules_);
  modules_->setObjectName(QStringLiteral("LogModules"));
  right->addWidget(modules_, 1);
  layout->addLayout(right, 1);

  connect(browse_, &QPushButton::clicked, this, [this] {
    const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Složka záznamu"), folder_->text());
    if (!dir.isEmpty()) folder_->setText(dir);
  });
  restoreChoice();
  for (QCheckBox* box : {ain0_, inputs_, status_}) connect(box, &QCheckBox::toggled, this, &LogPanel::keepChoice);
  connect(modules_, &QListWidget::itemChanged, this, &LogPanel::keepChoice);
  connect(folder_, &QLineEdit::textChanged, this, &LogPanel::choiceChanged);
  connect(start_, &QPushButton::clicked, this, &LogPanel::startLog);
  connect(stop_, &QPushButton::clicked, this, &LogPanel::stopLog);
  refresh();
}

void LogPanel::setFolder(const QString& folder) { folder_->setText(folder); }

void LogPanel::restoreChoice() {
  const QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
  ain0_->setChecked(stored.value(QStringLiteral("zaznam/ain0"), true).toBool());
  inputs_->setChecked(stored.value(QStringLiteral("zaznam/vstupy"), false).toBool());
  status_->setChecked(stored.value(QStringLiteral("zaznam/stav"), false).toBool());
  for (const QVariant& key : stored.value(QStringLiteral("zaznam/moduly")).toList()) chosen_.insert(key.toInt());
}

void LogPanel::choiceChanged() {
  // What the operator was told to choose is being chosen.
  if (choiceFailure_.isEmpty()) return;
  choiceFailure_.clear();
  refresh();
  emit stateChanged();
}

void LogPanel::keepChoice() {
  if (filling_) return;
  choiceChanged();
  for (int i = 0; i < modules_->count(); ++i) {
    const int key = modules_->item(i)->data(Qt::UserRole).toInt();
    if (modules_->item(i)->checkState() == Qt::Checked)
      chosen_.insert(key);
    else
      chosen_.remove(key);
  }
  QList<int> keys = chosen_.values();
  std::sort(keys.begin(), keys.end());
  QVariantList list;
  for (int key : keys) list.append(key);
  QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
  stored.setValue(QStringLiteral("zaznam/ain0"), ain0_->isChecked());
  stored.setValue(QStringLiteral("zaznam/vstupy"), inputs_->isChecked());
  stored.setValue(QStringLiteral("zaznam/stav"), status_->isChecked());
  stored.setValue(QStringLiteral("zaznam/moduly"), list);
  QString error;
  if (!SaveWorkbenchSettings(stored, error)) {
    failure_ = QStringLiteral("Volbu záznamu nelze uložit: ") + error;
    refresh();
  }
}

void LogPanel::setModules(const QVector<LineModule>& modules) {
  // The choice outlives the list: a module that comes back on the line is logged again.
  filling_ = true;
  modules_->clear();
  for (const LineModule& m : modules) {
    const int key = ModuleKey(m.address, m.baudCode);
    auto* item = new QListWidgetItem(
        QStringLiteral("adresa %1, %2 Bd  %3").arg(m.address).arg(BaudCodeToRate(m.baudCode)).arg(m.ident), modules_);
    item->setData(Qt::UserRole, key);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(chosen_.contains(key) ? Qt::Checked : Qt::Unchecked);
  }
  filling_ = false;
}

bool LogPanel::startLog() {
  LogChoice choice;
  choice.folder = folder_->text().trimmed();
  choice.ain0 = ain0_->isChecked();
  choice.inputs = inputs_->isChecked();
  choice.statusRegister = status_->isChecked();
  choice.maxBytes = qint64(maxMb_->value()) << 20;
  choice.lineName = WorkbenchLineName();
  for (int i = 0; i < modules_->count(); ++i)
    if (modules_->item(i)->checkState() == Qt::Checked) choice.modules.insert(modules_->item(i)->data(Qt::UserRole).toInt());
  failure_.clear();
  choiceFailure_.clear();
  if (choice.modules.isEmpty())
    choiceFailure_ = QStringLiteral("Vyberte aspoň jeden modul.");
  else if (!choice.ain0 && !choice.inputs && !choice.statusRegister)
    choiceFailure_ = QStringLiteral("Vyberte aspoň jednu hodnotu.");
  else if (choice.folder.isEmpty())
    choiceFailure_ = QStringLiteral("Zadejte složku záznamu.");
  else
    log_->start(choice, failure_);
  refresh();
  emit stateChanged();
  return log_->active();
}

void LogPanel::stopLog() {
  log_->stop();
  refresh();
  emit stateChanged();
}

void LogPanel::logFailed(const QString& error) {
  failure_ = QStringLiteral("Záznam zastaven: ") + error;
  refresh();
  emit stateChanged();
}

QString LogPanel::summary() const {
  const QString failure = !choiceFailure_.isEmpty() ? choiceFailure_ : failure_;
  if (!log_->active()) return failure.isEmpty() ? QStringLiteral(" Záznam neběží") : QLatin1Char(' ') + failure;
  QStringList values;
  if (log_->choice().ain0) values << QStringLiteral("AIN 0");
  if (log_->choice().inputs) values << QStringLiteral("DIN");
  if (log_->choice().statusRegister) values << QStringLiteral("Status registr");
  QList<int> keys = log_->choice().modules.values();
  std::sort(keys.begin(), keys.end());
  QStringList addresses;
  for (int key : keys) addresses << QString::number(key / 16);
  return QStringLiteral(" Záznam: %1 z modulů %2 do %3")
      .arg(values.join(QStringLiteral(", ")), addresses.join(QStringLiteral(", ")), log_->fileName());
}

void LogPanel::refresh() {
  const bool on = log_->active();
  start_->setEnabled(!on);
  stop_->setEnabled(on);
  for (QWidget* w : {static_cast<QWidget*>(folder_), static_cast<QWidget*>(browse_), static_cast<QWidget*>(ain0_), static_cast<QWidget*>(inputs_),
                     static_cast<QWidget*>(status_), static_cast<QWidget*>(maxMb_), static_cast<QWidget*>(modules_)})
    w->setEnabled(!on);
  state_->setText(summary().trimmed());
  state_->setToolTip(state_->text());
  state_->setStyleSheet(!on && !(failure_.isEmpty() && choiceFailure_.isEmpty()) ? QStringLiteral("color: #b00000; font-weight: bold")
                                                                                 : QString());
}
