#include "sim/app/sim_program.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSocketNotifier>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>

#include "base/text/qt_translations.h"
#include "base/text/window_options.h"
#include "sim/line/state_file.h"
#include "sim/sim_server.h"
#include "sim/transport/local_socket.h"
#include "sim/transport/serial_line.h"

namespace {
// The handler only writes a byte; the event loop reads it and quits at once, whatever the
// server thread is busy with.
int stopPipe[2] = {-1, -1};
void RequestStop(int) {
  const char byte = 1;
  [[maybe_unused]] auto n = ::write(stopPipe[1], &byte, 1);
}

int BaudCodeOf(int rate) {
  for (uint8_t c = 0; c <= 8; ++c)
    if (SimModule::BaudCodeRate(c) == rate) return c;
  return -1;
}

// A module's turnaround as typed after '/': milliseconds, to the microsecond, "ms" optional.
std::optional<std::chrono::nanoseconds> ParseTurnaround(QString text) {
  if (text.endsWith(QLatin1String("ms"))) text.chop(2);
  bool ok = false;
  const double ms = QLocale::c().toDouble(text, &ok);
  if (!ok || !(ms >= 0 && ms <= simline::MaxTurnaroundMs)) return std::nullopt;
  return std::chrono::nanoseconds(std::llround(ms * 1000.0) * 1000);
}

// "0@9600,5@57600/3ms,17": bus address, rate (9600 Bd when left out) and turnaround (1 ms
// when left out) of each module.
bool ParseModules(const QString& text, std::vector<SimModuleSpec>* modules) {
  for (const QString& typed : text.split(',')) {
    const QStringList timed = typed.trimmed().split('/');
    const auto turnaround = timed.size() == 2 ? ParseTurnaround(timed[1]) : std::optional(wire::DefaultTurnaround);
    if (timed.size() > 2 || !turnaround) return false;
    const QStringList parts = timed[0].split('@');
    bool addressOk = false, rateOk = parts.size() == 1;
    const uint address = parts[0].toUInt(&addressOk);
    const int rate = parts.size() == 2 ? parts[1].toInt(&rateOk) : 9600;
    const int code = BaudCodeOf(rate);
    if (parts.size() > 2 || !addressOk || address > 255 || !rateOk || code < 0) return false;
    modules->push_back({uint8_t(address), uint8_t(code), *turnaround});
  }
  return !modules->empty() && modules->size() <= size_t(SimBus::MaxModules);
}

// --probe: 0 when a simulator of this user answers a probe on the local endpoint, 1 when none
// listens there, 2 with a line on stderr when the answer cannot be had within SimWaitMs (a
// listener that takes the connection but never answers, as a stalled simulator or another
// program does; another user's; no private folder). A connection alone proves nothing: the
// kernel takes it into the listener's backlog whether or not anybody ever reads it.
int ProbeSimulator(const std::string& path) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(SimWaitMs);
  std::string why;
  if (path.empty()) {
    simproto::DefaultEndpointPath(&why);
  } else {
    const int s = simproto::ConnectEndpoint(path, SimWaitMs);
    if (s >= 0) {
      const uint32_t seq = uint32_t(::getpid());
      const auto probe = simproto::EncodeProbe(simproto::TypeProbe, seq);
      const bool sent = ::send(s, probe.data(), probe.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == ssize_t(probe.size());
      bool answered = false, closed = false;
      // Whatever else comes is passed over, within the time left.
      while (sent && !answered && !closed) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{s, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0) break;
        uint8_t buffer[64];
        const ssize_t n = ::recv(s, buffer, sizeof buffer, MSG_DONTWAIT);
        closed = (n < 0 && errno != EAGAIN && errno != EINTR) || (n == 0 && simproto::SeqpacketPeerGone(s));
        const auto echoed = n > 0 ? simproto::DecodeProbe(buffer, size_t(n), simproto::TypeProbeAnswer) : std::nullopt;
        answered = echoed && *echoed == seq;
      }
      ::close(s);
      if (answered) return 0;
      why = closed ? "program na " + path + " ukončil spojení bez odpovědi; simulátor to není"
                   : "na " + path + " naslouchá program, který do " + std::to_string(SimWaitMs) +
                         " ms neodpověděl (zaseknutý simulátor nebo jiný program)";
    }
    if (s == simproto::ForeignPeer) why = "na " + path + " naslouchá program jiného uživatele; nepoužije se";
    if (s == -ETIMEDOUT) why = "simulátor na " + path + " nepřijal spojení do " + std::to_string(SimWaitMs) + " ms";
    if (s == -ENAMETOOLONG) why = "cesta k soketu je příliš dlouhá: " + path;
  }
  if (why.empty()) return 1;
  std::fprintf(stderr, "qx510-sim: %s\n", why.c_str());
  return 2;
}

