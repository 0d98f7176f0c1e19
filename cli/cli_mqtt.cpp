#include "cli/cli_mqtt.h"

#include "base/text/czech_plural.h"
#include "cli/cli_context.h"
#include "mqtt/mqtt_client.h"

const QStringList MqttWatchOptions = {
    QStringLiteral("mqtt="),          QStringLiteral("mqtt-client-id="), QStringLiteral("mqtt-prefix="),
    QStringLiteral("mqtt-line="),     QStringLiteral("mqtt-ca="),        QStringLiteral("mqtt-cert="),
    QStringLiteral("mqtt-key="),      QStringLiteral("mqtt-user="),      QStringLiteral("mqtt-password-file="),
    QStringLiteral("mqtt-qos="),      QStringLiteral("mqtt-heartbeat="), QStringLiteral("mqtt-stats="),
    QStringLiteral("mqtt-queue=")};

const QString MqttWatchHelp = QStringLiteral(
    "Publikování na broker MQTT (jen ven: nic, co přijde od brokeru, modul neovládá):\n"
    "  --mqtt URL                 mqtt://POČÍTAČ[:PORT] (výchozí port 1883) nebo mqtts://POČÍTAČ[:PORT] (TLS, 8883)\n"
    "  --mqtt-client-id ID        identifikátor klienta (výchozí qx510-POČÍTAČ-PID)\n"
    "  --mqtt-prefix PŘEDPONA     první úrovně témat (výchozí qx510)\n"
    "  --mqtt-line NÁZEV          název linky v tématech (výchozí název počítače)\n"
    "  --mqtt-ca SOUBOR           certifikát CA brokeru (výchozí certifikáty systému)\n"
    "  --mqtt-cert SOUBOR         certifikát klienta; --mqtt-key SOUBOR jeho klíč\n"
    "  --mqtt-user JMÉNO          uživatelské jméno\n"
    "  --mqtt-password-file SOUBOR  heslo (první řádek souboru); jinak z proměnné QX510_MQTT_PASSWORD,\n"
    "                             nikdy z příkazové řádky\n"
    "  --mqtt-qos 0|1             úroveň doručení (výchozí 0)\n"
    "  --mqtt-heartbeat S         nezměněné čtení znovu po S sekundách (výchozí 60; 0 každé čtení)\n"
    "  --mqtt-stats S             statistika výměn linky každých S sekund (výchozí 60; 0 nikdy)\n"
    "  --mqtt-queue N             nejvýše N zpráv čeká, než se broker vrátí; starší se zahodí a sečtou\n"
    "                             (výchozí 10000)\n"
    "Odmítne-li broker přihlášení nebo certifikát, sledování skončí se stavem 3; nepřevezme-li broker žádnou\n"
    "zprávu, skončí se stavem 4. Když broker zmizí a když se vrátí, řekne to řádek na chybovém výstupu.\n"
    "Broker, který klientovi posílá zprávy (klient nic neodebírá), je vadný: spojení se ukončí s důvodem\n"
    "a zkusí se znovu.");

namespace {

bool Seconds(const CliContext& c, const char* name, int64_t fallbackS, int64_t& ms) {
  qint64 s = fallbackS;
  if (c.args.has(QLatin1String(name)) && !ParseNumber(c.args.value(QLatin1String(name)), 0, 86400, s)) return false;
  ms = s * 1000;
  return true;
}

}  // namespace

WatchPublisher::WatchPublisher() = default;
WatchPublisher::~WatchPublisher() = default;

bool WatchPublisher::Wanted(const CliContext& c) { return c.args.has(QStringLiteral("mqtt")); }

