// What each configuration window adds to the shared pattern: its controls, checks and layout.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>

#include "config/tform12.h"
#include "config/tform13.h"
#include "config/tform14.h"
#include "config_test_support.h"

namespace {

const QString AddressMessage = QStringLiteral(" Adresa modulu musí být v rozsahu 0-255.");
const QString RateMessage =
    QStringLiteral(" Komunikační rychlost musí být v rozsahu 600Bd-115200Bd.");

using AddressWindow = ConfigFixture;

TEST_F(AddressWindow, AddressFieldIsCheckedBeforeAnythingIsSent) {
  const std::pair<const char*, int> cases[] = {
      {"256", -1}, {"-1", -1}, {"abc", -1}, {"", -1},   {"12abc", -1},
      {"1,5", -1}, {"0", 0},   {"255", 255}, {" 12 ", 12}, {"4294967313", -1}};
  for (auto [text, value] : cases) {
    SCOPED_TRACE(text);
    auto window = open<TForm12>();
    driver.clearLog();
    window->findChild<QLineEdit*>("Edit1")->setText(QString::fromUtf8(text));
    Button(window.get(), 1)->click();
    if (value < 0) {
      EXPECT_EQ(PanelText(window.get()), AddressMessage);
      EXPECT_TRUE(driver.requests().empty());
    } else {
      EXPECT_EQ(PanelText(window.get()), QStringLiteral(" Konfigurace zapsána."));
      ASSERT_EQ(driver.requests().size(), 4u);
      EXPECT_EQ(driver.requests()[0], WriteRequest(5, 63, uint8_t(value)));
    }
  }
}

TEST_F(AddressWindow, UnknownBaudCodeLeavesNoRateAndBlocksWriteAndOk) {
  driver.setConfigByte(63, 3);
  driver.setConfigByte(62, 9);
  auto window = open<TForm12>();
  auto* combo = window->findChild<QComboBox*>("ComboBox1");
  auto* edit = window->findChild<QLineEdit*>("Edit1");
  Button(window.get(), 2)->click();
  EXPECT_EQ(combo->currentIndex(), -1);
  EXPECT_EQ(edit->text(), "3");

  edit->setText("17");
  driver.clearLog();
  Button(window.get(), 1)->click();
  EXPECT_EQ(PanelText(window.get()), RateMessage);
  EXPECT_TRUE(driver.requests().empty());
  auto* panel = window->findChild<QLabel*>("StatusPanel0");  // the longest message fits
  EXPECT_LE(panel->sizeHint().width(), panel->width());
  EXPECT_EQ(window->workingCopy().AddressSetting, 17);  // taken before the rate check

  const ModuleConfigImage before = data.ModuleConfig;
  Button(window.get(), 3)->click();
  EXPECT_EQ(data.ModuleConfig, before);
  EXPECT_FALSE(window->isVisible());
}

using AnalogWindow = ConfigFixture;

// Only bit 0 of the range byte is the window's: a read keeps the whole byte, but what the
// window writes and hands over is 0 or 1.
TEST_F(AnalogWindow, RangeByteIsReducedToItsRangeBit) {
  const std::pair<uint8_t, int> cases[] = {{3, 1}, {2, 0}, {1, 1}, {0, 0}};
  for (auto [stored, range] : cases) {
    SCOPED_TRACE(int(stored));
    InitData(&data);
    ConnectScripted(data);
    driver.setConfigByte(0, stored);
    auto window = open<TForm13>();
    driver.clearLog();
    Button(window.get(), 2)->click();
    EXPECT_EQ(window->findChild<QComboBox*>("ComboBox1")->currentIndex(), range);
    EXPECT_EQ(window->workingCopy().AinRange[0], stored);
    Button(window.get(), 1)->click();
    ASSERT_EQ(driver.requests().size(), 3u);
    EXPECT_EQ(driver.requests()[1], WriteRequest(0, 0, uint8_t(range)));
    Button(window.get(), 3)->click();
    EXPECT_EQ(data.ModuleConfig.AinRange[0], range);
  }
}

TEST_F(AnalogWindow, OkRightAfterOpeningChangesOnlyTheRangeByte) {
  data.ModuleConfig.AinRange = {3, 2, 2, 2, 2, 2};
  ModuleConfigImage expected = data.ModuleConfig;
  expected.AinRange[0] = 1;
  auto window = open<TForm13>();
  Button(window.get(), 3)->click();
  EXPECT_EQ(data.ModuleConfig, expected);
  EXPECT_TRUE(driver.requests().empty());
}

using DigitalWindow = ConfigFixture;

QList<int> CheckedBoxes(QWidget* window) {
  QList<int> checked;
  for (int i = 1; i <= 96; ++i)
    if (window->findChild<QCheckBox*>(QStringLiteral("CheckBox%1").arg(i))->isChecked())
      checked << i;
  return checked;
}

TEST_F(DigitalWindow, EachConfigurationBitTicksItsBox) {
  struct Case {
    uint8_t address, value;
    QList<int> boxes;
  };
  const Case cases[] = {{33, 0x81, {1, 8}}, {36, 0x02, {10}}, {42, 0x80, {32}},
                        {34, 0x01, {33}},   {43, 0x80, {64}}, {32, 0x01, {65}},
                        {38, 0x10, {85}},   {41, 0x80, {96}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.address));
    for (int a = 32; a <= 43; ++a) driver.setConfigByte(uint8_t(a), a == c.address ? c.value : 0);
    auto window = open<TForm14>();
    Button(window.get(), 2)->click();
    EXPECT_EQ(CheckedBoxes(window.get()), c.boxes);
  }
}

