// qx510-cli watch --mqtt, the program itself, against an in-process simulated line and a real
// broker on 127.0.0.1, with a subscriber of the test's own.

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/exchange/commands.h"
#include "cli/cli_mqtt.h"
#include "sim/sim_server.h"
#include "tests/mqtt/test_broker.h"

namespace {

QJsonObject Json(const ReceivedMessage& m) { return QJsonDocument::fromJson(m.payload).object(); }

// What came on a topic, for a failure's message.
std::string Seen(const TestSubscriber& sub, const QByteArray& topic) {
  QByteArray seen;
  for (const ReceivedMessage& m : sub.messages())
    if (m.topic == topic) seen += m.payload + '\n';
  return (topic + ":\n" + seen.right(600)).toStdString();
}

class CliMqttTest : public ::testing::Test {
 protected:
  static constexpr SimModuleSpec Line[] = {{0, 4}, {5, 4}, {17, 4}};

  void SetUp() override {
    if (!TestBroker::Available()) GTEST_SKIP() << "mosquitto is not installed (scripts/install-deps.sh)";
    ASSERT_TRUE(dir_.isValid());
    SimServerOptions options;
    options.wire = simline::Wire::Instant;
    options.udpPort = 0;
    options.localPath = dir_.filePath(QStringLiteral("sim.sock")).toStdString();
    options.modules.assign(std::begin(Line), std::end(Line));
    sim_ = std::make_unique<SimServer>(options);
    std::string error;
    ASSERT_TRUE(sim_->start(&error)) << error;
  }

  // The watch as a process of its own, on the simulated line.
  void startWatch(QProcess& cli, const QString& url, const QStringList& more, const QProcessEnvironment& extraEnv = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(simproto::EndpointEnv), QString::fromStdString(sim_->localPath()));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());  // no serial-ports file of the user's
    env.remove(QString::fromLatin1(MqttPasswordEnv));
    for (const QString& key : extraEnv.keys()) env.insert(key, extraEnv.value(key));
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(QX510_CLI),
              QStringList{"watch", "ain0,din,status", "--interface", "serial", "--com-port", "1", "--rate", "9600",
                          "--timeout", "50", "--interval", "100", "--mqtt", url, "--mqtt-line", "L"} +
                  more);
    ASSERT_TRUE(cli.waitForStarted(10000));
  }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
};

