#include "calib/tform6.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "ui/status_bar.h"
#include "base/settings/tdata.h"
#include "ui/return_key.h"
#include "ui/window_util.h"
#include "base/calibration/calibration_procedure.h"
#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"
#include "base/text/value_format.h"

namespace {

const QString Separator = QString(66, QLatin1Char('_')) + QLatin1Char(' ');
const QString ChooseRangeText = QStringLiteral("Vyber rozsah, stiskni tlačítko Kalibrace.");
const QString MeasuringText = QStringLiteral(" Probíhá měření vstupu.");

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int x, int y) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QLatin1String(name));
  label->move(x, y);
  label->adjustSize();
  return label;
}

}  // namespace

TForm6::TForm6(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form6"));
  setWindowTitle(QStringLiteral("Kalibrace vstupů"));
  setWindowFlags(Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowTitleHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

  constexpr int left = 24, right = 312, fieldWidth = 169, fieldHeight = 24;

  MakeLabel(this, "Label1", QStringLiteral("Kalibrovaný vstup"), left, 12);
  ComboBox2 = new QComboBox(this);
  ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
  for (int i = 0; i <= 5; ++i) ComboBox2->addItem(QStringLiteral("vstup %1").arg(i));
  ComboBox2->setCurrentIndex(0);
  ComboBox2->setEnabled(false);  // the module's calibration covers input 0 only
  ComboBox2->setGeometry(left, 30, fieldWidth, fieldHeight);

  MakeLabel(this, "Label5", QStringLiteral("Kalibrovaný rozsah"), right, 12);
  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->addItem(QStringLiteral("napěťový"));
  ComboBox1->addItem(QStringLiteral("proudový"));
  ComboBox1->setCurrentIndex(0);
  ComboBox1->setGeometry(right, 30, fieldWidth, fieldHeight);

  MakeLabel(this, "Label2", QStringLiteral("Zadaná hodnota [V, mA]"), left, 66);
  Edit2 = new QLineEdit(this);
  Edit2->setObjectName(QStringLiteral("Edit2"));
  Edit2->setGeometry(left, 84, fieldWidth, fieldHeight);

  MakeLabel(this, "Label4", QStringLiteral("Okamžitá hodnota"), right, 66);
  Edit3 = new QLineEdit(this);
  Edit3->setObjectName(QStringLiteral("Edit3"));
  Edit3->setReadOnly(true);
  Edit3->setGeometry(right, 84, fieldWidth, fieldHeight);

  MakeLabel(this, "Label3", QStringLiteral("Pokyn"), left, 120);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // long instructions wrap
  Memo1->setGeometry(left, 138, 537, 153);

  auto makeButton = [this](const char* name, const QString& caption, int x) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(x, 304, 91, 27);
    return button;
  };
  Button1 = makeButton("Button1", QStringLiteral("Kalibrace"), left);
  Button2 = makeButton("Button2", QStringLiteral("Potvrzení"), left + 103);
  Button4 = makeButton("Button4", QStringLiteral("Zrušit"), left + 206);
  Button3 = makeButton("Button3", QStringLiteral("Cancel"), left + 537 - 91);
  connect(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm6::Button2Click);
  connect(Button4, &QPushButton::clicked, this, &TForm6::Button4Click);
  connect(Button3, &QPushButton::clicked, this, &TForm6::Button3Click);
  KeepReturnFromButtons(this);

  StatusBar1 = new StatusBar(this);
  constexpr int statusHeight = 22;
  StatusBar1->setGeometry(0, 373 - statusHeight, 592, statusHeight);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(500);
  connect(Timer1, &QTimer::timeout, this, &TForm6::Timer1Timer);
  Timer1->start();

  SetFixedClientSize(this, 592, 373);
  FormCreate();
}

void TForm6::FormCreate() {
  Edit2->setText(QStringLiteral("0,0"));
  Edit3->clear();
  Memo1->clear();
  AppendLine(ChooseRangeText);
  CalibrationState = StateIdle;
}

