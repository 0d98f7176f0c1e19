// The connection dialog against the scripted test driver: what each path of a connection
// attempt hands to the driver, shows in its status line and leaves in TData.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <map>
#include <utility>
#include <vector>
#include <memory>

#include "base/settings/tdata.h"
#include "base/text/baud.h"
#include "base/exchange/driver_loader.h"
#include "connect/tform2.h"
#include "tests/support/scripted_driver.h"

namespace {

constexpr uint32_t kHandle = 0x51;  // what the scripted Init hands out unless told otherwise

QString ErrorText(uint32_t code) { return QString::fromStdString(ScriptedErrorText(code)); }

class ConnectDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    InitData(&d);
    form.setData(&d);
  }

  void TearDown() override {
    // Leave the loader unloaded for the next test, whatever this one left behind.
    if (DriverLibraryLoaded()) {
      uint32_t h = d.DriverHandle;
      DriverDone(lastIface, &h);
    }
  }

  ScriptedDriver& driver(uint8_t iface) {
    auto& slot = drivers[iface];
    if (!slot) slot = std::make_unique<ScriptedDriver>(iface);
    lastIface = iface;
    return *slot;
  }

  template <class T>
  T* child(const char* name) {
    T* w = form.findChild<T*>(QLatin1String(name));
    if (w == nullptr) ADD_FAILURE() << "no control " << name;
    return w;
  }
  QLineEdit* edit(const char* name) { return child<QLineEdit>(name); }
  QString panel() { return child<QLabel>("Panel1")->text(); }
  bool shown(const char* name) { return child<QWidget>(name)->isVisibleTo(&form); }

  // The operator picks an interface from the list.
  void choose(int iface) {
    child<QComboBox>("ComboBox2")->setCurrentIndex(iface);
    form.ComboBox2Change();
  }

  // A module that answers the identification with "QX-510AB" and "1.03".
  void scriptIdentity(ScriptedDriver& drv) {
    drv.setAnswer(200, 0, {0, 'Q', 'X', '-', '5'});
    drv.setAnswer(200, 1, {0, '1', '0', 'A', 'B'});
    drv.setAnswer(200, 2, {0, '1', '.', '0', '3'});
  }

  // Between the rows of a table: each attempt starts from no connection and an empty log.
  void freshAttempt(ScriptedDriver& drv) {
    if (d.Connected) DisconnectScripted(d);
    drv.clearLog();
  }

  // Connect through the serial driver with the dialog as FormShow filled it.
  void connectSerial() {
    scriptIdentity(driver(InterfaceSerial));
    form.FormShow();
    form.Button1Click();
    ASSERT_TRUE(d.Connected) << panel().toStdString();
  }

  TData d{};
  TForm2 form;
  std::map<int, std::unique_ptr<ScriptedDriver>> drivers;
  uint8_t lastIface = 0;
};

// ---------------------------------------------------------------------------------------
// Field layout

struct LayoutCase {
  uint8_t storedInterface;
  int selected;  // ComboBox2 index after FormShow
  bool row2, row3, row4;
  QString label3, edit2;
};

