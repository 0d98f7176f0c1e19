#pragma once
// The record of one calibration of an analog input range, as the plant's quality system asks
// for it: which module (and the tag the operator gave it), against which reference instrument,
// by whom, when, what the input read before the calibration (as found) and after it (as left),
// the constants before and after, the verdict and how the calibration ended.
//
// Kept as one file per calibration: the record as indented JSON (Qt's QJsonDocument, keys in
// alphabetical order), closed by a "sha256=<hex>" line over everything before it, the seal of
// base/files/sealed_text.h that the line file has too, and an "ed25519=<base64>" line, the signature
// (base/calibration/record_signature.h) over every byte before it. A record whose seal or signature is
// missing or does not match is refused, never read as valid; so is one whose entries no
// calibration gives (base/calibration/calibration_entries.h). `head -n -2 FILE | jq .` shows the JSON.
// Records of version 1, from before the signatures, are read, never signed: they give no
// certificate (CertificateRefusal).
//
// The JSON ("format": "qx510-calibration", "version": 2):
//   module      {ident, tag, interface, connection, address, rate, input, range: "voltage"|"current", unit: "V"|"mA"}
//               connection: the port and the device the calibration went through, as the
//               connection line names them ("COM1 → /dev/ttyUSB0", "USB → simulátor"); left out
//               where none is known (an interface never mapped to a device, records made before it)
//   reference   {name, serial, validUntil: "YYYY-MM-DD" or ""}
//   operator    text
//   tolerance   {percentOfSpan, value}: value in the unit, ± around the reference
//   started, ended   ISO 8601 with the UTC offset ("2026-12-07T22:10:03+01:00"); ended "" while unknown
//   asFound, asLeft  {readings: [{value, reference, error}], mean, spread, meanError, verdict}
//   constantsBefore, constantsAfter   {gain, offset} or null when not known
//   verdict     "within" | "outside" | "none" (the as-left series' verdict; none unless finished)
//   end         {how: "finished"|"cancelled"|"failed", text}
//   signature   {algorithm: "Ed25519", key: base64 of the 32-byte public key, signer: "user@host"}
// mean, spread, meanError and error are written for the JSON's readers; loading recomputes
// them from the readings.

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVector>
#include <cstdint>

struct SigningKey;

// One reading of the input against the reference, both in the range's unit (V or mA).
struct CalibrationReading {
  double value = 0;      // what the module reported, through its constants at that time
  double reference = 0;  // what the reference instrument gave
  double error() const { return value - reference; }
};

// Within: every reading's error lies within ± the tolerance (bounds included, allowing for
// 1e-9 of the unit's rounding); Outside: one reading or more does not; None: no readings.
enum class CalibrationVerdict { None, Within, Outside };

// A series of readings taken one after another with the same reference applied.
struct ReadingSeries {
  QVector<CalibrationReading> readings;
  double mean() const;       // of the values; 0 without readings
  double spread() const;     // max - min of the values ("rozpětí"); 0 with fewer than two
  double meanError() const;  // mean of the errors; 0 without readings
  bool empty() const { return readings.isEmpty(); }
};

// The verdict of a series against a tolerance (± in the unit).
CalibrationVerdict JudgeReadings(const ReadingSeries& series, double tolerance);

// The span of a range: 10 V or 20 mA. The default tolerance is 0.1 % of it: ±0.010 V,
// ±0.020 mA.
double RangeSpan(uint8_t range);
constexpr double DefaultTolerancePercent = 0.1;
double ToleranceFromPercent(uint8_t range, double percentOfSpan);

enum class CalibrationEnd { Finished, Cancelled, Failed };

struct CalibrationConstantsValue {
  bool known = false;
  uint16_t gain = 0;
  int16_t offset = 0;
};

// Who signed a record: given when it is saved, checked when it is read.
struct RecordSignature {
  QByteArray publicKey;  // Ed25519, 32 bytes; empty: not signed (a record of version 1)
  QString signer;        // the name the signer gave, "user@host"
  bool present() const { return !publicKey.isEmpty(); }
};

struct CalibrationRecord {
  // The module.
  QString ident;                // its identification as it reported it ("QX-510   1.20"), may be empty
  QString tag;                  // the tag or serial number the operator entered (the module reports none)
  uint8_t interfaceType = 0;    // InterfaceType
  QString connection;           // LineDeviceText (base/settings/line_device.h) as the line was opened; may be empty
  uint8_t address = 0;
  int32_t rate = 9600;          // Bd
  uint8_t input = 0;
  uint8_t range = 0;            // RangeVoltage or RangeCurrent

  // The reference instrument.
  QString referenceName;
  QString referenceSerial;
  QDate referenceValidUntil;    // the date its own calibration is valid until; null when not given

  QString operatorName;
  double tolerancePercent = DefaultTolerancePercent;  // of the range's span
  double tolerance() const { return ToleranceFromPercent(range, tolerancePercent); }

  QDateTime started;            // with its UTC offset
  QDateTime ended;              // invalid while the calibration runs

  ReadingSeries asFound;
  ReadingSeries asLeft;
  CalibrationConstantsValue constantsBefore;  // the range's constants read at the start
  CalibrationConstantsValue constantsAfter;   // those the module holds at the end (new or restored)

  CalibrationEnd end = CalibrationEnd::Failed;
  QString endText;              // the failure's text, or what the end said ("Kalibrace vstupu zrušena !")

