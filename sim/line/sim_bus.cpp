#include "sim/line/sim_bus.h"

#include <algorithm>
#include <atomic>

namespace {
constexpr uint8_t CmdWriteConfig = 103;
constexpr int AddrBaudCode = 62;
constexpr int AddrBusAddress = 63;
constexpr size_t DataOffset = 11;  // of an answer frame's D0..D4

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::vector<uint8_t> Frame(const simproto::Answer& a) {
  const auto bytes = simproto::EncodeAnswer(a);
  return {bytes.begin(), bytes.end()};
}

// What a receiver gets when two modules drive the line at once: nothing of the frame survives.
void Scramble(std::vector<uint8_t>& frame) {
  for (size_t i = 0; i < frame.size(); ++i) frame[i] ^= uint8_t(0xA5 + 37 * i);
}
}  // namespace

uint64_t NextSimModuleId() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

SimBus::SimBus() { modules_.emplace_back(); }

int SimBus::indexOf(uint64_t id) const {
  for (int i = 0; i < size(); ++i)
    if (modules_[size_t(i)].id == id) return i;
  return -1;
}

bool SimBus::clashes(uint8_t address, int32_t rate, int except) const {
  for (int i = 0; i < size(); ++i) {
    const SimModule& m = module(i);
    if (i != except && m.busAddress() == address && m.baudRate() == rate) return true;
  }
  return false;
}

bool SimBus::add(const SimModule::Memory& memory, std::string* error) {
  if (size() >= MaxModules) {
    SetError(error, std::string("vedení nese nejvýše ") + std::to_string(MaxModules) + " modulů");
    return false;
  }
  const uint8_t address = memory[AddrBusAddress];
  const int32_t rate = SimModule::BaudCodeRate(memory[AddrBaudCode]);
  if (clashes(address, rate, -1)) {
    SetError(error, std::string("na adrese ") + std::to_string(address) + ", " + std::to_string(rate) +
                        " Bd už odpovídá jiný modul");
    return false;
  }
  SimBusModule entry;
  entry.module.loadMemory(memory);
  modules_.push_back(std::move(entry));
  ++shape_;
  return true;
}

bool SimBus::add(uint8_t address, uint8_t baudCode, std::string* error) {
  if (baudCode > 8) {
    SetError(error, "kód rychlosti musí být 0..8");
    return false;
  }
  SimModule::Memory memory = SimModule::FactoryMemory();
  memory[AddrBusAddress] = address;
  memory[AddrBaudCode] = baudCode;
  return add(memory, error);
}

bool SimBus::replace(const std::vector<SimModule::Memory>& memories, std::string* error) {
  if (memories.empty() || memories.size() > size_t(MaxModules)) {
    SetError(error, std::string("vedení nese 1 až ") + std::to_string(MaxModules) + " modulů");
    return false;
  }
  // No clash check: a saved line comes back as it was, also with two modules set up alike.
  std::vector<SimBusModule> fresh(memories.size());
  for (size_t i = 0; i < memories.size(); ++i) fresh[i].module.loadMemory(memories[i]);
  modules_ = std::move(fresh);
  ++shape_;
  return true;
}

bool SimBus::remove(int index, std::string* error) {
  if (!validIndex(index)) {
    SetError(error, std::string("modul ") + std::to_string(index) + " neexistuje");
    return false;
  }
  if (size() == 1) {
    SetError(error, "poslední modul vedení nelze odebrat");
    return false;
  }
  modules_.erase(modules_.begin() + index);
  ++shape_;
  return true;
}

void SimBus::powerCycleAll() {
  for (auto& m : modules_) m.module.powerCycle();
}

std::vector<SimModule::Memory> SimBus::memories() const {
  std::vector<SimModule::Memory> all;
  for (const auto& m : modules_) all.push_back(m.module.memory());
  return all;
}

SimBus::Generation SimBus::generation() const {
  uint64_t memory = 0;
  for (const auto& m : modules_) memory += m.module.memoryGeneration();
  return {shape_, memory};
}

bool SimBus::arm(int target, const SimFault& fault, std::string* error) {
  if (target != Line && !validIndex(target)) {
    SetError(error, std::string("modul ") + std::to_string(target) + " neexistuje");
    return false;
  }
  auto& list = faultsOf(target);
  std::erase_if(list, [&](const SimFault& f) { return f.kind == fault.kind; });
  list.push_back(fault);
  list.back().writesSeen = 0;
  return true;
}

void SimBus::clearFaults(int target) {
  if (target == Line || validIndex(target)) faultsOf(target).clear();
}

void SimBus::clearAllFaults() {
  lineFaults_.clear();
  for (auto& m : modules_) m.faults.clear();
}

