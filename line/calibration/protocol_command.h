#pragma once
// qx510-line --protocol RECORD -o FILE.pdf: a calibration record's certificate without a
// window or a display, so that scripts can make them.

#include <QStringList>

// Exit statuses besides ReportWritten (0) and ReportFailed (2, bad usage, a record that cannot
// be read, a PDF that cannot be written; line/common/command_output.h).
// The record is damaged or forged (its seal or signature missing or not matching), no record,
// holds entries no calibration gives, is not signed, or is signed by a key not trusted here.
constexpr int ProtocolRecordRefused = 3;

// `words`: the arguments after the program's name, "--protocol" among them. RECORD and FILE
// may be "-" for standard input and output. Nothing is written when the record is refused.
int RunProtocolCommand(const QStringList& words);