TEST_F(ConnectDialog, FormShowLaysOutTheStoredInterfaceAndMasksUnknownValues) {
  const std::vector<LayoutCase> cases = {
      {0, 0, true, false, false, "Číslo portu COMx", "7"},
      {1, 1, true, false, false, "Bázová adresa ZK-660", "02Ah"},
      {2, 2, false, false, false, {}, {}},
      {3, 3, false, false, false, {}, {}},
      {4, 4, true, true, true, "IP adresa", "127.0.0.1"},
      {12, 4, true, true, true, "IP adresa", "127.0.0.1"},  // 12 AND 7 = 4
      {13, -1, false, false, false, {}, {}},                 // 13 AND 7 = 5: no interface
      {255, -1, false, false, false, {}, {}},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(int(c.storedInterface));
    InitData(&d);
    d.ComPort = 7;
    d.IsaBaseAddress = 0x2A;
    d.IpAddress = "127.0.0.1";
    d.UdpPort = 5001;
    d.UdpTimeout = 250;
    d.ModuleAddress = 200;
    d.BaudRate = 19200;
    d.ResponseTimeout = 65535;
    d.ConnectionStatus = "V pořádku";
    d.Interface = c.storedInterface;
    form.FormShow();
    EXPECT_EQ(edit("Edit1")->text(), "200");
    EXPECT_EQ(child<QComboBox>("ComboBox1")->currentIndex(), 5);
    EXPECT_EQ(edit("Edit5")->text(), "65535");
    EXPECT_EQ(panel(), "V pořádku");
    EXPECT_EQ(d.Interface, c.storedInterface & 7);
    EXPECT_EQ(child<QComboBox>("ComboBox2")->currentIndex(), c.selected);
    EXPECT_EQ(shown("Label3"), c.row2);
    EXPECT_EQ(shown("Edit2"), c.row2);
    EXPECT_EQ(shown("Label6"), c.row3);
    EXPECT_EQ(shown("Edit3"), c.row3);
    EXPECT_EQ(shown("Label7"), c.row4);
    EXPECT_EQ(shown("Edit4"), c.row4);
    if (c.row2) {
      EXPECT_EQ(child<QLabel>("Label3")->text(), c.label3);
      EXPECT_EQ(edit("Edit2")->text(), c.edit2);
    }
    if (c.row3) {
      EXPECT_EQ(edit("Edit3")->text(), "5001");
      EXPECT_EQ(edit("Edit4")->text(), "250");
    }
  }
}

TEST_F(ConnectDialog, ChangingTheInterfaceRefillsItsFieldsFromTData) {
  d.IpAddress = "127.0.0.1";
  d.IsaBaseAddress = 0x1000;
  form.FormShow();
  choose(InterfaceLan);
  EXPECT_TRUE(shown("Edit4"));
  edit("Edit2")->setText("10.1.1.1");
  edit("Edit3")->setText("1");
  choose(InterfaceLan);  // picking it again discards what was typed
  EXPECT_EQ(edit("Edit2")->text(), "127.0.0.1");
  EXPECT_EQ(edit("Edit3")->text(), "5000");

  choose(InterfaceIsa);
  EXPECT_EQ(edit("Edit2")->text(), "1000h");
  EXPECT_FALSE(shown("Edit3"));
  choose(InterfaceUsb);
  EXPECT_FALSE(shown("Edit2"));

  choose(-1);
  EXPECT_EQ(panel(), "Neznámý typ rozhraní");
  EXPECT_TRUE(shown("Label3"));
  EXPECT_TRUE(shown("Edit2"));
  EXPECT_FALSE(shown("Edit3"));
  EXPECT_FALSE(shown("Edit4"));
  // Choosing only lays out fields: nothing is stored.
  EXPECT_EQ(d.Interface, InterfaceSerial);
}

// Every caption fits its control in the fixed client area; QX510_GRAB_DIR, when set,
// receives a picture of the dialog with every row shown.
TEST_F(ConnectDialog, ClientAreaIsFixedAndCaptionsFit) {
  d.Interface = InterfaceLan;
  d.IpAddress = "127.0.0.1";
  d.ConnectionStatus = TForm2::SuccessText + "QX-510AB v.1.03";
  form.show();
  EXPECT_EQ(form.size(), QSize(592, 373));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_TRUE(shown("Edit4"));
  for (QWidget* w : form.findChildren<QWidget*>()) {
    if (!qobject_cast<QLabel*>(w) && !qobject_cast<QPushButton*>(w)) continue;
    SCOPED_TRACE(w->objectName().toStdString());
    const auto* button = qobject_cast<QPushButton*>(w);
    const int needed = button ? button->fontMetrics().horizontalAdvance(button->text()) + 12
                              : w->sizeHint().width();
    EXPECT_LE(needed, w->width());
    EXPECT_TRUE(form.rect().contains(w->geometry()));
  }
  // Labels stand left of their fields, which line up in one column.
  for (const char* field : {"ComboBox2", "Edit2", "Edit3", "Edit4", "Edit1", "ComboBox1", "Edit5"}) {
    SCOPED_TRACE(field);
    EXPECT_EQ(child<QWidget>(field)->x(), 208);
    EXPECT_EQ(child<QWidget>(field)->width(), 169);
  }
  EXPECT_EQ(child<QLabel>("Panel1")->width(), 521);
  const QString dir = qEnvironmentVariable("QX510_GRAB_DIR");
  if (!dir.isEmpty()) form.grab().save(QDir(dir).filePath("TForm2.png"));
  form.hide();
}

