#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>

#include "ui/status_bar.h"
#include "base/settings/tdata.h"
#include "live/tform11.h"
#include "live/tform15.h"
#include "live/tform3.h"
#include "live/tform9.h"
#include "tests/support/paint_spy.h"
#include "tests/support/scripted_driver.h"

// Readable failures.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using Request = std::array<uint32_t, 8>;
constexpr uint8_t kAddress = 7;

class LiveWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitData(&data);
    data.Interface = 0;
    data.ModuleAddress = kAddress;
    ConnectScripted(data);
    driver.clearLog();
  }
  void TearDown() override {
    DisconnectScripted(data);
    QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia));
  }

  // Shown (so the address copy is taken) with the timer stopped: the tests tick by hand.
  template <class W>
  std::unique_ptr<W> open() {
    auto w = std::make_unique<W>();
    w->setData(&data);
    w->show();
    if (auto* timer = w->template findChild<QTimer*>(QStringLiteral("Timer1"))) timer->stop();
    return w;
  }
  static QString status(const QWidget& w) {
    return w.findChild<QLabel*>(QStringLiteral("StatusPanel0"))->text();
  }
  static QString label(const QWidget& w, int n) {
    return w.findChild<QLabel*>(QStringLiteral("Label%1").arg(n))->text();
  }
  static QString errorStatus(uint32_t code) {
    return QLatin1Char(' ') + QString::fromStdString(ScriptedErrorText(code));
  }

  ScriptedDriver driver{0};
  TData data{};
};

// --- the bit windows ---------------------------------------------------------------------

struct BitCase {
  const char* window;  // "TForm11" or "TForm15"
  std::array<uint8_t, 4> bytes;
  std::vector<int> setBits;
  const char* nameOfFirst;  // caption beside the first set bit
};

const BitCase kBitCases[] = {
    {"TForm11", {0x01, 0, 0, 0}, {0}, "DIN0"},
    {"TForm11", {0x80, 0, 0, 0}, {7}, "DIN7"},
    {"TForm11", {0, 0x01, 0, 0}, {8}, "DIN8"},
    {"TForm11", {0, 0, 0, 0x80}, {31}, "DIN31"},
    {"TForm11", {0, 0xFF, 0, 0}, {8, 9, 10, 11, 12, 13, 14, 15}, "DIN8"},
    {"TForm11", {0x01, 0, 0x10, 0x80}, {0, 20, 31}, "DIN0"},
    {"TForm15", {0x01, 0, 0, 0}, {0}, "---"},
    {"TForm15", {0x02, 0, 0, 0}, {1}, "FN"},
    {"TForm15", {0x40, 0, 0, 0}, {6}, "ERR24"},
    {"TForm15", {0, 0, 0, 0x80}, {31}, "---"},
};

std::unique_ptr<BitWindow> MakeBitWindow(const std::string& which, TData& data) {
  std::unique_ptr<BitWindow> w;
  if (which == "TForm11") w = std::make_unique<TForm11>();
  else w = std::make_unique<TForm15>();
  w->setData(&data);
  w->show();
  w->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
  return w;
}

void Tick(BitWindow& w) {
  if (auto* f = qobject_cast<TForm11*>(&w)) f->Timer1Timer();
  if (auto* f = qobject_cast<TForm15*>(&w)) f->Timer1Timer();
}

TEST_F(LiveWindowTest, BitWindowsMapEachBitToItsLabelInTheRowOfItsName) {
  for (const BitCase& c : kBitCases) {
    SCOPED_TRACE(std::string(c.window) + " first bit " + std::to_string(c.setBits[0]));
    const bool inputs = std::string(c.window) == "TForm11";
    driver.reset();
    driver.setAnswer(inputs ? 0 : 100, inputs ? 64 : 0, {0, c.bytes[0], c.bytes[1], c.bytes[2], c.bytes[3]});
    auto w = MakeBitWindow(c.window, data);
    Tick(*w);

    for (int bit = 0; bit < 32; ++bit) {
      const bool set = std::find(c.setBits.begin(), c.setBits.end(), bit) != c.setBits.end();
      EXPECT_EQ(label(*w, 33 + bit), set ? "1" : "0") << "bit " << bit;
    }
    // The value sits on the row of its name, in the panel right of the name column.
    const int first = c.setBits[0];
    auto* name = w->findChild<QLabel*>(QStringLiteral("Label%1").arg(1 + first));
    auto* value = w->valueLabel(first);
    EXPECT_EQ(name->text(), c.nameOfFirst);
    const QPoint valueAt = value->mapTo(w.get(), QPoint(0, 0));
    EXPECT_EQ(valueAt.y(), name->y());
    EXPECT_EQ(value->parentWidget()->objectName(), QStringLiteral("Panel%1").arg(1 + first / 8));
    EXPECT_GT(valueAt.x(), name->x());
    EXPECT_EQ(status(*w), " Bez chyby");

    const auto sent = driver.requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Request{kAddress, inputs ? 0u : 100u, inputs ? 64u : 0u, 0, 0, 0, 0, 0}));
  }
}

