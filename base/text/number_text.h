#pragma once

#include <QString>
#include <cstdint>

// A whole number, decimal or "0x" hexadecimal, within min..max.
bool ParseNumber(const QString& text, qint64 min, qint64 max, qint64& out);

QString Hex8(uint32_t mask);  // "0x0000FF00"

// "1:05" for 65 s, "1:01:05" past an hour.
QString DurationText(qint64 seconds);
// What is left of work of `total` units with `done` done in `elapsedMs`, at the pace so far,
// in ms rounded up to whole seconds; 0 when nothing is done yet or all is.
qint64 TimeLeftMs(qint64 done, qint64 total, qint64 elapsedMs);
