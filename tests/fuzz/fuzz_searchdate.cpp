// A typed reader date ("YYYY.MM.DD HH:MM"): whatever is typed, a text is
// either refused, or accepted as a calendar date within the limits that is
// shown and read back unchanged; a refusal of the year alone happens only
// where the search window would have moved it.
#include <QString>

#include "FuzzSupport.h"
#include "base/DateText.h"

using quelm::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const auto moved = quelm::ParseDateText(text, quelm::YearOutside::Moved);
  const auto refused = quelm::ParseDateText(text, quelm::YearOutside::Refused);
  require(!refused || (moved && *moved == *refused), "a date taken as it is, is taken alike when moved");
  if (!moved) return 0;
  const quelm::DateFields& f = *moved;
  require(f[quelm::kYear] >= 2000 && f[quelm::kYear] <= 2100, "year 2000..2100");
  require(f[quelm::kMonth] >= 1 && f[quelm::kMonth] <= 12, "month");
  require(f[quelm::kDay] >= 1 && f[quelm::kDay] <= quelm::DaysInMonth(f[quelm::kYear], f[quelm::kMonth]),
          "a day of its month");
  require(f[quelm::kHour] >= 0 && f[quelm::kHour] <= 24 && f[quelm::kMinute] >= 0 && f[quelm::kMinute] <= 60,
          "hour and minute");
  uint8_t stamp[5];
  quelm::ToStamp(f, stamp);
  const auto again =
      quelm::ParseDateText(quelm::DateText(quelm::FromStamp(stamp)), quelm::YearOutside::Refused);
  require(again && *again == f, "the shown date reads back as the same date");
  return 0;
}
