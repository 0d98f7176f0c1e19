// The MQTT client against a real broker on 127.0.0.1: refusals that end it, and a broker that
// goes away and comes back.

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <set>

#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_messages.h"
#include "tests/mqtt/test_broker.h"
#include "tests/support/scoped_env.h"
#include "tests/support/wait_for.h"

namespace {

MqttSettings SettingsFor(int port, bool tls) {
  MqttSettings s;
  s.url.tls = tls;
  s.url.host = QStringLiteral("127.0.0.1");
  s.url.port = port;
  s.presenceTopic = "t/line/state";
  return s;
}

MqttSettings SettingsFor(const TestBroker& broker, bool tls) { return SettingsFor(broker.port(), tls); }

TEST(MqttClient, UrlsItTakesAndRefuses) {
  const struct {
    const char* text;
    bool ok, tls;
    int port;
  } cases[] = {
      {"mqtt://broker", true, false, 1883},     {"mqtts://broker", true, true, 8883},
      {"mqtt://10.0.0.5:1884", true, false, 1884}, {"mqtts://[::1]:9000", true, true, 9000},
      {"http://broker", false, false, 0},       {"mqtt://", false, false, 0},
      {"mqtt://user:pw@broker", false, false, 0}, {"mqtt://broker:0", false, false, 0},
      {"mqtt://broker/topic", false, false, 0}, {"broker:1883", false, false, 0},
  };
  for (const auto& c : cases) {
    MqttUrl url;
    const QString error = ParseMqttUrl(QString::fromUtf8(c.text), url);
    EXPECT_EQ(error.isEmpty(), c.ok) << c.text << ": " << error.toStdString();
    if (!c.ok || !error.isEmpty()) continue;
    EXPECT_EQ(url.tls, c.tls) << c.text;
    EXPECT_EQ(url.port, c.port) << c.text;
  }
}

// A refused login or certificate ends the client with its reason, never a retry in silence;
// the control case of each broker connects.
TEST(MqttClient, RefusedLoginOrCertificateEndsTheClient) {
  if (!TestBroker::Available()) GTEST_SKIP() << "mosquitto is not installed (scripts/install-deps.sh)";
  QTemporaryDir dir;
  RefusingBrokers brokers;
  QString error;
  ASSERT_TRUE(brokers.start(dir.path(), &error)) << error.toStdString();
  const QString user = QLatin1String(RefusingBrokers::User);
  const TestCertificates& certs = brokers.certificates;

  struct Case {
    const char* what;
    TestBroker* broker;
    bool tls;
    QString user;
    QByteArray password;
    QString ca;
    MqttClient::State state;
    const char* message;
  };
  std::vector<Case> cases = {
      {"right password", brokers.login.get(), false, user, RefusingBrokers::Password, {}, MqttClient::State::Connected, ""},
      {"wrong password", brokers.login.get(), false, user, "guess", {}, MqttClient::State::Refused,
       "Broker MQTT odmítl přihlášení"},
      {"no login", brokers.login.get(), false, {}, {}, {}, MqttClient::State::Refused, "Broker MQTT odmítl přihlášení"},
  };
  if (brokers.tls) {
    cases.push_back({"the broker's CA", brokers.tls.get(), true, {}, {}, certs.ca, MqttClient::State::Connected, ""});
    cases.push_back({"another CA", brokers.tls.get(), true, {}, {}, certs.otherCa, MqttClient::State::Refused,
                     "Spojení TLS s brokerem MQTT selhalo: certifikát brokeru nelze ověřit"});
  }
  if (brokers.tls) {
    // Without a CA file the system's CAs, which OpenSSL takes from SSL_CERT_FILE where set.
    const ScopedEnv systemCas("SSL_CERT_FILE", certs.ca.toStdString());
    MqttClient client(SettingsFor(*brokers.tls, true));
    ASSERT_TRUE(client.start(&error)) << error.toStdString();
    EXPECT_TRUE(WaitFor([&] { return client.state() == MqttClient::State::Connected; }, 10000)) << client.error().toStdString();
  }
  for (const Case& c : cases) {
    MqttSettings s = SettingsFor(*c.broker, c.tls);
    s.userName = c.user;
    s.password = c.password;
    s.caFile = c.ca;
    MqttClient client(s);
    ASSERT_TRUE(client.start(&error)) << c.what << ": " << error.toStdString();
    EXPECT_TRUE(WaitFor([&] { return client.state() == c.state; }, 10000))
        << c.what << ": state " << int(client.state()) << ", " << client.error().toStdString();
    if (c.state == MqttClient::State::Refused) {
      EXPECT_TRUE(client.error().startsWith(QString::fromUtf8(c.message))) << c.what << ": " << client.error().toStdString();
      // Refused stays refused: no attempt in silence later.
      QThread::msleep(MqttClient::ReconnectFirstMs * 3);
      EXPECT_EQ(client.state(), MqttClient::State::Refused) << c.what;
      EXPECT_EQ(client.counters().connects, 0u) << c.what;
    }
  }
}

// The client subscribes to nothing: a broker that sends messages anyway is at fault. The
// connection is dropped with the reason in Czech, and memory stays flat however long the
// broker floods and however often it is tried again.
TEST(MqttClient, ABrokerThatFloodsMessagesIsDroppedAndMemoryStaysFlat) {
  for (const FaultyBroker::Fault fault : {FaultyBroker::FloodQos1, FaultyBroker::FloodQos2}) {
    SCOPED_TRACE(int(fault));
    FaultyBroker broker(fault);
    ASSERT_NE(broker.port(), 0);
    MqttSettings s = SettingsFor(broker.port(), false);
    s.qos = 1;
    MqttClient client(s);
    QString error;
    ASSERT_TRUE(client.start(&error)) << error.toStdString();
    const long before = ResidentKb();
    EXPECT_TRUE(WaitFor([&] { return client.counters().losses > 0; }, 10000));
    EXPECT_TRUE(client.lastLoss().contains(QStringLiteral("chyba brokeru: broker poslal zprávu na téma „t/x“, ačkoli klient nic "
                                                           "neodebírá"))) << client.lastLoss().toStdString();
    QThread::msleep(6000);  // tried again, and flooded again
    EXPECT_LT(ResidentKb() - before, 64 * 1024) << "kB grown while the broker flooded";
    EXPECT_GE(broker.connections(), 2);
    client.stop(0);
  }
}

// TLS against what speaks no TLS: the reason in Czech first, OpenSSL's own words after it.
TEST(MqttClient, TlsAgainstWhatSpeaksNoTlsIsRefusedWithACzechReason) {
  TestBroker plain;
  QString error;
  const bool mosquitto = TestBroker::Available() && plain.start(&error);
  std::vector<std::unique_ptr<FaultyBroker>> faulty;
  std::vector<int> ports;
  for (const FaultyBroker::Fault fault : {FaultyBroker::CloseAtOnce, FaultyBroker::Garbage}) {
    faulty.push_back(std::make_unique<FaultyBroker>(fault));
    ports.push_back(faulty.back()->port());
  }
  if (mosquitto) ports.push_back(plain.port());
  for (const int port : ports) {
    SCOPED_TRACE(port);
    MqttClient client(SettingsFor(port, true));
    ASSERT_TRUE(client.start(&error)) << error.toStdString();
    ASSERT_TRUE(WaitFor([&] { return client.state() == MqttClient::State::Refused; }, 10000)) << client.error().toStdString();
    const QString reason = client.error().section(QStringLiteral("selhalo: "), 1);
    EXPECT_TRUE(client.error().startsWith(QStringLiteral("Spojení TLS s brokerem MQTT selhalo: "))) << client.error().toStdString();
    EXPECT_TRUE(reason.startsWith(QStringLiteral("broker")) || reason.startsWith(QStringLiteral("navázání TLS selhalo")))
        << reason.toStdString();
  }
}

// What the library would refuse with a bare number is refused first, the character named.
TEST(MqttClient, SettingsTheLibraryWouldRefuseAreSaidInCzech) {
  const auto choice = [](auto change) {
    MqttChoice c;
    c.url = QStringLiteral("mqtt://127.0.0.1");
    c.line = QStringLiteral("L1");
    change(c);
    return c;
  };
  const struct {
    MqttChoice choice;
    const char* said;
  } cases[] = {
      {choice([](MqttChoice& c) { c.prefix = QStringLiteral("qx510\adílna"); }), "Předpona témat MQTT obsahuje nedovolený znak U+0007"},
      {choice([](MqttChoice& c) { c.line = QStringLiteral("L") + QChar(0x202E) + QStringLiteral("1"); }), "Název linky obsahuje nedovolený znak U+202E"},
      {choice([](MqttChoice& c) { c.clientId = QString(70000, QLatin1Char('k')); }), "Identifikátor klienta MQTT je delší než 65535 B"},
      {choice([](MqttChoice& c) { c.userName = QStringLiteral("op\x1b[2J"); }), "Uživatelské jméno MQTT obsahuje nedovolený znak U+001B"},
      {choice([](MqttChoice& c) { c.line = QString(QChar(0xFFFF)); }), "Název linky obsahuje znak, který MQTT nedovoluje"},
  };
  for (const auto& c : cases) {
    MqttSettings settings;
    QString line;
    EXPECT_TRUE(MqttSettingsFrom(c.choice, settings, line).startsWith(QString::fromUtf8(c.said)))
        << MqttSettingsFrom(c.choice, settings, line).toStdString();
  }
}

// The broker stopped for ten seconds and started again, without keeping anything: the client
// comes back by itself, sends its presence and the retained messages again, and of what was
// published meanwhile loses only what did not fit its queue, and counts that.
TEST(MqttClient, BrokerAwayLosesOnlyBeyondTheQueueAndSaysSo) {
  if (!TestBroker::Available()) GTEST_SKIP() << "mosquitto is not installed (scripts/install-deps.sh)";
  TestBroker broker;
  QString error;
  ASSERT_TRUE(broker.start(&error)) << error.toStdString();
  TestSubscriber sub(broker.port(), "t/#");
  ASSERT_TRUE(sub.start());
  constexpr int Queue = 50;
  MqttSettings s = SettingsFor(broker, false);
  s.qos = 1;
  s.queueLimit = Queue;
  MqttClient client(s);
  ASSERT_TRUE(client.start(&error)) << error.toStdString();
  client.publish("t/line/1/info", "{\"address\":1}", true);
  int n = 0;
  auto reading = [&] { client.publish("t/line/1/ain0", QByteArray::number(n++)); };
  for (int i = 0; i < 20; ++i) reading();
  ASSERT_TRUE(WaitFor([&] { return client.counters().delivered == 21; }, 10000));
  ASSERT_TRUE(sub.waitFor([](const ReceivedMessage& m) { return m.payload == "19"; }, 5000));

  broker.stop();
  const int firstAway = n;
  QDeadlineTimer away(10000);
  while (!away.hasExpired()) {
    reading();
    QThread::msleep(10);
  }
  const int lastAway = n - 1;
  sub.clear();
  ASSERT_TRUE(broker.start(&error)) << error.toStdString();
  EXPECT_TRUE(WaitFor([&] { return client.counters().connects == 2; }, 20000));
  EXPECT_TRUE(sub.waitFor([](const ReceivedMessage& m) { return m.topic == "t/line/state" && m.payload == "online"; }, 10000));
  EXPECT_TRUE(sub.waitFor([](const ReceivedMessage& m) { return m.topic == "t/line/1/info"; }, 10000));
  ASSERT_TRUE(sub.waitFor([&](const ReceivedMessage& m) { return m.payload == QByteArray::number(lastAway); }, 10000));
  client.stop(5000);

  std::set<int> arrived;
  for (const ReceivedMessage& m : sub.messages())
    if (m.topic == "t/line/1/ain0") arrived.insert(m.payload.toInt());
  int lost = 0;
  for (int i = firstAway; i <= lastAway; ++i) lost += arrived.count(i) == 0;
  // The newest of the time away are what the queue kept.
  for (int i = lastAway - Queue + 1; i <= lastAway; ++i) EXPECT_EQ(arrived.count(i), 1u) << i;
  const MqttClient::Counters c = client.counters();
  EXPECT_GT(lost, 0);
  EXPECT_EQ(uint64_t(lost), c.dropped);
  EXPECT_EQ(c.published, c.delivered + c.dropped);
  EXPECT_TRUE(sub.waitFor([](const ReceivedMessage& m) { return m.topic == "t/line/state" && m.payload == "offline"; }, 5000));
}

}  // namespace
