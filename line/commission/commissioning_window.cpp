#include "line/commission/commissioning_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/commission/commission_template.h"
#include "base/text/baud.h"
#include "line/commission/commission_run.h"
#include "line/commission/power_cycle_foot.h"
#include "line/common/save_path.h"
#include "line/common/workbench_settings.h"
#include "ui/return_key.h"

namespace {

const QString Title = QStringLiteral("Uvedení do provozu");
const QString DeliveryAddressKey = QStringLiteral("uvedeni/dodaci_adresa");
const QString DeliveryRateKey = QStringLiteral("uvedeni/dodaci_rychlost");
const QString InService = QStringLiteral("uveden do provozu");

QPushButton* Button(const QString& text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  return b;
}

}  // namespace

CommissioningWindow::CommissioningWindow(LineWorker* worker, QWidget* parent)
    : QWidget(parent, Qt::Window), run_(new CommissionRun(worker, this)) {
  setWindowTitle(Title);
  auto* layout = new QVBoxLayout(this);

  auto* top = new QHBoxLayout;
  auto* deliveryBox = new QGroupBox(QStringLiteral("Nové moduly přicházejí na (nastaví se jednou)"), this);
  auto* deliveryForm = new QFormLayout(deliveryBox);
  deliveryAddress_ = new QSpinBox(deliveryBox);
  deliveryAddress_->setObjectName(QStringLiteral("DeliveryAddress"));
  deliveryAddress_->setRange(0, 255);
  deliveryRate_ = new QComboBox(deliveryBox);
  deliveryRate_->setObjectName(QStringLiteral("DeliveryRate"));
  deliveryRate_->addItems(BaudRateItems());
  const QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
  deliveryAddress_->setValue(stored.value(DeliveryAddressKey, 0).toInt());
  deliveryRate_->setCurrentIndex(std::clamp(stored.value(DeliveryRateKey, 4).toInt(), 0, BaudCodeCount - 1));
  deliveryForm->addRow(QStringLiteral("&Adresa"), deliveryAddress_);
  deliveryForm->addRow(QStringLiteral("R&ychlost"), deliveryRate_);
  top->addWidget(deliveryBox);

  auto* templateBox = new QGroupBox(QStringLiteral("Vzorová konfigurace (mimo adresu, rychlost a kalibraci)"), this);
  auto* templateLayout = new QHBoxLayout(templateBox);
  auto* templateLabel = new QLabel(QStringLiteral("&Vzor"), templateBox);
  template_ = new QComboBox(templateBox);
  template_->setObjectName(QStringLiteral("Template"));
  template_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  template_->setMinimumContentsLength(28);
  templateLabel->setBuddy(template_);
  auto* templateFile = Button(QStringLiteral("Ze zá&lohy…"), "TemplateFile", templateBox);
  templateLayout->addWidget(templateLabel);
  templateLayout->addWidget(template_, 1);
  templateLayout->addWidget(templateFile);
  top->addWidget(templateBox, 1);
  layout->addLayout(top);

  auto* middle = new QHBoxLayout;
  auto* planBox = new QGroupBox(QStringLiteral("Plán: moduly k uvedení do provozu"), this);
  auto* planLayout = new QVBoxLayout(planBox);
  plan_ = new QTableWidget(0, PlanColumnCount, planBox);
  plan_->setObjectName(QStringLiteral("Plan"));
  plan_->setHorizontalHeaderLabels({QStringLiteral("Adresa"), QStringLiteral("Rychlost [Bd]"), QStringLiteral("Označení"),
                                    QStringLiteral("Stav")});
  plan_->horizontalHeader()->setSectionResizeMode(StateColumn, QHeaderView::Stretch);
  plan_->verticalHeader()->hide();
  planLayout->addWidget(plan_);
  auto* planButtons = new QHBoxLayout;
  auto* addRow = Button(QStringLiteral("Při&dat řádek"), "AddPlanRow", planBox);
  auto* removeRow = Button(QStringLiteral("&Odebrat řádek"), "RemovePlanRow", planBox);
  planButtons->addWidget(addRow);
  planButtons->addWidget(removeRow);
  planButtons->addStretch(1);
  planLayout->addLayout(planButtons);
  middle->addWidget(planBox, 2);

  auto* stepsBox = new QGroupBox(QStringLiteral("Kroky modulu"), this);
  auto* stepsLayout = new QVBoxLayout(stepsBox);
  steps_ = new QTableWidget(CommissionStepCount, 2, stepsBox);
  steps_->setObjectName(QStringLiteral("Steps"));
  steps_->setHorizontalHeaderLabels({QStringLiteral("Krok"), QStringLiteral("Výsledek")});
  steps_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  steps_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  steps_->verticalHeader()->hide();
  steps_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  steps_->setWordWrap(true);
  for (int s = 0; s < CommissionStepCount; ++s) {
    steps_->setItem(s, 0, new QTableWidgetItem(CommissionStepName(CommissionStep(s))));
    steps_->setItem(s, 1, new QTableWidgetItem());
  }
  stepsLayout->addWidget(steps_);
  middle->addWidget(stepsBox, 3);
  layout->addLayout(middle, 1);

  foot_ = new PowerCycleFoot(run_, this, layout, QStringLiteral("&Napájení přepnuto"), QStringLiteral("&Zrušit"));

  auto* buttons = new QHBoxLayout;
  start_ = Button(QStringLiteral("&Uvést další modul"), "StartNext", this);
  retry_ = Button(QStringLiteral("Zopakovat &krok"), "RetryStep", this);
  saveProtocol_ = Button(QStringLiteral("Uložit &protokol…"), "SaveProtocol", this);
  auto* close = Button(QStringLiteral("Zavří&t"), "Close", this);
  buttons->addWidget(start_);
  buttons->addWidget(retry_);
  buttons->addStretch(1);
  buttons->addWidget(saveProtocol_);
  buttons->addWidget(close);
  layout->addLayout(buttons);

  connect(templateFile, &QPushButton::clicked, this, &CommissioningWindow::loadTemplateFile);
  connect(addRow, &QPushButton::clicked, this, &CommissioningWindow::addPlanRow);
  connect(removeRow, &QPushButton::clicked, this, [this] {
    const int row = plan_->currentRow();
    if (row >= 0 && row != row_ && plan_->item(row, StateColumn)->text() != InService) plan_->removeRow(row);
    updateButtons();
  });
  connect(start_, &QPushButton::clicked, this, &CommissioningWindow::startNext);
  connect(retry_, &QPushButton::clicked, this, &CommissioningWindow::retryStep);
  connect(foot_, &PowerCycleFoot::changed, this, &CommissioningWindow::updateButtons);
  connect(saveProtocol_, &QPushButton::clicked, this, &CommissioningWindow::saveProtocolAs);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(run_, &CommissionRun::report, this, &CommissioningWindow::stepReport);
  connect(run_, &CommissionRun::progress, this, [this](CommissionStep step, int percent) {
    steps_->item(int(step), 1)->setText(QStringLiteral("%1 %").arg(percent));
  });
  connect(run_, &CommissionRun::commissioned, this, &CommissioningWindow::commissioned);
  connect(run_, &CommissionRun::templateRead, this, &CommissioningWindow::templateRead);

  protocol_.version = QCoreApplication::applicationVersion();
  protocol_.lineName = WorkbenchLineName();
  setLineModules({});
  KeepReturnFromButtons(this);
  say(QStringLiteral("Naplánujte moduly, připojte k lince samotný první nový modul a stiskněte „Uvést další modul“."));
  resize(1040, 600);
}

