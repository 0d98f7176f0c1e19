#include "connect/tform2.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "base/settings/tdata.h"
#include "ui/return_key.h"
#include "ui/window_util.h"
#include "base/text/baud.h"
#include "base/text/codepage.h"
#include "base/exchange/commands.h"
#include "base/exchange/identify.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/exchange.h"

const QString TForm2::ConnectingText = QStringLiteral("Probíhá inicializace připojení");
const QString TForm2::SuccessText =
    QStringLiteral("Připojení úspěšně inicializováno. Připojen modul   ");
const QString TForm2::InitFailedText = QStringLiteral("Chyba inicializace připojení - ");
const QString TForm2::BadIpText = QStringLiteral("Neplatná IP adresa");
const QString TForm2::BadUdpPortText = QStringLiteral("Neplatný UDP port");
const QString TForm2::BadUdpTimeoutText = QStringLiteral("Neplatný UDP timeout");
const QString TForm2::UnknownInterfaceText = QStringLiteral("Neznámý typ rozhraní");
const QString TForm2::AllRightText = QStringLiteral("V pořádku");

namespace {

constexpr int kClientWidth = 592;
constexpr int kClientHeight = 373;
constexpr int kLabelX = 32;
constexpr int kLabelWidth = 170;
constexpr int kFieldX = 208;
constexpr int kFieldWidth = 169;
constexpr int kRowTop = 24;
constexpr int kRowPitch = 32;
constexpr int kRowHeight = 22;
constexpr int kStatusLineWidth = 521;

int RowY(int row) { return kRowTop + (row - 1) * kRowPitch; }

// A whole decimal integer in the signed 32-bit range; surrounding blanks are tolerated.
bool ParseInteger(const QString& text, int32_t& value) {
  bool ok = false;
  const int parsed = text.trimmed().toInt(&ok, 10);
  if (ok) value = parsed;
  return ok;
}

int32_t IntegerOr(const QString& text, int32_t fallback) {
  int32_t value = fallback;
  return ParseInteger(text, value) ? value : fallback;
}

bool IsHexDigit(QChar c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// The ISA card's base address is typed as three hexadecimal digits and an "h" (2A0h).
// Anything else falls back to the card's factory setting.
uint16_t ParseIsaBaseAddress(const QString& text) {
  constexpr uint16_t kFactoryBase = 0x300;
  if (text.size() != 4) return kFactoryBase;
  const QString digits = text.left(3);
  for (QChar c : digits)
    if (!IsHexDigit(c)) return kFactoryBase;
  return static_cast<uint16_t>(digits.toUInt(nullptr, 16));
}

QString IsaBaseAddressText(uint16_t base) {
  return QStringLiteral("%1").arg(base, 3, 16, QLatin1Char('0')).toUpper() + QLatin1Char('h');
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Připojení modulu"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  auto makeLabel = [this](const char* name, const QString& text, int row) {
    auto* label = new QLabel(text, this);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(kLabelX, RowY(row), kLabelWidth, kRowHeight);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
  };
  auto makeEdit = [this](const char* name, int row) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(kFieldX, RowY(row), kFieldWidth, kRowHeight);
    return edit;
  };
  auto makeCombo = [this](const char* name, const QStringList& items, int row) {
    auto* combo = new QComboBox(this);
    combo->setObjectName(QLatin1String(name));
    combo->addItems(items);
    combo->setEditable(false);
    combo->setGeometry(kFieldX, RowY(row) - 1, kFieldWidth, kRowHeight + 2);
    return combo;
  };

  Label5 = makeLabel("Label5", QStringLiteral("Komunikační rozhraní"), 1);
  ComboBox2 = makeCombo("ComboBox2",
                        {QStringLiteral("Standardní COMx"), QStringLiteral("ISA karta ZK-660"),
                         QStringLiteral("PCI karta ZK-1660"),
                         QStringLiteral("USB konvertor ZC-1660"),
                         QStringLiteral("LAN konvertor QN-1660")},
                        1);
  Label3 = makeLabel("Label3", QString(), 2);
  Edit2 = makeEdit("Edit2", 2);
  Label6 = makeLabel("Label6", QString(), 3);
  Edit3 = makeEdit("Edit3", 3);
  Label7 = makeLabel("Label7", QString(), 4);
  Edit4 = makeEdit("Edit4", 4);
  Label1 = makeLabel("Label1", QStringLiteral("Adresa připojeného modulu"), 5);
  Edit1 = makeEdit("Edit1", 5);
  Label2 = makeLabel("Label2", QStringLiteral("Komunikační rychlost"), 6);
  ComboBox1 = makeCombo("ComboBox1", BaudRateItems(), 6);
  Label8 = makeLabel("Label8", QStringLiteral("Timeout odpovědi [ms]"), 7);
  Edit5 = makeEdit("Edit5", 7);
  Label4 = makeLabel("Label4", QStringLiteral("Status připojení"), 8);
  Label4->move(kLabelX, RowY(8) + 8);

