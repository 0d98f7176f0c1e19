#include "live/tform15.h"

#include <QPushButton>
#include <QTimer>

#include "ui/status_bar.h"
#include "base/exchange/commands.h"

TForm15::TForm15(QWidget* parent)
    : BitWindow(parent, QStringLiteral("Status registr"), 400, 276,
                Columns{{24, 136, 224, 320}, {72, 160, 248, 344}}, StatusBitNames()) {
  auto* clear = new QPushButton(QStringLiteral("Vynulovat"), this);
  clear->setObjectName(QStringLiteral("Button2"));
  clear->setGeometry(24, 192, 89, 25);
  connect(clear, &QPushButton::clicked, this, &TForm15::Button2Click);

  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("Button1"));
  cancel->setGeometry(296, 192, 75, 25);
  connect(cancel, &QPushButton::clicked, this, &TForm15::Button1Click);

  connect(createPollTimer(500), &QTimer::timeout, this, &TForm15::Timer1Timer);
  FormCreate();
}

void TForm15::Button1Click() { close(); }

void TForm15::Timer1Timer() { pollBits(Cmd::ReadStatus, 0); }

void TForm15::Button2Click() {
  if (data_ == nullptr) return;
  Sequence sequence(this);
  if (!sequence) return;
  if (!connectionUp()) return;
  const ExchangeResult result = exchange(Cmd::ClearStatus, 0);
  // The driver is asked for its text whatever the status; success shows nothing, since the
  // next poll shows the register as the module then has it.
  const QString text = statusText(result.Status);
  if (result.Status != 0) statusBar()->setText(QLatin1Char(' ') + text);
}
