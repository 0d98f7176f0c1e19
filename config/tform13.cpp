#include "config/tform13.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

TForm13::TForm13(QWidget* parent)
    : ConfigWindow(parent, QStringLiteral("Nastavení analogových vstupů"), 391, 185,
                   AnalogRangeSlots(), /*pauseAfterLast=*/true) {
  Label7 = new QLabel(QStringLiteral("Rozsah"), this);
  Label7->setObjectName(QStringLiteral("Label7"));
  Label7->setGeometry(96, 20, 100, 17);

  Label1 = new QLabel(QStringLiteral("AIN0"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(32, 46, 56, 17);

  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->setEditable(false);
  ComboBox1->addItems({QStringLiteral("0-10V"), QStringLiteral("0-20mA")});
  ComboBox1->setCurrentIndex(0);
  ComboBox1->setGeometry(96, 42, 121, 24);

  Button1->setGeometry(24, 104, 75, 25);
  Button2->setGeometry(112, 104, 75, 25);
  Button3->setGeometry(204, 104, 75, 25);
  Button4->setGeometry(292, 104, 75, 25);
  // The shared buttons come first in the focus chain; opening with the focus on "Zapsat"
  // would leave a stray key press one step from writing to the module.
  ComboBox1->setFocus();
}

void TForm13::ZapisOkno(const ModuleConfigImage& image) {
  ComboBox1->setCurrentIndex(image.AinRange[0] & 1);
}

void TForm13::PrectiOkno(ModuleConfigImage& image) {
  // The window knows the range bit only, so it writes the whole byte as 0 or 1.
  image.AinRange[0] = static_cast<uint8_t>(ComboBox1->currentIndex() == 1 ? 1 : 0);
  setStatus(QStringLiteral(" "));
}
