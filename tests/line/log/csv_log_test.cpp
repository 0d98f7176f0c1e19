// The log's files: a new file on size, a full disk, times with their offset.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include "line/log/csv_log.h"
#include "tests/support/file_faults.h"

namespace {

TEST(CsvLog, NewFileOnSizeWithOneHeaderEach) {
  QTemporaryDir dir;
  CsvLog log;
  LogChoice choice;
  choice.folder = dir.filePath(QStringLiteral("logs"));
  choice.lineName = QStringLiteral("hala B/2");
  choice.modules = {ModuleKey(3, 4)};
  choice.maxBytes = 200;
  QString error;
  ASSERT_TRUE(log.start(choice, error)) << error.toStdString();
  ModuleReading r;
  r.address = 3;
  r.ok = true;
  r.ain0 = 1.25;
  r.decimals = 3;
  r.timeMs = QDateTime::currentMSecsSinceEpoch();
  ModuleReading other = r;
  other.address = 4;
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(log.write(r, error)) << error.toStdString();
    ASSERT_TRUE(log.write(other, error));
  }
  log.stop();
  const QStringList files = QDir(choice.folder).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
  ASSERT_GT(files.size(), 1);
  int rows = 0;
  for (const QString& name : files) {
    // Named after the line; each file for a spreadsheet from its first byte.
    EXPECT_TRUE(name.startsWith(QStringLiteral("qx510-hala_B_2-") + QDate::currentDate().toString(Qt::ISODate))) << name.toStdString();
    QFile f(QDir(choice.folder).filePath(name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), log.header());
    for (qsizetype i = 1; i < lines.size(); ++i) {
      EXPECT_TRUE(lines[i].endsWith(QStringLiteral(";3;9600;1,250;V;"))) << lines[i].toStdString();
      ++rows;
    }
  }
  EXPECT_EQ(rows, 10);  // module 4 was not chosen
}

TEST(CsvLog, AFullDiskStopsTheLogWithWholeRowsAndSaysHowFarItGot) {
  QTemporaryDir dir;
  CsvLog log;
  LogChoice choice;
  choice.folder = dir.filePath(QStringLiteral("logs"));
  choice.modules = {ModuleKey(3, 4)};
  QString error;
  ASSERT_TRUE(log.start(choice, error)) << error.toStdString();
  const QString file = log.fileName();
  ModuleReading r;
  r.address = 3;
  r.baudCode = 4;
  r.ok = true;
  r.ain0 = 1.25;
  r.decimals = 3;
  r.timeMs = QDateTime::currentMSecsSinceEpoch();
  int rows = 0;
  {
    FileSizeLimit limit(1000);
    while (log.write(r, error)) ASSERT_LT(++rows, 100);
  }
  EXPECT_FALSE(log.active());
  const QByteArray bytes = FileBytes(file);
  EXPECT_TRUE(bytes.endsWith('\n'));
  EXPECT_EQ(bytes.count('\n'), rows + 1);  // the mark, the header and whole rows only
  EXPECT_GT(rows, 4);
  EXPECT_EQ(error, QStringLiteral("Zápis do %1 selhal: soubor by byl větší, než systém dovoluje; v souboru je %2 řádků "
                                  "záznamu (%3 B), poslední z %4.")
                       .arg(file, QString::number(rows), QString::number(bytes.size()), CsvLog::TimeText(r.timeMs)));
  // Stopped: nothing more goes into the file.
  EXPECT_TRUE(log.write(r, error));
  EXPECT_EQ(FileBytes(file), bytes);
}

TEST(CsvLog, TimesCarryTheirOffset) {
  const QString text = CsvLog::TimeText(QDateTime(QDate(2026, 7, 1), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch());
  EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^2026-07-01T\d\d:\d\d:00\.000000[+-]\d\d:\d\d$)")).match(text).hasMatch())
      << text.toStdString();
}

// Readings per second over a window long enough for a module at 600 Bd, read every 1.8 s.

}  // namespace
