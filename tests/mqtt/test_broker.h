#pragma once
// A real broker for the tests (the Debian `mosquitto` program) on a free port of 127.0.0.1,
// with a configuration file of the test's own, and a subscriber of the test's own.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct mosquitto;

class TestBroker {
 public:
  // extraConfig: lines for the listener (TLS, password file); the port is chosen here.
  explicit TestBroker(QString extraConfig = {});
  ~TestBroker();
  // Whether the mosquitto program is installed; a test without it skips.
  static bool Available();
  // Starts the broker and waits until it takes connections; false and why when it does not.
  bool start(QString* error = nullptr);
  // Stops exactly the broker this object started, and waits for it.
  void stop();
  int port() const { return port_; }
  QString url(const char* scheme = "mqtt") const;
  QString filePath(const QString& name) const { return dir_.filePath(name); }
  QByteArray log() const;

 private:
  QTemporaryDir dir_;
  QString extra_;
  int port_ = 0;
  QProcess process_;
};

struct ReceivedMessage {
  QByteArray topic, payload;
  bool retained = false;
};

// Subscribes to `topic` (wildcards allowed) and keeps what arrives; reconnects by itself.
class TestSubscriber {
 public:
  TestSubscriber(int port, QByteArray topic, QString caFile = {});
  ~TestSubscriber();
  bool start();
  QList<ReceivedMessage> messages() const;
  // Waits until a message fulfils `match` (looking at all kept so far) or timeoutMs passes.
  bool waitFor(const std::function<bool(const ReceivedMessage&)>& match, int timeoutMs) const;
  // Publishes as a client of its own would (for hostile messages).
  void publish(const QByteArray& topic, const QByteArray& payload, bool retain = false);
  void clear();

 private:
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnMessage(mosquitto*, void* self, const struct mosquitto_message* message);
  int port_;
  QByteArray topic_;
  QString ca_;
  mosquitto* mosq_ = nullptr;
  mutable std::mutex mutex_;
  QList<ReceivedMessage> messages_;
  bool subscribed_ = false;
};

// The files of one TLS set-up: a CA, a server certificate for 127.0.0.1
// signed by it, and a second CA that signed nothing. Made with the openssl program.
struct TestCertificates {
  QString ca, serverCert, serverKey, otherCa;
  // False when openssl is missing or failed; why in *error.
  bool make(const QString& dir, QString* error);
};

// The brokers a refusal needs: one that lets in only User with Password, and one that speaks
// TLS only, with the server certificate of `certificates` (none when openssl is missing).
struct RefusingBrokers {
  static constexpr char User[] = "operator";
  static constexpr char Password[] = "s3cret";
  std::unique_ptr<TestBroker> login, tls;
  TestCertificates certificates;
  // Files go to `dir`. False and why when a broker that can run does not.
  bool start(const QString& dir, QString* error);
};

// A broker of the test's own on a free port of 127.0.0.1 that breaks the protocol as told,
// for every connection it gets, until it is destroyed.
class FaultyBroker {
 public:
  enum Fault {
    FloodQos1,   // accepts the login, then sends PUBLISH at QoS 1 without end
    FloodQos2,   // the same at QoS 2, never releasing one (no PUBREL)
    Silent,      // takes the connection and never answers
    CloseAtOnce, // closes every connection as soon as it comes
    Garbage,     // answers with text that is no protocol of the client's
  };
  explicit FaultyBroker(Fault fault);
  ~FaultyBroker();
  int port() const { return port_; }
  int connections() const { return connections_; }

 private:
  void serve(int client);
  Fault fault_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// The process's resident memory in kB (VmRSS of /proc/self/status).
long ResidentKb();
