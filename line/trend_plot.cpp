#include "line/trend_plot.h"

#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include "base/value_format.h"

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
  auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
  ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss\nd. M."));
  ticker->setDateTimeSpec(Qt::LocalTime);
  plot_->xAxis->setTicker(ticker);
  plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  plot_->axisRect()->setRangeDrag(Qt::Horizontal);
  plot_->axisRect()->setRangeZoom(Qt::Horizontal);
  layout->addWidget(plot_, 1);
  stats_ = new QLabel(this);
  stats_->setObjectName(QStringLiteral("TrendStats"));
  layout->addWidget(stats_);
  connect(plot_->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, &TrendPlot::rangeChanged);
}

void TrendPlot::setSeries(const TrendSeries* series, const QString& unit) {
  series_ = series;
  unit_ = unit;
  plot_->yAxis->setLabel(unit);
  showAll();
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

void TrendPlot::redraw() {
  QVector<double> xs, ys;
  const QCPRange range = plot_->xAxis->range();
  if (series_ != nullptr) series_->decimate(range.lower, range.upper, std::max(plot_->axisRect()->width(), 1), xs, ys);
  shown_ = std::size_t(xs.size());
  graph_->setData(xs, ys, true);
  const TrendSeries::Stats s = series_ != nullptr ? series_->stats(range.lower, range.upper) : TrendSeries::Stats{};
  if (s.count > 0) {
    const double margin = std::max((s.max - s.min) * 0.05, 1e-3);
    plot_->yAxis->setRange(s.min - margin, s.max + margin);
  }
  const QLocale locale;
  stats_->setText(s.count == 0 ? QStringLiteral("V zobrazeném úseku nejsou žádné hodnoty.")
                               : QStringLiteral("Zobrazený úsek: min %1 %4, max %2 %4, průměr %3 %4 (%5 hodnot)")
                                     .arg(locale.toString(s.min, 'f', 3), locale.toString(s.max, 'f', 3),
                                          locale.toString(s.mean, 'f', 3), unit_, locale.toString(qulonglong(s.count))));
  plot_->replot(QCustomPlot::rpImmediateRefresh);
}

QString TrendPlot::statsText() const { return stats_->text(); }
