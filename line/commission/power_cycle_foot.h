#pragma once

#include <QObject>
#include <QString>

class CommissionRun;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

// What the commissioning and the line's rate change share below their tables: the power cycle
// the run asks for ("Napájení přepnuto" once it is done, "Zrušit" gives the work up) and the
// message of the work, red when it failed.
class PowerCycleFoot : public QObject {
  Q_OBJECT
 public:
  // `done` and `cancel`: the buttons' texts with the window's own mnemonics.
  PowerCycleFoot(CommissionRun* run, QWidget* window, QVBoxLayout* layout, const QString& done, const QString& cancel);

  bool waiting() const { return waiting_; }
  QString message() const;
  void say(const QString& text, bool failure = false);
  // The question gone with the work's end.
  void clear();
  void updateButtons();

 public slots:
  void confirm();
  void cancel();

 signals:
  // The question came or went: the window updates its buttons.
  void changed();

 private:
  CommissionRun* run_;
  bool waiting_ = false;
  QLabel* prompt_;
  QLabel* message_;
  QPushButton* done_;
  QPushButton* cancel_;
};
