#include "line/settings/line_settings_window.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/config/setting_labels.h"
#include "base/text/baud.h"
#include "base/text/czech_plural.h"
#include "ui/question.h"
#include "ui/return_key.h"
#include "line/settings/settings_foot.h"
#include "ui/status_bar.h"

namespace {

constexpr int ModuleRole = Qt::UserRole + 1;

}  // namespace

LineSettingsWindow::LineSettingsWindow(LineWorker* worker, QWidget* parent)
    : QWidget(parent, Qt::Window), run_(new SettingsRun(worker, this)) {
  setObjectName(QStringLiteral("LineSettingsWindow"));
  setWindowTitle(QStringLiteral("Hromadné nastavení modulů"));
  ask_ = [this](const QString& text) { return AskYesNo(this, windowTitle(), text); };
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;

  auto* left = new QVBoxLayout;
  auto* modulesLabel = new QLabel(QStringLiteral("&Moduly"), this);
  modules_ = new QListWidget(this);
  modules_->setObjectName(QStringLiteral("ModuleList"));
  modules_->setFixedWidth(300);
  modulesLabel->setBuddy(modules_);
  left->addWidget(modulesLabel);
  left->addWidget(modules_, 1);
  top->addLayout(left);

  auto* right = new QVBoxLayout;
  auto* form = new QFormLayout;
  kind_ = new QComboBox(this);
  kind_->setObjectName(QStringLiteral("ChoiceKind"));
  kind_->addItems(SettingChoiceNames());
  form->addRow(QStringLiteral("&Co nastavit"), kind_);
  auto* channels = new QHBoxLayout;
  first_ = new QSpinBox(this);
  first_->setObjectName(QStringLiteral("FirstChannel"));
  last_ = new QSpinBox(this);
  last_->setObjectName(QStringLiteral("LastChannel"));
  for (QSpinBox* s : {first_, last_}) s->setRange(0, 31);
  last_->setValue(7);
  auto* toLabel = new QLabel(QStringLiteral("&do"), this);
  toLabel->setBuddy(last_);
  channels->addWidget(first_);
  channels->addWidget(toLabel);
  channels->addWidget(last_);
  channels->addStretch(1);
  form->addRow(QStringLiteral("Kanály &od"), channels);
  qobject_cast<QLabel*>(form->labelForField(channels))->setBuddy(first_);
  value_ = new QComboBox(this);
  value_->setObjectName(QStringLiteral("ChoiceValue"));
  form->addRow(QStringLiteral("&Hodnota"), value_);
  right->addLayout(form);
  auto* buttons = new QHBoxLayout;
  previewButton_ = new QPushButton(QStringLiteral("&Náhled"), this);
  previewButton_->setObjectName(QStringLiteral("PreviewButton"));
  write_ = new QPushButton(QStringLiteral("&Zapsat…"), this);
  write_->setObjectName(QStringLiteral("WriteButton"));
  undo_ = new QPushButton(QStringLiteral("&Vrátit změnu…"), this);
  undo_->setObjectName(QStringLiteral("UndoButton"));
  auto* close = new QPushButton(QStringLiteral("Zavří&t"), this);
  close->setObjectName(QStringLiteral("CloseButton"));
  for (QPushButton* b : {previewButton_, write_, undo_}) buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(close);
  right->addLayout(buttons);

  table_ = new QTableWidget(0, ColumnCount, this);
  table_->setObjectName(QStringLiteral("PreviewTable"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Modul"), QStringLiteral("Nastavení"), QStringLiteral("Před"),
                                     QStringLiteral("Po"), QStringLiteral("Výsledek")});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(ModuleColumn, 110);
  table_->setColumnWidth(SettingColumn, 160);
  table_->setColumnWidth(BeforeColumn, 170);
  table_->setColumnWidth(AfterColumn, 190);
  right->addWidget(table_, 1);
  top->addLayout(right, 1);
  layout->addLayout(top, 1);
  foot_.emplace(this, layout);

  connect(kind_, &QComboBox::currentIndexChanged, this, &LineSettingsWindow::choiceKindChanged);
  for (QSpinBox* s : {first_, last_}) connect(s, &QSpinBox::valueChanged, this, &LineSettingsWindow::dropPreview);
  connect(value_, &QComboBox::currentIndexChanged, this, &LineSettingsWindow::dropPreview);
  connect(modules_, &QListWidget::itemChanged, this, &LineSettingsWindow::dropPreview);
  connect(previewButton_, &QPushButton::clicked, this, &LineSettingsWindow::showPreview);
  connect(write_, &QPushButton::clicked, this, &LineSettingsWindow::writeModules);
  connect(undo_, &QPushButton::clicked, this, &LineSettingsWindow::undoChange);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
  connect(run_, &SettingsRun::status, this,
          [this](const LineModule& m, const QString& text) { foot_->status->setText(QStringLiteral(" Modul %1:%2").arg(ModulePlace(m), text)); });
  connect(run_, &SettingsRun::readDone, this, &LineSettingsWindow::readDone);
  connect(run_, &SettingsRun::written, this, &LineSettingsWindow::written);
  connect(run_, &SettingsRun::undone, this, &LineSettingsWindow::undone);
  KeepReturnFromButtons(this);
  choiceKindChanged();
  resize(1100, 560);
}

