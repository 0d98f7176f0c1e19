#include "base/calibration/calibration_constants.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <utility>

#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"

namespace {

// Truncation toward zero of a value in the working unit. A decoded reading such as 0.007 V
// is not exactly representable, and 0.007 * 1000 lands just below 7; plain truncation would
// then lose a whole unit. Values within a few ulps of an integer count as that integer;
// everything else is truncated, so a genuine fraction is still dropped.
double TruncateWorkingUnits(double x) {
  const double nearest = std::nearbyint(x);
  if (std::fabs(x - nearest) <= 1e-9 * std::max(1.0, std::fabs(x))) return nearest;
  return std::trunc(x);
}

// Half to even, whatever rounding mode the caller left behind.
double RoundHalfEven(double x) {
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double r = std::nearbyint(x);
  std::fesetround(saved);
  return r;
}

}  // namespace

uint8_t CalibrationBaseAddress(uint8_t range) {
  return range == RangeVoltage ? CfgAddr::VoltageGain : CfgAddr::CurrentGain;
}

bool ComputeCalibrationConstants(uint8_t range, double entered, double zero, double reference,
                                 uint16_t& gain, uint16_t& offset) {
  // Everything below is in the range's working unit: millivolts or microamperes.
  const double readingFactor = range == RangeVoltage ? 1000.0 : 1000000.0;
  const double e = TruncateWorkingUnits(entered * 1000.0);
  const double z = TruncateWorkingUnits(zero * readingFactor);
  const double f = TruncateWorkingUnits(reference * readingFactor);
  // An infinite reading would pass the checks below with a gain of 0.
  if (!std::isfinite(e) || !std::isfinite(z) || !std::isfinite(f)) return false;

  const double span = f - z;
  if (!(span > 0)) return false;

  const double g = 10000.0 * e / span;
  if (g < 0 || g > 65535.0) return false;

  // The added 0.1 is part of the module's calibration rule: a fraction from .4 rounds up.
  const double roundedGain = RoundHalfEven(g + 0.1);  // at most 65535, as G <= 65535

  const double o = roundedGain * z / 10000.0;
  // The stored word is truncated for O >= 0 and floored for O < 0; both must fit a signed
  // 16-bit word, or the module would apply a wrapped offset of the wrong size and sign.
  if (!(o >= -32768.0 && o < 32768.0)) return false;
  const double word = o >= 0 ? std::trunc(o) : std::trunc(o + 65536.0);

  gain = static_cast<uint16_t>(roundedGain);
  offset = static_cast<uint16_t>(static_cast<uint32_t>(word) & 0xFFFFu);
  return true;
}

CalibrationWriter::CalibrationWriter(uint8_t iface, uint32_t handle, uint8_t moduleAddress,
                                     ReportFn report)
    : iface_(iface), handle_(handle), moduleAddress_(moduleAddress), report_(std::move(report)) {}

void CalibrationWriter::Report(const QString& text) {
  if (report_) report_(text);
}

ConfigWriteResult CalibrationWriter::WriteConfigByteVerified(uint8_t cfgAddress, uint8_t value) {
  if (cancelled_ && cancelled_()) return ConfigWriteResult::Cancelled;
  // No pause between the write and its read-back, unlike the settings windows.
  const ExchangeResult written = WriteConfig(iface_, handle_, moduleAddress_, cfgAddress, value);
  if (written.Status != 0) {
    Report(QStringLiteral(" ") + DriverStatusText(iface_, written.Status));
    return ConfigWriteResult::DriverError;
  }
  const ExchangeResult readBack = ReadConfig(iface_, handle_, moduleAddress_, cfgAddress);
  if (readBack.Status != 0) {
    Report(QStringLiteral(" ") + DriverStatusText(iface_, readBack.Status));
    return ConfigWriteResult::DriverError;
  }
  if (readBack.Data[3] != value) {
    Report(QStringLiteral(" Chyba zápisu do konfigurační paměti modulu."));
    return ConfigWriteResult::Mismatch;
  }
  return ConfigWriteResult::Written;
}

bool CalibrationWriter::ReadConfigByte(uint8_t cfgAddress, uint8_t& value) {
  const ExchangeResult r = ReadConfig(iface_, handle_, moduleAddress_, cfgAddress);
  if (r.Status != 0) {
    Report(QStringLiteral(" ") + DriverStatusText(iface_, r.Status));
    return false;
  }
  value = r.Data[3];
  return true;
}

ConfigWriteResult CalibrationWriter::WriteWord(uint8_t cfgAddress, uint16_t word) {
  const ConfigWriteResult low = WriteConfigByteVerified(cfgAddress, uint8_t(word & 0xFF));
  if (low != ConfigWriteResult::Written) return low;
  return WriteConfigByteVerified(uint8_t(cfgAddress + 1), uint8_t(word >> 8));
}

ConfigWriteResult CalibrationWriter::StoreConstants(uint8_t range, uint16_t gain, uint16_t offset) {
  const uint8_t base = CalibrationBaseAddress(range);
  const ConfigWriteResult r = WriteWord(base, gain);
  if (r != ConfigWriteResult::Written) return r;
  return WriteWord(uint8_t(base + 2), offset);
}
