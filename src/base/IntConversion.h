#pragma once
// Conversion of what a user typed into an edit, and the one message every
// window shows when a text is no number: "'abc' is not a valid integer
// value", the same words in the same kind of box wherever it was typed.

#include <QString>
#include <cstdint>
#include <optional>

namespace quelm {

// The conversion messages of typed input.
QString notAnInteger(const QString& text);
QString notAFloat(const QString& text);

// Shows a conversion message in an error box titled with the program's name.
void showConversionError(const QString& message);

// Blanks around, an optional sign, decimal digits, a 32-bit signed value.
// Nothing, with *error set to notAnInteger(text), when the text is none.
std::optional<int32_t> StrToInt(const QString& text, QString* error);

}  // namespace quelm
