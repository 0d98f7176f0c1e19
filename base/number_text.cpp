#include "base/number_text.h"

bool ParseNumber(const QString& text, qint64 min, qint64 max, qint64& out) {
  const QString t = text.trimmed();
  bool ok = false;
  qint64 n = 0;
  if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
    n = t.mid(2).toLongLong(&ok, 16);
  else
    n = t.toLongLong(&ok, 10);
  if (!ok || n < min || n > max) return false;
  out = n;
  return true;
}

QString Hex8(uint32_t mask) {
  return QStringLiteral("0x%1").arg(mask, 8, 16, QLatin1Char('0')).toUpper().replace(QLatin1String("0X"),
                                                                                       QLatin1String("0x"));
}
