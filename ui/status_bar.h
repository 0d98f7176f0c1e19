#pragma once

#include <QLabel>
#include <QList>
#include <QPalette>
#include <QPixmap>
#include <QRect>
#include <QStaticText>
#include <QStatusBar>
#include <list>
#include <utility>

// A panel of the status bar. It paints as the label would, but keeps its background with the
// frame as a picture, and the laid-out form of the texts it showed last: a sequence repaints its
// panel at once after every byte, the same progress texts come back with every read, and
// drawing the frame and shaping the text again would be most of each repaint.
class StatusPanel : public QLabel {
  Q_OBJECT
 public:
  explicit StatusPanel(QWidget* parent);

  // A text longer than the panel is cut in the middle with "…" and given whole in the
  // tooltip, and the panel asks for no more room than a few letters: no text may widen its
  // window. Off, the panel paints and sizes as the label does.
  void setEliding(bool on);
  bool eliding() const { return eliding_; }
  // The text as painted: the whole text, or its middle cut out.
  QString shownText() const;
  // After a new text: the tooltip says the whole of a text that is cut.
  void textChanged();

  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  const QStaticText& laidOut(const QString& text);
  QPalette colours() const;
  QRect textArea() const;

  bool eliding_ = false;

  // The background and the frame as last drawn, and what they were drawn for.
  QPixmap frame_;
  struct FrameKey {
    QSize size;
    int style = 0;
    QPalette::ColorGroup group = QPalette::Active;
    qint64 palette = 0;
    bool operator==(const FrameKey&) const = default;
  } frameKey_;

  std::list<std::pair<QString, QStaticText>> laidOut_;  // most recently shown first
};

// StatusBar1 of every window: panels are QLabel children named StatusPanel0, StatusPanel1, ...
// whose text() is the panel text exactly. A width of 0 lets the panel span the rest of the bar;
// the last of several panels also stretches, its width being its minimum.
class StatusBar : public QStatusBar {
  Q_OBJECT
 public:
  StatusBar(QWidget* parent, const QList<int>& widths = {0});

  // Every panel cuts a text too long for it (StatusPanel::setEliding).
  void elideLongTexts();

  QString panelText(int panel = 0) const;
  // Sets the text and, when it differs from the panel's, repaints the panel at once, so a
  // blocking sequence shows its progress.
  void setPanelText(int panel, const QString& text);
  void setText(const QString& text) { setPanelText(0, text); }
  QString text() const { return panelText(0); }

 protected:
  bool event(QEvent* event) override;

 private:
  QList<StatusPanel*> panels_;
  QList<QRect> arranged_;  // the panels' geometry after the last layout request
};
