#pragma once

#include <array>
#include <cstdint>

#include "live/module_window.h"

class QCheckBox;

// "Zápis na digitální výstupy": sets DOUT0..DOUT31 at once from 32 check boxes, one
// exchange per "Zapsat". Every opening starts with all boxes clear.
class TForm9 : public ModuleWindow {
  Q_OBJECT
 public:
  explicit TForm9(QWidget* parent = nullptr);

  QCheckBox* outputBox(int output) const { return boxes_[output]; }
  // Data1..Data4 of the write as the boxes stand now.
  std::array<uint8_t, 4> outputBytes() const;

 public slots:
  void Button1Click();
  void Button2Click();

 private:
  std::array<QCheckBox*, 32> boxes_{};
};
