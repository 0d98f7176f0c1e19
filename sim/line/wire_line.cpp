#include "sim/line/wire_line.h"

#include <algorithm>

namespace simline {

Exchange WireLine::carry(TimePoint ready, int32_t rate, std::optional<Answering> answering) {
  Exchange e;
  if (wire_ == Wire::Instant) {
    e.request = {ready, ready};
    if (answering) e.answer = Span{ready + answering->late, ready + answering->late};
    return e;
  }
  const nanoseconds silence = wire::InterFrameSilence(rate);
  const TimePoint start = std::max(ready, free_);
  e.request = {start, start + wire::RequestTime(rate)};
  TimePoint last = e.request.end;
  if (answering) {
    const TimePoint answerStart = e.request.end + silence + answering->turnaround + answering->late;
    e.answer = Span{answerStart, answerStart + wire::AnswerFrameTime(rate) + answering->spread};
    last = e.answer->end;
  }
  free_ = last + silence;
  return e;
}

}  // namespace simline
