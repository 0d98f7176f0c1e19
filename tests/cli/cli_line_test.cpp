// qx510-cli line backup, restore and verify in-process against a simulated line, through the
// real loader and the stand-in drivers.

#include <gtest/gtest.h>

#include <QFile>
#include <algorithm>
#include <QTemporaryDir>
#include <QTextStream>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

#include "base/config/line_file.h"
#include "base/settings/settings.h"
#include "cli/cli.h"
#include "sim/sim_server.h"
#include "tests/support/scoped_env.h"

namespace {

struct Result { int code = -1; QString out, err; };

// The line in the simulator: index, address, baud code. Address 3 is in the line file but has
// no module.
constexpr SimModuleSpec Line[] = {{0, 4}, {5, 7}, {17, 8}};
const LineModule Absent{3, 4, QStringLiteral("QX-510   v.1.20")};

class CliLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SimServerOptions options;
    options.wire = simline::Wire::Instant;
    options.udpPort = -1;
    options.localPath = path("sim.sock").toStdString();
    options.modules.assign(std::begin(Line), std::end(Line));
    sim_ = std::make_unique<SimServer>(options);
    std::string error;
    ASSERT_TRUE(sim_->start(&error)) << error;
    ::setenv(simproto::EndpointEnv, sim_->localPath().c_str(), 1);
    SetConnectionSettingsPath(path("W_qx510.ini"));
    home_.emplace("XDG_CONFIG_HOME", dir_.path().toLocal8Bit().toStdString());
    // The line as the workbench keeps it: the three modules and one that is not there.
    LineFile line;
    line.saved = QDateTime::currentDateTime();
    for (const SimModuleSpec& m : Line) line.modules.append(LineModule{m.address, m.baudCode, QStringLiteral("QX-510   v.1.20")});
    save("present.qx510line", line);
    line.modules.append(Absent);
    save("line.qx510line", line);
  }
  void TearDown() override { SetConnectionSettingsPath(QString()); ::unsetenv(simproto::EndpointEnv); }

  QString path(const char* name) const { return dir_.filePath(QString::fromUtf8(name)); }

  Result run(const QStringList& args) {
    Result r;
    QTextStream out(&r.out), err(&r.err);
    CliIo io;
    io.out = &out;
    io.err = &err;
    int checks = 0;
    io.interrupted = [&] { return stopAfterChecks_ >= 0 && ++checks > stopAfterChecks_ ? SIGINT : 0; };
    io.readInput = [&](qint64) { return input_; };
    io.sleep = [](int) {};
    r.code = RunCli(args, io);
    out.flush();
    err.flush();
    return r;
  }
  // A backup of the line as it stands, at `name`.
  void backup(const char* name) {
    const Result r = run({"line", "backup", path(name), "--line", path("line.qx510line")});
    ASSERT_EQ(r.code, 1) << r.err.toStdString();  // the absent module makes it partial
  }
  LineFile load(const char* name) {
    LineFile line;
    QString why;
    EXPECT_TRUE(LoadLineFile(path(name), line, why)) << why.toStdString();
    return line;
  }
  QByteArray bytes(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  void save(const char* name, const LineFile& line) {
    QString why;
    ASSERT_TRUE(SaveLineFile(path(name), line, why)) << why.toStdString();
  }
  uint8_t byte(int module, int address) { return sim_->snapshot(module).memory()[size_t(address)]; }
  void setByte(int module, int address, uint8_t value) {
    sim_->withModule(module, [&](SimModule& m) { m.setConfigByte(address, value); });
  }
  int writesSince(uint64_t serial) {
    const std::vector<SimLogEntry> log = sim_->logSince(serial);
    return int(std::count_if(log.begin(), log.end(), [](const SimLogEntry& e) { return e.request.command == 103; }));
  }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
  std::optional<ScopedEnv> home_;
  std::optional<QByteArray> input_;
  int stopAfterChecks_ = -1;
};

TEST_F(CliLineTest, BackupWritesEveryModuleAndMarksTheSilentOneMissing) {
  save("silent.qx510line", LineFile(QDateTime::currentDateTime(), {Absent}));
  input_ = bytes(path("present.qx510line"));

  const struct {
    const char* name;
    QStringList args;
    int code;
    int images;       // in the file written, -1: no file
    int missing;
    const char* said;
  } cases[] = {
      {"one silent", {"line", "backup", path("b1"), "--line", path("line.qx510line")}, 1, 3, 1,
       "Zálohovány 3 moduly do"},
      {"all answer", {"line", "backup", path("b2"), "--line", path("present.qx510line")}, 0, 3, 0, "Zálohovány 3 moduly"},
      {"line from stdin", {"line", "backup", path("b3"), "--line", "-"}, 0, 3, 0, "Zálohovány 3 moduly"},
      {"none answers", {"line", "backup", path("b4"), "--line", path("silent.qx510line")}, 3, -1, 0, "Žádný modul linky"},
      {"to stdout", {"line", "backup", "-", "--line", path("present.qx510line")}, 0, 3, 0, "na standardní výstup"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = run(c.args);
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.said))) << r.err.toStdString();
    const QString written = c.args[2];
    if (c.images < 0) {
      EXPECT_FALSE(QFile::exists(written));
      continue;
    }
    LineFile file;
    QString why;
    EXPECT_TRUE(ParseLineFile(written == "-" ? r.out.toUtf8() : bytes(written), file, why)) << why.toStdString();
    EXPECT_EQ(file.images.size(), c.images);
    EXPECT_EQ(file.missing.size(), c.missing);
    // A line per module, on standard error while standard output carries the file.
    const QString& lines = written == "-" ? r.err : r.out;
    EXPECT_TRUE(lines.contains(QString::fromUtf8("adresa 17, 115200 Bd: zálohován"))) << lines.toStdString();
    EXPECT_EQ(lines.contains(QString::fromUtf8("adresa 3, 9600 Bd: neodpověděl, v záloze chybí")), c.missing > 0);
    if (c.missing > 0) {
      EXPECT_TRUE(file.isMissing(Absent));
      const ConfigImage* image = file.image(LineModule{5, 7, {}});
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(image->at(63), 5);  // the module's own bus address, read from it
    }
  }
}

