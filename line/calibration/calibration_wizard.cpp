#include "line/calibration/calibration_wizard.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "base/text/baud.h"
#include "base/calibration/calibration_constants.h"
#include "base/calibration/calibration_entries.h"
#include "base/calibration/calibration_procedure.h"
#include "base/text/value_format.h"
#include "line/calibration/calibration_certificate.h"
#include "line/calibration/calibration_run.h"
#include "line/calibration/date_field.h"
#include "line/common/save_path.h"
#include "ui/return_key.h"

namespace {

const QString StepNames[] = {QStringLiteral("Údaje kalibrace"),       QStringLiteral("Stav před kalibrací"),
                             QStringLiteral("Zkratovaný vstup"),      QStringLiteral("Referenční hodnota"),
                             QStringLiteral("Vypnutí a zapnutí modulu"), QStringLiteral("Stav po kalibraci"),
                             QStringLiteral("Výsledek")};

QString Red(const QString& text) {
  return QStringLiteral("<span style='color:#b00000;font-weight:bold'>%1</span>").arg(text.toHtmlEscaped());
}

QString Unit(uint8_t range) { return range == RangeCurrent ? QStringLiteral("mA") : QStringLiteral("V"); }

// The step's own button confirms it.
const QString PressConfirm = QStringLiteral("stiskněte tlačítko Potvrzení");

QDateTime Now() {
  const QDateTime local = QDateTime::currentDateTime();
  return local.toOffsetFromUtc(local.offsetFromUtc());  // the record keeps the offset it was made at
}

}  // namespace

CalibrationWizard::CalibrationWizard(LineWorker* worker, const LineModule& module, int presentRange, const QString& tag,
                                     QWidget* parent)
    : QDialog(parent), worker_(worker), module_(module), folder_(CalibrationRecordFolder()) {
  setObjectName(QStringLiteral("CalibrationWizard"));
  setWindowTitle(QStringLiteral("Kalibrace – modul %1 (%2 Bd)").arg(module.address).arg(BaudCodeToRate(module.baudCode)));
  probe_.setSingleShot(true);
  connect(&probe_, &QTimer::timeout, this, [this] {
    if (step_ == PowerCycle && ending_ == Ending::None && run_) run_->probe();
  });

  auto* layout = new QVBoxLayout(this);
  auto* body = new QHBoxLayout;
  steps_ = new QListWidget(this);
  steps_->setObjectName(QStringLiteral("Steps"));
  steps_->setFocusPolicy(Qt::NoFocus);
  steps_->setSelectionMode(QAbstractItemView::NoSelection);
  for (const QString& name : StepNames) steps_->addItem(name);
  steps_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QFont bold = steps_->font();
  bold.setBold(true);
  int widest = 0;
  for (const QString& name : StepNames) widest = std::max(widest, QFontMetrics(bold).horizontalAdvance(QStringLiteral("▶ ") + name));
  steps_->setFixedWidth(widest + 2 * steps_->frameWidth() + 16);
  body->addWidget(steps_);

  pages_ = new QStackedWidget(this);
  pages_->addWidget(buildEntries());
  pages_->addWidget(buildSeries(AsFound, asFoundReference_, asFoundTable_, asFoundSummary_));
  pages_->addWidget(buildProcedure(Zero));
  pages_->addWidget(buildProcedure(Reference));
  pages_->addWidget(buildProcedure(PowerCycle));
  pages_->addWidget(buildSeries(AsLeft, asLeftReference_, asLeftTable_, asLeftSummary_));
  pages_->addWidget(buildProcedure(Result));
  body->addWidget(pages_, 1);
  layout->addLayout(body, 1);

  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("Message"));
  message_->setWordWrap(true);
  message_->setMinimumHeight(message_->fontMetrics().lineSpacing() * 2);
  layout->addWidget(message_);

  auto* buttons = new QHBoxLayout;
  cancel_ = new QPushButton(QStringLiteral("Zr&ušit kalibraci"), this);
  cancel_->setObjectName(QStringLiteral("CancelCalibration"));
  certificate_ = new QPushButton(QStringLiteral("Kalibrační &protokol…"), this);
  certificate_->setObjectName(QStringLiteral("Certificate"));
  action_ = new QPushButton(this);
  action_->setObjectName(QStringLiteral("Action"));
  close_ = new QPushButton(QStringLiteral("&Zavřít"), this);
  close_->setObjectName(QStringLiteral("Close"));
  buttons->addWidget(cancel_);
  buttons->addStretch(1);
  buttons->addWidget(certificate_);
  buttons->addWidget(action_);
  buttons->addWidget(close_);
  layout->addLayout(buttons);

  connect(action_, &QPushButton::clicked, this, &CalibrationWizard::proceed);
  connect(cancel_, &QPushButton::clicked, this, &CalibrationWizard::cancelCalibration);
  connect(certificate_, &QPushButton::clicked, this, &CalibrationWizard::saveCertificate);
  connect(close_, &QPushButton::clicked, this, &QDialog::close);
  KeepReturnFromButtons(this);

  range_->setCurrentIndex(presentRange == RangeCurrent ? 1 : 0);
  tag_->setText(tag);
  updateTolerance();
  showStep(Entries);
  resize(900, 600);
}

