#pragma once
// calibrate --record: the record's entries from the command line and where the record goes.

#include <QString>
#include <QStringList>
#include <cstdint>

#include "base/calibration/calibration_record.h"
#include "base/calibration/record_signature.h"
#include "cli/cli_args.h"

// The options that only a calibration with a record takes.
extern const QStringList CalibrationRecordOptions;

struct RecordTarget {
  QString path;    // a file to write, or the folder to write the record in under its own name
  bool folder = false;
  SigningKey key;  // the user's, which signs the record
};

// Fills the record's operator entries (tag, operator, reference instrument, tolerance) and its
// start from the options and decides where it goes: --record FILE, a folder, or with an empty
// value ("--record=") the user's folder of records. False with the operator's message when an
// entry is missing or wrong (CalibrationEntriesProblem), the user's signing key cannot be had,
// or no new file can be made where the record goes (an existing file is never replaced, a
// name too long is said). Checked before anything is sent to the module, so that a record is
// never lost after the module was changed.
bool ReadRecordOptions(const ParsedArgs& args, uint8_t range, CalibrationRecord& record, RecordTarget& target,
                       QString& error);

// Writes the record where the target says; the path written, or empty with `error`.
QString WriteRecord(const RecordTarget& target, CalibrationRecord& record, QString& error);