// ---------------------------------------------------------------------------------------
// What the driver is handed

TEST_F(ConnectDialog, IsaBaseAddressIsThreeHexDigitsAndAnH) {
  struct Case {
    const char* typed;
    const char* shownBack;
    uint16_t base;
  };
  const Case cases[] = {
      {"2A0h", "2A0h", 0x2A0}, {"2a0h", "2A0h", 0x2A0}, {"00Fh", "00Fh", 0x00F},
      {"FFFx", "FFFh", 0xFFF},  // only the length and the three digits count
      {"2A0", "300h", 0x300},   {"2A0hh", "300h", 0x300}, {"2G0h", "300h", 0x300},
      {" 2Ah", "300h", 0x300},  {"", "300h", 0x300},
  };
  ScriptedDriver& drv = driver(InterfaceIsa);
  scriptIdentity(drv);
  d.Interface = InterfaceIsa;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    form.FormShow();
    d.IsaBaseAddress = 0x123;
    edit("Edit2")->setText(c.typed);
    freshAttempt(drv);
    form.Button1Click();
    EXPECT_EQ(edit("Edit2")->text(), c.shownBack);
    EXPECT_EQ(d.IsaBaseAddress, c.base);
    EXPECT_EQ(d.DriverParams[0], c.base);
    const auto calls = drv.calls();
    ASSERT_GE(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, LoggedCall::Init);
    EXPECT_EQ(calls[0].word0, c.base);
    EXPECT_TRUE(d.Connected);
  }
}

TEST_F(ConnectDialog, TypedAddressAndPortAreCutToTheirWidthAndShownBackSo) {
  struct Case {
    const char* address;
    uint8_t moduleAddress;
    const char* port;
    uint16_t portWord;
    uint8_t comPort;
  };
  const Case cases[] = {
      {"17", 17, "3", 3, 3},           {"256", 0, "257", 257, 1},  {"-1", 255, "-1", 65535, 255},
      {"abc", 0, "x", 1, 1},           {"511", 255, "", 1, 1},     {"0", 0, "65536", 0, 0},
      {"1", 1, "99999999999", 1, 1},  // beyond 32 bits: not an integer
  };
  ScriptedDriver& drv = driver(InterfaceSerial);
  scriptIdentity(drv);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.address) + " / " + c.port);
    form.FormShow();
    edit("Edit1")->setText(c.address);
    edit("Edit2")->setText(c.port);
    freshAttempt(drv);
    form.Button1Click();
    EXPECT_EQ(edit("Edit1")->text(), QString::number(c.moduleAddress));
    EXPECT_EQ(edit("Edit2")->text(), QString::number(c.portWord));
    EXPECT_EQ(d.ModuleAddress, c.moduleAddress);
    EXPECT_EQ(d.ComPort, c.comPort);
    ASSERT_EQ(drv.count(LoggedCall::Send), 3);
    EXPECT_EQ(drv.calls().at(0).word0, c.portWord);
    for (const auto& request : drv.requests()) EXPECT_EQ(request[0], c.moduleAddress);
  }
}

