#include "ui/status_bar.h"

#include <QEvent>

StatusBar::StatusBar(QWidget* parent, const QList<int>& widths) : QStatusBar(parent) {
  setObjectName(QStringLiteral("StatusBar1"));
  setSizeGripEnabled(false);
  for (int i = 0; i < widths.size(); ++i) {
    auto* label = new QLabel(this);
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

QString StatusBar::panelText(int panel) const {
  return panel >= 0 && panel < panels_.size() ? panels_[panel]->text() : QString();
}

void StatusBar::setPanelText(int panel, const QString& text) {
  if (panel < 0 || panel >= panels_.size()) return;
  QLabel* label = panels_[panel];
  // A live window sets the same text on every tick: repainting it again would cost most of
  // the tick and show nothing new.
  if (label->text() == text) return;
  label->setText(text);
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