TEST_F(DigitalWindow, FreshRecordShowsNegationOnAndInitialStatesOff) {
  auto window = open<TForm14>();
  QList<int> negation;
  for (int i = 1; i <= 64; ++i) negation << i;
  EXPECT_EQ(CheckedBoxes(window.get()), negation);
  const char* captions[] = {" Negace DIN ", "Negace DOUT ", " Počáteční stav DOUT "};
  for (int g = 0; g < 3; ++g) {
    auto* group = window->findChild<QGroupBox*>(QStringLiteral("GroupBox%1").arg(g + 1));
    EXPECT_EQ(group->title(), QString::fromUtf8(captions[g]));
    EXPECT_EQ(window->findChild<QCheckBox*>(QStringLiteral("CheckBox%1").arg(32 * g + 32))
                  ->parentWidget(), group);
  }
}

// Tab stops once in each group of boxes, then at the buttons; the arrows move within a group.
TEST_F(DigitalWindow, TabVisitsEachGroupOnceAndArrowsMoveWithinIt) {
  auto window = open<TForm14>();
  QApplication::setActiveWindow(window.get());
  const auto focused = [&] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); };
  const struct {
    Qt::Key key;
    const char* to;
  } steps[] = {{Qt::Key_Down, "CheckBox2"},   {Qt::Key_Right, "CheckBox18"}, {Qt::Key_Up, "CheckBox17"},
               {Qt::Key_Up, "CheckBox17"},    {Qt::Key_Left, "CheckBox1"},   {Qt::Key_Left, "CheckBox1"},
               {Qt::Key_Down, "CheckBox2"},   {Qt::Key_Tab, "CheckBox33"},   {Qt::Key_Tab, "CheckBox65"},
               {Qt::Key_Tab, "Button1"},      {Qt::Key_Tab, "Button2"},      {Qt::Key_Tab, "Button3"},
               {Qt::Key_Tab, "Button4"},      {Qt::Key_Tab, "CheckBox2"},    {Qt::Key_Backtab, "Button4"}};
  ASSERT_EQ(focused(), QStringLiteral("CheckBox1"));
  for (const auto& s : steps) {
    QTest::keyClick(QApplication::focusWidget(), s.key);
    EXPECT_EQ(focused(), QString::fromLatin1(s.to)) << QKeySequence(s.key).toString().toStdString();
  }
}

// Czech captions must fit their controls in the window's fixed size; QX510_GRAB_DIR, when
// set, receives a picture of each window.
TEST_F(DigitalWindow, WindowsHaveTheirSizesAndCaptionsFit) {
  std::vector<std::pair<std::unique_ptr<QDialog>, QSize>> windows;
  windows.emplace_back(open<TForm12>(), QSize(393, 200));
  windows.emplace_back(open<TForm13>(), QSize(391, 185));
  windows.emplace_back(open<TForm14>(), QSize(526, 398));
  for (auto& [window, size] : windows) {
    SCOPED_TRACE(window->metaObject()->className());
    EXPECT_EQ(window->size(), size);
    for (QWidget* child : window->findChildren<QWidget*>()) {
      if (!qobject_cast<QLabel*>(child) && !qobject_cast<QAbstractButton*>(child)) continue;
      if (child->objectName().startsWith("StatusPanel")) continue;
      // A push button's hint carries the style's minimum width; its caption is what must fit.
      auto* button = qobject_cast<QPushButton*>(child);
      const int needed = button ? button->fontMetrics().horizontalAdvance(button->text()) + 12
                                : child->sizeHint().width();
      EXPECT_LE(needed, child->width()) << child->objectName().toStdString();
      EXPECT_TRUE(window->rect().contains(child->geometry().translated(
          child->parentWidget()->mapTo(window.get(), QPoint()))));
    }
    const QString dir = qEnvironmentVariable("QX510_GRAB_DIR");
    if (!dir.isEmpty())
      window->grab().save(QDir(dir).filePath(window->metaObject()->className() + QString(".png")));
  }
}

}  // namespace
