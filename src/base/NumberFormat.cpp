#include "base/NumberFormat.h"

#include <locale.h>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/UserLocale.h"

namespace quelm {
namespace {

// printf of one value in the C locale, whatever the C library's locale is:
// after the toolkit's start-up it follows the user's, and a "%f" would write
// "84,05" under a comma locale, which nothing below expects. The C locale
// is set for this thread only while formatting.
std::string cFormat(const char* format, double value) {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
  const locale_t before = uselocale(c);
  char buf[512];
  std::snprintf(buf, sizeof buf, format, value);
  uselocale(before);
  return buf;
}

// A decimal number 0.d1d2d3... x 10^exponent with no trailing zero digits;
// zero has no digits.
struct Decimal {
  std::string digits;
  int exponent = 0;
  bool negative = false;
};

void stripTrailingZeros(Decimal& d) {
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  if (d.digits.empty()) d.exponent = 0;
}

// The value's decimal form with 15 significant digits, the precision a
// double reliably carries.
Decimal toDecimal(double value) {
  Decimal d;
  d.negative = std::signbit(value);
  const std::string text = cFormat("%.14e", std::fabs(value));
  // "d.dddddddddddddde+XX"
  const char* buf = text.c_str();
  d.digits.push_back(buf[0]);
  const char* p = buf + 2;
  while (*p && *p != 'e') d.digits.push_back(*p++);
  d.exponent = (*p == 'e' ? std::atoi(p + 1) : 0) + 1;
  stripTrailingZeros(d);
  return d;
}

// Keeps `count` significant digits, rounding half away from zero.
void roundDigits(Decimal& d, int count) {
  if (static_cast<int>(d.digits.size()) <= count) return;
  if (count < 0) {
    d.digits.clear();
    d.exponent = 0;
    return;
  }
  const bool up = d.digits[count] >= '5';
  d.digits.resize(count);
  if (up) {
    int i = count - 1;
    while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
    if (i >= 0) {
      ++d.digits[i];
    } else {
      d.digits.insert(d.digits.begin(), '1');
      ++d.exponent;
    }
  }
  stripTrailingZeros(d);
}

QString nonFinite(double value) {
  if (std::isnan(value)) return QStringLiteral("NAN");
  return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
}

QString sign(const Decimal& d) { return d.negative && !d.digits.empty() ? QStringLiteral("-") : QString(); }

// Plain notation with exactly `decimals` digits after the separator (at
// least the significant ones when decimals < 0).
QString plain(const Decimal& d, int decimals) {
  QString intPart, fracPart;
  const int n = static_cast<int>(d.digits.size());
  if (d.exponent <= 0) {
    intPart = QStringLiteral("0");
    fracPart = QString(-d.exponent, QLatin1Char('0')) + QString::fromStdString(d.digits);
  } else {
    for (int i = 0; i < d.exponent; ++i) intPart += QLatin1Char(i < n ? d.digits[i] : '0');
    if (n > d.exponent) fracPart = QString::fromStdString(d.digits.substr(d.exponent));
  }
  if (decimals >= 0) {
    if (fracPart.size() < decimals) fracPart += QString(decimals - fracPart.size(), QLatin1Char('0'));
    fracPart.truncate(decimals);
  }
  QString s = sign(d) + intPart;
  if (!fracPart.isEmpty()) s += userLocale().decimalSeparator + fracPart;
  return s;
}

QString scientific(const Decimal& d, int minExponentDigits) {
  QString s = sign(d) + QLatin1Char(d.digits[0]);
  if (d.digits.size() > 1) s += userLocale().decimalSeparator + QString::fromStdString(d.digits.substr(1));
  const int e = d.exponent - 1;
  s += QLatin1Char('E');
  if (e < 0) s += QLatin1Char('-');
  s += QStringLiteral("%1").arg(std::abs(e), minExponentDigits, 10, QLatin1Char('0'));
  return s;
}

}  // namespace

QString formatFloat(double value, int decimals) {
  if (!std::isfinite(value)) return nonFinite(value);
  Decimal d = toDecimal(value);
  if (d.exponent > 15) return formatGeneral(value, 15);
  roundDigits(d, d.exponent + decimals);
  return plain(d, decimals);
}

QString formatGeneral(double value, int precision, int minExponentDigits) {
  if (!std::isfinite(value)) return nonFinite(value);
  Decimal d = toDecimal(value);
  roundDigits(d, precision);
  if (d.digits.empty()) return QStringLiteral("0");
  if (d.exponent > precision || d.exponent < -4) return scientific(d, minExponentDigits);
  return plain(d, -1);
}

QString formatSingle(float value) {
  if (!std::isfinite(value)) return QString();
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? QString::fromLatin1(buffer, static_cast<qsizetype>(end - buffer)) : QString();
}

QString formatFixed(double value, int precision, int digits) {
  if (!std::isfinite(value)) return nonFinite(value);
  Decimal d = toDecimal(value);
  Decimal rounded = d;
  roundDigits(rounded, precision);
  if (rounded.exponent > precision) return scientific(rounded, 2);
  roundDigits(d, std::min(precision, d.exponent + digits));
  return plain(d, digits);
}

QString formatPrintf(const char* format, double value) {
  return withUserDecimal(QString::fromStdString(cFormat(format, value)));
}

QString formatThreeOrFour(float value) {
  QString s = QString::fromStdString(cFormat("%#4.2f", static_cast<double>(value)));
  const qsizetype point = s.indexOf(QLatin1Char('.'));
  if (point == 3)
    s.truncate(3);
  else if (point > 4)
    s.truncate(point);  // 10000 and more: cutting at four would drop digits of the integer part
  else if (point >= 0)
    s.truncate(4);
  return withUserDecimal(s);
}

QString formatHours(double hours) { return formatPrintf("%.1f", hours) + QStringLiteral(" h"); }

}  // namespace quelm
