#pragma once

#include <QLabel>

// A one-line label that keeps its height whatever it says: a text too long for its width is
// cut with "…" and shown whole in the tooltip. text() is always the whole text.
class ElidedLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

  void setText(const QString& text);
  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};
