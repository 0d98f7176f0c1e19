#pragma once

#include <QString>

#include "live/module_window.h"

class QLabel;

// "Okamžité hodnoty analogových vstupů": the live value of analog input 0 with its unit,
// polled every 500 ms. The input's range is read once per opening, on the first tick that
// reaches the module.
class TForm3 : public ModuleWindow {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);

  bool rangeRead() const { return rangeRead_; }

 public slots:
  void FormCreate();
  void Button1Click();
  void Timer1Timer();

 private:
  QLabel* value_;
  QString unit_;
  bool rangeRead_ = false;
};
