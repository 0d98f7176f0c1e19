#include "mqtt/mqtt_messages.h"

#include <mosquitto.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#include "base/exchange/commands.h"
#include "base/exchange/exchange_trace.h"
#include "base/exchange/identify.h"
#include "base/text/plain_text.h"
#include "mqtt/mqtt_client.h"

namespace {

QByteArray Compact(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QString TimeText(int64_t ms) { return ExchangeTimeText(ms * 1000000); }

const char* Leaf(MqttSource source) {
  switch (source) {
    case MqttSource::Ain0: return "ain0";
    case MqttSource::Din: return "din";
    case MqttSource::Status: return "status";
  }
  return "?";
}

QJsonObject SourceJson(const MqttSourceReading& r) {
  if (r.status != 0)
    return {{QStringLiteral("quality"), QString::fromLatin1(MqttQuality(r.outcome))},
            {QStringLiteral("code"), qint64(r.status)},
            {QStringLiteral("error"), r.error}};
  QJsonObject o{{QStringLiteral("quality"), QStringLiteral("good")}};
  if (r.source == MqttSource::Ain0) {
    // The digits the module sent, no binary noise beyond them.
    o.insert(QStringLiteral("value"), QString::number(r.value, 'f', std::clamp(r.decimals, 0, 18)).toDouble());
    o.insert(QStringLiteral("unit"), r.current ? QStringLiteral("mA") : QStringLiteral("V"));
    return o;
  }
  static const QStringList names = StatusBitNames();
  QJsonArray on;
  for (int n = 0; n < 32; ++n) {
    if (!(r.bits >> n & 1u)) continue;
    if (r.source == MqttSource::Din)
      on.append(n);
    else
      on.append(names[n] == QLatin1String("---") ? QStringLiteral("bit%1").arg(n) : names[n]);
  }
  o.insert(QStringLiteral("value"), qint64(r.bits));
  o.insert(QStringLiteral("on"), on);
  return o;
}

bool ValidLevel(const QString& level) {
  return !level.isEmpty() && !level.contains(QLatin1Char('+')) && !level.contains(QLatin1Char('#')) &&
         !level.contains(QChar(u'\0'));
}

// MQTT's strings are at most 65535 bytes of UTF-8; a topic holds the prefix, the line and
// "/255-115200/status" at most after them.
constexpr qsizetype MaxMqttStringBytes = 65535;
constexpr qsizetype TopicTailBytes = 20;

QString TooLong(const QString& label, const QString& text, qsizetype most) {
  return text.toUtf8().size() > most ? QStringLiteral("%1 je delší než %2 B (UTF-8).").arg(label).arg(most) : QString();
}

// The id, the user name and the topic's levels, before the library sees them: it would refuse
// them with a number and no word.
QString TextsProblem(const MqttChoice& choice, const QString& line) {
  const struct {
    const char* label;
    const QString& text;
    qsizetype most;
  } texts[] = {
      {"Identifikátor klienta MQTT", choice.clientId, MaxMqttStringBytes},
      {"Uživatelské jméno MQTT", choice.userName, MaxMqttStringBytes},
      {"Předpona témat MQTT", choice.prefix, MaxMqttStringBytes - TopicTailBytes},
      {"Název linky", line, MaxMqttStringBytes - TopicTailBytes},
  };
  for (const auto& t : texts) {
    const QString label = QString::fromUtf8(t.label);
    // A control or formatting character in a text the broker and the plant's tools will show.
    if (const std::string e = UnsafeTextProblem(t.label, t.text.toStdString()); !e.empty()) return QString::fromStdString(e);
    if (QString e = TooLong(label, t.text, t.most); !e.isEmpty()) return e;
    // What else MQTT refuses in a string (a non-character such as U+FFFF).
    const QByteArray utf8 = t.text.toUtf8();
    if (mosquitto_validate_utf8(utf8.constData(), int(utf8.size())) != MOSQ_ERR_SUCCESS)
      return QStringLiteral("%1 obsahuje znak, který MQTT nedovoluje.").arg(label);
  }
  return TooLong(QStringLiteral("Téma MQTT (předpona a název linky)"), choice.prefix + line, MaxMqttStringBytes - TopicTailBytes);
}

}  // namespace

QByteArray MqttQuality(ExchangeOutcome outcome) {
  switch (outcome) {
    case ExchangeOutcome::Good: return "good";
    case ExchangeOutcome::Timeout: return "no_answer";
    case ExchangeOutcome::Late: return "late";
    case ExchangeOutcome::Damaged: return "damaged";
    case ExchangeOutcome::Refused: return "refused";
    case ExchangeOutcome::Other: break;
  }
  return "failed";
}

QString CheckMqttPrefix(const QString& prefix) {
  const QStringList levels = prefix.split(QLatin1Char('/'));
  bool ok = !prefix.startsWith(QLatin1Char('$'));
  for (const QString& level : levels) ok = ok && ValidLevel(level);
  return ok ? QString()
            : QStringLiteral("Předpona témat MQTT: úrovně oddělené lomítkem, bez prázdné úrovně, bez + a # a bez $ na "
                             "začátku: %1")
                  .arg(prefix);
}

QString CheckMqttLineName(const QString& line) {
  return ValidLevel(line) && !line.contains(QLatin1Char('/')) && !line.startsWith(QLatin1Char('$'))
             ? QString()
             : QStringLiteral("Název linky: jedna úroveň tématu MQTT, bez lomítka, + a #: %1").arg(line);
}

QString MqttDefaultLineName() {
  QString name = QSysInfo::machineHostName();
  for (QChar& ch : name)
    if (ch == QLatin1Char('/') || ch == QLatin1Char('+') || ch == QLatin1Char('#') || ch == QLatin1Char('$')) ch = u'_';
  return name.isEmpty() ? QStringLiteral("linka") : name;
}

QString MqttSettingsFrom(const MqttChoice& choice, MqttSettings& s, QString& line) {
  if (const QString e = ParseMqttUrl(choice.url, s.url); !e.isEmpty()) return e + QLatin1Char('.');
  line = choice.line.isEmpty() ? MqttDefaultLineName() : choice.line;
  if (const QString e = TextsProblem(choice, line); !e.isEmpty()) return e;
  if (const QString e = CheckMqttPrefix(choice.prefix); !e.isEmpty()) return e;
  if (const QString e = CheckMqttLineName(line); !e.isEmpty()) return e;
  s.qos = choice.qos;
  s.queueLimit = choice.queueLimit;
  s.clientId = choice.clientId;
  s.userName = choice.userName;
  s.caFile = choice.caFile;
  s.certFile = choice.certFile;
  s.keyFile = choice.keyFile;
  if (!s.url.tls && (!s.caFile.isEmpty() || !s.certFile.isEmpty() || !s.keyFile.isEmpty()))
    return QStringLiteral("Soubory TLS (CA, certifikát a klíč klienta) patří k adrese mqtts://.");
  if (s.certFile.isEmpty() != s.keyFile.isEmpty())
    return QStringLiteral("Certifikát klienta a jeho klíč se zadávají spolu.");
  if (const QString e = LoadMqttPassword(choice.passwordFile, s.password); !e.isEmpty()) return e;
  if (!s.password.isNull() && s.userName.isEmpty())
    return QStringLiteral("Heslo MQTT bez uživatelského jména nelze použít.");
  if (s.password.size() > MaxMqttStringBytes)
    return QStringLiteral("Heslo MQTT je delší než %1 B.").arg(MaxMqttStringBytes);
  s.presenceTopic = MqttLinePublisher::PresenceTopic(choice.prefix, line);
  return {};
}

MqttLinePublisher::MqttLinePublisher(MqttClient& client, const QString& prefix, const QString& line, int heartbeatMs)
    : client_(client), base_((prefix + QLatin1Char('/') + line + QLatin1Char('/')).toUtf8()), heartbeatMs_(heartbeatMs) {}

QByteArray MqttLinePublisher::PresenceTopic(const QString& prefix, const QString& line) {
  return (prefix + QLatin1Char('/') + line + QStringLiteral("/state")).toUtf8();
}

QByteArray MqttModuleLevel(int address, int rate, bool addressShared) {
  return addressShared ? QByteArray::number(address) + '-' + QByteArray::number(rate) : QByteArray::number(address);
}

namespace {
template <class T>
QByteArray LevelOf(const T& module) {
  return module.level.isEmpty() ? QByteArray::number(module.address) : module.level;
}
}  // namespace

QByteArray MqttLinePublisher::topic(const QByteArray& level, const char* leaf) const {
  return base_ + level + '/' + leaf;
}

void MqttLinePublisher::describe(const MqttModuleInfo& info) {
  const qsizetype at = info.ident.lastIndexOf(QLatin1String(" v."));
  QJsonObject o{{QStringLiteral("address"), info.address},
                {QStringLiteral("rate"), info.rate},
                {QStringLiteral("ident"), QString(info.ident).remove(QChar(u'\0'))},
                {QStringLiteral("module"), ModuleTypeName(info.ident)},
                {QStringLiteral("version"), at >= 0 ? info.ident.mid(at + 3).remove(QChar(u'\0')).trimmed() : QString()}};
  if (info.current) o.insert(QStringLiteral("range"), *info.current ? QStringLiteral("0-20mA") : QStringLiteral("0-10V"));
  const QByteArray payload = Compact(o);
  const QByteArray level = LevelOf(info);
  QByteArray& last = infos_[level];
  if (last == payload) return;
  last = payload;
  client_.publish(topic(level, "info"), payload, true);
}

void MqttLinePublisher::publish(const MqttPoll& poll) {
  const QByteArray level = LevelOf(poll);
  const MqttSourceReading* failed = nullptr;
  for (const MqttSourceReading& r : poll.sources) {
    if (r.status != 0 && failed == nullptr) failed = &r;
    QJsonObject o = SourceJson(r);
    const QByteArray t = topic(level, Leaf(r.source));
    const QByteArray content = Compact(o);
    Last& last = last_[t];
    if (heartbeatMs_ > 0 && last.timeMs != 0 && last.content == content && poll.timeMs - last.timeMs < heartbeatMs_)
      continue;
    last.content = content;
    last.timeMs = poll.timeMs;
    o.insert(QStringLiteral("time"), TimeText(poll.timeMs));
    client_.publish(t, Compact(o));
  }
  ModuleState& s = states_[level];
  const bool answers = failed == nullptr;
  const QByteArray quality = answers ? QByteArray() : MqttQuality(failed->outcome);
  const QByteArray error = answers ? QByteArray() : failed->error.toUtf8();
  // A silent module whose failure changes its kind is news; the same failure again is not.
  if (s.known && s.answers == answers && s.quality == quality && s.error == error) return;
  // Silent still, for another reason: the spell's start stays.
  const bool sameSpell = s.known && s.answers == answers;
  s = {true, answers, quality, error};
  QJsonObject o{{QStringLiteral("state"), answers ? QStringLiteral("answers") : QStringLiteral("silent")}};
  if (!sameSpell) spellStart_[level] = poll.timeMs;
  o.insert(QStringLiteral("since"), TimeText(spellStart_.value(level, poll.timeMs)));
  if (!answers) {
    o.insert(QStringLiteral("quality"), QString::fromLatin1(quality));
    o.insert(QStringLiteral("code"), qint64(failed->status));
    o.insert(QStringLiteral("error"), failed->error);
  }
  client_.publish(topic(level, "state"), Compact(o), true);
}

void MqttLinePublisher::publishStats(const QByteArray& statsJson, int64_t timeMs) {
  QJsonObject o{{QStringLiteral("time"), TimeText(timeMs)},
                {QStringLiteral("exchanges"), QJsonDocument::fromJson(statsJson).object()}};
  const MqttClient::Counters c = client_.counters();
  o.insert(QStringLiteral("mqtt"), QJsonObject{{QStringLiteral("published"), qint64(c.published)},
                                               {QStringLiteral("delivered"), qint64(c.delivered)},
                                               {QStringLiteral("queued"), qint64(c.queued)},
                                               {QStringLiteral("dropped"), qint64(c.dropped)}});
  client_.publish(base_ + "stats", Compact(o));
}
