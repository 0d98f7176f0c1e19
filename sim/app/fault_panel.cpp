#include "sim/app/fault_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <iterator>
#include <utility>

#include "sim/sim_server.h"

namespace {
// In the order of SimFault::Kind and SimFault::Form.
const char* const KindTexts[] = {"bez odpovědi", "zpožděná odpověď", "vadná odpověď",
                                 "odmítnutí",    "výpadek napájení", "kolize na vedení"};
const char* const FormTexts[] = {"špatná délka", "špatné pořadové číslo", "špatná adresa", "převrácené bity",
                                "špatná hodnota z modulu"};

QSpinBox* Spin(int low, int high, int value, const QString& special = {}, const QString& suffix = {}) {
  auto* spin = new QSpinBox;
  spin->setRange(low, high);
  spin->setValue(value);
  spin->setSpecialValueText(special);
  spin->setSuffix(suffix);
  return spin;
}
}  // namespace

QString FaultText(const SimFault& f) {
  QString text = QString::fromUtf8(KindTexts[f.kind]);
  switch (f.kind) {
    case SimFault::Delay: text = QStringLiteral("zpoždění %1 ms").arg(f.delayMs); break;
    case SimFault::Malformed: text += QStringLiteral(" (%1)").arg(QString::fromUtf8(FormTexts[f.form])); break;
    case SimFault::Refuse: text += QStringLiteral(", stav %1").arg(f.status); break;
    case SimFault::PowerLoss:
      text += QStringLiteral(" při %1. zápisu, zápis se %2").arg(f.afterWrites).arg(f.keepWrite ? "provede" : "ztratí");
      break;
    default: break;
  }
  if (f.command >= 0) text += QStringLiteral(", příkaz %1").arg(f.command);
  if (f.count > 0) text += QStringLiteral(", ještě %1×").arg(f.count);
  return text;
}

QString FaultListText(const std::vector<SimFault>& faults) {
  QStringList texts;
  for (const auto& f : faults) texts << FaultText(f);
  return texts.join(QStringLiteral("; "));
}

FaultPanel::FaultPanel(SimServer* server, QWidget* parent) : QGroupBox(QStringLiteral("Poruchy"), parent), server_(server) {
  target_ = new QComboBox;
  target_->setObjectName("FaultTarget");
  target_->addItems({QStringLiteral("vybraný modul"), QStringLiteral("celé vedení")});
  kind_ = new QComboBox;
  kind_->setObjectName("FaultKind");
  for (const char* k : KindTexts) kind_->addItem(QString::fromUtf8(k));
  command_ = Spin(-1, 255, -1, QStringLiteral("každý"));
  count_ = Spin(0, 1000000, 1, QStringLiteral("do zrušení"), QStringLiteral("×"));
  delay_ = Spin(1, 60000, 500, {}, QStringLiteral(" ms"));
  form_ = new QComboBox;
  for (const char* f : FormTexts) form_->addItem(QString::fromUtf8(f));
  status_ = Spin(20, 23, 20);
  after_ = Spin(1, 1000000, 1, {}, QStringLiteral(". zápisu"));
  keep_ = new QCheckBox(QStringLiteral("přerušený zápis se provede"));
  armed_ = new QLabel;
  armed_->setObjectName("ArmedFaults");
  armed_->setWordWrap(true);
  armed_->setStyleSheet(QStringLiteral("color: #b00000;"));

  // Two pairs a row, so that the box stays as low as the line box beside it.
  auto* form = new QGridLayout;
  const std::pair<const char*, QWidget*> rows[] = {
      {"Cíl", target_},      {"Druh", kind_},         {"Příkaz", command_}, {"Počet", count_},
      {"Zpoždění", delay_},  {"Vada", form_},         {"Stav", status_},    {"Výpadek při", after_},
  };
  for (int i = 0; i < int(std::size(rows)); ++i) {
    form->addWidget(new QLabel(QString::fromUtf8(rows[i].first)), i / 2, (i % 2) * 2);
    form->addWidget(rows[i].second, i / 2, (i % 2) * 2 + 1);
  }
  form->addWidget(keep_, 4, 3);
  form->setColumnStretch(1, 1);
  form->setColumnStretch(3, 1);
  auto* arm = arm_ = new QPushButton(QStringLiteral("Nastavit poruchu"));
  arm->setObjectName("ArmFaultButton");
  auto* clear = clear_ = new QPushButton(QStringLiteral("Zrušit poruchy"));
  clear->setObjectName("ClearFaultsButton");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(arm);
  buttons->addWidget(clear);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  layout->addWidget(armed_);
  layout->addStretch(1);

  connect(kind_, &QComboBox::currentIndexChanged, this, &FaultPanel::enableForKind);
  connect(target_, &QComboBox::currentIndexChanged, this, &FaultPanel::enableButtons);
  connect(arm, &QPushButton::clicked, this, [this] {
    const SimFault fault = faultFromControls();
    server_->withBus([&](SimBus& bus) {
      if (const int t = target(bus); t >= SimBus::Line) bus.arm(t, fault);
    });
  });
  connect(clear, &QPushButton::clicked, this, [this] {
    server_->withBus([&](SimBus& bus) {
      if (const int t = target(bus); t >= SimBus::Line) bus.clearFaults(t);
    });
  });
  enableForKind();
  enableButtons();
}

void FaultPanel::setModule(uint64_t id) {
  moduleId_ = id;
  enableButtons();
}

void FaultPanel::enableButtons() {
  const bool some = target_->currentIndex() == 1 || moduleId_ != 0;
  arm_->setEnabled(some);
  clear_->setEnabled(some);
}

int FaultPanel::target(const SimBus& bus) const {
  if (target_->currentIndex() == 1) return SimBus::Line;
  const int index = bus.indexOf(moduleId_);
  return index >= 0 ? index : SimBus::Line - 1;
}

void FaultPanel::enableForKind() {
  const auto kind = SimFault::Kind(kind_->currentIndex());
  command_->setEnabled(kind != SimFault::PowerLoss);
  count_->setEnabled(kind != SimFault::PowerLoss);
  delay_->setEnabled(kind == SimFault::Delay);
  form_->setEnabled(kind == SimFault::Malformed);
  status_->setEnabled(kind == SimFault::Refuse);
  after_->setEnabled(kind == SimFault::PowerLoss);
  keep_->setEnabled(kind == SimFault::PowerLoss);
}

SimFault FaultPanel::faultFromControls() const {
  SimFault f;
  f.kind = SimFault::Kind(kind_->currentIndex());
  if (f.kind != SimFault::PowerLoss) {
    f.command = command_->value();
    f.count = count_->value();
  }
  f.delayMs = delay_->value();
  f.form = SimFault::Form(form_->currentIndex());
  f.status = uint8_t(status_->value());
  f.afterWrites = after_->value();
  f.keepWrite = keep_->isChecked();
  return f;
}

void FaultPanel::refresh(const SimBus& bus) {
  QStringList lines;
  if (!bus.faults(SimBus::Line).empty())
    lines << QStringLiteral("Vedení: ") + FaultListText(bus.faults(SimBus::Line));
  for (int i = 0; i < bus.size(); ++i)
    if (!bus.faults(i).empty()) lines << QStringLiteral("Modul %1: ").arg(i) + FaultListText(bus.faults(i));
  armed_->setText(lines.join('\n'));
}
