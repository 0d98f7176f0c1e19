// The simulator's control channel: any request lines, one after another on one line of
// modules, so that adds, removes, faults and power switching meet. Every line gets one reply
// that is a JSON object saying whether it was "ok", and the line keeps 1..32 modules.
#include <QJsonDocument>
#include <QJsonObject>

#include <string>

#include "fuzz/fuzz_check.h"
#include "sim/control/sim_control.h"
#include "sim/sim_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SimServer server;  // never started: no sockets, no state file
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (size_t start = 0; start <= input.size();) {
    const size_t end = std::min(input.find('\n', start), input.size());
    const std::string reply = SimControlExecute(server, input.substr(start, end - start));
    FuzzCheck(reply.find('\n') == std::string::npos, "a reply is one line");
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(reply));
    FuzzCheck(doc.isObject() && doc.object().value("ok").isBool(), "a reply is a JSON object with ok");
    start = end + 1;
  }
  const int modules = server.moduleCount();
  FuzzCheck(modules >= 1 && modules <= SimBus::MaxModules, "the line keeps 1..32 modules");
  return 0;
}