  QByteArray seal;              // the SHA-256 (hex) the record was read or saved with; empty for a new one
  RecordSignature signature;    // as read or saved; absent for a new one

  QString unit() const;         // "V" or "mA"
  CalibrationVerdict asFoundVerdict() const { return JudgeReadings(asFound, tolerance()); }
  // The as-left readings' verdict when the calibration finished; None when it did not, as
  // whatever was read after the new constants no longer describes the module then.
  CalibrationVerdict verdict() const {
    return end == CalibrationEnd::Finished ? JudgeReadings(asLeft, tolerance()) : CalibrationVerdict::None;
  }
};

// The texts the certificate, the companion and the workbench show.
QString VerdictText(CalibrationVerdict verdict);  // "v toleranci", "mimo toleranci", "neposouzeno"
QString EndText(CalibrationEnd end);             // "dokončena", "zrušeno", "selhala"
// Verdict and end together, in plain words for the operator, e.g. "Kalibrace dokončena; vstup
// je po kalibraci v toleranci." or "Kalibrace zrušena; vstup se neposuzuje."
QString VerdictSentence(const CalibrationRecord& record);

// The certificate's number, stable for a record: "KP-" + the start date (YYYYMMDD, local to
// its offset) + "-" + the first 8 hexadecimal digits (upper case) of its seal: the seal it was
// read with, or for a record not yet saved the seal FormatCalibrationRecord gives it.
QString CertificateNumber(const CalibrationRecord& record);

// A record is a few kilobytes; a file larger than this is refused unread.
constexpr qint64 MaxCalibrationRecordBytes = 4 << 20;

// The file's bytes signed with `key` (version 2).
QByteArray FormatCalibrationRecord(const CalibrationRecord& record, const SigningKey& key);
// Sealed only (version 1), as records were before the signatures; never saved any more.
QByteArray FormatCalibrationRecord(const CalibrationRecord& record);
// False, with the reason in Czech in `error`, for text that is not a sound record: the seal
// missing ("chybí pečeť SHA-256, záznam je poškozený nebo neúplný"), the seal not matching
// ("pečeť SHA-256 nesouhlasí, záznam byl poškozen nebo změněn"), the signature missing or not
// matching ("podpis Ed25519 nesouhlasí: …"), no JSON, JSON that is not a record of this
// format, or entries no calibration gives (CalibrationRecordProblem). `record` is untouched
// unless the whole record is sound.
bool ParseCalibrationRecord(const QByteArray& text, CalibrationRecord& record, QString& error);

// Signs the record with `key` and writes it as a new file (WriteNewFileChecked): an existing
// file is never replaced, and a failure leaves nothing at `path`. The folder is made when
// missing. Once written, `record` holds its seal and signature, so that CertificateNumber
// gives the number its certificate will have.
bool SaveCalibrationRecord(const QString& path, CalibrationRecord& record, const SigningKey& key, QString& error);
bool LoadCalibrationRecord(const QString& path, CalibrationRecord& record, QString& error);

// Why the record gives no certificate: not signed, or signed by a key that is neither the
// user's own nor among the trusted ones (TrustOfKey), which is then named by its fingerprint
// and the name the record claims. Empty when it gives one.
QString CertificateRefusal(const CalibrationRecord& record);
// Who signed it, for the certificate: "Ed25519, otisk klíče 3F2A … (jan@stanice-3, klíč
// uživatele této stanice)".
QString SignatureText(const CalibrationRecord& record);

// Where the records live: <GenericDataLocation>/qx510/kalibrace, on Linux
// ~/.local/share/qx510/kalibrace ($XDG_DATA_HOME honoured); empty when the user has none.
QString CalibrationRecordFolder();
constexpr char CalibrationRecordSuffix[] = ".qx510cal";
// A record's file name in a folder: the tag percent-encoded (only A-Z a-z 0-9 - . kept; an
// empty tag is "bez-oznaceni"), "_", the start in UTC as YYYYMMDD-HHMMSS, the suffix. A tag
// whose encoded form is longer than 96 bytes (about 30 Czech letters) keeps its beginning
// followed by "~" and 16 hexadecimal digits of its SHA-256, so that every name fits the file
// system and the records of one tag still share their names' tag part.
QString CalibrationRecordFileName(const CalibrationRecord& record);
// Where SaveCalibrationRecordIn would put the record now, checked to take a new file
// (NewFileRefusal): decided before the calibration's first exchange, so that a record is never
// lost after the module was changed. The folder is made when missing. Empty with `error`.
QString PlanCalibrationRecordIn(const QString& folder, const CalibrationRecord& record, QString& error);
// Saves the record in `folder` under its file name (a ".N" before the suffix when the name is
// taken); the path written, or empty with `error`.
QString SaveCalibrationRecordIn(const QString& folder, CalibrationRecord& record, const SigningKey& key, QString& error);

// One file of a module's history.
struct CalibrationRecordEntry {
  QString path;
  bool sound = false;           // false: damaged or forged, `error` says why, `record` is empty
  QString error;
  QString refusal;              // a sound record's CertificateRefusal
  QDateTime started;            // from the record, or for a damaged one from its file name (UTC)
  CalibrationRecord record;
};
// The records of one tag in `folder` (found by the file name's tag part and, for sound
// records, the tag inside), newest start first; damaged ones included as damaged.
QVector<CalibrationRecordEntry> ListCalibrationRecords(const QString& folder, const QString& tag);
