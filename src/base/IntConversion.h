#pragma once
// Integer conversion of what a user typed into an edit: blanks around, an
// optional sign, decimal digits, a 32-bit signed value. A window shows the
// error text as it is and goes no further.

#include <QString>
#include <cstdint>
#include <optional>

namespace quelm {

// The converted value, or nothing with *error set to the conversion error's
// class name immediately followed by its message
// ("ConvertError'abc' is not a valid integer value").
std::optional<int32_t> StrToInt(const QString& text, QString* error);

}  // namespace quelm