// A changed line restored from its backup: refused files and modules write nothing; a signal
// stops between modules.
TEST_F(CliLineTest, RestoreWritesWithReadBackOrRefusesBeforeAnyWrite) {
  backup("backup.qx510line");
  const LineFile good = load("backup.qx510line");
  LineFile other = good;
  other.modules[1].ident = QStringLiteral("QX-520   v.1.00");
  save("other.qx510line", other);
  LineFile refused = good;
  refused.images[ModuleKey(refused.modules[2])].bytes[0] = 0x11;  // a range byte the windows never write
  save("refused.qx510line", refused);
  QFile damaged(path("damaged.qx510line"));
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly) && damaged.write(FormatLineFile(good).replace("address=17", "address=18")) > 0);
  damaged.close();
  input_ = bytes(path("backup.qx510line"));

  const struct {
    const char* name;
    const char* file;
    int stopAfter;  // signal after this many looks, -1 none
    int code;
    int restored;   // modules holding their backup afterwards
    const char* said;
  } cases[] = {
      {"from a file", "backup.qx510line", -1, 1, 3, "Obnoveno 3 z 4 modulů; nepodařilo se: adresa 3, 9600 Bd"},
      {"from stdin", "-", -1, 1, 3, "Obnoveno 3 z 4 modulů"},
      {"other module type", "other.qx510line", -1, 2, 0, "na adrese je jiný modul (QX-510   v.1.20), v záloze QX-520"},
      {"refused value", "refused.qx510line", -1, 2, 0, "adresa 17, 115200 Bd: Bajt 0 (Rozsah AIN 0) = 0x11"},
      {"damaged", "damaged.qx510line", -1, 2, 0, "kontrolní součet nesouhlasí"},
      // The four modules' looks before any write, then one before the first module's restore:
      // the signal comes during it, and the module is still restored whole.
      {"signal", "backup.qx510line", 5, 130, 1, "Obnoveny: adresa 0, 9600 Bd. Nepodařilo se: žádný. Nezačato"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Every module's negation of inputs and range changed since the backup.
    for (int m = 0; m < 3; ++m) {
      setByte(m, 33, 0x5A);
      setByte(m, 0, 1);
    }
    const uint64_t serial = sim_->requestCount();
    stopAfterChecks_ = c.stopAfter;
    const Result r = run({"line", "restore", c.file == std::string("-") ? QStringLiteral("-") : path(c.file)});
    stopAfterChecks_ = -1;
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.said))) << r.err.toStdString();
    int restored = 0;
    for (int m = 0; m < 3; ++m) restored += byte(m, 33) == 0 && byte(m, 0) == 0;
    EXPECT_EQ(restored, c.restored);
    EXPECT_TRUE(c.restored > 0 || writesSince(serial) == 0);
    EXPECT_TRUE(c.code != 1 || r.out.contains(QString::fromUtf8("adresa 5, 57600 Bd: zapsány 2 bajty, každý ověřen")))
        << r.out.toStdString();
  }
}

TEST_F(CliLineTest, VerifyComparesWithoutWriting) {
  ASSERT_EQ(run({"line", "backup", path("all.qx510line"), "--line", path("present.qx510line")}).code, 0);
  backup("partial.qx510line");
  LineFile other = load("all.qx510line");
  other.modules[0].ident = QStringLiteral("QX-520   v.1.00");
  save("other.qx510line", other);
  const uint8_t gain = byte(2, 15);

  const struct {
    const char* name;
    const char* file;
    std::function<void()> change;
    QStringList extra;
    int code;
    const char* out;
  } cases[] = {
      {"equal", "all.qx510line", [] {}, {}, 0, "adresa 17, 115200 Bd: souhlasí se zálohou"},
      {"a difference", "all.qx510line", [this] { setByte(1, 33, 0x81); }, {}, 1,
       "adresa 5, 57600 Bd: liší se od zálohy v 1 bajtu: byte.33 (Negace DIN"},
      {"json", "all.qx510line", [this] { setByte(1, 33, 0x81); }, {"--json"}, 1,
       R"({"address":5,"differences":[{"address":33,"backup":0,"module":129)"},
      {"calibration only when asked", "all.qx510line", [&] { setByte(2, 15, gain ^ 0x10); }, {"--with-calibration"}, 1,
       "adresa 17, 115200 Bd: liší se od zálohy v 1 bajtu: byte.15"},
      {"missing in backup", "partial.qx510line", [] {}, {}, 1, "adresa 3, 9600 Bd: při záloze neodpověděl"},
      {"other module type", "other.qx510line", [] {}, {}, 2, "adresa 0, 9600 Bd: na adrese je jiný modul"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (int m = 0; m < 3; ++m) setByte(m, 33, 0);
    setByte(2, 15, gain);
    c.change();
    const uint64_t serial = sim_->requestCount();
    const Result r = run(QStringList{"line", "verify", path(c.file)} + c.extra);
    EXPECT_EQ(r.code, c.code) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QString::fromUtf8(c.out))) << r.out.toStdString();
    EXPECT_EQ(writesSince(serial), 0);
  }
}

}  // namespace
