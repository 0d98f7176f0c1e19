#include "mqtt/mqtt_client.h"

#include <linux/tcp.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSysInfo>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "base/files/checked_file.h"
#include "base/text/errno_text.h"
#include "base/text/plain_text.h"

namespace {

// Messages handed to the library and not yet delivered. Beyond this they wait in our own
// queue, which is bounded and counted; the library's is neither.
constexpr int Window = 64;
// A broker that took the connection but has not answered the login in this time is tried again.
constexpr int LoginWaitMs = 10000;
// The retained `offline` of a clean stop gets this long to leave.
constexpr int GoodbyeMs = 1000;
// A broker answers what the client sends (acknowledgements, pings) and sends nothing of its
// own: beyond what the client sent and this much for the TLS handshake, whatever comes is a
// fault, and the library would keep it.
constexpr uint64_t InboundAllowanceBytes = 1 << 20;
// A password file's first line, a certificate or a key: far below these.
constexpr qint64 MaxPasswordFileBytes = 64 << 10;
constexpr qint64 MaxTlsFileBytes = 16 << 20;

using Clock = std::chrono::steady_clock;

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

QString RefusalText(int rc) {
  switch (rc) {
    case 1: return QStringLiteral("Broker MQTT nepodporuje verzi protokolu 3.1.1.");
    case 2: return QStringLiteral("Broker MQTT odmítl identifikátor klienta.");
    case 4: return QStringLiteral("Broker MQTT odmítl přihlášení: chybné uživatelské jméno nebo heslo.");
    case 5: return QStringLiteral("Broker MQTT odmítl přihlášení: klient nemá oprávnění.");
    default: return QStringLiteral("Broker MQTT odmítl spojení (kód %1).").arg(rc);
  }
}

// The library's texts are English; the operator reads Czech, the library's code after it for
// whoever digs deeper. Reads errno for MOSQ_ERR_ERRNO, so it comes right after the call that
// failed.
QString LibraryErrorText(int rc) {
  QString text;
  switch (rc) {
    case MOSQ_ERR_ERRNO: text = QString::fromStdString(CzechErrnoText(errno)); break;
    case MOSQ_ERR_NOMEM: text = QStringLiteral("nedostatek paměti"); break;
    case MOSQ_ERR_PROTOCOL:
    case MOSQ_ERR_MALFORMED_PACKET:
    case MOSQ_ERR_DUPLICATE_PROPERTY:
    case MOSQ_ERR_TOPIC_ALIAS_INVALID: text = QStringLiteral("broker poslal, čemu klient nerozumí"); break;
    case MOSQ_ERR_INVAL: text = QStringLiteral("neplatné nastavení"); break;
    case MOSQ_ERR_NO_CONN: text = QStringLiteral("bez spojení"); break;
    case MOSQ_ERR_CONN_REFUSED: text = QStringLiteral("broker spojení odmítl"); break;
    case MOSQ_ERR_NOT_FOUND: text = QStringLiteral("nenalezeno"); break;
    case MOSQ_ERR_CONN_LOST: text = QStringLiteral("spojení se přerušilo"); break;
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE: text = QStringLiteral("chyba TLS"); break;
    case MOSQ_ERR_PAYLOAD_SIZE:
    case MOSQ_ERR_OVERSIZE_PACKET: text = QStringLiteral("zpráva je pro brokera příliš velká"); break;
    case MOSQ_ERR_NOT_SUPPORTED:
    case MOSQ_ERR_QOS_NOT_SUPPORTED:
    case MOSQ_ERR_RETAIN_NOT_SUPPORTED: text = QStringLiteral("broker nebo knihovna to nepodporuje"); break;
    case MOSQ_ERR_AUTH:
    case MOSQ_ERR_ACL_DENIED: text = QStringLiteral("broker to nedovolil"); break;
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_LOOKUP: text = QStringLiteral("název počítače nelze přeložit na adresu"); break;
    case MOSQ_ERR_PROXY: text = QStringLiteral("chyba proxy"); break;
    case MOSQ_ERR_MALFORMED_UTF8: text = QStringLiteral("text není platné UTF-8 nebo obsahuje řídicí znak"); break;
    case MOSQ_ERR_KEEPALIVE: text = QStringLiteral("broker přestal odpovídat"); break;
    case MOSQ_ERR_OCSP: text = QStringLiteral("stav certifikátu brokeru (OCSP) nelze ověřit"); break;
    case MOSQ_ERR_TIMEOUT: text = QStringLiteral("vypršel čas"); break;
    case MOSQ_ERR_ADMINISTRATIVE_ACTION: text = QStringLiteral("správce brokeru spojení ukončil"); break;
    case MOSQ_ERR_ALREADY_EXISTS: text = QStringLiteral("už existuje"); break;
    default: text = QStringLiteral("neznámá chyba knihovny MQTT"); break;
  }
  return text + QStringLiteral(" (kód %1)").arg(rc);
}

// What OpenSSL's complaint means for the operator; its own words follow for whoever digs deeper.
QString TlsReason(const QString& openssl) {
  static const struct {
    const char* says;
    const char* means;
  } known[] = {
      {"certificate verify failed", "certifikát brokeru nelze ověřit certifikátem CA (jiná CA, nebo certifikát nepatří "
                                    "tomuto jménu či adrese)"},
      {"certificate required", "broker vyžaduje certifikát klienta"},
      {"bad certificate", "broker odmítl certifikát klienta"},
      {"unknown ca", "broker nezná CA certifikátu klienta"},
      {"certificate expired", "certifikát vypršel"},
      {"wrong version number", "broker na tomto portu nemluví TLS"},
      {"packet length too long", "broker na tomto portu nemluví TLS"},
      {"record layer failure", "broker na tomto portu nemluví TLS"},
      {"unexpected eof", "broker ukončil spojení uprostřed navazování TLS (na tomto portu nemluví TLS, nebo odmítl "
                         "klienta)"},
      {"no certificates", "soubor CA neobsahuje žádný certifikát"},
      {"key values mismatch", "klíč klienta nepatří k jeho certifikátu"},
  };
  for (const auto& k : known)
    if (openssl.contains(QLatin1String(k.says), Qt::CaseInsensitive))
      return QString::fromUtf8(k.means) + QStringLiteral(" (") + openssl + QLatin1Char(')');
  return openssl.isEmpty() ? QStringLiteral("certifikát, klíč nebo CA nelze použít")
                           : QStringLiteral("navázání TLS selhalo (") + openssl + QLatin1Char(')');
}

// A TLS file as OpenSSL will read it: a regular file within its limit, so that a FIFO there
// never blocks the connection.
bool Readable(const QString& path, const QString& what, QString* error) {
  QByteArray bytes;
  QString why;
  if (path.isEmpty() || ReadFileChecked(path, MaxTlsFileBytes, &bytes, &why)) return true;
  *error = QStringLiteral("%1 %2 nelze číst: %3.").arg(what, path, why);
  return false;
}

// The system's CA folder, as OpenSSL finds it (SSL_CERT_DIR overrides it there too).
QByteArray SystemCaFolder() {
  const QByteArray fromEnvironment = qgetenv(X509_get_default_cert_dir_env());
  return fromEnvironment.isEmpty() ? QByteArray(X509_get_default_cert_dir()) : fromEnvironment;
}

// What the broker has sent on the connection and what it was sent, in bytes; false when the
// system does not say.
bool TrafficOf(int fd, uint64_t& received, uint64_t& sent) {
  tcp_info info{};
  socklen_t size = sizeof info;
  if (fd < 0 || ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
      size < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
    return false;
  received = info.tcpi_bytes_received;
  sent = info.tcpi_bytes_acked;
  return true;
}

}  // namespace

QString ParseMqttUrl(const QString& text, MqttUrl& url) {
  const QUrl parsed(text.trimmed(), QUrl::StrictMode);
  const QString scheme = parsed.scheme().toLower();
  const QString bad = QStringLiteral("Adresa brokeru musí mít tvar mqtt://POČÍTAČ[:PORT] nebo mqtts://POČÍTAČ[:PORT]: %1")
                          .arg(QString::fromStdString(ShownText(text.toStdString())));
  if (!parsed.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
      parsed.host().isEmpty() || !parsed.userInfo().isEmpty() || (!parsed.path().isEmpty() && parsed.path() != QLatin1String("/")) ||
      parsed.hasQuery() || parsed.hasFragment())
    return bad;
  url.tls = scheme == QLatin1String("mqtts");
  url.host = parsed.host();
  url.port = parsed.port(url.tls ? 8883 : 1883);
  if (url.port < 1 || url.port > 65535) return bad;
  return {};
}

QString LoadMqttPassword(const QString& file, QByteArray& password) {
  password = QByteArray();
  if (file.isEmpty()) {
    if (const char* env = std::getenv(MqttPasswordEnv)) password = QByteArray(env);
    return {};
  }
  QByteArray text;
  QString why;
  if (!ReadFileChecked(file, MaxPasswordFileBytes, &text, &why))
    return QStringLiteral("Soubor s heslem %1 nelze číst: %2.").arg(file, why);
  password = text.left(text.indexOf('\n') < 0 ? text.size() : text.indexOf('\n'));
  if (password.endsWith('\r')) password.chop(1);
  if (password.isNull()) password = QByteArray("");  // an empty file: an empty password
  return {};
}

MqttClient::MqttClient(MqttSettings settings) : settings_(std::move(settings)) {}

MqttClient::~MqttClient() {
  stop(0);
  if (mosq_ != nullptr) mosquitto_destroy(mosq_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool MqttClient::start(QString* error) {
  InitLibrary();
  QString why;
  if (settings_.url.tls && (!Readable(settings_.caFile, QStringLiteral("Soubor CA"), &why) ||
                            !Readable(settings_.certFile, QStringLiteral("Certifikát klienta"), &why) ||
                            !Readable(settings_.keyFile, QStringLiteral("Klíč klienta"), &why))) {
    *error = why;
    return false;
  }
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    *error = QStringLiteral("Klienta MQTT nelze vytvořit: %1.").arg(QString::fromStdString(CzechErrnoText(errno)));
    return false;
  }
  if (const QString failed = configure(); !failed.isEmpty()) {
    *error = failed;
    return false;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

QString MqttClient::configure() {
  if (mosq_ != nullptr) mosquitto_destroy(mosq_);
  QString id = settings_.clientId;
  if (id.isEmpty()) id = QStringLiteral("qx510-%1-%2").arg(QSysInfo::machineHostName()).arg(::getpid());
  mosq_ = mosquitto_new(id.toUtf8().constData(), true, this);
  if (mosq_ == nullptr)
    return QStringLiteral("Klienta MQTT nelze vytvořit: identifikátor klienta „%1“ knihovna nepřijala, nebo chybí paměť.")
        .arg(QString::fromStdString(ShownText(id.toStdString())));
  mosquitto_connect_callback_set(mosq_, &MqttClient::OnConnect);
  mosquitto_publish_callback_set(mosq_, &MqttClient::OnPublish);
  mosquitto_message_callback_set(mosq_, &MqttClient::OnMessage);
  mosquitto_log_callback_set(mosq_, &MqttClient::OnLog);
  int rc = MOSQ_ERR_SUCCESS;
  if (!settings_.userName.isEmpty())
    rc = mosquitto_username_pw_set(mosq_, settings_.userName.toUtf8().constData(),
                                   settings_.password.isNull() ? nullptr : settings_.password.constData());
  static const char offline[] = "offline";
  if (rc == MOSQ_ERR_SUCCESS && !settings_.presenceTopic.isEmpty())
    rc = mosquitto_will_set(mosq_, settings_.presenceTopic.constData(), int(sizeof offline - 1), offline, settings_.qos, true);
  if (rc == MOSQ_ERR_SUCCESS && settings_.url.tls) {
    const QByteArray ca = settings_.caFile.toLocal8Bit(), cert = settings_.certFile.toLocal8Bit(),
                     key = settings_.keyFile.toLocal8Bit();
    // Without a CA file the system's CAs: the library takes the system's store only on top of
    // a CA file or folder, so the system's folder is that folder.
    const QByteArray folder = ca.isEmpty() ? SystemCaFolder() : QByteArray();
    if (ca.isEmpty()) mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    rc = mosquitto_tls_set(mosq_, ca.isEmpty() ? nullptr : ca.constData(), folder.isEmpty() ? nullptr : folder.constData(),
                           cert.isEmpty() ? nullptr : cert.constData(), key.isEmpty() ? nullptr : key.constData(), nullptr);
  }
  if (rc != MOSQ_ERR_SUCCESS) return QStringLiteral("Klienta MQTT nelze nastavit: %1.").arg(LibraryErrorText(rc));
  return {};
}

void MqttClient::publish(const QByteArray& topic, const QByteArray& payload, bool retain) {
  {
    std::lock_guard lock(mutex_);
    if (state_ == State::Refused || state_ == State::Stopped) {
      ++counters_.published;
      ++counters_.dropped;
      return;
    }
    ++counters_.published;
    if (retain) retained_[topic] = Message{topic, payload, true};
    if (int(queue_.size()) >= std::max(1, settings_.queueLimit)) {
      queue_.pop_front();
      ++counters_.dropped;
    }
    queue_.push_back(Message{topic, payload, retain});
  }
  wake();
}

void MqttClient::stop(int waitMs) {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    flushWaitMs_ = std::max(0, waitMs);
  }
  stopping_ = true;
  wake();
  thread_.join();
  std::lock_guard lock(mutex_);
  counters_.dropped += queue_.size() + inFlight_.size();
  queue_.clear();
  inFlight_.clear();
  if (state_ != State::Refused) state_ = State::Stopped;
}

QString MqttClient::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

QString MqttClient::lastLoss() const {
  std::lock_guard lock(mutex_);
  return lastLoss_;
}

MqttClient::Counters MqttClient::counters() const {
  std::lock_guard lock(mutex_);
  Counters c = counters_;
  c.queued = queue_.size();
  return c;
}

void MqttClient::setState(State state) { state_ = state; }

void MqttClient::wake() {
  const uint64_t one = 1;
  if (wakeFd_ < 0) return;
  // A full counter already wakes the thread: a failed write loses nothing.
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void MqttClient::waitMs(int ms) {
  pollfd fd{wakeFd_, POLLIN, 0};
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (!stopping_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return;
    if (::poll(&fd, 1, int(left)) > 0) {
      uint64_t n = 0;
      [[maybe_unused]] const ssize_t r = ::read(wakeFd_, &n, sizeof n);  // publish() woke us: keep waiting
    }
  }
}

void MqttClient::refuse(const QString& why) {
  {
    std::lock_guard lock(mutex_);
    error_ = why;
  }
  setState(State::Refused);
}

void MqttClient::run() {
  int pauseMs = ReconnectFirstMs;
  while (!stopping_ && state_ != State::Refused) {
    setState(State::Connecting);
    if (connectOnce()) {
      serve();
      // A broker at fault is tried again after a growing pause too, with a client of its own:
      // whatever the library kept of the broker's messages goes with the old one.
      if (accepted_ && !brokerFault_) pauseMs = ReconnectFirstMs;
      if (brokerFault_) {
        brokerFault_ = false;
        {
          // What the old client held unacknowledged goes with it.
          std::lock_guard lock(mutex_);
          counters_.dropped += inFlight_.size();
          inFlight_.clear();
        }
        if (const QString failed = configure(); !failed.isEmpty()) {
          refuse(failed);
          break;
        }
      }
    }
    if (stopping_ || state_ == State::Refused) break;
    setState(State::Away);
    waitMs(pauseMs);
    pauseMs = std::min(pauseMs * 2, ReconnectMaxMs);
  }
  if (mosq_ != nullptr && accepted_ && !brokerFault_) mosquitto_disconnect(mosq_);
}

bool MqttClient::connectOnce() {
  {
    std::lock_guard lock(mutex_);
    tlsError_.clear();
  }
  accepted_ = false;
  const int rc = mosquitto_connect_async(mosq_, settings_.url.host.toUtf8().constData(), settings_.url.port, settings_.keepAliveS);
  if (rc == MOSQ_ERR_SUCCESS) return true;
  lose(LibraryErrorText(rc), rc);
  return false;
}

void MqttClient::lose(const QString& why, int rc) {
  QString tls;
  {
    std::lock_guard lock(mutex_);
    tls = tlsError_;
    // What the library held unsent of QoS 0 goes with the connection; QoS 1 it sends again.
    if (settings_.qos == 0) {
      counters_.dropped += inFlight_.size();
      inFlight_.clear();
    }
  }
  // A TLS handshake that failed before the login: the certificate does not fit, and trying
  // again will not make it fit.
  if (!accepted_ && (!tls.isEmpty() || rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE)) {
    refuse(QStringLiteral("Spojení TLS s brokerem MQTT selhalo: %1").arg(TlsReason(tls)));
    return;
  }
  std::lock_guard lock(mutex_);
  error_ = (brokerFault_ ? QStringLiteral("Broker MQTT %1:%2: %3") : QStringLiteral("Broker MQTT %1:%2 nedostupný: %3"))
               .arg(settings_.url.host)
               .arg(settings_.url.port)
               .arg(why);
  if (accepted_) {
    ++counters_.losses;
    lastLoss_ = error_;
  }
}

void MqttClient::serve() {
  const auto started = Clock::now();
  std::optional<Clock::time_point> flushEnd, goodbyeEnd;
  while (true) {
    if (state_ == State::Refused) return;
    if (stopping_ && accepted_ && !flushEnd) {
      std::lock_guard lock(mutex_);
      flushEnd = Clock::now() + std::chrono::milliseconds(flushWaitMs_);
    }
    if (stopping_ && !accepted_) return;
    if (accepted_) drainQueue();
    if (flushEnd && !goodbyeEnd) {
      bool empty;
      {
        std::lock_guard lock(mutex_);
        empty = queue_.empty() && inFlight_.empty();
      }
      if (empty || Clock::now() >= *flushEnd) {
        static const char offline[] = "offline";
        mosquitto_publish(mosq_, nullptr, settings_.presenceTopic.constData(), int(sizeof offline - 1), offline,
                          settings_.qos, true);
        goodbyeEnd = Clock::now() + std::chrono::milliseconds(GoodbyeMs);
      }
    }
    if (goodbyeEnd && (!mosquitto_want_write(mosq_) || Clock::now() >= *goodbyeEnd)) return;
    if (!accepted_ && Clock::now() - started > std::chrono::milliseconds(LoginWaitMs)) {
      lose(QStringLiteral("broker neodpověděl na přihlášení"));
      return;
    }
    pollfd fds[2] = {{mosquitto_socket(mosq_), short(POLLIN | (mosquitto_want_write(mosq_) ? POLLOUT : 0)), 0},
                     {wakeFd_, POLLIN, 0}};
    if (fds[0].fd < 0) {
      lose(QStringLiteral("spojení zavřeno"));
      return;
    }
    ::poll(fds, 2, goodbyeEnd || flushEnd ? 20 : 1000);
    if (fds[1].revents & POLLIN) {
      uint64_t n = 0;
      [[maybe_unused]] const ssize_t r = ::read(wakeFd_, &n, sizeof n);
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      // More than the client's own traffic calls for: the library would keep it all.
      uint64_t received = 0, sent = 0;
      if (TrafficOf(fds[0].fd, received, sent) && received > sent + InboundAllowanceBytes) {
        faultOfBroker(QStringLiteral("broker poslal %1 B, víc, než kolik si provoz klienta žádá").arg(received));
        return;
      }
      rc = mosquitto_loop_read(mosq_, 1);
      if (brokerFault_) {
        faultOfBroker(QString());
        return;
      }
    }
    if (rc == MOSQ_ERR_SUCCESS && (fds[0].revents & POLLOUT)) rc = mosquitto_loop_write(mosq_, 1);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(mosq_);
    if (state_ == State::Refused) return;
    if (rc != MOSQ_ERR_SUCCESS) {
      if (goodbyeEnd) return;
      lose(LibraryErrorText(rc), rc);
      return;
    }
  }
}

void MqttClient::drainQueue() {
  while (true) {
    Message m;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty() || int(inFlight_.size()) >= Window) return;
      m = std::move(queue_.front());
      queue_.pop_front();
    }
    int mid = 0;
    {
      std::lock_guard lock(mutex_);
      publishingMid_ = -1;
      deliveredAtOnce_ = false;
    }
    const int rc = mosquitto_publish(mosq_, &mid, m.topic.constData(), int(m.payload.size()), m.payload.constData(),
                                     settings_.qos, m.retain);
    std::lock_guard lock(mutex_);
    if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_NOMEM) {
      queue_.push_front(std::move(m));  // the connection is going; the next one sends it
      return;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
      // The library will never take this one (a topic or payload it refuses): counted, not
      // offered again and again.
      ++counters_.dropped;
      error_ = QStringLiteral("Zprávu na téma %1 nelze odeslat: %2")
                   .arg(QString::fromStdString(ShownText(m.topic.toStdString())), LibraryErrorText(rc));
      continue;
    }
    // A QoS 0 message may leave inside the call, before its id is known here.
    if (deliveredAtOnce_ && publishingMid_ == mid)
      ++counters_.delivered;
    else
      inFlight_.insert(mid);
  }
}

void MqttClient::resendRetained() {
  static const char online[] = "online";
  mosquitto_publish(mosq_, nullptr, settings_.presenceTopic.constData(), int(sizeof online - 1), online, settings_.qos, true);
  std::vector<Message> again;
  {
    std::lock_guard lock(mutex_);
    if (counters_.connects <= 1) return;  // the first connection sends them from the queue
    for (const auto& [topic, m] : retained_) again.push_back(m);
  }
  for (const Message& m : again)
    mosquitto_publish(mosq_, nullptr, m.topic.constData(), int(m.payload.size()), m.payload.constData(), settings_.qos, true);
}

void MqttClient::OnConnect(mosquitto*, void* self, int rc) {
  auto* c = static_cast<MqttClient*>(self);
  if (rc == 3) return;  // the broker is unavailable for now: tried again after the pause
  if (rc != 0) {
    c->refuse(RefusalText(rc));
    return;
  }
  c->accepted_ = true;
  {
    std::lock_guard lock(c->mutex_);
    ++c->counters_.connects;
    c->error_.clear();
  }
  c->resendRetained();
  c->setState(State::Connected);
}

void MqttClient::OnPublish(mosquitto*, void* self, int mid) {
  auto* c = static_cast<MqttClient*>(self);
  std::lock_guard lock(c->mutex_);
  if (c->inFlight_.erase(mid) != 0) {
    ++c->counters_.delivered;
  } else {
    c->publishingMid_ = mid;
    c->deliveredAtOnce_ = true;
  }
}

void MqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto* c = static_cast<MqttClient*>(self);
  c->noteInbound(message != nullptr && message->topic != nullptr ? QByteArray(message->topic) : QByteArray());
}

