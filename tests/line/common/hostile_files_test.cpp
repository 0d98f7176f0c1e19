// Every file the programs read, given as what no program may wait on or cut: a FIFO without a
// writer, a device, a folder, a link loop, a file beyond the reader's limit. Each reader refuses
// it at once with the Czech reason naming what it is; none hangs, none reads a part.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

#include "base/wire/port_map.h"
#include "base/settings/settings.h"
#include "base/settings/tdata.h"
#include "line/common/workbench_settings.h"
#include "tests/support/file_faults.h"

namespace {

struct Said {
  bool finished = false;
  int code = -1;
  QString text;
};

// A program that does not end in 30 s hangs, and is killed.
Said RunProgram(const char* program, const QStringList& args, const QTemporaryDir& dir) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
  env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path());
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  p.setProcessEnvironment(env);
  p.start(QString::fromLatin1(program), args);
  Said said;
  said.finished = p.waitForFinished(30000);
  if (!said.finished) p.kill(), p.waitForFinished(5000);
  said.code = p.exitCode();
  said.text = QString::fromUtf8(p.readAllStandardError() + p.readAllStandardOutput());
  return said;
}

TEST(HostileFiles, EveryReaderRefusesWhatIsNoFileOfItsOwnAtOnceAndSaysWhat) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const auto at = [&dir](const char* name) { return dir.filePath(QLatin1String(name)); };
  const QString device = PrivateCharDevice(at("device"), "null");
  if (device.isEmpty()) GTEST_SKIP() << "mknod is not permitted here";
  ASSERT_TRUE(MakeFifo(at("fifo")));
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
  ASSERT_EQ(::symlink("loop-b", QFile::encodeName(at("loop-a")).constData()), 0);
  ASSERT_EQ(::symlink("loop-a", QFile::encodeName(at("loop-b")).constData()), 0);
  QFile big(at("big"));
  ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(5 << 20));  // beyond every limit
  big.close();
  const struct {
    QString path;
    const char* said;
  } nodes[] = {{at("fifo"), "roura (FIFO)"},
               {device, "zařízení"},
               {at("folder"), "je to složka"},
               {at("loop-a"), "symbolických odkazů"},
               {at("big"), "větší než"}};

  const QString pdf = at("out.pdf");
  // Each reader: what it says of `path`, or an empty text when it took it as its file.
  const struct {
    const char* reader;
    std::function<QString(const QString& path)> read;
  } readers[] = {
      {"serial-ports", [](const QString& path) {
         const portmap::PortMap map = portmap::Load(path.toStdString());
         return map.ok() ? QString() : QString::fromStdString(portmap::Describe(map.error));
       }},
      {"W_qx510.ini", [](const QString& path) {
         TData d;
         InitData(&d);
         QString error;
         LoadConnectionSettings(&d, path, &error);
         return error.isEmpty() ? error : path + QStringLiteral(": ") + error;  // the caller names the file
       }},
      {"qx510-line --protocol", [&](const QString& path) {
         const Said s = RunProgram(QX510_LINE, {QStringLiteral("--protocol"), path, QStringLiteral("-o"), pdf}, dir);
         return s.finished && s.code == 2 && !QFile::exists(pdf) ? s.text : QString();
       }},
      {"qx510-line --report", [&](const QString& path) {
         const Said s = RunProgram(QX510_LINE, {QStringLiteral("--report"), pdf, path}, dir);
         return s.finished && s.code == 2 && !QFile::exists(pdf) ? s.text : QString();
       }},
      {"qx510-cli config verify", [&](const QString& path) {
         const Said s = RunProgram(QX510_CLI, {QStringLiteral("config"), QStringLiteral("verify"), path}, dir);
         return s.finished && s.code == 2 ? s.text : QString();
       }},
      {"qx510-cli --mqtt-password-file", [&](const QString& path) {
         const Said s = RunProgram(QX510_CLI, {"watch", "din", "--count", "1", "--mqtt", "mqtt://127.0.0.1:1", "--mqtt-user", "u",
                                        "--mqtt-password-file", path}, dir);
         return s.finished && s.code == 2 ? s.text : QString();
       }},
  };
  for (const auto& r : readers)
    for (const auto& n : nodes) {
      SCOPED_TRACE(std::string(r.reader) + ", " + n.path.toStdString());
      const QString said = r.read(n.path);
      EXPECT_TRUE(said.contains(QString::fromUtf8(n.said))) << said.toStdString();
      EXPECT_TRUE(said.contains(n.path)) << said.toStdString();
    }
  // The workbench's own settings are opened by Qt, which would wait on a FIFO: it works on a
  // scratch file instead.
  for (const auto& n : nodes) {
    SetWorkbenchSettingsPath(n.path);
    EXPECT_NE(WorkbenchSettingsPath(), n.path) << n.path.toStdString();
  }
  SetWorkbenchSettingsPath(QString());
}

}  // namespace
