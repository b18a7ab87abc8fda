#include <gtest/gtest.h>

#include "QStringPrinter.h"

#include <QDate>

#include "TimeZoneGuard.h"
#include "evaluation/BlockFormat.h"
#include "sample-data/SampleData.h"

namespace {

TEST(ErrorCodes, ShortCodesInTableOrder) {
  EXPECT_EQ(FormatErrorCodes(0x00), "OK ");
  EXPECT_EQ(FormatErrorCodes(0x91), "EBSE EBCK DINV ");
  EXPECT_EQ(FormatErrorCodes(0x11), "EBSE EBCK ");
  EXPECT_EQ(FormatErrorCodes(0xC4), "EBHE DBCH ");
  EXPECT_EQ(FormatErrorCodes(0x40), "DTMP ");
  EXPECT_EQ(FormatErrorCodes(0x20), "EBST ");
  EXPECT_EQ(FormatErrorCodes(0xFF), "EBSE EBBG EBHE EBOV EBCK EBST DBCH ");
  QString out;
  FormatErrorCodes(0x02, out);
  EXPECT_EQ(out, "EBBG ");
}

TEST(ErrorCodes, HintDropsTheLastSeparatorOnly) {
  EXPECT_EQ(ErrorCodesHint(0x00), "");
  EXPECT_EQ(ErrorCodesHint(0x01), "Sensitivity");
  EXPECT_EQ(ErrorCodesHint(0x03), "Sensitivity Background");
  EXPECT_EQ(ErrorCodesHint(0x0C), "Heating; Overflow");
  EXPECT_EQ(ErrorCodesHint(0x11), "Sensitivity Clock");
  EXPECT_EQ(ErrorCodesHint(0xC4), "Heating; Bad Dosimeter Chip");
  EXPECT_EQ(ErrorCodesHint(0x40), "Dosimeter Temperature Sensor");
  EXPECT_EQ(ErrorCodesHint(0xA0), "Measurement Abort; Dosimeter Invalid");
}

uint32_t secondsOf(int year, int month, int day, int hour, int minute, int second) {
  const uint8_t stamp[5] = {static_cast<uint8_t>(year - 1900), static_cast<uint8_t>(month),
                            static_cast<uint8_t>(day), static_cast<uint8_t>(hour),
                            static_cast<uint8_t>(minute)};
  return ReaderSecondsFromStamp(stamp) + static_cast<uint32_t>(second);
}

TEST(SecondsToDate, LeapYearEnd) {
  uint8_t d[6] = {};
  ASSERT_EQ(SecondsToDate(secondsOf(2004, 12, 31, 23, 59, 58), d), 0);
  EXPECT_EQ(d[0], 104);
  EXPECT_EQ(d[1], 12);
  EXPECT_EQ(d[2], 31);
  EXPECT_EQ(d[3], 23);
  EXPECT_EQ(d[4], 59);
  EXPECT_EQ(d[5], 58);
  ASSERT_EQ(SecondsToDate(secondsOf(2004, 2, 29, 0, 0, 0), d), 0);
  EXPECT_EQ(d[1], 2);
  EXPECT_EQ(d[2], 29);
}

TEST(SecondsToDate, YearsOutside2000To2049AreRefused) {
  uint8_t d[6] = {};
  EXPECT_EQ(SecondsToDate(0, d), -1);
  EXPECT_EQ(d[1], 1);
  EXPECT_EQ(d[2], 1);
  EXPECT_EQ(SecondsToDate(secondsOf(2000, 1, 1, 0, 0, 0) - 1, d), -1);
  EXPECT_EQ(d[1], 1);
  EXPECT_EQ(d[2], 1);
  EXPECT_EQ(d[3], 23);  // the time of day is still converted

  ASSERT_EQ(SecondsToDate(secondsOf(2000, 1, 1, 0, 0, 0), d), 0);
  EXPECT_EQ(d[0], 100);
  EXPECT_EQ(d[1], 1);
  EXPECT_EQ(d[2], 1);

  ASSERT_EQ(SecondsToDate(secondsOf(2049, 12, 31, 23, 59, 59), d), 0);
  EXPECT_EQ(d[0], 149);
  EXPECT_EQ(d[1], 12);
  EXPECT_EQ(d[2], 31);

  EXPECT_EQ(SecondsToDate(secondsOf(2050, 1, 1, 0, 0, 0), d), -1);
  EXPECT_EQ(d[1], 12);
  EXPECT_EQ(d[2], 31);
  EXPECT_EQ(SecondsToDate(0xFFFFFFFFu, d), -1);
}

TEST(SecondsToDate, AgreesWithTheCalendarOnEveryDayOfTheRange) {
  const QDate epoch(1980, 1, 1);
  for (QDate day(2000, 1, 1); day.year() < 2050; day = day.addDays(1)) {
    const uint32_t s = static_cast<uint32_t>(epoch.daysTo(day)) * 86400u + 13 * 3600 + 7 * 60 + 5;
    uint8_t d[6] = {};
    ASSERT_EQ(SecondsToDate(s, d), 0) << day.toString(Qt::ISODate).toStdString();
    ASSERT_EQ(QDate(d[0] + 1900, d[1], d[2]), day);
    ASSERT_EQ(d[3], 13);
    ASSERT_EQ(d[4], 7);
    ASSERT_EQ(d[5], 5);
  }
}

TEST(BlockIdentity, SpecialDosimetersAndIdentifiers) {
  EXPECT_TRUE(IsSpecialDosimeter("SENS1"));
  EXPECT_TRUE(IsSpecialDosimeter("BGND1"));
  EXPECT_TRUE(IsSpecialDosimeter("BENS0"));
  EXPECT_TRUE(IsSpecialDosimeter("SGND "));
  EXPECT_FALSE(IsSpecialDosimeter("A0001"));
  EXPECT_FALSE(IsSpecialDosimeter("SENX1"));
  EXPECT_FALSE(IsSpecialDosimeter("sens1"));

  const char full[5] = {'Q', '0', '4', '1', '2'};
  const char shortId[5] = {'Q', '0', 0, '9', '9'};
  EXPECT_EQ(IdentifierText(full), "Q0412");
  EXPECT_EQ(IdentifierText(shortId), "Q0");
}

TEST(HoursSinceLastReadOut, ZoneWithoutDaylightSaving) {
  const uint8_t block[5] = {106, 1, 9, 17, 30};  // 2006-01-09 17:30
  const uint32_t tenHoursBefore = secondsOf(2006, 1, 9, 7, 30, 0);
  for (const char* zone : {"UTC0", "JST-9", "EST5"}) {
    TimeZoneGuard tz(zone);
    EXPECT_EQ(HoursSinceLastReadOut(block, tenHoursBefore), 10u) << zone;
    EXPECT_EQ(HoursSinceLastReadOut(block, tenHoursBefore + 1), 9u) << zone;  // whole hours only
    EXPECT_EQ(HoursSinceLastReadOut(block, secondsOf(2006, 1, 9, 17, 30, 0)), 0u) << zone;
    EXPECT_FALSE(HoursSinceLastReadOut(block, secondsOf(2006, 1, 9, 17, 30, 1))) << zone;
  }
  // The reader's seconds are unsigned 32-bit: 2150-06-01 12:00 lies
  // 5 377 838 400 s after 1980, which that count holds as 1 082 871 104 s.
  TimeZoneGuard tz("UTC0");
  const uint8_t far[5] = {250, 6, 1, 12, 0};
  EXPECT_EQ(HoursSinceLastReadOut(far, 0), 300797u);
}

TEST(HoursSinceLastReadOut, ZoneWithDaylightSavingKeepsTheLocalTimeRule) {
  // The block time is taken with the daylight-saving flag set, the 1980
  // epoch without: in such a zone the rule shows one hour less than the
  // reader's clocks differ, in summer and in winter alike.
  TimeZoneGuard tz("CET-1CEST,M3.5.0,M10.5.0/3");
  const uint8_t summer[5] = {106, 7, 9, 17, 30};
  const uint8_t winter[5] = {106, 1, 9, 17, 30};
  EXPECT_EQ(HoursSinceLastReadOut(summer, secondsOf(2006, 7, 9, 7, 30, 0)), 9u);
  EXPECT_EQ(HoursSinceLastReadOut(winter, secondsOf(2006, 1, 9, 7, 30, 0)), 9u);
}

}  // namespace
