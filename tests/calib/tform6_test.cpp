#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>
#include <memory>

#include "app/status_bar.h"
#include "app/tdata.h"
#include "calib/tform6.h"
#include "tests/support/scripted_driver.h"

namespace {

using Request = std::array<uint32_t, 8>;
using Requests = std::vector<Request>;

constexpr uint8_t kModule = 7;

const QString kSeparator = QString(66, QLatin1Char('_')) + QLatin1Char(' ');
const QString kChoose = QStringLiteral("Vyber rozsah, stiskni tlačítko Kalibrace.");
const QString kVoltageZeroText =
    QStringLiteral("Zkratuj napěťový vstup (svorky 27 a 28) a stiskni tlačítko Potvrzení.");
const QString kCurrentZeroText =
    QStringLiteral("Zkratuj proudový vstup (svorky 28 a 29) a stiskni tlačítko Potvrzení.");
const QString kVoltageRefText = QStringLiteral(
    "Odstraň zkrat, připoj na vstup napětí v rozsahu 4-6V, zadej hodnotu napětí a stiskni tlačítko Potvrzení.");
const QString kCurrentRefText = QStringLiteral(
    "Odstraň zkrat, připoj na vstup proud v rozsahu 9-11mA, zadej hodnotu proudu a stiskni tlačítko Potvrzení.");
const QString kVoltageWindow = QStringLiteral("Hodnota napětí musí být v rozsahu 4-6V.");
const QString kCurrentWindow = QStringLiteral("Hodnota proudu musí být v rozsahu 9-11mA.");
const QString kSeparatorHint = QStringLiteral(" Pozor na desetinnou čárku resp. tečku (nastaveno v systému).");
const QString kBadReadings =
    QStringLiteral("Chyba naměřených hodnot. Zkontroluj připojení vstupu a proveď znovu kalibraci.");
const QString kWriteMismatch = QStringLiteral(" Chyba zápisu do konfigurační paměti modulu.");

const QStringList kAbandonBlock = {QString(), QStringLiteral("Kalibrace vstupu zrušena !"), QString(), kSeparator,
                                   QString(), kChoose};

Request Req(uint8_t command, uint8_t index, uint8_t d0 = 0, uint8_t d1 = 0, uint8_t d2 = 0, uint8_t d3 = 0,
            uint8_t d4 = 0) {
  return {kModule, command, index, d0, d1, d2, d3, d4};
}
void AddVerifiedWrite(Requests& r, uint8_t address, uint8_t value) {
  r.push_back(Req(103, 0, 0, address, address, value, value));
  r.push_back(Req(102, 0, 0, address, address, 0, 0));
}
Requests VerifiedWrites(std::initializer_list<std::pair<uint8_t, uint8_t>> bytes) {
  Requests r;
  for (auto [a, v] : bytes) AddVerifiedWrite(r, a, v);
  return r;
}
const Request kMeasure = Req(0, 0);

// Data0..Data4 of a measured value: magnitude, sign, places.
std::array<uint8_t, 5> Reading(int32_t magnitude, uint8_t places) {
  const uint32_t m = static_cast<uint32_t>(magnitude < 0 ? -magnitude : magnitude);
  return {0, uint8_t(m), uint8_t(m >> 8), uint8_t(((m >> 16) & 0x7F) | (magnitude < 0 ? 0x80 : 0)), places};
}

QString ErrorText(uint32_t code) { return QString::fromStdString(ScriptedErrorText(code)); }

class Form6Test : public ::testing::Test {
 protected:
  void SetUp() override {
    InitData(&data);
    data.Interface = InterfaceSerial;
    data.ModuleAddress = kModule;
    driver = std::make_unique<ScriptedDriver>(InterfaceSerial);
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
    driver.reset();
  }

  QStringList Memo() const { return form->Memo1->toPlainText().split(QLatin1Char('\n')); }
  QString Status() const { return form->StatusBar1->text(); }
  void Measures(int32_t magnitude, uint8_t places) { driver->setAnswer(0, 0, Reading(magnitude, places)); }

