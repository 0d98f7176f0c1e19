#include "line/app/module_detail_window.h"

#include <QDateTime>
#include <QGridLayout>
#include <QLocale>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTimerEvent>
#include <QVBoxLayout>

#include "base/text/baud.h"
#include "base/calibration/calibration_constants.h"
#include "base/text/value_format.h"
#include "line/calibration/calibration_history.h"
#include "line/calibration/calibration_wizard.h"
#include "line/trend/input_timeline.h"
#include "line/poll/line_model.h"
#include "line/poll/line_worker.h"
#include "line/trend/trend_plot.h"
#include "ui/question.h"
#include "ui/return_key.h"

namespace {

QString Hex(uint32_t word) { return QStringLiteral("0x") + QStringLiteral("%1").arg(word, 8, 16, QLatin1Char('0')).toUpper(); }

QString Failure(const QString& text) { return QStringLiteral("<span style='color:#b00000;font-weight:bold'>%1</span>").arg(text.toHtmlEscaped()); }

}  // namespace

ModuleDetailWindow::ModuleDetailWindow(const LineModule& module, LineWorker* worker,
                                       std::shared_ptr<const ModuleHistory> history, QWidget* parent)
    : QWidget(parent, Qt::Window), module_(module), worker_(worker), history_(std::move(history)) {
  setObjectName(QStringLiteral("ModuleDetailWindow"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(QStringLiteral("Modul %1 (%2 Bd) – %3").arg(module.address).arg(BaudCodeToRate(module.baudCode)).arg(module.ident));
  auto* layout = new QVBoxLayout(this);

  auto* head = new QHBoxLayout;
  value_ = new QLabel(this);
  value_->setObjectName(QStringLiteral("Ain0Value"));
  QFont big = value_->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  value_->setFont(big);
  state_ = new QLabel(QStringLiteral("čeká na první odpověď"), this);
  state_->setObjectName(QStringLiteral("ModuleState"));
  all_ = new QPushButton(QStringLiteral("&Celý záznam, sledovat"), this);
  all_->setObjectName(QStringLiteral("ShowAll"));
  head->addWidget(new QLabel(QStringLiteral("AIN 0:"), this));
  head->addWidget(value_);
  head->addSpacing(20);
  head->addWidget(state_, 1);
  head->addWidget(all_);
  layout->addLayout(head);

  plot_ = new TrendPlot(this);
  const QString ident = module.ident.simplified();
  plot_->setCaption(QStringLiteral("AIN 0 – modul %1 (%2 Bd)%3")
                        .arg(module.address)
                        .arg(BaudCodeToRate(module.baudCode))
                        .arg(ident.isEmpty() ? QString() : QStringLiteral(", ") + ident),
                    QStringLiteral("trend-modul%1-%2Bd").arg(module.address).arg(BaudCodeToRate(module.baudCode)));
  plot_->setSeries(&history_->ain0, QStringLiteral("V"));
  layout->addWidget(plot_, 3);

  auto* lower = new QHBoxLayout;
  auto* inputs = new QGroupBox(QStringLiteral("Vstupy DIN 0–31 (posledních %1 s)").arg(int(InputTimeline::SpanSeconds)), this);
  auto* inputsLayout = new QVBoxLayout(inputs);
  timeline_ = new InputTimeline(inputs);
  timeline_->setHistory(&history_->inputs);
  inputsLayout->addWidget(timeline_);
  lower->addWidget(inputs, 3);

  auto* side = new QVBoxLayout;
  auto* outputs = new QGroupBox(QStringLiteral("Výstupy DOUT"), this);
  auto* og = new QGridLayout(outputs);
  outputsText_ = new QLabel(outputs);
  outputsText_->setObjectName(QStringLiteral("OutputsWord"));
  outputsText_->setWordWrap(true);
  og->addWidget(outputsText_, 0, 0, 1, 4);
  auto* outputLabel = new QLabel(QStringLiteral("&Výstup"), outputs);
  og->addWidget(outputLabel, 1, 0);
  output_ = new QSpinBox(outputs);
  outputLabel->setBuddy(output_);
  output_->setObjectName(QStringLiteral("OutputNumber"));
  output_->setRange(0, 31);
  og->addWidget(output_, 1, 1);
  on_ = new QPushButton(QStringLiteral("&Zapnout"), outputs);
  on_->setObjectName(QStringLiteral("OutputOn"));
  off_ = new QPushButton(QStringLiteral("Vyp&nout"), outputs);
  off_->setObjectName(QStringLiteral("OutputOff"));
  og->addWidget(on_, 1, 2);
  og->addWidget(off_, 1, 3);
  auto* pulseLabel = new QLabel(QStringLiteral("P&ulz [ms]"), outputs);
  og->addWidget(pulseLabel, 2, 0);
  pulseMs_ = new QSpinBox(outputs);
  pulseLabel->setBuddy(pulseMs_);
  pulseMs_->setObjectName(QStringLiteral("PulseMs"));
  pulseMs_->setRange(10, 60000);
  pulseMs_->setValue(500);
  og->addWidget(pulseMs_, 2, 1);
  pulse_ = new QPushButton(QStringLiteral("Pu&lz"), outputs);
  pulse_->setObjectName(QStringLiteral("OutputPulse"));
  og->addWidget(pulse_, 2, 2, 1, 2);
  side->addWidget(outputs);

  auto* status = new QGroupBox(QStringLiteral("Status registr"), this);
  auto* sl = new QVBoxLayout(status);
  statusBits_ = new QLabel(QStringLiteral("–"), status);
  statusBits_->setObjectName(QStringLiteral("StatusBits"));
  clear_ = new QPushButton(QStringLiteral("Nulovat Status &registr…"), status);
  clear_->setObjectName(QStringLiteral("ClearStatus"));
  sl->addWidget(statusBits_);
  sl->addWidget(clear_);
  side->addWidget(status);
  auto* settings = new QPushButton(QStringLiteral("Na&stavení…"), this);
  settings->setObjectName(QStringLiteral("SettingsButton"));
  connect(settings, &QPushButton::clicked, this, [this] { emit settingsRequested(module_); });
  side->addWidget(settings);
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("ModuleMessage"));
  message_->setWordWrap(true);
  side->addWidget(message_);
  side->addStretch(1);
  lower->addLayout(side, 2);
  calibrations_ = new CalibrationHistory(module, this);
  lower->addWidget(calibrations_, 2);
  layout->addLayout(lower, 2);

  connect(all_, &QPushButton::clicked, plot_, &TrendPlot::showAll);
  connect(on_, &QPushButton::clicked, this, [this] { switchOutput(true); });
  connect(off_, &QPushButton::clicked, this, [this] { switchOutput(false); });
  connect(pulse_, &QPushButton::clicked, this, &ModuleDetailWindow::pulseOutput);
  connect(clear_, &QPushButton::clicked, this, &ModuleDetailWindow::clearStatus);
  connect(calibrations_, &CalibrationHistory::calibrateRequested, this, &ModuleDetailWindow::openCalibration);
  // A detail is looked at and put away: Escape and Ctrl+W close it like a dialog.
  for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
    connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);
  KeepReturnFromButtons(this);
  showOutputs();
  showUnit();
  resize(980, 720);
  startTimer(200);  // the trend and timeline repaint at most five times a second
}

