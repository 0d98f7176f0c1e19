#pragma once

#include <QWidget>

#include "line/trend_series.h"

class QCPGraph;
class QCustomPlot;
class QLabel;

// A trend of one series on a time axis: the wheel zooms and dragging pans the time axis;
// the value axis follows what is visible. Only a thinned copy of the visible span is handed
// to the plot (min and max per pixel column), so hours of readings redraw as fast as a
// screenful. Min, max and mean of the visible span are shown below the plot.
class TrendPlot : public QWidget {
  Q_OBJECT
 public:
  explicit TrendPlot(QWidget* parent = nullptr);

  void setSeries(const TrendSeries* series, const QString& unit);
  // Shows [t0, t1] (seconds since the epoch) and stops following new readings.
  void setView(double t0, double t1);
  // Shows the whole series and follows new readings at the right edge.
  void showAll();
  void setFollowing(bool on) { following_ = on; }
  bool following() const { return following_; }
  // New readings arrived: the plot is refreshed (cheaply) when it follows them.
  void seriesGrew();
  // Thins the visible span and repaints now.
  void redraw();

  QCustomPlot* plot() const { return plot_; }
  QString statsText() const;
  std::size_t shownPoints() const { return shown_; }

 signals:
  void followingChanged(bool on);

 private:
  void rangeChanged();

  QCustomPlot* plot_;
  QCPGraph* graph_;
  QLabel* stats_;
  const TrendSeries* series_ = nullptr;
  QString unit_;
  bool following_ = true;
  bool adjusting_ = false;
  double span_ = 60;  // seconds shown while following
  std::size_t shown_ = 0;
};