  // Drives the window through the real steps into the given state.
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

TEST_F(Form6Test, StartsIdleWithItsDesignTexts) {
  EXPECT_EQ(form->CalibrationState, 0);
  EXPECT_EQ(form->Edit2->text(), QStringLiteral("0,0"));
  EXPECT_TRUE(form->Edit3->text().isEmpty());
  EXPECT_TRUE(form->Edit3->isReadOnly());
  EXPECT_EQ(Memo(), QStringList{kChoose});
  EXPECT_FALSE(form->ComboBox2->isEnabled());
  EXPECT_EQ(form->ComboBox2->count(), 6);
  EXPECT_EQ(form->ComboBox2->itemText(5), QStringLiteral("vstup 5"));
  EXPECT_EQ(form->ComboBox1->itemText(1), QStringLiteral("proudový"));
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Kalibrace vstupů"));
  EXPECT_EQ(form->size(), QSize(592, 373));
  auto* timer = form->findChild<QTimer*>(QStringLiteral("Timer1"));
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 500);
  EXPECT_TRUE(TForm6().Timer1->isActive()) << "the live reading runs from creation";
  EXPECT_NE(form->findChild<QPlainTextEdit*>(QStringLiteral("Memo1")), nullptr);
  EXPECT_NE(form->findChild<QLineEdit*>(QStringLiteral("Edit2")), nullptr);
}

TEST_F(Form6Test, FullVoltageCalibration) {
  form->Button1Click();
  EXPECT_EQ(driver->requests(), VerifiedWrites({{0, 0}, {15, 16}, {16, 39}, {17, 0}, {18, 0}}));
  EXPECT_EQ(form->CalibrationState, 1);
  EXPECT_EQ(Status(), QStringLiteral(" "));

  driver->clearLog();
  Measures(-125, 3);  // -0.125 V
  form->Button2Click();
  EXPECT_EQ(driver->requests(), Requests{kMeasure});
  EXPECT_EQ(form->CalibrationState, 2);
  EXPECT_EQ(Status(), QStringLiteral(" "));

  driver->clearLog();
  Measures(5125, 3);  // 5.125 V
  form->Edit2->setText(QStringLiteral("5,0"));
  form->Button2Click();
  Requests expected{kMeasure};
  for (const auto& r : VerifiedWrites({{15, 52}, {16, 37}, {17, 136}, {18, 255}})) expected.push_back(r);
  EXPECT_EQ(driver->requests(), expected);  // gain 9524, offset -120
  EXPECT_EQ(form->CalibrationState, 0);
  EXPECT_EQ(Status(), QStringLiteral(" "));
  EXPECT_EQ(driver->configByte(0), 0);

  const QStringList memo = {kChoose,
                            QString(),
                            kSeparator + QStringLiteral("Kalibrace vstupu 0"),
                            QString(),
                            kVoltageZeroText,
                            QString(),
                            kVoltageRefText,
                            QString(),
                            QStringLiteral("Vstup zkalibrován (je nutno vypnout a zapnout napájení modulu)."),
                            QString(),
                            kSeparator,
                            QString(),
                            kChoose};
  EXPECT_EQ(Memo(), memo);
}

TEST_F(Form6Test, FullCurrentCalibration) {
  form->ComboBox1->setCurrentIndex(1);
  form->Button1Click();
  EXPECT_EQ(driver->requests(), VerifiedWrites({{0, 1}, {19, 16}, {20, 39}, {21, 0}, {22, 0}}));
  EXPECT_EQ(form->CalibrationState, 11);
  EXPECT_EQ(Memo().mid(1, 4),
            (QStringList{QString(), kSeparator + QStringLiteral("Kalibrace vstupu 0"), QString(), kCurrentZeroText}));

  driver->clearLog();
  Measures(0, 6);
  form->Button2Click();
  EXPECT_EQ(driver->requests(), Requests{kMeasure});
  EXPECT_EQ(form->CalibrationState, 12);
  EXPECT_EQ(Memo().mid(5, 2), (QStringList{QString(), kCurrentRefText}));

  driver->clearLog();
  Measures(9500, 6);  // 0.0095 A
  form->Edit2->setText(QStringLiteral("10,0"));
  form->Button2Click();
  Requests expected{kMeasure};
  for (const auto& r : VerifiedWrites({{19, 30}, {20, 41}, {21, 0}, {22, 0}})) expected.push_back(r);
  EXPECT_EQ(driver->requests(), expected);  // gain 10526
  EXPECT_EQ(form->CalibrationState, 0);
  EXPECT_EQ(Memo().last(), kChoose);
}

// The range is fixed when the calibration starts; ComboBox1 afterwards changes only the live reading.
TEST_F(Form6Test, StepsFollowTheStartedRangeNotTheSelection) {
  form->Button1Click();
  form->ComboBox1->setCurrentIndex(1);
  Measures(0, 3);
  form->Button2Click();
  EXPECT_EQ(form->CalibrationState, 2);
  EXPECT_EQ(Memo().last(), kVoltageRefText);

  driver->clearLog();
  Measures(4750, 3);
  form->Edit2->setText(QStringLiteral("5,0"));
  form->Button2Click();
  const Requests r = driver->requests();
  ASSERT_EQ(r.size(), 9u);
  EXPECT_EQ(r[1], Req(103, 0, 0, 15, 15, 30, 30));  // voltage constants, gain 10526
}

TEST_F(Form6Test, MeasurementWaitsASecondByDefault) {
  TForm6 slow;
  slow.Timer1->stop();
  slow.setData(&data);
  slow.Button1Click();
  QElapsedTimer clock;
  clock.start();
  slow.Button2Click();
  EXPECT_GE(clock.elapsed(), 990);
  EXPECT_EQ(slow.CalibrationState, 2);
}

// Failures of the start: the failing exchange is the last one sent, and the window stays idle.
struct StartFailure {
  const char* name;
  int failingExchange;  // 1-based among the ten of the start; 0 = read-back mismatch at 16
  bool mismatch;
};

class StartFailures : public Form6Test, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailures, LeaveTheWindowIdle) {
  const StartFailure& f = GetParam();
  int sent = 0;
  if (f.mismatch) {
    driver->setReadBack(16, 38);
    sent = 6;
  } else {
    driver->failExchange(f.failingExchange, 23);
    sent = f.failingExchange;
  }
  form->Button1Click();
  const Requests all = VerifiedWrites({{0, 0}, {15, 16}, {16, 39}, {17, 0}, {18, 0}});
  EXPECT_EQ(driver->requests(), Requests(all.begin(), all.begin() + sent));
  EXPECT_EQ(Status(), f.mismatch ? kWriteMismatch : QStringLiteral(" ") + ErrorText(23));
  EXPECT_EQ(form->CalibrationState, 0);
  EXPECT_EQ(Memo(), QStringList{kChoose});
}

