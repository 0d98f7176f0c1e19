#pragma once

#include <QWidget>

#include "line/trend/trend_series.h"

class QCPAxisTickerText;
class QCPGraph;
class QCustomPlot;
class QLabel;
class QMouseEvent;
class QPushButton;
class QTimer;
class QWheelEvent;

// A trend of one series on a time axis: the wheel zooms and dragging pans the time axis,
// Ctrl with the wheel zooms the value axis; otherwise the value axis follows what is visible.
// Only a thinned copy of the visible span is handed to the plot (min and max per pixel
// column), so hours of readings redraw as fast as a screenful. Min, max and mean of the
// visible span are shown below the plot, and the reading under the cursor beside them.
class TrendPlot : public QWidget {
  Q_OBJECT
 public:
  explicit TrendPlot(QWidget* parent = nullptr);

  void setSeries(const TrendSeries* series, const QString& unit);
  // What the plot shows, for the exports: the title written above an exported picture (the
  // module; the range follows from the unit), and the stem of the file names proposed.
  void setCaption(const QString& title, const QString& fileStem);
  QString caption() const;
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
  // The value axis fits the visible readings again (after a vertical zoom).
  void fitValues();

  // The plot as shown, and the readings of the span shown; false with the reason.
  bool exportPng(const QString& path, QString& error) const;
  bool exportCsv(const QString& path, QString& error) const;

  QCustomPlot* plot() const { return plot_; }
  QString statsText() const;
  QString readoutText() const;
  std::size_t shownPoints() const { return shown_; }
  bool valuesZoomed() const { return valuesZoomed_; }

 signals:
  void followingChanged(bool on);

 private:
  void rangeChanged();
  void valueRangeChanged();
  void wheel(QWheelEvent* event);
  void pointerMoved(QMouseEvent* event);
  void placeTicks();
  void askExport(bool png);

  QCustomPlot* plot_;
  QCPGraph* graph_;
  QSharedPointer<QCPAxisTickerText> timeTicker_;
  QSharedPointer<QCPAxisTickerText> valueTicker_;
  QLabel* stats_;
  QLabel* readout_;
  QLabel* message_;
  QTimer* messageShown_;
  QString title_, fileStem_ = QStringLiteral("trend");
  const TrendSeries* series_ = nullptr;
  QString unit_;
  bool following_ = true;
  bool adjusting_ = false;
  bool valuesZoomed_ = false;
  std::size_t shown_ = 0;
};
