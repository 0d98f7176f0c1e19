#include "config/tform12.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/text/baud.h"

TForm12::TForm12(QWidget* parent)
    : ConfigWindow(parent, QStringLiteral("Nastavení komunikační adresy a rychlosti"), 393, 200,
                   AddressRateSlots(), /*pauseAfterLast=*/false) {
  Label1 = new QLabel(QStringLiteral("Adresa modulu  (0-255)"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(24, 28, 170, 17);

  Edit1 = new QLineEdit(this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setGeometry(208, 24, 161, 24);

  Label2 = new QLabel(QStringLiteral("Komunikační rychlost"), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(24, 68, 170, 17);

  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->setEditable(false);
  ComboBox1->addItems(BaudRateItems());
  ComboBox1->setCurrentIndex(4);  // 9600 Bd
  ComboBox1->setGeometry(208, 64, 161, 24);

  Button1->setGeometry(24, 120, 75, 25);
  Button2->setGeometry(112, 120, 75, 25);
  Button3->setGeometry(206, 120, 75, 25);
  Button4->setGeometry(294, 120, 75, 25);
  // The shared buttons come first in the focus chain; opening with the focus on "Zapsat"
  // would leave a stray key press one step from writing to the module.
  Edit1->setFocus();
}

void TForm12::ZapisOkno(const ModuleConfigImage& image) {
  Edit1->setText(QString::number(image.AddressSetting));
  // A code the list does not hold leaves nothing selected, which the check then refuses.
  ComboBox1->setCurrentIndex(image.BaudCodeSetting < BaudCodeCount ? image.BaudCodeSetting : -1);
}

void TForm12::PrectiOkno(ModuleConfigImage& image) {
  uint8_t address = 0;
  if (!ParseByteInRange(Edit1->text(), 0, 255, address)) {
    setStatus(AddressRangeText);
    return;
  }
  image.AddressSetting = address;
  const int code = ComboBox1->currentIndex();
  if (code < 0 || code >= BaudCodeCount) {
    setStatus(BaudRangeText);
    return;
  }
  image.BaudCodeSetting = static_cast<uint8_t>(code);
  setStatus(QStringLiteral(" "));
}
