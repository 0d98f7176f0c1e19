#pragma once

#include <QDialog>

#include "base/exchange/driver_types.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
struct TData;

// "Připojení modulu": chooses the interface and its parameters, brings the driver up and
// identifies the module. Stays open after every attempt until the operator closes it.
class TForm2 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);

  void setData(TData* data) { data_ = data; }

  // The status line's texts (without a leading blank, unlike the status bars elsewhere).
  static const QString ConnectingText;
  static const QString SuccessText;
  static const QString InitFailedText;
  static const QString BadIpText;
  static const QString BadUdpPortText;
  static const QString BadUdpTimeoutText;
  static const QString UnknownInterfaceText;
  static const QString AllRightText;

  // ModuleIdent without the zero characters the module may send in its name or version.
  static QString IdentForDisplay(const QString& ident);

 public slots:
  void FormShow();
  void ComboBox2Change();
  void Button1Click();
  void Button2Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ApplyInterfaceLayout(int iface);
  void SetStatusLine(const QString& text);
  // Ends an attempt after the driver came up: shut it down and mark the connection down.
  void AbortConnection(uint32_t& handle);

  TData* data_ = nullptr;
  MessageBuffer message_{};  // the driver's status texts arrive here

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  QLabel* Label7;
  QLabel* Label8;
  QComboBox* ComboBox1;
  QComboBox* ComboBox2;
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  QLineEdit* Edit4;
  QLineEdit* Edit5;
  QLabel* Panel1;
  QPushButton* Button1;
  QPushButton* Button2;
};
