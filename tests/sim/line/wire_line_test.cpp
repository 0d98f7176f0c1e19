// The line's schedule, computed on an injected clock: when each frame occupies the wire.
#include <gtest/gtest.h>

#include "sim/line/wire_line.h"

namespace {

using namespace std::chrono_literals;
using simline::Answering;
using simline::TimePoint;
using simline::WireLine;

const TimePoint T0 = TimePoint{} + 10s;

TEST(WireLine, AnExchangeHoldsTheLineForItsWireTime) {
  struct Case {
    int32_t rate;
    std::chrono::nanoseconds turnaround;
  };
  for (const Case c : {Case{9600, wire::DefaultTurnaround}, Case{600, wire::DefaultTurnaround}, Case{115200, 3ms}}) {
    SCOPED_TRACE(c.rate);
    WireLine line;
    const auto e = line.carry(T0, c.rate, Answering{c.turnaround});
    EXPECT_EQ(e.request.start, T0);
    EXPECT_EQ(e.request.end - e.request.start, wire::RequestTime(c.rate));
    ASSERT_TRUE(e.answer);
    // The module hears the end of the request only after the silence, then takes its time.
    EXPECT_EQ(e.answer->start, e.request.end + wire::InterFrameSilence(c.rate) + c.turnaround);
    EXPECT_EQ(e.answer->end - e.answer->start, wire::AnswerFrameTime(c.rate));
    EXPECT_EQ(line.freeAt() - T0, wire::ExchangeTime(c.rate, c.turnaround));
  }
  // 8N1 at 9600 Bd: 10 bits a character, 12 characters a request, 13 an answer; at 115200 Bd
  // the silence is never shorter than 1.75 ms.
  EXPECT_EQ(wire::RequestTime(9600), 12'499'992ns);
  EXPECT_EQ(wire::AnswerFrameTime(9600), 13'541'658ns);
  EXPECT_EQ(wire::InterFrameSilence(115200), 1750us);
}

TEST(WireLine, RequestsQueueBehindEachOtherWithTheSilenceKept) {
  WireLine line;
  // Two requests for two modules handed over at the same moment (two transports, say).
  const auto first = line.carry(T0, 57600, Answering{});
  const auto second = line.carry(T0, 9600, Answering{2ms});
  EXPECT_EQ(second.request.start, first.answer->end + wire::InterFrameSilence(57600));
  EXPECT_EQ(second.answer->start, second.request.end + wire::InterFrameSilence(9600) + 2ms);

  // An unanswered request holds the line only for itself and the silence after it.
  const TimePoint free = line.freeAt();
  const auto unanswered = line.carry(T0, 9600, std::nullopt);
  EXPECT_FALSE(unanswered.answer);
  EXPECT_EQ(unanswered.request.start, free);
  EXPECT_EQ(line.freeAt(), unanswered.request.end + wire::InterFrameSilence(9600));

  // A request that comes when the line has long been free goes out at once: waits do not add up.
  const TimePoint later = line.freeAt() + 1s;
  EXPECT_EQ(line.carry(later, 9600, Answering{}).request.start, later);
}

TEST(WireLine, ASlowModuleAnswersLateAndHoldsTheLineUntilThen) {
  WireLine line;
  const auto slow = line.carry(T0, 19200, Answering{wire::DefaultTurnaround, 250ms});
  EXPECT_EQ(slow.answer->start, slow.request.end + wire::InterFrameSilence(19200) + wire::DefaultTurnaround + 250ms);
  const auto next = line.carry(T0 + 1ms, 19200, Answering{});
  EXPECT_EQ(next.request.start, slow.answer->end + wire::InterFrameSilence(19200));
}

TEST(WireLine, InstantLineTakesNoTimeButALateModuleStaysLate) {
  WireLine line(simline::Wire::Instant);
  const auto e = line.carry(T0, 600, Answering{5ms});
  EXPECT_EQ(e.request.end, T0);
  EXPECT_EQ(e.answer->end, T0);
  EXPECT_EQ(line.carry(T0, 600, Answering{5ms, 40ms}).answer->end, T0 + 40ms);
}

}  // namespace