const char* const Description =
    "Simulovaný modul QX-510 pro náhradní ovladače rozhraní: vedení 1 až 32 modulů, s oknem\n"
    "(výchozí) nebo bez něj (--headless).\n"
    "\n"
    "Další příkazy:\n"
    "  qx510-sim ctl [--endpoint CESTA | --control CESTA] PŘÍKAZ [klíč=hodnota ...]\n"
    "      pošle jeden příkaz řídicímu kanálu běžícího simulátoru (list, add, remove, voltage,\n"
    "      turnaround, fault, counters, ...); `qx510-sim ctl traffic` vypisuje provoz vedení\n"
    "      jako řádky JSON až do přerušení.\n"
    "  qx510-sim send [--endpoint CESTA | --udp PORT] [--rate BD] [--timeout MS] ADRESA PŘÍKAZ\n"
    "      INDEX [D0..D4]\n"
    "      provede jednu výměnu přes náhradní ovladač sériového portu (s --udp LAN konvertoru).\n"
    "\n"
    "Návratový kód: 0 po ukončení signálem SIGTERM nebo SIGINT, 1 když simulátor nelze spustit\n"
    "nebo se konfigurační paměť nepodařilo uložit, 2 při chybném parametru.";
}  // namespace

bool SimRunsWithoutWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const QByteArray a(argv[i]);
    if (a == "--headless" || a == "--probe" || a == "--help" || a == "-h" || a == "--help-all" || a == "-?" ||
        a == "--version" || a == "-v")
      return true;
  }
  return false;
}

