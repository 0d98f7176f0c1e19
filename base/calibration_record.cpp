#include "base/calibration_record.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "base/calibration_constants.h"
#include "base/checked_file.h"
#include "base/sealed_text.h"
#include "base/settings.h"

namespace {

constexpr char FormatName[] = "qx510-calibration";
constexpr int FormatVersion = 1;
// A record is a few kilobytes; anything far larger is no record.
constexpr qint64 MaxRecordBytes = 4 << 20;
// The errors' comparison with the tolerance allows for the rounding of a double.
constexpr double ToleranceSlack = 1e-9;
const QString NoTagName = QStringLiteral("bez-oznaceni");

QString VerdictKey(CalibrationVerdict v) {
  switch (v) {
    case CalibrationVerdict::Within: return QStringLiteral("within");
    case CalibrationVerdict::Outside: return QStringLiteral("outside");
    case CalibrationVerdict::None: break;
  }
  return QStringLiteral("none");
}

QString EndKey(CalibrationEnd e) {
  switch (e) {
    case CalibrationEnd::Finished: return QStringLiteral("finished");
    case CalibrationEnd::Cancelled: return QStringLiteral("cancelled");
    case CalibrationEnd::Failed: break;
  }
  return QStringLiteral("failed");
}

QString TimeText(const QDateTime& t) { return t.isValid() ? t.toString(Qt::ISODate) : QString(); }

QJsonObject SeriesJson(const ReadingSeries& s, double tolerance) {
  QJsonArray readings;
  for (const CalibrationReading& r : s.readings)
    readings.append(QJsonObject{{QStringLiteral("value"), r.value},
                                {QStringLiteral("reference"), r.reference},
                                {QStringLiteral("error"), r.error()}});
  return {{QStringLiteral("readings"), readings},
          {QStringLiteral("mean"), s.mean()},
          {QStringLiteral("spread"), s.spread()},
          {QStringLiteral("meanError"), s.meanError()},
          {QStringLiteral("verdict"), VerdictKey(JudgeReadings(s, tolerance))}};
}

QJsonValue ConstantsJson(const CalibrationConstantsValue& c) {
  if (!c.known) return QJsonValue(QJsonValue::Null);
  return QJsonObject{{QStringLiteral("gain"), int(c.gain)}, {QStringLiteral("offset"), int(c.offset)}};
}

QJsonObject RecordJson(const CalibrationRecord& r) {
  QJsonObject module{{QStringLiteral("ident"), r.ident},
                     {QStringLiteral("tag"), r.tag},
                     {QStringLiteral("interface"), int(r.interfaceType)},
                     {QStringLiteral("address"), int(r.address)},
                     {QStringLiteral("rate"), int(r.rate)},
                     {QStringLiteral("input"), int(r.input)},
                     {QStringLiteral("range"), r.range == RangeCurrent ? QStringLiteral("current") : QStringLiteral("voltage")},
                     {QStringLiteral("unit"), r.unit()}};
  QJsonObject reference{{QStringLiteral("name"), r.referenceName},
                        {QStringLiteral("serial"), r.referenceSerial},
                        {QStringLiteral("validUntil"),
                         r.referenceValidUntil.isValid() ? r.referenceValidUntil.toString(Qt::ISODate) : QString()}};
  QJsonObject tolerance{{QStringLiteral("percentOfSpan"), r.tolerancePercent}, {QStringLiteral("value"), r.tolerance()}};
  QJsonObject end{{QStringLiteral("how"), EndKey(r.end)}, {QStringLiteral("text"), r.endText}};
  return {{QStringLiteral("format"), QString::fromLatin1(FormatName)},
          {QStringLiteral("version"), FormatVersion},
          {QStringLiteral("module"), module},
          {QStringLiteral("reference"), reference},
          {QStringLiteral("operator"), r.operatorName},
          {QStringLiteral("tolerance"), tolerance},
          {QStringLiteral("started"), TimeText(r.started)},
          {QStringLiteral("ended"), TimeText(r.ended)},
          {QStringLiteral("asFound"), SeriesJson(r.asFound, r.tolerance())},
          {QStringLiteral("asLeft"), SeriesJson(r.asLeft, r.tolerance())},
          {QStringLiteral("constantsBefore"), ConstantsJson(r.constantsBefore)},
          {QStringLiteral("constantsAfter"), ConstantsJson(r.constantsAfter)},
          {QStringLiteral("verdict"), VerdictKey(r.verdict())},
          {QStringLiteral("end"), end}};
}

QByteArray RecordBody(const CalibrationRecord& r) { return QJsonDocument(RecordJson(r)).toJson(QJsonDocument::Indented); }

// Reading the JSON back: each getter fails with the key's name when the value is missing or
// of another type or outside its range.
class Reader {
 public:
  QString error;

