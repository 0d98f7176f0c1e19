#include "live/tform3.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "base/exchange/commands.h"
#include "base/text/value_format.h"

namespace {
constexpr uint8_t kInput = 0;  // the one analog input the window covers
constexpr uint8_t kRangeAddress = CfgAddr::AinRange + kInput;
}  // namespace

TForm3::TForm3(QWidget* parent)
    : ModuleWindow(parent, QStringLiteral("Okamžité hodnoty analogových vstupů"), 375, 164) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

  auto* heading = new QLabel(QStringLiteral("Hodnota"), this);
  heading->setObjectName(QStringLiteral("Label9"));
  heading->setGeometry(112, 20, 89, 16);
  heading->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  auto* row = new QLabel(QStringLiteral("Vstup 0"), this);
  row->setObjectName(QStringLiteral("Label1"));
  row->setGeometry(24, 44, 80, 16);

  QFrame* panel = createValuePanel(QStringLiteral("Panel1"), 112, 40, 89, 25);

  value_ = new QLabel(QStringLiteral("0"), panel);
  value_->setObjectName(QStringLiteral("Label18"));
  value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  value_->setGeometry(3, 3, 89 - 8, 25 - 6);

  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("Button1"));
  cancel->setGeometry(272, 96, 75, 25);
  connect(cancel, &QPushButton::clicked, this, &TForm3::Button1Click);

  connect(createPollTimer(500), &QTimer::timeout, this, &TForm3::Timer1Timer);
  FormCreate();
}

void TForm3::FormCreate() {
  ModuleWindow::FormCreate();
  rangeRead_ = false;
  unit_.clear();
  value_->setText(QString());
}

void TForm3::Button1Click() { close(); }

void TForm3::Timer1Timer() {
  if (data_ == nullptr) return;
  // Messages are processed between the exchanges, so this timer may fall due, or the window
  // be closed, while a tick is still running.
  Sequence sequence(this);
  if (!sequence) return;
  if (!connectionUp()) return;

  if (!rangeRead_) {
    if (!processPendingMessages()) return;
    const ExchangeResult range = exchange(Cmd::ReadConfigByte, 0, {0, kRangeAddress, kRangeAddress, 0, 0});
    if (range.Status != 0) {
      showExchangeStatus(range.Status);
      return;
    }
    unit_ = (range.Data[3] & 1) ? QStringLiteral("mA") : QStringLiteral("V");
    rangeRead_ = true;
  }

  if (!processPendingMessages()) return;
  const ExchangeResult reading = exchange(Cmd::ReadChannel, kInput);
  if (reading.Status != 0) {
    showExchangeStatus(reading.Status);
    return;
  }
  float value = static_cast<float>(
      DecodeMeasuredValue(reading.Data[1], reading.Data[2], reading.Data[3], reading.Data[4]));
  int decimals = reading.Data[4] & 0x7F;
  if (unit_ == QLatin1String("mA")) {
    value *= 1000.0f;  // the module reports amperes
    decimals = 3;
  }
  value_->setText(FormatFixedPrecision5(value, decimals) + QLatin1Char(' ') + unit_);
  showExchangeStatus(0);
}
