#include "evaluation/SearchCriteria.h"

#include <algorithm>
#include <cstring>

namespace quelm {
namespace {

// A part of a typed date: optional leading blanks, then decimal digits only.
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

int daysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && year % 4 == 0 ? 29 : kDays[month - 1];
}

}  // namespace

QString SearchDateText(const uint8_t s[5]) {
  return QString::asprintf("%04i.%02i.%02i %02i:%02i", s[0] + 1900, s[1], s[2], s[3], s[4]);
}

int ParseSearchDateTime(const QString& text, uint8_t stamp[5], YearOutside outside) {
  if (text.size() < 16) return kNotADate;
  const auto year = datePart(text, 0, 4), month = datePart(text, 5, 2), day = datePart(text, 8, 2),
             hour = datePart(text, 11, 2), minute = datePart(text, 14, 2);
  if (!year || !month || !day || !hour || !minute) return kNotADate;
  const int y = std::clamp(*year, 2000, 2100);
  if (outside == YearOutside::Refused && y != *year) return kNotADate;
  if (*month < 1 || *month > 12) return kNotADate;
  if (*day < 1 || *day > daysInMonth(y, *month)) return kNotADate;
  if (*hour > 24 || *minute > 60) return kNotADate;
  stamp[0] = static_cast<uint8_t>(y - 1900);
  stamp[1] = static_cast<uint8_t>(*month);
  stamp[2] = static_cast<uint8_t>(*day);
  stamp[3] = static_cast<uint8_t>(*hour);
  stamp[4] = static_cast<uint8_t>(*minute);
  return 0;
}

uint8_t SearchFlags(bool byNumber, bool byDate, bool byDosimeter) {
  return static_cast<uint8_t>((byNumber ? kSearchByNumber : 0) | (byDate ? kSearchByDate : 0) |
                              (byDosimeter ? kSearchByDosimeter : 0));
}

void SetSearchDosimeter(SearchRequest& request, const QString& key) {
  const QByteArray bytes = key.left(5).toLatin1();
  char id[5] = {0, 0, 0, 0, 0};
  std::memcpy(id, bytes.constData(), static_cast<size_t>(std::min<qsizetype>(bytes.size(), 5)));
  std::memcpy(request.Dosimeter, id, sizeof id);
}

std::optional<uint32_t> BlockFieldNumber(const QString& text) {
  if (text.isEmpty()) return std::nullopt;
  bool ok = false;
  const uint value = text.trimmed().toUInt(&ok, 10);
  return ok ? value : 0u;
}

bool BlockFieldKeyAccepted(QChar c) { return c <= QLatin1Char('9'); }

void InitialiseSearchRequest(SearchRequest& request, uint32_t lastBlock, const QDateTime& now) {
  request.StartBlock = static_cast<uint16_t>(lastBlock);
  request.FromBlock = 0;
  const QDate today = now.date();
  const QTime time = now.time();
  const uint8_t from[5] = {static_cast<uint8_t>(today.year() - 1900), 1, 1, 0, 0};
  const uint8_t to[5] = {static_cast<uint8_t>(today.year() - 1900), static_cast<uint8_t>(today.month()),
                         static_cast<uint8_t>(today.day()), static_cast<uint8_t>(time.hour()),
                         static_cast<uint8_t>(time.minute())};
  std::memcpy(request.DateFrom, from, 5);
  std::memcpy(request.DateTo, to, 5);
}

}  // namespace quelm