  QJsonObject object(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isObject()) fail(key);
    return v.toObject();
  }
  QString text(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString()) fail(key);
    return v.toString();
  }
  double number(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble() || !std::isfinite(v.toDouble())) fail(key);
    return v.toDouble();
  }
  qint64 integer(const QJsonObject& o, const char* key, qint64 min, qint64 max) {
    const double d = number(o, key);
    if (d != std::floor(d) || d < double(min) || d > double(max)) {
      fail(key);
      return min;
    }
    return qint64(d);
  }
  QDateTime time(const QJsonObject& o, const char* key, bool required) {
    const QString t = text(o, key);
    if (t.isEmpty() && !required) return {};
    const QDateTime parsed = QDateTime::fromString(t, Qt::ISODate);
    if (!parsed.isValid()) fail(key);
    return parsed;
  }
  ReadingSeries series(const QJsonObject& o, const char* key) {
    ReadingSeries s;
    const QJsonObject so = object(o, key);
    const QJsonValue list = so.value(QLatin1String("readings"));
    if (!list.isArray()) {
      fail(key);
      return s;
    }
    for (const QJsonValue& item : list.toArray()) {
      if (!item.isObject()) {
        fail(key);
        break;
      }
      s.readings.append({number(item.toObject(), "value"), number(item.toObject(), "reference")});
    }
    return s;
  }
  CalibrationConstantsValue constants(const QJsonObject& o, const char* key) {
    CalibrationConstantsValue c;
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isNull()) return c;
    if (!v.isObject()) {
      fail(key);
      return c;
    }
    c.known = true;
    c.gain = uint16_t(integer(v.toObject(), "gain", 0, 65535));
    c.offset = int16_t(integer(v.toObject(), "offset", -32768, 32767));
    return c;
  }
  void fail(const char* key) {
    if (error.isEmpty()) error = QStringLiteral("chybná nebo chybějící položka %1.").arg(QLatin1String(key));
  }
};

QString EncodedTag(const QString& tag) {
  if (tag.isEmpty()) return NoTagName;
  // Everything but letters, digits, '-' and '.' as %XX of its UTF-8 bytes, '_' too, so that the
  // first '_' of a file name ends the tag.
  return QString::fromLatin1(QUrl::toPercentEncoding(tag, QByteArray(), QByteArray("_~")));
}

// A file name's tag part and start time; false for a name that is no record's.
bool SplitFileName(const QString& name, QString& tagPart, QDateTime& started, int& sequence) {
  if (!name.endsWith(QLatin1String(CalibrationRecordSuffix))) return false;
  const QString stem = name.left(name.size() - qsizetype(sizeof CalibrationRecordSuffix) + 1);
  const qsizetype at = stem.indexOf(QLatin1Char('_'));
  if (at <= 0) return false;
  tagPart = stem.left(at);
  // "YYYYMMDD-HHMMSS", maybe followed by ".N".
  const QString when = stem.mid(at + 1).section(QLatin1Char('.'), 0, 0);
  sequence = stem.mid(at + 1).section(QLatin1Char('.'), 1, 1).toInt();  // 0 without one
  started = QDateTime::fromString(when, QStringLiteral("yyyyMMdd-HHmmss"));
  if (!started.isValid()) return false;
  started.setTimeSpec(Qt::UTC);
  return true;
}

}  // namespace

double ReadingSeries::mean() const {
  if (readings.isEmpty()) return 0;
  double sum = 0;
  for (const CalibrationReading& r : readings) sum += r.value;
  return sum / double(readings.size());
}

double ReadingSeries::spread() const {
  if (readings.size() < 2) return 0;
  const auto [low, high] = std::minmax_element(readings.cbegin(), readings.cend(),
                                               [](const CalibrationReading& a, const CalibrationReading& b) { return a.value < b.value; });
  return high->value - low->value;
}

double ReadingSeries::meanError() const {
  if (readings.isEmpty()) return 0;
  double sum = 0;
  for (const CalibrationReading& r : readings) sum += r.error();
  return sum / double(readings.size());
}

CalibrationVerdict JudgeReadings(const ReadingSeries& series, double tolerance) {
  if (series.readings.isEmpty()) return CalibrationVerdict::None;
  for (const CalibrationReading& r : series.readings)
    if (!(std::fabs(r.error()) <= tolerance + ToleranceSlack)) return CalibrationVerdict::Outside;  // NaN: outside
  return CalibrationVerdict::Within;
}

double RangeSpan(uint8_t range) { return range == RangeCurrent ? 20.0 : 10.0; }

double ToleranceFromPercent(uint8_t range, double percentOfSpan) { return RangeSpan(range) * percentOfSpan / 100.0; }

QString CalibrationRecord::unit() const { return range == RangeCurrent ? QStringLiteral("mA") : QStringLiteral("V"); }

