#include "line/poll/bit_strip.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include "line/poll/line_model.h"

void PaintBitStrip(QPainter* painter, const QRect& rect, uint32_t bits, const QColor& on) {
  const int h = std::min(rect.height() - 4, 10);
  const int y = rect.top() + (rect.height() - h) / 2;
  int x = rect.left() + 2;
  painter->save();
  painter->setPen(QColor(0x80, 0x80, 0x80));
  for (int n = 0; n < 32; ++n) {
    if (n > 0 && n % 8 == 0) x += 3;
    painter->setBrush((bits >> n & 1u) ? on : QColor(Qt::white));
    painter->drawRect(x, y, 4, h);
    x += 5;
  }
  painter->restore();
}

void BitStripDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const QVariant bits = index.data(LineModel::BitsRole);
  if (!bits.isValid()) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  QStyleOptionViewItem plain = option;
  initStyleOption(&plain, index);
  plain.text.clear();
  QStyle* style = option.widget != nullptr ? option.widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &plain, painter, option.widget);
  const bool outputs = index.column() == LineModel::Outputs;
  PaintBitStrip(painter, option.rect, bits.toUInt(), outputs ? QColor(0xE0, 0x90, 0x00) : QColor(0x00, 0x90, 0x30));
}

QSize BitStripDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setWidth(std::max(size.width(), BitStripWidth));
  return size;
}
