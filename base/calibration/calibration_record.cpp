#include "base/calibration/calibration_record.h"

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

#include "base/calibration/calibration_constants.h"
#include "base/calibration/calibration_entries.h"
#include "base/files/checked_file.h"
#include "base/text/plain_text.h"
#include "base/calibration/record_signature.h"
#include "base/files/sealed_text.h"
#include "base/settings/settings.h"

namespace {

constexpr char FormatName[] = "qx510-calibration";
constexpr int SealedVersion = 1;  // before the signatures
constexpr int SignedVersion = 2;
constexpr char SignatureKey[] = "ed25519=";
constexpr char SignatureAlgorithm[] = "Ed25519";
// The errors' comparison with the tolerance allows for the rounding of a double.
constexpr double ToleranceSlack = 1e-9;
const QString NoTagName = QStringLiteral("bez-oznaceni");
// A tag's part of a file name at most, so that every name fits the file system's 255 bytes.
constexpr qsizetype MaxTagNameBytes = 96;

// What the JSON's readers get of a number the program works out: the digits that mean
// something, without the binary noise of a double (0.1120000000000001).
double Rounded(double value) { return std::round(value * 1e6) / 1e6 + 0.0; }

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
                                {QStringLiteral("error"), Rounded(r.error())}});
  return {{QStringLiteral("readings"), readings},
          {QStringLiteral("mean"), Rounded(s.mean())},
          {QStringLiteral("spread"), Rounded(s.spread())},
          {QStringLiteral("meanError"), Rounded(s.meanError())},
          {QStringLiteral("verdict"), VerdictKey(JudgeReadings(s, tolerance))}};
}

QJsonValue ConstantsJson(const CalibrationConstantsValue& c) {
  if (!c.known) return QJsonValue(QJsonValue::Null);
  return QJsonObject{{QStringLiteral("gain"), int(c.gain)}, {QStringLiteral("offset"), int(c.offset)}};
}