void ModuleDetailWindow::showUnit() {
  if (!history_->current || plotted_ == history_->current) return;
  plotted_ = history_->current;
  plot_->setSeries(&history_->ain0, *plotted_ ? QStringLiteral("mA") : QStringLiteral("V"));
}

void ModuleDetailWindow::addReading(const ModuleReading& r) {
  if (!r.ok) {
    state_->setText(Failure(QStringLiteral("neodpovídá: ") + r.error));
    return;
  }
  showUnit();
  last_ = r;
  grown_ = true;
}

void ModuleDetailWindow::timerEvent(QTimerEvent*) {
  if (!grown_ || !last_) return;
  grown_ = false;
  value_->setText(FormatFixedPrecision5(float(last_->ain0), last_->decimals) + QLatin1Char(' ') + last_->unit());
  state_->setText(QStringLiteral("odpovídá, odečteno v %1")
                      .arg(QLocale().toString(QDateTime::fromMSecsSinceEpoch(last_->timeMs).time(), QStringLiteral("HH:mm:ss"))));
  statusBits_->setText(LineModel::StatusBitsText(last_->statusRegister));
  if (isVisible()) {
    plot_->seriesGrew();
    timeline_->update();
  }
}

void ModuleDetailWindow::pollingStopped(bool disconnected) {
  // "odpovídá" would claim what nobody is asking any more.
  const QString why = disconnected ? QStringLiteral("odpojeno") : QStringLiteral("dotazování neběží");
  state_->setText(last_ ? QStringLiteral("%1; naposledy odečteno v %2")
                              .arg(why, QLocale().toString(QDateTime::fromMSecsSinceEpoch(last_->timeMs).time(),
                                                           QStringLiteral("HH:mm:ss")))
                        : why);
}

