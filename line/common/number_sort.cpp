#include "line/common/number_sort.h"

#include <QCollator>
#include <QLocale>
#include <QRegularExpression>
#include <optional>

namespace {

std::optional<double> LeadingNumber(const QVariant& value) {
  bool ok = false;
  if (value.typeId() != QMetaType::QString) {
    const double v = value.toDouble(&ok);
    if (ok) return v;
  }
  const QString text = value.toString().trimmed();
  if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    const qulonglong v = text.mid(2).section(QLatin1Char(' '), 0, 0).toULongLong(&ok, 16);
    return ok ? std::optional<double>(double(v)) : std::nullopt;
  }
  static const QRegularExpression number(QStringLiteral("^[-+]?\\d+(?:[.,]\\d+)?"));
  const QRegularExpressionMatch m = number.match(text);
  if (!m.hasMatch()) return std::nullopt;
  QString digits = m.captured();
  digits.replace(QLatin1Char(','), QLatin1Char('.'));
  const double v = digits.toDouble(&ok);
  return ok ? std::optional<double>(v) : std::nullopt;
}

}  // namespace

bool CellLess(const QVariant& left, const QVariant& right) {
  const std::optional<double> a = LeadingNumber(left), b = LeadingNumber(right);
  if (a && b && *a != *b) return *a < *b;
  if (a.has_value() != b.has_value()) return a.has_value();  // numbers before text
  const QString l = left.toString(), r = right.toString();
  if (l.isEmpty() != r.isEmpty()) return r.isEmpty();
  static const QCollator collator = [] {
    QCollator c{QLocale()};
    c.setNumericMode(true);
    return c;
  }();
  return collator.compare(l, r) < 0;
}

bool NumberSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  return CellLess(left.data(sortRole()), right.data(sortRole()));
}

bool NumberSortItem::operator<(const QTableWidgetItem& other) const {
  return CellLess(data(Qt::DisplayRole), other.data(Qt::DisplayRole));
}
