// qx510-sim: a line of simulated QX-510 modules behind the stand-in drivers. With a front
// panel by default; --headless for tests and scripts (ends on SIGTERM or SIGINT);
// `qx510-sim ctl ...` sends one command to a running simulator's control channel, `qx510-sim
// send ...` one request through a stand-in driver.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>

#include "sim/app/ctl_command.h"
#include "sim/app/send_command.h"
#include "sim/app/sim_window.h"
#include "sim/local_socket.h"
#include "sim/sim_server.h"
#include "sim/state_file.h"

namespace {
// The handler only writes a byte; the event loop reads it and quits at once, whatever the
// server thread is busy with.
int stopPipe[2] = {-1, -1};
void RequestStop(int) {
  const char byte = 1;
  [[maybe_unused]] auto n = ::write(stopPipe[1], &byte, 1);
}

// "0@9600,5@57600,17": bus address and rate of each module (9600 Bd when left out).
bool ParseModules(const QString& text, std::vector<SimModuleSpec>* modules) {
  for (const QString& item : text.split(',')) {
    const QStringList parts = item.trimmed().split('@');
    bool addressOk = false, rateOk = parts.size() == 1;
    const uint address = parts[0].toUInt(&addressOk);
    const int rate = parts.size() == 2 ? parts[1].toInt(&rateOk) : 9600;
    int code = -1;
    for (uint8_t c = 0; c <= 8; ++c)
      if (SimModule::BaudCodeRate(c) == rate) code = c;
    if (parts.size() > 2 || !addressOk || address > 255 || !rateOk || code < 0) return false;
    modules->push_back({uint8_t(address), uint8_t(code)});
  }
  return !modules->empty() && modules->size() <= size_t(SimBus::MaxModules);
}

// --probe: 0 when a simulator of this user answers on the local endpoint, 1 when none does,
// 2 with a line on stderr when the answer cannot be had (a stalled simulator, another
// user's, no private folder).
int ProbeSimulator(const std::string& path) {
  std::string why;
  if (path.empty()) {
    simproto::DefaultEndpointPath(&why);
  } else {
    const int s = simproto::ConnectEndpoint(path, SimWaitMs);
    if (s >= 0) {
      ::close(s);
      return 0;
    }
    if (s == simproto::ForeignPeer) why = "na " + path + " naslouchá program jiného uživatele; nepoužije se";
    if (s == -ETIMEDOUT) why = "simulátor na " + path + " nepřijal spojení do " + std::to_string(SimWaitMs) + " ms";
    if (s == -ENAMETOOLONG) why = "cesta k soketu je příliš dlouhá: " + path;
  }
  if (why.empty()) return 1;
  std::fprintf(stderr, "qx510-sim: %s\n", why.c_str());
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && QByteArray(argv[1]) == "ctl") return RunControlCommand(argc, argv);
  if (argc >= 2 && QByteArray(argv[1]) == "send") return RunSendCommand(argc, argv);
  bool headless = false;
  for (int i = 1; i < argc; ++i)
    if (QByteArray(argv[i]) == "--headless" || QByteArray(argv[i]) == "--probe") headless = true;
  std::unique_ptr<QCoreApplication> app;
  if (headless)
    app = std::make_unique<QCoreApplication>(argc, argv);
  else
    app = std::make_unique<QApplication>(argc, argv);
  QCoreApplication::setApplicationName("qx510-sim");

  QCommandLineParser parser;
  parser.setApplicationDescription("Simulated QX-510 module for the stand-in interface drivers.");
  parser.addHelpOption();
  const QCommandLineOption headlessOpt("headless", "Run without a window.");
  const QCommandLineOption addressOpt("address", "IPv4 address of the LAN converter (default 127.0.0.1).", "ip",
                                      "127.0.0.1");
  const QCommandLineOption portOpt("port", "UDP port of the LAN converter (default 5000, 0 = any free port).", "port",
                                   QString::number(simproto::DefaultUdpPort));
  const QCommandLineOption endpointOpt(
      "endpoint",
      QString("Local socket for the other four interfaces (default: $%1, else qx510-sim.sock in $XDG_RUNTIME_DIR, "
              "else in /tmp/qx510-<uid>/).")
          .arg(simproto::EndpointEnv),
      "path");
  const QCommandLineOption stateOpt(
      "state", QString("State file of the module's memory (default %1).").arg(QString::fromStdString(DefaultSimStatePath())),
      "path");
  const QCommandLineOption noStateOpt("no-state", "Keep the module's memory for this run only.");
  const QCommandLineOption modulesOpt(
      "modules",
      "The line: bus address and rate of each module, e.g. 0@9600,5@57600 (default: the saved line, else one "
      "module at address 0, 9600 Bd).",
      "list");
  const QCommandLineOption probeOpt("probe", "Exit 0 when a simulator already answers on the endpoint, 1 when none does, 2 when it cannot be told.");
  parser.addOptions({headlessOpt, addressOpt, portOpt, endpointOpt, stateOpt, noStateOpt, modulesOpt, probeOpt});
  parser.process(*app);

