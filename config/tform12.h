#pragma once

#include <QString>
#include <cstdint>

#include "config/config_window.h"

class QComboBox;
class QLabel;
class QLineEdit;

// "Nastavení komunikační adresy a rychlosti": the module's own bus address (configuration
// address 63) and the baud code of its serial line (62). Writing them changes neither how this
// tool reaches the module nor the connection settings.
class TForm12 : public ConfigWindow {
  Q_OBJECT
 public:
  explicit TForm12(QWidget* parent = nullptr);

  void ZapisOkno(const ModuleConfigImage& image) override;
  void PrectiOkno(ModuleConfigImage& image) override;

 private:
  QLabel* Label1;
  QLabel* Label2;
  QLineEdit* Edit1;
  QComboBox* ComboBox1;
};
