#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "base/calibration/calibration_constants.h"
#include "base/exchange/exchange.h"

// What the calibration procedure says and checks, shared by the calibration window and the
// companion program so that both guide and refuse alike. range: RangeVoltage or RangeCurrent.

// "Zkratuj ... a stiskni tlačítko Potvrzení." and "Odstraň zkrat, připoj ... Potvrzení."
QString ShortInputInstruction(uint8_t range);
QString ApplyReferenceInstruction(uint8_t range);

// The entered reference in the system's notation (its decimal separator, no group separator).
bool ParseReferenceText(const QString& text, double& value);
// The plausibility window of the reference: 1..10 V or 1..25 mA, both bounds included, wider
// than the instructions ask for. NaN is outside.
bool ReferenceInWindow(uint8_t range, double entered);
// The message for a reference outside the window, and the one for text that is no number.
QString ReferenceWindowText(uint8_t range);
QString ReferenceNumberText(uint8_t range);

inline const QString MeasuredValuesErrorText =
    QStringLiteral("Chyba naměřených hodnot. Zkontroluj připojení vstupu a proveď znovu kalibraci.");

// The same steps for the workbench's guided calibration and the companion: the operator
// addressed formally, values and ranges written as everywhere else ("4–6 V"). `press` is what
// confirms a step ("stiskněte tlačítko Potvrzení", "stiskněte Enter").
QString ShortInputRequest(uint8_t range, const QString& press);
// With `given` (the companion's --reference) the reference is already known: nothing to enter.
QString ApplyReferenceRequest(uint8_t range, const QString& press, std::optional<double> given = std::nullopt);
// "napětí v rozsahu 4–6 V", or with a value "napětí 5 V".
QString ReferenceWords(uint8_t range, std::optional<double> value = std::nullopt);
// "Hodnota napětí musí být v rozsahu 4–6 V." and the same for text that is no number.
QString ReferenceWindowRequest(uint8_t range);
QString ReferenceNumberRequest(uint8_t range);
inline const QString MeasuredValuesErrorRequest =
    QStringLiteral("Chyba naměřených hodnot. Zkontrolujte připojení vstupu a proveďte kalibraci znovu.");
inline const QString CalibratedText =
    QStringLiteral("Vstup zkalibrován (je nutno vypnout a zapnout napájení modulu).");
inline const QString CalibrationAbandonedText = QStringLiteral("Kalibrace vstupu zrušena !");

// Command 0 for an analog input: the exchange's status, and the decoded value (volts or
// amperes) when it is 0.
uint32_t MeasureInput(uint8_t iface, uint32_t handle, uint8_t module, uint8_t input, double& value);
// The same with the decimal places the module sent the value with.
uint32_t MeasureInput(uint8_t iface, uint32_t handle, uint8_t module, uint8_t input, double& value, int& places);

// One calibration of a range from its start to its end, for the window and the companion alike.
// Before the start changes anything it reads the bytes the start changes: the input's range
// byte and the range's four constants. Unless the calibration succeeds they are written back,
// each verified, so the module keeps the calibration and the range it had; a success keeps the
// new constants and writes only the former range byte back.
//
// A cancelled callback, when set, is asked before each read and write of Start and
// StoreConstants (the companion's SIGINT and SIGTERM): true ends that step at the next byte
// with ConfigWriteResult::Cancelled, leaving to write back whatever the start may have
// changed. The write-back itself is never cancelled: it is what leaves the module as found.
class CalibrationSession {
 public:
  CalibrationSession(uint8_t iface, uint32_t handle, uint8_t moduleAddress, CalibrationWriter::ReportFn report);
  CalibrationSession(const CalibrationSession&) = delete;
  CalibrationSession& operator=(const CalibrationSession&) = delete;

  void setCancelled(std::function<bool()> cancelled) { cancelled_ = std::move(cancelled); }

  // The five reads, then the neutral start. A failed or cancelled read has written nothing
  // and leaves nothing to write back; after a failed write the bytes up to and including the
  // failed one are to be written back, after a cancelled one those before it.
  ConfigWriteResult Start(uint8_t input, uint8_t range);
  // The computed constants of the started range; once they are written only the range byte
  // is left to write back.
  ConfigWriteResult StoreConstants(uint16_t gain, uint16_t offset);

  struct Restored {
    bool complete = true;  // every byte written back and read back equal
    // The memo's line; empty when there was nothing to write back. After stored constants:
    // CalibrationKeptText, else CalibrationRestoredText, or NotRestoredText when a byte failed.
    QString text;
  };
  // Writes back every byte still to be written back, in address order, each verified and
  // each tried even after another failed (failures are reported as the writes report them).
  // Afterwards nothing is left to write back.
  Restored Restore();
  bool Pending() const { return !pending_.empty(); }

  // For a calibration that reads the input through the stored constants before it keeps them
  // (the workbench's as-left readings): while set, StoreConstants leaves the former constants
  // to write back as well, so that an end before KeepStoredConstants() leaves the module as
  // found. KeepStoredConstants() then leaves only the range byte, as a plain StoreConstants.
  void setKeepOnlyWhenAccepted(bool on) { keepOnlyWhenAccepted_ = on; }
  void KeepStoredConstants();

 private:
  CalibrationWriter writer_;
  uint8_t range_ = RangeVoltage;
  bool stored_ = false;  // the new constants are in the module
  bool keepOnlyWhenAccepted_ = false;
  bool accepted_ = false;  // stored, and kept by the caller's word
  std::function<bool()> cancelled_;
  std::vector<std::pair<uint8_t, uint8_t>> pending_;  // address, value before the start
};

// The memo's line after a write-back: all restored, or which bytes could not be, with the
// values they had before the calibration.
inline const QString CalibrationRestoredText =
    QStringLiteral("Původní rozsah vstupu a kalibrační konstanty obnoveny.");
// After a calibration that stored its constants: they stay, the range byte went back.
inline const QString CalibrationKeptText =
    QStringLiteral("Nové kalibrační konstanty zapsány; původní rozsah vstupu nastaven zpět.");
QString NotRestoredText(const std::vector<std::pair<uint8_t, uint8_t>>& bytes);
