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

 private:
  std::array<QGroupBox*, 3> groups_{};
  std::array<QCheckBox*, 96> boxes_{};  // CheckBox1..CheckBox96
};
