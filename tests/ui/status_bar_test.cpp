// A status panel paints from what it kept (its frame, its laid-out texts): whatever happened to
// it since, the pixels must be the ones a plain label of the same kind paints.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>

#include "ui/status_bar.h"

namespace {

struct Step {
  const char* what;
  void (*apply)(QLabel&);
};

const Step Steps[] = {
    {"first text", [](QLabel& l) { l.setText(QStringLiteral(" Probíhá čtení konfigurace z modulu (0 %)")); }},
    {"another text", [](QLabel& l) { l.setText(QStringLiteral(" Konfigurace přečtena.")); }},
    {"the first again", [](QLabel& l) { l.setText(QStringLiteral(" Probíhá čtení konfigurace z modulu (0 %)")); }},
    {"narrower, the text cut", [](QLabel& l) { l.resize(120, l.height()); }},
    {"wider", [](QLabel& l) { l.resize(420, l.height()); }},
    {"disabled", [](QLabel& l) { l.setEnabled(false); }},
    {"enabled", [](QLabel& l) { l.setEnabled(true); }},
    {"another colour", [](QLabel& l) {
       QPalette p = l.palette();
       p.setColor(QPalette::Window, Qt::yellow);
       p.setColor(QPalette::WindowText, Qt::darkRed);
       l.setPalette(p);
     }},
    {"a bigger font", [](QLabel& l) {
       QFont f = l.font();
       f.setPointSize(f.pointSize() + 3);
       l.setFont(f);
     }},
    {"a smaller font", [](QLabel& l) {
       QFont f = l.font();
       f.setPointSize(f.pointSize() - 4);
       l.setFont(f);
     }},
    {"empty", [](QLabel& l) { l.setText(QString()); }},
};

void Dress(QLabel& label) {
  label.setFrameShape(QFrame::Panel);
  label.setFrameShadow(QFrame::Sunken);
  label.setTextFormat(Qt::PlainText);
  label.resize(300, 22);
}

TEST(StatusPanelTest, PaintsWhatAPlainLabelPaintsAfterEveryChange) {
  StatusPanel panel(nullptr);
  QLabel label;
  label.setAutoFillBackground(true);  // the panel paints its own background too
  Dress(panel);
  Dress(label);
  for (const Step& step : Steps) {
    step.apply(panel);
    step.apply(label);
    const QImage painted = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage expected = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(painted, expected) << step.what;
  }
}

}  // namespace
