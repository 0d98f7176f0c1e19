// The traffic pane's model over the trace's ring.

#include <gtest/gtest.h>

#include <vector>

#include "line/traffic/traffic_model.h"

namespace {

TEST(TrafficModel, ShowsTheKeptRecordsInOrderAcrossTheRingsWrap) {
  constexpr std::size_t Cap = TrafficModel::Capacity;
  struct Case {
    const char* name;
    std::vector<std::size_t> batches;
    bool failuresOnly;
    int pausedBatch;  // published while paused, -1: never
  };
  const Case cases[] = {
      {"within the ring", {10, 500, 3}, false, -1},
      {"wraps across batches", {Cap - 5, 7, Cap / 2}, false, -1},
      {"one batch larger than the ring", {Cap + 1234}, false, -1},
      {"failures only, wrapped", {Cap, 999, 12}, true, -1},
      {"paused while it wraps", {100, Cap, 50}, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TrafficModel model;
    model.setFilter(TrafficFilter{.address = -1, .command = -1, .failuresOnly = c.failuresOnly});
    int64_t serial = 0;
    for (std::size_t b = 0; b < c.batches.size(); ++b) {
      model.setPaused(int(b) == c.pausedBatch);
      for (std::size_t i = 0; i < c.batches[b]; ++i, ++serial) {
        ExchangeRecord r;
        r.durationNs = serial;
        r.status = serial % 7 == 0 ? 2 : 0;
        model.take(r);
      }
      model.publish();
    }
    model.setPaused(false);
    const int64_t oldest = std::max<int64_t>(0, serial - int64_t(Cap));
    EXPECT_EQ(model.kept(), std::size_t(serial - oldest));
    std::vector<int64_t> shown;
    model.forEachShown([&](const ExchangeRecord& r) { shown.push_back(r.durationNs); });
    std::vector<int64_t> want;
    for (int64_t k = oldest; k < serial; ++k)
      if (!c.failuresOnly || k % 7 == 0) want.push_back(k);
    EXPECT_EQ(shown, want);
    EXPECT_EQ(model.rowCount(), int(want.size()));
  }
}

// The overview repaints only the cells that changed: each change must reach the cell that
// shows it, or the window keeps showing an old value.

}  // namespace
