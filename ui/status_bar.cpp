#include "ui/status_bar.h"

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
  panels_[panel]->setText(text);
  repaint();
}