QString LineSettingsWindow::message() const { return foot_->message->text(); }

void LineSettingsWindow::setModules(const QVector<LineModule>& line, const QVector<LineModule>& ticked) {
  if (line == line_ && ticked == this->ticked()) return;  // the preview still holds
  line_ = line;
  const QSignalBlocker quiet(modules_);
  modules_->clear();
  for (int i = 0; i < line.size(); ++i) {
    const LineModule& m = line[i];
    auto* item = new QListWidgetItem(QStringLiteral("Modul %1%2").arg(ModulePlace(m), m.ident.isEmpty() ? QString() : QStringLiteral(" – ") + m.ident.simplified()),
                                     modules_);
    item->setData(ModuleRole, i);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(ticked.contains(m) ? Qt::Checked : Qt::Unchecked);
  }
  dropPreview();
}

QVector<LineModule> LineSettingsWindow::ticked() const {
  QVector<LineModule> chosen;
  for (int i = 0; i < modules_->count(); ++i)
    if (modules_->item(i)->checkState() == Qt::Checked) chosen.append(line_.value(modules_->item(i)->data(ModuleRole).toInt()));
  return chosen;
}

void LineSettingsWindow::moved(const LineModule& from, const LineModule& to) {
  run_->moved(from, to);
  const QVector<LineModule> chosen = ticked();
  QVector<LineModule> line = line_;
  for (LineModule& m : line)
    if (m == from) m = to;
  QVector<LineModule> still;
  for (const LineModule& m : chosen) still.append(m == from ? to : m);
  setModules(line, still);
}

void LineSettingsWindow::setChoice(const SettingChoice& c) {
  kind_->setCurrentIndex(c.kind);
  first_->setValue(c.first);
  last_->setValue(c.last);
  value_->setCurrentIndex(c.value);
}

SettingChoice LineSettingsWindow::choice() const {
  SettingChoice c;
  c.kind = SettingChoice::Kind(std::max(0, kind_->currentIndex()));
  c.first = std::min(first_->value(), last_->value());
  c.last = std::max(first_->value(), last_->value());
  c.value = std::max(0, value_->currentIndex());
  return c;
}

void LineSettingsWindow::choiceKindChanged() {
  const auto kind = SettingChoice::Kind(std::max(0, kind_->currentIndex()));
  const QSignalBlocker quiet(value_);
  value_->clear();
  value_->addItems(SettingChoiceValues(kind));
  first_->setEnabled(kind != SettingChoice::AinRange);
  last_->setEnabled(kind != SettingChoice::AinRange);
  dropPreview();
}

void LineSettingsWindow::dropPreview() {
  wishes_.clear();
  table_->setRowCount(0);
  updateButtons();
}

void LineSettingsWindow::updateButtons() {
  const bool idle = !run_->busy();
  previewButton_->setEnabled(idle);
  write_->setEnabled(idle && !wishes_.isEmpty());
  undo_->setEnabled(idle && !run_->backupPath().isEmpty());
}

void LineSettingsWindow::addRow(const LineModule& module, const QString& setting, const QString& before, const QString& after,
                                const QString& result) {
  const int row = table_->rowCount();
  table_->insertRow(row);
  const QString texts[] = {ModulePlace(module), setting, before, after, result};
  for (int c = 0; c < ColumnCount; ++c) {
    auto* item = new QTableWidgetItem(texts[c]);
    item->setToolTip(texts[c]);
    item->setData(ModuleRole, ModuleKey(module));
    table_->setItem(row, c, item);
  }
}

