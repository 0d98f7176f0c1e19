// The overview's model: the polling rate, and every change reaching the cell that shows it.

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "line/poll/line_model.h"

namespace {

TEST(PollRate, CountsASlowModuleAtTheRateItIsRead) {
  PollRate rate;
  rate.start(0, 100);
  const struct {
    qint64 ms, readings;
    const char* text;
  } ticks[] = {{200, 100, "čeká se na první odečet"}, {1800, 101, "méně než 1 odečet/s"}, {2000, 101, "méně než 1 odečet/s"},
               {3600, 102, "méně než 1 odečet/s"},   {9800, 105, "méně než 1 odečet/s"}, {20000, 200, "9 odečtů/s"}};
  for (const auto& t : ticks) {
    rate.add(t.ms, t.readings);
    EXPECT_EQ(rate.text(), QString::fromUtf8(t.text)) << t.ms;
  }
}

// The traffic pane keeps the last Capacity records in a ring: what it shows is always a
// filtered, ordered part of what it keeps, however the batches fall.

TEST(LineModel, EveryChangeReachesTheCellThatShowsIt) {
  LineModule m;
  m.address = 7;
  LineModel model;
  model.setModules({m});
  ModuleReading first;
  first.address = 7;
  first.baudCode = m.baudCode;
  first.ok = true;
  model.apply(first);
  model.flush();
  struct Case {
    const char* name;
    std::function<void(LineModel&)> change;
    std::vector<int> columns;
  };
  auto reading = [&](auto edit) {
    ModuleReading r = first;
    edit(r);
    return r;
  };
  const Case cases[] = {
      {"analog value", [&](LineModel& l) { l.apply(reading([](ModuleReading& r) { r.ain0 = 2.5; })); }, {LineModel::Ain0}},
      {"inputs", [&](LineModel& l) { l.apply(reading([](ModuleReading& r) { r.din = 5; })); }, {LineModel::Inputs}},
      {"status register", [&](LineModel& l) { l.apply(reading([](ModuleReading& r) { r.statusRegister = 2; })); },
       {LineModel::StatusReg}},
      {"goes silent", [&](LineModel& l) { l.apply(reading([](ModuleReading& r) { r.ok = false; })); },
       {LineModel::State, LineModel::Ain0, LineModel::Inputs, LineModel::StatusReg, LineModel::LastError}},
      {"comes back", [&](LineModel& l) { l.apply(first); }, {LineModel::State, LineModel::Ain0, LineModel::StatusReg}},
      {"an exchange", [&](LineModel& l) { 
         ExchangeRecord r;
         r.rate = 9600;
         r.address = 7;
         l.addExchange(r);
        }, {LineModel::Exchanges}},
      {"outputs written", [&](LineModel& l) { 
         CommandResult written;
         written.address = 7;
         written.baudCode = m.baudCode;
         written.word = 3;
         l.applyCommand(written);
        },
       {LineModel::Outputs}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::set<int> repainted;
    const QMetaObject::Connection spy = QObject::connect(
        &model, &LineModel::dataChanged, [&](const QModelIndex& a, const QModelIndex& b) {
          for (int col = a.column(); col <= b.column(); ++col) repainted.insert(col);
        });
    c.change(model);
    model.flush();
    QObject::disconnect(spy);
    for (int col : c.columns) EXPECT_TRUE(repainted.count(col)) << col;
  }
}

}  // namespace
