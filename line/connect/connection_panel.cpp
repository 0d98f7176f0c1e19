#include "line/connect/connection_panel.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/text/codepage.h"
#include "base/settings/line_device.h"
#include "base/wire/wire_budget.h"
#include "line/common/elided_label.h"

namespace {

bool ParseRange(const QString& text, int lo, int hi, int& value) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok, 10);
  if (!ok || v < lo || v > hi) return false;
  value = v;
  return true;
}

}  // namespace

ConnectionPanel::ConnectionPanel(QWidget* parent) : QGroupBox(QStringLiteral("Připojení linky"), parent) {
  setObjectName(QStringLiteral("ConnectionPanel"));
  auto* outer = new QHBoxLayout(this);
  form_ = new QFormLayout;
  outer->addLayout(form_);
  outer->addStretch(1);

  interface_ = new QComboBox(this);
  interface_->setObjectName(QStringLiteral("InterfaceCombo"));
  interface_->addItems({QStringLiteral("Standardní COMx"), QStringLiteral("ISA karta ZK-660"),
                        QStringLiteral("PCI karta ZK-1660"), QStringLiteral("USB konvertor ZC-1660"),
                        QStringLiteral("LAN konvertor QN-1660")});
  interface_->setMaximumWidth(220);
  auto edit = [this](const char* name) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QLatin1String(name));
    e->setMaximumWidth(160);
    return e;
  };
  port_ = edit("PortEdit");
  isaBase_ = edit("IsaBaseEdit");
  ip_ = edit("IpEdit");
  udpPort_ = edit("UdpPortEdit");
  udpTimeout_ = edit("UdpTimeoutEdit");
  timeout_ = edit("TimeoutEdit");
  form_->addRow(QStringLiteral("&Komunikační rozhraní"), interface_);
  form_->addRow(QStringLiteral("Čí&slo portu COMx"), port_);
  form_->addRow(QStringLiteral("&Bázová adresa ZK-660"), isaBase_);
  form_->addRow(QStringLiteral("&IP adresa"), ip_);
  form_->addRow(QStringLiteral("&UDP port"), udpPort_);
  form_->addRow(QStringLiteral("UDP &timeout [ms]"), udpTimeout_);
  form_->addRow(QStringLiteral("Timeout o&dpovědi [ms]"), timeout_);

  auto* side = new QVBoxLayout;
  connect_ = new QPushButton(QStringLiteral("Připo&jit"), this);
  connect_->setObjectName(QStringLiteral("ConnectButton"));
  disconnect_ = new QPushButton(QStringLiteral("&Odpojit"), this);
  disconnect_->setObjectName(QStringLiteral("DisconnectButton"));
  // One line, cut with the whole text in its tooltip: a long error must not move the panes.
  status_ = new ElidedLabel(this);
  status_->setText(QStringLiteral("Nepřipojeno"));
  status_->setObjectName(QStringLiteral("ConnectionStatus"));
  status_->setMinimumWidth(260);
  status_->setMaximumWidth(420);
  connect_->setMaximumWidth(200);
  disconnect_->setMaximumWidth(200);
  side->addWidget(connect_);
  side->addWidget(disconnect_);
  device_ = new QLabel(this);
  device_->setObjectName(QStringLiteral("DeviceText"));
  device_->setWordWrap(true);
  device_->setMaximumWidth(420);
  warning_ = new QLabel(this);
  warning_->setObjectName(QStringLiteral("TimeoutWarning"));
  warning_->setWordWrap(true);
  warning_->setMaximumWidth(420);
  warning_->setStyleSheet(QStringLiteral("color: #b06000; font-weight: bold"));
  side->addWidget(status_);
  side->addWidget(device_);
  side->addWidget(warning_);
  side->addStretch(1);
  outer->addLayout(side);

  connect(interface_, &QComboBox::currentIndexChanged, this, &ConnectionPanel::showInterfaceFields);
  connect(interface_, &QComboBox::currentIndexChanged, this, &ConnectionPanel::updateNotes);
  connect(port_, &QLineEdit::textChanged, this, &ConnectionPanel::updateNotes);
  connect(timeout_, &QLineEdit::textChanged, this, &ConnectionPanel::updateNotes);
  connect(connect_, &QPushButton::clicked, this, &ConnectionPanel::connectRequested);
  connect(disconnect_, &QPushButton::clicked, this, &ConnectionPanel::disconnectRequested);
  setConnected(false);
}

