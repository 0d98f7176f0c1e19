#include "tests/mqtt/test_broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <cstdio>

namespace {

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

QString Broker() {
  const QStringList sbin = {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")};
  QString found = QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
  return found.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("mosquitto"), sbin) : found;
}

}  // namespace

TestBroker::TestBroker(QString extraConfig) : extra_(std::move(extraConfig)) {}

TestBroker::~TestBroker() { stop(); }

bool TestBroker::Available() { return !Broker().isEmpty(); }

QString TestBroker::url(const char* scheme) const { return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port_); }

QByteArray TestBroker::log() const {
  QFile f(dir_.filePath(QStringLiteral("broker.log")));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool TestBroker::start(QString* error) {
  if (port_ == 0) port_ = FreePort();
  const QString conf = dir_.filePath(QStringLiteral("broker.conf"));
  QFile f(conf);
  if (!f.open(QIODevice::WriteOnly)) {
    if (error) *error = QStringLiteral("cannot write ") + conf;
    return false;
  }
  // Started by root, the broker would become the user `mosquitto`, who cannot read the test's files.
  const passwd* me = ::getpwuid(::getuid());
  QString text = QStringLiteral("persistence false\nlog_dest stderr\nuser %1\nlistener %2 127.0.0.1\n")
                     .arg(QString::fromLocal8Bit(me != nullptr ? me->pw_name : "root"))
                     .arg(port_);
  text += extra_.isEmpty() ? QStringLiteral("allow_anonymous true\n") : extra_ + QLatin1Char('\n');
  f.write(text.toUtf8());
  f.close();
  process_.setStandardErrorFile(dir_.filePath(QStringLiteral("broker.log")), QIODevice::Append);
  process_.setStandardOutputFile(dir_.filePath(QStringLiteral("broker.log")), QIODevice::Append);
  process_.start(Broker(), {QStringLiteral("-c"), conf});
  if (!process_.waitForStarted(5000)) {
    if (error) *error = QStringLiteral("mosquitto did not start");
    return false;
  }
  const QDeadlineTimer deadline(10000);
  while (!deadline.hasExpired()) {
    if (Accepts(port_)) return true;
    if (process_.state() != QProcess::Running) break;
    QThread::msleep(20);
  }
  if (error) *error = QStringLiteral("mosquitto takes no connections: ") + QString::fromUtf8(log());
  return false;
}

void TestBroker::stop() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();  // its own PID, nothing else
  if (!process_.waitForFinished(5000)) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

TestSubscriber::TestSubscriber(int port, QByteArray topic, QString caFile)
    : port_(port), topic_(std::move(topic)), ca_(std::move(caFile)) {}

TestSubscriber::~TestSubscriber() {
  if (mosq_ == nullptr) return;
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, true);
  mosquitto_destroy(mosq_);
}

bool TestSubscriber::start() {
  mosquitto_lib_init();
  mosq_ = mosquitto_new(nullptr, true, this);
  if (mosq_ == nullptr) return false;
  mosquitto_connect_callback_set(mosq_, &TestSubscriber::OnConnect);
  mosquitto_message_callback_set(mosq_, &TestSubscriber::OnMessage);
  // Set here: the library holds its callback lock while a callback runs.
  mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* me, int, int, const int*) {
    auto* t = static_cast<TestSubscriber*>(me);
    std::lock_guard lock(t->mutex_);
    t->subscribed_ = true;
  });
  mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
  if (!ca_.isEmpty() && mosquitto_tls_set(mosq_, ca_.toLocal8Bit().constData(), nullptr, nullptr, nullptr, nullptr) != 0)
    return false;
  if (mosquitto_connect(mosq_, "127.0.0.1", port_, 30) != MOSQ_ERR_SUCCESS) return false;
  if (mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS) return false;
  // Subscribed once the first message about it could arrive: wait for the broker's answer.
  const QDeadlineTimer deadline(5000);
  while (!deadline.hasExpired()) {
    {
      std::lock_guard lock(mutex_);
      if (subscribed_) return true;
    }
    QThread::msleep(10);
  }
  return false;
}

void TestSubscriber::OnConnect(mosquitto* m, void* self, int rc) {
  auto* s = static_cast<TestSubscriber*>(self);
  if (rc != 0) return;
  mosquitto_subscribe(m, nullptr, s->topic_.constData(), 1);
}

void TestSubscriber::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto* s = static_cast<TestSubscriber*>(self);
  std::lock_guard lock(s->mutex_);
  s->messages_.append({QByteArray(message->topic),
                       QByteArray(static_cast<const char*>(message->payload), message->payloadlen), message->retain});
}

QList<ReceivedMessage> TestSubscriber::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

void TestSubscriber::clear() {
  std::lock_guard lock(mutex_);
  messages_.clear();
}

bool TestSubscriber::waitFor(const std::function<bool(const ReceivedMessage&)>& match, int timeoutMs) const {
  const QDeadlineTimer deadline(timeoutMs);
  do {
    for (const ReceivedMessage& m : messages())
      if (match(m)) return true;
    QThread::msleep(20);
  } while (!deadline.hasExpired());
  return false;
}

