#pragma once

#include "live/bit_window.h"

// "Status registr": the module's 32-bit status register, polled every 500 ms, and
// "Vynulovat" to clear it.
class TForm15 : public BitWindow {
  Q_OBJECT
 public:
  explicit TForm15(QWidget* parent = nullptr);

 public slots:
  void Button1Click();
  void Button2Click();
  void Timer1Timer();
};
