#include "line/trend/trend_plot.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include "base/files/checked_file.h"
#include "base/text/czech_plural.h"
#include "line/trend/axis_ticks.h"
#include "line/common/save_path.h"
#include "line/trend/trend_export.h"

TrendPlot::TrendPlot(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TrendPlot"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  plot_ = new QCustomPlot(this);
  plot_->setObjectName(QStringLiteral("TrendChart"));
  plot_->setMinimumHeight(200);
  // Lines only: antialiasing thousands of segments is what makes a plot slow.
  plot_->setNotAntialiasedElements(QCP::aeAll);
  plot_->setPlottingHint(QCP::phFastPolylines, true);
  graph_ = plot_->addGraph();
  graph_->setPen(QPen(QColor(0x00, 0x50, 0xB0)));
  graph_->setAdaptiveSampling(false);  // the series is thinned here already
  // Ticks and labels come from the span shown (placeTicks), so no two labels read alike.
  timeTicker_ = QSharedPointer<QCPAxisTickerText>::create();
  valueTicker_ = QSharedPointer<QCPAxisTickerText>::create();
  plot_->xAxis->setTicker(timeTicker_);
  plot_->yAxis->setTicker(valueTicker_);
  plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  plot_->axisRect()->setRangeDrag(Qt::Horizontal);
  plot_->axisRect()->setRangeZoom(Qt::Horizontal);
  layout->addWidget(plot_, 1);

  auto* below = new QHBoxLayout;
  stats_ = new QLabel(this);
  stats_->setObjectName(QStringLiteral("TrendStats"));
  readout_ = new QLabel(this);
  readout_->setObjectName(QStringLiteral("TrendReadout"));
  readout_->setMinimumWidth(readout_->fontMetrics().horizontalAdvance(QStringLiteral("Kurzor: 00:00:00,000  -00000,000000 mA")));
  auto* fit = new QPushButton(QStringLiteral("&Přizpůsobit"), this);
  fit->setObjectName(QStringLiteral("TrendFit"));
  fit->setToolTip(QStringLiteral("Osa hodnot znovu podle zobrazených hodnot (Ctrl s kolečkem ji zvětšuje)"));
  auto* png = new QPushButton(QStringLiteral("Exportovat &obrázek…"), this);
  png->setObjectName(QStringLiteral("TrendExportPng"));
  auto* csv = new QPushButton(QStringLiteral("&Exportovat CSV…"), this);
  csv->setObjectName(QStringLiteral("TrendExportCsv"));
  below->addWidget(stats_, 1);
  below->addWidget(readout_);
  below->addWidget(fit);
  below->addWidget(png);
  below->addWidget(csv);
  layout->addLayout(below);
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("TrendMessage"));
  message_->hide();
  layout->addWidget(message_);
  // A success is said for a while; a failure stays until the next export.
  messageShown_ = new QTimer(this);
  messageShown_->setSingleShot(true);
  messageShown_->setInterval(8000);
  connect(messageShown_, &QTimer::timeout, message_, &QLabel::hide);

  connect(plot_->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, &TrendPlot::rangeChanged);
  connect(plot_->yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, &TrendPlot::valueRangeChanged);
  connect(plot_, &QCustomPlot::mouseWheel, this, &TrendPlot::wheel);
  connect(plot_, &QCustomPlot::mouseMove, this, &TrendPlot::pointerMoved);
  connect(fit, &QPushButton::clicked, this, &TrendPlot::fitValues);
  connect(png, &QPushButton::clicked, this, [this] { askExport(true); });
  connect(csv, &QPushButton::clicked, this, [this] { askExport(false); });
}

void TrendPlot::setSeries(const TrendSeries* series, const QString& unit) {
  series_ = series;
  unit_ = unit;
  plot_->yAxis->setLabel(unit);
  valuesZoomed_ = false;
  showAll();
}

void TrendPlot::setCaption(const QString& title, const QString& fileStem) {
  title_ = title;
  fileStem_ = fileStem;
}

QString TrendPlot::caption() const {
  const QString range = unit_ == QLatin1String("mA") ? QStringLiteral("rozsah 0-20mA") : QStringLiteral("rozsah 0-10V");
  return title_.isEmpty() ? QStringLiteral("AIN 0, ") + range : title_ + QStringLiteral(", ") + range;
}

void TrendPlot::setView(double t0, double t1) {
  following_ = false;
  emit followingChanged(false);
  adjusting_ = true;
  plot_->xAxis->setRange(t0, t1);
  adjusting_ = false;
  redraw();
}

void TrendPlot::showAll() {
  following_ = true;
  emit followingChanged(true);
  seriesGrew();
}

void TrendPlot::fitValues() {
  valuesZoomed_ = false;
  redraw();
}

void TrendPlot::seriesGrew() {
  if (!following_ || series_ == nullptr || series_->empty()) return;
  const double end = series_->lastTime();
  const double start = std::min(series_->firstTime(), end - 1);
  adjusting_ = true;
  plot_->xAxis->setRange(start, std::max(end, start + 1));
  adjusting_ = false;
  redraw();
}

void TrendPlot::rangeChanged() {
  if (adjusting_) return;
  // The operator zoomed or panned: hold the view where it is.
  if (following_) {
    following_ = false;
    emit followingChanged(false);
  }
  redraw();
}

void TrendPlot::valueRangeChanged() {
  if (adjusting_) return;
  // Ctrl and the wheel: the operator's value range stays until "Přizpůsobit".
  valuesZoomed_ = true;
  placeTicks();
}

