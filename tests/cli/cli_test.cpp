// The companion program run in-process against a simulated line of three modules, through
// the real loader and the stand-in drivers.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <cstring>
#include <csignal>
#include <signal.h>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/calibration/calibration_constants.h"
#include "base/calibration/calibration_record.h"
#include "base/files/checked_file.h"
#include "base/exchange/exchange.h"
#include "base/exchange/commands.h"
#include "base/config/config_backup.h"
#include "base/config/config_image.h"
#include "base/settings/settings.h"
#include "base/wire/wire_time.h"
#include "cli/cli.h"
#include "cli/cli_args.h"
#include "sim/sim_server.h"
#include "tests/support/file_faults.h"
#include "tests/support/scoped_env.h"

extern char** environ;

namespace {

struct Result {
  int code = -1;
  QString out, err;
};

class CliTest : public ::testing::Test {
 protected:
  // Module index: address, baud code.
  static constexpr SimModuleSpec Line[] = {{0, 4}, {5, 7}, {17, 8}};

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SimServerOptions options;
    options.wire = simline::Wire::Instant;  // measures no time
    options.udpPort = 0;
    options.localPath = path("sim.sock").toStdString();
    options.modules.assign(std::begin(Line), std::end(Line));
    sim_ = std::make_unique<SimServer>(options);
    std::string error;
    ASSERT_TRUE(sim_->start(&error)) << error;
    ::setenv(simproto::EndpointEnv, sim_->localPath().c_str(), 1);
    SetConnectionSettingsPath(path("W_qx510.ini"));
    // The user's own serial-ports file must not send the stand-ins to a real device, nor a
    // record be signed with the user's own key.
    configHome_.emplace("XDG_CONFIG_HOME", dir_.path().toLocal8Bit().toStdString());
    dataHome_.emplace("XDG_DATA_HOME", dir_.path().toLocal8Bit().toStdString());
  }
  void TearDown() override {
    SetConnectionSettingsPath(QString());
    ::unsetenv(simproto::EndpointEnv);
    configHome_.reset();
    dataHome_.reset();
  }

  QString path(const char* name) const { return dir_.filePath(QLatin1String(name)); }

  // onLine(k) runs before the k-th line (0-based) is handed over, as the operator acts.
  Result run(QStringList args, QStringList lines = {}, std::function<void(int)> onLine = {}) {
    Result r;
    // On one screen, as a terminal shows both streams: the order of their flushes is the order seen.
    QTextStream out(&r.out), err(oneScreen_ ? &r.out : &r.err);
    // Standard output a descriptor, checked as the program's own is.
    CheckedStream checkedOut;
    QTextStream descriptorOut(&checkedOut);
    std::deque<QString> queue(lines.begin(), lines.end());
    int asked = 0;
    CliIo io;
    io.out = &out;
    io.err = &err;
    io.readLine = [&]() -> std::optional<QString> {
      if (onLine) onLine(asked);
      ++asked;
      if (queue.empty()) return std::nullopt;
      QString line = queue.front();
      queue.pop_front();
      return line;
    };
    int checks = 0;
    io.interrupted = [this, &checks] {
      const bool stop = (stopAfterMs_ > 0 && slept_ >= stopAfterMs_) || (stopAfterChecks_ >= 0 && ++checks > stopAfterChecks_) ||
                        (stopWhen_ && stopWhen_());
      return stop ? stopSignal_ : 0;
    };
    io.readInput = [&](qint64) -> std::optional<QByteArray> { return input_; };
    if (outFd_ >= 0) {
      checkedOut.openDescriptor(outFd_, QStringLiteral("standardní výstup"));
      io.out = &descriptorOut;
      io.checkOutput = [&](bool delivered) {
        descriptorOut.flush();
        if (delivered) checkedOut.delivered();
        return checkedOut.failure();
      };
    }
    io.errIsTerminal = terminal_;
    io.sleep = [this](int ms) {
      slept_ += ms;
      if (onSleep_) onSleep_(slept_);
    };
    r.code = RunCli(args, io);
    out.flush();
    err.flush();
    return r;
  }

  SimModule::Memory memory(int module) { return sim_->snapshot(module).memory(); }
  int writesSince(uint64_t serial) {
    int writes = 0;
    for (const SimLogEntry& e : sim_->logSince(serial)) writes += e.request.command == 103;
    return writes;
  }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
  std::optional<ScopedEnv> configHome_, dataHome_;
  int slept_ = 0;
  int stopAfterMs_ = 0;  // Ctrl+C once this much time has been waited
  int stopAfterChecks_ = -1;  // the signal comes after this many looks; -1 never
  int stopSignal_ = SIGINT;
  std::function<bool()> stopWhen_;   // the signal has come once this holds
  std::function<void(int)> onSleep_;  // after each wait, with the time waited so far
  bool oneScreen_ = false;
  std::optional<QByteArray> input_;  // standard input
  int outFd_ = -1;  // standard output: this descriptor, or when -1 the text kept in Result::out
  bool terminal_ = false;
};

// Module 1 of the line, at its own address and rate.
const QStringList AtModule1 = {QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("--rate"),
                               QStringLiteral("57600")};

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

TEST_F(CliTest, BadInputIsOneLineAndSendsNothing) {
  ConfigBackup other;
  other.module = QStringLiteral("QX-520");
  other.version = QStringLiteral("1.00");
  other.date = QDateTime::currentDateTimeUtc();
  const QByteArray good = FormatBackup(other);
  WriteFile(path("other.txt"), good);
  WriteFile(path("truncated.txt"), good.left(good.size() / 2));
  QByteArray edited = good;
  edited.replace("byte.33=0x00", "byte.33=0x01");
  WriteFile(path("edited.txt"), edited);
  WriteFile(path("notes.txt"), "hello\n");
  ConfigBackup refused = other;
  refused.module = QStringLiteral("QX-510");
  refused.image.bytes[0] = 0x11;
  WriteFile(path("range.txt"), FormatBackup(refused));
  refused.image.bytes[0] = 1;
  refused.image.bytes[62] = 0x14;
  WriteFile(path("baud.txt"), FormatBackup(refused));

  const struct {
    QStringList args;
    int code;
    const char* message;
  } cases[] = {
      {{"identify", "--foo"}, 2, "Neznámá volba: --foo"},
      {{"identify", "--rate"}, 2, "Volba --rate potřebuje hodnotu."},
      {{"identify", "--address", "256"}, 2, "Adresa modulu musí být v rozsahu 0-255."},
      {{"identify", "--rate", "14400"}, 2,
       "Komunikační rychlost musí být jedna z: 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 Bd."},
      {{"identify", "-r", "12345"}, 2, "Komunikační rychlost musí být jedna z: 600,"},
      {{"identify", "--address=300"}, 2, "Adresa modulu musí být v rozsahu 0-255."},
      {{"identify", "-x"}, 2, "Neznámá volba: -x"},
      {{"identify", "--version"}, 2, "Neznámá volba: --version"},
      {{"identify", "extra"}, 2, "Použití: qx510-cli identify [volby]"},
      {{"frobnicate"}, 2, "Neznámý příkaz: frobnicate"},
      {{"config"}, 2, "Neznámý nebo chybějící podpříkaz: qx510-cli config --help"},
      {{"set", "address", "-1"}, 2, "Adresa modulu musí být v rozsahu 0-255."},
      {{"set", "address", "abc"}, 2, "Adresa modulu musí být v rozsahu 0-255."},
      {{"set", "rate", "9601"}, 2, "Komunikační rychlost musí být jedna z: 600,"},
      {{"set", "range", "4-20mA"}, 2, "Rozsah musí být 0-10V nebo 0-20mA."},
      {{"set", "dout-initial", "0x123456789"}, 2, "Maska musí být"},
      {{"set", "din-negation", "32"}, 2, "Maska musí být"},
      {{"set", "range", "current", "range", "voltage"}, 2, "Hodnota range je zadána dvakrát."},
      {{"scan", "--addresses", "0-256"}, 2, "Adresy musí být"},
      {{"scan", "--rates", "14400"}, 2, "Komunikační rychlost musí být"},
      {{"watch", "ain1"}, 2, "Neznámá veličina: ain1"},
      {{"watch", "ain0,dout"}, 2, "Neznámá veličina: ain0,dout"},
      {{"watch", "din", "--format", "xml"}, 2, "Formát musí být text, csv nebo json."},
      {{"dout", "0,32"}, 2, "Výstupy: maska"},
      {{"calibrate", "voltage", "--reference", "10.5"}, 2, "Hodnota napětí musí být v rozsahu 4–6 V."},
      {{"calibrate", "current", "--reference", "5 mA"}, 2, "Hodnota proudu musí být v rozsahu 9–11 mA. Pozor"},
      {{"calibrate", "voltage", "--tag", "TT-1"}, 2, "Volba --tag patří jen ke kalibraci se záznamem (--record)."},
      {{"calibrate", "voltage", "--record", path("r.qx510cal"), "--tag", "TT-1", "--operator", "J"}, 2,
       "Záznam kalibrace potřebuje --reference-name"},
      {{"calibrate", "voltage", "--record", path("missing.txt"), "--tag", "T", "--operator", "J", "--reference-name", "K",
        "--tolerance", "0"},
       2, "Tolerance musí být v rozsahu 0–10 % rozsahu"},
      {{"calibrate", "voltage", "--record", path("no/such/r.qx510cal"), "--tag", "T", "--operator", "J",
        "--reference-name", "K"},
       2, "nelze záznam kalibrace zapsat"},
      {{"calibrate", "voltage", "--record", path("edited.txt"), "--tag", "T", "--operator", "J", "--reference-name", "K"},
       2, "už existuje; záznam kalibrace se nepřepisuje."},
      // Decided before the first exchange: a record that could not be written afterwards would
      // leave the module changed without a trace.
      {{"calibrate", "voltage", "--reference", "5", "--record", path("r") + QString(300, QLatin1Char('x')), "--tag", "T",
        "--operator", "J", "--reference-name", "K"},
       2, "jméno souboru je příliš dlouhé"},
      {{"calibrate", "voltage", "--record", path("r.qx510cal"), "--tag", QStringLiteral("TT") + QChar(0x202E) + "401-TT",
        "--operator", "J", "--reference-name", "K"},
       2, "Označení modulu obsahuje nedovolený znak U+202E (znak pro směr textu)."},
      {{"config", "restore", path("missing.txt")}, 2, "neexistuje"},
      {{"config", "restore", dir_.path()}, 2, "není obyčejný soubor, je to složka"},
      {{"config", "restore", path("truncated.txt")}, 2, "chybí kontrolní součet"},
      {{"config", "restore", path("edited.txt")}, 2, "kontrolní součet nesouhlasí"},
      {{"config", "verify", path("notes.txt")}, 2, "chybí kontrolní součet"},
      {{"config", "restore", path("range.txt")}, 2, "Bajt 0 (Rozsah AIN 0) = 0x11 nelze zapsat: Rozsah musí být"},
      {{"config", "verify", path("range.txt")}, 2, "Bajt 0 (Rozsah AIN 0) = 0x11 nelze zapsat"},
      {{"config", "restore", path("baud.txt"), "--with-address-rate"}, 2,
       "Bajt 62 (Komunikační rychlost) = 0x14 nelze zapsat: Komunikační rychlost musí být v rozsahu 600 Bd-115200 Bd."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    const uint64_t before = sim_->requestCount();
    const Result r = run(c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(sim_->requestCount(), before);
  }

  // A file of another module type is refused after identification, before any write.
  const SimModule::Memory before = memory(0);
  const Result r = run({"config", "restore", path("other.txt")});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.startsWith(QStringLiteral("Záloha je z modulu QX-520, připojen je modul QX-510"))) << r.err.toStdString();
  EXPECT_EQ(memory(0), before);
  EXPECT_FALSE(QFile::exists(path("W_qx510.ini")));
}

TEST_F(CliTest, NoConnectionIsExitThree) {
  const struct {
    QStringList args;
    const char* message;
  } cases[] = {
      {{"identify", "--address", "9", "--timeout", "40"}, "Modul neodpověděl"},
      {{"config", "show", "--rate", "19200", "--timeout", "20"}, "Modul neodpověděl"},
      {{"identify", "--interface", "lan", "--ip", "127.0.0.1", "--udp-port", "0"},
       "Chyba inicializace připojení - "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    const Result r = run(c.args);
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.err.startsWith(QString::fromUtf8(c.message))) << r.err.toStdString();
  }
  ::setenv(simproto::EndpointEnv, path("nobody.sock").toUtf8().constData(), 1);
  EXPECT_EQ(run({"identify"}).code, 3);
}

TEST_F(CliTest, IdentifyUsesSettingsFileAndOptionsAndSavesOnlyWhenAsked) {
  // The settings file points at module 1; options override it; nothing is written back.
  Result r = run(QStringList{"identify", "--json", "--save"} + AtModule1);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QJsonObject ident = QJsonDocument::fromJson(r.out.toUtf8()).object();
  EXPECT_EQ(ident.value("module").toString(), "QX-510");
  EXPECT_EQ(ident.value("version").toString(), "1.20");
  EXPECT_EQ(ident.value("address").toInt(), 5);
  EXPECT_EQ(ident.value("rate").toInt(), 57600);
  ASSERT_TRUE(QFile::exists(path("W_qx510.ini")));

  const QDateTime saved = QFileInfo(path("W_qx510.ini")).lastModified();
  r = run({"identify"});  // address and rate from the file now
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, "QX-510   v.1.20\n");
  EXPECT_EQ(run({"identify", "--address", "17", "--rate", "115200"}).code, 0);
  EXPECT_EQ(QFileInfo(path("W_qx510.ini")).lastModified(), saved);
}

