#include "ui/question.h"

#include <QMessageBox>
#include <QPushButton>

#include "ui/return_key.h"

bool AskYesNo(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
  QPushButton* yes = box.addButton(QStringLiteral("&Ano"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("&Ne"), QMessageBox::NoRole);
  box.setEscapeButton(no);
  no->setFocus();  // so that Space, too, answers no unless the operator moves to "Ano"
  KeepReturnFromButtons(&box);
  box.exec();
  return box.clickedButton() == yes;
}
