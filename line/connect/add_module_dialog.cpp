#include "line/connect/add_module_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>

#include "base/text/baud.h"
#include "ui/return_key.h"

AddModuleDialog::AddModuleDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AddModuleDialog"));
  setWindowTitle(QStringLiteral("Přidat modul"));
  auto* form = new QFormLayout(this);
  address_ = new QSpinBox(this);
  address_->setObjectName(QStringLiteral("AddAddress"));
  address_->setRange(0, 255);
  form->addRow(QStringLiteral("Adresa"), address_);
  rate_ = new QComboBox(this);
  rate_->setObjectName(QStringLiteral("AddRate"));
  for (int code = 0; code < BaudCodeCount; ++code) rate_->addItem(QStringLiteral("%1 Bd").arg(BaudCodeToRate(code)), code);
  rate_->setCurrentIndex(rate_->findData(BaudRateToCode(9600)));
  form->addRow(QStringLiteral("Rychlost"), rate_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Přidat"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Zrušit"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
  KeepReturnFromButtons(this);
}

LineModule AddModuleDialog::module() const {
  LineModule m;
  m.address = uint8_t(address_->value());
  m.baudCode = rate_->currentData().toInt();
  return m;
}
