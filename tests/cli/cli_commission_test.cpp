// commission from the companion, run in-process against the simulated line: new modules
// delivered alike, each connected alone, put in service one after another into a line file,
// and the line then moved to another rate.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>

#include "base/config/config_backup.h"
#include "base/config/line_file.h"
#include "base/exchange/commands.h"
#include "base/settings/settings.h"
#include "base/text/baud.h"
#include "cli/cli.h"
#include "sim/sim_server.h"
#include "tests/support/scoped_env.h"

namespace {

struct Result {
  int code = -1;
  QString out, err;
};

class CliCommissionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    configHome_.emplace("XDG_CONFIG_HOME", dir_.path().toStdString());
    dataHome_.emplace("XDG_DATA_HOME", dir_.path().toStdString());
    SimServerOptions options;
    options.wire = simline::Wire::Instant;
    options.udpPort = -1;
    options.serveControl = false;
    options.localPath = path("sim.sock").toStdString();
    options.modules = {{31, 4}};  // a module already on the line, elsewhere
    sim_ = std::make_unique<SimServer>(options);
    std::string error;
    ASSERT_TRUE(sim_->start(&error)) << error;
    endpoint_.emplace(simproto::EndpointEnv, sim_->localPath());
    SetConnectionSettingsPath(path("W_qx510.ini"));
  }
  void TearDown() override { SetConnectionSettingsPath(QString()); }

  QString path(const char* name) const { return dir_.filePath(QLatin1String(name)); }

  // The operator answers every prompt with `answer`, after doing `onPrompt`.
  Result run(const QStringList& args, const std::function<void()>& onPrompt = {}) {
    Result r;
    QTextStream out(&r.out), err(&r.err);
    CliIo io;
    io.out = &out;
    io.err = &err;
    io.readLine = [&]() -> std::optional<QString> {
      if (onPrompt) onPrompt();
      return answer_;
    };
    io.interrupted = [this] { return signal_; };
    io.sleep = [](int) {};
    r.code = RunCli(QStringList{QStringLiteral("--timeout"), QStringLiteral("60")} + args, io);
    out.flush();
    err.flush();
    return r;
  }
  void powerCycle() {
    sim_->withBus([](SimBus& bus) { bus.powerCycleAll(); });
  }
  void deliver() {
    sim_->withBus([](SimBus& bus) { ASSERT_TRUE(bus.add(0, 4)); });
  }
  int writes() const {
    int n = 0;
    for (const SimLogEntry& e : sim_->logSince(0)) n += e.request.command == Cmd::WriteConfigByte;
    return n;
  }

  QTemporaryDir dir_;
  std::optional<ScopedEnv> configHome_, dataHome_, endpoint_;
  std::unique_ptr<SimServer> sim_;
  std::optional<QString> answer_ = QString();
  int signal_ = 0;
};