void ConnectionPanel::showInterfaceFields(int iface) {
  form_->setRowVisible(port_, iface == InterfaceSerial);
  form_->setRowVisible(isaBase_, iface == InterfaceIsa);
  form_->setRowVisible(ip_, iface == InterfaceLan);
  form_->setRowVisible(udpPort_, iface == InterfaceLan);
  form_->setRowVisible(udpTimeout_, iface == InterfaceLan);
}

void ConnectionPanel::setSettings(const TData& data) {
  base_ = data;
  interface_->setCurrentIndex(data.Interface < InterfaceCount ? data.Interface : 0);
  port_->setText(QString::number(data.ComPort));
  isaBase_->setText(QStringLiteral("%1h").arg(data.IsaBaseAddress, 3, 16, QLatin1Char('0')).toUpper().replace('H', 'h'));
  ip_->setText(FromCp1250(QByteArray(data.IpAddress.constData())));
  udpPort_->setText(QString::number(data.UdpPort));
  udpTimeout_->setText(QString::number(data.UdpTimeout));
  timeout_->setText(QString::number(data.ResponseTimeout));
  showInterfaceFields(interface_->currentIndex());
  updateNotes();
}

void ConnectionPanel::setLineRate(int32_t rate) {
  lineRate_ = rate;
  updateNotes();
}

QString ConnectionPanel::timeoutWarning() const { return warning_->text(); }

QString ConnectionPanel::deviceText() const { return device_->text(); }

void ConnectionPanel::updateNotes() {
  TData shown{};
  QString error;
  const bool parsed = settings(shown, error);
  const QString device = parsed ? LineDeviceText(shown) : QString();
  device_->setText(device.isEmpty() ? QString() : QStringLiteral("Zařízení: ") + device);
  device_->setVisible(!device.isEmpty());
  warning_->setText(parsed ? ResponseTimeoutWarning(shown.ResponseTimeout, lineRate_, LineTimingOf(shown).basis) : QString());
  warning_->setVisible(!warning_->text().isEmpty());
}

bool ConnectionPanel::settings(TData& data, QString& error) const {
  TData d = base_;
  d.Interface = uint8_t(interface_->currentIndex());
  int v = 0;
  switch (d.Interface) {
    case InterfaceSerial:
      if (!ParseRange(port_->text(), 1, 255, v)) return error = QStringLiteral("Neplatné číslo portu"), false;
      d.ComPort = uint8_t(v);
      break;
    case InterfaceIsa: {
      QString t = isaBase_->text().trimmed();
      if (t.endsWith(QLatin1Char('h'), Qt::CaseInsensitive)) t.chop(1);
      bool ok = false;
      const uint base = t.toUInt(&ok, 16);
      if (!ok || base > 0xFFF) return error = QStringLiteral("Neplatná bázová adresa"), false;
      d.IsaBaseAddress = uint16_t(base);
      break;
    }
    case InterfaceLan:
      if (ip_->text().trimmed().isEmpty()) return error = QStringLiteral("Neplatná IP adresa"), false;
      d.IpAddress = ToCp1250(ip_->text().trimmed());
      if (!ParseRange(udpPort_->text(), 0, 65535, v)) return error = QStringLiteral("Neplatný UDP port"), false;
      d.UdpPort = v;
      if (!ParseRange(udpTimeout_->text(), 0, 65535, v)) return error = QStringLiteral("Neplatný UDP timeout"), false;
      d.UdpTimeout = v;
      break;
    default: break;
  }
  if (!ParseRange(timeout_->text(), 1, 65535, v)) return error = QStringLiteral("Neplatný timeout odpovědi"), false;
  d.ResponseTimeout = uint16_t(v);
  data = d;
  return true;
}

void ConnectionPanel::setConnected(bool connected) {
  connected_ = connected;
  connect_->setEnabled(!connected);
  disconnect_->setEnabled(connected);
  for (QWidget* w : {static_cast<QWidget*>(interface_), static_cast<QWidget*>(port_), static_cast<QWidget*>(isaBase_),
                     static_cast<QWidget*>(ip_), static_cast<QWidget*>(udpPort_), static_cast<QWidget*>(udpTimeout_),
                     static_cast<QWidget*>(timeout_)})
    w->setEnabled(!connected);
}

void ConnectionPanel::setBusy(bool busy) {
  connect_->setEnabled(!busy && !connected_);
  disconnect_->setEnabled(!busy && connected_);
}

void ConnectionPanel::setStatusText(const QString& text, bool failure) {
  status_->setText(text);
  status_->setStyleSheet(failure ? QStringLiteral("color: #b00000; font-weight: bold") : QString());
}
