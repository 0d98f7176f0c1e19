#pragma once
// One simulated QX-510 module: configuration memory, identification, analog input with the
// module's own calibration correction, 32 digital inputs and outputs, status register, and
// the bus line settings that only change at a power cycle. Plain C++, not thread-safe on
// its own: SimServer serialises access.

#include <array>
#include <cstdint>
#include <optional>

class SimModule {
 public:
  static constexpr int MemorySize = 64;
  using Memory = std::array<uint8_t, MemorySize>;
  using Data = std::array<uint8_t, 5>;

  // Status register bits.
  static constexpr uint32_t StatusFN = 1u << 1;
  static constexpr uint32_t StatusPRF = 1u << 2;
  static constexpr uint32_t StatusPWR = 1u << 4;
  static constexpr uint32_t StatusRST = 1u << 5;
  static constexpr uint32_t StatusERR24 = 1u << 6;

  // Identification: eight characters of name, four of version.
  static constexpr char Name[9] = "QX-510  ";
  static constexpr char FirmwareVersion[5] = "1.20";

  // Decimal places of a reported value: volts to the millivolt, amperes to the microampere.
  static constexpr uint8_t VoltagePlaces = 3;
  static constexpr uint8_t CurrentPlaces = 6;

  // The converter's own error before the calibration constants correct it:
  // raw = true value x gain + offset, in the range's working unit (mV or uA).
  struct ConverterError {
    double gain = 1.02;
    double voltageOffsetMv = 12.0;
    double currentOffsetUa = -35.0;
  };

  struct Reply {
    uint8_t status = 0;
    Data data{};
  };

  SimModule();

  // The bytes a new module leaves the factory with: ranges voltage, neutral constants for
  // both ranges, digital I/O bytes 0, baud code 4 (9600 Bd), bus address 0.
  static Memory FactoryMemory();

  // --- configuration memory ---
  const Memory& memory() const { return memory_; }
  uint8_t configByte(int address) const { return memory_[size_t(address)]; }
  void setConfigByte(int address, uint8_t value);
  // Replaces the whole memory (a state file); takes effect as a power-up would.
  void loadMemory(const Memory& memory);
  // Advances on every change of the memory, so that a caller can persist it lazily.
  uint64_t memoryGeneration() const { return generation_; }

  // --- power and line ---
  // Switching on is a power-up: address and rate from memory, outputs to their initial
  // states, status register PWR and RST. A module that is off answers nothing.
  void setPowered(bool on);
  bool powered() const { return powered_; }
  void powerCycle();
  uint8_t busAddress() const { return busAddress_; }  // in effect since the last power-up
  int32_t baudRate() const { return baudRate_; }       // likewise
  static int32_t BaudCodeRate(uint8_t code);           // codes 0..8; any other 9600

  // --- bench ---
  void setSourceVoltage(double volts) { volts_ = volts; }
  void setSourceCurrent(double milliamps) { milliamps_ = milliamps; }
  void setShortCircuit(bool on) { shortCircuit_ = on; }
  double sourceVoltage() const { return volts_; }
  double sourceCurrent() const { return milliamps_; }
  bool shortCircuit() const { return shortCircuit_; }
  void setConverterError(const ConverterError& e) { converter_ = e; }
  const ConverterError& converterError() const { return converter_; }
  void setInputSwitches(uint32_t switches) { switches_ = switches; }
  uint32_t inputSwitches() const { return switches_; }
  void raiseStatusBits(uint32_t mask) { status_ |= mask; }

  // --- what the module reports and drives ---
  uint32_t statusRegister() const { return status_; }
  uint32_t digitalInputs() const;      // the switches with the input negation applied
  uint32_t outputs() const { return outputs_; }  // as commanded (or the initial state)
  uint32_t physicalOutputs() const;    // with the output negation applied: the terminals
  bool currentRange(int input) const { return (memory_[size_t(input)] & 1u) != 0; }
  uint16_t gain(bool current) const;
  int16_t offset(bool current) const;
  // The corrected value of an analog input 0..5 in the working unit (mV or uA). Only input
  // 0 is wired to the bench source; the others read a short circuit.
  int32_t measureUnits(int input) const;
  // The four result bytes of a measured value: low, mid, high with the sign, places.
  static std::array<uint8_t, 4> EncodeMeasured(int32_t units, uint8_t places);

  // The module's answer to one request on its line, or nothing when the request is not for
  // this module (another address, another rate) or the module is off.
  std::optional<Reply> handle(uint8_t address, uint32_t rate, uint8_t command, uint8_t index,
                              const Data& data);

 private:
  static uint32_t Group(const Memory& m, int base);
  Reply answerCommand(uint8_t command, uint8_t index, const Data& data);

  Memory memory_{};
  uint64_t generation_ = 0;
  bool powered_ = false;
  uint8_t busAddress_ = 0;
  int32_t baudRate_ = 9600;
  double volts_ = 0.0;
  double milliamps_ = 0.0;
  bool shortCircuit_ = false;
  ConverterError converter_{};
  uint32_t switches_ = 0;
  uint32_t status_ = 0;
  uint32_t outputs_ = 0;
};