  SimServerOptions options;
  options.udpHost = parser.value(addressOpt).toStdString();
  bool portOk = false;
  options.udpPort = parser.value(portOpt).toInt(&portOk);
  if (!portOk || options.udpPort < 0 || options.udpPort > 65535) {
    std::fprintf(stderr, "qx510-sim: invalid port %s\n", qPrintable(parser.value(portOpt)));
    return 2;
  }
  options.localPath = parser.isSet(endpointOpt) ? parser.value(endpointOpt).toStdString() : simproto::EndpointPath();
  if (parser.isSet(modulesOpt) && !ParseModules(parser.value(modulesOpt), &options.modules)) {
    std::fprintf(stderr, "qx510-sim: invalid module list %s\n", qPrintable(parser.value(modulesOpt)));
    return 2;
  }
  if (!parser.isSet(noStateOpt))
    options.statePath = parser.isSet(stateOpt) ? parser.value(stateOpt).toStdString() : DefaultSimStatePath();

  if (parser.isSet(probeOpt)) return ProbeSimulator(options.localPath);

  // The simulator is built beside the tool, whose settings file lives in that directory; the
  // module's memory is the simulator's own and stays out of it.
  if (!options.statePath.empty()) {
    const QString stateDir = QFileInfo(QString::fromStdString(options.statePath)).absoluteDir().canonicalPath();
    if (!stateDir.isEmpty() && stateDir == QDir(QCoreApplication::applicationDirPath()).canonicalPath()) {
      std::fprintf(stderr, "qx510-sim: the state file must not lie beside the tool: %s\n", options.statePath.c_str());
      return 2;
    }
  }

  // Every failed store is reported, until one succeeds: the module's memory is never
  // silently volatile. The window shows the same.
  options.onStoreFailure = [](const std::string& why) {
    std::fprintf(stderr, "qx510-sim: the module's memory was not stored: %s\n", why.c_str());
  };
  SimServer server(options);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "qx510-sim: %s\n", error.c_str());
    if (!headless)
      QMessageBox::critical(nullptr, "Simulátor modulu QX-510",
                            "Simulátor nelze spustit:\n" + QString::fromStdString(error));
    return 1;
  }
  if (!server.stateWarning().empty())
    std::fprintf(stderr, "qx510-sim: %s; starting with factory memory\n", server.stateWarning().c_str());
  // Scripts and tests read the port from this line (with --port 0 it is the one chosen).
  std::printf("qx510-sim: UDP %s:%u, endpoint %s\n", options.udpHost.c_str(), unsigned(server.udpPort()),
              server.localPath().c_str());
  if (!server.controlPath().empty()) std::printf("qx510-sim: control %s\n", server.controlPath().c_str());
  std::fflush(stdout);

  if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("qx510-sim: pipe");
    return 1;
  }
  QSocketNotifier stopNotifier(stopPipe[0], QSocketNotifier::Read);
  QObject::connect(&stopNotifier, &QSocketNotifier::activated, app.get(), &QCoreApplication::quit);
  std::signal(SIGTERM, RequestStop);
  std::signal(SIGINT, RequestStop);

  std::unique_ptr<SimWindow> window;
  if (!headless) {
    window = std::make_unique<SimWindow>(&server, QString::fromStdString(options.udpHost), options.statePath);
    window->show();
  }
  const int rc = app->exec();
  window.reset();
  server.stop();  // stores what the coalescing held back; a failure was printed above
  return server.storeError().empty() ? rc : 1;
}
