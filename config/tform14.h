#pragma once

#include <array>

#include "config/config_window.h"

class QCheckBox;
class QGroupBox;

// "Nastavení digitálních vstupů/výstupů": negation of the 32 digital inputs, negation of the
// 32 digital outputs and the outputs' initial states, one check box per channel. The module
// keeps them at configuration addresses 32..43, interleaved by groups of eight channels.
class TForm14 : public ConfigWindow {
  Q_OBJECT
 public:
  explicit TForm14(QWidget* parent = nullptr);

  void ZapisOkno(const ModuleConfigImage& image) override;
  void PrectiOkno(ModuleConfigImage& image) override;

 protected:
  // The arrow keys move within a group's 32 boxes; Tab stops once in each group, at the box
  // last used there, then goes on to the buttons.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void makeTabStop(int box);

  std::array<QGroupBox*, 3> groups_{};
  std::array<QCheckBox*, 96> boxes_{};  // CheckBox1..CheckBox96
};