void LineSettingsWindow::showPreview() {
  if (run_->busy()) return;
  const QVector<LineModule> chosen = ticked();
  if (chosen.isEmpty()) return foot_->setMessage(QStringLiteral("Zaškrtněte aspoň jeden modul."), true);
  dropPreview();
  previewed_ = choice();
  foot_->setMessage(QStringLiteral("Čte se nastavení %1…").arg(CzechCount(chosen.size(), "modulu", "modulů", "modulů")));
  run_->read(chosen);
  updateButtons();
}

void LineSettingsWindow::readDone(const QVector<ModuleSettings>& settings) {
  int unreadable = 0;
  for (const ModuleSettings& s : settings) {
    if (!s.ok()) {
      ++unreadable;
      addRow(s.module, QString(), QString(), QString(), QStringLiteral("nelze přečíst, nezapíše se:") + s.text);
      continue;
    }
    const ConfigImage wanted = ApplyChoice(previewed_, s.read.image);
    const std::vector<ConfigByte> changes = ChangedSettings(s.read.image, wanted);
    if (changes.empty()) {
      addRow(s.module, QString(), QString(), QString(), QStringLiteral("beze změny"));
      continue;
    }
    for (const ConfigByte& b : changes)
      addRow(s.module, ConfigByteLabel(b.address), ConfigByteValueText(b.address, s.read.image.at(b.address)),
             ConfigByteValueText(b.address, b.value));
    wishes_.append(SettingsWish{s.module, s.read.image, wanted});
  }
  foot_->status->setText(QStringLiteral(" "));
  QString text = QStringLiteral("%1: změní se %2.")
                     .arg(SettingChoiceText(previewed_), CzechCount(wishes_.size(), "modul", "moduly", "modulů"));
  if (unreadable > 0) text += QStringLiteral(" Nelze přečíst: %1.").arg(CzechCount(unreadable, "modul", "moduly", "modulů"));
  foot_->setMessage(text, unreadable > 0);
  updateButtons();
}

void LineSettingsWindow::writeModules() {
  if (run_->busy() || wishes_.isEmpty()) return;
  if (!ask_(QStringLiteral("Zapsat „%1“ do %2 podle náhledu? Před prvním zápisem se moduly zálohují.")
                .arg(SettingChoiceText(previewed_), CzechCount(wishes_.size(), "modulu", "modulů", "modulů"))))
    return;
  foot_->setMessage(run_->backupPath().isEmpty() ? QStringLiteral("Moduly se zálohují a zapisují…") : QStringLiteral("Zapisuje se…"));
  run_->write(wishes_);
  updateButtons();
}

void LineSettingsWindow::written(const QVector<ChangeReport>& reports, const QString& failure) {
  if (!failure.isEmpty()) {
    foot_->setMessage(failure, true);
    return updateButtons();
  }
  int good = 0;
  for (const ChangeReport& r : reports) {
    good += r.ok();
    for (int row = 0; row < table_->rowCount(); ++row)
      if (table_->item(row, ResultColumn)->data(ModuleRole).toInt() == ModuleKey(r.module)) {
        table_->item(row, ResultColumn)->setText(r.text.trimmed());
        table_->item(row, ResultColumn)->setToolTip(r.text.trimmed());
        if (!r.ok()) table_->item(row, ResultColumn)->setForeground(QColor(0xb0, 0, 0));
      }
  }
  // Written once: another write needs a new preview of what the modules now hold.
  wishes_.clear();
  foot_->status->setText(QStringLiteral(" "));
  foot_->setMessage(QStringLiteral("Zapsáno do %1 z %2. Záloha před první změnou: %3")
                        .arg(CzechCount(good, "modulu", "modulů", "modulů"))
                        .arg(reports.size())
                        .arg(run_->backupPath()),
                    good < reports.size());
  updateButtons();
}

void LineSettingsWindow::undoChange() {
  if (run_->busy() || run_->backupPath().isEmpty()) return;
  if (!ask_(UndoQuestion(run_->backup(), run_->backupPath()))) return;
  run_->undo();
  updateButtons();
}

void LineSettingsWindow::undone(const QVector<RestoreReport>& reports, bool stopped) {
  bool failure = false;
  const QString text = UndoneText(reports, stopped, failure);
  dropPreview();
  foot_->status->setText(QStringLiteral(" "));
  foot_->setMessage(text, failure);
  updateButtons();
}