void TestSubscriber::publish(const QByteArray& topic, const QByteArray& payload, bool retain) {
  mosquitto_publish(mosq_, nullptr, topic.constData(), int(payload.size()), payload.constData(), 1, retain);
}

bool TestCertificates::make(const QString& dir, QString* error) {
  const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
  if (openssl.isEmpty()) {
    *error = QStringLiteral("openssl is not installed");
    return false;
  }
  auto at = [&dir](const char* name) { return dir + QLatin1Char('/') + QLatin1String(name); };
  ca = at("ca.crt");
  serverCert = at("server.crt");
  serverKey = at("server.key");
  otherCa = at("other.crt");
  QFile ext(at("ext.cnf"));
  if (!ext.open(QIODevice::WriteOnly) || ext.write("subjectAltName=IP:127.0.0.1\n") < 0) return false;
  ext.close();
  const QStringList ec = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                          QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
  const QList<QStringList> steps = {
      QStringList{"req", "-x509"} + ec + QStringList{"-keyout", at("ca.key"), "-out", ca, "-days", "2", "-subj", "/CN=qx510 test CA"},
      QStringList{"req"} + ec + QStringList{"-keyout", serverKey, "-out", at("server.csr"), "-subj", "/CN=127.0.0.1"},
      QStringList{"x509", "-req", "-in", at("server.csr"), "-CA", ca, "-CAkey", at("ca.key"), "-CAcreateserial", "-out",
                  serverCert, "-days", "2", "-extfile", at("ext.cnf")},
      QStringList{"req", "-x509"} + ec + QStringList{"-keyout", at("other.key"), "-out", otherCa, "-days", "2", "-subj", "/CN=qx510 other CA"},
  };
  for (const QStringList& step : steps) {
    QProcess p;
    p.start(openssl, step);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
      *error = QStringLiteral("openssl %1 failed: %2").arg(step.join(' '), QString::fromUtf8(p.readAllStandardError()));
      return false;
    }
  }
  return true;
}

bool RefusingBrokers::start(const QString& dir, QString* error) {
  const QString passwords = dir + QStringLiteral("/passwords");
  QProcess passwd;
  passwd.start(QStandardPaths::findExecutable(QStringLiteral("mosquitto_passwd")),
               {QStringLiteral("-c"), QStringLiteral("-b"), passwords, QLatin1String(User), QLatin1String(Password)});
  if (!passwd.waitForFinished(10000) || passwd.exitCode() != 0) {
    *error = QStringLiteral("mosquitto_passwd failed: ") + QString::fromUtf8(passwd.readAllStandardError());
    return false;
  }
  login = std::make_unique<TestBroker>(QStringLiteral("allow_anonymous false\npassword_file %1").arg(passwords));
  if (!login->start(error)) return false;
  QString why;
  if (!certificates.make(dir, &why)) {
    std::fprintf(stderr, "TLS cases skipped: %s\n", qPrintable(why));
    return true;
  }
  tls = std::make_unique<TestBroker>(QStringLiteral("allow_anonymous true\ncafile %1\ncertfile %2\nkeyfile %3")
                                         .arg(certificates.ca, certificates.serverCert, certificates.serverKey));
  return tls->start(error);
}

FaultyBroker::FaultyBroker(Fault fault) : fault_(fault) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(listener_, 8) == 0 &&
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) == 0)
    port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      ++connections_;
      serve(client);
      ::close(client);
    }
  });
}

FaultyBroker::~FaultyBroker() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

void FaultyBroker::serve(int client) {
  if (fault_ == CloseAtOnce) return;
  if (fault_ == Garbage) {
    static const char text[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
    [[maybe_unused]] const ssize_t n = ::send(client, text, sizeof text - 1, MSG_NOSIGNAL);
    QThread::msleep(200);
    return;
  }
  // The client's CONNECT, whatever it holds, then (but for Silent) the broker's yes.
  char buffer[4096];
  pollfd p{client, POLLIN, 0};
  if (::poll(&p, 1, 5000) <= 0 || ::recv(client, buffer, sizeof buffer, 0) <= 0) return;
  if (fault_ == Silent) {
    while (!stop_)
      if (::poll(&p, 1, 50) > 0 && ::recv(client, buffer, sizeof buffer, 0) <= 0) return;  // the client went
    return;
  }
  static const char connack[] = {0x20, 0x02, 0x00, 0x00};
  if (::send(client, connack, sizeof connack, MSG_NOSIGNAL) != sizeof connack) return;
  // PUBLISH, topic "t/x", a packet id, 100 bytes of payload: 2 + 3 + 2 + 100 bytes after the
  // fixed header, at the QoS of the fault, until the client goes.
  const timeval wait{0, 100000};
  ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  QByteArray packet(2 + 2 + 3 + 2 + 100, 'p');
  packet[0] = char(fault_ == FloodQos1 ? 0x32 : 0x34);
  packet[1] = char(packet.size() - 2);
  packet.replace(2, 5, QByteArray("\x00\x03t/x", 5));
  for (uint16_t id = 1; !stop_; id = uint16_t(id % 65535 + 1)) {
    packet[7] = char(id >> 8);
    packet[8] = char(id & 0xFF);
    const ssize_t n = ::send(client, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return;
    while (::recv(client, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
  }
}

long ResidentKb() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').front().toLong();
  return -1;
}