TEST_F(ConnectDialog, RateAndTimeoutGoToTheDriverWholeAndAreStoredAsDocumented) {
  struct Case {
    int baudCode;
    const char* typed;
    uint32_t sent;
    const char* shownBack;
    uint16_t stored;
  };
  const Case cases[] = {
      {7, "70000", 70000, "70000", 4464},
      {0, "150", 150, "150", 150},
      {8, "-1", 0xFFFFFFFFu, "4294967295", 65535},
      {4, "1,5", 0, "0", 0},
  };
  ScriptedDriver& drv = driver(InterfaceSerial);
  scriptIdentity(drv);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    form.FormShow();
    child<QComboBox>("ComboBox1")->setCurrentIndex(c.baudCode);
    edit("Edit5")->setText(c.typed);
    freshAttempt(drv);
    form.Button1Click();
    const auto calls = drv.calls();
    const auto setConfig = std::find_if(calls.begin(), calls.end(),
                                        [](const LoggedCall& call) { return call.kind == LoggedCall::SetConfig; });
    ASSERT_NE(setConfig, calls.end());
    EXPECT_EQ(setConfig->handle, kHandle);
    const std::array<uint32_t, 3> expected = {uint32_t(BaudCodeToRate(c.baudCode)), c.sent, 2};
    EXPECT_EQ(setConfig->config, expected);
    EXPECT_EQ(edit("Edit5")->text(), c.shownBack);
    EXPECT_EQ(d.ResponseTimeout, c.stored);
    EXPECT_EQ(d.BaudRate, BaudCodeToRate(c.baudCode));
  }
}

TEST_F(ConnectDialog, EachInterfaceGetsItsOwnInitArguments) {
  d.ComPort = 4;
  d.IsaBaseAddress = 0x2A0;
  d.IpAddress = "127.0.0.1";
  d.UdpPort = 5010;
  d.UdpTimeout = 300;
  for (uint8_t iface = 0; iface < InterfaceCount; ++iface) {
    SCOPED_TRACE(int(iface));
    ScriptedDriver& drv = driver(iface);
    scriptIdentity(drv);
    d.Interface = iface;
    d.DriverParams.fill(0xDEAD);  // whatever an earlier attempt left must not leak through
    form.FormShow();
    form.Button1Click();
    ASSERT_TRUE(d.Connected) << panel().toStdString();
    EXPECT_EQ(d.Interface, iface);
    const auto calls = drv.calls();
    ASSERT_EQ(drv.count(LoggedCall::Send), 3);  // the identification
    const LoggedCall& init = calls[0];
    ASSERT_EQ(init.kind, LoggedCall::Init);

    DriverParamBlock expected{};
    if (iface == InterfaceSerial) expected[0] = 4;
    if (iface == InterfaceIsa) expected[0] = 0x2A0;
    if (iface == InterfaceLan) {
      // Word 0 points at TData's own text, which is what a later Init may read again.
      expected[0] = reinterpret_cast<uintptr_t>(d.IpAddress.constData());
      expected[1] = 5010;
      expected[2] = 300;
      EXPECT_EQ(init.block, expected);
      EXPECT_EQ(init.ipText, "127.0.0.1");
    }
    if (iface <= InterfaceIsa) {
      EXPECT_EQ(init.word0, expected[0]);
    }
    EXPECT_EQ(d.DriverParams, expected);

    uint32_t h = d.DriverHandle;
    DriverDone(iface, &h);
    d.DriverHandle = h;
    d.Connected = false;
  }
}

// ---------------------------------------------------------------------------------------
// The LAN converter's own checks

