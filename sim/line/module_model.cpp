#include "sim/line/module_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "sim/protocol.h"

namespace {
// Configuration addresses the module itself acts on.
constexpr int AddrVoltageConstants = 15;
constexpr int AddrCurrentConstants = 19;
constexpr int AddrDoutInitial = 32;
constexpr int AddrDinNegation = 33;
constexpr int AddrDoutNegation = 34;
constexpr int AddrBaudCode = 62;
constexpr int AddrBusAddress = 63;

constexpr uint8_t CmdReadChannel = 0;
constexpr uint8_t CmdWriteOutputs = 1;
constexpr uint8_t CmdReadStatus = 100;
constexpr uint8_t CmdClearStatus = 101;
constexpr uint8_t CmdReadConfig = 102;
constexpr uint8_t CmdWriteConfig = 103;
constexpr uint8_t CmdIdentify = 200;
constexpr uint8_t DigitalIndex = 64;
constexpr int AnalogInputs = 6;

// The converter saturates a little beyond each range's full scale (10 V, 20 mA).
constexpr double VoltageLimitMv = 12500.0;
constexpr double CurrentLimitUa = 25000.0;
constexpr int32_t MagnitudeLimit = 0x7FFFFF;

std::array<uint8_t, 4> GroupToBytes(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
uint32_t BytesToGroup(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
  return uint32_t(b1) | uint32_t(b2) << 8 | uint32_t(b3) << 16 | uint32_t(b4) << 24;
}
}  // namespace

SimModule::SimModule() : memory_(FactoryMemory()) { setPowered(true); }

SimModule::Memory SimModule::FactoryMemory() {
  Memory m{};
  for (int base : {AddrVoltageConstants, AddrCurrentConstants}) {
    m[size_t(base)] = 16;  // gain 10000, low byte first
    m[size_t(base + 1)] = 39;
  }
  m[AddrBaudCode] = 4;
  m[AddrBusAddress] = 0;
  return m;
}

void SimModule::setConfigByte(int address, uint8_t value) {
  if (address < 0 || address >= MemorySize) return;
  if (memory_[size_t(address)] != value) {
    memory_[size_t(address)] = value;
    ++generation_;
  }
}

void SimModule::loadMemory(const Memory& memory) {
  memory_ = memory;
  ++generation_;
  powerCycle();
}

int32_t SimModule::BaudCodeRate(uint8_t code) {
  static constexpr int32_t rates[] = {600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  return code < 9 ? rates[code] : 9600;
}

void SimModule::setPowered(bool on) {
  if (on == powered_) return;
  powered_ = on;
  if (!on) return;
  busAddress_ = memory_[AddrBusAddress];
  baudRate_ = BaudCodeRate(memory_[AddrBaudCode]);
  outputs_ = Group(memory_, AddrDoutInitial);
  status_ = StatusPWR | StatusRST;
}

void SimModule::powerCycle() {
  setPowered(false);
  setPowered(true);
}

uint32_t SimModule::Group(const Memory& m, int base) {
  return BytesToGroup(m[size_t(base)], m[size_t(base + 3)], m[size_t(base + 6)], m[size_t(base + 9)]);
}

uint32_t SimModule::digitalInputs() const { return switches_ ^ Group(memory_, AddrDinNegation); }

uint32_t SimModule::physicalOutputs() const {
  if (!powered_) return 0;
  return outputs_ ^ Group(memory_, AddrDoutNegation);
}

uint16_t SimModule::gain(bool current) const {
  const int base = current ? AddrCurrentConstants : AddrVoltageConstants;
  return uint16_t(memory_[size_t(base)] | memory_[size_t(base + 1)] << 8);
}

int16_t SimModule::offset(bool current) const {
  const int base = current ? AddrCurrentConstants : AddrVoltageConstants;
  return int16_t(uint16_t(memory_[size_t(base + 2)] | memory_[size_t(base + 3)] << 8));
}

int32_t SimModule::measureUnits(int input) const {
  const bool current = currentRange(input);
  double truth = 0.0;  // in mV or uA
  if (input == 0 && !shortCircuit_) truth = current ? milliamps_ * 1000.0 : volts_ * 1000.0;
  const double limit = current ? CurrentLimitUa : VoltageLimitMv;
  double raw = truth * converter_.gain + (current ? converter_.currentOffsetUa : converter_.voltageOffsetMv);
  raw = std::clamp(raw, -limit, limit);
  // The converter delivers whole units; the correction works on them.
  const double counts = std::round(raw);
  const double corrected = counts * gain(current) / 10000.0 - offset(current);
  return int32_t(std::clamp(std::lround(corrected), -long(MagnitudeLimit), long(MagnitudeLimit)));
}

std::array<uint8_t, 4> SimModule::EncodeMeasured(int32_t units, uint8_t places) {
  const uint32_t magnitude = uint32_t(std::min<int64_t>(std::llabs(int64_t(units)), MagnitudeLimit));
  uint8_t high = uint8_t((magnitude >> 16) & 0x7F);
  if (units < 0) high |= 0x80;
  return {uint8_t(magnitude), uint8_t(magnitude >> 8), high, uint8_t(places & 0x7F)};
}

std::optional<SimModule::Reply> SimModule::handle(uint8_t address, uint32_t rate, uint8_t command,
                                                  uint8_t index, const Data& data) {
  if (!powered_ || address != busAddress_ || rate != uint32_t(baudRate_)) return std::nullopt;
  Reply r = answerCommand(command, index, data);
  if (r.status != simproto::ModuleStatus::Ok) r.data = {};
  return r;
}

SimModule::Reply SimModule::answerCommand(uint8_t command, uint8_t index, const Data& data) {
  using namespace simproto::ModuleStatus;
  Reply r;
  auto fail = [&](uint8_t status) {
    r.status = status;
    return r;
  };
  auto putGroup = [&](uint32_t v) {
    const auto b = GroupToBytes(v);
    std::copy(b.begin(), b.end(), r.data.begin() + 1);
  };
  switch (command) {
    case CmdReadChannel:
      if (index == DigitalIndex) {
        putGroup(digitalInputs());
      } else if (index < AnalogInputs) {
        const auto b = EncodeMeasured(measureUnits(index), currentRange(index) ? CurrentPlaces : VoltagePlaces);
        std::copy(b.begin(), b.end(), r.data.begin() + 1);
      } else {
        return fail(BadIndex);
      }
      return r;
    case CmdWriteOutputs:
      if (index != DigitalIndex) return fail(BadIndex);
      outputs_ = BytesToGroup(data[1], data[2], data[3], data[4]);
      putGroup(outputs_);
      return r;
    case CmdReadStatus:
      if (index != 0) return fail(BadIndex);
      putGroup(status_);
      return r;
    case CmdClearStatus:
      if (index != 0) return fail(BadIndex);
      status_ = 0;
      return r;
    case CmdReadConfig:
      if (index != 0) return fail(BadIndex);
      if (data[1] != data[2]) return fail(CopiesDiffer);
      if (data[1] >= MemorySize) return fail(BadConfigAddress);
      r.data = {0, data[1], data[1], memory_[data[1]], memory_[data[1]]};
      return r;
    case CmdWriteConfig:
      if (index != 0) return fail(BadIndex);
      if (data[1] != data[2] || data[3] != data[4]) return fail(CopiesDiffer);
      if (data[1] >= MemorySize) return fail(BadConfigAddress);
      setConfigByte(data[1], data[3]);
      r.data = {0, data[1], data[1], data[3], data[3]};
      return r;
    case CmdIdentify: {
      const char* text = index == 0 ? Name : index == 1 ? Name + 4 : index == 2 ? FirmwareVersion : nullptr;
      if (!text) return fail(BadIndex);
      for (int i = 0; i < 4; ++i) r.data[size_t(1 + i)] = uint8_t(text[i]);
      return r;
    }
    default:
      return fail(UnknownCommand);
  }
}
