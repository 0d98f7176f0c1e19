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
#include <functional>
#include <set>
#include <vector>

#include "line/csv_log.h"
#include "line/line_model.h"
#include "line/traffic_model.h"
#include "line/line_file.h"
#include "line/trend_series.h"
#include "base/sealed_text.h"
#include "tests/support/file_faults.h"

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

// The body of a line file as FormatLineFile writes it, without its seal, so that a case can
// change it and seal it again as a hand-made file would be.
QByteArray Body(const LineFile& line) {
  const QByteArray text = FormatLineFile(line);
  return text.left(text.lastIndexOf("sha256="));
}

// The 1-based number of the line of `text` that starts with `start`, counting from `from`.
int LineOf(const QByteArray& text, const QByteArray& start, int from = 1) {
  const QByteArrayList lines = text.split('\n');
  for (int i = from - 1; i < lines.size(); ++i)
    if (lines[i].startsWith(start)) return i + 1;
  return -1;
}

// Hostile line files: each refused whole, with its line number, and nothing loaded.
TEST(LineFile, AnythingFormatLineFileWouldNotWriteIsRefusedWithItsLine) {
  LineFile good;
  good.saved = QDateTime(QDate(2026, 3, 1), QTime(8, 30), Qt::UTC);
  LineModule a;
  a.address = 5;
  a.baudCode = 7;
  a.ident = QStringLiteral("QX-510   v.1.20");
  LineModule b = a;
  b.address = 6;
  good.modules = {a, b};
  ConfigImage image;
  for (std::size_t k = 0; k < image.bytes.size(); ++k) image.bytes[k] = uint8_t(k * 3);
  good.images.insert(ModuleKey(a), image);
  good.images.insert(ModuleKey(b), image);
  const QByteArray body = Body(good);
  const QByteArray hex = QByteArray(reinterpret_cast<const char*>(image.bytes.data()), 64).toHex();
  const int firstImage = LineOf(body, "image=");

  // Two sections for one module: the second one's line, naming the first's.
  LineFile twice = good;
  twice.modules = {a, b, a};
  const QByteArray duplicate = Body(twice);
  const int secondA = LineOf(duplicate, "[module]", LineOf(duplicate, "address=6"));

  QByteArray many = Body(LineFile{good.saved, {}, {}});
  for (int k = 0; k < 257; ++k)
    many += "[module]\naddress=" + QByteArray::number(k % 256) + "\nrate=" + QByteArray::number(k < 256 ? 9600 : 19200) +
            "\nident=QX-510   v.1.20\nlate=0\n";
  const int section257 = LineOf(many, "[module]", LineOf(many, "address=255") + 1);

  QByteArray noRate = body;
  noRate.replace("rate=57600\n", "");  // both sections lose it; the first is refused
  QByteArray emptySection = body;
  emptySection.insert(body.indexOf("[module]"), "[module]\n");

  const struct {
    const char* name;
    QByteArray body;
    int line;
    const char* why;
  } cases[] = {
      {"a second section for the same address and rate", duplicate, secondA,
       "modul s adresou 5 a rychlostí 57600 Bd už má sekci na řádku 4"},
      {"a non-hex character in the image", QByteArray(body).replace(hex, "zz" + hex.mid(2)), firstImage,
       "jen šestnáctkové číslice"},
      {"a space in the image", QByteArray(body).replace(hex, hex.left(60) + ' ' + hex.mid(61)), firstImage,
       "jen šestnáctkové číslice"},
      {"a short image", QByteArray(body).replace(hex, hex.left(126)), firstImage, "právě 128 šestnáctkových číslic (64 bajtů), má 126"},
      {"a long image", QByteArray(body).replace(hex, hex + "00"), firstImage, "má 130"},
      {"an empty section", emptySection, LineOf(emptySection, "[module]"), "chybí address, rate, ident, late"},
      {"a section without its rate", noRate, LineOf(noRate, "[module]"), "chybí rate"},
      {"257 sections", many, section257, "víc než 256 modulů"},
      {"a key twice in a section", QByteArray(body).replace("late=0\n", "late=0\nlate=1\n"), LineOf(body, "late=") + 1,
       "klíč late je v sekci [module] dvakrát"},
      {"an address out of range", QByteArray(body).replace("address=5\n", "address=256\n"), LineOf(body, "address=5"),
       "adresa musí být číslo 0-255"},
      {"an address with a sign", QByteArray(body).replace("address=5\n", "address=+5\n"), LineOf(body, "address=5"),
       "adresa musí být číslo 0-255"},
      {"a rate the module does not have", QByteArray(body).replace("rate=57600\n", "rate=14400\n"), LineOf(body, "rate="),
       "rychlost musí být jedna z: 600, 1200"},
      {"an unknown key", QByteArray(body).replace("late=0\n", "late=0\ncolor=red\n"), LineOf(body, "late=") + 1,
       "neznámý klíč color"},
      {"a line that is no key", QByteArray(body).replace("late=0\n", "late=0\nhello\n"), LineOf(body, "late=") + 1,
       "řádek není ani klíč=hodnota"},
      {"a missing module with an image after it", QByteArray(body).replace("late=0\n", "late=0\nmissing=1\n"),
       firstImage + 1, "nemá obraz konfigurace"},
      {"a missing module with an image before it", QByteArray(body).replace("image=" + hex + "\n", "image=" + hex + "\nmissing=1\n"),
       firstImage + 1, "nemůže chybět"},
      {"missing other than 1", QByteArray(body).replace("late=0\n", "late=0\nmissing=0\n"), LineOf(body, "late=") + 1,
       "missing smí být jen 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_GT(c.line, 0);
    LineFile loaded = good;  // what a caller held before: it stays
    QString error;
    EXPECT_FALSE(ParseLineFile(SealText(c.body), loaded, error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Soubor linky, řádek %1: ").arg(c.line))) << error.toStdString();
    EXPECT_TRUE(error.contains(QString::fromUtf8(c.why))) << error.toStdString();
    EXPECT_EQ(loaded.modules.size(), 2);
    EXPECT_EQ(loaded.images.size(), 2);
  }

  // What FormatLineFile writes loads, 256 modules included.
  LineFile full;
  full.saved = good.saved;
  for (int k = 0; k < 256; ++k) {
    LineModule m;
    m.address = uint8_t(k);
    m.baudCode = k % 9;
    full.modules.append(m);
    full.images.insert(ModuleKey(m), image);
  }
  LineFile loaded;
  QString error;
  ASSERT_TRUE(ParseLineFile(FormatLineFile(full), loaded, error)) << error.toStdString();
  EXPECT_EQ(loaded.modules.size(), 256);
  EXPECT_EQ(loaded.images.size(), 256);
  ASSERT_TRUE(ParseLineFile(FormatLineFile(good), loaded, error)) << error.toStdString();
  ASSERT_NE(loaded.image(loaded.modules[1]), nullptr);
  EXPECT_EQ(loaded.image(loaded.modules[1])->bytes, image.bytes);
  // A backup that could not read a module lists it, and that loads back as missing.
  LineFile partial = good;
  partial.images.remove(ModuleKey(b));
  partial.missing.insert(ModuleKey(b));
  ASSERT_TRUE(ParseLineFile(FormatLineFile(partial), loaded, error)) << error.toStdString();
  EXPECT_EQ(loaded.modules.size(), 2);
  EXPECT_EQ(loaded.image(b), nullptr);
  EXPECT_TRUE(loaded.isMissing(b));
  EXPECT_FALSE(loaded.isMissing(a));
}

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
TEST(PollRate, CountsASlowModuleAtTheRateItIsRead) {
  PollRate rate;
  rate.start(0, 100);
  const struct {
    qint64 ms, readings;
    const char* text;
  } ticks[] = {{200, 100, "čeká se na první odečet"}, {1800, 101, "méně než 1 odečet/s"}, {2000, 101, "méně než 1 odečet/s"},
               {3600, 102, "méně než 1 odečet/s"},   {9800, 105, "méně než 1 odečet/s"}, {20000, 200, "9 odečtů/s"}};
  for (const auto& t : ticks) {
    rate.add(t.ms, t.readings);
    EXPECT_EQ(rate.text(), QString::fromUtf8(t.text)) << t.ms;
  }
}

// The traffic pane keeps the last Capacity records in a ring: what it shows is always a
// filtered, ordered part of what it keeps, however the batches fall.
TEST(TrafficModel, ShowsTheKeptRecordsInOrderAcrossTheRingsWrap) {
  constexpr std::size_t Cap = TrafficModel::Capacity;
  struct Case {
    const char* name;
    std::vector<std::size_t> batches;
    bool failuresOnly;
    int pausedBatch;  // published while paused, -1: never
  };
  const Case cases[] = {
      {"within the ring", {10, 500, 3}, false, -1},
      {"wraps across batches", {Cap - 5, 7, Cap / 2}, false, -1},
      {"one batch larger than the ring", {Cap + 1234}, false, -1},
      {"failures only, wrapped", {Cap, 999, 12}, true, -1},
      {"paused while it wraps", {100, Cap, 50}, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TrafficModel model;
    model.setFilter(TrafficFilter{.address = -1, .command = -1, .failuresOnly = c.failuresOnly});
    int64_t serial = 0;
    for (std::size_t b = 0; b < c.batches.size(); ++b) {
      model.setPaused(int(b) == c.pausedBatch);
      for (std::size_t i = 0; i < c.batches[b]; ++i, ++serial) {
        ExchangeRecord r;
        r.durationNs = serial;
        r.status = serial % 7 == 0 ? 2 : 0;
        model.take(r);
      }
      model.publish();
    }
    model.setPaused(false);
    const int64_t oldest = std::max<int64_t>(0, serial - int64_t(Cap));
    EXPECT_EQ(model.kept(), std::size_t(serial - oldest));
    std::vector<int64_t> shown;
    model.forEachShown([&](const ExchangeRecord& r) { shown.push_back(r.durationNs); });
    std::vector<int64_t> want;
    for (int64_t k = oldest; k < serial; ++k)
      if (!c.failuresOnly || k % 7 == 0) want.push_back(k);
    EXPECT_EQ(shown, want);
    EXPECT_EQ(model.rowCount(), int(want.size()));
  }
}

// The overview repaints only the cells that changed: each change must reach the cell that
// shows it, or the window keeps showing an old value.
TEST(LineModel, EveryChangeReachesTheCellThatShowsIt) {
  LineModule m;
  m.address = 7;
  LineModel model;
  model.setModules({m});
  ModuleReading first;
  first.address = 7;
  first.baudCode = m.baudCode;
  first.ok = true;
  model.apply(first);
  model.flush();
  struct Case {
    const char* name;
    std::function<void(LineModel&)> change;
    std::vector<int> columns;
  };
  auto reading = [&](auto edit) {
    ModuleReading r = first;
    edit(r);
    return r;
  };
  const Case cases[] = {
      {"analog value", [&](LineModel& l) { l.apply(reading([](ModuleReading& r) { r.ain0 = 2.5; })); }, {LineModel::Ain0}},
      {"inputs", [&](LineModel& l) { l.apply(reading([](ModuleReading& r) { r.din = 5; })); }, {LineModel::Inputs}},
      {"status register", [&](LineModel& l) { l.apply(reading([](ModuleReading& r) { r.statusRegister = 2; })); },
       {LineModel::StatusReg}},
      {"goes silent", [&](LineModel& l) { l.apply(reading([](ModuleReading& r) { r.ok = false; })); },
       {LineModel::State, LineModel::Ain0, LineModel::Inputs, LineModel::StatusReg, LineModel::LastError}},
      {"comes back", [&](LineModel& l) { l.apply(first); }, {LineModel::State, LineModel::Ain0, LineModel::StatusReg}},
      {"an exchange", [&](LineModel& l) { 
         ExchangeRecord r;
         r.rate = 9600;
         r.address = 7;
         l.addExchange(r);
        }, {LineModel::Exchanges}},
      {"outputs written", [&](LineModel& l) { 
         CommandResult written;
         written.address = 7;
         written.baudCode = m.baudCode;
         written.word = 3;
         l.applyCommand(written);
        },
       {LineModel::Outputs}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::set<int> repainted;
    const QMetaObject::Connection spy = QObject::connect(
        &model, &LineModel::dataChanged, [&](const QModelIndex& a, const QModelIndex& b) {
          for (int col = a.column(); col <= b.column(); ++col) repainted.insert(col);
        });
    c.change(model);
    model.flush();
    QObject::disconnect(spy);
    for (int col : c.columns) EXPECT_TRUE(repainted.count(col)) << col;
  }
}

}  // namespace