CalibrationWizard::~CalibrationWizard() = default;

QWidget* CalibrationWizard::buildEntries() {
  auto* page = new QWidget(this);
  auto* form = new QFormLayout(page);
  auto field = [&](QLineEdit*& edit, const char* name, const QString& label) {
    edit = new QLineEdit(page);
    edit->setObjectName(QLatin1String(name));
    form->addRow(label, edit);
  };
  range_ = new QComboBox(page);
  range_->setObjectName(QStringLiteral("Range"));
  range_->addItems({QStringLiteral("napěťový (0–10 V)"), QStringLiteral("proudový (0–20 mA)")});
  form->addRow(QStringLiteral("Kalibrovaný &rozsah vstupu 0"), range_);
  field(tag_, "ModuleTag", QStringLiteral("&Označení nebo výrobní číslo modulu"));
  field(referenceName_, "ReferenceName", QStringLiteral("Referenční přístroj: &název"));
  field(referenceSerial_, "ReferenceSerial", QStringLiteral("Referenční přístroj: &výrobní číslo"));
  validUntil_ = new DateField(page);
  validUntil_->setObjectName(QStringLiteral("ReferenceValidUntil"));
  validUntil_->setPlaceholderText(QStringLiteral("nezadáno (např. 31. 5. 2027 nebo 2027-05-31)"));
  auto* validLabel = new QLabel(QStringLiteral("Referenční přístroj: kalibrace p&latí do"), page);
  validLabel->setBuddy(validUntil_->edit());
  form->addRow(validLabel, validUntil_);
  auto* toleranceRow = new QHBoxLayout;
  tolerance_ = new QDoubleSpinBox(page);
  tolerance_->setObjectName(QStringLiteral("Tolerance"));
  tolerance_->setDecimals(3);
  tolerance_->setRange(0.001, 10.0);
  tolerance_->setSingleStep(0.05);
  tolerance_->setValue(DefaultTolerancePercent);
  tolerance_->setSuffix(QStringLiteral(" % rozsahu"));
  toleranceValue_ = new QLabel(page);
  toleranceValue_->setObjectName(QStringLiteral("ToleranceValue"));
  toleranceRow->addWidget(tolerance_);
  toleranceRow->addWidget(toleranceValue_, 1);
  auto* toleranceLabel = new QLabel(QStringLiteral("&Tolerance ±"), page);
  toleranceLabel->setBuddy(tolerance_);
  form->addRow(toleranceLabel, toleranceRow);
  field(operator_, "OperatorName", QStringLiteral("&Kalibroval(a)"));
  count_ = new QSpinBox(page);
  count_->setObjectName(QStringLiteral("ReadingCount"));
  count_->setRange(1, 20);
  count_->setValue(readout_.count);
  form->addRow(QStringLiteral("Počet o&dečtů před a po kalibraci"), count_);
  connect(tolerance_, &QDoubleSpinBox::valueChanged, this, &CalibrationWizard::updateTolerance);
  connect(range_, &QComboBox::currentIndexChanged, this, &CalibrationWizard::updateTolerance);
  return page;
}