TEST_F(CliTest, ScanFindsExactlyTheModulesPresent) {
  // Around each module's address, at the line's rates and one more; a scan timeout that
  // leaves a loaded machine time to answer.
  const Result r = run({"scan", "--addresses", "0,4-6,16-18", "--rates", "9600,57600,115200,600",
                        "--scan-timeout", "100", "--json"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  QSet<QPair<int, int>> found;
  for (const QJsonValue& v : QJsonDocument::fromJson(r.out.toUtf8()).array()) {
    found.insert({v["address"].toInt(), v["rate"].toInt()});
    EXPECT_NEAR(v["wire_ms"].toDouble(), double(wire::ExchangeTime(v["rate"].toInt()).count()) / 1e6, 0.001);
    EXPECT_GT(v["round_trip_ms"].toDouble(), 0.0);
  }
  EXPECT_EQ(found, (QSet<QPair<int, int>>{{0, 9600}, {5, 57600}, {17, 115200}}));

  // Each rate's own timeout; the configured rate comes first, and one line per module in text.
  const Result text = run({"scan", "--addresses", "4-6", "--rates", "9600,57600"});
  EXPECT_TRUE(text.out.contains(
      QRegularExpression(R"(^adresa 5, 57600 Bd: QX-510   v.1.20, odezva \d+[.,]\d ms \(vedení 8[.,]8 ms\)\n$)")))
      << text.out.toStdString();
  EXPECT_EQ(text.err, "Nalezeno modulů: 1\n");
}

// A second module at address 5: the scan names the address instead of listing a module there
// or passing it over, and finds the others; with one of the two gone, it is a module again.
TEST_F(CliTest, ScanReportsTwoModulesAtOneAddress) {
  sim_->withBus([](SimBus& bus) { bus.add(5, 7); });
  for (const bool twins : {true, false}) {
    if (!twins) sim_->withBus([](SimBus& bus) { bus.remove(3); });
    const Result r = run({"scan", "--addresses", "0,4-6,17", "--rates", "9600,57600,115200", "--scan-timeout", "100"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.count(QStringLiteral("QX-510")), twins ? 2 : 3) << r.out.toStdString();
    EXPECT_EQ(r.out.contains(QStringLiteral("adresa 5, 57600 Bd: QX-510")), !twins);
    EXPECT_EQ(r.err.contains("pravděpodobně dva moduly na adrese 5 při 57600 Bd: jejich odpovědi kolidují\n"), twins)
        << r.err.toStdString();
  }
}

TEST_F(CliTest, ScanReportsAModuleThatAnswersLaterThanItsTimeout) {
  // Module 0 answers its first identification after the try has ended, during the next one.
  sim_->withBus([](SimBus& bus) { bus.arm(0, {.kind = SimFault::Delay, .command = 200, .count = 1, .delayMs = 300}); });
  const Result r = run({"scan", "--addresses", "0,1", "--rates", "9600", "--scan-timeout", "200", "--stats"});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.startsWith("adresa 0, 9600 Bd: QX-510   v.1.20, odezva ")) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains(" (odpovídá pozdě: identifikace trvala ")) << r.out.toStdString();
  EXPECT_TRUE(r.err.contains("pozdních 1")) << r.err.toStdString();
}

TEST_F(CliTest, BackupRestoreOntoSecondModuleThenVerify) {
  sim_->withModule(0, [](SimModule& m) {
    m.setConfigByte(0, 1);     // current range
    m.setConfigByte(15, 30);   // voltage gain low
    m.setConfigByte(33, 0x81); // DIN0, DIN7 negated
    m.setConfigByte(43, 0xF0);
  });
  ASSERT_EQ(run({"config", "backup", path("m0.txt")}).code, 0);
  QFile saved(path("m0.txt"));
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(saved.readAll());
  EXPECT_TRUE(text.contains("# kalibrační konstanty (vlastní modulu):\nbyte.15=0x1e\n")) << text.toStdString();
  EXPECT_TRUE(run({"config", "show"}).out.contains("byte.15=0x1e  ; Kalibrace napětí: zesílení, nižší bajt (vlastní modulu)\n"));

  // Dry run: the differing bytes listed, the calibration constants left out, nothing written.
  const SimModule::Memory fresh = memory(1);
  Result r = run(QStringList{"config", "restore", path("m0.txt"), "--dry-run"} + AtModule1);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out.count('\n'), 3) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("byte.33 (Negace DIN, bajt 0): 0x00 (žádný bit) -> 0x81 (bity 0, 7)")) << r.out.toStdString();
  EXPECT_EQ(memory(1), fresh);

  const uint64_t serial = sim_->requestCount();
  r = run(QStringList{"config", "restore", path("m0.txt")} + AtModule1);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(writesSince(serial), 3);  // only what differs
  const SimModule::Memory m0 = memory(0), m1 = memory(1);
  for (uint8_t a : ImageAddresses()) {
    if (IsLineSetting(a) || IsCalibrationByte(a)) continue;
    EXPECT_EQ(m1[a], m0[a]) << int(a);
  }
  EXPECT_EQ(m1[63], 5);  // the line settings and the module's own constants stay unless asked
  EXPECT_EQ(m1[62], 7);
  EXPECT_EQ(m1[15], fresh[15]);

  r = run(QStringList{"config", "verify", path("m0.txt")} + AtModule1);
  EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();

  // Module 2 was never restored: every difference listed, exit 1.
  r = run({"config", "verify", path("m0.txt"), "--address", "17", "--rate", "115200", "--json"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(QJsonDocument::fromJson(r.out.toUtf8())["differences"].toArray().size(), 3);
  r = run(QStringList{"config", "verify", path("m0.txt"), "--with-address-rate"} + AtModule1);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out.count('\n'), 2);

  // Asked for, the constants come along.
  r = run(QStringList{"config", "verify", path("m0.txt"), "--with-calibration"} + AtModule1);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "byte.15 (Kalibrace napětí: zesílení, nižší bajt): modul 0x10 (16), záloha 0x1e (30)\n");
  EXPECT_EQ(run(QStringList{"config", "restore", path("m0.txt"), "--with-calibration"} + AtModule1).code, 0);
  EXPECT_EQ(memory(1)[15], 30);
}

