// The MQTT settings as the command line and the workbench's pane give them: the broker's URL,
// the client id, the topic prefix, the line name and the user, one a line. What is taken is
// what the library and the protocol take; what is refused is said without a byte a terminal
// would act on.
#include <mosquitto.h>

#include <QByteArrayList>
#include <QString>

#include "base/text/plain_text.h"
#include "fuzz/fuzz_check.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_messages.h"

namespace {
bool Utf8Valid(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return mosquitto_validate_utf8(bytes.constData(), int(bytes.size())) == MOSQ_ERR_SUCCESS;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArrayList fields = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\n');
  const auto field = [&](int i) { return i < fields.size() ? QString::fromUtf8(fields[i]) : QString(); };
  MqttChoice choice;
  choice.url = field(0);
  choice.clientId = field(1);
  if (fields.size() > 2) choice.prefix = field(2);
  choice.line = field(3);
  choice.userName = field(4);
  MqttSettings settings;
  QString line;
  const QString error = MqttSettingsFrom(choice, settings, line);
  std::string what;
  if (!error.isEmpty()) {
    FuzzCheck(!FindUnsafeText(error.toStdString(), what), "a refusal holds no control or formatting character");
    return 0;
  }
  FuzzCheck(!settings.url.host.isEmpty() && settings.url.port >= 1 && settings.url.port <= 65535, "a broker to reach");
  FuzzCheck(Utf8Valid(settings.clientId) && Utf8Valid(settings.userName), "an id and a user the library takes");
  for (const QByteArray& leaf : {QByteArray("state"), QByteArray("255-115200/status")}) {
    const QByteArray topic = (choice.prefix + QLatin1Char('/') + line + QLatin1Char('/')).toUtf8() + leaf;
    FuzzCheck(mosquitto_pub_topic_check2(topic.constData(), size_t(topic.size())) == MOSQ_ERR_SUCCESS &&
                  mosquitto_validate_utf8(topic.constData(), int(topic.size())) == MOSQ_ERR_SUCCESS,
              "every topic the line publishes is one the library sends");
  }
  FuzzCheck(settings.presenceTopic == MqttLinePublisher::PresenceTopic(choice.prefix, line), "the presence on the line's topic");
  return 0;
}