// Name n (input, register bit or output n) stands in column n / 8, row n % 8: the columns
// left to right, the lowest number of each at the top.
TEST_F(LiveWindowTest, NamesStandInFourColumnsOfEightLowestFirst) {
  QStringList registerNames(32, QStringLiteral("---"));
  registerNames[1] = "FN";
  registerNames[2] = "PRF";
  registerNames[4] = "PWR";
  registerNames[5] = "RST";
  registerNames[6] = "ERR24";
  struct Layout {
    std::unique_ptr<QWidget> window;
    QString pattern;  // objectName of the widget naming n, with %1 = n + 1
    std::function<QString(int)> name;
  } layouts[] = {
      {std::make_unique<TForm11>(), "Label%1", [](int n) { return QStringLiteral("DIN%1").arg(n); }},
      {std::make_unique<TForm15>(), "Label%1", [&](int n) { return registerNames[n]; }},
      {std::make_unique<TForm9>(), "CheckBox%1", [](int n) { return QStringLiteral("DOUT%1").arg(n); }},
  };
  for (Layout& l : layouts) {
    SCOPED_TRACE(l.window->metaObject()->className());
    std::array<QWidget*, 32> at{};
    for (int n = 0; n < 32; ++n) {
      at[n] = l.window->findChild<QWidget*>(l.pattern.arg(n + 1));
      ASSERT_NE(at[n], nullptr) << n;
      const QVariant text = at[n]->property("text");
      EXPECT_EQ(text.toString(), l.name(n)) << n;
      if (n % 8 != 0) {
        EXPECT_EQ(at[n]->x(), at[n - 1]->x()) << n;
        EXPECT_GT(at[n]->y(), at[n - 1]->y()) << n;
      }
      if (n >= 8) {
        EXPECT_GT(at[n]->x(), at[n - 8]->x()) << n;
        EXPECT_EQ(at[n]->y(), at[n - 8]->y()) << n;
      }
    }
  }
}

TEST_F(LiveWindowTest, BitWindowsKeepTheLastGoodStateWhenAPollFails) {
  for (const char* which : {"TForm11", "TForm15"}) {
    SCOPED_TRACE(which);
    const bool inputs = std::string(which) == "TForm11";
    driver.reset();
    driver.setAnswer(inputs ? 0 : 100, inputs ? 64 : 0, {0, 0x81, 0x00, 0x42, 0x80});
    auto w = MakeBitWindow(which, data);
    Tick(*w);
    driver.failExchange(2, 5);
    Tick(*w);
    EXPECT_EQ(status(*w), errorStatus(5));
    EXPECT_EQ(label(*w, 33), "1");
    EXPECT_EQ(label(*w, 40), "1");
    EXPECT_EQ(label(*w, 34), "0");
    EXPECT_EQ(label(*w, 50), "1");
    EXPECT_EQ(label(*w, 55), "1");
    EXPECT_EQ(label(*w, 64), "1");
    // The next tick tries again and shows the module as it is now.
    driver.setAnswer(inputs ? 0 : 100, inputs ? 64 : 0, {0, 0, 0, 0, 0});
    Tick(*w);
    EXPECT_EQ(label(*w, 33), "0");
    EXPECT_EQ(status(*w), " Bez chyby");
    EXPECT_EQ(driver.requests().size(), 3u);
  }
}

// A tick blocks until it returns, so a new status text is painted within it; the same text
// again is not painted at all (on every tick it would cost most of the tick).
TEST_F(LiveWindowTest, StatusPanelIsPaintedWithinTheTickThatChangesItAndOnlyThen) {
  auto w = MakeBitWindow("TForm11", data);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  QLabel* panel = w->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
  QStringList painted;
  PaintSpy spy(panel, [&] { painted << panel->text(); });
  const struct {
    int failWith;  // 0: the exchange succeeds
    QStringList paintedDuringTick;
  } ticks[] = {
      {0, {" Bez chyby"}},
      {0, {}},
      {5, {errorStatus(5)}},
      {5, {}},
      {0, {" Bez chyby"}},
  };
  for (const auto& tick : ticks) {
    QCoreApplication::processEvents();
    painted.clear();
    driver.clearLog();
    if (tick.failWith != 0) driver.failExchange(1, uint32_t(tick.failWith));
    Tick(*w);
    EXPECT_EQ(painted, tick.paintedDuringTick);
  }
}

