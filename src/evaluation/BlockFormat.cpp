#include "evaluation/BlockFormat.h"

#include <cmath>
#include <ctime>

#include "evaluation/NumberFormat.h"
#include "measurement/ErrorFlags.h"

QString FormatDose(float value) {
  float v = value;
  if (!(v > 0)) v = 0;  // also -0 and not-a-number
  if (v < 1) {
    QString s = quelm::formatPrintf("%#3.2f", v);
    return s.left(4) + QStringLiteral(" µSv");
  }
  if (v < 1000) return quelm::formatThreeOrFour(v) + QStringLiteral(" µSv");
  if (v < 1000000) return quelm::formatThreeOrFour(static_cast<float>(v * 0.001)) + QStringLiteral(" mSv");
  return quelm::formatThreeOrFour(static_cast<float>(v * 0.000001)) + QStringLiteral(" Sv");
}

void FormatDose(float value, QString& text) { text = FormatDose(value); }

int SecondsToDate(uint32_t seconds, uint8_t date[6]) {
  date[5] = static_cast<uint8_t>(seconds % 60);
  date[4] = static_cast<uint8_t>(seconds / 60 % 60);
  date[3] = static_cast<uint8_t>(seconds / 3600 % 24);
  const uint32_t days = seconds / 86400;
  const int y = static_cast<int>(days / 365.25 + 80);  // years since 1900
  date[0] = static_cast<uint8_t>(y);
  if (y < 100) {
    date[1] = 1;
    date[2] = 1;
    return kDateOutsideRange;
  }
  if (y > 149) {
    date[1] = 12;
    date[2] = 31;
    return kDateOutsideRange;
  }
  const int d = y - 80;  // years since 1980
  const int firstDay = (d - 1) / 4 + 365 * d + 1;
  int dayOfYear = static_cast<int>(days) - firstDay + 1;
  const int monthDays[12] = {31, d % 4 == 0 ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  while (month < 11 && dayOfYear > monthDays[month]) dayOfYear -= monthDays[month++];
  date[1] = static_cast<uint8_t>(month + 1);
  date[2] = static_cast<uint8_t>(dayOfYear);
  return 0;
}

QString FormatReadOutTime(uint32_t seconds) {
  uint8_t d[6];
  if (SecondsToDate(seconds, d) != 0) return QStringLiteral("Not Available");
  return QString::asprintf("%04d.%02d.%02d %02d:%02d  ", d[0] + 1900, d[1], d[2], d[3], d[4]);
}

bool IsSpecialDosimeter(const char id[5]) {
  return (id[0] == 'S' || id[0] == 'B') && (id[1] == 'E' || id[1] == 'G') && id[2] == 'N' &&
         (id[3] == 'S' || id[3] == 'D');
}

ExposureShown ShownExposure(uint8_t errorCodes, const char bulbId[5], uint16_t exposure) {
  ExposureShown s;
  s.exposure = !(errorCodes & kClockFault) && !IsSpecialDosimeter(bulbId) && exposure != 0xFFFF;
  s.rate = s.exposure && exposure != 0;
  return s;
}

QString IdentifierText(const char id[5]) {
  int n = 0;
  while (n < 5 && id[n] != 0) ++n;
  return QString::fromLatin1(id, n);
}

namespace {

std::time_t localSeconds(int year, int month, int day, int hour, int minute, int isdst) {
  std::tm t{};
  t.tm_year = year;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = isdst;
  return std::mktime(&t);
}

// glibc's mktime takes tm_isdst = 1 literally even where the zone never has
// daylight saving and moves the time back one hour, so the flag is only
// given where the zone has daylight saving.
bool zoneHasDaylightSaving(int year) {
  for (int month : {1, 7}) {
    std::tm t{};
    t.tm_year = year;
    t.tm_mon = month - 1;
    t.tm_mday = 1;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    if (std::mktime(&t) != -1 && t.tm_isdst > 0) return true;
  }
  return false;
}

}  // namespace

std::optional<uint32_t> HoursSinceLastReadOut(const uint8_t dt[5], uint32_t lastReadOut) {
  tzset();
  const int dst = zoneHasDaylightSaving(dt[0]) ? 1 : 0;
  const std::time_t block = localSeconds(dt[0], dt[1], dt[2], dt[3], dt[4], dst);
  const std::time_t epoch = localSeconds(80, 1, 1, 0, 0, 0);
  // The reader counts in unsigned 32-bit seconds; a previous read-out after
  // the block's own time has no elapsed hours at all.
  if (static_cast<int64_t>(block) - static_cast<int64_t>(epoch) < static_cast<int64_t>(lastReadOut))
    return std::nullopt;
  const uint32_t diff = static_cast<uint32_t>(block) - lastReadOut - static_cast<uint32_t>(epoch);
  return diff / 3600;
}
