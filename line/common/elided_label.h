#pragma once

#include <QLabel>

// A one-line label that keeps its height and its width whatever it says: a text too long for
// its width is cut with "…" (at its end, or in its middle, where a path keeps its file name)
// and shown whole in the tooltip. text() is always the whole text.
class ElidedLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

  void setText(const QString& text);
  void setElideMode(Qt::TextElideMode mode) { mode_ = mode; }
  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Qt::TextElideMode mode_ = Qt::ElideRight;
};

// Makes a label word-wrapped and never asking for more width than its layout gives it: a word
// longer than a line (a path) is cut at the edge rather than widening the window.
void KeepWrappedLabelNarrow(QLabel* label);
