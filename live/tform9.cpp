#include "live/tform9.h"

#include <QCheckBox>
#include <QPushButton>

#include "ui/status_bar.h"
#include "base/exchange/commands.h"

TForm9::TForm9(QWidget* parent)
    : ModuleWindow(parent, QStringLiteral("Zápis na digitální výstupy"), 410, 271) {
  for (int n = 0; n < 32; ++n) {
    auto* box = new QCheckBox(QStringLiteral("DOUT%1").arg(n), this);
    box->setObjectName(QStringLiteral("CheckBox%1").arg(n + 1));
    box->setGeometry(24 + 96 * (n / 8), 16 + 20 * (n % 8), 88, 17);
    boxes_[n] = box;
  }

  auto* write = new QPushButton(QStringLiteral("Zapsat"), this);
  write->setObjectName(QStringLiteral("Button1"));
  write->setGeometry(224, 200, 75, 25);
  connect(write, &QPushButton::clicked, this, &TForm9::Button1Click);

  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("Button2"));
  cancel->setGeometry(312, 200, 75, 25);
  connect(cancel, &QPushButton::clicked, this, &TForm9::Button2Click);

  FormCreate();
}

std::array<uint8_t, 4> TForm9::outputBytes() const {
  std::array<uint8_t, 4> bytes{};
  for (int n = 0; n < 32; ++n) SetGroupBit(bytes, n, boxes_[n]->isChecked());
  return bytes;
}

void TForm9::Button1Click() {
  if (data_ == nullptr) return;
  Sequence sequence(this);
  if (!sequence) return;
  if (!connectionUp()) return;
  const auto bytes = outputBytes();
  const ExchangeResult result =
      exchange(Cmd::WriteOutputs, DigitalIndex, {0, bytes[0], bytes[1], bytes[2], bytes[3]});
  if (result.Status != 0) {
    showExchangeStatus(result.Status);
  } else {
    statusBar()->setText(QStringLiteral(" Data zapsána"));
  }
}

void TForm9::Button2Click() { close(); }
