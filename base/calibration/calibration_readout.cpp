#include "base/calibration/calibration_readout.h"

#include <QThread>
#include <algorithm>
#include <cmath>

#include "base/calibration/calibration_constants.h"
#include "base/calibration/calibration_procedure.h"
#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"

namespace {

constexpr int CancelCheckMs = 50;

void Wait(const std::function<void(int)>& sleep, int ms) {
  if (ms <= 0) return;
  if (sleep)
    sleep(ms);
  else
    QThread::msleep(ulong(ms));
}

bool Asked(const std::function<bool()>& cancelled) { return cancelled && cancelled(); }

// Waits `ms` in short steps; false when cancelled on the way.
bool WaitUnlessCancelled(const std::function<void(int)>& sleep, const std::function<bool()>& cancelled, int ms) {
  for (int left = ms; left > 0; left -= CancelCheckMs) {
    if (Asked(cancelled)) return false;
    Wait(sleep, std::min(left, CancelCheckMs));
  }
  return !Asked(cancelled);
}

QString StatusText(uint8_t iface, uint32_t status) {
  MessageBuffer buffer{};
  DriverErrorText(iface, status, &buffer);
  return MessageBufferToString(buffer);
}

}  // namespace

Readout ReadInputSeries(uint8_t iface, uint32_t handle, uint8_t module, uint8_t input, uint8_t range,
                        double reference, const ReadoutOptions& options,
                        const std::function<void(int, const CalibrationReading&)>& onReading,
                        const std::function<bool()>& cancelled, const std::function<void(int)>& sleep,
                        const std::function<void(const QString&)>& report) {
  Readout out;
  QString writeText;
  CalibrationWriter writer(iface, handle, module, [&](const QString& text) {
    writeText = text.trimmed();
    if (report) report(text);
  });
  const uint8_t wanted = range == RangeCurrent ? RangeCurrent : RangeVoltage;
  const int count = std::clamp(options.count, 1, 100);

  if (Asked(cancelled)) {
    out.result = ReadoutResult::Cancelled;
    return out;
  }
  // The input must be in the range whose readings are asked for; a range byte set for the
  // readings goes back afterwards, whatever happens in between.
  uint8_t former = 0;
  if (!writer.ReadConfigByte(uint8_t(CfgAddr::AinRange + input), former)) {
    out.result = ReadoutResult::DriverError;
    out.text = writeText;
    return out;
  }
  const bool switched = (former & 1u) != wanted;
  if (switched) {
    const ConfigWriteResult r = writer.WriteConfigByteVerified(uint8_t(CfgAddr::AinRange + input), wanted);
    if (r != ConfigWriteResult::Written) {
      out.result = ReadoutResult::DriverError;
      out.text = writeText;
      // A mismatch may have left another value there.
      out.rangeRestored = writer.WriteConfigByteVerified(uint8_t(CfgAddr::AinRange + input), former) ==
                          ConfigWriteResult::Written;
      return out;
    }
  }

  const auto finish = [&]() {
    if (switched)
      out.rangeRestored = writer.WriteConfigByteVerified(uint8_t(CfgAddr::AinRange + input), former) ==
                          ConfigWriteResult::Written;
    if (!out.rangeRestored && out.result == ReadoutResult::Done) {
      out.result = ReadoutResult::DriverError;
      out.text = writeText;
    }
    return out;
  };

  if (!WaitUnlessCancelled(sleep, cancelled, options.settleMs)) {
    out.result = ReadoutResult::Cancelled;
    return finish();
  }
  for (int i = 0; i < count; ++i) {
    if (i > 0 && !WaitUnlessCancelled(sleep, cancelled, options.intervalMs)) {
      out.result = ReadoutResult::Cancelled;
      return finish();
    }
    if (Asked(cancelled)) {
      out.result = ReadoutResult::Cancelled;
      return finish();
    }
    double value = 0;
    int places = 0;
    const uint32_t status = MeasureInput(iface, handle, module, input, value, places);
    if (status != 0) {
      out.result = ReadoutResult::DriverError;
      out.status = status;
      out.text = StatusText(iface, status);
      return finish();
    }
    // The module reports amperes; the operator's unit is the milliampere. Kept with the digits
    // the module sent, without the binary noise of the conversion (0.1120000000000001).
    const int decimals = std::max(0, places - (wanted == RangeCurrent ? 3 : 0));
    const double scale = std::pow(10.0, decimals);
    const double unitValue = wanted == RangeCurrent ? value * 1000.0 : value;
    const CalibrationReading reading{std::round(unitValue * scale) / scale, reference};
    out.series.readings.append(reading);
    if (onReading) onReading(i, reading);
  }
  return finish();
}

CalibrationConstantsValue ReadCalibrationConstants(uint8_t iface, uint32_t handle, uint8_t module, uint8_t range) {
  CalibrationWriter writer(iface, handle, module, {});
  const uint8_t base = CalibrationBaseAddress(range);
  uint8_t bytes[4] = {};
  for (int i = 0; i < 4; ++i)
    if (!writer.ReadConfigByte(uint8_t(base + i), bytes[i])) return {};
  CalibrationConstantsValue c;
  c.known = true;
  c.gain = uint16_t(bytes[0] | bytes[1] << 8);
  c.offset = int16_t(uint16_t(bytes[2] | bytes[3] << 8));
  return c;
}

bool WaitForModuleAnswer(uint8_t iface, uint32_t handle, uint8_t module, uint8_t input, int timeoutMs, int pollMs,
                         bool anyAnswer, const std::function<bool()>& cancelled, const std::function<void(int)>& sleep) {
  bool sawOff = false;
  for (int waited = 0;;) {
    if (Asked(cancelled)) return false;
    double value = 0;
    if (MeasureInput(iface, handle, module, input, value) == 0) {
      if (anyAnswer || sawOff) return true;
    } else {
      sawOff = true;
    }
    if (waited >= timeoutMs) return false;
    const int step = std::clamp(pollMs, 1, std::max(1, timeoutMs - waited));
    if (!WaitUnlessCancelled(sleep, cancelled, step)) return false;
    waited += step;
  }
}

std::vector<std::pair<uint8_t, uint8_t>> RestoreCalibrationConstants(uint8_t iface, uint32_t handle, uint8_t module,
                                                                      uint8_t range, const CalibrationConstantsValue& before,
                                                                      const std::function<void(const QString&)>& report) {
  std::vector<std::pair<uint8_t, uint8_t>> failed;
  if (!before.known) return failed;
  CalibrationWriter writer(iface, handle, module, report);
  const uint8_t base = CalibrationBaseAddress(range);
  const uint16_t offset = uint16_t(before.offset);
  const uint8_t bytes[4] = {uint8_t(before.gain & 0xFF), uint8_t(before.gain >> 8), uint8_t(offset & 0xFF),
                            uint8_t(offset >> 8)};
  for (int i = 0; i < 4; ++i)
    if (writer.WriteConfigByteVerified(uint8_t(base + i), bytes[i]) != ConfigWriteResult::Written)
      failed.emplace_back(uint8_t(base + i), bytes[i]);
  return failed;
}
