#include "base/text/czech_plural.h"

QString CzechPlural(qint64 n, const char* one, const char* few, const char* many) {
  const qint64 magnitude = n < 0 ? -n : n;
  return QString::fromUtf8(magnitude == 1 ? one : magnitude >= 2 && magnitude <= 4 ? few : many);
}

QString CzechCount(qint64 n, const char* one, const char* few, const char* many) {
  return QStringLiteral("%1 %2").arg(n).arg(CzechPlural(n, one, few, many));
}

QString CzechRate(double perSecond, const char* one, const char* few, const char* many) {
  if (perSecond > 0 && perSecond < 1) return QStringLiteral("méně než 1 %1/s").arg(QString::fromUtf8(one));
  return CzechCount(qRound64(perSecond), one, few, many) + QStringLiteral("/s");
}
