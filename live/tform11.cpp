#include "live/tform11.h"

#include <QPushButton>
#include <QTimer>

#include "base/exchange/commands.h"

namespace {
QStringList InputNames() {
  QStringList names;
  for (int n = 0; n < 32; ++n) names << QStringLiteral("DIN%1").arg(n);
  return names;
}
}  // namespace

TForm11::TForm11(QWidget* parent)
    : BitWindow(parent, QStringLiteral("Okamžité hodnoty digitálních vstupů"), 436, 282,
                Columns{{24, 128, 232, 336}, {64, 168, 272, 376}}, InputNames()) {
  auto* button = new QPushButton(QStringLiteral("Cancel"), this);
  button->setObjectName(QStringLiteral("Button1"));
  button->setGeometry(336, 200, 75, 25);
  connect(button, &QPushButton::clicked, this, &TForm11::Button1Click);

  connect(createPollTimer(100), &QTimer::timeout, this, &TForm11::Timer1Timer);
  FormCreate();
}

void TForm11::Button1Click() { close(); }

void TForm11::Timer1Timer() { pollBits(Cmd::ReadChannel, DigitalIndex); }
