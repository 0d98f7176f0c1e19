#pragma once
// The topic tree and the JSON payloads a line publishes; the handbook's schema (docs/mqtt.md) is this file's.
// Every payload is one JSON object in UTF-8, numbers as JSON numbers; the line's presence is
// the bare word `online` or `offline`. Times are ISO 8601 with the offset from UTC.
//
//   PREFIX/LINE/state            online | offline      retained; `offline` is also the last will
//   PREFIX/LINE/stats            {"time","exchanges":{...},"mqtt":{...}}, every stats period; below
//   PREFIX/LINE/ADDRESS/info     {"address","rate","module","version","ident","range"}   retained
//   PREFIX/LINE/ADDRESS/state    {"state":"answers"|"silent","since", and when silent
//                                 "quality","code","error"}                                retained
//   PREFIX/LINE/ADDRESS/ain0     {"time","quality":"good","value","unit":"V"|"mA"}
//   PREFIX/LINE/ADDRESS/din      {"time","quality":"good","value","on":[input numbers]}
//   PREFIX/LINE/ADDRESS/status   {"time","quality":"good","value","on":[bit names]}
//   a reading that failed:       {"time","quality":"no_answer"|"late"|"damaged"|"refused"|"failed",
//                                 "code","error"}
//
// ADDRESS is the module's bus address in decimal; where a line holds modules of one address at
// several rates, each of them is ADDRESS-RATE (5-9600), so that no topic mixes two modules. A reading is published when its value or
// quality changes, and again after the heartbeat when it does not.
//
// stats: `exchanges` counts the line's exchanges, each one request to a module and what came of
// it (ExchangeStats::json, the outcome by ClassifyExchangeStatus):
//   exchanges   all of them
//   good        answered
//   timeouts    no answer within the response timeout
//   late        no answer in time, but an earlier request's answer came meanwhile
//   damaged     an answer came that failed its checks
//   refused     the module answered with one of its own refusals of the request
//   other       the driver failed otherwise (handle, port, socket, parameters)
//   median_ms, p95_ms, max_ms   round trips of the exchanges the module answered (good and
//               refused), the median and 95th percentile within 1.6 %; left out while none was
//   since       the workbench only: when these counts began, its last "Připojit"
// They count from the connection: the workbench starts them anew at each "Připojit" and counts
// every exchange of its line but a scan's tries, which mostly meet no module and are no
// failures of the polling; the companion's watch, which connects once and never scans, counts
// every exchange from its start. `mqtt`, since publishing started:
//   published   messages handed to the client, `stats` itself not yet among them
//   delivered   written to the broker (QoS 0) or acknowledged by it (QoS 1)
//   queued      waiting now
//   dropped     lost: pushed out of a full queue, or unsent when a connection broke

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>
#include <cstdint>
#include <optional>

#include "base/exchange/exchange_observer.h"

class MqttClient;
struct MqttSettings;

// What a user chooses for publishing, as the companion's options and the workbench's pane
// give it; numbers already checked by whoever read them.
struct MqttChoice {
  QString url, clientId, userName, passwordFile, caFile, certFile, keyFile;
  QString prefix = QStringLiteral("qx510");
  QString line;  // empty: the host name
  int qos = 0;
  int queueLimit = 10000;
};
// The client's settings from a choice, the password read; the Czech message of the first
// thing that does not fit, or an empty text. `line` gets the line name in use.
QString MqttSettingsFrom(const MqttChoice& choice, MqttSettings& settings, QString& line);

enum class MqttSource : uint8_t { Ain0, Din, Status };

// One source of one poll: the value, or why there is none.
struct MqttSourceReading {
  MqttSource source = MqttSource::Ain0;
  uint32_t status = 0;  // 0: read; else the driver's status
  ExchangeOutcome outcome = ExchangeOutcome::Good;
  QString error;        // the status's text
  double value = 0;     // ain0, in the unit below
  int decimals = 0;
  bool current = false;  // ain0 in mA (the input's current range), else V
  uint32_t bits = 0;     // din, status
};

// One poll of one module: the sources in the order read.
struct MqttPoll {
  uint8_t address = 0;
  QByteArray level;  // the module's topic level (MqttModuleLevel); empty: the address
  int64_t timeMs = 0;  // ms since the epoch
  QVector<MqttSourceReading> sources;
};

// What the module said of itself.
struct MqttModuleInfo {
  uint8_t address = 0;
  int rate = 0;                 // Bd
  QByteArray level;             // as in MqttPoll
  QString ident;                // as the module sent it
  std::optional<bool> current;  // the input's range, when it was read
};

// A module's topic level: its address, or ADDRESS-RATE where the line holds its address at
// several rates.
QByteArray MqttModuleLevel(int address, int rate, bool addressShared);

// "no_answer" ... for the payloads.
QByteArray MqttQuality(ExchangeOutcome outcome);
// A prefix: topic levels without wildcards, not beginning with '$'; a line name: one such level.
// The Czech message for one that is not, or an empty text.
QString CheckMqttPrefix(const QString& prefix);
QString CheckMqttLineName(const QString& line);
// The host name as a topic level: characters a topic level cannot hold become '_'.
QString MqttDefaultLineName();

// Publishes a line's polls through a client: readings on change with a heartbeat, the
// module's state when it changes, its description when it changes. Not thread-safe: one
// poller calls it.
class MqttLinePublisher {
 public:
  // heartbeatMs 0: every reading is published.
  MqttLinePublisher(MqttClient& client, const QString& prefix, const QString& line, int heartbeatMs);
  static QByteArray PresenceTopic(const QString& prefix, const QString& line);

  void describe(const MqttModuleInfo& info);
  void publish(const MqttPoll& poll);
  // statsJson: ExchangeStats::json() of the line so far.
  void publishStats(const QByteArray& statsJson, int64_t timeMs);

 private:
  struct Last {
    QByteArray content;  // the payload but its time
    int64_t timeMs = 0;
  };
  struct ModuleState {
    bool known = false, answers = false;
    QByteArray quality, error;
  };
  QByteArray topic(const QByteArray& level, const char* leaf) const;
  MqttClient& client_;
  QByteArray base_;  // PREFIX/LINE/
  int heartbeatMs_;
  QHash<QByteArray, Last> last_;
  // By topic level.
  QHash<QByteArray, ModuleState> states_;
  QHash<QByteArray, int64_t> spellStart_;  // when the module began to answer, or to be silent
  QHash<QByteArray, QByteArray> infos_;
};
