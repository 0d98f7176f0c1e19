#pragma once
// One connection to the plant's MQTT broker, over libmosquitto's C API, on a thread of its
// own: publish() only queues and returns, so whoever polls the line never waits for the
// broker. Read-only by construction: the client subscribes to nothing and handles no message
// it might receive.
//
// Presence: every connection sets a retained last will `offline` on the presence topic and,
// once the broker accepts it, publishes a retained `online` there; a clean stop publishes a
// retained `offline` itself (a broker sends the will only when a connection is lost).
//
// While the broker is away the client reconnects with a growing pause (ReconnectFirstMs
// doubling up to ReconnectMaxMs) and keeps what is to be sent in a queue of at most
// queueLimit messages; past that the oldest is dropped and counted. After every (re)connect
// the retained messages (presence, and the last of each retained topic) are sent again,
// for a broker that restarted without keeping them. A broker that refuses the login or the
// certificate is not tried again: the client stops and says why (state Refused).
//
// A broker sends the client nothing but answers: any message it sends (the client subscribes
// to nothing), or more bytes than the client's own traffic calls for, is the broker's fault.
// The connection is then dropped with the reason in error(), whatever the library kept of it
// goes with a client of its own, and the broker is tried again after the growing pause; so
// no broker can grow the program's memory.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <mutex>
#include <set>
#include <thread>

struct mosquitto;

// mqtt://host[:port] (1883) or mqtts://host[:port] (8883); an IPv6 address in brackets.
struct MqttUrl {
  bool tls = false;
  QString host;
  int port = 1883;
};
// The Czech message for a URL that is none of these, or an empty text.
QString ParseMqttUrl(const QString& text, MqttUrl& url);

// The password never travels on a command line (`ps` shows it): the first line of `file`, or
// when no file is named the environment variable QX510_MQTT_PASSWORD (null when unset). The
// Czech message for a file that cannot be read, or an empty text.
constexpr char MqttPasswordEnv[] = "QX510_MQTT_PASSWORD";
QString LoadMqttPassword(const QString& file, QByteArray& password);

struct MqttSettings {
  MqttUrl url;
  QString clientId;   // empty: one the broker does not know yet (qx510-HOST-PID)
  QString userName;   // empty: no login
  QByteArray password;
  QString caFile, certFile, keyFile;  // mqtts: CA (empty: the system's), client certificate and key
  int qos = 0;        // 0 or 1
  int keepAliveS = 30;
  int queueLimit = 10000;
  QByteArray presenceTopic;  // where `online` and the will `offline` go
};

class MqttClient {
 public:
  enum class State { Connecting, Connected, Away, Refused, Stopped };
  struct Counters {
    uint64_t published = 0;  // messages handed to publish()
    uint64_t delivered = 0;  // written to the broker (QoS 0) or acknowledged by it (QoS 1)
    uint64_t dropped = 0;    // lost: pushed out of a full queue, or unsent when a connection broke
    uint64_t queued = 0;     // waiting now
    uint64_t connects = 0;   // connections the broker accepted
    uint64_t losses = 0;     // of those, lost (the broker went away or was at fault)
  };
  static constexpr int ReconnectFirstMs = 500;
  static constexpr int ReconnectMaxMs = 8000;

  explicit MqttClient(MqttSettings settings);
  ~MqttClient();  // stop(0) unless stopped
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Checks the settings (TLS files readable) and starts the network thread; false and the
  // Czech reason when it cannot start.
  bool start(QString* error);

  // Queues one message; a retained one is also kept to be sent again after a reconnect.
  void publish(const QByteArray& topic, const QByteArray& payload, bool retain = false);
  // Sends what is queued for at most waitMs, publishes the retained `offline` and
  // disconnects; what was left unsent is counted as dropped.
  void stop(int waitMs);

  State state() const { return state_.load(); }
  // Czech: why the broker refused (Refused), or what the last connection attempt met.
  QString error() const;
  // Why the last accepted connection was lost; empty while none was.
  QString lastLoss() const;
  Counters counters() const;

 private:
  struct Message {
    QByteArray topic, payload;
    bool retain = false;
  };
  void run();
  // A fresh library client with the settings; the Czech reason when it cannot be made.
  QString configure();
  bool connectOnce();
  void serve();
  void drainQueue();
  void resendRetained();
  // rc: the library's code when it said why, else MOSQ_ERR_SUCCESS.
  void lose(const QString& why, int rc = 0);
  void setState(State state);
  void wake();
  void waitMs(int ms);
  void refuse(const QString& why);
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnMessage(mosquitto*, void* self, const struct mosquitto_message* message);
  static void OnLog(mosquitto*, void* self, int level, const char* text);
  void noteInbound(const QByteArray& topic);
  // Ends the connection for the broker's fault; an empty `why`: it sent a message.
  void faultOfBroker(QString why);

  const MqttSettings settings_;
  mosquitto* mosq_ = nullptr;
  std::thread thread_;
  int wakeFd_ = -1;
  std::atomic<State> state_{State::Connecting};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> accepted_{false};  // the broker's CONNACK said yes on this connection
  std::atomic<bool> brokerFault_{false};  // the broker sent what it must not on this connection

  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  std::deque<Message> queue_;
  std::map<QByteArray, Message> retained_;
  Counters counters_;
  QString error_;
  QString tlsError_;  // the first OpenSSL complaint of this attempt, from the library's log
  QByteArray inboundTopic_;  // the topic of the first message the broker sent
  QString lastLoss_;
  int flushWaitMs_ = 0;
  std::set<int> inFlight_;  // handed to the library, not yet delivered
  int publishingMid_ = -1;  // delivered while mosquitto_publish() ran (QoS 0 leaves at once)
  bool deliveredAtOnce_ = false;
};
