// The search window's date fields: whatever is typed, a date is either
// refused with the stamp untouched, or accepted as a valid stamp that the
// window shows and reads back unchanged.
#include <QString>
#include <cstring>

#include "FuzzSupport.h"
#include "evaluation/SearchCriteria.h"

using quelm::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  uint8_t stamp[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  if (quelm::ParseSearchDateTime(text, stamp) != 0) {
    for (const uint8_t b : stamp) require(b == 0xEE, "a refused date leaves the stamp alone");
    return 0;
  }
  require(stamp[0] >= 100 && stamp[0] <= 200, "year 2000..2100");
  require(stamp[1] >= 1 && stamp[1] <= 12, "month");
  require(stamp[2] >= 1 && stamp[2] <= 31, "day");
  require(stamp[3] <= 24 && stamp[4] <= 60, "hour and minute");
  uint8_t again[5] = {};
  require(quelm::ParseSearchDateTime(quelm::SearchDateText(stamp), again) == 0, "the shown date parses");
  require(std::memcmp(stamp, again, 5) == 0, "and gives the same stamp");
  return 0;
}
