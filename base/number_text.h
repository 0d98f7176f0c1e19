#pragma once

#include <QString>
#include <cstdint>

// A whole number, decimal or "0x" hexadecimal, within min..max.
bool ParseNumber(const QString& text, qint64 min, qint64 max, qint64& out);

QString Hex8(uint32_t mask);  // "0x0000FF00"
