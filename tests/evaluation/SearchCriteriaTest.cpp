#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "evaluation/SearchCriteria.h"

using namespace quelm;

namespace {

using Stamp = std::array<int, 5>;

std::optional<Stamp> parse(const QString& text) {
  uint8_t s[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  if (ParseSearchDateTime(text, s) != 0) {
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s[i], 0xEE) << "a refused text left a part behind";
    return std::nullopt;
  }
  return Stamp{s[0], s[1], s[2], s[3], s[4]};
}

TEST(ParseSearchDateTime, ReadsTheFixedPositions) {
  EXPECT_EQ(parse(QStringLiteral("2006.06.24 15:30")), (Stamp{106, 6, 24, 15, 30}));
  // The separators are not examined; text beyond 16 characters is ignored.
  EXPECT_EQ(parse(QStringLiteral("2006-06-24T15h30")), (Stamp{106, 6, 24, 15, 30}));
  EXPECT_EQ(parse(QStringLiteral("2006.06.24 15:30:59")), (Stamp{106, 6, 24, 15, 30}));
  EXPECT_EQ(parse(QStringLiteral("2006.06. 4  5:30")), (Stamp{106, 6, 4, 5, 30}));
}

TEST(ParseSearchDateTime, MovesTheYearIntoItsRange) {
  EXPECT_EQ(parse(QStringLiteral("1999.06.24 15:30")), (Stamp{100, 6, 24, 15, 30}));
  EXPECT_EQ(parse(QStringLiteral("0000.01.01 00:00")), (Stamp{100, 1, 1, 0, 0}));
  EXPECT_EQ(parse(QStringLiteral("2100.12.31 23:59")), (Stamp{200, 12, 31, 23, 59}));
  EXPECT_EQ(parse(QStringLiteral("9999.12.31 23:59")), (Stamp{200, 12, 31, 23, 59}));
}

TEST(ParseSearchDateTime, ChecksMonthDayHourAndMinute) {
  EXPECT_FALSE(parse(QStringLiteral("2006.00.24 15:30")));
  EXPECT_FALSE(parse(QStringLiteral("2006.13.24 15:30")));
  EXPECT_FALSE(parse(QStringLiteral("2006.06.00 15:30")));
  EXPECT_FALSE(parse(QStringLiteral("2006.02.30 10:00")));
  EXPECT_FALSE(parse(QStringLiteral("2006.02.29 10:00")));
  EXPECT_FALSE(parse(QStringLiteral("2006.04.31 10:00")));
  EXPECT_TRUE(parse(QStringLiteral("2004.02.29 10:00")));
  EXPECT_TRUE(parse(QStringLiteral("2006.01.31 10:00")));
  // Midnight at the end of a day and the sixtieth minute pass, as the reader knows them.
  EXPECT_EQ(parse(QStringLiteral("2006.06.24 24:00")), (Stamp{106, 6, 24, 24, 0}));
  EXPECT_EQ(parse(QStringLiteral("2006.06.24 23:60")), (Stamp{106, 6, 24, 23, 60}));
  EXPECT_FALSE(parse(QStringLiteral("2006.06.24 25:00")));
  EXPECT_FALSE(parse(QStringLiteral("2006.06.24 10:61")));
}

TEST(ParseSearchDateTime, RefusesTextThatIsNotADate) {
  EXPECT_FALSE(parse(QString()));
  EXPECT_FALSE(parse(QStringLiteral("2006.06.24 15:3")));  // 15 characters
  EXPECT_FALSE(parse(QStringLiteral("2006.06.24")));
  EXPECT_FALSE(parse(QStringLiteral("20x6.06.24 15:30")));
  EXPECT_FALSE(parse(QStringLiteral("2006.-6.24 15:30")));
  EXPECT_FALSE(parse(QStringLiteral("2006.06.24 +5:30")));
  EXPECT_FALSE(parse(QStringLiteral("2006.06.24   :30")));
  EXPECT_FALSE(parse(QStringLiteral("                ")));
}

TEST(SearchDateText, SixteenCharacters) {
  const uint8_t s[5] = {106, 6, 4, 5, 3};
  EXPECT_EQ(SearchDateText(s), "2006.06.04 05:03");
  uint8_t back[5];
  ASSERT_EQ(ParseSearchDateTime(SearchDateText(s), back), 0);
  EXPECT_EQ(std::memcmp(s, back, 5), 0);
}

TEST(SearchFlags, TickedCriteriaAndAlwaysBackward) {
  EXPECT_EQ(SearchFlags(false, false, false), 0);
  EXPECT_EQ(SearchFlags(true, false, false), 0x01);
  EXPECT_EQ(SearchFlags(false, true, false), 0x02);
  EXPECT_EQ(SearchFlags(false, false, true), 0x04);
  EXPECT_EQ(SearchFlags(true, true, true), 0x07);
}

TEST(SearchDosimeter, FiveCharactersOrZeroBytes) {
  SearchRequest r;
  std::memset(&r, 0x55, sizeof r);
  SetSearchDosimeter(r, QStringLiteral("A0001"));
  EXPECT_EQ(std::memcmp(r.Dosimeter, "A0001", 5), 0);
  SetSearchDosimeter(r, QStringLiteral("B12"));
  const char shortKey[5] = {'B', '1', '2', 0, 0};
  EXPECT_EQ(std::memcmp(r.Dosimeter, shortKey, 5), 0);
  SetSearchDosimeter(r, QString());
  const char none[5] = {0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(r.Dosimeter, none, 5), 0);
  SetSearchDosimeter(r, QStringLiteral("SENS12"));
  EXPECT_EQ(std::memcmp(r.Dosimeter, "SENS1", 5), 0);
  // Only the key is touched.
  EXPECT_EQ(int{r.Flags}, 0x55);
  EXPECT_EQ(int{r.DateTo[4]}, 0x55);
}

TEST(BlockFields, NumbersOfTheTypedText) {
  EXPECT_EQ(BlockFieldNumber(QStringLiteral("2047")), 2047u);
  EXPECT_EQ(BlockFieldNumber(QStringLiteral("0")), 0u);
  EXPECT_EQ(BlockFieldNumber(QStringLiteral("12.")), 0u);
  EXPECT_EQ(BlockFieldNumber(QStringLiteral("-5")), 0u);
  EXPECT_EQ(BlockFieldNumber(QStringLiteral(" ")), 0u);
  EXPECT_FALSE(BlockFieldNumber(QString()));
}

TEST(BlockFields, KeysAboveNineAreDiscarded) {
  for (const char c : {'0', '9', '-', ' ', '.', '/'}) EXPECT_TRUE(BlockFieldKeyAccepted(QLatin1Char(c))) << c;
  for (const char c : {':', 'a', 'A', 'z', '~'}) EXPECT_FALSE(BlockFieldKeyAccepted(QLatin1Char(c))) << c;
}

TEST(SearchDefaults, StartAtTheNewestBlockOverTheCurrentYear) {
  SearchRequest r;
  std::memset(&r, 0, sizeof r);
  r.Flags = kSearchByDate;
  r.FromBlock = 77;
  InitialiseSearchRequest(r, 1234, QDateTime(QDate(2006, 6, 24), QTime(15, 30, 45)));
  EXPECT_EQ(int{r.StartBlock}, 1234);
  EXPECT_EQ(int{r.FromBlock}, 0);
  EXPECT_EQ(SearchDateText(r.DateFrom), "2006.01.01 00:00");
  EXPECT_EQ(SearchDateText(r.DateTo), "2006.06.24 15:30");
  EXPECT_EQ(int{r.Flags}, kSearchByDate);  // the criteria are the window's business
}

}  // namespace
