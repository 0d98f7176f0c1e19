#pragma once

#include <QString>

// A measured value as the live readings show it: fixed-point notation with precision 5.
//
// The value is rounded (half away from zero, on its exact binary value) to at most 5
// significant digits and at most `decimals` places, then written with exactly `decimals`
// digits after the separator, zeros filling where the significant digits end; 0 decimals
// writes no separator. More than 18 decimals are written as 18; a negative count is taken
// as 0, so a reading whose scaled count of places drops below zero is shown as a whole
// number rather than rejected.
//
// When the rounded value needs more than 5 digits before the separator, it is written in
// the general format instead: 5 significant digits at most, trailing zeros dropped, and
// the exponent as "E" plus its decimal digits ("8,3886E6").
//
// The decimal separator is QLocale()'s; a negative value starts with '-', one that rounds
// to zero is written without it. NaN and infinities come out as "NAN", "INF" and "-INF".
QString FormatFixedPrecision5(float value, int decimals);

// A calibration's figures, alike in the companion, the workbench and the certificate, in the
// range's unit: a reading with the decimals the module sends (ReadingDecimals: volts to the
// millivolt, milliamperes to the microampere); a reference, mean, error, spread or tolerance
// with one decimal more where its value needs it, never more. `sign`: "+" before a value above
// zero; a value that rounds to zero has no sign. The decimal separator is QLocale()'s.
constexpr int ReadingDecimals = 3;
QString ReadingFigure(double value, bool sign = false);
QString DerivedFigure(double value, bool sign = false);