QWidget* CalibrationWizard::buildSeries(Step step, QLineEdit*& reference, QTableWidget*& table, QLabel*& summary) {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  auto* text = new QLabel(page);
  text->setObjectName(step == AsFound ? QStringLiteral("AsFoundText") : QStringLiteral("AsLeftText"));
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* row = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("&Hodnota referenčního přístroje"), page);
  reference = new QLineEdit(page);
  reference->setObjectName(step == AsFound ? QStringLiteral("AsFoundReference") : QStringLiteral("AsLeftReference"));
  label->setBuddy(reference);
  row->addWidget(label);
  row->addWidget(reference);
  row->addStretch(1);
  layout->addLayout(row);
  table = new QTableWidget(0, 5, page);
  table->setObjectName(step == AsFound ? QStringLiteral("AsFoundReadings") : QStringLiteral("AsLeftReadings"));
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  layout->addWidget(table, 1);
  summary = new QLabel(page);
  summary->setObjectName(step == AsFound ? QStringLiteral("AsFoundSummary") : QStringLiteral("AsLeftSummary"));
  summary->setWordWrap(true);
  layout->addWidget(summary);
  return page;
}

QWidget* CalibrationWizard::buildProcedure(Step step) {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  auto* text = new QLabel(page);
  text->setWordWrap(true);
  text->setTextFormat(Qt::RichText);
  layout->addWidget(text);
  switch (step) {
    case Zero: zeroText_ = text; text->setObjectName(QStringLiteral("ZeroText")); break;
    case Reference: {
      referenceText_ = text;
      text->setObjectName(QStringLiteral("ReferenceText"));
      auto* row = new QHBoxLayout;
      auto* label = new QLabel(QStringLiteral("Zadaná &hodnota"), page);
      procedureReference_ = new QLineEdit(page);
      procedureReference_->setObjectName(QStringLiteral("ProcedureReference"));
      label->setBuddy(procedureReference_);
      row->addWidget(label);
      row->addWidget(procedureReference_);
      row->addStretch(1);
      layout->addLayout(row);
      break;
    }
    case PowerCycle: {
      powerText_ = text;
      text->setObjectName(QStringLiteral("PowerText"));
      powerState_ = new QLabel(page);
      powerState_->setObjectName(QStringLiteral("PowerState"));
      QFont bold = powerState_->font();
      bold.setBold(true);
      bold.setPointSizeF(bold.pointSizeF() * 1.3);
      powerState_->setFont(bold);
      layout->addWidget(powerState_);
      break;
    }
    default: resultText_ = text; text->setObjectName(QStringLiteral("ResultText")); break;
  }
  layout->addStretch(1);
  return page;
}

void CalibrationWizard::setTimings(int settleMs, int intervalMs, int probeMs) {
  readout_.settleMs = settleMs;
  readout_.intervalMs = intervalMs;
  settleMs_ = settleMs;
  probeMs_ = probeMs;
}

QString CalibrationWizard::message() const { return message_->text(); }

void CalibrationWizard::setMessage(const QString& text, bool failure) {
  message_->setText(failure ? Red(text) : text.toHtmlEscaped());
}

void CalibrationWizard::updateTolerance() {
  const uint8_t range = range_->currentIndex() == 1 ? RangeCurrent : RangeVoltage;
  toleranceValue_->setText(QStringLiteral("= ±%1 %2").arg(DerivedFigure(ToleranceFromPercent(range, tolerance_->value())), Unit(range)));
}


QTableWidget* CalibrationWizard::table(Step step) const { return step == AsFound ? asFoundTable_ : asLeftTable_; }

