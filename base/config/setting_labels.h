#pragma once

#include <QString>
#include <cstdint>

// The names and values of the configuration as the settings windows show them: the address
// window (address, rate), the analog window (range), the digital window (negations, initial
// state) and the calibration's constants. Every table or sentence the other programs show
// about a setting takes its words from here, so that a byte has the same name everywhere.

// The label of a named value of NamedValues() ("baud_code" -> "Komunikační rychlost"); empty
// for a name no window shows (baud_rate repeats baud_code).
QString SettingLabel(const QString& name);

// A named value's text as the windows show it: baud_code "4" -> "4800 Bd"; others as given.
QString SettingValueText(const QString& name, const QString& value);

// The label of one byte of the configuration memory: "Komunikační rychlost",
// "Negace DIN, bajt 1", "Kalibrace napětí: zesílení, nižší bajt".
QString ConfigByteLabel(uint8_t address);

// One byte's value with what it means where the byte alone means something: "4800 Bd",
// "0-20mA", "5", "0x81 (bity 0, 7)"; "0x12 (18)" for a byte of a calibration constant, whose
// word it is only half of. A value no window writes says so ("0x14: neplatný kód").
QString ConfigByteValueText(uint8_t address, uint8_t value);
