#pragma once

#include <QHash>
#include <QSet>
#include <QVector>
#include <QWidget>
#include <memory>

#include "base/exchange/exchange_trace.h"
#include "line/common/line_types.h"

class MqttClient;
class MqttLinePublisher;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

// "Publikování MQTT": the broker and the topics, kept per user, and what the publishing does.
// The window hands it every poll and every exchange record; it only queues messages, so the
// polling never waits for the broker. Read-only: nothing received drives a module.
class MqttPanel : public QWidget {
  Q_OBJECT
 public:
  explicit MqttPanel(QWidget* parent = nullptr);
  ~MqttPanel() override;

  void setModules(const QVector<LineModule>& modules);
  // The line's name in the topics, as the overview sets it (WorkbenchLineName at first).
  void setLineName(const QString& name);
  void publish(const QVector<ModuleReading>& readings);
  // An exchange of the polling or of the operator's work; a scan's tries are none of them.
  void addExchange(const ExchangeRecord& record) { stats_.add(record); }
  // The statistics start anew (a new connection): the next `stats` counts from now.
  void resetStatistics();
  const ExchangeStats& statistics() const { return stats_; }
  bool publishing() const { return client_ != nullptr; }
  // One line for the status bar.
  QString summary() const;

 public slots:
  // Takes the settings from the fields, keeps them for the user and connects; false (and the
  // reason shown) when they do not fit.
  bool startPublishing();
  void stopPublishing();

 signals:
  void stateChanged();

 private:
  void restoreSettings();
  void keepSettings();
  void refresh();
  void showFailure(const QString& text);
  void showTopics();

  QLineEdit *url_, *clientId_, *prefix_, *user_, *passwordFile_, *ca_, *cert_, *key_;
  QLabel* topics_;
  QString lineName_;
  QComboBox* qos_;
  QSpinBox *heartbeat_, *statsPeriod_, *queue_;
  QPushButton *start_, *stop_;
  QLabel* state_;
  QTimer* timer_;

  std::unique_ptr<MqttClient> client_;
  std::unique_ptr<MqttLinePublisher> lines_;
  QHash<int, LineModule> modules_;  // by ModuleKey, for their descriptions
  // Addresses the line holds at more than one rate: their topics name the rate too.
  QSet<int> sharedAddresses_;
  ExchangeStats stats_;
  qint64 statsSinceMs_;  // when stats_ began: the connection's start
  qint64 statsDueMs_ = 0;
  QString failure_;  // why publishing stopped or did not start, until the next start
  QString summary_;
};
