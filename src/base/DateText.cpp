#include "base/DateText.h"

#include <QDate>
#include <algorithm>

#include "base/IntConversion.h"

namespace quelm {
namespace {

// A part of a typed date text: optional leading blanks, then decimal digits only.
std::optional<int> datePart(const QString& text, int position, int length) {
  const QString part = text.mid(position, length);
  int i = 0;
  while (i < part.size() && part.at(i) == QLatin1Char(' ')) ++i;
  if (i == part.size()) return std::nullopt;
  int value = 0;
  for (; i < part.size(); ++i) {
    const QChar c = part.at(i);
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + (c.unicode() - '0');
  }
  return value;
}

// The message for the first field outside its limits, empty when none is.
QString fieldsError(const DateFields& f, int firstYear) {
  for (int i = 0; i < kDateFieldCount; ++i) {
    const DateFieldLimits& l = kDateLimits[i];
    const int min = i == kYear ? firstYear : l.min;
    // The month is known to be one by the time the day is checked.
    const int max = i == kDay ? DaysInMonth(f[kYear], f[kMonth]) : l.max;
    if (f[i] < min || f[i] > max)
      return QStringLiteral("The %1 must be from %2 to %3, not %4")
          .arg(QLatin1String(l.name))
          .arg(min)
          .arg(max)
          .arg(f[i]);
  }
  return QString();
}

}  // namespace

int DaysInMonth(int year, int month) { return QDate(year, month, 1).daysInMonth(); }

std::optional<DateFields> ParseDateFields(const std::array<QString, kDateFieldCount>& texts, int firstYear,
                                          QString* why) {
  DateFields f{};
  QString error;
  for (int i = 0; i < kDateFieldCount; ++i) {
    const std::optional<int32_t> v = StrToInt(texts[i], &error);
    if (!v) break;
    f[i] = *v;
  }
  if (error.isEmpty()) error = fieldsError(f, firstYear);
  if (why) *why = error;
  if (!error.isEmpty()) return std::nullopt;
  return f;
}

std::optional<DateFields> ParseDateText(const QString& text, YearOutside outside, QString* why) {
  if (why) why->clear();
  if (text.size() < 16) return std::nullopt;
  const auto year = datePart(text, 0, 4), month = datePart(text, 5, 2), day = datePart(text, 8, 2),
             hour = datePart(text, 11, 2), minute = datePart(text, 14, 2);
  if (!year || !month || !day || !hour || !minute) return std::nullopt;
  DateFields f{*year, *month, *day, *hour, *minute};
  if (outside == YearOutside::Moved)
    f[kYear] = std::clamp(f[kYear], kDateLimits[kYear].min, kDateLimits[kYear].max);
  const QString error = fieldsError(f, kDateLimits[kYear].min);
  if (why) *why = error;
  if (!error.isEmpty()) return std::nullopt;
  return f;
}

std::optional<DateFields> ParseExactDateText(const QString& text, QString* why) {
  if (why) why->clear();
  const bool form = text.size() == 16 && text[4] == QLatin1Char('.') && text[7] == QLatin1Char('.') &&
                    text[10] == QLatin1Char(' ') && text[13] == QLatin1Char(':');
  if (!form) return std::nullopt;
  return ParseDateText(text, YearOutside::Refused, why);
}

QString DateText(const DateFields& f) {
  return QString::asprintf("%04i.%02i.%02i %02i:%02i", f[kYear], f[kMonth], f[kDay], f[kHour], f[kMinute]);
}

QString DateTextRefusal(const QString& input, const QString& text, const QString& why) {
  QString line =
      QStringLiteral("%1 must be a date and time \"YYYY.MM.DD HH:MM\", not \"%2\"").arg(input, text);
  if (!why.isEmpty()) line += QStringLiteral(" (%1)").arg(why);
  return line;
}

void ToStamp(const DateFields& f, uint8_t stamp[5]) {
  stamp[0] = static_cast<uint8_t>(f[kYear] - 1900);
  for (int i = kMonth; i < kDateFieldCount; ++i) stamp[i] = static_cast<uint8_t>(f[i]);
}

DateFields FromStamp(const uint8_t stamp[5]) {
  return {stamp[0] + 1900, stamp[1], stamp[2], stamp[3], stamp[4]};
}

}  // namespace quelm