// Whatever spoils the exchanges, a restore exits 0 only when the module then holds the backup.
TEST_F(CliTest, RestoreSucceedsOnlyWhenTheReadBackMatches) {
  sim_->withModule(0, [](SimModule& m) { m.setConfigByte(33, 0x81); });
  ASSERT_EQ(run({"config", "backup", path("m0.txt")}).code, 0);
  const auto fault = [](SimFault::Kind kind, int command, int count, SimFault::Form form = SimFault::WrongLength) {
    SimFault f;
    f.kind = kind;
    f.command = command;
    f.count = count;
    f.form = form;
    f.status = 23;
    return f;
  };
  // The first three reads are 63, 62 and the range byte; module 1's range byte 0x10 reads as
  // the backup's 0x00 when the module answers wrong values; flipped bits spoil the frame.
  const struct {
    const char* name;
    SimFault fault;
  } cases[] = {
      {"wrong value", fault(SimFault::Malformed, 102, 3, SimFault::WrongValue)},
      {"flipped bits", fault(SimFault::Malformed, 102, 3, SimFault::FlippedBits)},
      {"wrong length", fault(SimFault::Malformed, 102, 3, SimFault::WrongLength)},
      {"wrong sequence", fault(SimFault::Malformed, 102, 3, SimFault::WrongSequence)},
      {"wrong address", fault(SimFault::Malformed, 102, 3, SimFault::WrongAddress)},
      {"refused read", fault(SimFault::Refuse, 102, 1)},
      {"refused write", fault(SimFault::Refuse, 103, 1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim_->withModule(1, [](SimModule& m) {
      m.setConfigByte(0, 0x10);
      m.setConfigByte(33, 0);
    });
    sim_->withBus([&](SimBus& bus) { bus.arm(1, c.fault); });
    const Result r = run(QStringList{"config", "restore", path("m0.txt"), "--timeout", "50"} + AtModule1);
    sim_->withBus([](SimBus& bus) { bus.clearAllFaults(); });
    const bool restored = memory(1)[0] == 0 && memory(1)[33] == 0x81;
    EXPECT_EQ(r.code == 0, restored) << r.err.toStdString();
    EXPECT_TRUE(r.code == 0 || r.code == 1) << r.code;
    if (!restored) {
      EXPECT_FALSE(r.err.isEmpty());
    }
  }

  // A backup whose read failed leaves no file, and an older one untouched.
  WriteFile(path("old.txt"), "old\n");
  sim_->withBus([&](SimBus& bus) { bus.arm(0, fault(SimFault::Refuse, 102, 1)); });
  EXPECT_EQ(run({"config", "backup", path("old.txt"), "--force"}).code, 1);
  QFile old(path("old.txt"));
  ASSERT_TRUE(old.open(QIODevice::ReadOnly));
  EXPECT_EQ(old.readAll(), "old\n");
}

TEST_F(CliTest, SetWritesWithReadBackAndStopsAtTheFirstMismatch) {
  Result r = run({"set", "range", "current", "din-negation", "0,7", "dout-initial", "0x80000000"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.err, "Konfigurace zapsána.\n");
  SimModule::Memory m = memory(0);
  EXPECT_EQ(m[0], 1);
  EXPECT_EQ(m[33], 0x81);
  EXPECT_EQ(m[41], 0x80);
  EXPECT_EQ(m[32], 0);

  // The read-back of the first byte comes back altered: nothing after it is sent.
  sim_->withBus([](SimBus& bus) {
    bus.arm(0, {.kind = SimFault::Malformed, .command = 102, .count = 1, .form = SimFault::WrongValue});
  });
  const uint64_t serial = sim_->requestCount();
  r = run({"set", "dout-negation", "0xFFFFFFFF"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.startsWith("Chyba zápisu dat. Adresa 34 (Negace DOUT, bajt 0): zapsáno 0xff, zpět přečteno 0xef"))
      << r.err.toStdString();
  EXPECT_EQ(writesSince(serial), 1);
  EXPECT_EQ(memory(0)[37], 0);
}

TEST_F(CliTest, WatchPrintsTheCountInEachFormat) {
  sim_->setSourceVoltage(5.0);
  sim_->setInputSwitches(0x201);
  const struct {
    QStringList args;
    int lines;
    const char* contains;
    int slept;  // ms between the readings
  } cases[] = {
      {{"watch", "ain0", "--count", "5", "--interval", "100"}, 5, " V\n", 400},
      {{"watch", "ain0", "--count", "3", "--format", "csv"}, 4, ",V,\n", 1000},
      {{"watch", "din", "--count", "2", "--format", "json"}, 2, "\"din\":513,\"on\":[0,9]", 500},
      {{"watch", "status", "--count", "1"}, 1, "status=0x00000030 PWR RST\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    slept_ = 0;
    const Result r = run(c.args);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count('\n'), c.lines) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8(c.contains))) << r.out.toStdString();
    EXPECT_EQ(slept_, c.slept);
  }

  // Without a count the readings go on until Ctrl+C.
  slept_ = 0;
  stopAfterMs_ = 200;
  const Result stopped = run({"watch", "din", "--interval", "100"});
  stopAfterMs_ = 0;
  EXPECT_EQ(stopped.code, 130);
  EXPECT_EQ(stopped.out.count('\n'), 2) << stopped.out.toStdString();

  const Result csv = run({"watch", "ain0", "--count", "1", "--format", "csv"});
  EXPECT_TRUE(csv.out.startsWith("time,local_time,address,rate,ain0,unit,error\n")) << csv.out.toStdString();
  // A CSV file starts with the byte order mark a spreadsheet needs, unless a script asks
  // otherwise; a file written on gets no second one.
  const struct {
    QStringList args;
    int marks;
  } files[] = {{{"-o", path("a.csv")}, 1}, {{"-o", path("a.csv")}, 1}, {{"-o", path("b.csv"), "--no-bom"}, 0}};
  for (const auto& f : files) {
    ASSERT_EQ(run(QStringList{"watch", "ain0", "--count", "1", "--format", "csv"} + f.args).code, 0);
    const QByteArray bytes = FileBytes(f.args[1]);
    EXPECT_EQ(bytes.count("\xEF\xBB\xBF"), f.marks) << f.args.join(' ').toStdString();
    EXPECT_EQ(bytes.startsWith("\xEF\xBB\xBF"), f.marks > 0);
  }
  const double value = csv.out.section(',', -3, -3).toDouble();
  EXPECT_NEAR(value, 5.0 * 1.02 + 0.012, 0.002);  // uncalibrated converter
}

TEST_F(CliTest, DoutAndStatusClearReachTheModule) {
  EXPECT_EQ(run({"dout", "0,31"}).code, 0);
  EXPECT_EQ(sim_->snapshot(0).outputs(), 0x80000001u);
  EXPECT_EQ(run({"dout", "0x0000FF00"}).code, 0);
  EXPECT_EQ(sim_->snapshot(0).outputs(), 0x0000FF00u);
  ASSERT_NE(sim_->snapshot(0).statusRegister(), 0u);
  EXPECT_EQ(run({"status", "clear"}).code, 0);
  EXPECT_EQ(sim_->snapshot(0).statusRegister(), 0u);
}

TEST_F(CliTest, BackupGoesToStandardOutputAndOverwritesOnlyWhenForced) {
  Result r = run({"config", "backup", "-"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  ConfigBackup parsed;
  QString error;
  EXPECT_TRUE(ParseBackup(r.out.toUtf8(), parsed, error)) << error.toStdString();
  EXPECT_FALSE(QFile::exists("-"));

  // Standard input for restore and verify.
  input_ = r.out.toUtf8();
  EXPECT_EQ(run({"config", "verify", "-"}).code, 0);
  EXPECT_EQ(run({"config", "restore", "-", "--dry-run"}).code, 0);

  WriteFile(path("kept.txt"), "not a backup\n");
  const uint64_t before = sim_->requestCount();
  r = run({"config", "backup", path("kept.txt")});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.contains("už existuje")) << r.err.toStdString();
  EXPECT_EQ(sim_->requestCount(), before);
  QFile kept(path("kept.txt"));
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), "not a backup\n");
  kept.close();
  EXPECT_EQ(run({"config", "backup", path("kept.txt"), "-f"}).code, 0);
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_TRUE(ParseBackup(kept.readAll(), parsed, error)) << error.toStdString();
}

TEST_F(CliTest, AFailedConnectionNamesTheDriversTextAndWhereTheSettingsCameFrom) {
  ASSERT_EQ(run({"identify", "--save"}).code, 0);
  QFile file(path("W_qx510.ini"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray saved = file.readAll();
  file.close();
  const struct {
    QByteArray from, to;
    const char* message;
  } cases[] = {
      {"Timeout=150", "Timeout=0", "Chyba inicializace připojení - Neplatné parametry"},
      {"Rychlost=9600", "Rychlost=2000000", "Chyba inicializace připojení - Neplatné parametry"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to.toStdString());
    WriteFile(path("W_qx510.ini"), QByteArray(saved).replace(c.from, c.to));
    const Result r = run({"identify"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.err.startsWith(QString::fromUtf8(c.message))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("rozhraní serial COM1 → simulátor, adresa 0")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(path("W_qx510.ini"))) << r.err.toStdString();
  }
  QFile::remove(path("W_qx510.ini"));
  const Result r = run({"identify", "--address", "9", "--timeout", "30"});
  EXPECT_TRUE(r.err.contains("adresa 9, 9600 Bd, timeout 30 ms; nastavení: výchozí hodnoty")) << r.err.toStdString();

  // A port mapped in serial-ports names its device; the driver's failure says why it is not there.
  ASSERT_TRUE(QDir(dir_.path()).mkpath("qx510"));
  WriteFile(path("qx510/serial-ports"), "COM1=" + path("no-tty").toUtf8() + "\nUSB=" + path("no-usb").toUtf8() + "\n");
  const struct {
    QStringList args;
    QString named;
  } mapped[] = {
      {{"identify"}, "rozhraní serial COM1 → " + path("no-tty") + ", adresa 0"},
      {{"identify", "--interface", "usb"}, "rozhraní usb USB → " + path("no-usb") + ", adresa 0"},
      {{"identify", "--com-port", "2", "--address", "9", "--timeout", "30"}, "rozhraní serial COM2 → simulátor, adresa 9"},
  };
  for (const auto& c : mapped) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const Result m = run(c.args);
    EXPECT_EQ(m.code, 3);
    EXPECT_TRUE(m.err.contains(c.named)) << m.err.toStdString();
  }
}

TEST_F(CliTest, WarnsOnceWhenTheResponseTimeoutIsShorterThanAnExchangeOnTheWire) {
  // Through the simulator's socket the timeout holds the whole exchange: 9600 Bd 34.3 ms on
  // the wire, 57600 Bd 8.8 ms.
  const struct {
    QStringList args;
    const char* warning;  // nullptr: none
  } cases[] = {
      {{"identify", "-t", "34"}, "Varování: timeout odpovědi 34 ms je kratší než doba výměny na vedení při 9600 Bd (35 ms).\n"},
      {{"identify", "-t", "35"}, nullptr},
      {QStringList{"watch", "status", "-n", "3", "-t", "8"} + AtModule1,
       "Varování: timeout odpovědi 8 ms je kratší než doba výměny na vedení při 57600 Bd (9 ms).\n"},
      {QStringList{"watch", "status", "-n", "3", "-t", "9"} + AtModule1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const Result r = run(c.args);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.err.count("Varování"), c.warning ? 1 : 0) << r.err.toStdString();
    if (c.warning) {
      EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.warning))) << r.err.toStdString();
    }
  }
}