TEST_F(CliCommissionTest, FourDeliveredModulesGoIntoTheLineOneAfterAnother) {
  ConfigBackup templ;
  templ.module = QStringLiteral("QX-510");
  templ.version = QStringLiteral("1.20");
  templ.date = QDateTime::currentDateTimeUtc();
  templ.image.bytes[CfgAddr::AinRange] = 1;
  templ.image.bytes[CfgAddr::DoutNegation] = 0x0F;
  templ.image.bytes[CfgAddr::VoltageGain] = 0x55;  // the template module's own: never copied
  QFile file(path("vzor.txt"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(FormatBackup(templ));
  file.close();

  const struct {
    const char* to;
    const char* tag;
  } modules[] = {{"1@19200", "TT-101"}, {"2@19200", "TT-102"}, {"3@115200", "TT-103"}, {"4@600", "TT-104"}};
  for (const auto& m : modules) {
    SCOPED_TRACE(m.to);
    deliver();
    const Result r = run({QStringLiteral("commission"), QStringLiteral("--from"), QStringLiteral("0@9600"),
                          QStringLiteral("--to"), QLatin1String(m.to), QStringLiteral("--tag"), QLatin1String(m.tag),
                          QStringLiteral("--template"), path("vzor.txt"), QStringLiteral("--line"), path("linka.qx510line")},
                         [this] { powerCycle(); });
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("tag=%1\n").arg(QLatin1String(m.tag)))) << r.out.toStdString();
  }
  LineFile line;
  QString error;
  ASSERT_TRUE(LoadLineFile(path("linka.qx510line"), line, error)) << error.toStdString();
  ASSERT_EQ(line.modules.size(), 4);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const LineModule& m = line.modules[i];
    EXPECT_EQ(QStringLiteral("%1@%2").arg(m.address).arg(BaudCodeToRate(m.baudCode)), QLatin1String(modules[i].to));
    EXPECT_EQ(m.tag, QLatin1String(modules[i].tag));
    ASSERT_NE(line.image(m), nullptr);
    // The simulator's module i + 1 (0 is the one that was there before).
    const SimModule sim = sim_->snapshot(i + 1);
    EXPECT_EQ(sim.busAddress(), m.address);
    EXPECT_EQ(sim.configByte(CfgAddr::AinRange), 1);
    EXPECT_EQ(sim.configByte(CfgAddr::DoutNegation), 0x0F);
    EXPECT_EQ(sim.configByte(CfgAddr::VoltageGain), SimModule::FactoryMemory()[CfgAddr::VoltageGain]);
  }

  // The line put in service moves to one rate, and its file follows.
  const Result moved = run({QStringLiteral("line"), QStringLiteral("rate"), QStringLiteral("--to"), QStringLiteral("57600"),
                            QStringLiteral("--line"), path("linka.qx510line")},
                           [this] { powerCycle(); });
  ASSERT_EQ(moved.code, 0) << moved.err.toStdString();
  ASSERT_TRUE(LoadLineFile(path("linka.qx510line"), line, error)) << error.toStdString();
  ASSERT_EQ(line.modules.size(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(BaudCodeToRate(line.modules[i].baudCode), 57600) << i;
    EXPECT_EQ(sim_->snapshot(i + 1).baudRate(), 57600) << i;
  }
}

// What is refused before the first write, and how the command ends when the operator's
// confirmation does not come.
TEST_F(CliCommissionTest, RefusalsAndEndsSayWhereTheModuleIs) {
  ConfigBackup refused;
  refused.module = QStringLiteral("QX-510");
  refused.date = QDateTime::currentDateTimeUtc();
  refused.image.bytes[CfgAddr::AinRange] = 7;
  QFile file(path("zly.txt"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(FormatBackup(refused));
  file.close();
  const struct {
    QStringList args;
    bool delivered;
    std::optional<QString> answer;
    int signal;  // comes at the first prompt
    int code;
    const char* message;
  } cases[] = {
      {{"--from", "0@9600", "--to", "31@9600"}, true, QString(), 0, 2, "už odpovídá jiný modul"},
      {{"--from", "0@9600", "--to", "5@9600"}, false, QString(), 0, 3, "žádný modul neodpovídá"},
      {{"--from", "0@9601", "--to", "5@9600"}, true, QString(), 0, 2, "ADRESA@RYCHLOST"},
      {{"--from", "0@9600", "--to", "5@9600", "--template", "zly.txt"}, true, QString(), 0, 2, "Rozsah musí být"},
      {{"--from", "0@9600", "--to", "5@9600", "--line", "-"}, true, QString(), 0, 2, "standardní vstup"},
      {{"--from", "0@9600", "--to", "5@57600"}, true, std::nullopt, 0, 2, "po příštím zapnutí napájení bude odpovídat: adresa 5, 57600 Bd"},
      {{"--from", "0@9600", "--to", "5@57600"}, true, QString(), SIGTERM, 143, "po příštím zapnutí napájení bude odpovídat: adresa 5, 57600 Bd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    sim_->withBus([&](SimBus& bus) {
      std::vector<SimModule::Memory> line(1, SimModule::FactoryMemory());
      line[0][CfgAddr::BusAddress] = 31;
      if (c.delivered) line.push_back(SimModule::FactoryMemory());
      bus.replace(line);
    });
    const int before = writes();
    QStringList args = c.args;
    if (const qsizetype t = args.indexOf(QStringLiteral("zly.txt")); t >= 0) args[t] = path("zly.txt");
    answer_ = c.answer;
    signal_ = 0;
    const Result r = run(QStringList{QStringLiteral("commission")} + args, [&] { signal_ = c.signal; });
    EXPECT_EQ(r.code, c.code);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
    if ((c.code == 2 || c.code == 3) && c.answer) {
      EXPECT_EQ(writes(), before);
    }
  }
}

}  // namespace
