// The keyboard in every window: Return presses no button and so reaches no driver entry,
// Escape closes the windows that close with "Cancel", Space presses the focused button.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "app/tform1.h"
#include "base/settings/settings.h"
#include "base/settings/tdata.h"
#include "calib/tform6.h"
#include "config/tform12.h"
#include "config/tform13.h"
#include "config/tform14.h"
#include "connect/tform2.h"
#include "live/tform11.h"
#include "live/tform15.h"
#include "live/tform3.h"
#include "live/tform9.h"
#include "tests/support/scripted_driver.h"

namespace {

struct Window {
  const char* name;
  std::function<std::unique_ptr<QWidget>(TData*)> make;
  bool closesWithCancel;
};

template <class W>
std::unique_ptr<QWidget> Make(TData* data) {
  auto window = std::make_unique<W>();
  window->setData(data);
  return window;
}

const Window Windows[] = {
    {"TForm1", [](TData*) { return std::unique_ptr<QWidget>(std::make_unique<TForm1>()); }, false},
    {"TForm2", &Make<TForm2>, true},   {"TForm12", &Make<TForm12>, true}, {"TForm13", &Make<TForm13>, true},
    {"TForm14", &Make<TForm14>, true}, {"TForm3", &Make<TForm3>, true},   {"TForm11", &Make<TForm11>, true},
    {"TForm15", &Make<TForm15>, true}, {"TForm9", &Make<TForm9>, true},   {"TForm6", &Make<TForm6>, true},
};

void PrintTo(const Window& window, std::ostream* os) { *os << window.name; }

class Keys : public ::testing::TestWithParam<Window> {
 protected:
  void SetUp() override {
    SetConnectionSettingsPath(dir.filePath("W_qx510.ini"));
    InitData(&data);
    ConnectScripted(data);
  }
  void TearDown() override {
    window.reset();
    DisconnectScripted(data);
    SetConnectionSettingsPath(QString());
  }

  // Shown and active, its timers stopped (their ticks talk to the module), the log empty.
  QWidget* open() {
    window = GetParam().make(&data);
    window->show();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    for (QTimer* timer : window->findChildren<QTimer*>()) timer->stop();
    driver.clearLog();
    return window.get();
  }
  std::vector<QWidget*> focusable() const {
    std::vector<QWidget*> out;
    for (QWidget* w : window->findChildren<QWidget*>())
      if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window.get()) && w->isEnabled()) out.push_back(w);
    return out;
  }

  QTemporaryDir dir;
  ScriptedDriver driver{0};
  TData data{};
  std::unique_ptr<QWidget> window;
};

TEST_P(Keys, ReturnPressesNothingAndEscapeClosesWhatCancelCloses) {
  QWidget* w = open();
  for (QWidget* control : focusable()) {
    SCOPED_TRACE(control->objectName().toStdString() + " " + control->metaObject()->className());
    control->setFocus();
    QTest::keyClick(control, Qt::Key_Return);
    QTest::keyClick(control, Qt::Key_Enter);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(driver.calls().empty());
  }
  QTest::keyClick(w, Qt::Key_Return);
  EXPECT_TRUE(w->isVisible());
  QTest::keyClick(w, Qt::Key_Escape);
  EXPECT_EQ(w->isVisible(), !GetParam().closesWithCancel);
  EXPECT_TRUE(driver.calls().empty());
}

TEST_P(Keys, SpacePressesTheFocusedButton) {
  const int buttons = int(GetParam().make(&data)->findChildren<QPushButton*>().size());
  for (int i = 0; i < buttons; ++i) {
    QWidget* w = open();
    QPushButton* button = w->findChildren<QPushButton*>()[i];
    SCOPED_TRACE(button->text().toStdString());
    QSignalSpy clicked(button, &QPushButton::clicked);
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(clicked.count(), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWindow, Keys, ::testing::ValuesIn(Windows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