TEST_F(CliTest, ASignalStopsTheCommandWithItsExitStatusAndSaysHowFarItGot) {
  const struct {
    QStringList args;
    int signal, afterChecks, afterMs;
    const char* progress;
  } cases[] = {
      {{"scan", "--addresses", "0-255", "--scan-timeout", "5"}, SIGINT, 6, 0, "z 2304 pokusů.\nNalezeno modulů: 1"},
      {{"watch", "din", "--interval", "100"}, SIGTERM, -1, 200, "Sledování přerušeno po 2 čteních."},
      {{"dout", "0x1"}, SIGTERM, 0, 0, "Přerušeno signálem SIGTERM před zápisem: výstupy nezměněny."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    slept_ = 0;
    stopSignal_ = c.signal;
    stopAfterChecks_ = c.afterChecks;
    stopAfterMs_ = c.afterMs;
    const Result r = run(c.args);
    EXPECT_EQ(r.code, 128 + c.signal);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.progress))) << r.err.toStdString();
  }
  EXPECT_EQ(sim_->snapshot(0).outputs(), 0u);

  // A signal that comes after the command's last step changes nothing: the command ran to its
  // end, and its status stands.
  stopSignal_ = SIGTERM;
  stopAfterChecks_ = 1;  // the look before the write finds nothing; the one after does
  const Result late = run({"dout", "0x1"});
  stopAfterChecks_ = -1;
  EXPECT_EQ(late.code, 0);
  EXPECT_EQ(late.err, "Výstupy nastaveny: 0x00000001\nPříkaz doběhl do konce; signál SIGTERM už nic nepřerušil.\n");
  EXPECT_EQ(sim_->snapshot(0).outputs(), 1u);
}

TEST_F(CliTest, WatchReadsSeveralSourcesAndGivesAFailedReadItsLine) {
  sim_->setInputSwitches(0x201);
  const struct {
    const char* format;
    const char* header;
    const char* failed;  // the first reading's line holds this
  } cases[] = {
      {"text", nullptr, "din=0x00000201 0 9  status chyba: Modul neodpověděl"},
      {"csv", "time,local_time,address,rate,ain0,unit,din,status,error\n", ",0x00000201,,status: Modul neodpověděl"},
      {"json", nullptr, R"("error":{"status":"Modul neodpověděl)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    sim_->withBus([](SimBus& bus) { bus.arm(0, {.kind = SimFault::Silent, .command = 100, .count = 1}); });
    const Result r = run({"watch", "ain0,din,status", "-n", "2", "--format", c.format, "--timeout", "20"});
    EXPECT_EQ(r.code, 1);
    QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    if (c.header) {
      EXPECT_TRUE(r.out.startsWith(c.header)) << r.out.toStdString();
      lines.removeFirst();
    }
    ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
    EXPECT_TRUE(lines[0].contains(QString::fromUtf8(c.failed))) << lines[0].toStdString();
    EXPECT_FALSE(lines[1].contains(QStringLiteral("neodpověděl"))) << lines[1].toStdString();
    // ISO 8601 with the offset from UTC.
    EXPECT_TRUE(lines[0].contains(QRegularExpression(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d+[+-]\d\d:\d\d)")));
  }
  const Result r = run({"watch", "din", "-n", "1", "-o", path("watch.txt")});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.out.isEmpty());
  QFile file(path("watch.txt"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readAll().endsWith(" din=0x00000201 0 9\n"));
}

TEST_F(CliTest, TraceHasALinePerExchangeAndStatsCountThemByOutcome) {
  const struct {
    QStringList args;
    bool refuse;
    int code;
    int exchanges, good, timeouts, refused;
  } cases[] = {
      {{"identify"}, false, 0, 3, 3, 0, 0},
      {{"identify", "-a", "9", "-t", "20"}, false, 3, 1, 0, 1, 0},
      {{"watch", "status", "-n", "2"}, true, 1, 5, 4, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    if (c.refuse)
      sim_->withBus([](SimBus& bus) { bus.arm(0, {.kind = SimFault::Refuse, .command = 100, .count = 1}); });
    const Result r = run(c.args + QStringList{"--trace", "--stats", "--json"});
    EXPECT_EQ(r.code, c.code);
    QList<QJsonObject> trace;
    QJsonObject stats;
    for (const QString& line : r.err.split('\n', Qt::SkipEmptyParts)) {
      const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
      if (o.contains("exchanges")) stats = o;
      else if (o.contains("command")) trace << o;
    }
    EXPECT_EQ(trace.size(), c.exchanges) << r.err.toStdString();
    EXPECT_EQ(stats.value("exchanges").toInt(), c.exchanges);
    EXPECT_EQ(stats.value("good").toInt(), c.good);
    EXPECT_EQ(stats.value("timeouts").toInt(), c.timeouts);
    EXPECT_EQ(stats.value("refused").toInt(), c.refused);
    EXPECT_EQ(stats.contains("median_ms"), c.good + c.refused > 0);
    for (const QJsonObject& o : trace) {
      EXPECT_EQ(o.value("rate").toInt(), 9600);
      EXPECT_NEAR(o.value("wire_ms").toDouble(), 34.333, 0.001);
    }
  }

  // To a file, in text.
  const Result r = run({"identify", "--trace=" + path("trace.txt")});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
  QFile file(path("trace.txt"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[0].startsWith("# rozhraní serial COM1 → simulátor, adresa 0, 9600 Bd, timeout 150 ms"))
      << lines[0].toStdString();
  EXPECT_TRUE(lines[1].contains(" serial adr 0 9600 Bd  200 identifikace [0]  > 00 00 00 00 00  < 00 51 58"))
      << lines[1].toStdString();
  EXPECT_TRUE(lines[1].endsWith(" ms (vedení 34.333 ms)")) << lines[1].toStdString();
}

TEST_F(CliTest, TheProgressBarIsClearedBeforeAnyOtherOutput) {
  terminal_ = true;
  oneScreen_ = true;
  const Result r = run({"scan", "--addresses", "4-6", "--rates", "57600", "--scan-timeout", "100"});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.out.contains(QRegularExpression("\\r *\\radresa 5, 57600 Bd"))) << r.out.toStdString();
  EXPECT_FALSE(r.out.contains("%adresa")) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains(QRegularExpression(" %, zbývá asi 0:0\\d"))) << "the time left, as the workbench says it";
}

TEST_F(CliTest, CalibrationCorrectsTheVoltageRange) {
  sim_->withModule([](SimModule& m) { m.setConverterError({1.03, 25.0, -40.0}); });
  // The operator shorts the input, then applies 5 V and types it.
  const auto bench = [this](int step) {
    sim_->setShortCircuit(step == 0);
    sim_->setSourceVoltage(5.0);
  };
  const struct {
    QStringList args;
    QStringList lines;
    int asked;
  } cases[] = {
      {{"calibrate", "voltage"}, {"", "5"}, 2},
      {{"calibrate", "voltage", "--zero-ready", "--reference", "5.0"}, {""}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    int asked = 0;
    sim_->setShortCircuit(true);
    const Result r = run(c.args + QStringList{"--settle", "0"}, c.lines, [&](int k) {
      asked = k + 1;
      bench(c.asked == 1 ? k + 1 : k);
    });
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(asked, c.asked);
    EXPECT_TRUE(r.out.contains("Vstup zkalibrován (je nutno vypnout a zapnout napájení modulu).")) << r.out.toStdString();
    // What happened: the new constants stay, the range byte went back.
    EXPECT_TRUE(r.err.contains("Nové kalibrační konstanty zapsány; původní rozsah vstupu nastaven zpět.\n")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("obnoveny")) << r.err.toStdString();
    sim_->powerCycle();
    const Result w = run({"watch", "ain0", "--count", "1", "--format", "csv"});
    EXPECT_NEAR(w.out.section(',', -3, -3).toDouble(), 5.0, 0.001 + 1e-9) << w.out.toStdString();
  }

  // Abandoned when the input ends before the reference or on Ctrl+C in a settling pause: the
  // module gets back its range byte and both ranges' constants.
  const auto calibrationBytes = [this] {
    const SimModule::Memory m = memory(0);
    std::vector<uint8_t> bytes = {m[0]};
    bytes.insert(bytes.end(), m.begin() + 15, m.begin() + 23);
    return bytes;
  };
  const std::vector<uint8_t> before = calibrationBytes();
  const struct {
    QStringList args, lines;
    int stopAfterMs, code;
  } abandoned[] = {{{"calibrate", "current", "--settle", "0"}, {""}, 0, 2},
                   {{"calibrate", "current", "--settle", "1000"}, {""}, 1000, 130},
                   {{"calibrate", "voltage", "--reference", "5.0", "--settle", "1000"}, {"", ""}, 2000, 130}};
  for (const auto& c : abandoned) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    slept_ = 0;
    stopAfterMs_ = c.stopAfterMs;
    const Result r = run(c.args, c.lines);
    stopAfterMs_ = 0;
    EXPECT_EQ(r.code, c.code);
    EXPECT_TRUE(r.err.endsWith("Původní rozsah vstupu a kalibrační konstanty obnoveny.\nKalibrace vstupu zrušena !\n"))
        << r.err.toStdString();
    EXPECT_EQ(calibrationBytes(), before);
  }
}

TEST_F(CliTest, HelpForEveryCommand) {
  const QStringList commands[] = {{"identify"}, {"scan"}, {"config", "show"}, {"config", "backup"},
                                  {"config", "restore"}, {"config", "verify"}, {"set"}, {"watch"},
                                  {"dout"}, {"status", "clear"}, {"calibrate"}};
  for (const QStringList& words : commands) {
    const Result r = run(words + QStringList{"--help"});
    EXPECT_EQ(r.code, 0) << words.join(' ').toStdString();
    EXPECT_TRUE(r.out.startsWith("qx510-cli " + words.join(' '))) << r.out.toStdString();
  }
  // Command groups, the short form and the version, as every Qt program has them.
  const struct {
    QStringList args;
    const char* start;
  } others[] = {
      {{"config", "--help"}, "qx510-cli config PODPŘÍKAZ"},
      {{"status", "--help"}, "qx510-cli status PODPŘÍKAZ"},
      {{"watch", "-h"}, "qx510-cli watch"},
      {{"--version"}, "qx510-cli 1."},
      {{"-v"}, "qx510-cli 1."},
  };
  for (const auto& o : others) {
    const Result r = run(o.args);
    EXPECT_EQ(r.code, 0) << o.args.join(' ').toStdString();
    EXPECT_TRUE(r.out.startsWith(QString::fromUtf8(o.start))) << r.out.toStdString();
  }
  EXPECT_TRUE(run({"config", "--help"}).out.contains("qx510-cli config restore SOUBOR|-"));
  EXPECT_EQ(sim_->requestCount(), 0u);
  EXPECT_EQ(run({"--help"}).code, 0);
  EXPECT_EQ(run({}).code, 2);
}

// The eight negation bytes of module 1 spoilt, so that a restore from a backup of module 0
// writes eight bytes, in this order.
std::vector<uint8_t> NegationAddresses() {
  std::vector<uint8_t> bytes;
  for (uint8_t base : {CfgAddr::DinNegation, CfgAddr::DoutNegation})
    for (int j = 0; j < 4; ++j) bytes.push_back(uint8_t(base + j * CfgAddr::DigitalStride));
  return bytes;
}

class CliRestoreTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    ASSERT_EQ(run({"config", "backup", path("m0.txt")}).code, 0);
    sim_->withModule(1, [](SimModule& m) {
      for (uint8_t a : NegationAddresses()) m.setConfigByte(a, 0x5A);
    });
    serial_ = sim_->requestCount();
  }
  int restoredBytes() {
    int n = 0;
    for (uint8_t a : NegationAddresses()) n += memory(1)[a] == memory(0)[a];
    return n;
  }
  // Configuration reads since the last write (or since the start, when none was made).
  int readsAfterLastWrite() {
    int reads = 0;
    for (const SimLogEntry& e : sim_->logSince(serial_)) {
      if (e.request.command == Cmd::WriteConfigByte) reads = 0;
      reads += e.request.command == Cmd::ReadConfigByte;
    }
    return reads;
  }
  uint64_t serial_ = 0;
};

