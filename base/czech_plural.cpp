#include "base/czech_plural.h"

QString CzechPlural(qint64 n, const char* one, const char* few, const char* many) {
  const qint64 magnitude = n < 0 ? -n : n;
  return QString::fromUtf8(magnitude == 1 ? one : magnitude >= 2 && magnitude <= 4 ? few : many);
}

QString CzechCount(qint64 n, const char* one, const char* few, const char* many) {
  return QStringLiteral("%1 %2").arg(n).arg(CzechPlural(n, one, few, many));
}
