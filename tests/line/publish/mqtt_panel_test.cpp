// The workbench publishing its polls to a real broker on 127.0.0.1: the pane's settings, what
// arrives at a subscriber of the test's own, and the state in the status bar.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include "base/config/line_file.h"
#include "line/poll/line_model.h"
#include "line/app/line_window.h"
#include "line/publish/mqtt_panel.h"
#include "line/common/workbench_settings.h"
#include "sim/sim_server.h"
#include "tests/line/simulated_workbench.h"
#include "tests/mqtt/test_broker.h"
#include "tests/sim/sim_line.h"

namespace {

// Address 5 twice, at two rates: each has topics of its own.
constexpr SimModuleSpec Line[] = {{1, 4}, {5, 7}, {17, 8}, {5, 4}};

QByteArray Level(const SimModuleSpec& s) {
  return s.address == 5 ? "5-" + QByteArray::number(BaudCodeToRate(s.baudCode)) : QByteArray::number(s.address);
}

QJsonObject Json(const ReceivedMessage& m) { return QJsonDocument::fromJson(m.payload).object(); }

// The window's thread goes on meanwhile: the polls reach the pane through it.
bool Arrives(const TestSubscriber& sub, const std::function<bool(const ReceivedMessage&)>& match, int ms) {
  return WaitFor([&] {
    for (const ReceivedMessage& m : sub.messages())
      if (match(m)) return true;
    return false;
  }, ms);
}

class MqttPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestBroker::Available()) GTEST_SKIP() << "mosquitto is not installed (scripts/install-deps.sh)";
    ASSERT_TRUE(dir_.isValid());
    sim_ = StartLine(dir_, {std::begin(Line), std::end(Line)});
    ASSERT_NE(sim_, nullptr);
    workbench_.emplace(dir_, *sim_);
    window_ = std::make_unique<LineWindow>();
    window_->setLinePath(dir_.filePath(QStringLiteral("linka.qx510line")));
    QVector<LineModule> modules;
    for (const SimModuleSpec& s : Line) {
      LineModule m;
      m.address = s.address;
      m.baudCode = s.baudCode;
      m.ident = QStringLiteral("QX-510   v.1.20");
      modules.append(m);
    }
    QString error;
    ASSERT_TRUE(SaveLineFile(window_->linePath(), LineFile{QDateTime::currentDateTime(), modules, {}}, error));
    window_->setLinePath(window_->linePath());
  }
  void TearDown() override {
    window_.reset();
    workbench_.reset();
  }

  // The operator types the line's name into the overview.
  void nameLine(const char* name) {
    auto* field = window_->findChild<QLineEdit*>(QStringLiteral("LineName"));
    field->setText(QString::fromUtf8(name));
    emit field->editingFinished();
  }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
  std::optional<SimulatedWorkbench> workbench_;
  std::unique_ptr<LineWindow> window_;
};