INSTANTIATE_TEST_SUITE_P(Calibration, StartFailures,
                         ::testing::Values(StartFailure{"range_write", 1, false},
                                           StartFailure{"range_read_back", 2, false},
                                           StartFailure{"gain_high_write", 5, false},
                                           StartFailure{"offset_high_read_back", 10, false},
                                           StartFailure{"gain_high_mismatch", 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form6Test, RangeByteIsComparedWhole) {
  driver->setReadBack(0, 0x10);  // bit 0 right, the byte wrong
  form->Button1Click();
  EXPECT_EQ(driver->requests().size(), 2u);
  EXPECT_EQ(Status(), kWriteMismatch);
  EXPECT_EQ(form->CalibrationState, 0);
}

TEST_F(Form6Test, MeasurementErrorAbandons) {
  for (uint8_t state : {1, 2, 11, 12}) {
    SCOPED_TRACE(state);
    Reach(state);
    const qsizetype before = Memo().size();
    form->Edit2->setText(state == 2 ? QStringLiteral("5,0") : QStringLiteral("10,0"));
    driver->failCommand(0, 0, 42);
    form->Button2Click();
    EXPECT_EQ(driver->requests(), Requests{kMeasure});
    EXPECT_EQ(Status(), QStringLiteral(" ") + ErrorText(42));
    EXPECT_EQ(Memo().mid(before), QStringList{ErrorText(42)} + kAbandonBlock);
    EXPECT_EQ(form->CalibrationState, 0);
    driver->reset();
  }
}

// A failure while storing the constants keeps the reference state, and "Potvrzení" then
// repeats the whole reference step.
TEST_F(Form6Test, WriteFailureKeepsTheReferenceStep) {
  for (bool mismatch : {false, true}) {
    SCOPED_TRACE(mismatch);
    Reach(2);
    Measures(4750, 3);
    form->Edit2->setText(QStringLiteral("5,0"));
    if (mismatch)
      driver->setReadBack(17, 1);
    else
      driver->failExchange(5, 9);  // the read-back of the gain's high byte
    const QStringList memoBefore = Memo();
    form->Button2Click();
    EXPECT_EQ(form->CalibrationState, 2);
    EXPECT_EQ(Status(), mismatch ? kWriteMismatch : QStringLiteral(" ") + ErrorText(9));
    EXPECT_EQ(Memo(), memoBefore);
    EXPECT_EQ(driver->requests().size(), mismatch ? 7u : 5u);

    driver->reset();
    Measures(4750, 3);
    form->Button2Click();
    EXPECT_EQ(form->CalibrationState, 0);
    Requests expected{kMeasure};
    for (const auto& r : VerifiedWrites({{15, 30}, {16, 41}, {17, 0}, {18, 0}})) expected.push_back(r);
    EXPECT_EQ(driver->requests(), expected);
    EXPECT_EQ(Memo().last(), kChoose);
  }
}

TEST_F(Form6Test, UnusableReadingsAbandonWithoutWriting) {
  for (uint8_t state : {2, 12}) {
    SCOPED_TRACE(state);
    Reach(state);  // zero reading 0
    const qsizetype before = Memo().size();
    Measures(0, 3);  // reference reading not above the zero reading
    form->Edit2->setText(QStringLiteral("5,0"));
    form->Button2Click();
    EXPECT_EQ(driver->requests(), Requests{kMeasure});
    EXPECT_EQ(Memo().mid(before), QStringList{kBadReadings} + kAbandonBlock);
    EXPECT_EQ(form->CalibrationState, 0);
  }
}

// The offset decision, seen from the window: a huge zero reading is refused, not wrapped.
TEST_F(Form6Test, OffsetBeyondTheWordAbandons) {
  form->Button1Click();
  Measures(40000, 3);  // 40 V zero reading
  form->Button2Click();
  driver->clearLog();
  Measures(45000, 3);
  form->Edit2->setText(QStringLiteral("5,0"));
  form->Button2Click();
  EXPECT_EQ(driver->requests(), Requests{kMeasure});
  EXPECT_EQ(Memo().mid(Memo().size() - 7), QStringList{kBadReadings} + kAbandonBlock);
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

TEST_P(ReferenceEntry, ConvertsAndChecksTheWindow) {
  const EntryCase& c = GetParam();
  QLocale::setDefault(QLocale(c.language));
  Reach(c.state);
  const qsizetype before = Memo().size();
  Measures(c.state == 2 ? 5000 : 9500, c.state == 2 ? 3 : 6);
  form->Edit2->setText(QString::fromUtf8(c.text));
  form->Button2Click();
  QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia));

  const QString window = c.state == 2 ? kVoltageWindow : kCurrentWindow;
  switch (c.outcome) {
    case Entry::Accepted:
      EXPECT_EQ(form->CalibrationState, 0);
      EXPECT_EQ(driver->requests().size(), 9u);
      EXPECT_EQ(Memo().value(before + 1), QStringLiteral("Vstup zkalibrován (je nutno vypnout a zapnout napájení modulu)."));
      break;
    case Entry::NotANumber:
      EXPECT_TRUE(driver->requests().empty());
      EXPECT_EQ(Memo().mid(before), QStringList{window + kSeparatorHint} + kAbandonBlock);
      EXPECT_EQ(form->CalibrationState, 0);
      break;
    case Entry::OutsideWindow:
      EXPECT_TRUE(driver->requests().empty());
      EXPECT_EQ(Memo().mid(before), QStringList{window} + kAbandonBlock);
      EXPECT_EQ(form->CalibrationState, 0);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Calibration, ReferenceEntry,
    ::testing::Values(EntryCase{"comma_accepted", QLocale::Czech, 2, "5,0", Entry::Accepted},
                      EntryCase{"point_under_comma_locale", QLocale::Czech, 2, "5.0", Entry::NotANumber},
                      EntryCase{"point_under_point_locale", QLocale::English, 2, "5.0", Entry::Accepted},
                      EntryCase{"comma_under_point_locale", QLocale::English, 2, "5,0", Entry::NotANumber},
                      EntryCase{"group_separator", QLocale::English, 12, "1,000.0", Entry::NotANumber},
                      EntryCase{"text", QLocale::Czech, 2, "pět", Entry::NotANumber},
                      EntryCase{"empty", QLocale::Czech, 12, "", Entry::NotANumber},
                      EntryCase{"voltage_low_bound", QLocale::Czech, 2, "1,0", Entry::Accepted},
                      EntryCase{"voltage_high_bound", QLocale::Czech, 2, "10,0", Entry::Accepted},
                      EntryCase{"voltage_wider_than_instruction", QLocale::Czech, 2, "7,5", Entry::Accepted},
                      EntryCase{"voltage_below", QLocale::Czech, 2, "0,99", Entry::OutsideWindow},
                      EntryCase{"voltage_above", QLocale::Czech, 2, "10,01", Entry::OutsideWindow},
                      EntryCase{"voltage_negative", QLocale::Czech, 2, "-5,0", Entry::OutsideWindow},
                      EntryCase{"current_low_bound", QLocale::Czech, 12, "1,0", Entry::Accepted},
                      EntryCase{"current_high_bound", QLocale::Czech, 12, "25,0", Entry::Accepted},
                      EntryCase{"current_below", QLocale::Czech, 12, "0,99", Entry::OutsideWindow},
                      EntryCase{"current_above", QLocale::Czech, 12, "25,01", Entry::OutsideWindow}),
    [](const auto& info) { return std::string(info.param.name); });

// Whatever the locale makes of "nan", it is never taken as a reference.
TEST_F(Form6Test, NotANumberTextIsRefused) {
  for (const char* text : {"nan", "NaN", "inf"}) {
    Reach(2);
    form->Edit2->setText(QString::fromLatin1(text));
    form->Button2Click();
    EXPECT_EQ(form->CalibrationState, 0) << text;
    EXPECT_TRUE(driver->requests().empty()) << text;
  }
}

TEST_F(Form6Test, ButtonsOutOfTurnDoNothing) {
  // "Potvrzení" and "Zrušit" while idle.
  for (auto click : {&TForm6::Button2Click, &TForm6::Button4Click}) {
    (form.get()->*click)();
    EXPECT_TRUE(driver->requests().empty());
    EXPECT_EQ(Memo(), QStringList{kChoose});
    EXPECT_EQ(form->CalibrationState, 0);
  }
  // "Kalibrace" while a calibration runs.
  for (uint8_t state : {1, 2, 11, 12}) {
    SCOPED_TRACE(state);
    Reach(state);
    const QStringList memo = Memo();
    form->Button1Click();
    EXPECT_TRUE(driver->requests().empty());
    EXPECT_EQ(Memo(), memo);
    EXPECT_EQ(form->CalibrationState, state);
    form->Button4Click();
  }
}

TEST_F(Form6Test, AbandonInEveryRunningState) {
  for (uint8_t state : {1, 2, 11, 12}) {
    SCOPED_TRACE(state);
    Reach(state);
    const qsizetype before = Memo().size();
    form->Button4Click();
    EXPECT_TRUE(driver->requests().empty());
    EXPECT_EQ(Memo().mid(before), kAbandonBlock);
    EXPECT_EQ(form->CalibrationState, 0);
  }
}

TEST_F(Form6Test, CancelClosesInAnyStateWithoutTraffic) {
  Reach(2);
  form->show();
  form->Button3Click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->result(), QDialog::Rejected);
  EXPECT_TRUE(driver->requests().empty());
}

TEST_F(Form6Test, NothingIsSentWithoutConnection) {
  Reach(1);
  data.Connected = false;
  for (auto handler : {&TForm6::Button1Click, &TForm6::Button2Click, &TForm6::Button4Click, &TForm6::Timer1Timer}) {
    form->StatusBar1->setText(QStringLiteral(" "));
    (form.get()->*handler)();
    EXPECT_EQ(Status(), NotConnectedText);
  }
  EXPECT_TRUE(driver->requests().empty());
  EXPECT_EQ(form->CalibrationState, 1);

  TForm6 detached;  // no record at all: every handler is a no-op
  detached.Timer1->stop();
  detached.Button1Click();
  detached.Button4Click();
  detached.Timer1Timer();
  EXPECT_EQ(detached.StatusBar1->text(), QString());
  EXPECT_TRUE(driver->requests().empty());
}

TEST_F(Form6Test, InputOutsideTheListIsRefused) {
  form->ComboBox2->setCurrentIndex(-1);
  form->Button1Click();
  EXPECT_EQ(Status(), QStringLiteral(" Číslo vstupu musí být v rozsahu 0-5."));
  EXPECT_TRUE(driver->requests().empty());
  EXPECT_EQ(form->CalibrationState, 0);
}

struct LiveCase {
  const char* name;
  int rangeItem;
  int32_t magnitude;
  uint8_t places;
  const char* shown;
};

class LiveReading : public Form6Test, public ::testing::WithParamInterface<LiveCase> {};

TEST_P(LiveReading, UnitFollowsTheSelectedRange) {
  const LiveCase& c = GetParam();
  form->ComboBox1->setCurrentIndex(c.rangeItem);
  Measures(c.magnitude, c.places);
  form->Timer1Timer();
  EXPECT_EQ(form->Edit3->text(), QString::fromUtf8(c.shown));
  EXPECT_EQ(Status(), QStringLiteral(" ") + ErrorText(0));
  EXPECT_EQ(driver->requests(), Requests{kMeasure});
}

INSTANTIATE_TEST_SUITE_P(
    Calibration, LiveReading,
    ::testing::Values(LiveCase{"volts", 0, 512, 2, "5,12"}, LiveCase{"negative_volts", 0, -4999, 3, "-4,999"},
                      LiveCase{"places_flag_bit_ignored", 0, 512, 0x82, "5,12"},
                      LiveCase{"milliamperes", 1, 4000, 6, "4,000"},
                      LiveCase{"milliamperes_from_fewer_places", 1, 95, 4, "9,5"},
                      LiveCase{"whole_milliamperes_below_three_places", 1, 12, 2, "120"},
                      LiveCase{"volts_read_as_current", 1, 5000, 3, "5000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form6Test, LiveReadingErrorEmptiesTheValue) {
  Measures(512, 2);
  form->Timer1Timer();
  ASSERT_EQ(form->Edit3->text(), QStringLiteral("5,12"));
  driver->failCommand(0, 0, 5);
  form->Timer1Timer();
  EXPECT_TRUE(form->Edit3->text().isEmpty());
  EXPECT_EQ(Status(), QStringLiteral(" ") + ErrorText(5));
}

// The live reading goes to the record's handle and address; the procedure to the ones it
// took when it started.
TEST_F(Form6Test, LiveReadingUsesTheRecordsModuleAddress) {
  data.ModuleAddress = 9;
  form->Timer1Timer();
  ASSERT_EQ(driver->requests().size(), 1u);
  EXPECT_EQ(driver->requests()[0][0], 9u);
}

}  // namespace