void CommissioningWindow::setLineModules(const QVector<LineModule>& modules) {
  line_ = modules;
  const int chosen = template_->currentIndex();
  template_->clear();
  template_->addItem(QStringLiteral("bez vzoru: modul si ponechá svou konfiguraci"));
  for (const LineModule& m : modules)
    template_->addItem(QStringLiteral("modul linky: %1%2").arg(PlaceText({m.address, m.baudCode}),
                                                            m.tag.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(m.tag)),
                       QVariant::fromValue(ModuleKey(m)));
  if (fileTemplate_) template_->addItem(QStringLiteral("záloha %1").arg(fileTemplateName_), QStringLiteral("soubor"));
  template_->setCurrentIndex(std::clamp(chosen, 0, template_->count() - 1));
}

void CommissioningWindow::setDelivery(const ModulePlace& place) {
  deliveryAddress_->setValue(place.address);
  deliveryRate_->setCurrentIndex(place.baudCode);
}

ModulePlace CommissioningWindow::delivery() const {
  return {uint8_t(deliveryAddress_->value()), deliveryRate_->currentIndex()};
}

void CommissioningWindow::addPlanned(const ModulePlace& place, const QString& tag) {
  addPlanRow();
  const int row = plan_->rowCount() - 1;
  plan_->item(row, AddressColumn)->setText(QString::number(place.address));
  plan_->item(row, RateColumn)->setText(QString::number(BaudCodeToRate(place.baudCode)));
  plan_->item(row, TagColumn)->setText(tag);
}