// Every module's readings arrive with their quality, with its description and state; a module
// made silent arrives so and comes back; messages from the broker change nothing; a killed
// program leaves `offline` behind.
TEST_F(CliMqttTest, PublishesTheLineItsHealthAndItsEnd) {
  TestBroker broker;
  QString error;
  ASSERT_TRUE(broker.start(&error)) << error.toStdString();
  TestSubscriber sub(broker.port(), "qx510/#");
  ASSERT_TRUE(sub.start());
  const struct {
    int index, address;
    double volts;
    uint32_t inputs;
  } given[] = {{0, 0, 1.25, 0x5}, {1, 5, 2.5, 0xF0}, {2, 17, 7.75, 0x80000001}};
  // The value each module measures, its calibration applied, in V.
  double measured[3] = {};
  for (const auto& g : given)
    measured[g.index] = sim_->withModule(g.index, [&](SimModule& m) {
      m.setSourceVoltage(g.volts);
      m.setInputSwitches(g.inputs);
      return m.measureUnits(0) / 1000.0;
    });
  QProcess cli;
  startWatch(cli, broker.url(), {"--addresses", "0,5,17,20", "--mqtt-stats", "1"});

  for (const auto& g : given) {
    const QByteArray at = "qx510/L/" + QByteArray::number(g.address) + '/';
    EXPECT_TRUE(sub.waitFor([&](const ReceivedMessage& m) {
      const QJsonObject o = Json(m);
      return m.topic == at + "ain0" && o["quality"] == "good" && o["unit"] == "V" &&
             std::abs(o["value"].toDouble() - measured[g.index]) < 0.0005 && o["time"].toString().contains('T');
    }, 10000)) << Seen(sub, at + "ain0");
    EXPECT_TRUE(sub.waitFor([&](const ReceivedMessage& m) {
      return m.topic == at + "din" && Json(m)["quality"] == "good" && Json(m)["value"].toInteger() == g.inputs;
    }, 5000)) << g.address;
    EXPECT_TRUE(sub.waitFor([&](const ReceivedMessage& m) { return m.topic == at + "status" && Json(m)["quality"] == "good"; },
                            5000)) << g.address;
    EXPECT_TRUE(sub.waitFor([&](const ReceivedMessage& m) { return m.topic == at + "state" && Json(m)["state"] == "answers"; },
                            5000)) << g.address;
  }
  for (const char* leaf : {"ain0", "din", "status"})
    EXPECT_TRUE(sub.waitFor([&](const ReceivedMessage& m) {
      return m.topic == QByteArray("qx510/L/20/") + leaf && Json(m)["quality"] == "no_answer" && !Json(m)["error"].toString().isEmpty();
    }, 5000)) << leaf;
  EXPECT_TRUE(sub.waitFor([](const ReceivedMessage& m) { return m.topic == "qx510/L/20/state" && Json(m)["state"] == "silent"; }, 5000));
  EXPECT_TRUE(sub.waitFor([](const ReceivedMessage& m) {
    return m.topic == "qx510/L/stats" && Json(m)["exchanges"].toObject()["good"].toInteger() > 0;
  }, 5000)) << Seen(sub, "qx510/L/stats");

  // Who joins later finds the line's presence, each module's description and state kept.
  TestSubscriber late(broker.port(), "qx510/#");
  ASSERT_TRUE(late.start());
  EXPECT_TRUE(late.waitFor([](const ReceivedMessage& m) { return m.topic == "qx510/L/state" && m.payload == "online" && m.retained; }, 5000));
  for (const auto& g : given)
    EXPECT_TRUE(late.waitFor([&](const ReceivedMessage& m) {
      const QJsonObject o = Json(m);
      return m.topic == "qx510/L/" + QByteArray::number(g.address) + "/info" && m.retained && o["address"] == g.address &&
             o["rate"] == 9600 && o["module"] == "QX-510" && o["range"] == "0-10V";
    }, 5000)) << g.address;

  sub.clear();
  sim_->withBus([](SimBus& bus) { bus.arm(1, SimFault{.kind = SimFault::Silent}); });
  EXPECT_TRUE(sub.waitFor([](const ReceivedMessage& m) {
    return m.topic == "qx510/L/5/state" && Json(m)["state"] == "silent" && Json(m)["quality"] == "no_answer";
  }, 5000)) << Seen(sub, "qx510/L/5/state") << Seen(sub, "qx510/L/5/din") << sub.messages().size();
  sim_->withBus([](SimBus& bus) { bus.clearFaults(1); });
  EXPECT_TRUE(sub.waitFor([](const ReceivedMessage& m) { return m.topic == "qx510/L/5/state" && Json(m)["state"] == "answers"; }, 5000));

  // Whatever arrives from the broker, on whatever topic, drives nothing.
  const uint64_t before = sim_->requestCount();
  const uint32_t outputs = sim_->withModule(1, [](SimModule& m) { return m.outputs(); });
  for (const QByteArray& topic : {QByteArray("qx510/L/5/dout"), QByteArray("qx510/L/5/din"), QByteArray("qx510/L/5/set"),
                                  QByteArray("qx510/L/command"), QByteArray("qx510/L/5/config/address")})
    for (const QByteArray& payload : {QByteArray("4294967295"), QByteArray("{\"value\":255,\"address\":1}"), QByteArray("\xff\xfe")})
      sub.publish(topic, payload);
  QThread::msleep(1000);
  ASSERT_EQ(cli.state(), QProcess::Running) << cli.readAllStandardError().toStdString();
  for (const SimLogEntry& e : sim_->logSince(before))
    EXPECT_TRUE(e.request.command != Cmd::WriteOutputs && e.request.command != Cmd::ClearStatus &&
                e.request.command != Cmd::WriteConfigByte) << int(e.request.command);
  EXPECT_EQ(sim_->withModule(1, [](SimModule& m) { return m.outputs(); }), outputs);

  sub.clear();
  cli.kill();  // SIGKILL: no goodbye of its own
  cli.waitForFinished(5000);
  EXPECT_TRUE(sub.waitFor([](const ReceivedMessage& m) { return m.topic == "qx510/L/state" && m.payload == "offline"; }, 10000));
}

