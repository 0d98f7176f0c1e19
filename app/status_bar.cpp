#include "app/status_bar.h"

StatusBar::StatusBar(QWidget* parent, const QList<int>& widths) : QStatusBar(parent) {
  setObjectName(QStringLiteral("StatusBar1"));
  setSizeGripEnabled(false);
  for (int i = 0; i < widths.size(); ++i) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    if (widths[i] > 0) {
      label->setFixedWidth(widths[i]);
      addWidget(label);
    } else {
      addWidget(label, 1);
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