void CommissioningWindow::addPlanRow() {
  const int row = plan_->rowCount();
  plan_->insertRow(row);
  // The next address after the last row's, at its rate: a line is usually numbered in a row.
  int address = 1, rate = 9600;
  if (row > 0) {
    address = plan_->item(row - 1, AddressColumn)->text().toInt() + 1;
    rate = plan_->item(row - 1, RateColumn)->text().toInt();
  }
  plan_->setItem(row, AddressColumn, new QTableWidgetItem(QString::number(std::min(address, 255))));
  plan_->setItem(row, RateColumn, new QTableWidgetItem(QString::number(rate)));
  plan_->setItem(row, TagColumn, new QTableWidgetItem());
  auto* state = new QTableWidgetItem(QStringLiteral("čeká"));
  state->setFlags(state->flags() & ~Qt::ItemIsEditable);
  plan_->setItem(row, StateColumn, state);
  updateButtons();
}

bool CommissioningWindow::setTemplateFile(const QString& file) {
  CommissionTemplate source;
  QString error;
  if (!LoadCommissionTemplate(file, source, error)) {
    say(error, true);
    return false;
  }
  fileTemplate_ = source.image;
  fileTemplateType_ = source.type;
  fileTemplateName_ = QFileInfo(file).fileName();
  setLineModules(line_);
  template_->setCurrentIndex(template_->count() - 1);
  say(QStringLiteral("Vzor načten ze zálohy %1.").arg(file));
  return true;
}

void CommissioningWindow::loadTemplateFile() {
  const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Vzorová konfigurace"), DocumentsFolder(),
                                                    QStringLiteral("Zálohy (*.txt *.qx510line);;Všechny soubory (*)"));
  if (!path.isEmpty()) setTemplateFile(path);
}

bool CommissioningWindow::plannedPlace(int row, ModulePlace& place, QString& error) const {
  bool okAddress = false, okRate = false;
  const int address = plan_->item(row, AddressColumn)->text().trimmed().toInt(&okAddress);
  // "57600" or "57600 Bd" as the rate lists write it.
  const int rate = QString(plan_->item(row, RateColumn)->text()).remove(QStringLiteral("Bd")).trimmed().toInt(&okRate);
  if (!okAddress || address < 0 || address > 255) {
    error = QStringLiteral("Řádek %1 plánu: adresa musí být číslo 0–255.").arg(row + 1);
    return false;
  }
  if (!okRate || BaudCodeToRate(BaudRateToCode(rate)) != rate) {
    error = QStringLiteral("Řádek %1 plánu: rychlost musí být jedna z %2.").arg(row + 1).arg(BaudRateItems().join(QStringLiteral(", ")));
    return false;
  }
  place = {uint8_t(address), BaudRateToCode(rate)};
  for (const LineModule& m : line_)
    if (m.address == place.address && m.baudCode == place.baudCode) {
      error = QStringLiteral("Řádek %1 plánu: linka už má modul na adrese %2 s rychlostí %3 Bd; nic nezapsáno.")
                  .arg(row + 1)
                  .arg(place.address)
                  .arg(BaudCodeToRate(place.baudCode));
      return false;
    }
  return true;
}

