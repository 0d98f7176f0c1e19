#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <functional>
#include <utility>

// Calls back on every paint of the watched widget.
class PaintSpy : public QObject {
 public:
  PaintSpy(QWidget* widget, std::function<void()> onPaint) : onPaint_(std::move(onPaint)) {
    widget->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) onPaint_();
    return false;
  }

 private:
  std::function<void()> onPaint_;
};
