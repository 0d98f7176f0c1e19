#pragma once

#include <QStyledItemDelegate>
#include <cstdint>

class QPainter;

// 32 bits as a compact strip of cells, bit 0 on the left, a gap after every eight.
void PaintBitStrip(QPainter* painter, const QRect& rect, uint32_t bits, const QColor& on);
constexpr int BitStripWidth = 32 * 5 + 3 * 3 + 4;

// Paints LineModel::BitsRole as a strip; a cell without bits keeps its text ("neznámé").
class BitStripDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