void TForm6::AppendLine(const QString& line) { Memo1->appendPlainText(line); }

bool TForm6::WriteBack() {
  if (!session_) return true;
  const CalibrationSession::Restored restored = session_->Restore();
  session_.reset();
  if (!restored.text.isEmpty()) AppendLine(restored.text);
  if (!restored.complete) failureShown_ = true;
  return restored.complete;
}

bool TForm6::Abandon() {
  const bool restored = WriteBack();
  VypisKalibraceUkoncena();
  return restored;
}

bool TForm6::CheckConnection() {
  if (data_ == nullptr) return false;
  if (!IsConnected(data_)) {
    StatusBar1->setText(NotConnectedText);
    return false;
  }
  return true;
}

void TForm6::VypisKalibraceUkoncena() {
  AppendLine(QString());
  AppendLine(CalibrationAbandonedText);
  AppendLine(QString());
  AppendLine(Separator);
  AppendLine(QString());
  AppendLine(ChooseRangeText);
  CalibrationState = StateIdle;
}

void TForm6::Button1Click() {
  failureShown_ = false;
  if (!CheckConnection() || CalibrationState != StateIdle) return;

  handle_ = data_->DriverHandle;
  moduleAddress_ = data_->ModuleAddress;
  const int input = ComboBox2->currentIndex();
  if (input < 0 || input > 5) {
    StatusBar1->setText(QStringLiteral(" Číslo vstupu musí být v rozsahu 0-5."));
    return;
  }
  input_ = uint8_t(input);
  range_ = ComboBox1->currentIndex() == 0 ? RangeVoltage : RangeCurrent;

  StatusBar1->setText(QStringLiteral(" Probíhá inicializace kalibrace."));
  session_.emplace(data_->Interface, handle_, moduleAddress_,
                   [this](const QString& text) { StatusBar1->setText(text); });
  if (session_->Start(input_, range_) != ConfigWriteResult::Written) {
    failureShown_ = true;
    WriteBack();
    return;
  }

  AppendLine(QString());
  AppendLine(Separator + QStringLiteral("Kalibrace vstupu ") + QString::number(input_));
  AppendLine(QString());
  AppendLine(ShortInputInstruction(range_));
  CalibrationState = range_ == RangeVoltage ? StateVoltageZero : StateCurrentZero;
  StatusBar1->setText(QStringLiteral(" "));
}

void TForm6::Button2Click() {
  failureShown_ = false;
  if (!CheckConnection()) return;
  switch (CalibrationState) {
    case StateVoltageZero:
    case StateCurrentZero:
      ZeroStep();
      break;
    case StateVoltageReference:
    case StateCurrentReference:
      ReferenceStep();
      break;
    default:
      break;
  }
}

void TForm6::Button3Click() { reject(); }

void TForm6::done(int result) {
  // A byte left unrestored must not vanish with the window: it stays open, idle, showing
  // which bytes and why, and the next close closes it.
  if (CalibrationState != StateIdle && CheckConnection() && !Abandon()) return;
  QDialog::done(result);
}

