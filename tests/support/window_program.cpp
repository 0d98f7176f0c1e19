#include "tests/support/window_program.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

void ExpectWindowProgramCommandLine(const QString& path, const QString& name, const QStringList& helpNames) {
  QTemporaryDir runtime;  // private, so that Qt has nothing to say about it on standard error
  ASSERT_TRUE(runtime.isValid());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(var));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());

  const QString program = QRegularExpression::escape(name);
  const QString version = QStringLiteral("^%1 \\d+\\.\\d+\\S*\\n$").arg(program);
  const struct {
    QStringList args;
    int status;
    QString out;  // a pattern of standard output
  } cases[] = {
      {{QStringLiteral("--help")}, 0, QStringLiteral("^Použití: ") + program},
      {{QStringLiteral("-h")}, 0, QStringLiteral("^Použití: ") + program},
      {{QStringLiteral("--version")}, 0, version},
      {{QStringLiteral("-v")}, 0, version},
      {{QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("--version")}, 0, version},
      {{QStringLiteral("--neznama-volba")}, 2, QStringLiteral("^$")},
      {{QStringLiteral("navic")}, 2, QStringLiteral("^$")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(path, c.args);
    ASSERT_TRUE(p.waitForFinished(60000));
    // A program that reached for a display has aborted by now.
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), c.status);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(QRegularExpression(c.out).match(out).hasMatch()) << out.toStdString();
    if (c.status == 0) {
      EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    } else {
      EXPECT_TRUE(err.startsWith(name + QStringLiteral(": ")) && err.contains(c.args.last())) << err.toStdString();
    }
    if (c.args == QStringList{QStringLiteral("--help")}) {
      for (const QString& option : helpNames) EXPECT_TRUE(out.contains(option)) << option.toStdString();
    }
  }
}
