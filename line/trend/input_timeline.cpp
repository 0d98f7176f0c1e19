#include "line/trend/input_timeline.h"

#include <QPainter>

InputTimeline::InputTimeline(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("InputTimeline"));
  setMinimumHeight(32 * 5 + 20);
}

void InputHistory::append(double t, uint32_t bits) {
  samples_.emplace_back(t, bits);
  while (!samples_.empty() && samples_.front().first < t - SpanSeconds) samples_.pop_front();
}

void InputTimeline::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  const int labelWidth = fontMetrics().horizontalAdvance(QStringLiteral("DIN 31")) + 6;
  const int top = 2, bottom = height() - 16;
  const double rowH = double(bottom - top) / 32;
  const int x0 = labelWidth, x1 = width() - 4;
  QFont small = font();
  small.setPointSizeF(std::max(6.0, std::min(small.pointSizeF(), rowH * 0.75)));
  p.setFont(small);
  p.setPen(Qt::darkGray);
  for (int n = 0; n < 32; n += 4)
    p.drawText(QRectF(0, top + n * rowH, labelWidth - 4, rowH), Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip,
               QStringLiteral("DIN %1").arg(n));
  p.drawText(QRect(x0, bottom, x1 - x0, 16), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("nyní"));
  p.drawText(QRect(x0, bottom, x1 - x0, 16), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("před %1 s").arg(int(SpanSeconds)));
  if (history_ == nullptr || history_->samples().empty()) return;
  const std::deque<std::pair<double, uint32_t>>& samples = history_->samples();
  const double now = samples.back().first;
  const double scale = (x1 - x0) / SpanSeconds;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x00, 0x90, 0x30));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double start = samples[i].first;
    const double end = i + 1 < samples.size() ? samples[i + 1].first : now;
    const int xa = x0 + int((start - (now - SpanSeconds)) * scale);
    const int xb = std::max(xa + 1, x0 + int((end - (now - SpanSeconds)) * scale));
    const uint32_t bits = samples[i].second;
    for (int n = 0; n < 32; ++n)
      if (bits >> n & 1u) p.drawRect(QRectF(xa, top + n * rowH + 1, xb - xa, std::max(1.0, rowH - 2)));
  }
}