void MqttClient::OnLog(mosquitto*, void* self, int level, const char* text) {
  if (text == nullptr) return;
  auto* c = static_cast<MqttClient*>(self);
  // A message the broker sends at QoS 2 reaches the message callback only once the broker
  // releases it, which a faulty broker never does; the library says at once that it came.
  if (level == MOSQ_LOG_DEBUG && std::strstr(text, " received PUBLISH ") != nullptr) {
    const char* topic = std::strchr(text, '\'');
    const char* topicEnd = topic != nullptr ? std::strstr(topic + 1, "', ...") : nullptr;
    c->noteInbound(topicEnd != nullptr ? QByteArray(topic + 1, int(topicEnd - topic - 1)) : QByteArray());
    return;
  }
  if (level != MOSQ_LOG_ERR || std::strncmp(text, "OpenSSL Error", 13) != 0) return;
  std::lock_guard lock(c->mutex_);
  if (c->tlsError_.isEmpty()) c->tlsError_ = QString::fromUtf8(text);
}

void MqttClient::noteInbound(const QByteArray& topic) {
  std::lock_guard lock(mutex_);
  if (!brokerFault_) inboundTopic_ = topic;
  brokerFault_ = true;
}

void MqttClient::faultOfBroker(QString why) {
  brokerFault_ = true;
  QByteArray topic;
  {
    std::lock_guard lock(mutex_);
    topic = inboundTopic_;
  }
  if (why.isEmpty())
    why = QStringLiteral("broker poslal zprávu%1, ačkoli klient nic neodebírá").arg(
        topic.isEmpty() ? QString() : QStringLiteral(" na téma „%1“").arg(QString::fromStdString(ShownText(topic.toStdString()))));
  lose(QStringLiteral("chyba brokeru: %1; spojení ukončeno").arg(why));
}