TEST_F(MqttPanelTest, PublishesEveryModuleAndKeepsItsSettings) {
  TestBroker broker;
  QString error;
  ASSERT_TRUE(broker.start(&error)) << error.toStdString();
  TestSubscriber sub(broker.port(), "plant/#");
  ASSERT_TRUE(sub.start());
  for (int i = 0; i < int(std::size(Line)); ++i) sim_->withModule(i, [i](SimModule& m) { m.setInputSwitches(0x10u << i); });

  MqttPanel* panel = window_->mqttPanel();
  EXPECT_EQ(window_->statusText(3), QStringLiteral(" MQTT neběží"));
  panel->findChild<QLineEdit*>(QStringLiteral("MqttUrl"))->setText(broker.url());
  panel->findChild<QLineEdit*>(QStringLiteral("MqttPrefix"))->setText(QStringLiteral("plant/hall2"));
  nameLine("W");
  panel->findChild<QSpinBox*>(QStringLiteral("MqttHeartbeat"))->setValue(0);
  panel->findChild<QPushButton*>(QStringLiteral("MqttStart"))->click();
  ASSERT_TRUE(panel->publishing());
  window_->connectLine();
  ASSERT_TRUE(WaitFor([this] { return window_->isConnected(); }));
  window_->startPolling();

  for (const SimModuleSpec& s : Line) {
    const QByteArray at = "plant/hall2/W/" + Level(s) + '/';
    const int index = int(&s - Line);
    EXPECT_TRUE(Arrives(sub, [&](const ReceivedMessage& m) {
      return m.topic == at + "din" && Json(m)["quality"] == "good" && Json(m)["value"].toInteger() == (0x10 << index);
    }, 10000)) << int(s.address);
    EXPECT_TRUE(Arrives(sub, [&](const ReceivedMessage& m) {
      return m.topic == at + "info" && Json(m)["rate"] == BaudCodeToRate(s.baudCode) && Json(m)["module"] == "QX-510";
    }, 5000)) << int(s.address);
    EXPECT_TRUE(Arrives(sub, [&](const ReceivedMessage& m) { return m.topic == at + "state" && Json(m)["state"] == "answers"; },
                            5000)) << int(s.address);
  }
  EXPECT_TRUE(WaitFor([this] { return window_->statusText(3) == QStringLiteral(" MQTT: připojeno"); }));

  sub.clear();
  panel->findChild<QPushButton*>(QStringLiteral("MqttStop"))->click();
  EXPECT_FALSE(panel->publishing());
  EXPECT_TRUE(Arrives(sub, [](const ReceivedMessage& m) { return m.topic == "plant/hall2/W/state" && m.payload == "offline"; }, 5000));
  EXPECT_EQ(window_->statusText(3), QStringLiteral(" MQTT neběží"));

  // The next start of the workbench offers the same settings.
  window_.reset();
  MqttPanel again;
  EXPECT_EQ(again.findChild<QLineEdit*>(QStringLiteral("MqttUrl"))->text(), broker.url());
  EXPECT_EQ(again.findChild<QLineEdit*>(QStringLiteral("MqttPrefix"))->text(), QStringLiteral("plant/hall2"));
  EXPECT_EQ(WorkbenchLineName(), QStringLiteral("W"));
  EXPECT_TRUE(again.findChild<QLabel*>(QStringLiteral("MqttTopics"))->text().startsWith(QStringLiteral("plant/hall2/W/")));
  EXPECT_EQ(again.findChild<QSpinBox*>(QStringLiteral("MqttHeartbeat"))->value(), 0);
}

// Settings that cannot work are said in the pane and start nothing.
TEST_F(MqttPanelTest, RefusesSettingsThatCannotWork) {
  MqttPanel* panel = window_->mqttPanel();
  // The broker in the pane; the line's name, one for the topics, the report and the log, in
  // the overview, which refuses one that is no topic level and keeps the one before.
  const struct {
    const char* url;  // nullptr: the name is refused before any publishing
    const char* line;
    const char* message;
  } cases[] = {
      {"http://127.0.0.1", "W", "Adresa brokeru musí mít tvar"},
      {nullptr, "a/b", "Název linky nelze použít: Název linky"},
      {nullptr, "a+b", "Název linky nelze použít: Název linky"},
  };
  for (const auto& c : cases) {
    nameLine(c.line);
    if (c.url) {
      panel->findChild<QLineEdit*>(QStringLiteral("MqttUrl"))->setText(QString::fromUtf8(c.url));
      EXPECT_FALSE(panel->startPublishing()) << c.url;
    }
    const QString said = c.url ? panel->findChild<QLabel*>(QStringLiteral("MqttState"))->text()
                               : window_->findChild<QLabel*>(QStringLiteral("LineInfo"))->text();
    EXPECT_FALSE(panel->publishing());
    EXPECT_TRUE(said.startsWith(QString::fromUtf8(c.message))) << said.toStdString();
    EXPECT_EQ(WorkbenchLineName(), QStringLiteral("W"));
  }
}

}  // namespace
