#include "live/bit_window.h"

#include <QFrame>
#include <QLabel>

#include "base/exchange/commands.h"

namespace {
constexpr int kFirstRowY = 32;
constexpr int kRowPitch = 16;
constexpr int kPanelY = 24;
constexpr int kPanelWidth = 25;
constexpr int kPanelHeight = 145;
constexpr int kLabelHeight = 16;
}  // namespace

BitWindow::BitWindow(QWidget* parent, const QString& caption, int clientWidth, int clientHeight,
                     const Columns& columns, const QStringList& names)
    : ModuleWindow(parent, caption, clientWidth, clientHeight) {
  for (int column = 0; column < 4; ++column) {
    QFrame* panel = createValuePanel(QStringLiteral("Panel%1").arg(column + 1), columns.panelX[column],
                                     kPanelY, kPanelWidth, kPanelHeight);

    const int nameWidth = columns.panelX[column] - columns.nameX[column] - 2;
    for (int row = 0; row < 8; ++row) {
      const int bit = 8 * column + row;
      auto* name = new QLabel(names.value(bit), this);
      name->setObjectName(QStringLiteral("Label%1").arg(1 + bit));
      name->setGeometry(columns.nameX[column], kFirstRowY + kRowPitch * row, nameWidth, kLabelHeight);

      auto* value = new QLabel(QStringLiteral("0"), panel);
      value->setObjectName(QStringLiteral("Label%1").arg(33 + bit));
      value->setGeometry(8, 8 + kRowPitch * row, kPanelWidth - 10, kLabelHeight);
      values_[bit] = value;
    }
  }
}

void BitWindow::pollBits(uint8_t command, uint8_t index) {
  if (data_ == nullptr) return;
  Sequence sequence(this);
  if (!sequence) return;
  if (!connectionUp()) return;

  const ExchangeResult result = exchange(command, index);
  if (result.Status != 0) {
    showExchangeStatus(result.Status);
    return;
  }
  const auto bytes = GroupBytes(result);
  for (int bit = 0; bit < 32; ++bit) {
    values_[bit]->setText(GroupBit(bytes, bit) ? QStringLiteral("1") : QStringLiteral("0"));
  }
  showExchangeStatus(0);
}
