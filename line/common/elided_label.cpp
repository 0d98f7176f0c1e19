#include "line/common/elided_label.h"

#include <QPainter>
#include <QStyle>

void ElidedLabel::setText(const QString& text) {
  QLabel::setText(text);
  setToolTip(text);
}

QSize ElidedLabel::minimumSizeHint() const {
  return {fontMetrics().averageCharWidth() * 10, fontMetrics().height() + 2 * margin()};
}

QSize ElidedLabel::sizeHint() const {
  const QString line = text().section(QLatin1Char('\n'), 0, 0);
  return {fontMetrics().horizontalAdvance(line) + 2 * margin(), fontMetrics().height() + 2 * margin()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect room = contentsRect().marginsRemoved(QMargins(margin(), margin(), margin(), margin()));
  QString line = text();
  line.replace(QLatin1Char('\n'), QLatin1Char(' '));
  const QString shown = fontMetrics().elidedText(line, mode_, room.width());
  style()->drawItemText(&painter, room, int(Qt::AlignLeft | Qt::AlignVCenter), palette(), isEnabled(), shown,
                        foregroundRole());
}

void KeepWrappedLabelNarrow(QLabel* label) {
  label->setWordWrap(true);
  // An explicit minimum width wins over the hint, which is the longest word's width.
  label->setMinimumWidth(1);
}
