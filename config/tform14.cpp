#include "config/tform14.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <algorithm>

#include "base/exchange/commands.h"

namespace {

// The three fields in the order of the group boxes.
using Field = std::array<uint8_t, 4> ModuleConfigImage::*;
constexpr std::array<Field, 3> GroupFields = {&ModuleConfigImage::DinNegation,
                                              &ModuleConfigImage::DoutNegation,
                                              &ModuleConfigImage::DoutInitialState};

}  // namespace

TForm14::TForm14(QWidget* parent)
    : ConfigWindow(parent, QStringLiteral("Nastavení digitálních vstupů/výstupů"), 526, 398,
                   DigitalSlots(), /*pauseAfterLast=*/true) {
  const QString captions[3] = {QStringLiteral(" Negace DIN "), QStringLiteral("Negace DOUT "),
                               QStringLiteral(" Počáteční stav DOUT ")};
  const QString channelPrefix[3] = {QStringLiteral("DIN"), QStringLiteral("DOUT"),
                                    QStringLiteral("DOUT")};
  constexpr int groupWidth = 166, groupHeight = 326, groupGap = 6, margin = 8;
  constexpr int rowHeight = 18, blockGap = 8, firstRow = 22, columnX[2] = {10, 86};

  for (int g = 0; g < 3; ++g) {
    auto* group = new QGroupBox(captions[g], this);
    group->setObjectName(QStringLiteral("GroupBox%1").arg(g + 1));
    group->setGeometry(margin + g * (groupWidth + groupGap), margin, groupWidth, groupHeight);
    groups_[std::size_t(g)] = group;
    for (int n = 0; n < 32; ++n) {
      const int number = 32 * g + n + 1;
      auto* box = new QCheckBox(channelPrefix[g] + QString::number(n), group);
      box->setObjectName(QStringLiteral("CheckBox%1").arg(number));
      const int row = n % 16;
      box->setGeometry(columnX[n / 16], firstRow + row * rowHeight + (row >= 8 ? blockGap : 0),
                       76, 17);
      boxes_[std::size_t(number - 1)] = box;
      box->installEventFilter(this);
    }
  }
  for (int g = 0; g < 3; ++g) makeTabStop(32 * g);

  Button1->setGeometry(margin, 344, 75, 25);
  Button2->setGeometry(margin + 87, 344, 75, 25);
  Button3->setGeometry(526 - margin - 162, 344, 75, 25);
  Button4->setGeometry(526 - margin - 75, 344, 75, 25);
  // The shared buttons come first in the focus chain; opening with the focus on "Zapsat"
  // would leave a stray key press one step from writing to the module.
  boxes_.front()->setFocus();
}

void TForm14::makeTabStop(int box) {
  const int first = box / 32 * 32;
  for (int i = first; i < first + 32; ++i) boxes_[std::size_t(i)]->setFocusPolicy(i == box ? Qt::StrongFocus : Qt::ClickFocus);
}

bool TForm14::eventFilter(QObject* watched, QEvent* event) {
  const auto at = std::find(boxes_.begin(), boxes_.end(), watched);
  if (at == boxes_.end()) return ConfigWindow::eventFilter(watched, event);
  const int box = int(at - boxes_.begin()), n = box % 32;
  if (event->type() == QEvent::FocusIn) makeTabStop(box);
  if (event->type() != QEvent::KeyPress) return ConfigWindow::eventFilter(watched, event);
  // Two columns of sixteen: up and down within a column, left and right across.
  int to = n;
  switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Up: to = n % 16 > 0 ? n - 1 : n; break;
    case Qt::Key_Down: to = n % 16 < 15 ? n + 1 : n; break;
    case Qt::Key_Left: to = n >= 16 ? n - 16 : n; break;
    case Qt::Key_Right: to = n < 16 ? n + 16 : n; break;
    default: return ConfigWindow::eventFilter(watched, event);
  }
  boxes_[std::size_t(box - n + to)]->setFocus(Qt::OtherFocusReason);
  return true;
}

void TForm14::ZapisOkno(const ModuleConfigImage& image) {
  for (int g = 0; g < 3; ++g)
    for (int n = 0; n < 32; ++n)
      boxes_[std::size_t(32 * g + n)]->setChecked(GroupBit(image.*GroupFields[std::size_t(g)], n));
}

void TForm14::PrectiOkno(ModuleConfigImage& image) {
  for (int g = 0; g < 3; ++g) {
    std::array<uint8_t, 4> field{};
    for (int n = 0; n < 32; ++n)
      SetGroupBit(field, n, boxes_[std::size_t(32 * g + n)]->isChecked());
    image.*GroupFields[std::size_t(g)] = field;
  }
  setStatus(QStringLiteral(" "));
}
