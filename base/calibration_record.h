#pragma once
// The record of one calibration of an analog input range, as the plant's quality system asks
// for it: which module (and the tag the operator gave it), against which reference instrument,
// by whom, when, what the input read before the calibration (as found) and after it (as left),
// the constants before and after, the verdict and how the calibration ended.
//
// Kept as one file per calibration: the record as indented JSON (Qt's QJsonDocument, keys in
// alphabetical order), closed by a "sha256=<hex>" line over everything before it, the seal of
// base/sealed_text.h that the line file has too. A record whose seal is missing or does not
// match is refused, never read as valid. `head -n -1 FILE | jq .` shows the JSON.
//
// The JSON ("format": "qx510-calibration", "version": 1):
//   module      {ident, tag, interface, address, rate, input, range: "voltage"|"current", unit: "V"|"mA"}
//   reference   {name, serial, validUntil: "YYYY-MM-DD" or ""}
//   operator    text
//   tolerance   {percentOfSpan, value}: value in the unit, ± around the reference
//   started, ended   ISO 8601 with the UTC offset ("2026-12-07T22:10:03+01:00"); ended "" while unknown
//   asFound, asLeft  {readings: [{value, reference, error}], mean, spread, meanError, verdict}
//   constantsBefore, constantsAfter   {gain, offset} or null when not known
//   verdict     "within" | "outside" | "none" (the as-left series' verdict; none unless finished)
//   end         {how: "finished"|"cancelled"|"failed", text}
// mean, spread, meanError and error are written for the JSON's readers; loading recomputes
// them from the readings.

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVector>
#include <cstdint>

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

struct CalibrationRecord {
  // The module.
  QString ident;                // its identification as it reported it ("QX-510   1.20"), may be empty
  QString tag;                  // the tag or serial number the operator entered (the module reports none)
  uint8_t interfaceType = 0;    // InterfaceType
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

  QByteArray seal;              // the SHA-256 (hex) the record was read with; empty for a new one

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

// The sealed file's bytes.
QByteArray FormatCalibrationRecord(const CalibrationRecord& record);
// False, with the reason in Czech in `error`, for text that is not a sound record: the seal
// missing ("chybí pečeť SHA-256, záznam je poškozený nebo neúplný"), the seal not matching
// ("pečeť SHA-256 nesouhlasí, záznam byl poškozen nebo změněn"), no JSON, or JSON that is not
// a record of this format. `record` is untouched unless the whole record is sound.
bool ParseCalibrationRecord(const QByteArray& text, CalibrationRecord& record, QString& error);

// Through WriteFileChecked (base/checked_file.h): a failure leaves the earlier file whole.
// The folder is made when missing.
bool SaveCalibrationRecord(const QString& path, const CalibrationRecord& record, QString& error);
bool LoadCalibrationRecord(const QString& path, CalibrationRecord& record, QString& error);

// Where the records live: <GenericDataLocation>/qx510/kalibrace, on Linux
// ~/.local/share/qx510/kalibrace ($XDG_DATA_HOME honoured); empty when the user has none.
QString CalibrationRecordFolder();
constexpr char CalibrationRecordSuffix[] = ".qx510cal";
// A record's file name in a folder: the tag percent-encoded (only A-Z a-z 0-9 - . kept; an
// empty tag is "bez-oznaceni"), "_", the start in UTC as YYYYMMDD-HHMMSS, the suffix.
QString CalibrationRecordFileName(const CalibrationRecord& record);
// Saves the record in `folder` under its file name (a ".N" before the suffix when the name is
// taken); the path written, or empty with `error`.
QString SaveCalibrationRecordIn(const QString& folder, const CalibrationRecord& record, QString& error);

// One file of a module's history.
struct CalibrationRecordEntry {
  QString path;
  bool sound = false;           // false: damaged, `error` says why, `record` is empty
  QString error;
  QDateTime started;            // from the record, or for a damaged one from its file name (UTC)
  CalibrationRecord record;
};
// The records of one tag in `folder` (found by the file name's tag part and, for sound
// records, the tag inside), newest start first; damaged ones included as damaged.
QVector<CalibrationRecordEntry> ListCalibrationRecords(const QString& folder, const QString& tag);