// A signal stops a restore at the next byte; the message says which bytes the module now holds,
// and the status is 128 + the signal only when the signal cut the restore short.
TEST_F(CliRestoreTest, ASignalStopsTheRestoreAtTheNextByteAndSaysWhatTheModuleHolds) {
  const int image = int(ImageAddresses().size());
  const struct {
    const char* name;
    int signal;
    std::function<bool()> when;
    int code, written;
    const char* message;
  } cases[] = {
      {"while the module is read", SIGINT, [this] { return readsAfterLastWrite() >= 3; }, 130, 0,
       "Přerušeno signálem SIGINT při čtení modulu, před prvním zápisem: nic nezapsáno, modul beze změny."},
      {"after the second write", SIGINT, [this] { return writesSince(serial_) >= 2; }, 130, 2,
       "Obnova přerušena signálem SIGINT: zapsáno a ověřeno 2 z 8 bajtů (adresy 33, 36), nezapsáno 6 (adresy 39, 42, 34, "
       "37, 40, 43): modul je zapsán jen zčásti a drží směs nových hodnot a svých dřívějších.\n"},
      {"SIGTERM after the seventh write", SIGTERM, [this] { return writesSince(serial_) >= 7; }, 143, 7,
       "Obnova přerušena signálem SIGTERM: zapsáno a ověřeno 7 z 8 bajtů"},
      // The last write's read-back, then five bytes of the final read.
      {"during the final read-back", SIGINT, [&] { return writesSince(serial_) == 8 && readsAfterLastWrite() >= 1 + 5; },
       130, 8,
       "Obnova přerušena signálem SIGINT: zapsáno a ověřeno všech 8 bajtů (adresy 33, 36, 39, 42, 34, 37, 40, 43); celá "
       "paměť zpětně nepřečtena"},
      {"after the final read-back", SIGINT,
       [&] { return writesSince(serial_) == 8 && readsAfterLastWrite() >= 1 + image; }, 0, 8,
       "Konfigurace zapsána a zpětně ověřena.\nPříkaz doběhl do konce; signál SIGINT už nic nepřerušil.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim_->withModule(1, [](SimModule& m) {
      for (uint8_t a : NegationAddresses()) m.setConfigByte(a, 0x5A);
    });
    serial_ = sim_->requestCount();
    stopSignal_ = c.signal;
    stopWhen_ = c.when;
    const Result r = run(QStringList{"config", "restore", path("m0.txt")} + AtModule1);
    stopWhen_ = {};
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
    EXPECT_EQ(writesSince(serial_), c.written);
    EXPECT_EQ(restoredBytes(), c.written);
  }
}

// The restore of the companion program itself, against a module whose writes answer late: a
// SIGINT or SIGTERM ends it within one exchange, with the message and the shell's status.
TEST_F(CliRestoreTest, TheProgramStopsARestoreWithinOneExchangeOfASignal) {
  constexpr int DelayMs = 400;
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
    sim_->withModule(1, [](SimModule& m) {
      for (uint8_t a : NegationAddresses()) m.setConfigByte(a, 0x5A);
    });
    sim_->withBus([](SimBus& bus) {
      bus.arm(1, SimFault{.kind = SimFault::Delay, .command = Cmd::WriteConfigByte, .delayMs = DelayMs});
    });
    serial_ = sim_->requestCount();
    QProcess cli;
    cli.start(QStringLiteral(QX510_CLI), QStringList{"config", "restore", path("m0.txt"), "--interface", "serial",
                                                     "--com-port", "1", "--timeout", "2000"} + AtModule1);
    ASSERT_TRUE(cli.waitForStarted(10000));
    QDeadlineTimer firstWrite(30000);
    while (writesSince(serial_) < 1 && !firstWrite.hasExpired() && cli.state() == QProcess::Running) QThread::msleep(5);
    ASSERT_EQ(cli.state(), QProcess::Running) << cli.readAllStandardError().toStdString();
    const int writesAtSignal = writesSince(serial_);
    ASSERT_GE(writesAtSignal, 1);
    QElapsedTimer took;
    took.start();
    ASSERT_EQ(::kill(pid_t(cli.processId()), signal), 0);
    ASSERT_TRUE(cli.waitForFinished(10000));
    const qint64 ms = took.elapsed();
    sim_->withBus([](SimBus& bus) { bus.clearAllFaults(); });
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 128 + signal) << err.toStdString();
    // The write under way when the signal came goes on to its read-back; no other is begun.
    const int written = writesSince(serial_);
    EXPECT_LE(written - writesAtSignal, 1);
    EXPECT_LT(written, 8);
    EXPECT_LT(ms, DelayMs + 1500);
    EXPECT_EQ(restoredBytes(), written);
    EXPECT_TRUE(err.contains(QStringLiteral("Obnova přerušena signálem %1: zapsáno a ověřeno %2 z 8 bajtů")
                                 .arg(signal == SIGINT ? "SIGINT" : "SIGTERM")
                                 .arg(written)))
        << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("drží směs"))) << err.toStdString();
  }
}

// A signal stops a calibration at the next byte of its start or its store, and the write-back
// leaves the module as found; one that comes after the constants are in changes nothing.
TEST_F(CliTest, ASignalStopsACalibrationAtTheNextByteThroughItsWriteBack) {
  const auto calibrationBytes = [this] {
    const SimModule::Memory m = memory(0);
    std::vector<uint8_t> bytes = {m[0]};
    bytes.insert(bytes.end(), m.begin() + 15, m.begin() + 23);
    return bytes;
  };
  sim_->withModule([](SimModule& m) { m.setConverterError({1.03, 25.0, -40.0}); });
  const std::vector<uint8_t> before = calibrationBytes();
  const struct {
    const char* name;
    int afterWrites;  // the signal comes once this many writes were made
    int code;
    bool calibrated;
    const char* message;
  } cases[] = {
      {"during the start", 2, 130, false,
       "Přerušeno signálem SIGINT; co kalibrace v modulu změnila, se zapisuje zpět.\n"
       "Původní rozsah vstupu a kalibrační konstanty obnoveny.\nKalibrace vstupu zrušena !\n"},
      {"during the store of the constants", 6, 130, false,
       "Přerušeno signálem SIGINT; co kalibrace v modulu změnila, se zapisuje zpět.\n"
       "Původní rozsah vstupu a kalibrační konstanty obnoveny.\nKalibrace vstupu zrušena !\n"},
      {"after the constants are in", 9, 0, true,
       "Nové kalibrační konstanty zapsány; původní rozsah vstupu nastaven zpět.\n"
       "Příkaz doběhl do konce; signál SIGINT už nic nepřerušil.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim_->withModule([&](SimModule& m) {
      m.setConfigByte(0, before[0]);
      for (int k = 0; k < 8; ++k) m.setConfigByte(15 + k, before[size_t(k) + 1]);
    });
    sim_->setShortCircuit(true);
    const uint64_t serial = sim_->requestCount();
    stopWhen_ = [&] { return writesSince(serial) >= c.afterWrites; };
    const Result r = run({"calibrate", "voltage", "--zero-ready", "--reference", "5.0", "--settle", "0"}, {""}, [this](int) {
      sim_->setShortCircuit(false);
      sim_->setSourceVoltage(5.0);
    });
    stopWhen_ = {};
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith(QString::fromUtf8(c.message))) << r.err.toStdString();
    EXPECT_EQ(r.out.contains("Vstup zkalibrován"), c.calibrated) << r.out.toStdString();
    if (c.calibrated) {
      EXPECT_EQ(calibrationBytes()[0], before[0]);
      EXPECT_NE(calibrationBytes(), before);
    } else {
      EXPECT_EQ(calibrationBytes(), before);
    }
  }
}