QString VerdictText(CalibrationVerdict verdict) {
  switch (verdict) {
    case CalibrationVerdict::Within: return QStringLiteral("v toleranci");
    case CalibrationVerdict::Outside: return QStringLiteral("mimo toleranci");
    case CalibrationVerdict::None: break;
  }
  return QStringLiteral("neposouzeno");
}

QString EndText(CalibrationEnd end) {
  switch (end) {
    case CalibrationEnd::Finished: return QStringLiteral("dokončena");
    case CalibrationEnd::Cancelled: return QStringLiteral("zrušeno");
    case CalibrationEnd::Failed: break;
  }
  return QStringLiteral("selhala");
}

QString VerdictSentence(const CalibrationRecord& r) {
  switch (r.end) {
    case CalibrationEnd::Cancelled: return QStringLiteral("Kalibrace zrušena; vstup se neposuzuje.");
    case CalibrationEnd::Failed: return QStringLiteral("Kalibrace selhala; vstup se neposuzuje.");
    case CalibrationEnd::Finished: break;
  }
  switch (r.verdict()) {
    case CalibrationVerdict::Within: return QStringLiteral("Kalibrace dokončena; vstup je po kalibraci v toleranci.");
    case CalibrationVerdict::Outside: return QStringLiteral("Kalibrace dokončena; vstup je po kalibraci MIMO TOLERANCI.");
    case CalibrationVerdict::None: break;
  }
  return QStringLiteral("Kalibrace dokončena; vstup nebyl po kalibraci ověřen.");
}

QString CertificateNumber(const CalibrationRecord& r) {
  // A record read from its file keeps the seal it was read with, so its number is the same
  // whichever program wrote the JSON.
  const QByteArray seal = r.seal.isEmpty() ? QCryptographicHash::hash(RecordBody(r), QCryptographicHash::Sha256).toHex() : r.seal;
  const QByteArray sum = seal.left(8).toUpper();
  const QString date = r.started.isValid() ? r.started.date().toString(QStringLiteral("yyyyMMdd")) : QStringLiteral("00000000");
  return QStringLiteral("KP-%1-%2").arg(date, QString::fromLatin1(sum));
}

QByteArray FormatCalibrationRecord(const CalibrationRecord& record) { return SealText(RecordBody(record)); }

bool ParseCalibrationRecord(const QByteArray& text, CalibrationRecord& record, QString& error) {
  QByteArrayList lines;
  switch (OpenSealedText(text, lines)) {
    case SealState::Missing:
      error = QStringLiteral("chybí pečeť SHA-256, záznam je poškozený nebo neúplný.");
      return false;
    case SealState::Broken:
      error = QStringLiteral("pečeť SHA-256 nesouhlasí, záznam byl poškozen nebo změněn.");
      return false;
    case SealState::Sound: break;
  }
  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(lines.join('\n'), &parseError);
  if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
    error = QStringLiteral("záznam není JSON (%1).").arg(parseError.error != QJsonParseError::NoError
                                                              ? QStringLiteral("znak %1").arg(parseError.offset + 1)
                                                              : QStringLiteral("nejde o objekt"));
    return false;
  }
  const QJsonObject o = doc.object();
  if (o.value(QLatin1String("format")).toString() != QLatin1String(FormatName)) {
    error = QStringLiteral("nejde o záznam kalibrace QX-510.");
    return false;
  }
  if (o.value(QLatin1String("version")).toDouble() != FormatVersion) {
    error = QStringLiteral("záznam má neznámou verzi %1.").arg(o.value(QLatin1String("version")).toVariant().toString());
    return false;
  }
  Reader in;
  CalibrationRecord r;
  const QJsonObject module = in.object(o, "module");
  r.ident = in.text(module, "ident");
  r.tag = in.text(module, "tag");
  r.interfaceType = uint8_t(in.integer(module, "interface", 0, 255));
  r.address = uint8_t(in.integer(module, "address", 0, 255));
  r.rate = int32_t(in.integer(module, "rate", 1, 10000000));
  r.input = uint8_t(in.integer(module, "input", 0, 255));
  const QString range = in.text(module, "range");
  if (range != QLatin1String("voltage") && range != QLatin1String("current")) in.fail("range");
  r.range = range == QLatin1String("current") ? RangeCurrent : RangeVoltage;
  const QJsonObject reference = in.object(o, "reference");
  r.referenceName = in.text(reference, "name");
  r.referenceSerial = in.text(reference, "serial");
  if (const QString until = in.text(reference, "validUntil"); !until.isEmpty()) {
    r.referenceValidUntil = QDate::fromString(until, Qt::ISODate);
    if (!r.referenceValidUntil.isValid()) in.fail("validUntil");
  }
  r.operatorName = in.text(o, "operator");
  r.tolerancePercent = in.number(in.object(o, "tolerance"), "percentOfSpan");
  if (r.tolerancePercent < 0) in.fail("percentOfSpan");
  r.started = in.time(o, "started", true);
  r.ended = in.time(o, "ended", false);
  r.asFound = in.series(o, "asFound");
  r.asLeft = in.series(o, "asLeft");
  r.constantsBefore = in.constants(o, "constantsBefore");
  r.constantsAfter = in.constants(o, "constantsAfter");
  const QJsonObject end = in.object(o, "end");
  const QString how = in.text(end, "how");
  if (how == QLatin1String("finished"))
    r.end = CalibrationEnd::Finished;
  else if (how == QLatin1String("cancelled"))
    r.end = CalibrationEnd::Cancelled;
  else if (how == QLatin1String("failed"))
    r.end = CalibrationEnd::Failed;
  else
    in.fail("how");
  r.endText = in.text(end, "text");
  if (!in.error.isEmpty()) {
    error = QStringLiteral("záznam kalibrace: %1").arg(in.error);
    return false;
  }
  // Sound: the seal is the last line that is not blank.
  r.seal = text.trimmed().split('\n').back().trimmed().mid(int(sizeof "sha256=") - 1);
  record = r;
  return true;
}

