#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QStringList>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "ui/status_bar.h"
#include "base/settings/tdata.h"
#include "calib/tform6.h"
#include "tests/support/paint_spy.h"
#include "tests/support/scripted_driver.h"

namespace {

using Request = std::array<uint32_t, 8>;
using Requests = std::vector<Request>;

constexpr uint8_t kModule = 7;

const QString kSeparator = QString(66, QLatin1Char('_')) + QLatin1Char(' ');
const QString kChoose = QStringLiteral("Vyber rozsah, stiskni tlačítko Kalibrace.");
const QString kVoltageWindow = QStringLiteral("Hodnota napětí musí být v rozsahu 4-6V.");
const QString kCurrentWindow = QStringLiteral("Hodnota proudu musí být v rozsahu 9-11mA.");
const QString kBadReadings =
    QStringLiteral("Chyba naměřených hodnot. Zkontroluj připojení vstupu a proveď znovu kalibraci.");
const QString kWriteMismatch = QStringLiteral(" Chyba zápisu do konfigurační paměti modulu.");
const QStringList kAbandonBlock = {QString(), QStringLiteral("Kalibrace vstupu zrušena !"), QString(), kSeparator,
                                   QString(), kChoose};
const QString kRestored = QStringLiteral("Původní rozsah vstupu a kalibrační konstanty obnoveny.");
const QString kCalibrated = QStringLiteral("Vstup zkalibrován (je nutno vypnout a zapnout napájení modulu).");
const QString kKept = QStringLiteral("Nové kalibrační konstanty zapsány; původní rozsah vstupu nastaven zpět.");

Request Req(uint8_t command, uint8_t index, uint8_t d1 = 0, uint8_t d2 = 0, uint8_t d3 = 0, uint8_t d4 = 0) {
  return {kModule, command, index, 0, d1, d2, d3, d4};
}
const Request kMeasure = Req(0, 0);

using Bytes = std::vector<std::pair<uint8_t, uint8_t>>;  // address, value

Requests VerifiedWrites(const Bytes& bytes, Requests r = {}) {
  for (auto [a, v] : bytes) {
    r.push_back(Req(103, 0, a, a, v, v));
    r.push_back(Req(102, 0, a, a));
  }
  return r;
}

Requests operator+(Requests a, const Requests& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// What the module holds before a calibration: input 0 in the current range, and constants
// that are neither neutral nor what a calibration in these tests computes.
constexpr uint8_t kFormerRange = 1;
constexpr std::array<uint8_t, 8> kFormerConstants = {11, 22, 33, 44, 55, 66, 77, 88};

// The bytes a calibration of the range changes, as they were before it.
Bytes Former(uint8_t range) {
  const uint8_t base = range == 0 ? 15 : 19;
  Bytes bytes = {{0, kFormerRange}};
  for (uint8_t i = 0; i < 4; ++i) bytes.emplace_back(uint8_t(base + i), kFormerConstants[size_t(base - 15 + i)]);
  return bytes;
}

// The reads before the start, and the write-back of what they found.
Requests SavedReads(uint8_t range) {
  Requests r;
  for (auto [a, v] : Former(range)) r.push_back(Req(102, 0, a, a));
  return r;
}
Requests WriteBack(uint8_t range) { return VerifiedWrites(Former(range)); }

Bytes Neutral(uint8_t range) {
  const uint8_t base = range == 0 ? 15 : 19;
  return {{0, range}, {base, 16}, {uint8_t(base + 1), 39}, {uint8_t(base + 2), 0}, {uint8_t(base + 3), 0}};
}

// Data0..Data4 of a measured value: magnitude with sign, places.
std::array<uint8_t, 5> Reading(int32_t value, uint8_t places) {
  const uint32_t m = static_cast<uint32_t>(value < 0 ? -value : value);
  return {0, uint8_t(m), uint8_t(m >> 8), uint8_t(((m >> 16) & 0x7F) | (value < 0 ? 0x80 : 0)), places};
}

QString ErrorText(uint32_t code) { return QString::fromStdString(ScriptedErrorText(code)); }

class Form6Test : public ::testing::Test {
 protected:
  void SetUp() override {
    InitData(&data);
    data.ModuleAddress = kModule;
    driver = std::make_unique<ScriptedDriver>(data.Interface);
    SeedModule();
    ConnectScripted(data);
    driver->clearLog();
    form = std::make_unique<TForm6>();
    form->Timer1->stop();  // ticks would interleave their reads with the logged sequences
    form->setMeasurementDelayMs(0);
    form->setData(&data);
  }
  void TearDown() override {
    form.reset();
    DisconnectScripted(data);
  }

  void SeedModule() {
    driver->setConfigByte(0, kFormerRange);
    for (uint8_t i = 0; i < 8; ++i) driver->setConfigByte(uint8_t(15 + i), kFormerConstants[i]);
  }
  // An empty script again, the module holding what it held before any calibration.
  void ResetModule() {
    driver->reset();
    SeedModule();
  }

  QStringList Memo() const { return form->Memo1->toPlainText().split(QLatin1Char('\n')); }
  QString Status() const { return form->StatusBar1->text(); }
  void Measures(int32_t value, uint8_t places) { driver->setAnswer(0, 0, Reading(value, places)); }
  // Bytes 0 and 15..22 as the module holds them now.
  Bytes Held() const {
    Bytes bytes = {{0, driver->configByte(0)}};
    for (uint8_t a = 15; a <= 22; ++a) bytes.emplace_back(a, driver->configByte(a));
    return bytes;
  }
  static Bytes HeldBefore() {
    Bytes bytes = {{0, kFormerRange}};
    for (uint8_t i = 0; i < 8; ++i) bytes.emplace_back(uint8_t(15 + i), kFormerConstants[i]);
    return bytes;
  }

  // Through the real steps into a state, with a zero reading of 0; the log starts empty.
  void Reach(uint8_t state) {
    form->ComboBox1->setCurrentIndex(state >= 10 ? 1 : 0);
    form->Button1Click();
    if (state % 10 == 2) {
      Measures(0, 3);
      form->Button2Click();
    }
    ASSERT_EQ(form->CalibrationState, state);
    driver->clearLog();
  }

  TData data{};
  std::unique_ptr<ScriptedDriver> driver;
  std::unique_ptr<TForm6> form;
};

struct FullCase {
  const char* name;
  int rangeItem;
  uint8_t zeroState, referenceState;
  std::array<uint8_t, 5> zero, reference;
  const char* entry;
  Requests store;
  const char* zeroInstruction;
  const char* referenceInstruction;
};

class FullCalibration : public Form6Test, public ::testing::WithParamInterface<FullCase> {};

TEST_P(FullCalibration, SendsExactlyTheProcedureAndReportsIt) {
  const FullCase& c = GetParam();
  const uint8_t range = uint8_t(c.rangeItem);
  form->ComboBox1->setCurrentIndex(c.rangeItem);
  form->Button1Click();
  EXPECT_EQ(driver->requests(), SavedReads(range) + VerifiedWrites(Neutral(range)));
  EXPECT_EQ(form->CalibrationState, c.zeroState);
  EXPECT_EQ(Status(), QStringLiteral(" "));

  form->ComboBox1->setCurrentIndex(1 - c.rangeItem);  // the steps keep the started range
  driver->clearLog();
  driver->setAnswer(0, 0, c.zero);
  form->Button2Click();
  EXPECT_EQ(driver->requests(), Requests{kMeasure});
  EXPECT_EQ(form->CalibrationState, c.referenceState);

  driver->clearLog();
  driver->setAnswer(0, 0, c.reference);
  form->Edit2->setText(QString::fromUtf8(c.entry));
  form->Button2Click();
  // The new constants, then the input's former range.
  EXPECT_EQ(driver->requests(), c.store + VerifiedWrites({{0, kFormerRange}}));
  EXPECT_EQ(driver->configByte(0), kFormerRange);
  EXPECT_EQ(form->CalibrationState, 0);
  EXPECT_EQ(Status(), QStringLiteral(" "));

  const QStringList memo = {kChoose, QString(), kSeparator + QStringLiteral("Kalibrace vstupu 0"), QString(),
                            QString::fromUtf8(c.zeroInstruction), QString(), QString::fromUtf8(c.referenceInstruction),
                            QString(), kCalibrated, kKept, QString(), kSeparator, QString(), kChoose};
  EXPECT_EQ(Memo(), memo);
}

INSTANTIATE_TEST_SUITE_P(
    Calibration, FullCalibration,
    ::testing::Values(
        // Zero -0.125 V, reference 5.125 V for 5 V: gain 9524, offset -120.
        FullCase{"voltage", 0, 1, 2,
                 Reading(-125, 3), Reading(5125, 3), "5,0",
                 VerifiedWrites({{15, 52}, {16, 37}, {17, 136}, {18, 255}}, {kMeasure}),
                 "Zkratuj napěťový vstup (svorky 27 a 28) a stiskni tlačítko Potvrzení.",
                 "Odstraň zkrat, připoj na vstup napětí v rozsahu 4-6V, zadej hodnotu napětí a stiskni tlačítko "
                 "Potvrzení."},
        // Zero 0 A, reference 0.0095 A for 10 mA: gain 10526, offset 0.
        FullCase{"current", 1, 11, 12,
                 Reading(0, 6), Reading(9500, 6), "10,0",
                 VerifiedWrites({{19, 30}, {20, 41}, {21, 0}, {22, 0}}, {kMeasure}),
                 "Zkratuj proudový vstup (svorky 28 a 29) a stiskni tlačítko Potvrzení.",
                 "Odstraň zkrat, připoj na vstup proud v rozsahu 9-11mA, zadej hodnotu proudu a stiskni tlačítko "
                 "Potvrzení."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form6Test, BothMeasurementsWaitASecondByDefault) {
  form->setMeasurementDelayMs(1000);
  Reach(1);
  Measures(5000, 3);
  form->Edit2->setText(QStringLiteral("5,0"));
  for (uint8_t after : {2, 0}) {
    QElapsedTimer clock;
    clock.start();
    form->Button2Click();
    EXPECT_GE(clock.elapsed(), 990);
    EXPECT_EQ(form->CalibrationState, after);
  }
}

// Each progress text reaches the screen before the work it announces: the handlers block,
// so a text that is only set, not repainted, would never be seen.
TEST_F(Form6Test, ProgressIsPaintedBeforeTheExchanges) {
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  std::vector<std::pair<QString, size_t>> painted;  // text, requests sent when it was painted
  auto* panel = form->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
  PaintSpy spy(panel, [&] {
    if (painted.empty() || painted.back().first != panel->text())
      painted.emplace_back(panel->text(), driver->requests().size());
  });
  form->Button1Click();
  Measures(0, 3);
  form->Button2Click();
  Measures(5000, 3);
  form->Edit2->setText(QStringLiteral("5,0"));
  form->Button2Click();
  ASSERT_EQ(form->CalibrationState, 0);
  const std::vector<std::pair<QString, size_t>> expected = {
      {QStringLiteral(" Probíhá inicializace kalibrace."), 0},
      {QStringLiteral(" "), 15},
      {QStringLiteral(" Probíhá měření vstupu."), 15},
      {QStringLiteral(" "), 16},
      {QStringLiteral(" Probíhá měření vstupu."), 16},
      {QStringLiteral(" Probíhá zápis kalibračních konstant."), 17},
      {QStringLiteral(" "), 27}};
  EXPECT_EQ(painted, expected);
}

// The steps talk to the module and through the handle of their start; the live reading in
// between uses whatever the record holds.
TEST_F(Form6Test, StepsKeepTheHandleAndAddressOfTheirStart) {
  const uint32_t handle = data.DriverHandle;
  Reach(1);
  data.ModuleAddress = kModule + 1;
  data.DriverHandle = handle + 1;
  form->Timer1Timer();
  form->Button2Click();
  form->Timer1Timer();
  data.DriverHandle = handle;  // for the shutdown

  std::vector<std::pair<uint32_t, uint32_t>> sent;  // handle, module address
  for (const LoggedCall& call : driver->calls())
    if (call.kind == LoggedCall::Send) sent.emplace_back(call.handle, call.request[0]);
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {handle + 1, kModule + 1u}, {handle, kModule}, {handle + 1, kModule + 1u}};
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(form->CalibrationState, 2);
}

// Failures of the start. A failed read has written nothing; after a failed write the bytes
// the start sent a write for are written back, and only those. The window stays idle.
struct StartFailure {
  const char* name;
  int failingExchange;            // 1-based among the fifteen of the start, five reads first
  int readBackAddress, readBack;  // or a read-back that differs (failingExchange 0)
};

class StartFailures : public Form6Test, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailures, LeaveTheModuleAndTheWindowAsTheyWere) {
  const StartFailure& f = GetParam();
  const bool mismatch = f.failingExchange == 0;
  Bytes saved = Former(0);
  if (mismatch) {
    driver->setReadBack(uint8_t(f.readBackAddress), uint8_t(f.readBack));
    for (auto& [a, v] : saved)
      if (a == f.readBackAddress) v = uint8_t(f.readBack);  // what the read found
  } else {
    driver->failExchange(f.failingExchange, 23);
  }
  form->Button1Click();
  const Requests all = SavedReads(0) + VerifiedWrites(Neutral(0));
  const size_t sent =
      mismatch ? 5 + (f.readBackAddress == 0 ? 2 : 2 * (f.readBackAddress - 13)) : size_t(f.failingExchange);
  const bool written = sent > 5;
  Requests expected(all.begin(), all.begin() + sent);
  saved.resize(written ? (sent - 5 + 1) / 2 : 0);  // the bytes whose write was sent
  expected = expected + VerifiedWrites(saved);
  EXPECT_EQ(driver->requests(), expected);
  EXPECT_EQ(Status(), mismatch ? kWriteMismatch : QStringLiteral(" ") + ErrorText(23));
  EXPECT_EQ(form->CalibrationState, 0);
  EXPECT_EQ(Memo(), (written ? QStringList{kChoose, kRestored} : QStringList{kChoose}));
  if (!mismatch) {
    EXPECT_EQ(Held(), HeldBefore());
  }
}

INSTANTIATE_TEST_SUITE_P(Calibration, StartFailures,
                         ::testing::Values(StartFailure{"range_read", 1, 0, 0},
                                           StartFailure{"last_constant_read", 5, 0, 0},
                                           StartFailure{"range_write", 6, 0, 0},
                                           StartFailure{"range_read_back", 7, 0, 0},
                                           StartFailure{"gain_low_write", 8, 0, 0},
                                           StartFailure{"offset_high_read_back", 15, 0, 0},
                                           StartFailure{"gain_high_differs", 0, 16, 38},
                                           StartFailure{"range_byte_compared_whole", 0, 0, 0x10}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form6Test, MeasurementErrorAbandonsAndRestores) {
  for (uint8_t state : {1, 2, 11, 12}) {
    SCOPED_TRACE(state);
    Reach(state);
    const qsizetype before = Memo().size();
    form->Edit2->setText(QStringLiteral("5,0"));
    driver->failCommand(0, 0, 42);
    form->Button2Click();
    EXPECT_EQ(driver->requests(), Requests{kMeasure} + WriteBack(state > 10));
    EXPECT_EQ(Status(), QStringLiteral(" ") + ErrorText(42));
    EXPECT_EQ(Memo().mid(before), (QStringList{ErrorText(42), kRestored} + kAbandonBlock));
    EXPECT_EQ(form->CalibrationState, 0);
    EXPECT_EQ(Held(), HeldBefore());
    ResetModule();
  }
}

// The readings were taken under the neutral constants, so a failure while storing ends the
// calibration: the module gets its former bytes back and the failure stays shown.
TEST_F(Form6Test, WriteFailureEndsTheCalibrationAndRestores) {
  Reach(2);
  Measures(4750, 3);
  form->Edit2->setText(QStringLiteral("5,0"));
  driver->failExchange(5, 9);  // the read-back of the gain's high byte
  const qsizetype before = Memo().size();
  form->Button2Click();
  EXPECT_EQ(form->CalibrationState, 0);
  EXPECT_EQ(Status(), QStringLiteral(" ") + ErrorText(9));
  EXPECT_EQ(Memo().mid(before), (QStringList{kRestored} + kAbandonBlock));
  EXPECT_EQ(driver->requests(), VerifiedWrites({{15, 30}, {16, 41}}, {kMeasure}) + WriteBack(0));
  EXPECT_EQ(Held(), HeldBefore());
}

// However a running calibration is left, the module ends as it was before the start: bytes
// 0 and 15..22 exactly, through five verified writes and nothing else.
TEST_F(Form6Test, LeavingARunningCalibrationRestoresTheModule) {
  struct Way {
    const char* name;
    std::function<void(TForm6&)> leave;
    bool closes;
  };
  const Way ways[] = {
      {"Zrušit", [](TForm6& f) { f.Button4->click(); }, false},
      {"Cancel", [](TForm6& f) { f.Button3->click(); }, true},
      {"close button", [](TForm6& f) { f.close(); }, true},
  };
  for (const Way& way : ways) {
    for (uint8_t state : {1, 2, 11, 12}) {
      SCOPED_TRACE(std::string(way.name) + " in state " + std::to_string(state));
      form->show();  // a hidden dialog takes no close
      Reach(state);
      const qsizetype before = Memo().size();
      way.leave(*form);
      EXPECT_EQ(driver->requests(), WriteBack(state > 10));
      EXPECT_EQ(Held(), HeldBefore());
      EXPECT_EQ(Memo().mid(before), (QStringList{kRestored} + kAbandonBlock));
      EXPECT_EQ(form->CalibrationState, 0);
      EXPECT_EQ(form->isVisible(), !way.closes);
    }
  }
  driver->clearLog();
  form->show();
  form->close();  // idle: nothing to write back
  EXPECT_TRUE(driver->requests().empty());
}

// Escape, like Return, leaves a running calibration alone, wherever the focus is; an idle
// window closes on it.
TEST_F(Form6Test, EscapeClosesOnlyAnIdleWindow) {
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  for (uint8_t state : {1, 2, 11, 12}) {
    SCOPED_TRACE(state);
    Reach(state);
    const QStringList memo = Memo();
    for (QWidget* target : std::initializer_list<QWidget*>{form.get(), form->Edit2, form->ComboBox1}) {
      target->setFocus();
      QTest::keyClick(target, Qt::Key_Escape);
    }
    EXPECT_TRUE(driver->requests().empty());
    EXPECT_EQ(Memo(), memo);
    EXPECT_EQ(form->CalibrationState, state);
    EXPECT_TRUE(form->isVisible());
    form->Button4Click();
  }
  QTest::keyClick(form->Edit2, Qt::Key_Escape);
  EXPECT_FALSE(form->isVisible());
}

// Closing the window while a calibration runs writes the bytes back; when one fails, the
// window stays open and idle with the failure shown, and the next close closes it.
TEST_F(Form6Test, AFailedWriteBackKeepsTheWindowOpen) {
  const std::function<void(TForm6&)> closes[] = {[](TForm6& f) { f.Button3->click(); },
                                                  [](TForm6& f) { f.close(); }};
  for (const auto& close : closes) {
    form->show();
    Reach(1);
    driver->failCommand(103, 18, 9);
    const qsizetype before = Memo().size();
    close(*form);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->CalibrationState, 0);
    EXPECT_EQ(Status(), QStringLiteral(" ") + ErrorText(9));
    EXPECT_EQ(Memo().mid(before),
              QStringList{QStringLiteral("Nepodařilo se obnovit bajt 18 konfigurační paměti modulu (původní hodnota 44).")} +
                  kAbandonBlock);
    close(*form);
    EXPECT_FALSE(form->isVisible());
    ResetModule();
  }
}

// A byte that cannot be written back is named with the value it had, and its failure stays in
// the status bar; the other bytes are still written back.
TEST_F(Form6Test, WriteBackFailuresNameTheBytes) {
  struct Case {
    const char* name;
    uint8_t state;
    std::function<void(ScriptedDriver&)> arm;
    QString status;
    QStringList memo;  // what the press or abandon appends
    uint8_t gainLow;   // byte 15 afterwards: the neutral start's, the former, or the new gain's
  };
  const Case cases[] = {
      {"start, its first write fails", 0, [](ScriptedDriver& d) { d.failCommand(103, -1, 9); },
       QStringLiteral(" ") + ErrorText(9),
       {QStringLiteral("Nepodařilo se obnovit bajt 0 konfigurační paměti modulu (původní hodnota 1).")}, 11},
      {"abandoned, no write goes through", 1, [](ScriptedDriver& d) { d.failCommand(103, -1, 9); },
       QStringLiteral(" ") + ErrorText(9),
       QStringList{QStringLiteral("Nepodařilo se obnovit bajty 0, 15, 16, 17, 18 konfigurační paměti modulu "
                                  "(původní hodnoty 1, 11, 22, 33, 44).")} +
           kAbandonBlock,
       16},
      {"constants fail, offset low reads back wrong", 2, [](ScriptedDriver& d) { d.setReadBack(17, 1); },
       kWriteMismatch,
       QStringList{QStringLiteral("Nepodařilo se obnovit bajt 17 konfigurační paměti modulu (původní hodnota 33).")} +
           kAbandonBlock,
       11},
      {"calibrated, the range byte fails", 2, [](ScriptedDriver& d) { d.failExchange(10, 9); },
       QStringLiteral(" ") + ErrorText(9),
       {QString(), kCalibrated,
        QStringLiteral("Nepodařilo se obnovit bajt 0 konfigurační paměti modulu (původní hodnota 1)."), QString(),
        kSeparator, QString(), kChoose},
       30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.state != 0) Reach(c.state);
    Measures(4750, 3);
    form->Edit2->setText(QStringLiteral("5,0"));
    c.arm(*driver);
    const qsizetype before = Memo().size();
    (c.state == 0 ? form->Button1 : c.state == 1 ? form->Button4 : form->Button2)->click();
    EXPECT_EQ(form->CalibrationState, 0);
    EXPECT_EQ(Memo().mid(before), c.memo);
    EXPECT_EQ(Status(), c.status);
    form->Timer1Timer();
    EXPECT_EQ(Status(), c.status) << "the live reading must not hide it";
    EXPECT_EQ(driver->configByte(15), c.gainLow);
    ResetModule();
  }
}

// A failed step stays in the status bar while the live reading goes on; the next press ends
// it, and the following tick shows its own text again.
TEST_F(Form6Test, StepFailureOutlastsTheLiveReading) {
  struct Case {
    const char* name;
    uint8_t state;
    int failingExchange;  // counted from the press
  };
  const Case cases[] = {{"start", 0, 1}, {"zero measurement", 1, 1}, {"reference measurement", 2, 1},
                        {"constants", 2, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.state != 0) Reach(c.state);
    form->Edit2->setText(QStringLiteral("5,0"));
    Measures(5000, 3);
    driver->failExchange(c.failingExchange, 31);
    (c.state == 0 ? form->Button1 : form->Button2)->click();
    const QString failure = QStringLiteral(" ") + ErrorText(31);
    ASSERT_EQ(Status(), failure);
    for (int tick = 0; tick < 3; ++tick) {
      Measures(1000 + tick, 3);
      form->Timer1Timer();
      EXPECT_EQ(form->Edit3->text(), QLocale().toString(1.0 + tick / 1000.0, 'f', 3));
      EXPECT_EQ(Status(), failure);
    }
    form->Button4->click();
    form->Timer1Timer();
    EXPECT_EQ(Status(), QStringLiteral(" ") + ErrorText(0));
    ResetModule();
  }
}

TEST_F(Form6Test, UnusableReadingsAbandonAndRestore) {
  for (uint8_t state : {2, 12}) {
    SCOPED_TRACE(state);
    Reach(state);
    const qsizetype before = Memo().size();
    Measures(0, 3);  // the reference reads no more than the short circuit
    form->Edit2->setText(QStringLiteral("5,0"));
    form->Button2Click();
    EXPECT_EQ(driver->requests(), Requests{kMeasure} + WriteBack(state > 10));
    EXPECT_EQ(Memo().mid(before), (QStringList{kBadReadings, kRestored} + kAbandonBlock));
    EXPECT_EQ(form->CalibrationState, 0);
  }
}

enum class Entry { Accepted, NotANumber, OutsideWindow };
struct EntryCase {
  const char* name;
  QLocale::Language language;
  uint8_t state;
  const char* text;
  Entry outcome;
};

class ReferenceEntry : public Form6Test, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(ReferenceEntry, ConvertsWithTheSystemSeparatorAndChecksTheWindow) {
  const EntryCase& c = GetParam();
  QLocale::setDefault(QLocale(c.language));
  Reach(c.state);
  const qsizetype before = Memo().size();
  Measures(c.state == 2 ? 5000 : 9500, c.state == 2 ? 3 : 6);
  form->Edit2->setText(QString::fromUtf8(c.text));
  form->Button2Click();
  QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia));

