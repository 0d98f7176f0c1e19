#include "ui/status_bar.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace {
// Enough for every progress text of the longest sequence and its results.
constexpr std::size_t LaidOutTexts = 24;
}  // namespace

// The panel paints its own background, the bar's colour, so that repainting it at once need not
// paint the bar and the window beneath it first.
StatusPanel::StatusPanel(QWidget* parent) : QLabel(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

QPalette StatusPanel::colours() const {
  QPalette colours = palette();
  colours.setCurrentColorGroup(!isEnabled() ? QPalette::Disabled : isActiveWindow() ? QPalette::Active : QPalette::Inactive);
  return colours;
}

const QStaticText& StatusPanel::laidOut(const QString& text) {
  for (auto it = laidOut_.begin(); it != laidOut_.end(); ++it) {
    if (it->first != text) continue;
    laidOut_.splice(laidOut_.begin(), laidOut_, it);
    return laidOut_.front().second;
  }
  QStaticText laid(text);
  laid.setTextFormat(Qt::PlainText);
  laid.setPerformanceHint(QStaticText::AggressiveCaching);
  laid.prepare(QTransform(), font());
  laidOut_.emplace_front(text, std::move(laid));
  if (laidOut_.size() > LaidOutTexts) laidOut_.pop_back();
  return laidOut_.front().second;
}

void StatusPanel::setEliding(bool on) {
  eliding_ = on;
  textChanged();
  updateGeometry();
}

QRect StatusPanel::textArea() const {
  QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
  const int step = indent() >= 0 ? indent() : frameWidth() > 0 ? fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin() : 0;
  area.setLeft(area.left() + step);
  return area;
}

QString StatusPanel::shownText() const {
  if (!eliding_) return text();
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, textArea().width());
}

void StatusPanel::textChanged() {
  if (!eliding_) return;
  const QString whole = text();
  setToolTip(shownText() == whole ? QString() : whole);
}

QSize StatusPanel::minimumSizeHint() const {
  if (!eliding_) return QLabel::minimumSizeHint();
  const QSize label = QLabel::minimumSizeHint();
  return {std::min(label.width(), fontMetrics().averageCharWidth() * 6 + 2 * frameWidth()), label.height()};
}

QSize StatusPanel::sizeHint() const { return eliding_ ? minimumSizeHint() : QLabel::sizeHint(); }

void StatusPanel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  textChanged();
}

// What the label paints for plain text without a buddy: its frame, then the text left-aligned and
// centred vertically, indented by half an 'x' as a framed label is.
void StatusPanel::paintEvent(QPaintEvent*) {
  const QPalette colours = this->colours();
  const FrameKey key{size(), frameStyle(), colours.currentColorGroup(), colours.cacheKey()};
  if (frame_.isNull() || !(key == frameKey_)) {
    frame_ = QPixmap(size() * devicePixelRatio());
    frame_.setDevicePixelRatio(devicePixelRatio());
    QPainter drawing(&frame_);
    drawing.fillRect(rect(), colours.brush(backgroundRole()));
    drawFrame(&drawing);
    frameKey_ = key;
  }
  QPainter painter(this);
  painter.drawPixmap(0, 0, frame_);
  const QString shown = shownText();
  if (shown.isEmpty()) return;
  const QRect area = textArea();
  const QStaticText& laid = laidOut(shown);
  painter.setClipRect(area);
  painter.setPen(QPen(colours.brush(foregroundRole()), painter.pen().widthF()));
  // Placed as the label places one line: its ascent and descent centred in the area.
  const QFontMetricsF metrics(font());
  painter.drawStaticText(QPointF(area.left(), area.top() + (area.height() - (metrics.ascent() + metrics.descent())) / 2), laid);
}

void StatusPanel::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    laidOut_.clear();
    textChanged();
  }
  QLabel::changeEvent(event);
}

StatusBar::StatusBar(QWidget* parent, const QList<int>& widths) : QStatusBar(parent) {
  setObjectName(QStringLiteral("StatusBar1"));
  setSizeGripEnabled(false);
  for (int i = 0; i < widths.size(); ++i) {
    auto* label = new StatusPanel(this);
    label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    if (widths[i] <= 0) {
      addWidget(label, 1);
    } else if (i + 1 == widths.size() && widths.size() > 1) {
      // The last of several panels takes whatever room is left, so a long message in it stays
      // readable instead of being cut at the panel's nominal width.
      label->setMinimumWidth(widths[i]);
      addWidget(label, 1);
    } else {
      label->setFixedWidth(widths[i]);
      addWidget(label);
    }
    panels_.append(label);
  }
}

void StatusBar::elideLongTexts() {
  for (StatusPanel* panel : panels_) panel->setEliding(true);
}

QString StatusBar::panelText(int panel) const {
  return panel >= 0 && panel < panels_.size() ? panels_[panel]->text() : QString();
}

void StatusBar::setPanelText(int panel, const QString& text) {
  if (panel < 0 || panel >= panels_.size()) return;
  StatusPanel* label = panels_[panel];
  // A live window sets the same text on every tick: repainting it again would cost most of
  // the tick and show nothing new.
  if (label->text() == text) return;
  label->setText(text);
  label->textChanged();
  // Only the panel changed; its repaint brings along the bar's background beneath it.
  label->repaint();
}

bool StatusBar::event(QEvent* event) {
  if (event->type() == QEvent::LayoutRequest) {
    // A new text asks for a new layout, which the toolkit has already carried out by now, and
    // QStatusBar answers the request by repainting the whole bar: twice the cost of the text's
    // own repaint, for nothing while no panel moved. The bar's frames around the panels need it
    // only when they did.
    QList<QRect> arranged;
    for (const QLabel* panel : panels_) arranged.append(panel->geometry());
    if (arranged == arranged_) return QWidget::event(event);
    arranged_ = arranged;
  }
  return QStatusBar::event(event);
}
