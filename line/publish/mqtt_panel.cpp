#include "line/publish/mqtt_panel.h"

#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "base/text/czech_plural.h"
#include "base/exchange/exchange_trace.h"
#include "line/common/elided_label.h"
#include "line/common/workbench_settings.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_messages.h"

namespace {

QLineEdit* Field(QWidget* parent, const char* name, const QString& placeholder = {}) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setPlaceholderText(placeholder);
  return edit;
}

QSpinBox* Seconds(QWidget* parent, const char* name, int value, const QString& zero) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(QLatin1String(name));
  box->setRange(0, 86400);
  box->setSuffix(QStringLiteral(" s"));
  box->setSpecialValueText(zero);
  box->setValue(value);
  return box;
}

// The poll as the topic tree takes it: a poll stops at its first failing exchange, so a
// failed one gives each source that failure.
MqttPoll PollOf(const ModuleReading& r, const QByteArray& level) {
  MqttPoll poll;
  poll.address = r.address;
  poll.level = level;
  poll.timeMs = r.timeMs;
  for (MqttSource source : {MqttSource::Ain0, MqttSource::Din, MqttSource::Status}) {
    MqttSourceReading s;
    s.source = source;
    if (!r.ok) {
      s.status = r.status;
      s.outcome = r.outcome;
      s.error = r.error;
    } else if (source == MqttSource::Ain0) {
      s.value = r.ain0;
      s.decimals = r.decimals;
      s.current = r.current;
    } else {
      s.bits = source == MqttSource::Din ? r.din : r.statusRegister;
    }
    poll.sources.append(s);
  }
  return poll;
}

}  // namespace