  const QString window = c.state == 2 ? kVoltageWindow : kCurrentWindow;
  EXPECT_EQ(form->CalibrationState, 0);
  if (c.outcome == Entry::Accepted) {
    EXPECT_EQ(driver->requests().size(), 11u);
    EXPECT_EQ(Memo().last(), kChoose);
    EXPECT_EQ(Memo().value(before + 1), kCalibrated);
    return;
  }
  EXPECT_EQ(driver->requests(), WriteBack(c.state > 10));
  const QString message = c.outcome == Entry::OutsideWindow
                              ? window
                              : window + QStringLiteral(" Pozor na desetinnou čárku resp. tečku (nastaveno v systému).");
  EXPECT_EQ(Memo().mid(before), (QStringList{message, kRestored} + kAbandonBlock));
}

INSTANTIATE_TEST_SUITE_P(
    Calibration, ReferenceEntry,
    ::testing::Values(EntryCase{"comma", QLocale::Czech, 2, "5,0", Entry::Accepted},
                      EntryCase{"point_under_comma_locale", QLocale::Czech, 2, "5.0", Entry::NotANumber},
                      EntryCase{"point_under_point_locale", QLocale::English, 2, "5.0", Entry::Accepted},
                      EntryCase{"comma_under_point_locale", QLocale::English, 2, "5,0", Entry::NotANumber},
                      EntryCase{"group_separator", QLocale::English, 12, "1,000.0", Entry::NotANumber},
                      EntryCase{"voltage_low_bound", QLocale::Czech, 2, "1,0", Entry::Accepted},
                      EntryCase{"voltage_high_bound", QLocale::Czech, 2, "10,0", Entry::Accepted},
                      EntryCase{"voltage_below", QLocale::Czech, 2, "0,99", Entry::OutsideWindow},
                      EntryCase{"voltage_above", QLocale::Czech, 2, "10,01", Entry::OutsideWindow},
                      EntryCase{"current_low_bound", QLocale::Czech, 12, "1,0", Entry::Accepted},
                      EntryCase{"current_high_bound", QLocale::Czech, 12, "25,0", Entry::Accepted},
                      EntryCase{"current_below", QLocale::Czech, 12, "0,99", Entry::OutsideWindow},
                      EntryCase{"current_above", QLocale::Czech, 12, "25,01", Entry::OutsideWindow},
                      // The locale converts these; no comparison may let them through.
                      EntryCase{"nan", QLocale::Czech, 2, "nan", Entry::OutsideWindow},
                      EntryCase{"infinity", QLocale::Czech, 12, "inf", Entry::OutsideWindow}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form6Test, ButtonsOutOfTurnDoNothing) {
  form->Button2Click();  // "Potvrzení" and "Zrušit" while idle
  form->Button4Click();
  EXPECT_TRUE(driver->requests().empty());
  EXPECT_EQ(Memo(), QStringList{kChoose});
  for (uint8_t state : {1, 2, 11, 12}) {  // "Kalibrace" while a calibration runs
    SCOPED_TRACE(state);
    Reach(state);
    const QStringList memo = Memo();
    form->Button1Click();
    EXPECT_TRUE(driver->requests().empty());
    EXPECT_EQ(Memo(), memo);
    EXPECT_EQ(form->CalibrationState, state);
    form->Button4Click();  // "Zrušit" abandons
    EXPECT_EQ(form->CalibrationState, 0);
  }
}

TEST_F(Form6Test, NothingIsSentWithoutConnection) {
  Reach(1);
  data.Connected = false;
  for (auto handler : {&TForm6::Button1Click, &TForm6::Button2Click, &TForm6::Button4Click, &TForm6::Timer1Timer}) {
    form->StatusBar1->setText(QStringLiteral(" "));
    (form.get()->*handler)();
    EXPECT_EQ(Status(), NotConnectedText);
  }
  EXPECT_EQ(form->CalibrationState, 1);
  data.Connected = true;
  form->Button4Click();
  driver->clearLog();
  form->ComboBox2->setCurrentIndex(-1);
  form->Button1Click();
  EXPECT_EQ(Status(), QStringLiteral(" Číslo vstupu musí být v rozsahu 0-5."));

  TForm6 bare;  // no record at all: every handler does nothing
  bare.Timer1->stop();
  for (auto handler : {&TForm6::Button1Click, &TForm6::Button2Click, &TForm6::Button4Click, &TForm6::Timer1Timer})
    (bare.*handler)();
  EXPECT_TRUE(bare.StatusBar1->text().isEmpty());
  EXPECT_TRUE(driver->requests().empty());
}

struct LiveCase {
  const char* name;
  int rangeItem;
  int32_t value;
  uint8_t places;
  const char* shown;
};

class LiveReading : public Form6Test, public ::testing::WithParamInterface<LiveCase> {};

TEST_P(LiveReading, UnitFollowsTheSelectedRange) {
  const LiveCase& c = GetParam();
  form->ComboBox1->setCurrentIndex(c.rangeItem);
  Measures(c.value, c.places);
  form->Timer1Timer();
  EXPECT_EQ(form->Edit3->text(), QString::fromUtf8(c.shown));
  EXPECT_EQ(Status(), QStringLiteral(" ") + ErrorText(0));
  driver->failCommand(0, 0, 5);
  form->Timer1Timer();
  EXPECT_TRUE(form->Edit3->text().isEmpty());
  EXPECT_EQ(Status(), QStringLiteral(" ") + ErrorText(5));
  EXPECT_EQ(driver->requests(), (Requests{kMeasure, kMeasure}));
}

INSTANTIATE_TEST_SUITE_P(
    Calibration, LiveReading,
    ::testing::Values(LiveCase{"volts", 0, 512, 2, "5,12"}, LiveCase{"negative_volts", 0, -4999, 3, "-4,999"},
                      LiveCase{"places_flag_bit_ignored", 0, 512, 0x82, "5,12"},
                      LiveCase{"milliamperes", 1, 4000, 6, "4,000"},
                      LiveCase{"milliamperes_from_fewer_places", 1, 95, 4, "9,5"},
                      LiveCase{"whole_milliamperes_below_three_places", 1, 12, 2, "120"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every control inside the fixed client area and apart from the others, every caption wide
// enough for its Czech text. QX510_GRAB_DIR, when set, receives a picture.
TEST(Form6Layout, ControlsFitTheFixedWindow) {
  TForm6 form;
  EXPECT_TRUE(form.Timer1->isActive()) << "the live reading runs from creation on";
  form.Timer1->stop();
  EXPECT_EQ(form.size(), QSize(592, 373));
  EXPECT_EQ(form.Memo1->size(), QSize(537, 153));
  const QList<QWidget*> controls = form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (qsizetype i = 0; i < controls.size(); ++i) {
    const QWidget* w = controls[i];
    SCOPED_TRACE(w->objectName().toStdString());
    EXPECT_TRUE(form.rect().contains(w->geometry()));
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
      EXPECT_LE(label->sizeHint().width(), w->width());
    } else if (const auto* button = qobject_cast<const QPushButton*>(w)) {
      EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 12, w->width());
    }
    for (qsizetype j = i + 1; j < controls.size(); ++j)
      EXPECT_FALSE(w->geometry().intersects(controls[j]->geometry())) << controls[j]->objectName().toStdString();
  }
  const QString dir = qEnvironmentVariable("QX510_GRAB_DIR");
  if (!dir.isEmpty()) form.grab().save(QDir(dir).filePath(QStringLiteral("TForm6.png")));
}

}  // namespace