void ModuleDetailWindow::setOutputs(std::optional<uint32_t> word) {
  outputs_ = word;
  showOutputs();
}

void ModuleDetailWindow::showOutputs() {
  outputsText_->setText(outputs_ ? QStringLiteral("Naposledy zapsáno: %1\n(modul výstupy nehlásí)").arg(Hex(*outputs_))
                                 : QStringLiteral("Naposledy zapsáno: neznámé\n(modul výstupy nehlásí)"));
}

bool ModuleDetailWindow::confirmUnknownOutputs() {
  if (outputs_) return true;
  // The word goes out whole: before the first write nobody knows what the others hold.
  return AskYesNo(this, windowTitle(),
                  QStringLiteral("Stav výstupů není znám. Zapíše se celé slovo: ostatní výstupy budou vypnuty. Pokračovat?"));
}

void ModuleDetailWindow::switchOutput(bool on) {
  if (!confirmUnknownOutputs()) return;
  const uint32_t bit = 1u << output_->value();
  const uint32_t base = outputs_.value_or(0);
  message_->setText(QStringLiteral("Zapisuje se…"));
  worker_->writeOutputs(module_, on ? base | bit : base & ~bit);
}

void ModuleDetailWindow::pulseOutput() {
  if (!confirmUnknownOutputs()) return;
  const uint32_t bit = 1u << output_->value();
  const uint32_t base = outputs_.value_or(0);
  message_->setText(QStringLiteral("Pulz…"));
  worker_->pulseOutputs(module_, base ^ bit, base, pulseMs_->value());
}

void ModuleDetailWindow::clearStatus() {
  if (!AskYesNo(this, windowTitle(), QStringLiteral("Opravdu vynulovat Status registr modulu %1?").arg(module_.address)))
    return;
  message_->setText(QStringLiteral("Nuluje se…"));
  worker_->clearStatus(module_);
}

void ModuleDetailWindow::commandDone(const CommandResult& r) {
  if (r.status != 0) {
    message_->setText(Failure((r.kind == CommandResult::Outputs ? QStringLiteral("Zápis výstupů selhal: ")
                                                                : QStringLiteral("Nulování selhalo: ")) + r.error));
    return;
  }
  if (r.kind == CommandResult::Outputs) {
    setOutputs(r.word);
    message_->setText(QStringLiteral("Výstupy zapsány: %1").arg(Hex(r.word)));
  } else {
    message_->setText(QStringLiteral("Status registr vynulován."));
  }
}

CalibrationWizard* ModuleDetailWindow::openCalibration() {
  if (wizard_ == nullptr) {
    wizard_ = new CalibrationWizard(worker_, module_, last_ ? (last_->current ? RangeCurrent : RangeVoltage) : -1, calibrations_->tag(), this);
    wizard_->setAttribute(Qt::WA_DeleteOnClose);
    wizard_->setRecordFolder(calibrations_->recordFolder());
    connect(wizard_, &CalibrationWizard::recordSaved, calibrations_, [this](const QString&, const QString& tag) { calibrations_->setTag(tag); });
  }
  wizard_->show();
  wizard_->raise();
  wizard_->activateWindow();
  return wizard_;
}