int WatchPublisher::start(CliContext& c) {
  auto value = [&c](const char* name) { return c.args.value(QLatin1String(name)); };
  MqttChoice choice;
  choice.url = value("mqtt");
  if (c.args.has(QStringLiteral("mqtt-prefix"))) choice.prefix = value("mqtt-prefix");
  choice.line = value("mqtt-line");
  if (c.args.has(QStringLiteral("mqtt-line")) && choice.line.isEmpty())
    return c.fail(ExitUsage, CheckMqttLineName(choice.line));
  choice.clientId = value("mqtt-client-id");
  choice.userName = value("mqtt-user");
  choice.passwordFile = value("mqtt-password-file");
  choice.caFile = value("mqtt-ca");
  choice.certFile = value("mqtt-cert");
  choice.keyFile = value("mqtt-key");
  qint64 qos = 0, queue = 10000;
  if (c.args.has(QStringLiteral("mqtt-qos")) && !ParseNumber(value("mqtt-qos"), 0, 1, qos))
    return c.fail(ExitUsage, QStringLiteral("Úroveň doručení MQTT musí být 0 nebo 1."));
  if (c.args.has(QStringLiteral("mqtt-queue")) && !ParseNumber(value("mqtt-queue"), 1, 10000000, queue))
    return c.fail(ExitUsage, QStringLiteral("Délka fronty MQTT musí být v rozsahu 1–10000000 zpráv."));
  int64_t heartbeatMs = 0;
  if (!Seconds(c, "mqtt-heartbeat", 60, heartbeatMs) || !Seconds(c, "mqtt-stats", 60, statsPeriodMs_))
    return c.fail(ExitUsage, QStringLiteral("Periody MQTT jsou v sekundách, 0-86400."));
  choice.qos = int(qos);
  choice.queueLimit = int(queue);
  MqttSettings s;
  QString line;
  if (const QString e = MqttSettingsFrom(choice, s, line); !e.isEmpty()) return c.fail(ExitUsage, e);
  client_ = std::make_unique<MqttClient>(s);
  QString error;
  if (!client_->start(&error)) return c.fail(ExitUsage, error);
  lines_ = std::make_unique<MqttLinePublisher>(*client_, choice.prefix, line, int(heartbeatMs));
  statsDueMs_ = 0;
  broker_ = QStringLiteral("%1:%2").arg(s.url.host).arg(s.url.port);
  return ExitOk;
}

void WatchPublisher::followBroker(CliContext& c) {
  const MqttClient::State state = client_->state();
  const MqttClient::Counters n = client_->counters();
  if (n.losses > lossesSaid_) {
    lossesSaid_ = n.losses;
    awaySaid_ = true;
    c.say(client_->lastLoss() + QStringLiteral("; zprávy čekají ve frontě."));
  } else if (!awaySaid_ && n.connects == 0 && state == MqttClient::State::Away) {
    awaySaid_ = true;
    c.say(client_->error() + QStringLiteral("; zprávy čekají ve frontě."));
  }
  if (awaySaid_ && state == MqttClient::State::Connected) {
    awaySaid_ = false;
    c.say(QStringLiteral("Broker MQTT %1 opět dostupný (ve frontě %2).")
              .arg(broker_, CzechCount(qint64(n.queued), "zpráva", "zprávy", "zpráv")));
  }
}

void WatchPublisher::tick(CliContext& c, int64_t nowMs) {
  if (statsPeriodMs_ <= 0) return;
  if (statsDueMs_ == 0) statsDueMs_ = nowMs + statsPeriodMs_;
  if (nowMs < statsDueMs_) return;
  statsDueMs_ = nowMs + statsPeriodMs_;
  lines_->publishStats(c.lineStats().json(), nowMs);
}

int WatchPublisher::refusal(CliContext& c) {
  if (client_->state() != MqttClient::State::Refused) return ExitOk;
  if (!refusalSaid_) c.say(client_->error());
  refusalSaid_ = true;
  return ExitConnection;
}

bool WatchPublisher::finish(CliContext& c) {
  constexpr int FlushMs = 3000;
  const bool away = client_->state() != MqttClient::State::Connected;
  // What the broker was last said to have done: an error of a connection that never came.
  const QString why = client_->error().isEmpty() ? client_->lastLoss() : client_->error();
  client_->stop(away ? 0 : FlushMs);
  if (refusal(c) != ExitOk) return true;
  const MqttClient::Counters n = client_->counters();
  const QString reason = away && !why.isEmpty() ? why : QStringLiteral("broker nestačil nebo byl nedostupný");
  const bool nothing = n.published != 0 && n.delivered == 0;
  if (nothing)
    c.say(QStringLiteral("MQTT: broker nepřevzal žádnou z %1 (%2).")
              .arg(CzechCount(qint64(n.published), "zprávy", "zpráv", "zpráv"), reason));
  else if (n.dropped != 0 || away)
    c.say(QStringLiteral("MQTT: %1 %2 z %3 (%4).")
              .arg(CzechPlural(qint64(n.dropped), "zahozena", "zahozeny", "zahozeno"))
              .arg(n.dropped)
              .arg(CzechCount(qint64(n.published), "zprávy", "zpráv", "zpráv"))
              .arg(reason));
  if (c.args.has(QStringLiteral("stats")))
    c.say(c.json() ? QStringLiteral("{\"mqtt\":{\"published\":%1,\"delivered\":%2,\"queued\":%3,\"dropped\":%4,\"connects\":%5}}")
                         .arg(n.published).arg(n.delivered).arg(n.queued).arg(n.dropped).arg(n.connects)
                   : QStringLiteral("MQTT: zpráv vydáno %1, doručeno %2, ve frontě %3, zahozeno %4, spojení %5")
                         .arg(n.published).arg(n.delivered).arg(n.queued).arg(n.dropped).arg(n.connects));
  return !nothing;
}
