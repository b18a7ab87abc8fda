#include "base/IntConversion.h"

#include <QCoreApplication>

#include "base/Prompter.h"

namespace quelm {

QString notAnInteger(const QString& text) {
  return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

QString notAFloat(const QString& text) {
  return QStringLiteral("'%1' is not a valid floating point value").arg(text);
}

void showConversionError(const QString& message) {
  showMessage(MessageKind::Error, QCoreApplication::applicationName(), message);
}

std::optional<int32_t> StrToInt(const QString& text, QString* error) {
  bool ok = false;
  const int32_t value = text.trimmed().toInt(&ok, 10);
  if (ok) return value;
  if (error) *error = notAnInteger(text);
  return std::nullopt;
}

}  // namespace quelm