void TrendPlot::wheel(QWheelEvent* event) {
  // Decides what the axis rect's own zoom, which follows this signal, acts on.
  plot_->axisRect()->setRangeZoom(event->modifiers() & Qt::ControlModifier ? Qt::Vertical : Qt::Horizontal);
}

void TrendPlot::pointerMoved(QMouseEvent* event) {
  if (series_ == nullptr || series_->empty()) return readout_->clear();
  const QCPRange range = plot_->xAxis->range();
  const std::size_t i = series_->nearest(plot_->xAxis->pixelToCoord(event->position().x()));
  if (!range.contains(series_->time(i))) return readout_->clear();
  const QLocale locale;
  const QDateTime at = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(series_->time(i) * 1000)));
  readout_->setText(QStringLiteral("Kurzor: %1%2%3  %4 %5")
                        .arg(locale.toString(at, QStringLiteral("HH:mm:ss")), locale.decimalPoint(),
                             QStringLiteral("%1").arg(at.time().msec(), 3, 10, QLatin1Char('0')),
                             locale.toString(series_->value(i), 'f', QLocale::FloatingPointShortest), unit_));
}

void TrendPlot::placeTicks() {
  const QCPRange x = plot_->xAxis->range(), y = plot_->yAxis->range();
  const AxisTicks times = TimeTicks(x.lower, x.upper, std::max(2, plot_->axisRect()->width() / 110));
  const AxisTicks values = ValueTicks(y.lower, y.upper, std::max(2, plot_->axisRect()->height() / 40));
  timeTicker_->setTicks(times.at, times.labels);
  valueTicker_->setTicks(values.at, values.labels);
}

void TrendPlot::redraw() {
  QVector<double> xs, ys;
  const QCPRange range = plot_->xAxis->range();
  if (series_ != nullptr) series_->decimate(range.lower, range.upper, std::max(plot_->axisRect()->width(), 1), xs, ys);
  shown_ = std::size_t(xs.size());
  graph_->setData(xs, ys, true);
  const TrendSeries::Stats s = series_ != nullptr ? series_->stats(range.lower, range.upper) : TrendSeries::Stats{};
  if (s.count > 0 && !valuesZoomed_) {
    const ValueSpan fit = FitValueRange(s.min, s.max);
    adjusting_ = true;
    plot_->yAxis->setRange(fit.lo, fit.hi);
    adjusting_ = false;
  }
  placeTicks();
  const QLocale locale;
  stats_->setText(s.count == 0 ? QStringLiteral("V zobrazeném úseku nejsou žádné hodnoty.")
                               : QStringLiteral("Zobrazený úsek: min %1 %4, max %2 %4, průměr %3 %4 (%5 %6)")
                                     .arg(locale.toString(s.min, 'f', 3), locale.toString(s.max, 'f', 3),
                                          locale.toString(s.mean, 'f', 3), unit_, locale.toString(qulonglong(s.count)),
                                          CzechPlural(qint64(s.count), "hodnota", "hodnoty", "hodnot")));
  plot_->replot(QCustomPlot::rpImmediateRefresh);
}

QString TrendPlot::statsText() const { return stats_->text(); }
QString TrendPlot::readoutText() const { return readout_->text(); }

bool TrendPlot::exportPng(const QString& path, QString& error) const {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  const QCPRange range = plot_->xAxis->range();
  const QImage chart = plot_->toPixmap(std::max(plot_->width(), 320), std::max(plot_->height(), 200)).toImage();
  if (!TitledTrendPicture(chart, caption(), range.lower, range.upper).save(&buffer, "PNG")) {
    error = QStringLiteral("obrázek nelze vytvořit");
    return false;
  }
  return WriteFileChecked(path, bytes, &error);
}

bool TrendPlot::exportCsv(const QString& path, QString& error) const {
  static const TrendSeries none;
  const QCPRange range = plot_->xAxis->range();
  return WriteFileChecked(path, TrendCsv(series_ != nullptr ? *series_ : none, range.lower, range.upper, unit_), &error);
}

void TrendPlot::askExport(bool png) {
  // The module and the span's start in the name: two exports never propose one name.
  const QCPRange range = plot_->xAxis->range();
  const QString name = QStringLiteral("%1-%2.%3")
                           .arg(fileStem_, QDateTime::fromMSecsSinceEpoch(qint64(range.lower * 1000)).toString(QStringLiteral("yyyyMMdd-HHmmss")),
                                png ? QStringLiteral("png") : QStringLiteral("csv"));
  const QString start = QDir(DocumentsFolder()).filePath(name);
  const QString path = png ? AskSavePath(this, QStringLiteral("Exportovat obrázek trendu"), start,
                                         QStringLiteral("Obrázek PNG (*.png)"), QStringLiteral("png"))
                           : AskSavePath(this, QStringLiteral("Exportovat zobrazený úsek trendu"), start,
                                         QStringLiteral("CSV (*.csv)"), QStringLiteral("csv"));
  if (path.isEmpty()) return;
  QString error;
  const bool ok = png ? exportPng(path, error) : exportCsv(path, error);
  message_->setText(ok ? QStringLiteral("Exportováno do %1").arg(path) : QStringLiteral("Export do %1 selhal: %2").arg(path, error));
  message_->setStyleSheet(ok ? QString() : QStringLiteral("color: #b00000; font-weight: bold"));
  message_->show();
  if (ok)
    messageShown_->start();
  else
    messageShown_->stop();
}