// calibrate run by a script through pipes: each prompt reaches the script before the program
// waits for its answer, and the success message says what happened.
TEST_F(CliTest, TheCalibrationPromptsReachAPipeBeforeTheProgramWaits) {
  sim_->withModule([](SimModule& m) { m.setConverterError({1.03, 25.0, -40.0}); });
  const struct {
    const char* name;
    QStringList options;
    QStringList prompts;  // each answered after it has been read from the pipe
  } cases[] = {
      {"both prompts", {}, {"Zkratujte napěťový vstup", "Odstraňte zkrat"}},
      {"the reference alone", {"--zero-ready"}, {"Odstraňte zkrat"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim_->setShortCircuit(true);
    QProcess cli;
    cli.start(QStringLiteral(QX510_CLI), QStringList{"calibrate", "voltage", "--settle", "0", "--interface", "serial",
                                                     "--com-port", "1", "--address", "0", "--rate", "9600"} +
                                             c.options);
    ASSERT_TRUE(cli.waitForStarted(10000));
    QByteArray out;
    for (const QString& prompt : c.prompts) {
      QDeadlineTimer deadline(20000);
      while (!QString::fromUtf8(out).contains(prompt) && !deadline.hasExpired() && cli.state() == QProcess::Running) {
        cli.waitForReadyRead(100);
        out += cli.readAllStandardOutput();
      }
      ASSERT_TRUE(QString::fromUtf8(out).contains(prompt))
          << "no prompt on the pipe: " << out.toStdString() << cli.readAllStandardError().toStdString();
      if (prompt.startsWith(QLatin1String("Zkratujte"))) {
        cli.write("\n");
      } else {
        sim_->setShortCircuit(false);
        sim_->setSourceVoltage(5.0);
        cli.write("5\n");
      }
    }
    ASSERT_TRUE(cli.waitForFinished(20000));
    out += cli.readAllStandardOutput();
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    EXPECT_EQ(cli.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(out).contains("Vstup zkalibrován")) << out.toStdString();
    EXPECT_TRUE(err.contains("Nové kalibrační konstanty zapsány; původní rozsah vstupu nastaven zpět.")) << err.toStdString();
  }
}

// watch holds the line and writes nothing, so the input's range changes under it only while
// the module is away: after a failed reading, the range is read again before the next value,
// and a value whose range could not be read is no number.
TEST_F(CliTest, WatchReadsTheRangeAgainAfterTheModuleWasSilent) {
  sim_->setSourceVoltage(5.0);
  sim_->setSourceCurrent(12.5);
  sim_->withModule([](SimModule& m) { m.setConverterError({1.0, 0.0, 0.0}); });
  const struct {
    const char* name;
    int silentRangeReads;  // the range's read after the silence also fails this many times
    QStringList units;     // of the four readings; empty: no value
  } cases[] = {
      {"the range read again at once", 0, {"V", "", "mA", "mA"}},
      {"the range read again only later", 1, {"V", "", "", "mA"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim_->withModule([](SimModule& m) { m.setConfigByte(CfgAddr::AinRange, 0); });
    slept_ = 0;
    // Between the first reading and the second the module is reconfigured to current and
    // misses an exchange.
    onSleep_ = [&](int slept) {
      if (slept != 100) return;
      sim_->withModule([](SimModule& m) { m.setConfigByte(CfgAddr::AinRange, 1); });
      // The reading's exchange, then as many of the range's reads, go unanswered.
      sim_->withBus([&](SimBus& bus) { bus.arm(0, SimFault{.kind = SimFault::Silent, .count = 1 + c.silentRangeReads}); });
    };
    const Result r = run({"watch", "ain0", "--count", "4", "--interval", "100", "--format", "csv", "--timeout", "200"});
    onSleep_ = {};
    EXPECT_EQ(r.code, 1);
    QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << r.out.toStdString();
    lines.removeFirst();
    for (int k = 0; k < 4; ++k) {
      const QStringList cells = lines[k].split(',');
      SCOPED_TRACE(lines[k].toStdString());
      ASSERT_GE(cells.size(), 7);
      EXPECT_EQ(cells[5], c.units[k]);
      const double want = c.units[k] == QLatin1String("V") ? 5.0 : 12.5;
      if (c.units[k].isEmpty()) {
        EXPECT_TRUE(cells[4].isEmpty());
      } else {
        EXPECT_NEAR(cells[4].toDouble(), want, 0.01);
      }
    }
    if (c.silentRangeReads > 0) {
      EXPECT_TRUE(lines[2].contains(QStringLiteral("rozsah vstupu 0 nepřečten"))) << lines[2].toStdString();
    }
  }
}

TEST(CliArgs, MasksAddressListsAndOptionValues) {
  const struct {
    const char* text;
    bool ok;
    uint32_t mask;
  } masks[] = {
      {"0x0000FF00", true, 0xFF00}, {"0,31", true, 0x80000001}, {"7", true, 0x80}, {"none", true, 0},
      {"0x", false, 0},             {"0x123456789", false, 0},   {"32", false, 0}, {"1,,2", false, 0},
      {"0x-1", false, 0},           {"", false, 0},
  };
  for (const auto& m : masks) {
    uint32_t mask = 0xDEAD;
    EXPECT_EQ(ParseMask32(QString::fromUtf8(m.text), mask), m.ok) << m.text;
    if (m.ok) {
      EXPECT_EQ(mask, m.mask) << m.text;
    }
  }

  const struct {
    const char* text;
    std::vector<uint8_t> addresses;  // empty: refused
  } lists[] = {
      {"5,1-3,2", {5, 1, 2, 3}}, {"255", {255}}, {"3-1", {}}, {"256", {}}, {"1-2-3", {}}, {"", {}},
  };
  for (const auto& l : lists) {
    std::vector<uint8_t> out;
    EXPECT_EQ(ParseAddressList(QString::fromUtf8(l.text), out), !l.addresses.empty()) << l.text;
    if (!l.addresses.empty()) {
      EXPECT_EQ(out, l.addresses) << l.text;
    }
  }
  std::vector<uint8_t> all;
  ASSERT_TRUE(ParseAddressList(QStringLiteral("0-255"), all));
  EXPECT_EQ(all.size(), 256u);

  ParsedArgs parsed;
  EXPECT_TRUE(ParseArgs({"watch", "--count=5", "din"}, {"count="}, parsed).isEmpty());
  EXPECT_EQ(parsed.value("count"), "5");
  EXPECT_EQ(parsed.positional, (QStringList{"watch", "din"}));
  ParsedArgs flag;
  EXPECT_EQ(ParseArgs({"--json=1"}, {"json"}, flag), "Volba --json nemá hodnotu.");
}

// Where a file the companion writes cannot be written, it says so with the file and the reason
// and exits 2; what was there before stays.

TEST_F(CliTest, BackupNeverReplacesADeviceAFifoOrAFolderNotEvenWithForce) {
  const QString null = PrivateCharDevice(path("null"), "null"), full = PrivateCharDevice(path("full"), "full");
  if (null.isEmpty() || full.isEmpty()) GTEST_SKIP() << "no character device of the test's own";
  ASSERT_TRUE(MakeFifo(path("fifo")));
  ASSERT_EQ(::symlink(QFile::encodeName(full).constData(), QFile::encodeName(path("to-full")).constData()), 0);
  const struct {
    QString target;
    mode_t type;
    const char* kind;
  } cases[] = {
      {null, S_IFCHR, "znakové zařízení"},
      {full, S_IFCHR, "znakové zařízení"},
      {path("fifo"), S_IFIFO, "roura (FIFO)"},
      {dir_.path(), S_IFDIR, "složka"},
      {path("to-full"), S_IFLNK, "znakové zařízení"},
  };
  for (const auto& c : cases) {
    for (const bool force : {false, true}) {
      SCOPED_TRACE(c.target.toStdString() + (force ? " --force" : ""));
      const uint64_t before = sim_->requestCount();
      QStringList args{"config", "backup", c.target};
      if (force) args << "--force";
      const Result r = run(args);
      EXPECT_EQ(r.code, 2);
      EXPECT_EQ(r.err, QStringLiteral("Soubor %1 nelze zapsat: není obyčejný soubor, je to %2.\n")
                           .arg(c.target, QString::fromUtf8(c.kind)));
      EXPECT_EQ(sim_->requestCount(), before);
      EXPECT_EQ(NodeType(c.target), c.type);
    }
  }
  // A trace or a watch into one is refused before any traffic as well.
  const uint64_t before = sim_->requestCount();
  Result r = run({"identify", "--trace=" + path("fifo")});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, QStringLiteral("Soubor stopy %1 nelze zapsat: není obyčejný soubor, je to roura (FIFO).\n").arg(path("fifo")));
  r = run({"watch", "din", "-n", "1", "-o", full});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, QStringLiteral("Soubor %1 nelze zapsat: není obyčejný soubor, je to znakové zařízení.\n").arg(full));
  EXPECT_EQ(NodeType(full), mode_t(S_IFCHR));
  EXPECT_EQ(sim_->requestCount(), before);
  EXPECT_EQ(NodeType(path("fifo")), mode_t(S_IFIFO));
}

TEST_F(CliTest, BackupOnAFullDiskKeepsTheOldBackupAndExitsTwo) {
  ASSERT_EQ(run({"config", "backup", path("m0.txt")}).code, 0);
  const QByteArray good = FileBytes(path("m0.txt"));
  ASSERT_GT(good.size(), 200);
  Result r;
  {
    FileSizeLimit limit(64);
    r = run({"config", "backup", path("m0.txt"), "--force"});
  }
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, QStringLiteral("Soubor %1 nelze zapsat: soubor by byl větší, než systém dovoluje.\n").arg(path("m0.txt")));
  EXPECT_EQ(FileBytes(path("m0.txt")), good);
  EXPECT_EQ(QDir(dir_.path()).entryList({"m0.txt*"}, QDir::Files | QDir::Hidden), QStringList{"m0.txt"});
}

TEST_F(CliTest, BackupToAFullOrClosedStandardOutputExitsTwo) {
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  const int closed = 987;  // high enough that nothing the run opens takes it
  ASSERT_EQ(::fcntl(closed, F_GETFD), -1);
  const struct {
    int fd;
    const char* reason;
  } cases[] = {{full, "na zařízení není volné místo"}, {closed, "výstup je zavřený nebo není otevřen pro zápis"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    outFd_ = c.fd;
    Result r = run({"config", "backup", "-"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, QStringLiteral("Konfiguraci nelze zapsat na standardní výstup: %1.\n").arg(QString::fromUtf8(c.reason)));
    // Any other command's data: said at its end, exit 2.
    r = run({"config", "show"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, QStringLiteral("Standardní výstup nelze zapsat: %1; výstup příkazu je neúplný.\n")
                         .arg(QString::fromUtf8(c.reason)));
    // A watch stops at its first line.
    slept_ = 0;
    r = run({"watch", "din", "-n", "5", "--interval", "100"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, QStringLiteral("Sledování zastaveno: standardní výstup nelze zapsat: %1; zapsáno 0 čtení.\n")
                         .arg(QString::fromUtf8(c.reason)));
    EXPECT_EQ(slept_, 0);
  }
  outFd_ = -1;
  ::close(full);
}

TEST_F(CliTest, ATraceOrAWatchFileThatFillsUpStopsAndSaysHowFarItGot) {
  // watch -o: the readings stop with the first line that does not fit.
  slept_ = 0;
  Result r;
  {
    FileSizeLimit limit(150);
    r = run({"watch", "din", "-n", "10", "--interval", "100", "-o", path("watch.txt")});
  }
  EXPECT_EQ(r.code, 2);
  const QRegularExpression watchStopped(
      QStringLiteral("^Sledování zastaveno: soubor (.+) nelze zapsat: soubor by byl větší, než systém dovoluje; "
                     "zapsán[oa] (\\d+) čtení \\((\\d+) B\\)\\.\\n$"));
  QRegularExpressionMatch m = watchStopped.match(r.err);
  ASSERT_TRUE(m.hasMatch()) << r.err.toStdString();
  EXPECT_EQ(m.captured(1), path("watch.txt"));
  QByteArray file = FileBytes(path("watch.txt"));
  const int readings = m.captured(2).toInt();
  EXPECT_GE(readings, 1);
  EXPECT_LT(readings, 10);
  EXPECT_EQ(file.count('\n'), readings);
  EXPECT_EQ(file.size(), m.captured(3).toInt());
  EXPECT_TRUE(file.endsWith('\n'));
  EXPECT_EQ(slept_, readings * 100);  // no reading after the one that failed

  // --trace=FILE: the trace stops, the command goes on and then exits 2.
  {
    FileSizeLimit limit(600);
    r = run({"watch", "din", "-n", "5", "--trace=" + path("trace.txt")});
  }
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out.count('\n'), 5);
  const QRegularExpression traceStopped(
      QStringLiteral("Stopa do (.+) zastavena po (\\d+) řádcích \\((\\d+) B\\): soubor by byl větší, než systém dovoluje\\.\\n"));
  m = traceStopped.match(r.err);
  ASSERT_TRUE(m.hasMatch()) << r.err.toStdString();
  EXPECT_EQ(m.captured(1), path("trace.txt"));
  file = FileBytes(path("trace.txt"));
  EXPECT_EQ(file.count('\n'), m.captured(2).toInt());
  EXPECT_EQ(file.size(), m.captured(3).toInt());
  EXPECT_LE(file.size(), 600);
  EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
}

TEST_F(CliTest, StandardInputOrAFileOverAMegabyteIsRefused) {
  for (const char* command : {"verify", "restore"}) {
    SCOPED_TRACE(command);
    input_ = QByteArray((1 << 20) + 1, 'x');
    const uint64_t before = sim_->requestCount();
    Result r = run({"config", command, "-"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Standardní vstup je větší než 1 MB (1048576 B), záloha to není; nic neprovedeno.\n");
    // One megabyte exactly is read and judged as a backup.
    input_->chop(1);
    r = run({"config", command, "-"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("chybí kontrolní součet")) << r.err.toStdString();
    EXPECT_EQ(sim_->requestCount(), before);
  }
  WriteFile(path("huge.txt"), QByteArray((1 << 20) + 1, 'x'));
  const Result r = run({"config", "verify", path("huge.txt")});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, QStringLiteral("Soubor %1 je větší než 1 MB (1048576 B), záloha to není; nic neprovedeno.\n").arg(path("huge.txt")));
}

// The program itself, with its standard streams as the shell would set them.
struct Spawned {
  int code = -1;
  QString err;
};

// Runs qx510-cli on module 0 with standard error into a file and standard input empty unless
// `streams` arranges them otherwise; `meanwhile` runs while it does.
Spawned Spawn(const QString& errPath, const QStringList& args,
              const std::function<void(posix_spawn_file_actions_t*)>& streams,
              const std::function<void(pid_t)>& meanwhile = {}) {
  QList<QByteArray> words{QByteArrayLiteral(QX510_CLI)};
  for (const QString& a : args + QStringList{"-i", "serial", "--com-port", "1", "-a", "0", "-r", "9600"})
    words << a.toUtf8();
  std::vector<char*> argv;
  for (QByteArray& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const QByteArray err = QFile::encodeName(errPath);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  streams(&actions);
  Spawned result;
  pid_t pid = 0;
  const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(started, 0) << std::strerror(started);
  if (started != 0) return result;
  if (meanwhile) meanwhile(pid);
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.err = QString::fromUtf8(FileBytes(errPath));
  return result;
}

TEST_F(CliTest, TheProgramsStandardOutputFullClosedOrCutShortFailsTheBackup) {
  NoSigpipe noSigpipe;
  const QString errPath = path("err.txt");
  const QStringList backup{"config", "backup", "-"};
  Spawned s = Spawn(errPath, backup, [](posix_spawn_file_actions_t* a) {
    posix_spawn_file_actions_addopen(a, STDOUT_FILENO, "/dev/full", O_WRONLY, 0);
  });
  EXPECT_EQ(s.code, 2);
  EXPECT_EQ(s.err, "Konfiguraci nelze zapsat na standardní výstup: na zařízení není volné místo.\n");

  s = Spawn(errPath, backup, [](posix_spawn_file_actions_t* a) { posix_spawn_file_actions_addclose(a, STDOUT_FILENO); });
  EXPECT_EQ(s.code, 2);
  EXPECT_EQ(s.err, "Konfiguraci nelze zapsat na standardní výstup: výstup je zavřený nebo není otevřen pro zápis.\n");

  // | head -c10, and | cat for comparison: the backup counts as saved once the reader has it all.
  for (const bool readAll : {false, true}) {
    SCOPED_TRACE(readAll ? "| cat" : "| head -c10");
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    QByteArray got;
    s = Spawn(
        errPath, backup, [&](posix_spawn_file_actions_t* a) { posix_spawn_file_actions_adddup2(a, p[1], STDOUT_FILENO); },
        [&](pid_t) {
          ::close(p[1]);
          char buffer[65536];
          ssize_t n;
          while ((n = ::read(p[0], buffer, readAll ? sizeof buffer : 10)) > 0) {
            got.append(buffer, n);
            if (!readAll) break;
          }
          ::close(p[0]);
        });
    if (readAll) {
      EXPECT_EQ(s.code, 0) << s.err.toStdString();
      EXPECT_EQ(s.err, "Konfigurace uložena na standardní výstup.\n");
      ConfigBackup parsed;
      QString error;
      EXPECT_TRUE(ParseBackup(got, parsed, error)) << error.toStdString();
    } else {
      EXPECT_EQ(got.size(), 10);
      EXPECT_EQ(s.code, 2);
      EXPECT_TRUE(s.err.startsWith("Konfiguraci nelze zapsat na standardní výstup: druhá strana roury nebo spojení už "
                                   "nečte (nepřečteno "))
          << s.err.toStdString();
    }
  }

  // A watch into a pipe whose reader went away stops there.
  int p[2];
  ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
  s = Spawn(
      errPath, {"watch", "din", "-n", "100", "--interval", "20"},
      [&](posix_spawn_file_actions_t* a) { posix_spawn_file_actions_adddup2(a, p[1], STDOUT_FILENO); },
      [&](pid_t) {
        ::close(p[1]);
        char c = 0;
        while (::read(p[0], &c, 1) == 1 && c != '\n') {
        }
        ::close(p[0]);
      });
  EXPECT_EQ(s.code, 2);
  EXPECT_TRUE(s.err.contains(QRegularExpression(
      "^Sledování zastaveno: standardní výstup nelze zapsat: druhá strana roury nebo spojení už nečte; zapsáno \\d+ čtení\\.\\n$")))
      << s.err.toStdString();
}

TEST_F(CliTest, TheProgramReadsNoMoreThanAMegabyteOfStandardInput) {
  NoSigpipe noSigpipe;
  int p[2];
  ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
  const int pipeSize = ::fcntl(p[1], F_GETPIPE_SZ);
  ASSERT_GT(pipeSize, 0);
  qint64 accepted = 0;
  const uint64_t before = sim_->requestCount();
  const Spawned s = Spawn(
      path("err.txt"), {"config", "verify", "-"},
      [&](posix_spawn_file_actions_t* a) { posix_spawn_file_actions_adddup2(a, p[0], STDIN_FILENO); },
      [&](pid_t pid) {
        ::close(p[0]);
        ::fcntl(p[1], F_SETFL, O_NONBLOCK);
        const QByteArray chunk(65536, 'x');
        // 600 MB offered, as much as the program takes.
        while (accepted < (qint64(600) << 20)) {
          const ssize_t n = ::write(p[1], chunk.constData(), std::size_t(chunk.size()));
          if (n > 0) {
            accepted += n;
            continue;
          }
          if (errno != EAGAIN) break;  // EPIPE: the program has ended
          siginfo_t info{};
          if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) break;
          pollfd w{p[1], POLLOUT, 0};
          ::poll(&w, 1, 20);
        }
        ::close(p[1]);
      });
  EXPECT_EQ(s.code, 2);
  EXPECT_EQ(s.err, "Standardní vstup je větší než 1 MB (1048576 B), záloha to není; nic neprovedeno.\n");
  EXPECT_GT(accepted, qint64(1) << 20);
  EXPECT_LE(accepted, (qint64(1) << 20) + 1 + pipeSize);
  EXPECT_EQ(sim_->requestCount(), before);
}

// calibrate --record: the readings before and after the calibration, the power cycle between,
// a record of the whole, and its certificate.
class CliRecordTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    sim_->withModule([](SimModule& m) { m.setConverterError({1.03, 25.0, -40.0}); });
  }
  std::vector<uint8_t> calibrationBytes() {
    const SimModule::Memory m = memory(0);
    std::vector<uint8_t> bytes = {m[0]};
    bytes.insert(bytes.end(), m.begin() + 15, m.begin() + 23);
    return bytes;
  }
  // The values of the module's answers to Command 0 since `serial`, in the unit of `range`,
  // with the three decimals the module sends in it.
  std::vector<double> readingsSince(uint64_t serial, uint8_t range) {
    std::vector<double> values;
    for (const SimLogEntry& e : sim_->logSince(serial))
      if (e.request.command == Cmd::ReadChannel && e.answer && e.answer->status == 0) {
        const auto& d = e.answer->data;
        const double value = DecodeMeasuredValue(d[1], d[2], d[3], d[4]) * (range == RangeCurrent ? 1000.0 : 1.0);
        values.push_back(std::round(value * 1000.0) / 1000.0);
      }
    return values;
  }
  // The operator at each prompt: 0 reference applied (as found), 1 input shorted, 2 reference
  // applied again, 3 the module switched off and on, 4 reference left applied (as left).
  std::function<void(int)> bench(uint8_t range, double reference) {
    return [this, range, reference](int step) {
      sim_->setShortCircuit(step == 1);
      if (range == RangeVoltage)
        sim_->setSourceVoltage(reference);
      else
        sim_->setSourceCurrent(reference);
      if (step == 3) sim_->powerCycle();
    };
  }
  QStringList recordArgs(const QString& range, const QString& reference, const QString& file) {
    return {"calibrate", range, "--reference", reference, "--settle", "0", "--readings", "3", "--record", file,
            "--tag", "TT-104/č.2", "--operator", "Jiří Šťastný", "--reference-name", "Kalibrátor K1",
            "--reference-serial", "SN 42", "--reference-valid-until", "2027-05-31"};
  }
};

TEST_F(CliRecordTest, TheRecordHoldsTheReadingsTheModuleGaveBeforeAndAfterAndItsCertificateShowsThem) {
  const struct {
    const char* range;
    uint8_t code;
    const char* reference;
    double value;
  } ranges[] = {{"voltage", RangeVoltage, "5.0", 5.0}, {"current", RangeCurrent, "10.0", 10.0}};
  for (const auto& c : ranges) {
    SCOPED_TRACE(c.range);
    const QString file = path(c.range) + ".qx510cal";
    const std::vector<uint8_t> before = calibrationBytes();
    const uint64_t serial = sim_->requestCount();
    bench(c.code, c.value)(0);
    const Result r = run(recordArgs(c.range, c.reference, file), {"", "", "", "", ""}, bench(c.code, c.value));
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("verdict=within\n")) << r.out.toStdString();
    // The reference given is only confirmed: no prompt asks for it.
    EXPECT_FALSE(r.out.contains(QStringLiteral("zadejte hodnotu"))) << r.out.toStdString();

    CalibrationRecord record;
    QString error;
    ASSERT_TRUE(LoadCalibrationRecord(file, record, error)) << error.toStdString();
    EXPECT_EQ(record.end, CalibrationEnd::Finished);
    EXPECT_EQ(record.range, c.code);
    EXPECT_EQ(record.tag, QStringLiteral("TT-104/č.2"));
    EXPECT_EQ(record.operatorName, QStringLiteral("Jiří Šťastný"));
    EXPECT_TRUE(record.ident.startsWith(QStringLiteral("QX-510"))) << record.ident.toStdString();
    // Command 0 answers: three as found, the zero, the reference, the wait for the module
    // after its power cycle, three as left.
    const std::vector<double> answered = readingsSince(serial, c.code);
    ASSERT_EQ(record.asFound.readings.size(), 3);
    ASSERT_EQ(record.asLeft.readings.size(), 3);
    ASSERT_GE(answered.size(), 9u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(record.asFound.readings[i].value, answered[size_t(i)]);
      EXPECT_EQ(record.asLeft.readings[i].value, answered[answered.size() - 3 + size_t(i)]);
      EXPECT_EQ(record.asFound.readings[i].reference, c.value);
      EXPECT_EQ(record.asLeft.readings[i].reference, c.value);
      // Before: the converter's own error (3 % high); after: the source within a count.
      EXPECT_GT(std::fabs(record.asFound.readings[i].error()), 0.1);
      EXPECT_NEAR(record.asLeft.readings[i].value, c.value, 0.0011);
    }
    EXPECT_EQ(record.asFoundVerdict(), CalibrationVerdict::Outside);
    EXPECT_EQ(record.verdict(), CalibrationVerdict::Within);
    // The file holds what was measured, not a double's binary noise (0.1120000000000001).
    EXPECT_FALSE(QRegularExpression(QStringLiteral("\\d\\.\\d{7,}")).match(QString::fromUtf8(FileBytes(file))).hasMatch());
    const std::vector<uint8_t> after = calibrationBytes();
    const int base = c.code == RangeVoltage ? 1 : 5;
    EXPECT_EQ(record.constantsBefore.gain, before[size_t(base)] | before[size_t(base) + 1] << 8);
    EXPECT_EQ(record.constantsAfter.gain, after[size_t(base)] | after[size_t(base) + 1] << 8);
    EXPECT_NE(record.constantsAfter.gain, record.constantsBefore.gain);
    EXPECT_EQ(after[0], before[0]);  // the range byte as it was

    // The certificate: its text holds the readings, the operator and the verdict.
    const QString pdf = path(c.range) + ".pdf";
    QProcess line;
    line.setProcessChannelMode(QProcess::MergedChannels);
    // Numbers as a Czech system shows them, as the test's own locale does.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("cs_CZ.UTF-8"));
    line.setProcessEnvironment(environment);
    line.start(QStringLiteral(QX510_LINE), {"--protocol", file, "-o", pdf});
    ASSERT_TRUE(line.waitForFinished(60000));
    ASSERT_EQ(line.exitCode(), 0) << line.readAll().toStdString();
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
    if (!text.waitForFinished(60000)) GTEST_SKIP() << "pdftotext (poppler-utils) missing";
    const QString shown = QString::fromUtf8(text.readAllStandardOutput());
    for (const CalibrationReading& reading : record.asFound.readings + record.asLeft.readings)
      EXPECT_TRUE(shown.contains(QLocale().toString(reading.value, 'f', 3))) << reading.value;
    EXPECT_TRUE(shown.contains(QStringLiteral("Jiří Šťastný")));
    EXPECT_TRUE(shown.contains(QStringLiteral("vstup je po kalibraci v toleranci"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(CertificateNumber(record)));
  }
}

// A cancel at every step, before or after the new constants are in, leaves the range byte and
// the constants as they were, and the record says it was cancelled.
TEST_F(CliRecordTest, ACancelAtEachStepLeavesTheModuleAsFoundAndTheRecordSaysZruseno) {
  const std::vector<uint8_t> before = calibrationBytes();
  const struct {
    const char* name;
    int lines;        // the operator's input ends after this many Enters
    int readings;     // or a signal comes after this many Command 0 answers
    int code;
  } cases[] = {
      {"at the reading before", 0, -1, 2},
      {"during the readings before", 5, 2, 130},
      {"at the short circuit", 1, -1, 2},
      {"at the reference", 2, -1, 2},
      {"at the power cycle", 3, -1, 2},
      {"at the reading after", 4, -1, 2},
      {"during the readings after", 5, 7, 130},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString file = path(c.name) + ".qx510cal";
    const uint64_t serial = sim_->requestCount();
    if (c.readings >= 0) stopWhen_ = [&] { return int(readingsSince(serial, RangeVoltage).size()) >= c.readings; };
    bench(RangeVoltage, 5.0)(0);
    const Result r = run(recordArgs("voltage", "5.0", file), QStringList(c.lines, QString()), bench(RangeVoltage, 5.0));
    stopWhen_ = {};
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Kalibrace vstupu zrušena !\n")) << r.err.toStdString();
    EXPECT_EQ(calibrationBytes(), before);
    CalibrationRecord record;
    QString error;
    ASSERT_TRUE(LoadCalibrationRecord(file, record, error)) << error.toStdString();
    EXPECT_EQ(record.end, CalibrationEnd::Cancelled);
    EXPECT_EQ(EndText(record.end), QStringLiteral("zrušeno"));
    EXPECT_TRUE(r.err.contains("Záznam kalibrace (zrušeno) zapsán do")) << r.err.toStdString();
    EXPECT_EQ(record.constantsAfter.gain, record.constantsBefore.gain);
  }
}

}  // namespace
