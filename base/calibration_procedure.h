#pragma once

#include <QString>
#include <cstdint>

#include "base/exchange.h"

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
inline const QString CalibratedText =
    QStringLiteral("Vstup zkalibrován (je nutno vypnout a zapnout napájení modulu).");
inline const QString CalibrationAbandonedText = QStringLiteral("Kalibrace vstupu zrušena !");

// Command 0 for an analog input: the exchange's status, and the decoded value (volts or
// amperes) when it is 0.
uint32_t MeasureInput(uint8_t iface, uint32_t handle, uint8_t module, uint8_t input, double& value);