TEST_F(ConnectDialog, LanInputIsCheckedBeforeAnythingIsLoaded) {
  struct Case {
    const char* ip;
    const char* port;
    const char* timeout;
    QString message;
    bool ipStored, portStored;
  };
  const Case cases[] = {
      {"", "5000", "100", "Neplatná IP adresa", false, false},
      {"127.0.0.1", "70000", "100", "Neplatný UDP port", true, false},
      {"127.0.0.1", "-1", "100", "Neplatný UDP port", true, false},
      {"127.0.0.1", "port", "100", "Neplatný UDP port", true, false},
      {"127.0.0.1", "65535", "65536", "Neplatný UDP timeout", true, true},
      {"127.0.0.1", "0", "-1", "Neplatný UDP timeout", true, true},
      {"127.0.0.1", "4000", "", "Neplatný UDP timeout", true, true},
  };
  ScriptedDriver& drv = driver(InterfaceLan);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ip) + " " + c.port + " " + c.timeout);
    InitData(&d);
    d.Interface = InterfaceLan;
    d.IpAddress = "127.0.7.7";  // stored from an earlier session, never dialled
    d.UdpPort = 1234;
    form.FormShow();
    edit("Edit2")->setText(c.ip);
    edit("Edit3")->setText(c.port);
    edit("Edit4")->setText(c.timeout);
    freshAttempt(drv);
    form.Button1Click();
    EXPECT_EQ(panel(), c.message);
    EXPECT_TRUE(drv.calls().empty());
    EXPECT_FALSE(DriverLibraryLoaded());
    EXPECT_FALSE(d.Connected);
    EXPECT_EQ(d.Interface, InterfaceLan);
    EXPECT_EQ(d.IpAddress, c.ipStored ? QByteArray("127.0.0.1") : QByteArray("127.0.7.7"));
    EXPECT_EQ(d.UdpPort, c.portStored ? QString(c.port).toInt() : 1234);
  }
}

// ---------------------------------------------------------------------------------------
// Identification and the outcome in TData

TEST_F(ConnectDialog, IdentificationCarriesData0FromOneAnswerIntoTheNextRequest) {
  ScriptedDriver& drv = driver(InterfaceSerial);
  drv.setAnswer(200, 0, {0x11, 'Q', 'X', '-', '5'});
  drv.setAnswer(200, 1, {0x22, '1', '0', 0, 0});
  drv.setAnswer(200, 2, {0x33, '1', '.', '0', 0x8A});  // 0x8A: capital S with caron
  form.FormShow();
  edit("Edit1")->setText("9");
  form.Button1Click();

  const auto requests = drv.requests();
  ASSERT_EQ(requests.size(), 3u);
  const uint32_t data0[3] = {0, 0x11, 0x22};
  for (uint32_t i = 0; i < 3; ++i) {
    const std::array<uint32_t, 8> expected = {9, 200, i, data0[i], 0, 0, 0, 0};
    EXPECT_EQ(requests[i], expected) << "request " << i;
  }
  const QString ident = QString("QX-510") + QChar(0) + QChar(0) + " v.1.0Š";
  EXPECT_EQ(d.ModuleIdent, ident);
  EXPECT_EQ(d.ModuleIdent.size(), 15);
  EXPECT_EQ(panel(), "Připojení úspěšně inicializováno. Připojen modul   QX-510 v.1.0Š");
  EXPECT_TRUE(d.Connected);
  EXPECT_EQ(d.DriverHandle, kHandle);
  EXPECT_EQ(d.ModuleAddress, 9);
  EXPECT_EQ(d.ConnectionStatus, "V pořádku");
}

struct FailureCase {
  const char* name;
  uint32_t initStatus, setConfigStatus;
  int failingExchange;  // 1..3, 0 = none
  QString message;
  int dones, sends;
};

