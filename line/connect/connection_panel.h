#pragma once

#include <QGroupBox>
#include <cstdint>

#include "base/settings/tdata.h"

class QComboBox;
class QFormLayout;
class ElidedLabel;
class QLabel;
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

  // The slowest rate the line is polled at, for the timeout warning.
  void setLineRate(int32_t rate);
  // The warning shown while the timeout is shorter than an exchange on the wire; empty when none.
  QString timeoutWarning() const;
  // Where the chosen port leads ("COM1 → /dev/ttyUSB0"); empty for interfaces never mapped.
  QString deviceText() const;

  void setConnected(bool connected);
  void setBusy(bool busy);
  void setStatusText(const QString& text, bool failure);

 signals:
  void connectRequested();
  void disconnectRequested();

 private:
  void showInterfaceFields(int iface);
  // The device and the warning, after any change of the fields or the line.
  void updateNotes();

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
  QLabel* device_;
  QLabel* warning_;
  TData base_{};
  int32_t lineRate_ = 9600;
  bool connected_ = false;
};
