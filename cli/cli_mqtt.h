#pragma once
// watch --mqtt: what a watch reads, published to the plant's broker (mqtt/mqtt_messages.h).

#include <QString>
#include <QStringList>
#include <memory>

#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_messages.h"

struct CliContext;
class MqttClient;

// The options watch takes for it, and their help.
extern const QStringList MqttWatchOptions;
extern const QString MqttWatchHelp;

class WatchPublisher {
 public:
  WatchPublisher();
  ~WatchPublisher();
  // Whether the command line asks for publishing.
  static bool Wanted(const CliContext& c);
  // Reads the options and starts the client; ExitOk, or the exit status once the reason is said.
  int start(CliContext& c);
  void describe(const MqttModuleInfo& info) { lines_->describe(info); }
  void publish(const MqttPoll& poll) { lines_->publish(poll); }
  // The line's statistics, when their period is over.
  void tick(CliContext& c, int64_t nowMs);
  // The broker refused the login or the certificate: said, and ExitConnection; else ExitOk.
  int refusal(CliContext& c);
  // One line on standard error when the broker goes away (or was never there) and one when it
  // is back, so that an outage is known while it lasts.
  void followBroker(CliContext& c);
  // Sends what is queued (for a while), says goodbye, and with --stats says what was sent.
  // False when messages were published and the broker took none of them (said).
  bool finish(CliContext& c);

 private:
  std::unique_ptr<MqttClient> client_;
  std::unique_ptr<MqttLinePublisher> lines_;
  int64_t statsPeriodMs_ = 0;
  int64_t statsDueMs_ = 0;
  bool refusalSaid_ = false;
  bool awaySaid_ = false;
  uint64_t lossesSaid_ = 0;
  QString broker_;  // host:port, for the messages
};