TEST_F(ConnectDialog, EveryFailureLeavesTheAcceptedParametersAlone) {
  const FailureCase cases[] = {
      {"init", 7, 0, 0, "Chyba inicializace připojení - " + ErrorText(7), 0, 0},
      {"setconfig", 0, 8, 0, "Chyba inicializace připojení - " + ErrorText(8), 1, 0},
      {"name, first half", 0, 0, 1, ErrorText(5), 1, 1},
      {"name, second half", 0, 0, 2, ErrorText(5), 1, 2},
      {"version", 0, 0, 3, ErrorText(5), 1, 3},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    InitData(&d);
    d.ModuleIdent = "earlier";
    ScriptedDriver& drv = driver(InterfaceIsa);
    drv.reset();
    scriptIdentity(drv);
    drv.setInitStatus(c.initStatus);
    drv.setSetConfigStatus(c.setConfigStatus);
    if (c.failingExchange > 0) drv.failExchange(c.failingExchange, 5);
    d.Interface = InterfaceIsa;
    form.FormShow();
    edit("Edit1")->setText("42");
    edit("Edit2")->setText("2A0h");
    edit("Edit5")->setText("999");
    child<QComboBox>("ComboBox1")->setCurrentIndex(8);
    form.Button1Click();

    EXPECT_EQ(panel(), c.message);
    EXPECT_EQ(drv.count(LoggedCall::Done), c.dones);
    EXPECT_EQ(drv.count(LoggedCall::Send), c.sends);
    if (c.dones > 0) {
      EXPECT_EQ(drv.calls().back().kind, LoggedCall::Done);
      EXPECT_EQ(drv.calls().back().handle, kHandle);
    }
    EXPECT_FALSE(d.Connected);
    EXPECT_EQ(d.DriverHandle, 0u);
    // Accepted only on success.
    EXPECT_EQ(d.ModuleAddress, 0);
    EXPECT_EQ(d.BaudRate, 9600);
    EXPECT_EQ(d.ResponseTimeout, 150);
    EXPECT_EQ(d.ConnectionStatus, "Připojení modulu dosud neinicializováno");
    EXPECT_EQ(d.ModuleIdent, "earlier");
    // Taken as soon as the attempt got to them.
    EXPECT_EQ(d.Interface, InterfaceIsa);
    EXPECT_EQ(d.IsaBaseAddress, 0x2A0);
    EXPECT_EQ(d.DriverParams[0], 0x2A0u);
    if (c.dones == 0 && DriverLibraryLoaded()) {
      uint32_t h = 0;
      DriverDone(InterfaceIsa, &h);
    }
  }
}