int RunSimulatorProgram(int argc, char** argv, const SimFront* front) {
  const bool windowProgram = front != nullptr;
  if (SimRunsWithoutWindow(argc, argv)) front = nullptr;
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(Description));
  // Help and version of our own, so that they speak Czech like every other text.
  const QCommandLineOption helpOpt({"h", "help"}, "Vypíše tuto nápovědu.");
  const QCommandLineOption versionOpt({"v", "version"}, "Vypíše verzi programu.");
  const QCommandLineOption headlessOpt("headless", "Běží bez okna (pro skripty a testy).");
  const QCommandLineOption addressOpt("address", "IPv4 adresa LAN konvertoru (výchozí 127.0.0.1).", "ip", "127.0.0.1");
  const QCommandLineOption portOpt("port", "UDP port LAN konvertoru (výchozí 5000, 0 = libovolný volný).", "port",
                                   QString::number(simproto::DefaultUdpPort));
  const QCommandLineOption endpointOpt(
      "endpoint",
      QString("Místní soket pro ostatní čtyři rozhraní (výchozí: $%1, jinak qx510-sim.sock v $XDG_RUNTIME_DIR, "
              "jinak v /tmp/qx510-<uid>/).")
          .arg(simproto::EndpointEnv),
      "cesta");
  const QCommandLineOption stateOpt(
      "state",
      QString("Soubor s konfigurační pamětí modulů (výchozí %1).").arg(QString::fromStdString(DefaultSimStatePath())),
      "cesta");
  const QCommandLineOption noStateOpt("no-state", "Konfigurační paměť platí jen pro tento běh.");
  const QCommandLineOption modulesOpt(
      "modules",
      "Vedení: adresa, rychlost a doba zpracování každého modulu, např. 0@9600,5@57600/3ms (výchozí rychlost "
      "9600 Bd, doba zpracování 1 ms; bez volby uložené vedení, jinak jeden modul na adrese 0, 9600 Bd). Moduly "
      "se stejnou adresou i rychlostí (5@9600,5@9600) odpovídají všechny a jejich odpovědi na vedení kolidují.",
      "seznam");
  const QCommandLineOption wireOpt(
      "wire",
      "Časování vedení: paced (výchozí) = každý rámec zabere vedení 10 bitů na bajt při rychlosti modulu, modul "
      "odpovídá po době zpracování, vedení nese jeden rámec za druhým; instant = bez časování (jen pro testy, "
      "které čas neměří).",
      "paced|instant", "paced");
  const QCommandLineOption ptyOpt(
      "pty",
      "Obsluhuje i sériovou linku: vytvoří pseudoterminál a <odkaz>, symbolický odkaz na něj (při skončení "
      "odstraněn), který otevírají ovladače sériového portu a USB konvertoru; rychlost linky je ta, kterou "
      "nastavil ovladač.",
      "odkaz");
  const QCommandLineOption serialOpt(
      "serial", "Obsluhuje i skutečný sériový port (raw 8N1), třeba druhý převodník na téže lince.",
      "zařízení");
  const QCommandLineOption serialRateOpt(
      "serial-rate", "Rychlost portu z volby --serial v Bd (výchozí: rychlost prvního modulu).", "Bd");
  const QCommandLineOption latencyOpt(
      "adapter-latency",
      "Na pseudoterminálu hraje převodník USB s časovačem latence: co přijme, předá ovladači až po MS ms "
      "(výchozí 0; převodníky s čipem FTDI mají z výroby 16).",
      "MS", "0");
  const QCommandLineOption echoOpt(
      "adapter-echo", "Na pseudoterminálu hraje dvouvodičový převodník, který vrací ovladači i jeho vlastní dotaz.");
  const QCommandLineOption probeOpt(
      "probe", "Skončí s 0, když na místním soketu už simulátor odpovídá, s 1, když žádný, s 2, když to nelze zjistit.");
  parser.addOptions({helpOpt, versionOpt, headlessOpt, addressOpt, portOpt, endpointOpt, stateOpt, noStateOpt,
                     modulesOpt, wireOpt, ptyOpt, serialOpt, serialRateOpt, latencyOpt, echoOpt, probeOpt});
  // Parsed before the application exists: a wrong argument needs no display to be told.
  // The window program takes the toolkit's options (-platform, -style, ...) as every Qt
  // window does.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) {
    if (const int span = windowProgram && i > 0 ? ToolkitOptionSpan(argc, argv, i) : 0; span > 0) {
      i += span - 1;
      continue;
    }
    arguments << QString::fromLocal8Bit(argv[i]);
  }
  if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
    QStringList wrong;  // as written: the parser names options without their dashes
    for (const QString& name : parser.unknownOptionNames())
      wrong << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    wrong += parser.positionalArguments();
    std::fprintf(stderr, "qx510-sim: %s; qx510-sim --help vypíše volby\n",
                 wrong.isEmpty() ? "volbě chybí hodnota" : qPrintable("neznámý parametr " + wrong.join(", ")));
    return 2;
  }
  const std::unique_ptr<QCoreApplication> app =
      front ? front->application(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
  QCoreApplication::setApplicationName("qx510-sim");
  QCoreApplication::setApplicationVersion(QStringLiteral(QX510_VERSION));
  if (parser.isSet(helpOpt)) {
    QString help = parser.helpText();
    help.replace(QLatin1String("Usage: ") + arguments.first(), QStringLiteral("Použití: qx510-sim"));
    help.replace(QLatin1String("\nOptions:\n"), QStringLiteral("\nVolby:\n"));
    help.replace(QLatin1String(" [options]"), QStringLiteral(" [volby]"));
    std::fputs(qPrintable(help), stdout);
    return 0;
  }
  if (parser.isSet(versionOpt)) {
    std::printf("qx510-sim %s\n", QX510_VERSION);
    return 0;
  }
  // After the help, whose English parts are replaced by their Czech words above.
  InstallQtCzechTranslation();

  SimServerOptions options;
  options.udpHost = parser.value(addressOpt).toStdString();
  bool portOk = false;
  options.udpPort = parser.value(portOpt).toInt(&portOk);
  if (!portOk || options.udpPort < 0 || options.udpPort > 65535) {
    std::fprintf(stderr, "qx510-sim: neplatný port %s\n", qPrintable(parser.value(portOpt)));
    return 2;
  }
  options.localPath = parser.isSet(endpointOpt) ? parser.value(endpointOpt).toStdString() : simproto::EndpointPath();
  if (parser.isSet(modulesOpt) && !ParseModules(parser.value(modulesOpt), &options.modules)) {
    std::fprintf(stderr, "qx510-sim: neplatný seznam modulů %s\n", qPrintable(parser.value(modulesOpt)));
    return 2;
  }
  const QString wireMode = parser.value(wireOpt);
  if (wireMode != QLatin1String("paced") && wireMode != QLatin1String("instant")) {
    std::fprintf(stderr, "qx510-sim: --wire musí být paced nebo instant, ne %s\n", qPrintable(wireMode));
    return 2;
  }
  options.wire = wireMode == QLatin1String("instant") ? simline::Wire::Instant : simline::Wire::Paced;
  options.ptyLink = parser.value(ptyOpt).toStdString();
  options.serialDevice = parser.value(serialOpt).toStdString();
  if (parser.isSet(serialRateOpt)) {
    options.serialRate = parser.value(serialRateOpt).toInt();
    if (BaudCodeOf(options.serialRate) < 0) {
      std::fprintf(stderr, "qx510-sim: neplatná rychlost portu %s\n", qPrintable(parser.value(serialRateOpt)));
      return 2;
    }
  }
  bool latencyOk = false;
  const int latencyMs = parser.value(latencyOpt).toInt(&latencyOk);
  if (!latencyOk || latencyMs < 0 || latencyMs > 255) {
    std::fprintf(stderr, "qx510-sim: --adapter-latency musí být 0 až 255 ms, ne %s\n", qPrintable(parser.value(latencyOpt)));
    return 2;
  }
  options.adapter = {std::chrono::milliseconds(latencyMs), parser.isSet(echoOpt)};
  if ((latencyMs > 0 || options.adapter.echo) && options.ptyLink.empty()) {
    std::fprintf(stderr, "qx510-sim: --adapter-latency a --adapter-echo platí jen s --pty\n");
    return 2;
  }
  if (!options.ptyLink.empty() && !options.serialDevice.empty()) {
    std::fprintf(stderr, "qx510-sim: --pty a --serial nelze použít zároveň\n");
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
      std::fprintf(stderr, "qx510-sim: soubor stavu nesmí ležet vedle nástroje: %s\n", options.statePath.c_str());
      return 2;
    }
  }

  // Every failed store is reported, until one succeeds: the module's memory is never
  // silently volatile. The window shows the same.
  options.onStoreFailure = [](const std::string& why) {
    std::fprintf(stderr, "qx510-sim: konfigurační paměť se nepodařilo uložit: %s\n", why.c_str());
  };
  SimServer server(options);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "qx510-sim: %s\n", error.c_str());
    if (front) front->startFailed(QString::fromStdString(error));
    return 1;
  }
  if (!server.stateWarning().empty())
    std::fprintf(stderr, "qx510-sim: %s; začíná s tovární pamětí\n", server.stateWarning().c_str());
  // Scripts and tests read the port from this line (with --port 0 it is the one chosen).
  std::printf("qx510-sim: UDP %s:%u, endpoint %s\n", options.udpHost.c_str(), unsigned(server.udpPort()),
              server.localPath().c_str());
  if (!server.controlPath().empty()) std::printf("qx510-sim: control %s\n", server.controlPath().c_str());
  if (const SimSerialLine* serial = server.serialLine())
    std::printf("qx510-sim: serial %s (%s)\n", serial->path().c_str(), serial->device().c_str());
  std::fflush(stdout);

  if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("qx510-sim: pipe");
    return 1;
  }
  QSocketNotifier stopNotifier(stopPipe[0], QSocketNotifier::Read);
  QObject::connect(&stopNotifier, &QSocketNotifier::activated, app.get(), &QCoreApplication::quit);
  std::signal(SIGTERM, RequestStop);
  std::signal(SIGINT, RequestStop);

  std::unique_ptr<QObject> window;
  if (front) window = front->open(&server, QString::fromStdString(options.udpHost), options.statePath);
  const int rc = app->exec();
  window.reset();
  server.stop();  // stores what the coalescing held back; a failure was printed above
  return server.storeError().empty() ? rc : 1;
}