const std::vector<SimFault>& SimBus::faults(int target) const {
  return target == Line ? lineFaults_ : modules_[size_t(target)].faults;
}

void SimBus::resetCounters() {
  line_ = {};
  for (auto& m : modules_) m.counters = {};
}

std::optional<SimFault> SimBus::take(int target, SimFault::Kind kind, uint8_t command) {
  auto& list = faultsOf(target);
  const auto it = std::find_if(list.begin(), list.end(), [&](const SimFault& f) {
    return f.kind == kind && (f.command < 0 || f.command == command);
  });
  if (it == list.end()) return std::nullopt;
  const SimFault used = *it;
  if (it->count > 0 && --it->count == 0) list.erase(it);
  return used;
}

SimBus::Outcome SimBus::dispatch(const simproto::Request& request) {
  Outcome out;
  ++line_.seen;
  std::vector<int> reached, answering;
  for (int i = 0; i < size(); ++i) {
    const SimModule& m = module(i);
    if (m.busAddress() != request.address || uint32_t(m.baudRate()) != request.rate) continue;
    reached.push_back(i);
    ++modules_[size_t(i)].counters.seen;
    if (m.powered()) answering.push_back(i);
  }
  auto drop = [&](const std::string& note) {
    ++line_.dropped;
    for (int i : reached) ++modules_[size_t(i)].counters.dropped;
    out.note = note;
    return out;
  };
  if (reached.empty()) return drop("");
  out.module = reached.front();
  if (answering.empty()) return drop("vypnut");
  const int first = answering.front();
  const uint8_t command = request.command;
  out.turnaround = modules_[size_t(first)].turnaround;
  const int targets[] = {Line, first};

  for (int t : targets)
    if (take(t, SimFault::Silent, command)) return drop("bez odpovědi");

  if (command == CmdWriteConfig) {
    for (int t : targets) {
      auto& list = faultsOf(t);
      const auto it = std::find_if(list.begin(), list.end(), [](const SimFault& f) { return f.kind == SimFault::PowerLoss; });
      if (it == list.end() || ++it->writesSeen < it->afterWrites) continue;
      const bool keep = it->keepWrite;
      list.erase(it);
      if (keep)
        for (int i : answering) module(i).handle(request.address, request.rate, command, request.index, request.data);
      if (t == Line)
        for (auto& m : modules_) m.module.setPowered(false);
      else
        module(first).setPowered(false);
      return drop(keep ? "výpadek napájení, zápis proveden" : "výpadek napájení, zápis ztracen");
    }
  }

  simproto::Answer answer;
  answer.seq = request.seq;
  answer.address = request.address;
  answer.command = command;
  std::optional<SimFault> refusal;
  for (int t : targets)
    if (!refusal) refusal = take(t, SimFault::Refuse, command);
  if (refusal) {
    answer.status = refusal->status;
    out.note = "odmítnutí";
  } else {
    for (int i : answering) {
      const auto reply = module(i).handle(request.address, request.rate, request.command, request.index, request.data);
      if (i == first && reply) {
        answer.status = reply->status;
        answer.data = reply->data;
      }
    }
  }
  out.answer = answer;
  out.frame = Frame(answer);

  bool collided = answering.size() > 1;
  for (int t : targets)
    if (take(t, SimFault::Collision, command)) collided = true;
  std::optional<SimFault> spoil;
  for (int t : targets)
    if (!spoil) spoil = take(t, SimFault::Malformed, command);
  if (collided) {
    Scramble(out.frame);
    out.note = "kolize";
  } else if (spoil) {
    simproto::Answer bad = answer;
    if (spoil->form == SimFault::WrongSequence) bad.seq += 1;
    if (spoil->form == SimFault::WrongAddress) bad.address = uint8_t(bad.address + 1);
    if (spoil->form == SimFault::WrongValue) {
      for (auto& b : bad.data) b ^= 0x10;
      out.answer = bad;  // what the module said
    }
    out.frame = Frame(bad);
    if (spoil->form == SimFault::WrongLength) out.frame.resize(simproto::AnswerSize - 4);
    if (spoil->form == SimFault::FlippedBits)  // after the CRC was reckoned: on the way
      for (size_t i = DataOffset; i < DataOffset + bad.data.size(); ++i) out.frame[i] ^= 0x10;
    out.note = std::string("vadná odpověď (") + SimFault::FormName(spoil->form) + ")";
  }
  for (int t : targets)
    if (const auto delay = take(t, SimFault::Delay, command)) out.delayMs += delay->delayMs;
  if (out.delayMs > 0) out.note.append(out.note.empty() ? "" : "; ").append("zpoždění ").append(std::to_string(out.delayMs)).append(" ms");

  ++line_.answered;
  for (int i : answering) ++modules_[size_t(i)].counters.answered;
  return out;
}
