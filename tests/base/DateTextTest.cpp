// The reader's date as it is typed: one reading of "YYYY.MM.DD HH:MM" and of
// the five edits, one set of limits, the calendar for every front end.
#include <gtest/gtest.h>

#include <cstring>

#include "base/DateText.h"

using namespace quelm;

namespace {

struct TextCase {
  const char* text;
  std::optional<DateFields> moved;  // as the search window reads it
  const char* why;                  // the refusal of a year taken as it is, when moved differs
};

TEST(DateText, ReadsTheFixedPositionsWithinTheLimitsAndTheCalendar) {
  const TextCase cases[] = {
      {"2006.06.24 15:30", DateFields{2006, 6, 24, 15, 30}, ""},
      // The separators are not examined; text beyond 16 characters is ignored.
      {"2006-06-24T15h30", DateFields{2006, 6, 24, 15, 30}, ""},
      {"2006.06.24 15:30:59", DateFields{2006, 6, 24, 15, 30}, ""},
      {"2006.06. 4  5:30", DateFields{2006, 6, 4, 5, 30}, ""},
      // The end of a day and of an hour, as the reader knows them.
      {"2006.06.24 24:00", DateFields{2006, 6, 24, 24, 0}, ""},
      {"2006.06.24 23:60", DateFields{2006, 6, 24, 23, 60}, ""},
      {"2024.02.29 10:00", DateFields{2024, 2, 29, 10, 0}, ""},
      {"2000.02.29 10:00", DateFields{2000, 2, 29, 10, 0}, ""},
      // Years outside 2000..2100: moved by the search window, refused elsewhere.
      {"1999.06.24 15:30", DateFields{2000, 6, 24, 15, 30}, "The year must be from 2000 to 2100, not 1999"},
      {"9999.12.31 23:59", DateFields{2100, 12, 31, 23, 59}, "The year must be from 2000 to 2100, not 9999"},
      // No calendar date, nor a field out of its limits, in any reading.
      {"2024.02.31 00:00", std::nullopt, "The day must be from 1 to 29, not 31"},
      {"2023.02.29 00:00", std::nullopt, "The day must be from 1 to 28, not 29"},
      {"2100.02.29 00:00", std::nullopt, "The day must be from 1 to 28, not 29"},
      {"2006.04.31 10:00", std::nullopt, "The day must be from 1 to 30, not 31"},
      {"2006.06.00 15:30", std::nullopt, "The day must be from 1 to 30, not 0"},
      {"2006.13.24 15:30", std::nullopt, "The month must be from 1 to 12, not 13"},
      {"2006.06.24 25:00", std::nullopt, "The hour must be from 0 to 24, not 25"},
      {"2006.06.24 10:61", std::nullopt, "The minute must be from 0 to 60, not 61"},
      // Not of the form at all.
      {"", std::nullopt, ""},
      {"2006.06.24 15:3", std::nullopt, ""},
      {"20x6.06.24 15:30", std::nullopt, ""},
      {"2006.-6.24 15:30", std::nullopt, ""},
      {"2006.06.24 +5:30", std::nullopt, ""},
      {"2006.06.24   :30", std::nullopt, ""},
      {"24.06.2006 15:30", std::nullopt, ""},
  };
  for (const TextCase& c : cases) {
    const QString text = QString::fromLatin1(c.text);
    EXPECT_EQ(ParseDateText(text, YearOutside::Moved), c.moved) << c.text;
    QString why = QStringLiteral("left over");
    const auto refused = ParseDateText(text, YearOutside::Refused, &why);
    EXPECT_EQ(refused, QString::fromLatin1(c.why).isEmpty() ? c.moved : std::nullopt) << c.text;
    EXPECT_EQ(why, QString::fromLatin1(c.why)) << c.text;
  }
}

TEST(DateText, TheDownloadEditsAreWholeNumbersWithTheSameLimitsFrom1900) {
  const struct {
    std::array<QString, kDateFieldCount> texts;
    std::optional<DateFields> fields;
    const char* why;
  } cases[] = {
      {{"2024", "2", "29", "24", "60"}, DateFields{2024, 2, 29, 24, 60}, ""},
      {{" 1900 ", "+1", "01", "0", "0"}, DateFields{1900, 1, 1, 0, 0}, ""},
      {{"1899", "1", "1", "0", "0"}, std::nullopt, "The year must be from 1900 to 2100, not 1899"},
      {{"2024", "2", "31", "0", "0"}, std::nullopt, "The day must be from 1 to 29, not 31"},
      {{"1900", "2", "29", "0", "0"}, std::nullopt, "The day must be from 1 to 28, not 29"},
      {{"2024", "13", "1", "0", "0"}, std::nullopt, "The month must be from 1 to 12, not 13"},
      {{"2024", "1", "1", "0", ""}, std::nullopt, "'' is not a valid integer value"},
      {{"2024", "1x", "1", "0", "0"}, std::nullopt, "'1x' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    QString why;
    EXPECT_EQ(ParseDateFields(c.texts, kFirstEditYear, &why), c.fields) << c.why;
    EXPECT_EQ(why, QString::fromLatin1(c.why));
  }
}

TEST(DateText, ShowsAndStampsWhatItReads) {
  const uint8_t stamp[5] = {106, 6, 4, 5, 3};
  EXPECT_EQ(DateText(FromStamp(stamp)), "2006.06.04 05:03");
  const auto back = ParseDateText(DateText(FromStamp(stamp)), YearOutside::Refused);
  ASSERT_TRUE(back);
  uint8_t again[5] = {};
  ToStamp(*back, again);
  EXPECT_EQ(std::memcmp(stamp, again, 5), 0);
  EXPECT_EQ(DateTextRefusal("--since", "2024.02.31 00:00", "The day must be from 1 to 29, not 31"),
            "--since must be a date and time \"YYYY.MM.DD HH:MM\", not \"2024.02.31 00:00\" (The day must "
            "be from 1 to 29, not 31)");
  EXPECT_EQ(DateTextRefusal("--after", "yesterday", ""),
            "--after must be a date and time \"YYYY.MM.DD HH:MM\", not \"yesterday\"");
}

}  // namespace
