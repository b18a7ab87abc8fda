#include "base/IntConversion.h"

namespace quelm {

std::optional<int32_t> StrToInt(const QString& text, QString* error) {
  bool ok = false;
  const int32_t value = text.trimmed().toInt(&ok, 10);
  if (ok) return value;
  if (error) *error = QStringLiteral("ConvertError'%1' is not a valid integer value").arg(text);
  return std::nullopt;
}

}  // namespace quelm
