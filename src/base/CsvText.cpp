#include "base/CsvText.h"

namespace quelm {

namespace {
bool startsFormula(const QString& text) {
  if (text.isEmpty()) return false;
  switch (text.front().unicode()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\t':
    case '\r':
      return true;
  }
  return false;
}
}  // namespace

QString CsvField(const QString& text) {
  const bool formula = startsFormula(text);
  if (!formula && !text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
      !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
    return text;
  QString quoted = formula ? QLatin1Char('\'') + text : text;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString CsvLine(const QStringList& fields) { return fields.join(QLatin1Char(',')); }

QString PlainField(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u == '\t')
      out += QStringLiteral("\\t");
    else if (u == '\n')
      out += QStringLiteral("\\n");
    else if (u == '\r')
      out += QStringLiteral("\\r");
    else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029)
      out += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
    else
      out += c;
  }
  return out;
}

}  // namespace quelm
