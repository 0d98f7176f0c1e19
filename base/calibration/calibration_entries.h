#pragma once
// What a calibration record may hold, checked when the operator enters it (the companion's
// options, the workbench's entries) and again whenever a record is read, so that a record
// made or changed by hand never puts on a certificate what no calibration gives: a text that
// reads otherwise than it is written (a direction override shows "TT", U+202E, "401-TT" as "TTTT-104"),
// terminal control characters, an empty name, an infinite or absurd reading, a tolerance of
// no meaning, an end before the start.

#include <QString>

struct CalibrationRecord;

// At most this many characters in each of the operator's texts.
constexpr int MaxCalibrationTextChars = 200;
// At most this many readings in a series.
constexpr int MaxCalibrationReadings = 100;
// A tolerance in % of the range's span lies in (0, MaxTolerancePercent].
constexpr double MaxTolerancePercent = 10;

// Why `text`, entered as `label` ("Označení modulu"), may not go into a record: empty when
// `required`, too long, or carrying a control or formatting character, which is named
// ("Označení modulu obsahuje nedovolený znak U+202E (znak pro směr textu)."). Empty when fine.
QString CalibrationTextProblem(const QString& label, const QString& text, bool required);

// The operator's entries of a record (tag, operator, reference instrument, tolerance): the
// first that does not fit, or an empty text.
QString CalibrationEntriesProblem(const CalibrationRecord& record);

// The whole record as it is read: the entries, the texts the program wrote, the readings
// (finite and within the range's physical limits, ±1.5 × its span), the number of readings,
// the rate, and the start before the end. The first that does not fit, or an empty text.
QString CalibrationRecordProblem(const CalibrationRecord& record);

// A text from the module or the program made fit for a record: control and formatting
// characters dropped (a module pads its identification with NULs).
QString SafeRecordText(const QString& text);