void CalibrationWizard::showStep(Step step) {
  step_ = step;
  pages_->setCurrentIndex(int(step));
  for (int i = 0; i < steps_->count(); ++i) {
    QListWidgetItem* item = steps_->item(i);
    QFont font = item->font();
    font.setBold(i == int(step));
    item->setFont(font);
    item->setText((i < int(step) ? QStringLiteral("✓ ") : i == int(step) ? QStringLiteral("▶ ") : QStringLiteral("   ")) + StepNames[i]);
  }
  const uint8_t range = record_.range;
  const QString unit = Unit(range);
  switch (step) {
    case Entries: action_->setText(QStringLiteral("&Pokračovat")); break;
    case AsFound:
    case AsLeft: {
      auto* text = pages_->currentWidget()->findChild<QLabel*>(step == AsFound ? QStringLiteral("AsFoundText") : QStringLiteral("AsLeftText"));
      text->setText(step == AsFound
                        ? QStringLiteral("Připojte na vstup z referenčního přístroje %1, zadejte hodnotu, kterou přístroj "
                                         "ukazuje, a stiskněte tlačítko Změřit. Vstup se přečte přes kalibrační konstanty, "
                                         "které modul má teď.").arg(ReferenceWords(range))
                        : QStringLiteral("Připojte na vstup znovu %1 z referenčního přístroje, zadejte hodnotu, kterou "
                                         "přístroj ukazuje, a stiskněte tlačítko Změřit. Vstup se přečte přes nové "
                                         "kalibrační konstanty.").arg(ReferenceWords(range)));
      QTableWidget* t = table(step);
      t->setHorizontalHeaderLabels({QStringLiteral("Odečet"), QStringLiteral("Naměřeno [%1]").arg(unit),
                                    QStringLiteral("Reference [%1]").arg(unit), QStringLiteral("Chyba [%1]").arg(unit),
                                    QStringLiteral("Posouzení")});
      action_->setText(QStringLiteral("Z&měřit"));
      break;
    }
    case Zero:
      zeroText_->setText(ShortInputRequest(range, PressConfirm).toHtmlEscaped());
      action_->setText(QStringLiteral("&Potvrzení"));
      break;
    case Reference:
      referenceText_->setText(ApplyReferenceRequest(range, PressConfirm).toHtmlEscaped());
      procedureReference_->setPlaceholderText(unit);
      action_->setText(QStringLiteral("&Potvrzení"));
      break;
    case PowerCycle:
      powerText_->setText(QStringLiteral("Kalibrační konstanty jsou zapsány. Modul je nutno vypnout a zapnout: vypněte "
                                         "napájení modulu, počkejte, až se zde ukáže „modul neodpovídá“, a napájení zase "
                                         "zapněte. Jakmile modul opět odpovídá, průvodce pokračuje sám."));
      powerState_->setText(QStringLiteral("Čeká se na vypnutí modulu…"));
      action_->setText(QStringLiteral("&Potvrzení"));
      break;
    case Result: break;
  }
  const bool result = step == Result;
  // The power step goes on by itself once the module answers again.
  action_->setVisible(!result && step != PowerCycle);
  action_->setEnabled(true);
  cancel_->setVisible(!result);
  cancel_->setEnabled(running());
  certificate_->setVisible(result);
  certificate_->setEnabled(result && !recordPath_.isEmpty());
  close_->setEnabled(!running());
}

bool CalibrationWizard::takeEntries() {
  QString missing;
  const QDate until = validUntil_->date();
  if (tag_->text().trimmed().isEmpty())
    missing = QStringLiteral("Zadejte označení nebo výrobní číslo modulu.");
  else if (referenceName_->text().trimmed().isEmpty())
    missing = QStringLiteral("Zadejte název referenčního přístroje.");
  else if (referenceSerial_->text().trimmed().isEmpty())
    missing = QStringLiteral("Zadejte výrobní číslo referenčního přístroje.");
  else if (validUntil_->unreadable())
    missing = QStringLiteral("Datum platnosti kalibrace referenčního přístroje zadejte jako 31. 5. 2027 nebo 2027-05-31.");
  else if (until.isNull())
    missing = QStringLiteral("Zadejte, do kdy platí kalibrace referenčního přístroje.");
  else if (until < QDate::currentDate())
    missing = QStringLiteral("Kalibrace referenčního přístroje platila jen do %1; s tímto přístrojem kalibrovat nelze.")
                  .arg(DateField::Text(until));
  else if (operator_->text().trimmed().isEmpty())
    missing = QStringLiteral("Zadejte jméno toho, kdo kalibruje.");
  if (!missing.isEmpty()) {
    setMessage(missing, true);
    return false;
  }
  record_ = CalibrationRecord();
  record_.ident = module_.ident;
  record_.tag = tag_->text().trimmed();
  record_.address = module_.address;
  record_.rate = BaudCodeToRate(module_.baudCode);
  record_.input = 0;
  record_.range = range_->currentIndex() == 1 ? RangeCurrent : RangeVoltage;
  record_.referenceName = referenceName_->text().trimmed();
  record_.referenceSerial = referenceSerial_->text().trimmed();
  record_.referenceValidUntil = until;
  record_.operatorName = operator_->text().trimmed();
  record_.tolerancePercent = tolerance_->value();
  record_.started = Now();
  readout_.count = count_->value();
  // Before the first exchange: what the record holds, its signing key and a file it can be
  // written to, so that a record is never lost after the module was changed.
  QString problem = CalibrationEntriesProblem(record_), why;
  if (problem.isEmpty() && folder_.isEmpty()) problem = QStringLiteral("Složka pro kalibrační záznamy není známa.");
  if (problem.isEmpty() && PlanCalibrationRecordIn(folder_, record_, why).isEmpty())
    problem = QStringLiteral("Záznam kalibrace nelze zapsat: %1").arg(why);
  if (problem.isEmpty() && !LoadSigningKey(SigningKeyFolder(), key_, why))
    problem = QStringLiteral("Záznam kalibrace nelze podepsat: %1.").arg(why);
  if (!problem.isEmpty()) {
    setMessage(problem, true);
    return false;
  }
  return true;
}

