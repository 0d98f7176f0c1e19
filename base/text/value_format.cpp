#include "base/text/value_format.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kPrecision = 5;
constexpr int kMaxDecimals = 18;

// The exact decimal digits of a finite, non-zero magnitude: value = 0.digits × 10^exponent,
// digits without leading or trailing zeros. A float widened to double is exact, and 120
// places after the first digit hold every digit a float can have.
struct Decimal {
  std::string digits;
  int exponent = 0;
};

Decimal ExactDecimal(double magnitude) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "%.120e", magnitude);
  // d.ddd...e±XX
  const std::string text(buffer);
  const auto e = text.find('e');
  Decimal d;
  d.digits.push_back(text[0]);
  d.digits.append(text, 2, e - 2);
  d.exponent = std::atoi(text.c_str() + e + 1) + 1;
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

// Keeps `keep` leading digits, rounding half away from zero; keep <= 0 leaves at most a
// carried "1" one place above the first digit. Empty digits mean the value rounded to 0.
void RoundTo(Decimal& d, int keep) {
  if (keep >= static_cast<int>(d.digits.size())) return;
  if (keep < 0) {
    d.digits.clear();
    return;
  }
  const bool up = d.digits[keep] >= '5';
  d.digits.resize(keep);
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
    if (i >= 0) {
      ++d.digits[i];
    } else {
      d.digits.insert(d.digits.begin(), '1');
      ++d.exponent;
    }
  }
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
}

char DigitAt(const Decimal& d, int position) {  // position 0 = first significant digit
  return position >= 0 && position < static_cast<int>(d.digits.size()) ? d.digits[position] : '0';
}

}  // namespace

QString FormatFixedPrecision5(float value, int decimals) {
  if (std::isnan(value)) return QStringLiteral("NAN");
  if (std::isinf(value)) return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
  if (decimals < 0) decimals = 0;
  if (decimals > kMaxDecimals) decimals = kMaxDecimals;

  const QString separator = QLocale().decimalPoint();
  Decimal d;
  if (value != 0.0f) {
    d = ExactDecimal(std::fabs(static_cast<double>(value)));
    const int wholeDigits = d.exponent;
    RoundTo(d, std::min(kPrecision, wholeDigits + decimals));
  }
  const bool zero = d.digits.empty();
  QString out;
  if (!zero && value < 0) out += QLatin1Char('-');

  if (!zero && d.exponent > kPrecision) {
    // General format: d[.ddd]E<exponent>, the digits already rounded to the precision.
    out += QLatin1Char(d.digits[0]);
    if (d.digits.size() > 1) {
      out += separator;
      out += QString::fromLatin1(d.digits.data() + 1, static_cast<qsizetype>(d.digits.size() - 1));
    }
    out += QLatin1Char('E');
    out += QString::number(d.exponent - 1);
    return out;
  }

  if (zero || d.exponent <= 0) {
    out += QLatin1Char('0');
  } else {
    for (int i = 0; i < d.exponent; ++i) out += QLatin1Char(DigitAt(d, i));
  }
  if (decimals > 0) {
    out += separator;
    for (int i = 0; i < decimals; ++i) out += QLatin1Char(zero ? '0' : DigitAt(d, d.exponent + i));
  }
  return out;
}

namespace {

QString Figure(double value, int decimals, bool sign) {
  const double scale = std::pow(10.0, decimals);
  const double rounded = std::round(value * scale) / scale + 0.0;  // no "-0,000"
  const QString text = QLocale().toString(rounded, 'f', decimals);
  return sign && rounded > 0 ? QLatin1Char('+') + text : text;
}

}  // namespace

QString ReadingFigure(double value, bool sign) { return Figure(value, ReadingDecimals, sign); }

QString DerivedFigure(double value, bool sign) {
  const double shortScale = std::pow(10.0, ReadingDecimals);
  const bool needsMore = std::fabs(std::round(value * shortScale) / shortScale - value) > 1e-9 * std::max(1.0, std::fabs(value));
  return Figure(value, needsMore ? ReadingDecimals + 1 : ReadingDecimals, sign);
}
