#include "sim/app/ctl_command.h"
#include "sim/app/traffic_command.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/protocol.h"
#include "sim/sim_control.h"
#include "sim/traffic_stream.h"

namespace {
int Usage() {
  std::fprintf(stderr,
               "použití: qx510-sim ctl [--endpoint CESTA | --control CESTA] PŘÍKAZ [klíč=hodnota ...]\n"
               "         qx510-sim ctl [--endpoint CESTA | --control CESTA] '{\"cmd\":...}'\n"
               "         qx510-sim ctl [--endpoint CESTA | --control CESTA] traffic\n");
  return 2;
}
}  // namespace

int RunControlCommand(int argc, char** argv) {
  std::string control;
  std::string endpoint = simproto::EndpointPath();
  std::vector<std::string> words;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--endpoint" || arg == "--control") && words.empty()) {
      if (++i >= argc) return Usage();
      (arg == "--endpoint" ? endpoint : control) = argv[i];
    } else if (arg == "--help" || arg == "-h") {
      return Usage();
    } else {
      words.push_back(arg);
    }
  }
  if (control.empty()) control = endpoint + ".ctl";
  std::string line, reply, error;
  if (!SimControlLineFromArgs(words, &line, &error)) {
    std::fprintf(stderr, "qx510-sim ctl: %s\n", error.c_str());
    return Usage();
  }
  if (SimTrafficStreams::IsRequest(line)) return RunTrafficCommand(control, line);
  if (!SimControlRequest(control, line, &reply, &error)) {
    std::fprintf(stderr, "qx510-sim ctl: %s\n", error.c_str());
    return 2;
  }
  std::printf("%s\n", reply.c_str());
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(reply));
  return doc.object().value("ok").toBool() ? 0 : 1;
}