bool CalibrationWizard::takeReference(QLineEdit* field, double& value) {
  if (!ParseReferenceText(field->text().trimmed(), value)) {
    setMessage(ReferenceNumberRequest(record_.range), true);
    return false;
  }
  if (!ReferenceInWindow(record_.range, value)) {
    setMessage(ReferenceWindowRequest(record_.range), true);
    return false;
  }
  return true;
}

void CalibrationWizard::proceed() {
  if (ending_ != Ending::None || (run_ && run_->busy())) return;
  switch (step_) {
    case Entries: {
      if (!takeEntries()) return;
      setMessage(QString());
      run_ = std::make_unique<CalibrationRun>(worker_, module_, record_.input, record_.range);
      connect(run_.get(), &CalibrationRun::reading, this, &CalibrationWizard::addReading);
      connect(run_.get(), &CalibrationRun::seriesRead, this, &CalibrationWizard::seriesRead);
      connect(run_.get(), &CalibrationRun::started, this, [this](ConfigWriteResult r, const QString& text) { started(int(r), text); });
      connect(run_.get(), &CalibrationRun::measured, this, &CalibrationWizard::measured);
      connect(run_.get(), &CalibrationRun::stored, this, [this](ConfigWriteResult r, const QString& text) { stored(int(r), text); });
      connect(run_.get(), &CalibrationRun::probed, this, &CalibrationWizard::probed);
      connect(run_.get(), &CalibrationRun::finished, this,
              [this](const CalibrationSession::Restored& r, const CalibrationConstantsValue& c) { finished(r.complete, r.text, c); });
      showStep(AsFound);
      return;
    }
    case AsFound:
      if (record_.asFound.empty()) {
        beginSeries(asFoundReference_);
        return;
      }
      setMessage(QStringLiteral("Nastavuje se rozsah vstupu a výchozí kalibrační konstanty…"));
      action_->setEnabled(false);
      run_->start();
      return;
    case Zero:
      setMessage(QStringLiteral("Probíhá měření vstupu."));
      action_->setEnabled(false);
      run_->measure(settleMs_);
      return;
    case Reference:
      if (!takeReference(procedureReference_, entered_)) return;
      setMessage(QStringLiteral("Probíhá měření vstupu."));
      action_->setEnabled(false);
      run_->measure(settleMs_);
      return;
    case AsLeft:
      if (record_.asLeft.empty()) beginSeries(asLeftReference_);
      return;
    case PowerCycle:
    case Result: return;
  }
}

void CalibrationWizard::beginSeries(QLineEdit* field) {
  double reference = 0;
  if (!takeReference(field, reference)) return;
  table(step_)->setRowCount(0);
  field->setReadOnly(true);
  action_->setEnabled(false);
  setMessage(QStringLiteral("Vstup se čte…"));
  run_->readSeries(reference, readout_);
}

