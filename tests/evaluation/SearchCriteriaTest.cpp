#include <gtest/gtest.h>

#include <cstring>

#include "base/DateText.h"
#include "evaluation/SearchCriteria.h"

using namespace quelm;

namespace {

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
  EXPECT_EQ(DateText(FromStamp(r.DateFrom)), "2006.01.01 00:00");
  EXPECT_EQ(DateText(FromStamp(r.DateTo)), "2006.06.24 15:30");
  EXPECT_EQ(int{r.Flags}, kSearchByDate);  // the criteria are the window's business
}

}  // namespace