// A broker that refuses the login or the certificate ends the watch with status 3 and says why;
// the password comes from a file or the environment.
TEST_F(CliMqttTest, RefusedLoginOrCertificateEndsTheWatchWithStatus3) {
  RefusingBrokers brokers;
  QString error;
  ASSERT_TRUE(brokers.start(dir_.path(), &error)) << error.toStdString();
  const QString url = brokers.login->url();
  const QString right = dir_.filePath(QStringLiteral("right")), wrong = dir_.filePath(QStringLiteral("wrong"));
  for (const auto& [path, text] : {std::pair{right, "s3cret\n"}, std::pair{wrong, "guess\n"}}) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text) > 0);
  }
  QProcessEnvironment wrongEnv;
  wrongEnv.insert(QString::fromLatin1(MqttPasswordEnv), QStringLiteral("guess"));
  QProcessEnvironment rightEnv;
  rightEnv.insert(QString::fromLatin1(MqttPasswordEnv), QStringLiteral("s3cret"));
  struct Case {
    const char* what;
    QString url;
    QStringList args;
    QProcessEnvironment env;
    int code;
    const char* message;
  };
  std::vector<Case> cases = {
      {"right password file", url, {"--mqtt-user", "operator", "--mqtt-password-file", right, "--count", "3"}, {}, 0, ""},
      {"right password in the environment", url, {"--mqtt-user", "operator", "--count", "3"}, rightEnv, 0, ""},
      {"wrong password file", url, {"--mqtt-user", "operator", "--mqtt-password-file", wrong}, {}, 3,
       "Broker MQTT odmítl přihlášení"},
      {"wrong password in the environment", url, {"--mqtt-user", "operator"}, wrongEnv, 3,
       "Broker MQTT odmítl přihlášení"},
  };
  if (brokers.tls) {
    const TestCertificates& certs = brokers.certificates;
    cases.push_back({"the broker's CA", brokers.tls->url("mqtts"), {"--mqtt-ca", certs.ca, "--count", "3"}, {}, 0, ""});
    cases.push_back({"another CA", brokers.tls->url("mqtts"), {"--mqtt-ca", certs.otherCa}, {}, 3,
                     "Spojení TLS s brokerem MQTT selhalo: certifikát brokeru nelze ověřit"});
  }
  for (const auto& c : cases) {
    QProcess cli;
    startWatch(cli, c.url, c.args, c.env);
    ASSERT_TRUE(cli.waitForFinished(20000)) << c.what;
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    EXPECT_EQ(cli.exitCode(), c.code) << c.what << ": " << err.toStdString();
    if (c.code == 3) {
      EXPECT_TRUE(err.contains(QString::fromUtf8(c.message))) << c.what << ": " << err.toStdString();
    }
  }
}

// A broker that took no message ends the watch with a status of its own; one that goes away
// and comes back is said on standard error when it goes and when it is back.
TEST_F(CliMqttTest, TheWatchSaysWhenTheBrokerGoesAndComesBackAndFailsWhenItTookNothing) {
  FaultyBroker silent(FaultyBroker::Silent);
  QProcess cli;
  startWatch(cli, QStringLiteral("mqtt://127.0.0.1:%1").arg(silent.port()), {"--count", "5"});
  ASSERT_TRUE(cli.waitForFinished(30000));
  const QString err = QString::fromUtf8(cli.readAllStandardError());
  EXPECT_EQ(cli.exitCode(), 4) << err.toStdString();
  EXPECT_TRUE(err.contains(QStringLiteral("MQTT: broker nepřevzal žádnou z"))) << err.toStdString();

  TestBroker broker;
  QString error;
  ASSERT_TRUE(broker.start(&error)) << error.toStdString();
  QProcess watch;
  startWatch(watch, broker.url(), {});
  QString said;
  const auto saidSoon = [&](const QString& text, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!said.contains(text) && !deadline.hasExpired()) {
      watch.waitForReadyRead(100);
      said += QString::fromUtf8(watch.readAllStandardError());
    }
    return said.contains(text);
  };
  QThread::msleep(1000);
  broker.stop();
  EXPECT_TRUE(saidSoon(QStringLiteral("nedostupný: "), 20000)) << said.toStdString();
  ASSERT_TRUE(broker.start(&error)) << error.toStdString();
  EXPECT_TRUE(saidSoon(QStringLiteral("opět dostupný"), 30000)) << said.toStdString();
  watch.terminate();
  ASSERT_TRUE(watch.waitForFinished(10000));
  EXPECT_EQ(watch.exitCode(), 143);
}

}  // namespace
