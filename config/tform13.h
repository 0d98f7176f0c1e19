#pragma once

#include "config/config_window.h"

class QComboBox;
class QLabel;

// "Nastavení analogových vstupů": the range of analog input 0 (configuration address 0),
// bit 0 of its range byte: 0 = 0-10 V, 1 = 0-20 mA.
class TForm13 : public ConfigWindow {
  Q_OBJECT
 public:
  explicit TForm13(QWidget* parent = nullptr);

  void ZapisOkno(const ModuleConfigImage& image) override;
  void PrectiOkno(ModuleConfigImage& image) override;

 private:
  QLabel* Label1;
  QLabel* Label7;
  QComboBox* ComboBox1;
};
