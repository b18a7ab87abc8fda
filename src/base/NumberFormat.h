#pragma once
// The number formats of the detail view, the parameter windows and the
// profile files, all with the user's decimal separator. Two families exist
// side by side because the screen mixes them: picture formats ("0.00",
// general, fixed) round the value's 15-digit decimal form half away from
// zero, as an operator reading the number expects (2.675 gives 2.68); printf
// formats ("%#4.2f", "%.1f") keep the C library's rounding of the binary
// value, on which the dose texts rely. Not-a-number and infinities read
// "NAN", "INF" and "-INF" in the picture formats.

#include <QString>

namespace quelm {

// Picture "0.0", "0.00", ...: `decimals` digits after the separator. A value
// that rounds to zero shows no minus sign. Magnitudes of 1e15 and beyond fall
// back to the general format with 15 digits.
QString formatFloat(double value, int decimals);

// General format with `precision` significant digits: plain without
// trailing zeros while the rounded value has at most `precision` integer
// digits and is not below 0.00001, otherwise scientific ("1.235E04",
// "1E-06": the exponent has at least `minExponentDigits` digits and a sign
// only when negative).
QString formatGeneral(double value, int precision, int minExponentDigits = 2);

// The shortest text that reads back as the same single (a reader's 123.4
// stays 123.4 rather than 123.40000152587891), with a point; empty when the
// value is not a number or infinite. What a table or a block holds is
// written so, wherever it is written.
QString formatSingle(float value);

// Fixed format: the value rounded to `precision` significant digits, shown
// with exactly `digits` decimals; scientific (as formatGeneral) when it has
// more than `precision` integer digits.
QString formatFixed(double value, int precision, int digits);

// printf "%#3.2f" / "%#4.2f" / "%.1f" and the like, with the user's separator
// (and no other: the C library's own locale does not reach the digits).
QString formatPrintf(const char* format, double value);

// The dose digits: "%#4.2f" of the value, cut to three characters when the
// fourth is the decimal point and to four otherwise (1.23, 12.3, 123, 1000).
// Values of five and more integer digits keep their whole integer part.
QString formatThreeOrFour(float value);

// "%.1f h": hours with one decimal, followed by " h".
QString formatHours(double hours);

}  // namespace quelm