QJsonObject RecordJson(const CalibrationRecord& r, const RecordSignature& signature) {
  QJsonObject module{{QStringLiteral("ident"), r.ident},
                     {QStringLiteral("tag"), r.tag},
                     {QStringLiteral("interface"), int(r.interfaceType)},
                     {QStringLiteral("address"), int(r.address)},
                     {QStringLiteral("rate"), int(r.rate)},
                     {QStringLiteral("input"), int(r.input)},
                     {QStringLiteral("range"), r.range == RangeCurrent ? QStringLiteral("current") : QStringLiteral("voltage")},
                     {QStringLiteral("unit"), r.unit()}};
  // Only when known, so that a record without it reads as records always did.
  if (!r.connection.isEmpty()) module.insert(QStringLiteral("connection"), r.connection);
  QJsonObject reference{{QStringLiteral("name"), r.referenceName},
                        {QStringLiteral("serial"), r.referenceSerial},
                        {QStringLiteral("validUntil"),
                         r.referenceValidUntil.isValid() ? r.referenceValidUntil.toString(Qt::ISODate) : QString()}};
  QJsonObject tolerance{{QStringLiteral("percentOfSpan"), r.tolerancePercent}, {QStringLiteral("value"), Rounded(r.tolerance())}};
  QJsonObject end{{QStringLiteral("how"), EndKey(r.end)}, {QStringLiteral("text"), r.endText}};
  QJsonObject json{{QStringLiteral("format"), QString::fromLatin1(FormatName)},
          {QStringLiteral("version"), signature.present() ? SignedVersion : SealedVersion},
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
  if (signature.present())
    json.insert(QStringLiteral("signature"),
                QJsonObject{{QStringLiteral("algorithm"), QString::fromLatin1(SignatureAlgorithm)},
                            {QStringLiteral("key"), QString::fromLatin1(signature.publicKey.toBase64())},
                            {QStringLiteral("signer"), signature.signer}});
  return json;
}

QByteArray RecordBody(const CalibrationRecord& r, const RecordSignature& signature) {
  return QJsonDocument(RecordJson(r, signature)).toJson(QJsonDocument::Indented);
}

// The text before the signature line, and the signature; `sealed` is all of `text` when
// there is no signature line.
bool SplitSignature(const QByteArray& text, QByteArray& sealed, QByteArray& signature) {
  qsizetype end = text.size();
  while (end > 0 && QChar::isSpace(uchar(text[end - 1]))) --end;
  const qsizetype start = text.lastIndexOf('\n', end - 1) + 1;
  if (end <= 0 || !text.mid(start, end - start).startsWith(SignatureKey)) {
    sealed = text;
    return false;
  }
  sealed = text.left(start);
  signature = QByteArray::fromBase64(text.mid(start, end - start).mid(qsizetype(sizeof SignatureKey) - 1),
                                     QByteArray::AbortOnBase64DecodingErrors);
  return true;
}

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
  // A text a record may leave out: empty when it does.
  QString optionalText(const QJsonObject& o, const char* key) {
    return o.contains(QLatin1String(key)) ? text(o, key) : QString();
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
  // first '_' of a file name ends the tag, and '~', which thus marks a shortened tag alone.
  const QByteArray encoded = QUrl::toPercentEncoding(tag, QByteArray(), QByteArray("_~"));
  if (encoded.size() <= MaxTagNameBytes) return QString::fromLatin1(encoded);
  qsizetype cut = MaxTagNameBytes - 17;
  while (cut > 0 && (encoded[cut - 1] == '%' || (cut >= 2 && encoded[cut - 2] == '%'))) --cut;  // not within a %XX
  return QString::fromLatin1(encoded.left(cut)) + QLatin1Char('~') +
         QString::fromLatin1(QCryptographicHash::hash(tag.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
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
  const QByteArray seal =
      r.seal.isEmpty() ? QCryptographicHash::hash(RecordBody(r, r.signature), QCryptographicHash::Sha256).toHex() : r.seal;
  const QByteArray sum = seal.left(8).toUpper();
  const QString date = r.started.isValid() ? r.started.date().toString(QStringLiteral("yyyyMMdd")) : QStringLiteral("00000000");
  return QStringLiteral("KP-%1-%2").arg(date, QString::fromLatin1(sum));
}

QByteArray FormatCalibrationRecord(const CalibrationRecord& record) { return SealText(RecordBody(record, {})); }

QByteArray FormatCalibrationRecord(const CalibrationRecord& record, const SigningKey& key) {
  const QByteArray sealed = SealText(RecordBody(record, {key.publicKey, key.signer}));
  const QByteArray signature = SignMessage(key, sealed);
  if (signature.isEmpty()) return {};
  return sealed + SignatureKey + signature.toBase64() + '\n';
}

bool ParseCalibrationRecord(const QByteArray& text, CalibrationRecord& record, QString& error) {
  QByteArray sealed, signature;
  const bool signedFile = SplitSignature(text, sealed, signature);
  QByteArrayList lines;
  switch (OpenSealedText(sealed, lines)) {
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
  const double version = o.value(QLatin1String("version")).toDouble();
  if (version != SealedVersion && version != SignedVersion) {
    error = QStringLiteral("záznam má neznámou verzi %1.").arg(o.value(QLatin1String("version")).toVariant().toString());
    return false;
  }
  if ((version == SignedVersion) != signedFile) {
    error = signedFile ? QStringLiteral("záznam verze 1 nemůže mít podpis; je poškozený nebo změněný.")
                       : QStringLiteral("chybí podpis Ed25519; záznam byl po podpisu změněn nebo je neúplný.");
    return false;
  }
  Reader in;
  CalibrationRecord r;
  if (signedFile) {
    const QJsonObject sign = in.object(o, "signature");
    if (in.text(sign, "algorithm") != QLatin1String(SignatureAlgorithm)) in.fail("algorithm");
    r.signature.publicKey = QByteArray::fromBase64(in.text(sign, "key").toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    r.signature.signer = in.text(sign, "signer");
    if (!in.error.isEmpty()) {
      error = QStringLiteral("záznam kalibrace: %1").arg(in.error);
      return false;
    }
    if (!VerifyMessage(r.signature.publicKey, sealed, signature)) {
      error = QStringLiteral("podpis Ed25519 nesouhlasí: záznam byl po podpisu změněn (padělek nebo poškození).");
      return false;
    }
  }
  const QJsonObject module = in.object(o, "module");
  r.ident = in.text(module, "ident");
  r.tag = in.text(module, "tag");
  r.interfaceType = uint8_t(in.integer(module, "interface", 0, 255));
  r.connection = in.optionalText(module, "connection");
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
  QString problem = CalibrationRecordProblem(r);
  if (problem.isEmpty() && r.signature.present())
    problem = CalibrationTextProblem(QStringLiteral("Jméno podepisujícího"), r.signature.signer, true);
  if (!problem.isEmpty()) {
    error = QStringLiteral("záznam kalibrace: %1").arg(problem);
    return false;
  }
  // Sound: the seal is the last line of the sealed text that is not blank.
  r.seal = sealed.trimmed().split('\n').back().trimmed().mid(int(sizeof "sha256=") - 1);
  record = r;
  return true;
}

bool SaveCalibrationRecord(const QString& path, CalibrationRecord& record, const SigningKey& key, QString& error) {
  // What the module and the program said is kept without what a record may not carry.
  CalibrationRecord kept = record;
  kept.ident = SafeRecordText(kept.ident);
  kept.connection = SafeRecordText(kept.connection);
  kept.endText = SafeRecordText(kept.endText);
  const QByteArray bytes = FormatCalibrationRecord(kept, key);
  if (bytes.isEmpty()) {
    error = QStringLiteral("záznam nelze podepsat (klíč k podpisu chybí nebo je vadný)");
    return false;
  }
  QDir().mkpath(QFileInfo(path).absolutePath());
  if (!WriteNewFileChecked(path, bytes, 0666, &error)) return false;
  kept.seal = QCryptographicHash::hash(RecordBody(kept, {key.publicKey, key.signer}), QCryptographicHash::Sha256).toHex();
  kept.signature = {key.publicKey, key.signer};
  record = kept;
  return true;
}

bool LoadCalibrationRecord(const QString& path, CalibrationRecord& record, QString& error) {
  QByteArray bytes;
  if (!ReadFileChecked(path, MaxCalibrationRecordBytes, &bytes, &error)) return false;
  return ParseCalibrationRecord(bytes, record, error);
}

QString CertificateRefusal(const CalibrationRecord& record) {
  if (!record.signature.present())
    return QStringLiteral("záznam není podepsán (pořídila ho starší verze programu); bez podpisu nelze doložit, kdo ho "
                          "pořídil, a kalibrační protokol z něj nevznikne.");
  if (TrustOfKey(record.signature.publicKey).kind != KeyTrust::Unknown) return {};
  return QStringLiteral("záznam podepsal klíč s otiskem %1, který tento počítač nezná (podepsáno jako „%2“); protokol z něj "
                        "nevznikne. Je-li to klíč toho, kdo kalibroval, uložte jeho veřejnou část (soubor "
                        "klic-verejny.pem z jeho počítače) do složky %3 pod jeho jménem.")
      .arg(KeyFingerprint(record.signature.publicKey), QString::fromStdString(ShownText(record.signature.signer.toStdString())),
           TrustedKeysFolder());
}

QString SignatureText(const CalibrationRecord& record) {
  if (!record.signature.present()) return QStringLiteral("nepodepsán");
  const KeyTrust trust = TrustOfKey(record.signature.publicKey);
  const QString whose = trust.kind == KeyTrust::Own       ? QStringLiteral(", klíč uživatele této stanice")
                        : trust.kind == KeyTrust::Trusted ? QStringLiteral(", důvěryhodný klíč „%1“").arg(trust.name)
                                                          : QStringLiteral(", NEZNÁMÝ KLÍČ");
  return QStringLiteral("Ed25519, otisk klíče %1 (%2%3)").arg(KeyFingerprint(record.signature.publicKey), record.signature.signer, whose);
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

namespace {

// The first name of the record in `folder` nothing holds now.
QString FreeRecordPath(const QString& folder, const CalibrationRecord& record) {
  const QString name = CalibrationRecordFileName(record);
  const QString stem = name.left(name.size() - qsizetype(sizeof CalibrationRecordSuffix) + 1);
  QString path = QDir(folder).filePath(name);
  for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
    path = QDir(folder).filePath(QStringLiteral("%1.%2%3").arg(stem, QString::number(n), QLatin1String(CalibrationRecordSuffix)));
  return path;
}

bool MakeFolder(const QString& folder, QString& error) {
  if (folder.isEmpty()) {
    error = QStringLiteral("uživatel nemá složku pro data.");
    return false;
  }
  if (!QDir().mkpath(folder)) {
    error = QStringLiteral("složku %1 nelze vytvořit.").arg(folder);
    return false;
  }
  return true;
}

}  // namespace

QString PlanCalibrationRecordIn(const QString& folder, const CalibrationRecord& record, QString& error) {
  if (!MakeFolder(folder, error)) return QString();
  const QString path = FreeRecordPath(folder, record);
  if (const QString refused = NewFileRefusal(path); !refused.isEmpty()) {
    error = QStringLiteral("soubor %1 nelze vytvořit: %2.").arg(path, refused);
    return QString();
  }
  return path;
}

QString SaveCalibrationRecordIn(const QString& folder, CalibrationRecord& record, const SigningKey& key, QString& error) {
  if (!MakeFolder(folder, error)) return QString();
  // A name taken between the look and the write (another program saving in the same second)
  // is passed over; the write never replaces a file.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QString path = FreeRecordPath(folder, record);
    if (SaveCalibrationRecord(path, record, key, error)) return path;
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) return QString();
  }
  return QString();
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
      e.refusal = CertificateRefusal(r);
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
