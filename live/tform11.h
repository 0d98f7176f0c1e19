#pragma once

#include "live/bit_window.h"

// "Okamžité hodnoty digitálních vstupů": DIN0..DIN31, polled every 100 ms.
class TForm11 : public BitWindow {
  Q_OBJECT
 public:
  explicit TForm11(QWidget* parent = nullptr);

 public slots:
  void Button1Click();
  void Timer1Timer();
};
