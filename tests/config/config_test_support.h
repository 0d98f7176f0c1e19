#pragma once

#include <gtest/gtest.h>

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <array>
#include <memory>
#include <vector>

#include "base/settings/tdata.h"
#include "config/config_window.h"
#include "tests/support/scripted_driver.h"

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& texts, std::ostream* os) {
  *os << "{";
  for (const QString& text : texts) PrintTo(text, os), *os << " ";
  *os << "}";
}

using Request = std::array<uint32_t, 8>;

inline Request ReadRequest(uint8_t module, uint8_t address) {
  return {module, 102, 0, 0, address, address, 0, 0};
}
inline Request WriteRequest(uint8_t module, uint8_t address, uint8_t value) {
  return {module, 103, 0, 0, address, address, value, value};
}

inline QString DriverFailure(uint32_t code) {
  return QStringLiteral(" ") + QString::fromStdString(ScriptedErrorText(code));
}

// Every distinct text StatusPanel0 is painted with, in order: a text that is set but never
// reaches the screen is missing here.
class StatusRecorder : public QObject {
 public:
  explicit StatusRecorder(QWidget* window)
      : label_(window->findChild<QLabel*>(QStringLiteral("StatusPanel0"))) {
    label_->installEventFilter(this);
  }
  QStringList texts;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && (texts.isEmpty() || texts.back() != label_->text()))
      texts << label_->text();
    return false;
  }

 private:
  QLabel* label_;
};

inline QPushButton* Button(QWidget* window, int n) {
  return window->findChild<QPushButton*>(QStringLiteral("Button%1").arg(n));
}

inline QString PanelText(QWidget* window) {
  return window->findChild<QLabel*>(QStringLiteral("StatusPanel0"))->text();
}

// Shown and exposed, so that a repaint reaches the screen at once as it does for the operator.
inline void Show(QWidget* window) {
  window->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
}

// A connected TData on the scripted serial driver, its log cleared.
struct ConfigFixture : ::testing::Test {
  ScriptedDriver driver{0};
  TData data{};

  void SetUp() override {
    InitData(&data);
    data.ModuleAddress = 5;
    ConnectScripted(data);
    driver.clearLog();
  }
  void TearDown() override { DisconnectScripted(data); }

  template <typename W>
  std::unique_ptr<W> open() {
    auto window = std::make_unique<W>();
    window->setData(&data);
    Show(window.get());
    return window;
  }
};
