#pragma once

#include <QStringList>
#include <array>
#include <cstdint>

#include "live/module_window.h"

class QLabel;

// A polling window that shows a 32-bit group of the module bit by bit: four columns of
// eight name labels (Label1..Label32), each beside a white panel (Panel1..Panel4) holding
// the eight value labels (Label33..Label64), "1" for a set bit and "0" for a clear one.
class BitWindow : public ModuleWindow {
  Q_OBJECT
 public:
  QLabel* valueLabel(int bit) const { return values_[bit]; }

 protected:
  struct Columns {
    std::array<int, 4> nameX;   // left edge of each column's name labels
    std::array<int, 4> panelX;  // left edge of each column's value panel
  };
  BitWindow(QWidget* parent, const QString& caption, int clientWidth, int clientHeight,
            const Columns& columns, const QStringList& names);

  // One poll: the command with all data bytes 0; on success the 32 labels take Data1..Data4,
  // on failure they keep the last good state and the status bar shows the error.
  void pollBits(uint8_t command, uint8_t index);

 private:
  std::array<QLabel*, 32> values_{};
};