bool SaveCalibrationRecord(const QString& path, const CalibrationRecord& record, QString& error) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  return WriteFileChecked(path, FormatCalibrationRecord(record), &error);
}

bool LoadCalibrationRecord(const QString& path, CalibrationRecord& record, QString& error) {
  if (const QString refused = RefusedFileTarget(path); !refused.isEmpty() && QFileInfo::exists(path)) {
    error = refused;
    return false;
  }
  QByteArray bytes;
  if (!ReadFileChecked(path, MaxRecordBytes + 1, &bytes, &error)) return false;
  if (bytes.size() > MaxRecordBytes) {
    error = QStringLiteral("soubor je příliš velký, záznam kalibrace to není.");
    return false;
  }
  return ParseCalibrationRecord(bytes, record, error);
}

QString CalibrationRecordFolder() {
  const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (dataHome.isEmpty()) return QString();
  return QDir(dataHome).filePath(QStringLiteral("%1/kalibrace").arg(QLatin1String(SettingsFolderName)));
}

QString CalibrationRecordFileName(const CalibrationRecord& record) {
  const QDateTime start = record.started.isValid() ? record.started.toUTC() : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
  return EncodedTag(record.tag) + QLatin1Char('_') + start.toString(QStringLiteral("yyyyMMdd-HHmmss")) +
         QLatin1String(CalibrationRecordSuffix);
}

QString SaveCalibrationRecordIn(const QString& folder, const CalibrationRecord& record, QString& error) {
  if (folder.isEmpty()) {
    error = QStringLiteral("uživatel nemá složku pro data.");
    return QString();
  }
  if (!QDir().mkpath(folder)) {
    error = QStringLiteral("složku %1 nelze vytvořit.").arg(folder);
    return QString();
  }
  const QString name = CalibrationRecordFileName(record);
  const QString stem = name.left(name.size() - qsizetype(sizeof CalibrationRecordSuffix) + 1);
  QString path = QDir(folder).filePath(name);
  for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
    path = QDir(folder).filePath(QStringLiteral("%1.%2%3").arg(stem, QString::number(n), QLatin1String(CalibrationRecordSuffix)));
  if (!SaveCalibrationRecord(path, record, error)) return QString();
  return path;
}

QVector<CalibrationRecordEntry> ListCalibrationRecords(const QString& folder, const QString& tag) {
  QVector<CalibrationRecordEntry> entries;
  QVector<int> sequences;
  if (folder.isEmpty()) return entries;
  const QString wanted = EncodedTag(tag);
  const QStringList names = QDir(folder).entryList({QLatin1String("*") + QLatin1String(CalibrationRecordSuffix)},
                                                   QDir::Files, QDir::Name);
  for (const QString& name : names) {
    QString tagPart;
    QDateTime fromName;
    int sequence = 0;
    if (!SplitFileName(name, tagPart, fromName, sequence) || tagPart != wanted) continue;
    CalibrationRecordEntry e;
    e.path = QDir(folder).filePath(name);
    e.started = fromName;
    CalibrationRecord r;
    if (LoadCalibrationRecord(e.path, r, e.error)) {
      if (r.tag != tag) continue;  // another tag's record under this name: not this module's
      e.sound = true;
      e.started = r.started;
      e.record = r;
    }
    entries.append(e);
    sequences.append(sequence);
  }
  QVector<qsizetype> order(entries.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
    if (entries[a].started != entries[b].started) return entries[a].started > entries[b].started;
    return sequences[a] > sequences[b];  // of two started in one second, the one saved later first
  });
  QVector<CalibrationRecordEntry> sorted;
  for (qsizetype i : order) sorted.append(entries[i]);
  return sorted;
}
