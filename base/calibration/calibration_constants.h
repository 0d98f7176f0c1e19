#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <utility>

// Input ranges as the calibration and the range bytes of the configuration memory number them.
constexpr uint8_t RangeVoltage = 0;
constexpr uint8_t RangeCurrent = 1;

// Gain 1.0 in the module's fixed point.
constexpr uint16_t NeutralGain = 10000;

// Address of the first of the four constant bytes of a range: gain low, gain high,
// offset low, offset high. One pair of constants per range, shared by all inputs.
uint8_t CalibrationBaseAddress(uint8_t range);

// Gain and offset of a range from a two-point measurement: the reference value entered by
// the operator (volts or milliamperes) and the module's readings of the short-circuited
// input and of the reference (volts or amperes). Returns false, leaving gain and offset
// alone, when the readings cannot give usable constants.
bool ComputeCalibrationConstants(uint8_t range, double entered, double zero, double reference,
                                 uint16_t& gain, uint16_t& offset);

// Cancelled: the write was not begun, as asked by the writer's cancelled callback.
enum class ConfigWriteResult { Written, DriverError, Mismatch, Cancelled };

// Verified writes of single configuration bytes for the calibration: every byte is written
// and read back at once. A failure's text goes to the report callback (which may be empty),
// and a sequence stops at its first failing byte; bytes already written stay written.
class CalibrationWriter {
 public:
  using ReportFn = std::function<void(const QString&)>;
  CalibrationWriter(uint8_t iface, uint32_t handle, uint8_t moduleAddress, ReportFn report);

  ConfigWriteResult WriteConfigByteVerified(uint8_t cfgAddress, uint8_t value);
  // Asked before each byte's write while set; true leaves that byte and every later one of
  // the sequence unwritten (ConfigWriteResult::Cancelled, nothing reported). Empty: never.
  void setCancelled(std::function<bool()> cancelled) { cancelled_ = std::move(cancelled); }
  // One byte read; a driver error is reported as a failed write is.
  bool ReadConfigByte(uint8_t cfgAddress, uint8_t& value);

  // The four constant bytes of the range, low bytes first.
  ConfigWriteResult StoreConstants(uint8_t range, uint16_t gain, uint16_t offset);

 private:
  ConfigWriteResult WriteWord(uint8_t cfgAddress, uint16_t word);
  void Report(const QString& text);

  uint8_t iface_;
  uint32_t handle_;
  uint8_t moduleAddress_;
  ReportFn report_;
  std::function<bool()> cancelled_;
};