void CommissioningWindow::startNext() {
  if (run_->busy()) return;
  row_ = -1;
  for (int r = 0; r < plan_->rowCount() && row_ < 0; ++r)
    if (plan_->item(r, StateColumn)->text() != InService) row_ = r;
  if (row_ < 0) return say(QStringLiteral("V plánu není žádný modul, který by ještě čekal na uvedení do provozu."), true);
  ModulePlace place;
  QString error;
  if (!plannedPlace(row_, place, error)) {
    row_ = -1;
    return say(error, true);
  }
  QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
  stored.setValue(DeliveryAddressKey, deliveryAddress_->value());
  stored.setValue(DeliveryRateKey, deliveryRate_->currentIndex());
  if (!SaveWorkbenchSettings(stored, error)) say(QStringLiteral("Dodací místo nelze uložit do nastavení: %1").arg(error), true);
  for (int s = 0; s < CommissionStepCount; ++s) steps_->item(s, 1)->setText(QString());
  plan_->item(row_, StateColumn)->setText(QStringLiteral("probíhá"));
  plan_->selectRow(row_);
  const QVariant source = template_->currentData();
  if (source.toString() == QLatin1String("soubor")) return begin(fileTemplate_, fileTemplateType_);
  if (!source.isValid()) return begin(std::nullopt, QString());
  for (const LineModule& m : std::as_const(line_))
    if (ModuleKey(m) == source.toInt()) {
      say(QStringLiteral("Čte se vzorová konfigurace z modulu linky %1…").arg(PlaceText({m.address, m.baudCode})));
      run_->readTemplate(m);
      updateButtons();
      return;
    }
  plan_->item(row_, StateColumn)->setText(QStringLiteral("čeká"));
  say(QStringLiteral("Vzorový modul už na lince není; zvolte jiný vzor. Nic nezapsáno."), true);
}

void CommissioningWindow::templateRead(const ConfigImage& image, const QString& type, const QString& error) {
  if (!error.isEmpty()) {
    plan_->item(row_, StateColumn)->setText(QStringLiteral("čeká"));
    say(QStringLiteral("Vzorovou konfiguraci nelze přečíst: %1 Nic nezapsáno.").arg(error), true);
    updateButtons();
    return;
  }
  begin(image, type);
}

void CommissioningWindow::begin(const std::optional<ConfigImage>& image, const QString& type) {
  CommissionPlan plan;
  plan.from = delivery();
  QString error;
  plannedPlace(row_, plan.to, error);
  plan.templateImage = image;
  plan.templateType = type;
  plan.tag = plan_->item(row_, TagColumn)->text().trimmed();
  protocol_.delivery = plan.from;
  protocol_.templateSource = template_->currentText();
  say(QStringLiteral("Nový modul se uvádí do provozu (nové místo: %1)…").arg(PlaceText(plan.to)));
  run_->start(plan, powerWaitMs_);
  updateButtons();
}

void CommissioningWindow::retryStep() {
  if (run_->busy() || run_->job() == nullptr || run_->job()->done()) return;
  say(QStringLiteral("Krok „%1“ se opakuje…").arg(CommissionStepName(run_->job()->next())));
  run_->retry();
  updateButtons();
}

void CommissioningWindow::stepReport(CommissionStep step, const QString& text) {
  QTableWidgetItem* item = steps_->item(int(step), 1);
  item->setText(text);
  item->setToolTip(text);
  steps_->resizeRowToContents(int(step));
}

void CommissioningWindow::confirmPowerCycle() { foot_->confirm(); }

void CommissioningWindow::cancelWork() { foot_->cancel(); }

