#include "line/trend/trend_export.h"

#include <QDateTime>
#include <QPainter>

#include "base/exchange/csv_format.h"
#include "base/exchange/exchange_trace.h"
#include "line/trend/trend_series.h"

QByteArray TrendCsv(const TrendSeries& series, double t0, double t1, const QString& unit, const QLocale& locale) {
  const CsvFormat format = CsvFormat::ForLocale(locale);
  QString text = format.line({QStringLiteral("Čas"), QStringLiteral("Místní čas"), QStringLiteral("Hodnota [%1]").arg(unit)}) +
                 QLatin1Char('\n');
  series.forEach(t0, t1, [&](double t, double v) {
    const qint64 ms = qint64(std::llround(t * 1000));
    text += format.line({ExchangeTimeText(ms * 1000000), format.localTime(ms),
                         format.numbers.toString(v, 'f', QLocale::FloatingPointShortest)}) +
            QLatin1Char('\n');
  });
  return QByteArray(CsvByteOrderMark) + text.toUtf8();
}

QString TrendSpanText(double t0, double t1, const QLocale& locale) {
  const QDateTime from = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(t0 * 1000)));
  const QDateTime to = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(t1 * 1000)));
  const QString date = QStringLiteral("d. M. yyyy "), time = QStringLiteral("HH:mm:ss");
  return locale.toString(from, date + time) + QStringLiteral(" – ") +
         locale.toString(to, from.date() == to.date() ? time : date + time);
}

QImage TitledTrendPicture(const QImage& plot, const QString& title, double t0, double t1) {
  QFont font;
  font.setBold(true);
  const QFontMetrics metrics(font);
  const int line = metrics.lineSpacing(), margin = line / 2;
  QImage picture(plot.width(), plot.height() + 2 * line + 2 * margin, QImage::Format_RGB32);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.setFont(font);
  painter.setPen(Qt::black);
  const QRect room(margin, margin, plot.width() - 2 * margin, line);
  painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(title, Qt::ElideRight, room.width()));
  font.setBold(false);
  painter.setFont(font);
  painter.drawText(room.translated(0, line), Qt::AlignLeft | Qt::AlignVCenter, TrendSpanText(t0, t1));
  painter.drawImage(0, 2 * line + 2 * margin, plot);
  return picture;
}