  Panel1 = new QLabel(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setGeometry(kLabelX, Label4->geometry().bottom() + 3, kStatusLineWidth, 25);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setTextFormat(Qt::PlainText);
  Panel1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  Panel1->setIndent(4);
  Panel1->setAutoFillBackground(true);
  QPalette white = Panel1->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  Panel1->setPalette(white);

  constexpr int kButtonY = 324;
  constexpr int kButtonHeight = 25;
  Button1 = new QPushButton(QStringLiteral("Inicializace připojení"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(kLabelX, kButtonY, kFieldWidth, kButtonHeight);
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  constexpr int kButton2Width = 89;
  Button2->setGeometry(kLabelX + kStatusLineWidth - kButton2Width, kButtonY, kButton2Width,
                       kButtonHeight);

  // The operator's choice only: selecting an index from code (FormShow) must not refill fields.
  connect(ComboBox2, &QComboBox::activated, this, &TForm2::ComboBox2Change);
  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
  KeepReturnFromButtons(this);

  SetFixedClientSize(this, kClientWidth, kClientHeight);
}

QString TForm2::IdentForDisplay(const QString& ident) {
  QString shown = ident;
  shown.remove(QChar(u'\0'));
  return shown;
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Restoring from the minimised state is a spontaneous show: the fields and the status
  // line keep what the operator typed and what the last attempt reported.
  if (!event->spontaneous()) {
    CenterOnScreen(this);
    FormShow();
  }
}

void TForm2::FormShow() {
  if (data_ == nullptr) return;
  Edit1->setText(QString::number(data_->ModuleAddress));
  ComboBox1->setCurrentIndex(BaudRateToCode(data_->BaudRate));
  Edit5->setText(QString::number(data_->ResponseTimeout));
  data_->Interface = data_->Interface & 7;
  ComboBox2->setCurrentIndex(data_->Interface < InterfaceCount ? data_->Interface : -1);
  for (QWidget* w : {static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label6),
                     static_cast<QWidget*>(Label7), static_cast<QWidget*>(Edit2),
                     static_cast<QWidget*>(Edit3), static_cast<QWidget*>(Edit4)})
    w->hide();
  ApplyInterfaceLayout(data_->Interface);
  Panel1->setText(data_->ConnectionStatus);
}

void TForm2::ApplyInterfaceLayout(int iface) {
  const bool first = iface == InterfaceSerial || iface == InterfaceIsa || iface == InterfaceLan;
  const bool lan = iface == InterfaceLan;
  switch (iface) {
    case InterfaceSerial:
      Label3->setText(QStringLiteral("Číslo portu COMx"));
      Edit2->setText(QString::number(data_->ComPort));
      break;
    case InterfaceIsa:
      Label3->setText(QStringLiteral("Bázová adresa ZK-660"));
      Edit2->setText(IsaBaseAddressText(data_->IsaBaseAddress));
      break;
    case InterfaceLan:
      Label3->setText(QStringLiteral("IP adresa"));
      Edit2->setText(FromCp1250(QByteArray(data_->IpAddress.constData())));
      Label6->setText(QStringLiteral("UDP port"));
      Edit3->setText(QString::number(data_->UdpPort));
      Label7->setText(QStringLiteral("UDP timeout"));
      Edit4->setText(QString::number(data_->UdpTimeout));
      break;
    default:
      break;
  }
  Label3->setVisible(first);
  Edit2->setVisible(first);
  Label6->setVisible(lan);
  Edit3->setVisible(lan);
  Label7->setVisible(lan);
  Edit4->setVisible(lan);
}

void TForm2::ComboBox2Change() {
  if (data_ == nullptr) return;
  const int index = ComboBox2->currentIndex();
  if (index < 0 || index >= InterfaceCount) {
    Panel1->setText(UnknownInterfaceText);
    Label3->show();
    Edit2->show();
    for (QWidget* w : {static_cast<QWidget*>(Label6), static_cast<QWidget*>(Label7),
                       static_cast<QWidget*>(Edit3), static_cast<QWidget*>(Edit4)})
      w->hide();
    return;
  }
  ApplyInterfaceLayout(index);
}

void TForm2::Button2Click() { reject(); }

void TForm2::SetStatusLine(const QString& text) {
  Panel1->setText(text);
  Panel1->repaint();
}

void TForm2::AbortConnection(uint32_t& handle) {
  DriverDone(data_->Interface, &handle);
  data_->DriverHandle = handle;
  data_->Connected = false;
}

void TForm2::Button1Click() {
  if (data_ == nullptr) return;
  TData& d = *data_;
  uint32_t h = d.DriverHandle;

  // A new attempt replaces the running connection.
  if (d.Connected && d.DriverHandle != 0) {
    DriverDone(d.Interface, &h);
    d.DriverHandle = h;
    d.Connected = false;
  }

  SetStatusLine(ConnectingText);

  // Address, timeout and baud code, shown back as they will be used.
  const auto address = static_cast<uint8_t>(IntegerOr(Edit1->text(), 0));
  Edit1->setText(QString::number(address));
  const auto timeout = static_cast<uint32_t>(IntegerOr(Edit5->text(), 0));
  Edit5->setText(QString::number(timeout));
  const int baudCode = ComboBox1->currentIndex();

  // The interface is taken at once, whatever happens next.
  const int index = ComboBox2->currentIndex();
  d.Interface = static_cast<uint8_t>(index);
  d.DriverParams.fill(0);

  // The interface's own parameters, also kept when the attempt fails later.
  switch (index) {
    case InterfaceSerial: {
      const auto port = static_cast<uint16_t>(IntegerOr(Edit2->text(), 1));
      Edit2->setText(QString::number(port));
      d.ComPort = static_cast<uint8_t>(port);
      d.DriverParams[0] = port;
      break;
    }
    case InterfaceIsa: {
      const uint16_t base = ParseIsaBaseAddress(Edit2->text());
      Edit2->setText(IsaBaseAddressText(base));
      d.IsaBaseAddress = base;
      d.DriverParams[0] = base;
      break;
    }
    case InterfacePci:
    case InterfaceUsb:
      d.DriverParams[0] = 0;
      break;
    case InterfaceLan: {
      if (Edit2->text().isEmpty()) {
        SetStatusLine(BadIpText);
        return;
      }
      d.IpAddress = ToCp1250(Edit2->text());
      int32_t port = 0;
      if (!ParseInteger(Edit3->text(), port) || port < 0 || port > 65535) {
        SetStatusLine(BadUdpPortText);
        return;
      }
      d.UdpPort = port;
      int32_t udpTimeout = 0;
      if (!ParseInteger(Edit4->text(), udpTimeout) || udpTimeout < 0 || udpTimeout > 65535) {
        SetStatusLine(BadUdpTimeoutText);
        return;
      }
      d.UdpTimeout = udpTimeout;
      // The driver reads the text through word 0 during Init: give IpAddress a buffer of its
      // own now (data() detaches a shared one), so no later copy-on-write can move it.
      d.DriverParams[0] = reinterpret_cast<uintptr_t>(d.IpAddress.data());
      d.DriverParams[1] = static_cast<uintptr_t>(d.UdpPort);
      d.DriverParams[2] = static_cast<uintptr_t>(d.UdpTimeout);
      break;
    }
    default:
      SetStatusLine(UnknownInterfaceText);
      return;
  }

  // Load and initialise the driver. A failing Init leaves nothing to shut down.
  uint32_t status = DriverInit(d.Interface, &h, d.DriverParams);
  DriverErrorText(d.Interface, status, &message_);
  if (status != 0) {
    SetStatusLine(InitFailedText + MessageBufferToString(message_));
    d.Connected = false;
    return;
  }
  d.Connected = true;

  // Rate and timeout on the driver; from here on every failure shuts the driver down.
  const int32_t rate = BaudCodeToRate(baudCode);
  status = DriverSetConfig(d.Interface, h, static_cast<uint32_t>(rate), timeout, 2);
  DriverErrorText(d.Interface, status, &message_);
  if (status != 0) {
    SetStatusLine(InitFailedText + MessageBufferToString(message_));
    AbortConnection(h);
    return;
  }

  // Identification: name (Index 0, 1) and version (Index 2).
  QString ident;
  if (IdentifyModule(d.Interface, h, address, ident, &message_) != 0) {
    SetStatusLine(MessageBufferToString(message_));
    AbortConnection(h);
    return;
  }
  d.ModuleIdent = ident;

  SetStatusLine(SuccessText + IdentForDisplay(d.ModuleIdent));

  // Only a fully successful attempt changes the accepted parameters.
  d.ModuleAddress = address;
  d.BaudRate = rate;
  d.ResponseTimeout = static_cast<uint16_t>(timeout);
  d.ConnectionStatus = AllRightText;
  d.DriverHandle = h;
}
