#include "cli/cli_args.h"

#include <algorithm>

#include "base/baud.h"

QString ParseArgs(const QStringList& args, const QStringList& allowed, ParsedArgs& out) {
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& word = args[i];
    if (!word.startsWith(QLatin1String("--")) || word == QLatin1String("--")) {
      out.positional << word;
      continue;
    }
    QString name = word.mid(2);
    QString value;
    bool inlineValue = false;
    if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
      value = name.mid(eq + 1);
      name = name.left(eq);
      inlineValue = true;
    }
    const bool takesValue = allowed.contains(name + QLatin1Char('='));
    if (!takesValue && !allowed.contains(name)) return QStringLiteral("Neznámá volba: --%1").arg(name);
    if (takesValue && !inlineValue) {
      if (i + 1 >= args.size()) return QStringLiteral("Volba --%1 potřebuje hodnotu.").arg(name);
      value = args[++i];
    } else if (!takesValue && inlineValue) {
      return QStringLiteral("Volba --%1 nemá hodnotu.").arg(name);
    }
    out.values.insert(name, value);
  }
  return {};
}

bool ParseRate(const QString& text, int& code) {
  qint64 rate = 0;
  if (!ParseNumber(text, 1, 1000000, rate)) return false;
  for (int c = 0; c < BaudCodeCount; ++c) {
    if (BaudCodeToRate(c) == rate) {
      code = c;
      return true;
    }
  }
  return false;
}

bool ParseMask32(const QString& text, uint32_t& mask) {
  const QString t = text.trimmed();
  if (t == QLatin1String("none")) {
    mask = 0;
    return true;
  }
  if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    const QString digits = t.mid(2);
    bool ok = false;
    const qulonglong n = digits.toULongLong(&ok, 16);
    if (!ok || digits.size() > 8 || digits.contains(QLatin1Char('+')) || digits.contains(QLatin1Char('-')))
      return false;
    mask = uint32_t(n);
    return true;
  }
  uint32_t bits = 0;
  for (const QString& part : t.split(QLatin1Char(','))) {
    qint64 bit = 0;
    if (part.trimmed().startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) return false;
    if (!ParseNumber(part, 0, 31, bit)) return false;
    bits |= 1u << bit;
  }
  mask = bits;
  return true;
}

bool ParseAddressList(const QString& text, std::vector<uint8_t>& out) {
  std::vector<uint8_t> list;
  for (const QString& part : text.split(QLatin1Char(','))) {
    const QStringList ends = part.split(QLatin1Char('-'));
    qint64 first = 0, last = 0;
    if (ends.size() > 2 || !ParseNumber(ends.front(), 0, 255, first)) return false;
    last = first;
    if (ends.size() == 2 && (!ParseNumber(ends.back(), 0, 255, last) || last < first)) return false;
    for (qint64 a = first; a <= last; ++a)
      if (std::find(list.begin(), list.end(), uint8_t(a)) == list.end()) list.push_back(uint8_t(a));
  }
  out = std::move(list);
  return true;
}

bool ParseRateList(const QString& text, std::vector<int>& codes) {
  std::vector<int> list;
  if (text.trimmed() == QLatin1String("all")) {
    for (int c = 0; c < BaudCodeCount; ++c) list.push_back(c);
  } else {
    for (const QString& part : text.split(QLatin1Char(','))) {
      int code = 0;
      if (!ParseRate(part, code)) return false;
      if (std::find(list.begin(), list.end(), code) == list.end()) list.push_back(code);
    }
  }
  codes = std::move(list);
  return true;
}
