#include "sim/app/ctl_command.h"
#include "sim/app/traffic_command.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/control/sim_control.h"
#include "sim/control/traffic_stream.h"
#include "sim/protocol.h"

namespace {
int Usage() {
  std::fprintf(stderr,
               "použití: qx510-sim ctl [--endpoint CESTA | --control CESTA] [--timeout MS] PŘÍKAZ [klíč=hodnota ...]\n"
               "         qx510-sim ctl [--endpoint CESTA | --control CESTA] [--timeout MS] '{\"cmd\":...}'\n"
               "         qx510-sim ctl [--endpoint CESTA | --control CESTA] [--timeout MS] traffic\n");
  return 2;
}
}  // namespace

int RunControlCommand(int argc, char** argv) {
  std::string control, endpoint, timeout = std::to_string(SimWaitMs);
  std::vector<std::string> words;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--endpoint" || arg == "--control" || arg == "--timeout") && words.empty()) {
      if (++i >= argc) return Usage();
      (arg == "--endpoint" ? endpoint : arg == "--control" ? control : timeout) = argv[i];
    } else if (arg == "--help" || arg == "-h") {
      return Usage();
    } else {
      words.push_back(arg);
    }
  }
  char* end = nullptr;
  const long timeoutMs = std::strtol(timeout.c_str(), &end, 10);
  if (timeout.empty() || *end || timeoutMs < 1 || timeoutMs > 600000) return Usage();
  if (control.empty() && endpoint.empty()) {
    std::string why;
    endpoint = simproto::EndpointPath(&why);
    if (endpoint.empty()) {
      std::fprintf(stderr, "qx510-sim ctl: %s\n", why.c_str());
      return 2;
    }
  }
  if (control.empty()) control = endpoint + ".ctl";
  std::string line, reply, error;
  if (!SimControlLineFromArgs(words, &line, &error)) {
    std::fprintf(stderr, "qx510-sim ctl: %s\n", error.c_str());
    return Usage();
  }
  if (SimTrafficStreams::IsRequest(line)) return RunTrafficCommand(control, line, int(timeoutMs));
  if (!SimControlRequest(control, line, &reply, &error, int(timeoutMs))) {
    std::fprintf(stderr, "qx510-sim ctl: %s\n", error.c_str());
    return 2;
  }
  std::printf("%s\n", reply.c_str());
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(reply));
  return doc.object().value("ok").toBool() ? 0 : 1;
}