MqttPanel::MqttPanel(QWidget* parent) : QWidget(parent), statsSinceMs_(QDateTime::currentMSecsSinceEpoch()) {
  setObjectName(QStringLiteral("MqttPanel"));
  auto* form = new QFormLayout;
  url_ = Field(this, "MqttUrl", QStringLiteral("mqtt://POČÍTAČ[:PORT] nebo mqtts://POČÍTAČ[:PORT]"));
  clientId_ = Field(this, "MqttClientId", QStringLiteral("výchozí qx510-POČÍTAČ-PID"));
  prefix_ = Field(this, "MqttPrefix");
  user_ = Field(this, "MqttUser", QStringLiteral("bez přihlášení"));
  passwordFile_ = Field(this, "MqttPasswordFile", QStringLiteral("bez souboru: heslo z proměnné QX510_MQTT_PASSWORD"));
  ca_ = Field(this, "MqttCa", QStringLiteral("certifikáty systému"));
  cert_ = Field(this, "MqttCert");
  key_ = Field(this, "MqttKey");
  qos_ = new QComboBox(this);
  qos_->setObjectName(QStringLiteral("MqttQos"));
  qos_->addItems({QStringLiteral("0 (nejvýše jednou)"), QStringLiteral("1 (aspoň jednou)")});
  heartbeat_ = Seconds(this, "MqttHeartbeat", 60, QStringLiteral("každé čtení"));
  statsPeriod_ = Seconds(this, "MqttStatsPeriod", 60, QStringLiteral("nikdy"));
  queue_ = new QSpinBox(this);
  queue_->setObjectName(QStringLiteral("MqttQueue"));
  queue_->setRange(1, 10000000);
  queue_->setSuffix(QStringLiteral(" zpráv"));
  // The line's name is the overview's, one for the report, the log and the topics.
  topics_ = new QLabel(this);
  topics_->setObjectName(QStringLiteral("MqttTopics"));
  form->addRow(QStringLiteral("B&roker:"), url_);
  form->addRow(QStringLiteral("Identi&fikátor klienta:"), clientId_);
  form->addRow(QStringLiteral("Předpona té&mat:"), prefix_);
  form->addRow(QStringLiteral("Témata:"), topics_);
  form->addRow(QStringLiteral("Uži&vatelské jméno:"), user_);
  form->addRow(QStringLiteral("Soubor s &heslem:"), passwordFile_);
  form->addRow(QStringLiteral("&Certifikát CA (mqtts):"), ca_);
  form->addRow(QStringLiteral("Certifikát klie&nta:"), cert_);
  form->addRow(QStringLiteral("K&líč klienta:"), key_);
  form->addRow(QStringLiteral("Úroveň doručení (&QoS):"), qos_);
  form->addRow(QStringLiteral("N&ezměněné čtení znovu po:"), heartbeat_);
  form->addRow(QStringLiteral("St&atistika linky každých:"), statsPeriod_);
  form->addRow(QStringLiteral("Fronta, kd&yž broker chybí:"), queue_);

  start_ = new QPushButton(QStringLiteral("Spustit &publikování"), this);
  start_->setObjectName(QStringLiteral("MqttStart"));
  stop_ = new QPushButton(QStringLiteral("&Zastavit publikování"), this);
  stop_->setObjectName(QStringLiteral("MqttStop"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addStretch(1);
  state_ = new QLabel(this);
  state_->setObjectName(QStringLiteral("MqttState"));
  KeepWrappedLabelNarrow(state_);
  auto* note = new QLabel(QStringLiteral("Publikování je jen ven: nic, co přijde od brokeru, modul neovládá."), this);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  layout->addWidget(state_);
  layout->addWidget(note);
  layout->addStretch(1);

  connect(start_, &QPushButton::clicked, this, &MqttPanel::startPublishing);
  connect(stop_, &QPushButton::clicked, this, &MqttPanel::stopPublishing);
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &MqttPanel::refresh);
  timer_->start(500);
  restoreSettings();
  connect(prefix_, &QLineEdit::textChanged, this, &MqttPanel::showTopics);
  setLineName(WorkbenchLineName());
  refresh();
}

MqttPanel::~MqttPanel() { stopPublishing(); }

void MqttPanel::restoreSettings() {
  const QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
  auto text = [&stored](const char* key, const QString& fallback = {}) {
    return stored.value(QStringLiteral("mqtt/") + QLatin1String(key), fallback).toString();
  };
  url_->setText(text("broker"));
  clientId_->setText(text("klient"));
  prefix_->setText(text("predpona", QStringLiteral("qx510")));
  user_->setText(text("uzivatel"));
  passwordFile_->setText(text("soubor_hesla"));
  ca_->setText(text("ca"));
  cert_->setText(text("certifikat"));
  key_->setText(text("klic"));
  qos_->setCurrentIndex(std::clamp(stored.value(QStringLiteral("mqtt/qos"), 0).toInt(), 0, 1));
  heartbeat_->setValue(stored.value(QStringLiteral("mqtt/znovu_s"), 60).toInt());
  statsPeriod_->setValue(stored.value(QStringLiteral("mqtt/statistika_s"), 60).toInt());
  queue_->setValue(stored.value(QStringLiteral("mqtt/fronta"), 10000).toInt());
}

void MqttPanel::keepSettings() {
  QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
  const std::pair<const char*, QLineEdit*> fields[] = {
      {"broker", url_}, {"klient", clientId_}, {"predpona", prefix_}, {"uzivatel", user_},
      {"soubor_hesla", passwordFile_}, {"ca", ca_}, {"certifikat", cert_}, {"klic", key_}};
  for (const auto& [key, edit] : fields) stored.setValue(QStringLiteral("mqtt/") + QLatin1String(key), edit->text().trimmed());
  stored.setValue(QStringLiteral("mqtt/qos"), qos_->currentIndex());
  stored.setValue(QStringLiteral("mqtt/znovu_s"), heartbeat_->value());
  stored.setValue(QStringLiteral("mqtt/statistika_s"), statsPeriod_->value());
  stored.setValue(QStringLiteral("mqtt/fronta"), queue_->value());
  QString error;
  if (!SaveWorkbenchSettings(stored, error)) failure_ = QStringLiteral("Nastavení publikování nelze uložit: ") + error;
}

bool MqttPanel::startPublishing() {
  stopPublishing();
  failure_.clear();
  keepSettings();
  MqttChoice choice;
  choice.url = url_->text().trimmed();
  choice.clientId = clientId_->text().trimmed();
  choice.prefix = prefix_->text().trimmed();
  choice.line = lineName_;
  choice.userName = user_->text().trimmed();
  choice.passwordFile = passwordFile_->text().trimmed();
  choice.caFile = ca_->text().trimmed();
  choice.certFile = cert_->text().trimmed();
  choice.keyFile = key_->text().trimmed();
  choice.qos = qos_->currentIndex();
  choice.queueLimit = queue_->value();
  MqttSettings settings;
  QString line, error;
  if (error = MqttSettingsFrom(choice, settings, line); error.isEmpty()) {
    client_ = std::make_unique<MqttClient>(settings);
    if (!client_->start(&error)) client_.reset();
  }
  if (!client_) {
    showFailure(error);
    return false;
  }
  lines_ = std::make_unique<MqttLinePublisher>(*client_, choice.prefix, line, heartbeat_->value() * 1000);
  statsDueMs_ = 0;
  refresh();
  return true;
}

void MqttPanel::setLineName(const QString& name) {
  lineName_ = name;
  showTopics();
}

void MqttPanel::showTopics() {
  const QString prefix = prefix_->text().trimmed().isEmpty() ? QStringLiteral("qx510") : prefix_->text().trimmed();
  topics_->setText(QStringLiteral("%1/%2/… (název linky se nastavuje v Přehledu linky)").arg(prefix, lineName_));
}

void MqttPanel::resetStatistics() {
  stats_ = ExchangeStats();
  statsSinceMs_ = QDateTime::currentMSecsSinceEpoch();
}

void MqttPanel::stopPublishing() {
  if (!client_) return;
  // A short wait for what is queued: the window closes, or the operator stops, at once.
  client_->stop(client_->state() == MqttClient::State::Connected ? 500 : 0);
  const MqttClient::Counters n = client_->counters();
  if (client_->state() == MqttClient::State::Refused) failure_ = client_->error();
  else if (n.dropped != 0)
    failure_ = QStringLiteral("Publikování zastaveno; %1 %2 z %3.")
                   .arg(CzechPlural(qint64(n.dropped), "zahozena", "zahozeny", "zahozeno"))
                   .arg(n.dropped)
                   .arg(CzechCount(qint64(n.published), "zprávy", "zpráv", "zpráv"));
  lines_.reset();
  client_.reset();
  refresh();
}

void MqttPanel::showFailure(const QString& text) {
  failure_ = text;
  refresh();
}

void MqttPanel::setModules(const QVector<LineModule>& modules) {
  modules_.clear();
  sharedAddresses_.clear();
  QHash<int, int> rates;  // address: the first rate it was met at
  for (const LineModule& m : modules) {
    modules_.insert(ModuleKey(m), m);
    const auto seen = rates.constFind(m.address);
    if (seen == rates.constEnd())
      rates.insert(m.address, m.baudCode);
    else if (*seen != m.baudCode)
      sharedAddresses_.insert(m.address);
  }
}

void MqttPanel::publish(const QVector<ModuleReading>& readings) {
  if (!lines_) return;
  for (const ModuleReading& r : readings) {
    const int rate = BaudCodeToRate(r.baudCode);
    const QByteArray level = MqttModuleLevel(r.address, rate, sharedAddresses_.contains(r.address));
    const auto m = modules_.constFind(ModuleKey(r.address, r.baudCode));
    if (m != modules_.constEnd() && r.ok && !m->ident.isEmpty())
      lines_->describe({r.address, rate, level, m->ident, r.current});
    lines_->publish(PollOf(r, level));
  }
}

QString MqttPanel::summary() const { return summary_; }

void MqttPanel::refresh() {
  QString text, bar;
  QString style;
  if (client_ && client_->state() == MqttClient::State::Refused) {
    stopPublishing();  // sets failure_ and refreshes again
    return;
  }
  if (client_) {
    const MqttClient::Counters n = client_->counters();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (statsPeriod_->value() > 0) {
      if (statsDueMs_ == 0) statsDueMs_ = now + statsPeriod_->value() * 1000;
      if (now >= statsDueMs_) {
        statsDueMs_ = now + statsPeriod_->value() * 1000;
        // Since when they count: the connection's start.
        QJsonObject exchanges = QJsonDocument::fromJson(stats_.json()).object();
        exchanges.insert(QStringLiteral("since"), ExchangeTimeText(statsSinceMs_ * 1000000));
        lines_->publishStats(QJsonDocument(exchanges).toJson(QJsonDocument::Compact), now);
      }
    }
    const bool connected = client_->state() == MqttClient::State::Connected;
    const QString counts = QStringLiteral("zpráv vydáno %1, doručeno %2, ve frontě %3, zahozeno %4")
                               .arg(n.published).arg(n.delivered).arg(n.queued).arg(n.dropped);
    // The last loss stays said once the broker is back: a broker at fault comes back and
    // goes again, and the operator should learn why.
    const QString lastLoss = n.losses != 0 ? QStringLiteral(" Naposledy přerušeno: %1").arg(client_->lastLoss()) : QString();
    text = connected ? QStringLiteral("Připojeno k brokeru; ") + counts + QLatin1Char('.') + lastLoss
                     : QStringLiteral("Broker nedostupný, zprávy čekají ve frontě (%1); ").arg(client_->error()) + counts;
    bar = connected ? QStringLiteral(" MQTT: připojeno") : QStringLiteral(" MQTT: broker nedostupný, ve frontě %1").arg(n.queued);
    if (n.dropped != 0) bar += QStringLiteral(", zahozeno %1").arg(n.dropped);
  } else if (!failure_.isEmpty()) {
    text = failure_;
    bar = QStringLiteral(" MQTT: zastaveno, viz Publikování MQTT");
    style = QStringLiteral("color: #b00000; font-weight: bold");
  } else {
    text = QStringLiteral("Publikování neběží.");
    bar = QStringLiteral(" MQTT neběží");
  }
  start_->setEnabled(!client_);
  stop_->setEnabled(client_ != nullptr);
  state_->setText(text);
  state_->setStyleSheet(style);
  if (bar != summary_) {
    summary_ = bar;
    emit stateChanged();
  }
}