void CommissioningWindow::commissioned(bool ok) {
  foot_->clear();
  const Commissioning* job = run_->job();
  if (job == nullptr) {  // the line could not be used: the text came as the first step's
    plan_->item(row_, StateColumn)->setText(QStringLiteral("čeká"));
    say(steps_->item(0, 1)->text(), true);
    return updateButtons();
  }
  for (const StepReport& r : job->reports()) stepReport(r.step, r.text);
  record(ok);
  const CommissionPlan& plan = job->plan();
  if (ok) {
    plan_->item(row_, StateColumn)->setText(InService);
    LineModule m;
    m.address = plan.to.address;
    m.baudCode = plan.to.baudCode;
    m.ident = QString(job->ident()).remove(QChar(u'\0'));
    m.tag = plan.tag;
    line_.append(m);
    emit moduleCommissioned(m);
    bool more = false;
    for (int r = 0; r < plan_->rowCount(); ++r) more |= plan_->item(r, StateColumn)->text() != InService;
    say(QStringLiteral("Modul uveden do provozu: %1%2. ").arg(PlaceText(plan.to), plan.tag.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(plan.tag)) +
        (more ? QStringLiteral("Odpojte jej, připojte samotný další nový modul a stiskněte „Uvést další modul“.")
              : QStringLiteral("Všechny plánované moduly jsou v provozu; uložte protokol.")));
  } else {
    const StepReport& last = job->last();
    plan_->item(row_, StateColumn)->setText(QStringLiteral("nedokončen: %1").arg(CommissionStepName(last.step)));
    QString text = last.text;
    if (last.outcome == StepReport::Failed || last.outcome == StepReport::Absent)
      text += QStringLiteral(" Krok lze zopakovat („Zopakovat krok“).");
    say(text, true);
  }
  updateButtons();
}

void CommissioningWindow::record(bool ok) {
  const Commissioning* job = run_->job();
  CommissionRecord r;
  r.place = job->plan().to;
  r.tag = job->plan().tag;
  r.ident = QString(job->ident()).remove(QChar(u'\0'));
  for (const StepReport& s : job->reports())
    if (s.outcome != StepReport::Done) r.failures << QStringLiteral("%1: %2").arg(CommissionStepName(s.step), s.text);
  if (ok) {
    r.image = job->verified().image;
    r.verifiedAt = job->verifiedAt();
  }
  // One record a planned place: a retried module keeps what failed before.
  for (CommissionRecord& earlier : protocol_.modules)
    if (earlier.place == r.place) {
      r.failures = earlier.failures + r.failures;
      r.failures.removeDuplicates();
      earlier = r;
      return;
    }
  protocol_.modules.append(r);
}

bool CommissioningWindow::saveProtocol(const QString& path, QString& error) {
  protocol_.made = QDateTime::currentDateTime();
  protocol_.lineName = WorkbenchLineName();
  return WriteCommissionProtocol(protocol_, path, error);
}

void CommissioningWindow::saveProtocolAs() {
  const QString path = AskSavePath(this, QStringLiteral("Protokol uvedení do provozu"),
                                   QDir(DocumentsFolder()).filePath(QStringLiteral("uvedeni-do-provozu-%1.pdf").arg(WorkbenchLineName())),
                                   QStringLiteral("Protokol PDF (*.pdf)"), QStringLiteral("pdf"));
  if (path.isEmpty()) return;
  QString error;
  if (saveProtocol(path, error))
    say(QStringLiteral("Protokol uložen do %1.").arg(path));
  else
    QMessageBox::warning(this, Title, QStringLiteral("Protokol nelze zapsat do %1: %2").arg(path, error));
}

void CommissioningWindow::closeEvent(QCloseEvent* event) {
  // A job under way ends at its next byte; the module answers where the last report says.
  if (run_->busy()) run_->cancel();
  event->accept();
}

bool CommissioningWindow::waitingForPowerCycle() const { return foot_->waiting(); }

QString CommissioningWindow::message() const { return foot_->message(); }

void CommissioningWindow::say(const QString& text, bool failure) { foot_->say(text, failure); }

void CommissioningWindow::updateButtons() {
  const bool busy = run_->busy();
  start_->setEnabled(!busy && plan_->rowCount() > 0);
  const Commissioning* job = run_->job();
  retry_->setEnabled(!busy && job != nullptr && !job->done() && job->last().outcome != StepReport::Refused &&
                     job->last().outcome != StepReport::Collided);
  foot_->updateButtons();
  saveProtocol_->setEnabled(!busy && !protocol_.modules.isEmpty());
  template_->setEnabled(!busy);
  deliveryAddress_->setEnabled(!busy);
  deliveryRate_->setEnabled(!busy);
}
