#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "base/text/number_text.h"

// A command line split into words and options, as Qt programs parse them ("--name value",
// "--name=value", "-n value", "-abc" for three flags, "--" ends the options).
struct ParsedArgs {
  QStringList positional;
  QHash<QString, QString> values;  // name without "--" -> value ("" for a flag)
  bool has(const QString& name) const { return values.contains(name); }
  QString value(const QString& name) const { return values.value(name); }
};

// allowed: option names, each optionally after its one-letter form ("a|address="); a trailing
// '=' marks one that takes a value. Values are kept under the long name. Returns the
// operator's message for the first bad option, or an empty text.
QString ParseArgs(const QStringList& args, const QStringList& allowed, ParsedArgs& out);

// One of the nine rates in Bd ("9600"); code := its baud code.
extern const QString RateChoicesText;  // the message naming the nine
bool ParseRate(const QString& text, int& code);
// 32 bits: "0x" and up to eight hexadecimal digits, a list of bit numbers 0..31 ("0,3,17"),
// or "none".
bool ParseMask32(const QString& text, uint32_t& mask);
// Bus addresses: numbers and ranges 0..255, comma-separated ("0-255", "1,5,10-20"); each once,
// in the order given.
bool ParseAddressList(const QString& text, std::vector<uint8_t>& out);
// Baud codes: "all" or rates in Bd, comma-separated.
bool ParseRateList(const QString& text, std::vector<int>& codes);
