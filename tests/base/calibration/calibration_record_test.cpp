// The calibration record: its file keeps every entry, a damaged file is never read as a
// record, and a module's history finds its records, damaged ones included, newest first.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <limits>

#include "base/calibration/calibration_constants.h"
#include "base/calibration/calibration_record.h"
#include "base/calibration/record_signature.h"
#include "base/files/sealed_text.h"
#include "tests/support/calibration_sample.h"

namespace {

// The shared sample, cancelled, with values a short decimal form would not give back exactly
// and text with quotes and a slash.
CalibrationRecord Sample() {
  CalibrationRecord r = SampleCalibrationRecord(2);
  r.connection = QStringLiteral("COM1 → /dev/ttyUSB0");
  r.tag = QStringLiteral("TT-104/č.2 čerpadlo");
  r.referenceName = QStringLiteral("Kalibrátor „K1“");
  r.tolerancePercent = 0.25;
  r.asFound.readings = {{10.213, 10.0}, {10.0 / 3.0, 0.1 + 0.2}, {-0.000001, 1e-300}};
  r.constantsAfter = {true, 9524, -120};
  r.end = CalibrationEnd::Cancelled;
  r.endText = QStringLiteral("Kalibrace vstupu zrušena !");
  return r;
}

TEST(CalibrationRecord, ItsFileKeepsEveryEntry) {
  const CalibrationRecord r = Sample();
  const QByteArray file = FormatCalibrationRecord(r);
  CalibrationRecord back;
  QString error;
  ASSERT_TRUE(ParseCalibrationRecord(file, back, error)) << error.toStdString();
  EXPECT_EQ(back.ident, r.ident);
  EXPECT_EQ(back.tag, r.tag);
  EXPECT_EQ(back.interfaceType, r.interfaceType);
  EXPECT_EQ(back.connection, r.connection);
  EXPECT_EQ(back.address, r.address);
  EXPECT_EQ(back.rate, r.rate);
  EXPECT_EQ(back.range, r.range);
  EXPECT_EQ(back.referenceName, r.referenceName);
  EXPECT_EQ(back.referenceSerial, r.referenceSerial);
  EXPECT_EQ(back.referenceValidUntil, r.referenceValidUntil);
  EXPECT_EQ(back.operatorName, r.operatorName);
  EXPECT_EQ(back.tolerancePercent, r.tolerancePercent);
  EXPECT_EQ(back.started, r.started);
  EXPECT_EQ(back.started.offsetFromUtc(), 3600);
  EXPECT_EQ(back.ended, r.ended);
  EXPECT_EQ(back.ended.offsetFromUtc(), 3600);
  for (const auto& [mine, theirs] : {std::pair{&r.asFound, &back.asFound}, std::pair{&r.asLeft, &back.asLeft}}) {
    ASSERT_EQ(theirs->readings.size(), mine->readings.size());
    for (qsizetype i = 0; i < mine->readings.size(); ++i) {
      EXPECT_EQ(theirs->readings[i].value, mine->readings[i].value);  // bit for bit
      EXPECT_EQ(theirs->readings[i].reference, mine->readings[i].reference);
    }
  }
  EXPECT_EQ(back.constantsBefore.gain, 10000);
  EXPECT_EQ(back.constantsAfter.gain, 9524);
  EXPECT_EQ(back.constantsAfter.offset, -120);
  EXPECT_TRUE(back.constantsAfter.known);
  EXPECT_EQ(back.end, CalibrationEnd::Cancelled);
  EXPECT_EQ(back.endText, r.endText);
  // Written again it is the same file, so its certificate keeps its number.
  EXPECT_EQ(FormatCalibrationRecord(back), file);
  EXPECT_EQ(CertificateNumber(back), CertificateNumber(r));
  EXPECT_TRUE(CertificateNumber(r).startsWith(QStringLiteral("KP-20261207-")));
  EXPECT_TRUE(file.contains("\"how\": \"cancelled\""));

  // Unknown constants, times and connection stay unknown; a record without a connection reads as before it.
  CalibrationRecord bare = r;
  bare.constantsAfter = {};
  bare.ended = {};
  bare.referenceValidUntil = {};
  bare.connection.clear();
  const QByteArray bareFile = FormatCalibrationRecord(bare);
  EXPECT_FALSE(bareFile.contains("\"connection\""));
  ASSERT_TRUE(ParseCalibrationRecord(bareFile, back, error)) << error.toStdString();
  EXPECT_FALSE(back.constantsAfter.known);
  EXPECT_FALSE(back.ended.isValid());
  EXPECT_FALSE(back.referenceValidUntil.isValid());
  EXPECT_TRUE(back.connection.isEmpty());
}

TEST(CalibrationRecord, ADamagedRecordIsRefusedWithItsReason) {
  const QByteArray good = FormatCalibrationRecord(Sample());
  QByteArray flipped = good;
  flipped[flipped.indexOf("10.213") + 3] = '3';  // one digit of a reading
  const QByteArray body = good.left(good.lastIndexOf("sha256="));
  QByteArray wrongFormat = body;
  wrongFormat.replace("qx510-calibration", "qx510-backup");
  QByteArray noTag = body;
  noTag.replace("\"tag\":", "\"tagg\":");
  const struct {
    const char* name;
    QByteArray text;
    const char* reason;
  } cases[] = {
      {"byte flipped", flipped, "pečeť SHA-256 nesouhlasí"},
      {"seal missing", body, "chybí pečeť SHA-256"},
      {"truncated", good.left(good.size() / 2), "chybí pečeť SHA-256"},
      {"seal cut short", good.left(good.size() - 10), "pečeť SHA-256 nesouhlasí"},
      {"not JSON", SealText("sha256 over something else\n"), "záznam není JSON"},
      {"another file's JSON", SealText(wrongFormat), "nejde o záznam kalibrace"},
      {"an entry missing", SealText(noTag), "položka tag"},
      {"empty", QByteArray(), "chybí pečeť SHA-256"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CalibrationRecord untouched;
    untouched.operatorName = QStringLiteral("dřívější");
    QString error;
    EXPECT_FALSE(ParseCalibrationRecord(c.text, untouched, error));
    EXPECT_TRUE(error.contains(QString::fromUtf8(c.reason))) << error.toStdString();
    EXPECT_EQ(untouched.operatorName, QStringLiteral("dřívější"));
  }
}

TEST(CalibrationRecord, TheVerdictCountsEveryReadingAgainstTheTolerance) {
  // ±0.1 % of 10 V: 0.01 V. 5.01 - 5.0 is a hair above 0.01 as a double, and still within.
  const double tolerance = ToleranceFromPercent(RangeVoltage, DefaultTolerancePercent);
  EXPECT_DOUBLE_EQ(tolerance, 0.01);
  EXPECT_DOUBLE_EQ(ToleranceFromPercent(RangeCurrent, DefaultTolerancePercent), 0.02);
  const struct {
    QVector<CalibrationReading> readings;
    CalibrationVerdict verdict;
  } cases[] = {
      {{}, CalibrationVerdict::None},
      {{{5.01, 5.0}, {4.99, 5.0}}, CalibrationVerdict::Within},
      {{{5.0, 5.0}, {5.0101, 5.0}}, CalibrationVerdict::Outside},  // the mean would be within
      {{{std::numeric_limits<double>::quiet_NaN(), 5.0}}, CalibrationVerdict::Outside},
  };
  for (const auto& c : cases) {
    ReadingSeries s;
    s.readings = c.readings;
    EXPECT_EQ(JudgeReadings(s, tolerance), c.verdict) << c.readings.size();
  }
}

// What no calibration gives is refused when a record is read, the character named.
TEST(CalibrationRecord, EntriesNoCalibrationGivesAreRefusedWhenRead) {
  const auto with = [](const std::function<void(CalibrationRecord&)>& change) {
    CalibrationRecord r = Sample();
    change(r);
    return r;
  };
  const struct {
    const char* name;
    CalibrationRecord record;
    const char* reason;
  } cases[] = {
      {"a direction override in the tag", with([](auto& r) { r.tag = QStringLiteral("TT") + QChar(0x202E) + QStringLiteral("401-TT"); }),
       "Označení modulu obsahuje nedovolený znak U+202E (znak pro směr textu)."},
      {"an escape in the operator", with([](auto& r) { r.operatorName = QStringLiteral("\x1b[31mJan"); }),
       "obsahuje nedovolený znak U+001B (řídicí znak)."},
      {"a bell in the reference's name", with([](auto& r) { r.referenceName = QStringLiteral("K1\a"); }), "U+0007"},
      {"no tag", with([](auto& r) { r.tag.clear(); }), "Označení modulu chybí."},
      {"no operator", with([](auto& r) { r.operatorName = QStringLiteral("  "); }), "kdo kalibruje, chybí."},
      {"no reference", with([](auto& r) { r.referenceName.clear(); }), "Název referenčního přístroje chybí."},
      {"an endless tolerance", with([](auto& r) { r.tolerancePercent = 1e308; }), "Tolerance musí být"},
      {"a reading of 1e308", with([](auto& r) { r.asLeft.readings[0].value = 1e308; }), "mimo fyzikální meze"},
      {"the end before the start", with([](auto& r) { r.ended = r.started.addSecs(-1); }), "dřív než její začátek"},
      {"a bidi override in the connection", with([](auto& r) { r.connection += QChar(0x202E); }), "Připojení modulu obsahuje nedovolený znak U+202E"},
      {"an endless connection", with([](auto& r) { r.connection += QString(20000, QLatin1Char('x')); }), "Připojení modulu je delší než"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CalibrationRecord back;
    QString error;
    EXPECT_FALSE(ParseCalibrationRecord(FormatCalibrationRecord(c.record), back, error));
    EXPECT_TRUE(error.contains(QString::fromUtf8(c.reason))) << error.toStdString();
  }
}

// A tag of 36 Czech letters makes 217 bytes percent-encoded: its name is shortened with a hash
// of the whole, so that it fits and its history still finds it; another long tag alike at the
// start gets a name of its own.
TEST(CalibrationRecord, ALongTagMakesANameTheFileSystemTakes) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  SigningKey key;
  QString error;
  ASSERT_TRUE(LoadSigningKey(dir.filePath(QStringLiteral("podpis")), key, error)) << error.toStdString();
  CalibrationRecord r = Sample();
  r.tag = QString(QStringLiteral("Čerpadlo")).repeated(4) + QStringLiteral("ŠŤŘŽ");
  CalibrationRecord other = r;
  other.tag += QStringLiteral("2");
  EXPECT_LE(CalibrationRecordFileName(r).toUtf8().size(), 200);
  EXPECT_NE(CalibrationRecordFileName(r), CalibrationRecordFileName(other));
  ASSERT_FALSE(SaveCalibrationRecordIn(dir.path(), r, key, error).isEmpty()) << error.toStdString();
  ASSERT_FALSE(SaveCalibrationRecordIn(dir.path(), other, key, error).isEmpty()) << error.toStdString();
  const QVector<CalibrationRecordEntry> history = ListCalibrationRecords(dir.path(), r.tag);
  ASSERT_EQ(history.size(), 1);
  EXPECT_TRUE(history[0].sound) << history[0].error.toStdString();
}

TEST(CalibrationRecord, TheHistoryOfATagListsItsRecordsNewestFirstDamagedOnesIncluded) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  CalibrationRecord r = Sample();
  QString error;
  SigningKey key;
  ASSERT_TRUE(LoadSigningKey(dir.filePath(QStringLiteral("podpis")), key, error)) << error.toStdString();
  const auto saveAt = [&](const QString& tag, QTime time) {
    r.tag = tag;
    r.started = QDateTime(QDate(2026, 12, 7), time, Qt::OffsetFromUTC, 3600);
    const QString path = SaveCalibrationRecordIn(dir.path(), r, key, error);
    EXPECT_FALSE(path.isEmpty()) << error.toStdString();
    return path;
  };
  const QString tag = QStringLiteral("TT-104/č.2");
  const QString first = saveAt(tag, QTime(8, 0));
  const QString third = saveAt(tag, QTime(10, 0));
  const QString again = saveAt(tag, QTime(10, 0));  // the same second: a name of its own
  const QString damaged = saveAt(tag, QTime(9, 0));
  saveAt(QStringLiteral("TT-104"), QTime(11, 0));  // another module, whose tag starts alike
  saveAt(QStringLiteral("TT-104_č.2"), QTime(11, 0));
  EXPECT_NE(again, third);
  {
    QFile f(damaged);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    bytes.replace("Jiří", "Jura");
    f.seek(0);
    f.write(bytes);
    f.resize(bytes.size());
  }

  const QVector<CalibrationRecordEntry> history = ListCalibrationRecords(dir.path(), tag);
  ASSERT_EQ(history.size(), 4);
  EXPECT_EQ(history[0].path, again);
  EXPECT_EQ(history[1].path, third);
  EXPECT_EQ(history[2].path, damaged);
  EXPECT_EQ(history[3].path, first);
  EXPECT_FALSE(history[2].sound);
  EXPECT_TRUE(history[2].error.contains(QStringLiteral("pečeť SHA-256 nesouhlasí"))) << history[2].error.toStdString();
  EXPECT_EQ(history[2].started, QDateTime(QDate(2026, 12, 7), QTime(8, 0), Qt::UTC));  // from its name
  for (int i : {0, 1, 3}) {
    EXPECT_TRUE(history[i].sound) << history[i].error.toStdString();
    EXPECT_EQ(history[i].record.tag, tag);
  }
  EXPECT_EQ(ListCalibrationRecords(dir.path(), QStringLiteral("TT-104")).size(), 1);
  EXPECT_TRUE(ListCalibrationRecords(dir.path(), QStringLiteral("jiný")).isEmpty());
}

}  // namespace
