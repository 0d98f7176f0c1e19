#pragma once
// One line of simulated QX-510 modules (1..32) and the faults a trainer can arm on a module
// or on the whole line. Plain C++, not thread-safe on its own: SimServer serialises access.
//
// A request reaches the modules whose address and rate (in force since their last power-up)
// match it. Two modules may be set up alike, as two new modules at their delivery address
// are: both answer, and their answers collide on the wire as on a real line, where two
// drivers never start on the same bit, so the receiver gets a damaged frame even when both
// meant the same bytes. Modules are told apart by their place in the line (their index).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/wire/wire_time.h"
#include "sim/line/module_model.h"
#include "sim/line/sim_fault.h"
#include "sim/protocol.h"

struct SimCounters {
  uint64_t seen = 0;      // requests that reached the module (its address and rate)
  uint64_t answered = 0;  // of those, answered (a spoilt answer counts as answered)
  uint64_t dropped = 0;   // of those, left without an answer
};

// Tells modules apart for as long as the process lives, whatever their place in the list.
uint64_t NextSimModuleId();

struct SimBusModule {
  uint64_t id = NextSimModuleId();
  SimModule module;
  std::vector<SimFault> faults;  // at most one of each kind
  SimCounters counters;
  // How long the module takes to answer once a request has ended: a bench setting, not part
  // of its memory, so it neither survives a restart nor changes at a power cycle.
  std::chrono::nanoseconds turnaround = wire::DefaultTurnaround;
};

class SimBus {
 public:
  static constexpr int MaxModules = 32;
  static constexpr int Line = -1;  // the target of a fault armed on the whole line

  SimBus();  // one module fresh from the factory: address 0, 9600 Bd

  int size() const { return int(modules_.size()); }
  SimModule& module(int index) { return modules_[size_t(index)].module; }
  const SimModule& module(int index) const { return modules_[size_t(index)].module; }
  const SimBusModule& entry(int index) const { return modules_[size_t(index)]; }
  bool validIndex(int index) const { return index >= 0 && index < size(); }
  int indexOf(uint64_t id) const;  // -1: no such module on the line
  // The other modules that answer at the same address and rate as module `index` (in force
  // since their last power-up): those its answers collide with.
  std::vector<int> alike(int index) const;

  // Adds a module with the given memory (powered up), also where another one answers at the
  // same address and rate. Refused when the line is full.
  bool add(const SimModule::Memory& memory, std::string* error = nullptr);
  bool add(uint8_t address, uint8_t baudCode, std::string* error = nullptr);
  // Replaces the whole line; refused (line untouched) for 0 or more than 32 modules.
  bool replace(const std::vector<SimModule::Memory>& memories, std::string* error = nullptr);
  // The last module of a line cannot be removed.
  bool remove(int index, std::string* error = nullptr);
  void powerCycleAll();
  void setTurnaround(int index, std::chrono::nanoseconds turnaround) { modules_[size_t(index)].turnaround = turnaround; }
  std::vector<SimModule::Memory> memories() const;
  // Changes whenever a module's memory changes or a module comes or goes.
  using Generation = std::pair<uint64_t, uint64_t>;
  Generation generation() const;

  // Faults: target is a module index or Line. Arming replaces a fault of the same kind.
  bool arm(int target, const SimFault& fault, std::string* error = nullptr);
  void clearFaults(int target);
  void clearAllFaults();
  const std::vector<SimFault>& faults(int target) const;

  const SimCounters& lineCounters() const { return line_; }
  void resetCounters();

  // What one request makes the line send back.
  struct Outcome {
    std::vector<uint8_t> frame;              // empty: nothing is sent
    std::optional<simproto::Answer> answer;  // the answer as the module meant it
    int module = -1;                         // the module reached, if any; the first to answer
    int delayMs = 0;
    std::chrono::nanoseconds turnaround{0};  // the answering module's
    // When several answer: how much later than the first the last one begins, and how many
    // characters' time their colliding answers hold the wire (0: no collision).
    std::chrono::nanoseconds spread{0};
    size_t collisionBytes = 0;
    std::string note;  // which fault acted ("vypnut": the module is off), for the traffic records
  };
  Outcome dispatch(const simproto::Request& request);

 private:
  std::vector<SimFault>& faultsOf(int target) { return target == Line ? lineFaults_ : modules_[size_t(target)].faults; }
  // The first armed fault of a kind that this request triggers, consumed by one use.
  std::optional<SimFault> take(int target, SimFault::Kind kind, uint8_t command);

  std::vector<SimBusModule> modules_;
  std::vector<SimFault> lineFaults_;
  SimCounters line_;
  uint64_t shape_ = 0;  // counts modules added and removed
};
