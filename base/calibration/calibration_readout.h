#pragma once
// Reading an analog input several times through the module's present constants, for the
// as-found and as-left series of a calibration record (base/calibration/calibration_record.h). One
// implementation for the workbench, the companion and the tests.

#include <QString>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "base/calibration/calibration_record.h"

struct ReadoutOptions {
  int count = 5;          // readings in the series, 1..100
  int settleMs = 1000;    // before the first reading (as the calibration waits before measuring)
  int intervalMs = 200;   // between readings
};

enum class ReadoutResult {
  Done,         // `count` readings taken
  DriverError,  // a read or write failed; `status` and `text` say which
  Cancelled     // the cancelled callback said so; the readings so far are kept
};

struct Readout {
  ReadoutResult result = ReadoutResult::Done;
  uint32_t status = 0;          // the driver status of the failed exchange, 0 otherwise
  QString text;                 // the failure's text (DriverErrorText, or the range byte's), empty when Done
  bool rangeRestored = true;    // false: the input's range byte could not be written back
  ReadingSeries series;
};

// Reads input `input` of the module `count` times as the module reports it (MeasureInput of
// base/calibration/calibration_procedure.h), in the unit of `range` (V, or mA: the module's amperes x 1000),
// each reading paired with `reference` (the reference instrument's value in that unit).
//
// The input's range byte (configuration address `input`) is read first; when its bit 0 is not
// `range`, the byte is set to `range` (verified) for the readings and written back afterwards,
// verified, also after a failure or a cancel, so the module keeps the range it had.
//
// onReading (may be empty) is called after each reading with its 0-based index and the
// reading. cancelled (may be empty) is asked before the settling wait, during it (every 50 ms
// at most) and before each reading. sleep (may be empty: QThread::msleep) waits the given
// milliseconds; the workbench passes one that keeps its window alive. report (may be empty)
// gets the texts of failed configuration writes, as CalibrationWriter reports them.
Readout ReadInputSeries(uint8_t iface, uint32_t handle, uint8_t module, uint8_t input, uint8_t range,
                        double reference, const ReadoutOptions& options,
                        const std::function<void(int index, const CalibrationReading& reading)>& onReading = {},
                        const std::function<bool()>& cancelled = {},
                        const std::function<void(int ms)>& sleep = {},
                        const std::function<void(const QString&)>& report = {});

// The constants the module holds now for `range` (its four bytes at CalibrationBaseAddress):
// known = false when a read failed.
CalibrationConstantsValue ReadCalibrationConstants(uint8_t iface, uint32_t handle, uint8_t module, uint8_t range);

// Waits until the module answers again after the operator switched its power off and on:
// Command 0 on `input` every `pollMs` until an exchange succeeds after at least one that failed
// (the module was seen off), or, with `anyAnswer`, until any exchange succeeds. True when it answered; false when `timeoutMs` passed or `cancelled` said so.
bool WaitForModuleAnswer(uint8_t iface, uint32_t handle, uint8_t module, uint8_t input, int timeoutMs, int pollMs,
                         bool anyAnswer, const std::function<bool()>& cancelled = {},
                         const std::function<void(int ms)>& sleep = {});

// Writes `before` back as the range's constants (its four bytes, each verified, each tried even
// after another failed), for a calibration cancelled or failed after its new constants were
// stored. The bytes that could not be written back, with the values they should have had;
// empty when all were. Nothing is written when `before` is not known.
std::vector<std::pair<uint8_t, uint8_t>> RestoreCalibrationConstants(uint8_t iface, uint32_t handle, uint8_t module,
                                                                      uint8_t range, const CalibrationConstantsValue& before,
                                                                      const std::function<void(const QString&)>& report = {});
