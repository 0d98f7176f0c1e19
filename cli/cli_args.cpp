#include "cli/cli_args.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>

#include "base/text/baud.h"

namespace {

// No option is a digit, so a negative number is always a value ("set address -1" is then
// refused by the address check, not taken for an option). The parser is shown it behind a
// mark, which the positional words lose again.
const QChar NumberMark(u'\x1');

bool NegativeNumber(const QString& word) { return word.size() > 1 && word[0] == u'-' && word[1].isDigit(); }

// Whether the parser's message is the one Qt writes from `source`, in English or in Qt's own
// Czech translation when the program installed it.
bool ParserSays(const QString& error, const char* source) {
  for (const QString& text : {QString::fromLatin1(source), QCoreApplication::translate("QCommandLineParser", source)}) {
    const QString lead = text.left(text.indexOf(QLatin1String("%1")));
    if (!lead.isEmpty() && error.startsWith(lead)) return true;
  }
  return false;
}

// The parser's own message in the operator's words.
QString ParserError(const QCommandLineParser& parser) {
  const QStringList unknown = parser.unknownOptionNames();
  if (!unknown.isEmpty()) {
    const QString& name = unknown.front();
    return QStringLiteral("Neznámá volba: %1%2").arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
  }
  const QString error = parser.errorText();
  const qsizetype open = error.indexOf(QLatin1Char('\'')), close = error.lastIndexOf(QLatin1Char('\''));
  const QString option = open >= 0 && close > open ? error.mid(open + 1, close - open - 1) : error;
  if (ParserSays(error, "Missing value after '%1'.")) return QStringLiteral("Volba %1 potřebuje hodnotu.").arg(option);
  if (ParserSays(error, "Unexpected value after '%1'.")) return QStringLiteral("Volba %1 nemá hodnotu.").arg(option);
  return error;
}

}  // namespace

QString ParseArgs(const QStringList& args, const QStringList& allowed, ParsedArgs& out) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
  parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
  struct Known {
    QString name;
    bool takesValue;
  };
  QList<Known> known;
  for (QString entry : allowed) {
    const bool takesValue = entry.endsWith(QLatin1Char('='));
    if (takesValue) entry.chop(1);
    const QStringList names = entry.split(QLatin1Char('|'));
    QCommandLineOption option(names);
    if (takesValue) option.setValueName(QStringLiteral("x"));
    parser.addOption(option);
    known.append({names.back(), takesValue});
  }
  QStringList words{QStringLiteral("qx510-cli")};
  for (const QString& word : args) words << (NegativeNumber(word) ? NumberMark + word : word);
  if (!parser.parse(words)) return ParserError(parser);
  for (QString word : parser.positionalArguments()) {
    if (word.startsWith(NumberMark)) word.remove(0, 1);
    out.positional << word;
  }
  for (const Known& k : known)
    if (parser.isSet(k.name)) out.values.insert(k.name, k.takesValue ? parser.value(k.name) : QString());
  return {};
}

const QString RateChoicesText = [] {
  QStringList rates;
  for (int c = 0; c < BaudCodeCount; ++c) rates << QString::number(BaudCodeToRate(c));
  return QStringLiteral("Komunikační rychlost musí být jedna z: %1 Bd.").arg(rates.join(QStringLiteral(", ")));
}();

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