// Each step's status text comes from the driver right after the step: Error is asked with the
// step's status after Init, after SetConfig and after every identification exchange.
TEST_F(ConnectDialog, DriverCallsComeInOrderWithEachStatusTextFetched) {
  using K = LoggedCall;
  using Calls = std::vector<std::pair<LoggedCall::Kind, uint32_t>>;  // kind, Error's code
  const struct {
    const char* name;
    uint32_t initStatus;
    int failingExchange;  // 1..3, 0 = none
    Calls calls;
    bool connected;
  } cases[] = {
      {"connection", 0, 0,
       {{K::Init, 0}, {K::Error, 0}, {K::SetConfig, 0}, {K::Error, 0}, {K::Send, 0}, {K::Error, 0}, {K::Send, 0},
        {K::Error, 0}, {K::Send, 0}, {K::Error, 0}},
       true},
      {"failing Init", 7, 0, {{K::Init, 0}, {K::Error, 7}}, false},
      {"failing version", 0, 3,
       {{K::Init, 0}, {K::Error, 0}, {K::SetConfig, 0}, {K::Error, 0}, {K::Send, 0}, {K::Error, 0}, {K::Send, 0},
        {K::Error, 0}, {K::Send, 0}, {K::Error, 5}, {K::Done, 0}},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDriver& drv = driver(InterfaceSerial);
    drv.reset();
    scriptIdentity(drv);
    drv.setInitStatus(c.initStatus);
    if (c.failingExchange > 0) drv.failExchange(c.failingExchange, 5);
    form.FormShow();
    form.Button1Click();
    Calls calls;
    for (const LoggedCall& call : drv.calls()) calls.emplace_back(call.kind, call.kind == K::Error ? call.code : 0);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(d.Connected, c.connected);
    // Only a failed Init leaves the library loaded without a connection.
    EXPECT_EQ(DriverLibraryLoaded(), c.connected || c.initStatus != 0);
    if (d.Connected) DisconnectScripted(d);
    uint32_t h = 0;
    if (DriverLibraryLoaded()) DriverDone(InterfaceSerial, &h);
  }
}

TEST_F(ConnectDialog, ADriverHandingOutHandleZeroIsNotTakenForAnIdentifiedModule) {
  // With handle 0 no exchange can reach the module; the attempt must not claim success.
  ScriptedDriver& drv = driver(InterfaceSerial);
  scriptIdentity(drv);
  drv.setHandle(0);
  form.FormShow();
  form.Button1Click();
  EXPECT_EQ(drv.count(LoggedCall::Send), 0);
  EXPECT_EQ(drv.count(LoggedCall::Done), 1);
  EXPECT_FALSE(d.Connected);
  EXPECT_NE(panel(), TForm2::SuccessText + "QX-510AB v.1.03");
  EXPECT_EQ(d.ConnectionStatus, "Připojení modulu dosud neinicializováno");
}

TEST_F(ConnectDialog, UnknownInterfaceEndsTheAttemptWithoutLoadingAnything) {
  d.Interface = 6;
  form.FormShow();
  form.Button1Click();
  EXPECT_EQ(panel(), "Neznámý typ rozhraní");
  EXPECT_FALSE(DriverLibraryLoaded());
  EXPECT_FALSE(d.Connected);
}

// ---------------------------------------------------------------------------------------
// A second attempt

TEST_F(ConnectDialog, PressingAgainWhileConnectedShutsTheRunningConnectionDownFirst) {
  connectSerial();
  ScriptedDriver& serial = driver(InterfaceSerial);
  serial.clearLog();
  form.Button1Click();
  using K = LoggedCall;
  const std::vector<LoggedCall::Kind> expected = {K::Done, K::Init, K::Error, K::SetConfig, K::Error, K::Send,
                                                  K::Error, K::Send,  K::Error, K::Send,      K::Error};
  EXPECT_EQ(serial.kinds(), expected);
  EXPECT_EQ(serial.calls()[0].handle, kHandle);
  EXPECT_TRUE(d.Connected);

  // Moving to another interface shuts the old driver down through its own interface.
  ScriptedDriver& usb = driver(InterfaceUsb);
  scriptIdentity(usb);
  usb.setHandle(0x77);
  serial.clearLog();
  choose(InterfaceUsb);
  form.Button1Click();
  ASSERT_EQ(serial.calls().size(), 1u);
  EXPECT_EQ(serial.calls()[0].kind, LoggedCall::Done);
  EXPECT_EQ(usb.count(LoggedCall::Init), 1);
  EXPECT_EQ(usb.count(LoggedCall::Done), 0);
  EXPECT_TRUE(d.Connected);
  EXPECT_EQ(d.DriverHandle, 0x77u);
}

TEST_F(ConnectDialog, ARejectedSecondAttemptStillEndsTheRunningConnection) {
  connectSerial();
  driver(InterfaceLan);
  choose(InterfaceLan);
  edit("Edit2")->setText("127.0.0.1");
  edit("Edit3")->setText("70000");
  form.Button1Click();
  EXPECT_EQ(panel(), "Neplatný UDP port");
  EXPECT_EQ(driver(InterfaceSerial).count(LoggedCall::Done), 1);
  EXPECT_FALSE(d.Connected);
  EXPECT_EQ(d.DriverHandle, 0u);
  EXPECT_FALSE(DriverLibraryLoaded());
  // The last accepted parameters stay for the status bar.
  EXPECT_EQ(d.ConnectionStatus, "V pořádku");
}

}  // namespace