void CalibrationWizard::addReading(int index, const CalibrationReading& r) {
  if (ending_ != Ending::None || (step_ != AsFound && step_ != AsLeft)) return;
  QTableWidget* t = table(step_);
  const int row = t->rowCount();
  t->insertRow(row);
  ReadingSeries one;
  one.readings.append(r);
  const CalibrationVerdict verdict = JudgeReadings(one, record_.tolerance());
  const QString texts[] = {QString::number(index + 1), ReadingFigure(r.value), DerivedFigure(r.reference),
                           DerivedFigure(r.error(), true), VerdictText(verdict)};
  for (int c = 0; c < 5; ++c) {
    auto* item = new QTableWidgetItem(texts[c]);
    item->setTextAlignment(c == 4 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
    if (verdict == CalibrationVerdict::Outside) item->setForeground(QColor(0xb0, 0, 0));
    t->setItem(row, c, item);
  }
  t->scrollToBottom();
}

void CalibrationWizard::seriesRead(const Readout& readout, const CalibrationConstantsValue& constants, uint8_t iface,
                                   const QString& device) {
  if (ending_ != Ending::None) return;
  if (readout.result != ReadoutResult::Done) {
    fail(QStringLiteral("Čtení vstupu selhalo: %1").arg(readout.text));
    return;
  }
  const bool found = step_ == AsFound;
  (found ? record_.asFound : record_.asLeft) = readout.series;
  const ReadingSeries& s = readout.series;
  const QString unit = record_.unit();
  const CalibrationVerdict verdict = JudgeReadings(s, record_.tolerance());
  (found ? asFoundSummary_ : asLeftSummary_)
      ->setText(QStringLiteral("Průměr %1 %4, rozpětí %2 %4, průměrná chyba %3 %4: %5.")
                    .arg(DerivedFigure(s.mean()), DerivedFigure(s.spread()), DerivedFigure(s.meanError(), true), unit, VerdictText(verdict)));
  if (found) {
    record_.interfaceType = iface;
    record_.connection = device;
    record_.constantsBefore = constants;
    procedureReference_->setText(asFoundReference_->text());
    setMessage(QStringLiteral("Stav před kalibrací zaznamenán. Tlačítkem Pokračovat začne kalibrace."));
    action_->setText(QStringLiteral("&Pokračovat"));
    action_->setEnabled(true);
    return;
  }
  setMessage(QStringLiteral("Kalibrace se dokončuje…"));
  run_->finish(true);
}

bool CalibrationWizard::written(int result, const QString& text) {
  if (ConfigWriteResult(result) == ConfigWriteResult::Written) return true;
  fail(text.isEmpty() ? QStringLiteral("Chyba zápisu do konfigurační paměti modulu.") : text);
  return false;
}

void CalibrationWizard::started(int result, const QString& text) {
  if (ending_ != Ending::None || !written(result, text)) return;
  setMessage(QString());
  showStep(Zero);
}

void CalibrationWizard::measured(uint32_t status, double value, const QString& text) {
  if (ending_ != Ending::None) return;
  if (status != 0) {
    fail(text);
    return;
  }
  if (step_ == Zero) {
    zero_ = value;
    setMessage(QString());
    showStep(Reference);
    return;
  }
  uint16_t gain = 0, offset = 0;
  if (!ComputeCalibrationConstants(record_.range, entered_, zero_, value, gain, offset)) {
    fail(MeasuredValuesErrorRequest);
    return;
  }
  setMessage(QStringLiteral("Probíhá zápis kalibračních konstant."));
  run_->store(gain, offset);
}

void CalibrationWizard::stored(int result, const QString& text) {
  if (ending_ != Ending::None || !written(result, text)) return;
  setMessage(QString());
  asLeftReference_->setText(procedureReference_->text());
  sawOff_ = false;
  showStep(PowerCycle);
  probe_.start(probeMs_);
}

void CalibrationWizard::probed(bool answered) {
  if (ending_ != Ending::None || step_ != PowerCycle) return;
  if (!answered) {
    sawOff_ = true;
    powerState_->setText(QStringLiteral("Modul neodpovídá – zapněte napájení modulu."));
  } else if (sawOff_) {
    powerState_->setText(QStringLiteral("Modul opět odpovídá."));
    showStep(AsLeft);
    return;
  }
  probe_.start(probeMs_);
}

void CalibrationWizard::fail(const QString& text) {
  if (ending_ != Ending::None) return;
  ending_ = Ending::Failed;
  failure_ = text;
  probe_.stop();
  run_->cancel();
  run_->finish(false);
  action_->setEnabled(false);
  cancel_->setEnabled(false);
  setMessage(text + QStringLiteral(" Modul se vrací do stavu před kalibrací…"), true);
}

void CalibrationWizard::cancelCalibration() {
  if (!running() || ending_ != Ending::None) return;
  ending_ = Ending::Cancelled;
  probe_.stop();
  run_->cancel();
  run_->finish(false);
  action_->setEnabled(false);
  cancel_->setEnabled(false);
  setMessage(QStringLiteral("Kalibrace se ruší, modul se vrací do stavu před kalibrací…"));
}

void CalibrationWizard::finished(bool complete, const QString& restoredText, const CalibrationConstantsValue& constants) {
  record_.ended = Now();
  record_.constantsAfter = constants;
  QStringList end;
  switch (ending_) {
    case Ending::Cancelled:
      record_.end = CalibrationEnd::Cancelled;
      end << CalibrationAbandonedText;
      break;
    case Ending::Failed:
      record_.end = CalibrationEnd::Failed;
      end << failure_;
      break;
    case Ending::None:
      // New constants kept, but the range byte not back: the module is not as the operator
      // will take it to be, and the record must not say all went well.
      record_.end = complete ? CalibrationEnd::Finished : CalibrationEnd::Failed;
      break;
  }
  if (!restoredText.isEmpty()) end << restoredText;
  record_.endText = end.join(QLatin1Char(' '));

  recordPath_ = SaveCalibrationRecordIn(folder_, record_, key_, recordError_);
  if (!recordPath_.isEmpty()) emit recordSaved(recordPath_, record_.tag);

  QStringList lines;
  lines << QStringLiteral("<b>%1</b>").arg(VerdictSentence(record_).toHtmlEscaped());
  const auto series = [&](const QString& name, const ReadingSeries& s) {
    if (s.empty()) return;
    lines << QStringLiteral("%1: průměr %2 %5, rozpětí %3 %5, průměrná chyba %4 %5 – %6.")
                 .arg(name, DerivedFigure(s.mean()), DerivedFigure(s.spread()), DerivedFigure(s.meanError(), true), record_.unit(),
                      VerdictText(JudgeReadings(s, record_.tolerance())))
                 .toHtmlEscaped();
  };
  series(QStringLiteral("Před kalibrací"), record_.asFound);
  series(QStringLiteral("Po kalibraci"), record_.asLeft);
  lines << record_.endText.toHtmlEscaped();
  if (!complete) lines.last() = Red(lines.last());
  lines << (recordPath_.isEmpty() ? Red(QStringLiteral("Záznam kalibrace se nepodařilo uložit: %1").arg(recordError_))
                                  : QStringLiteral("Záznam kalibrace uložen: %1 (v historii modulu)").arg(QFileInfo(recordPath_).fileName().toHtmlEscaped()));
  resultText_->setText(lines.join(QStringLiteral("<br><br>")));
  resultText_->setToolTip(QDir::toNativeSeparators(recordPath_));
  ending_ = Ending::None;
  setMessage(QString());
  showStep(Result);
}

void CalibrationWizard::saveCertificate() {
  if (recordPath_.isEmpty()) return;
  CalibrationRecord kept;
  QString error;
  if (!LoadCalibrationRecord(recordPath_, kept, error)) {
    setMessage(QStringLiteral("Záznam nelze přečíst: %1").arg(error), true);
    return;
  }
  const QString path = AskSavePath(this, QStringLiteral("Kalibrační protokol"),
                                   QDir(DocumentsFolder()).filePath(CertificateNumber(kept) + QStringLiteral(".pdf")),
                                   QStringLiteral("Protokol PDF (*.pdf)"), QStringLiteral("pdf"));
  if (path.isEmpty()) return;
  if (!WriteCalibrationCertificate(kept, path, error))
    setMessage(QStringLiteral("Protokol nelze zapsat do %1: %2").arg(QDir::toNativeSeparators(path), error), true);
  else
    setMessage(QStringLiteral("Kalibrační protokol uložen: %1").arg(QDir::toNativeSeparators(path)));
}

void CalibrationWizard::closeEvent(QCloseEvent* event) {
  // Closed half-way: the calibration is cancelled, and the window stays to say how the
  // module was left.
  if (running() || ending()) {
    event->ignore();
    cancelCalibration();
    return;
  }
  QDialog::closeEvent(event);
}

void CalibrationWizard::reject() {
  // Escape while the module holds what the calibration wrote does nothing, as Return does.
  if (running() || ending()) return;
  QDialog::reject();
}
