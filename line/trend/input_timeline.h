#pragma once

#include <QWidget>
#include <deque>
#include <utility>

// The 32 inputs over the last minutes, as they were read (seconds since the epoch).
class InputHistory {
 public:
  static constexpr double SpanSeconds = 120;
  void append(double t, uint32_t bits);
  const std::deque<std::pair<double, uint32_t>>& samples() const { return samples_; }

 private:
  std::deque<std::pair<double, uint32_t>> samples_;
};

// An InputHistory drawn: one row per input, time running to the right, a bar where the input
// was on.
class InputTimeline : public QWidget {
  Q_OBJECT
 public:
  explicit InputTimeline(QWidget* parent = nullptr);

  static constexpr double SpanSeconds = InputHistory::SpanSeconds;
  void setHistory(const InputHistory* history) { history_ = history; }
  QSize sizeHint() const override { return {600, 32 * 6 + 20}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const InputHistory* history_ = nullptr;
};
