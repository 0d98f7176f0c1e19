#include "ui/return_key.h"

#include <QEvent>
#include <QPushButton>
#include <QWidget>

namespace {

void DisarmButtons(QWidget* window) {
  for (QPushButton* button : window->findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
}

// A dialog chooses its default button after the show event has been delivered, so the
// buttons its subclasses added after construction are disarmed in time.
class ButtonDisarmer : public QObject {
 public:
  explicit ButtonDisarmer(QWidget* window) : QObject(window) { window->installEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) DisarmButtons(static_cast<QWidget*>(watched));
    return false;
  }
};

}  // namespace

void KeepReturnFromButtons(QWidget* window) {
  DisarmButtons(window);
  new ButtonDisarmer(window);
}
