#pragma once

#include <QWidget>
#include <deque>
#include <utility>

// The 32 inputs over the last minutes: one row per input, time running to the right, a bar
// where the input was on.
class InputTimeline : public QWidget {
  Q_OBJECT
 public:
  explicit InputTimeline(QWidget* parent = nullptr);

  static constexpr double SpanSeconds = 120;
  void append(double t, uint32_t bits);
  QSize sizeHint() const override { return {600, 32 * 6 + 20}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::deque<std::pair<double, uint32_t>> samples_;
};
