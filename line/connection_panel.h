#pragma once

#include <QGroupBox>

#include "base/tdata.h"

class QComboBox;
class QFormLayout;
class ElidedLabel;
class QLineEdit;
class QPushButton;

// The interface and its parameters, as the tool's connection window keeps them in the same
// settings file; the rate is each module's own, so it is not asked here.
class ConnectionPanel : public QGroupBox {
  Q_OBJECT
 public:
  explicit ConnectionPanel(QWidget* parent = nullptr);

  // Shows the settings; read back with settings().
  void setSettings(const TData& data);
  // The shown settings applied over the last ones given; false with the reason when a field
  // does not parse.
  bool settings(TData& data, QString& error) const;

  void setConnected(bool connected);
  void setBusy(bool busy);
  void setStatusText(const QString& text, bool failure);

 signals:
  void connectRequested();
  void disconnectRequested();

 private:
  void showInterfaceFields(int iface);

  QFormLayout* form_;
  QComboBox* interface_;
  QLineEdit* port_;
  QLineEdit* isaBase_;
  QLineEdit* ip_;
  QLineEdit* udpPort_;
  QLineEdit* udpTimeout_;
  QLineEdit* timeout_;
  QPushButton* connect_;
  QPushButton* disconnect_;
  ElidedLabel* status_;
  TData base_{};
  bool connected_ = false;
};
