#pragma once

#include <QDialog>

#include "line/common/line_types.h"

class QComboBox;
class QSpinBox;

// A module put on the line by hand, by its address and rate, without a scan: nothing is sent
// to it until it is polled.
class AddModuleDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AddModuleDialog(QWidget* parent = nullptr);
  LineModule module() const;

 private:
  QSpinBox* address_;
  QComboBox* rate_;
};
