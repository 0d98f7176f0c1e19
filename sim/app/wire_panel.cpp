#include "sim/app/wire_panel.h"

#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>

#include <cmath>

#include "sim/sim_server.h"
#include "sim/transport/serial_line.h"

QString TurnaroundText(std::chrono::nanoseconds turnaround) {
  return QLocale().toString(double(turnaround.count()) / 1e6, 'g', 6) + QStringLiteral(" ms");
}

WirePanel::WirePanel(SimServer* server, QWidget* parent)
    : QGroupBox(QStringLiteral("Časování vedení"), parent), server_(server) {
  timing_ = new QLabel(server_->wire() == simline::Wire::Paced
                           ? QStringLiteral("Každý bajt trvá 10 bitů při rychlosti modulu, vedení nese jeden rámec za druhým.")
                           : QStringLiteral("Bez časování: odpovědi hned (jen pro testy)."));
  timing_->setObjectName("WireTimingLabel");
  timing_->setWordWrap(true);
  turnaround_ = new QDoubleSpinBox;
  turnaround_->setObjectName("TurnaroundSpin");
  turnaround_->setDecimals(3);
  turnaround_->setRange(0, simline::MaxTurnaroundMs);
  turnaround_->setSingleStep(0.5);
  turnaround_->setSuffix(QStringLiteral(" ms"));
  turnaround_->setKeyboardTracking(false);
  turnaround_->setEnabled(false);
  connect(turnaround_, &QDoubleSpinBox::valueChanged, this, &WirePanel::apply);

  auto* form = new QFormLayout(this);
  form->addRow(timing_);
  if (const SimSerialLine* serial = server_->serialLine()) {
    auto* where = new QLabel(QStringLiteral("%1 (%2)").arg(QString::fromStdString(serial->path()),
                                                          QString::fromStdString(serial->device())));
    where->setObjectName("SerialLineLabel");
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QStringLiteral("Sériová linka"), where);
  }
  form->addRow(QStringLiteral("Doba zpracování vybraného modulu"), turnaround_);
}

void WirePanel::setModule(uint64_t id) {
  moduleId_ = id;
  turnaround_->setEnabled(id != 0);
}

void WirePanel::apply() {
  const auto turnaround = std::chrono::nanoseconds(std::llround(turnaround_->value() * 1e6));
  server_->withBus([&](SimBus& bus) {
    if (const int index = bus.indexOf(moduleId_); index >= 0) bus.setTurnaround(index, turnaround);
  });
}

// Follows the module, whoever changed its turnaround; nothing is sent back while it does.
void WirePanel::refresh(const SimBus& bus) {
  const int index = bus.indexOf(moduleId_);
  if (index < 0 || turnaround_->hasFocus()) return;
  const double ms = double(bus.entry(index).turnaround.count()) / 1e6;
  if (turnaround_->value() == ms) return;
  const QSignalBlocker block(turnaround_);
  turnaround_->setValue(ms);
}