TEST_F(LiveWindowTest, StatusRegisterClearSendsCommand101AndShowsOnlyFailures) {
  driver.setAnswer(100, 0, {0, 0x40, 0, 0, 0});
  auto w = open<TForm15>();
  w->Timer1Timer();
  driver.clearLog();
  w->Button2Click();
  ASSERT_EQ(driver.requests().size(), 1u);
  EXPECT_EQ(driver.requests()[0], (Request{kAddress, 101, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(status(*w), " Bez chyby");  // left as the last poll put it
  EXPECT_EQ(label(*w, 39), "1");         // the display waits for the next poll

  driver.failExchange(2, 9);
  w->Button2Click();
  EXPECT_EQ(status(*w), errorStatus(9));
  EXPECT_EQ(label(*w, 39), "1");
}

// --- the analog window -------------------------------------------------------------------

TEST_F(LiveWindowTest, AnalogRangeIsRetriedAfterAFailureAndNeverAfterASuccess) {
  driver.setConfigByte(0, 1);
  driver.setAnswer(0, 0, {0, 0x39, 0x30, 0x00, 6});  // 0.012345 A
  driver.failExchange(1, 4);
  auto w = open<TForm3>();
  const Request range{kAddress, 102, 0, 0, 0, 0, 0, 0};
  const Request value{kAddress, 0, 0, 0, 0, 0, 0, 0};

  w->Timer1Timer();
  EXPECT_EQ(driver.requests(), (std::vector<Request>{range}));
  EXPECT_EQ(status(*w), errorStatus(4));
  EXPECT_EQ(label(*w, 18), "");
  EXPECT_FALSE(w->rangeRead());

  w->Timer1Timer();
  EXPECT_EQ(driver.requests(), (std::vector<Request>{range, range, value}));
  EXPECT_EQ(label(*w, 18), "12,345 mA");
  EXPECT_EQ(status(*w), " Bez chyby");

  // A failed value read after the range was read does not bring the range query back.
  driver.clearLog();
  driver.failExchange(1, 6);
  w->Timer1Timer();
  EXPECT_EQ(status(*w), errorStatus(6));
  EXPECT_EQ(label(*w, 18), "12,345 mA");  // the last good reading stays
  w->Timer1Timer();
  driver.setConfigByte(0, 0);  // a range change shows only in a new window
  w->Timer1Timer();
  EXPECT_EQ(driver.requests(), (std::vector<Request>{value, value, value}));
  EXPECT_EQ(label(*w, 18), "12,345 mA");
}

struct AnalogCase {
  uint8_t rangeByte;
  std::array<uint8_t, 4> answer;  // Data1..Data4
  const char* expected;           // with ',' as the separator
};

const AnalogCase kAnalogCases[] = {
    {1, {0xA0, 0x0F, 0x00, 6}, "4,000 mA"},      // 0.004 A
    {1, {0x39, 0x30, 0x00, 6}, "12,345 mA"},     // 0.012345 A
    {1, {0x02, 0x00, 0x00, 2}, "20,000 mA"},     // 0.02 A: three decimals whatever the module sent
    {1, {0x39, 0x30, 0x80, 6}, "-12,345 mA"},
    {0xFF, {0x01, 0x00, 0x00, 3}, "1,000 mA"},   // only bit 0 of the range byte counts
    {0, {0x00, 0x02, 0x00, 2}, "5,12 V"},
    {0, {0x00, 0x02, 0x00, 0x82}, "5,12 V"},     // bit 7 of the places ignored
    {0, {0x39, 0x30, 0x80, 3}, "-12,345 V"},
    {0, {0x39, 0x30, 0x00, 5}, "0,12345 V"},
    {0, {0x87, 0xD6, 0x12, 1}, "1,2346E5 V"},    // 123456.7: wider than 5 digits
    {0, {0xFF, 0xFF, 0x7F, 0}, "8,3886E6 V"},
};

TEST_F(LiveWindowTest, AnalogValueAndUnitInBothRangesWithBothSeparators) {
  for (QLocale::Language language : {QLocale::Czech, QLocale::English}) {
    QLocale::setDefault(QLocale(language));
    const QString separator = QLocale().decimalPoint();
    for (const AnalogCase& c : kAnalogCases) {
      const QString expected = QString::fromUtf8(c.expected).replace(QLatin1Char(','), separator);
      SCOPED_TRACE(expected.toStdString());
      driver.reset();
      driver.setConfigByte(0, c.rangeByte);
      driver.setAnswer(0, 0, {0, c.answer[0], c.answer[1], c.answer[2], c.answer[3]});
      auto w = open<TForm3>();
      w->Timer1Timer();
      EXPECT_EQ(label(*w, 18), expected);
    }
  }
}

// --- the output writer -------------------------------------------------------------------

struct OutputCase {
  std::vector<int> checked;
  std::array<uint8_t, 4> bytes;
};

TEST_F(LiveWindowTest, OutputWriteSendsOneCommand1WithTheBoxesAsBits) {
  const OutputCase cases[] = {
      {{0, 31}, {0x01, 0x00, 0x00, 0x80}},
      {{8, 9, 10, 11, 12, 13, 14, 15}, {0x00, 0xFF, 0x00, 0x00}},
      {{}, {0x00, 0x00, 0x00, 0x00}},
      {{7, 16, 24, 25}, {0x80, 0x00, 0x01, 0x03}},
  };
  for (const OutputCase& c : cases) {
    driver.clearLog();
    auto w = open<TForm9>();
    for (int n : c.checked)
      w->findChild<QCheckBox*>(QStringLiteral("CheckBox%1").arg(n + 1))->setChecked(true);
    w->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
    const Request expected{kAddress, 1, 64, 0, c.bytes[0], c.bytes[1], c.bytes[2], c.bytes[3]};
    EXPECT_EQ(driver.requests(), (std::vector<Request>{expected}));
    EXPECT_EQ(status(*w), " Data zapsána");
  }
}

TEST_F(LiveWindowTest, OutputWriteRepeatsOnEveryPressAndKeepsTheBoxesOnFailure) {
  auto w = open<TForm9>();
  for (int n = 0; n < 32; ++n) EXPECT_FALSE(w->outputBox(n)->isChecked());
  w->outputBox(3)->setChecked(true);
  w->Button1Click();
  driver.failExchange(2, 8);
  w->Button1Click();
  EXPECT_EQ(status(*w), errorStatus(8));
  EXPECT_TRUE(w->outputBox(3)->isChecked());
  w->Button1Click();
  EXPECT_EQ(status(*w), " Data zapsána");
  const Request expected{kAddress, 1, 64, 0, 0x08, 0, 0, 0};
  EXPECT_EQ(driver.requests(), (std::vector<Request>{expected, expected, expected}));
}

// --- what every window shares ------------------------------------------------------------

struct WindowAction {
  const char* name;
  std::function<std::unique_ptr<ModuleWindow>()> make;
  std::function<void(ModuleWindow&)> act;
};

std::vector<WindowAction> AllActions() {
  return {
      {"TForm3 tick", [] { return std::make_unique<TForm3>(); },
       [](ModuleWindow& w) { static_cast<TForm3&>(w).Timer1Timer(); }},
      {"TForm11 tick", [] { return std::make_unique<TForm11>(); },
       [](ModuleWindow& w) { static_cast<TForm11&>(w).Timer1Timer(); }},
      {"TForm15 tick", [] { return std::make_unique<TForm15>(); },
       [](ModuleWindow& w) { static_cast<TForm15&>(w).Timer1Timer(); }},
      {"TForm15 clear", [] { return std::make_unique<TForm15>(); },
       [](ModuleWindow& w) { static_cast<TForm15&>(w).Button2Click(); }},
      {"TForm9 write", [] { return std::make_unique<TForm9>(); },
       [](ModuleWindow& w) { static_cast<TForm9&>(w).Button1Click(); }},
  };
}

TEST_F(LiveWindowTest, WithoutAConnectionNothingIsSent) {
  for (const auto& a : AllActions()) {
    SCOPED_TRACE(a.name);
    for (int variant = 0; variant < 2; ++variant) {
      const uint32_t handle = data.DriverHandle;
      if (variant == 0) data.Connected = false;
      else data.DriverHandle = 0;
      auto w = a.make();
      w->setData(&data);
      w->show();
      if (auto* f = qobject_cast<TForm9*>(w.get())) f->outputBox(5)->setChecked(true);
      const int before = driver.count(LoggedCall::Send);
      a.act(*w);
      EXPECT_EQ(driver.count(LoggedCall::Send), before);
      EXPECT_EQ(status(*w), NotConnectedText);
      if (auto* f = qobject_cast<TForm3*>(w.get())) {
        EXPECT_EQ(label(*f, 18), "");
      }
      if (auto* f = qobject_cast<BitWindow*>(w.get())) {
        EXPECT_EQ(label(*f, 33), "0");
      }
      if (auto* f = qobject_cast<TForm9*>(w.get())) {
        EXPECT_TRUE(f->outputBox(5)->isChecked());
      }
      // Tested afresh each time: the window reaches the module once the connection is up.
      data.Connected = true;
      data.DriverHandle = handle;
      a.act(*w);
      EXPECT_GT(driver.count(LoggedCall::Send), before);
    }
  }
}

TEST_F(LiveWindowTest, WithoutARecordNothingHappens) {
  for (const auto& a : AllActions()) {
    SCOPED_TRACE(a.name);
    auto w = a.make();
    w->show();
    a.act(*w);
    EXPECT_EQ(status(*w), "");
  }
  EXPECT_EQ(driver.count(LoggedCall::Send), 0);
}

TEST_F(LiveWindowTest, EveryExchangeGoesToTheAddressCopiedWhenShown) {
  for (const auto& a : AllActions()) {
    SCOPED_TRACE(a.name);
    driver.clearLog();
    data.ModuleAddress = 12;
    auto w = a.make();
    w->setData(&data);
    EXPECT_EQ(w->moduleAddress(), 0);
    w->show();
    data.ModuleAddress = 40;  // a later change in the record does not reach the open window
    a.act(*w);
    ASSERT_FALSE(driver.requests().empty());
    for (const Request& r : driver.requests()) EXPECT_EQ(r[0], 12u);
  }
}

TEST_F(LiveWindowTest, PollTimersRunFromCreation) {
  struct { std::unique_ptr<QWidget> w; int interval; } windows[] = {
      {std::make_unique<TForm3>(), 500}, {std::make_unique<TForm11>(), 100}, {std::make_unique<TForm15>(), 500}};
  for (auto& entry : windows) {
    auto* timer = entry.w->findChild<QTimer*>(QStringLiteral("Timer1"));
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), entry.interval);
  }
}

// --- sequences never nest, and a close waits for the running one ------------------------

TEST_F(LiveWindowTest, ATimerFallingDueDuringAnAnalogTickDoesNotNest) {
  driver.setConfigByte(0, 0);
  driver.setAnswer(0, 0, {0, 0x00, 0x02, 0x00, 2});
  driver.setSendDelayMs(60);  // each exchange stalls past the timer's interval
  auto w = open<TForm3>();
  auto* timer = w->findChild<QTimer*>(QStringLiteral("Timer1"));
  int fired = 0;
  QObject::connect(timer, &QTimer::timeout, [&] { ++fired; });
  timer->start(10);

  w->Timer1Timer();
  timer->stop();
  EXPECT_GE(fired, 1) << "the timer never fell due inside the tick; the test proves nothing";
  EXPECT_EQ(driver.requests().size(), 2u);  // range and value of the one tick
  EXPECT_EQ(label(*w, 18), "5,12 V");
}

TEST_F(LiveWindowTest, ClosingDuringAnAnalogTickStopsItAndClosesWhenItReturns) {
  driver.setConfigByte(0, 0);
  driver.setAnswer(0, 0, {0, 0x00, 0x02, 0x00, 2});
  driver.setSendDelayMs(80);
  auto w = std::make_unique<TForm3>();
  w->setData(&data);
  w->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();

  bool visibleAfterClose = false;
  bool tickReturned = false;
  size_t sentAtClose = 99;
  QTimer::singleShot(0, w.get(), [&] {
    w->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
    // Cancel is pressed while the range query stalls.
    QTimer::singleShot(20, w.get(), [&] {
      sentAtClose = driver.requests().size();
      w->Button1Click();
      visibleAfterClose = w->isVisible();
    });
    w->Timer1Timer();
    tickReturned = true;
  });
  QElapsedTimer clock;
  clock.start();
  const int result = w->exec();

  EXPECT_TRUE(tickReturned);
  EXPECT_TRUE(visibleAfterClose) << "the window closed under the running tick";
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(w->sequenceRunning());
  // Nothing was sent after the close (normally it arrives during the range query).
  EXPECT_EQ(driver.requests().size(), sentAtClose);
  EXPECT_LE(sentAtClose, 1u);
  EXPECT_LT(clock.elapsed(), 2000);
}

}  // namespace