void TForm6::keyPressEvent(QKeyEvent* event) {
  // Escape must not end a running calibration in passing, as Return presses nothing;
  // abandoning it is "Zrušit" or "Cancel".
  if (event->matches(QKeySequence::Cancel) && CalibrationState != StateIdle) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TForm6::Button4Click() {
  failureShown_ = false;
  if (!CheckConnection() || CalibrationState == StateIdle) return;
  Abandon();
}

bool TForm6::Measure(double& value) {
  StatusBar1->setText(MeasuringText);
  // Blocking on purpose: the input settles, and nothing else may talk to the module meanwhile.
  if (measurementDelayMs_ > 0) QThread::msleep(static_cast<unsigned long>(measurementDelayMs_));
  const uint32_t status = MeasureInput(data_->Interface, handle_, moduleAddress_, input_, value);
  if (status != 0) {
    const QString text = DriverStatusText(data_->Interface, status);
    StatusBar1->setText(QStringLiteral(" ") + text);
    failureShown_ = true;
    AppendLine(text);
    Abandon();
    return false;
  }
  return true;
}

void TForm6::ZeroStep() {
  // The state, not ComboBox1, says which range is being calibrated.
  const bool voltage = CalibrationState == StateVoltageZero;
  if (!Measure(zeroReading_)) return;
  StatusBar1->setText(QStringLiteral(" "));
  AppendLine(QString());
  AppendLine(ApplyReferenceInstruction(voltage ? RangeVoltage : RangeCurrent));
  CalibrationState = voltage ? StateVoltageReference : StateCurrentReference;
}

void TForm6::ReferenceStep() {
  const bool voltage = CalibrationState == StateVoltageReference;
  const uint8_t range = voltage ? RangeVoltage : RangeCurrent;
  double entered = 0;
  if (!ParseReferenceText(Edit2->text(), entered)) {
    AppendLine(ReferenceNumberText(range));
    Abandon();
    return;
  }
  if (!ReferenceInWindow(range, entered)) {
    AppendLine(ReferenceWindowText(range));
    Abandon();
    return;
  }
  enteredValue_ = entered;

  if (!Measure(referenceReading_)) return;

  if (!ComputeCalibrationConstants(range, enteredValue_, zeroReading_, referenceReading_, gain_, offset_)) {
    AppendLine(MeasuredValuesErrorText);
    Abandon();
    return;
  }

  StatusBar1->setText(QStringLiteral(" Probíhá zápis kalibračních konstant."));
  // The readings were taken under the neutral constants; once the former ones are back a
  // repeated step would compute from the wrong base, so a failed byte ends the calibration.
  if (session_->StoreConstants(gain_, offset_) != ConfigWriteResult::Written) {
    failureShown_ = true;
    Abandon();
    return;
  }
  // The new constants stay; the input gets its former range back.
  const CalibrationSession::Restored rangeBack = session_->Restore();
  session_.reset();

  AppendLine(QString());
  AppendLine(CalibratedText);
  AppendLine(rangeBack.text);
  AppendLine(QString());
  AppendLine(Separator);
  AppendLine(QString());
  AppendLine(ChooseRangeText);
  if (rangeBack.complete)
    StatusBar1->setText(QStringLiteral(" "));
  else
    failureShown_ = true;
  CalibrationState = StateIdle;
}

void TForm6::Timer1Timer() {
  if (data_ == nullptr) return;
  if (!IsConnected(data_)) {
    StatusBar1->setText(NotConnectedText);
    return;
  }
  // The record's handle and address, not the ones a running calibration copied at its start:
  // the steps keep talking to the module they started with.
  const int input = ComboBox2->currentIndex();
  const ExchangeResult r = ModuleTransact(data_->Interface, data_->DriverHandle, data_->ModuleAddress,
                                          Cmd::ReadChannel, uint8_t(input < 0 ? 0 : input));
  const QString text = DriverStatusText(data_->Interface, r.Status);
  if (r.Status != 0) {
    Edit3->clear();
    if (!failureShown_) StatusBar1->setText(QStringLiteral(" ") + text);
    return;
  }
  float value = static_cast<float>(DecodeMeasuredValue(r.Data[1], r.Data[2], r.Data[3], r.Data[4]));
  int decimals = r.Data[4] & 0x7F;
  if (ComboBox1->currentIndex() == 1) {
    // Amperes shown as milliamperes; a module reporting fewer than 3 places gives whole numbers.
    value *= 1000.0f;
    decimals -= 3;
  }
  Edit3->setText(FormatFixedPrecision5(value, decimals < 0 ? 0 : decimals));
  if (!failureShown_) StatusBar1->setText(QStringLiteral(" ") + text);
}
