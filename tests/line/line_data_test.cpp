// The workbench's data without a line: the trend's thinning and statistics, the line file,
// the log's files.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>
#include <algorithm>
#include <cmath>

#include "line/csv_log.h"
#include "line/line_file.h"
#include "line/trend_series.h"

namespace {

TEST(TrendSeries, ThinningKeepsEveryColumnsExtremesAndStaysSmall) {
  struct Case {
    int points;
    int columns;
  };
  for (const Case c : {Case{360000, 800}, Case{1000, 800}, Case{5000, 3}, Case{2, 100}}) {
    SCOPED_TRACE(c.points);
    TrendSeries s(c.points + 10);
    for (int i = 0; i < c.points; ++i) s.append(1000.0 + i * 0.1, std::sin(i * 0.37) * 10 + (i == c.points / 2 ? 500 : 0));
    const double t0 = 1000.0, t1 = 1000.0 + (c.points - 1) * 0.1;
    QVector<double> xs, ys;
    s.decimate(t0, t1, c.columns, xs, ys);
    EXPECT_LE(xs.size(), std::max<qsizetype>(2 * c.columns + 4, c.points));
    EXPECT_TRUE(std::is_sorted(xs.begin(), xs.end()));
    // The spike and the overall extremes survive the thinning.
    const TrendSeries::Stats all = s.stats(t0, t1);
    EXPECT_EQ(all.count, std::size_t(c.points));
    EXPECT_DOUBLE_EQ(*std::max_element(ys.begin(), ys.end()), all.max);
    EXPECT_DOUBLE_EQ(*std::min_element(ys.begin(), ys.end()), all.min);
  }
}

TEST(TrendSeries, StatsCoverOnlyTheSpanAndCapacityDropsTheOldest) {
  TrendSeries s(8);
  for (int i = 0; i < 8; ++i) s.append(i, i);
  const TrendSeries::Stats mid = s.stats(2, 4);
  EXPECT_EQ(mid.count, 3u);
  EXPECT_DOUBLE_EQ(mid.mean, 3);
  EXPECT_DOUBLE_EQ(mid.min, 2);
  EXPECT_DOUBLE_EQ(mid.max, 4);
  EXPECT_EQ(s.stats(20, 30).count, 0u);
  s.append(8, 8);  // full: the oldest quarter goes
  EXPECT_EQ(s.size(), 7u);
  EXPECT_DOUBLE_EQ(s.firstTime(), 2);
  s.append(1, 99);  // a clock that stepped back keeps the series in order
  EXPECT_DOUBLE_EQ(s.lastTime(), 8);
}

TEST(LineFile, RoundTripAndDamageRefused) {
  LineFile line;
  line.saved = QDateTime(QDate(2026, 3, 1), QTime(8, 30), Qt::UTC);
  LineModule a;
  a.address = 5;
  a.baudCode = 7;
  a.ident = QStringLiteral("QX-510   v.1.20");
  LineModule b;
  b.address = 255;
  b.baudCode = 0;
  b.late = true;
  line.modules = {a, b};
  const QByteArray text = FormatLineFile(line);
  // The seal is a SHA-256 of everything before it, as files already saved carry it.
  const qsizetype seal = text.lastIndexOf("sha256=");
  EXPECT_EQ(text.mid(seal), "sha256=" + QCryptographicHash::hash(text.left(seal), QCryptographicHash::Sha256).toHex() + '\n');
  LineFile back;
  QString error;
  ASSERT_TRUE(ParseLineFile(text, back, error)) << error.toStdString();
  ASSERT_EQ(back.modules.size(), 2);
  EXPECT_EQ(back.modules[0].address, 5);
  EXPECT_EQ(back.modules[0].baudCode, 7);
  EXPECT_EQ(back.modules[0].ident, a.ident);
  EXPECT_EQ(back.modules[1].address, 255);
  EXPECT_TRUE(back.modules[1].late);
  EXPECT_EQ(back.saved, line.saved);

  QByteArray flipped = text;
  flipped[flipped.indexOf("address=5") + 8] = '6';
  for (const QByteArray& bad : {text.left(text.size() - 20), flipped, QByteArray("nonsense\n"), QByteArray()}) {
    LineFile untouched = line;
    EXPECT_FALSE(ParseLineFile(bad, untouched, error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(untouched.modules.size(), 2);
  }
}

TEST(CsvLog, NewFileOnSizeWithOneHeaderEach) {
  QTemporaryDir dir;
  CsvLog log;
  LogChoice choice;
  choice.folder = dir.filePath(QStringLiteral("logs"));
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
    QFile f(QDir(choice.folder).filePath(name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), log.header());
    for (qsizetype i = 1; i < lines.size(); ++i) {
      EXPECT_TRUE(lines[i].contains(QStringLiteral(",3,9600,1.250,V,ok"))) << lines[i].toStdString();
      ++rows;
    }
  }
  EXPECT_EQ(rows, 10);  // module 4 was not chosen
}

TEST(CsvLog, TimesCarryTheirOffset) {
  const QString text = CsvLog::TimeText(QDateTime(QDate(2026, 7, 1), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch());
  EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^2026-07-01T\d\d:\d\d:00\.000000[+-]\d\d:\d\d$)")).match(text).hasMatch())
      << text.toStdString();
}

}  // namespace
