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

// What a receiver gets when two modules drive the line at once: nothing of the frame survives,
// its marks included, so its checks fail whatever the modules meant to send.
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

std::vector<int> SimBus::alike(int index) const {
  std::vector<int> others;
  const SimModule& m = module(index);
  for (int i = 0; i < size(); ++i)
    if (i != index && module(i).busAddress() == m.busAddress() && module(i).baudRate() == m.baudRate()) others.push_back(i);
  return others;
}

bool SimBus::add(const SimModule::Memory& memory, std::string* error) {
  if (size() >= MaxModules) {
    SetError(error, std::string("vedení nese nejvýše ") + std::to_string(MaxModules) + " modulů");
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

namespace {
// "kolize modulů 0 a 1", "kolize modulů 0, 1 a 4": which modules spoke at once.
std::string CollisionNote(const std::vector<int>& modules) {
  std::string text = "kolize modulů ";
  for (size_t k = 0; k < modules.size(); ++k)
    text += (k == 0 ? "" : k + 1 == modules.size() ? " a " : ", ") + std::to_string(modules[k]);
  return text;
}

void AddNote(std::string& note, const std::string& more) {
  if (!more.empty()) note.append(note.empty() ? "" : "; ").append(more);
}
}  // namespace

// Every module the request reaches hears it and acts on it as it would alone, its own faults
// included; the line's faults act on the exchange as a whole. When more than one module
// answers, their drivers meet on the wire and what arrives is a damaged frame.
SimBus::Outcome SimBus::dispatch(const simproto::Request& request) {
  Outcome out;
  ++line_.seen;
  std::vector<int> reached, speaking;
  for (int i = 0; i < size(); ++i) {
    const SimModule& m = module(i);
    if (m.busAddress() != request.address || uint32_t(m.baudRate()) != request.rate) continue;
    reached.push_back(i);
    ++modules_[size_t(i)].counters.seen;
    if (m.powered()) speaking.push_back(i);
  }
  auto drop = [&](const std::string& note) {
    ++line_.dropped;
    for (int i : reached) ++modules_[size_t(i)].counters.dropped;
    AddNote(out.note, note);
    return out;
  };
  if (reached.empty()) return drop("");
  out.module = reached.front();
  if (speaking.empty()) return drop("vypnut");
  const uint8_t command = request.command;

  if (take(Line, SimFault::Silent, command)) return drop("bez odpovědi");
  std::erase_if(speaking, [&](int i) { return bool(take(i, SimFault::Silent, command)); });
  if (speaking.empty()) return drop("bez odpovědi");

  if (command == CmdWriteConfig) {
    // The power fails as the write arrives: the write reaches the memory or not, as armed.
    auto powerFails = [&](int target) -> std::optional<bool> {
      auto& list = faultsOf(target);
      const auto it = std::find_if(list.begin(), list.end(), [](const SimFault& f) { return f.kind == SimFault::PowerLoss; });
      if (it == list.end() || ++it->writesSeen < it->afterWrites) return std::nullopt;
      const bool keep = it->keepWrite;
      list.erase(it);
      return keep;
    };
    auto lost = [](bool keep) { return keep ? "výpadek napájení, zápis proveden" : "výpadek napájení, zápis ztracen"; };
    if (const auto keep = powerFails(Line)) {
      if (*keep)
        for (int i : speaking) module(i).handle(request.address, request.rate, command, request.index, request.data);
      for (auto& m : modules_) m.module.setPowered(false);
      return drop(lost(*keep));
    }
    std::erase_if(speaking, [&](int i) {
      const auto keep = powerFails(i);
      if (!keep) return false;
      if (*keep) module(i).handle(request.address, request.rate, command, request.index, request.data);
      module(i).setPowered(false);
      AddNote(out.note, lost(*keep));
      return true;
    });
    if (speaking.empty()) return drop("");
  }

  // Each module's own answer; the one whose answer starts first leads the exchange's record.
  const auto lineRefusal = take(Line, SimFault::Refuse, command);
  const auto lineDelay = take(Line, SimFault::Delay, command);
  struct Spoken {
    simproto::Answer answer;
    std::chrono::nanoseconds offset;  // from the request's end to the answer's first bit
    int delayMs = 0;
  };
  std::vector<Spoken> spoken;
  bool refused = false;
  for (int i : speaking) {
    Spoken s;
    s.answer.seq = request.seq;
    s.answer.address = request.address;
    s.answer.command = command;
    const auto refusal = lineRefusal ? lineRefusal : take(i, SimFault::Refuse, command);
    if (refusal) {
      s.answer.status = refusal->status;
      refused = true;
    } else if (const auto reply = module(i).handle(request.address, request.rate, command, request.index, request.data)) {
      s.answer.status = reply->status;
      s.answer.data = reply->data;
    }
    s.delayMs = (lineDelay ? lineDelay->delayMs : 0);
    if (const auto delay = take(i, SimFault::Delay, command)) s.delayMs += delay->delayMs;
    s.offset = modules_[size_t(i)].turnaround + std::chrono::milliseconds(s.delayMs);
    spoken.push_back(s);
  }
  if (refused) AddNote(out.note, "odmítnutí");
  size_t lead = 0;
  for (size_t k = 1; k < spoken.size(); ++k)
    if (spoken[k].offset < spoken[lead].offset) lead = k;
  out.module = speaking[lead];
  out.answer = spoken[lead].answer;
  out.turnaround = modules_[size_t(out.module)].turnaround;
  out.delayMs = spoken[lead].delayMs;
  for (const Spoken& s : spoken) out.spread = std::max(out.spread, s.offset - spoken[lead].offset);
  out.frame = Frame(*out.answer);

  bool collided = speaking.size() > 1;
  if (take(Line, SimFault::Collision, command)) collided = true;
  std::optional<SimFault> spoil = take(Line, SimFault::Malformed, command);
  for (int i : speaking) {
    if (take(i, SimFault::Collision, command)) collided = true;
    if (!spoil) spoil = take(i, SimFault::Malformed, command);
  }
  if (collided) {
    Scramble(out.frame);
    // The colliding answers hold the wire from the first one's start to the last one's end.
    const auto character = wire::CharacterTime(int32_t(request.rate));
    const auto held = wire::AnswerFrameTime(int32_t(request.rate)) + out.spread;
    out.collisionBytes = size_t((held + character - std::chrono::nanoseconds(1)) / character);
    AddNote(out.note, speaking.size() > 1 ? CollisionNote(speaking) : "kolize");
  } else if (spoil) {
    simproto::Answer bad = *out.answer;
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
    AddNote(out.note, std::string("vadná odpověď (") + SimFault::FormName(spoil->form) + ")");
  }
  if (out.delayMs > 0) AddNote(out.note, "zpoždění " + std::to_string(out.delayMs) + " ms");

  ++line_.answered;
  for (int i : reached) {
    const bool spoke = std::find(speaking.begin(), speaking.end(), i) != speaking.end();
    ++(spoke ? modules_[size_t(i)].counters.answered : modules_[size_t(i)].counters.dropped);
  }
  return out;
}
