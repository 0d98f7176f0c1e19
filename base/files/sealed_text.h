#pragma once
// A text file closed by a "sha256=<hex>" line over everything before it, so that a damaged or
// cut file is refused rather than half read.

#include <QByteArray>
#include <QByteArrayList>

// The body (ending in a line end) with its seal line appended.
QByteArray SealText(const QByteArray& body);

enum class SealState { Sound, Missing, Broken };
// The text's lines without line ends (a CR before a LF goes too) and without blank lines at the
// end; the seal line is taken off when it is there. Whether the seal is there and matches.
SealState OpenSealedText(const QByteArray& text, QByteArrayList& lines);
