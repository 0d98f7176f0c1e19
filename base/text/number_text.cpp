#include "base/text/number_text.h"

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

QString DurationText(qint64 seconds) {
  const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  const QString ms = QStringLiteral("%1:%2").arg(m, h > 0 ? 2 : 1, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
  return h > 0 ? QStringLiteral("%1:%2").arg(h).arg(ms) : ms;
}

qint64 TimeLeftMs(qint64 done, qint64 total, qint64 elapsedMs) {
  if (done <= 0 || done >= total) return 0;
  return (elapsedMs * (total - done) / done + 999) / 1000 * 1000;
}
