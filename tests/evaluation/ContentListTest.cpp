#include <gtest/gtest.h>

#include <QStringList>
#include <cstring>
#include <limits>

#include "evaluation/ContentList.h"
#include "base/UserLocale.h"

using namespace quelm;

namespace {

// Restores the default regional settings after a test that changes them.
struct LocaleGuard {
  ~LocaleGuard() { setUserLocale(UserLocale{}); }
};

ListDateTime listDate(int y, int mo, int d, int h, int mi) {
  const uint8_t s[5] = {static_cast<uint8_t>(y - 1900), static_cast<uint8_t>(mo), static_cast<uint8_t>(d),
                        static_cast<uint8_t>(h), static_cast<uint8_t>(mi)};
  return FormatListDateTime(s);
}

TEST(FormatListDateTime, ShortDateAndTimeWithoutSecondsInTheUsersFormats) {
  LocaleGuard guard;
  EXPECT_EQ(listDate(2006, 6, 24, 15, 30).text, "24.06.2006 15:30");
  EXPECT_TRUE(listDate(2006, 6, 24, 15, 30).message.isEmpty());
  setUserLocale({QLatin1Char(','), QStringLiteral("M/d/yy"), QStringLiteral("h:mm:ss AP")});
  EXPECT_EQ(listDate(2006, 6, 4, 15, 5).text, "6/4/06 3:05 PM");
  setUserLocale({QLatin1Char(','), QStringLiteral("yyyy-MM-dd"), QStringLiteral("hh.mm.ss")});
  EXPECT_EQ(listDate(2049, 12, 31, 0, 0).text, "2049-12-31 00.00");
}

TEST(FormatListDateTime, OutOfRangeBytesReadErrorWithoutMessage) {
  // A block with the clock flag carries a zeroed stamp.
  EXPECT_EQ(listDate(1900, 0, 0, 0, 0).text, "Error");
  EXPECT_EQ(listDate(1900 + 151, 1, 1, 0, 0).text, "Error");
  EXPECT_EQ(listDate(2006, 13, 1, 0, 0).text, "Error");
  EXPECT_EQ(listDate(2006, 1, 32, 0, 0).text, "Error");
  EXPECT_EQ(listDate(2006, 1, 1, 25, 0).text, "Error");
  EXPECT_EQ(listDate(2006, 1, 1, 0, 61).text, "Error");
  for (const ListDateTime& t :
       {listDate(1900, 0, 0, 0, 0), listDate(2006, 1, 1, 25, 0), listDate(2006, 1, 1, 0, 61)})
    EXPECT_TRUE(t.message.isEmpty());
  EXPECT_EQ(listDate(1900 + 150, 1, 1, 0, 0).text, QLatin1String("01.01.2050 00:00"));
}

TEST(FormatListDateTime, DaysAndTimesTheCalendarRejectsBringTheirMessage) {
  const ListDateTime feb30 = listDate(2006, 2, 30, 10, 0);
  EXPECT_EQ(feb30.text, "Error");
  EXPECT_EQ(feb30.message, "Date error");
  EXPECT_EQ(listDate(2006, 2, 29, 10, 0).message, "Date error");
  EXPECT_EQ(listDate(2004, 2, 29, 10, 0).text, "29.02.2004 10:00");
  EXPECT_EQ(listDate(2006, 4, 31, 10, 0).message, "Date error");
  // A bad day wins over a bad time.
  EXPECT_EQ(listDate(2006, 4, 31, 24, 0).message, "Date error");

  for (const ListDateTime& t : {listDate(2006, 6, 24, 24, 0), listDate(2006, 6, 24, 12, 60)}) {
    EXPECT_EQ(t.text, "Error");
    EXPECT_EQ(t.message, "Time error");
  }
}

TEST(ListColumns, ExposureTexts) {
  EXPECT_EQ(ListExposureText(36), "    3.6 h    ");
  EXPECT_EQ(ListExposureText(1), "    0.1 h    ");
  EXPECT_EQ(ListExposureText(65534), " 6553.4 h    ");
  EXPECT_EQ(ListExposureText(0), "   <0.1 h   ");
  EXPECT_EQ(ListExposureText(0xFFFF), QString(11, QLatin1Char(' ')));
  LocaleGuard guard;
  setUserLocale({QLatin1Char(','), QStringLiteral("dd.MM.yyyy"), QStringLiteral("HH:mm:ss")});
  EXPECT_EQ(ListExposureText(36), "    3,6 h    ");
}

TEST(ListColumns, TemperatureInHalfDegrees) {
  EXPECT_EQ(ListTemperatureText(45), "22.5 'C");
  EXPECT_EQ(ListTemperatureText(0), "0.0 'C");
  EXPECT_EQ(ListTemperatureText(-3), "-1.5 'C");
  LocaleGuard guard;
  setUserLocale({QLatin1Char(','), QStringLiteral("dd.MM.yyyy"), QStringLiteral("HH:mm:ss")});
  EXPECT_EQ(ListTemperatureText(40), "20,0 'C");
}

BlockSummary summary() {
  BlockSummary s;
  std::memset(&s, 0, sizeof s);
  s.BlockNumber = 1234;
  const uint8_t when[5] = {106, 6, 24, 15, 30};
  std::memcpy(s.DateTime, when, 5);
  std::memcpy(s.DeviceID, "Q0412", 5);
  std::memcpy(s.BulbID, "A0012", 5);
  s.ReaderTemp = 45;
  s.MeasuredDose = 18.0f;
  s.Exposure = 36;
  return s;
}

const QString kMicro = QString(QChar(0xB5));

TEST(ContentRow, AllColumnsOfABlock) {
  const ContentRow row = ContentRowTexts(summary());
  const std::array<QString, kContentColumnCount> expected = {"1234",
                                                             "24.06.2006 15:30",
                                                             "A0012",
                                                             "18.0 " + kMicro + "Sv ",
                                                             "    3.6 h    ",
                                                             "5.00 " + kMicro + "Sv/h",
                                                             "Q0412",
                                                             "22.5 'C",
                                                             "OK"};
  EXPECT_EQ(row.cells, expected);
  EXPECT_TRUE(row.message.isEmpty());
  QStringList titles;
  for (const ContentColumn& c : ContentColumns()) titles << QString::fromLatin1(c.title);
  EXPECT_EQ(titles, QStringList({"BlockNo", "DateTime", "Dosimeter", "Dose", "Exposure", "Appr. Dose rate",
                                 "Device ID", "Temperature", "ErrorCodes"}));
}

TEST(ContentRow, DoseRateOnlyWithAStoredExposure) {
  BlockSummary s = summary();
  s.Exposure = 0;
  ContentRow row = ContentRowTexts(s);
  EXPECT_EQ(row.cells[4], "   <0.1 h   ");
  EXPECT_EQ(row.cells[5], "");
  s.Exposure = 0xFFFF;
  row = ContentRowTexts(s);
  EXPECT_EQ(row.cells[4], QString(11, QLatin1Char(' ')));
  EXPECT_EQ(row.cells[5], "");
  // 2500 uSv over 0.5 h.
  s.Exposure = 5;
  s.MeasuredDose = 2500.0f;
  EXPECT_EQ(ContentRowTexts(s).cells[5], "5.00 mSv/h");
  s.MeasuredDose = -3.0f;
  EXPECT_EQ(ContentRowTexts(s).cells[5], "0.00 " + kMicro + "Sv/h");
  s.MeasuredDose = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(ContentRowTexts(s).cells[5], "0.00 " + kMicro + "Sv/h");
}

TEST(ContentRow, ErrorFlagsAndAClockFault) {
  BlockSummary s = summary();
  s.ErrorCodes = 0x11;
  std::memset(s.DateTime, 0, 5);  // no time with the clock flag
  const ContentRow row = ContentRowTexts(s);
  EXPECT_EQ(row.cells[8], "EBSE EBCK ");
  EXPECT_EQ(row.cells[1], "Error");
  EXPECT_TRUE(row.message.isEmpty());
  s.ErrorCodes = 0xC4;
  EXPECT_EQ(ContentRowTexts(s).cells[8], "EBHE DBCH ");
}

TEST(ContentRow, ACalendarDayThatDoesNotExistBringsItsMessage) {
  BlockSummary s = summary();
  s.DateTime[1] = 2;
  s.DateTime[2] = 30;
  const ContentRow row = ContentRowTexts(s);
  EXPECT_EQ(row.cells[1], "Error");
  EXPECT_EQ(row.message, "Date error");
}

TEST(ContentRow, IdentifiersEndAtAZeroByte) {
  BlockSummary s = summary();
  const char shorter[5] = {'B', '1', 0, 'x', 'y'};
  std::memcpy(s.BulbID, shorter, 5);
  std::memset(s.DeviceID, 0, 5);
  const ContentRow row = ContentRowTexts(s);
  EXPECT_EQ(row.cells[2], "B1");
  EXPECT_EQ(row.cells[6], "");
}

TEST(ListColumns, BlockNumberReadBackFromColumn0) {
  EXPECT_EQ(RowBlockNumber(QStringLiteral("2047")), 2047u);
  EXPECT_EQ(RowBlockNumber(QStringLiteral("0")), 0u);
  EXPECT_FALSE(RowBlockNumber(QString()));
  EXPECT_FALSE(RowBlockNumber(QStringLiteral("x")));
}

TEST(BlockNumbers, StepsWrapAroundTheRing) {
  EXPECT_EQ(NextBlockNumber(0), 1);
  EXPECT_EQ(NextBlockNumber(2046), 2047);
  EXPECT_EQ(NextBlockNumber(2047), 0);
  EXPECT_EQ(NextBlockNumber(5000), 0);
  EXPECT_EQ(PrevBlockNumber(0), 2047);
  EXPECT_EQ(PrevBlockNumber(1), 0);
  EXPECT_EQ(PrevBlockNumber(2047), 2046);
}

TEST(BlockNumbers, RangesMayRunOverTheWrap) {
  EXPECT_TRUE(InBlockRange(10, 10, 50));
  EXPECT_TRUE(InBlockRange(50, 10, 50));
  EXPECT_FALSE(InBlockRange(9, 10, 50));
  EXPECT_FALSE(InBlockRange(51, 10, 50));
  EXPECT_TRUE(InBlockRange(2047, 2040, 5));
  EXPECT_TRUE(InBlockRange(0, 2040, 5));
  EXPECT_TRUE(InBlockRange(5, 2040, 5));
  EXPECT_FALSE(InBlockRange(6, 2040, 5));
  EXPECT_FALSE(InBlockRange(2039, 2040, 5));
  EXPECT_TRUE(InBlockRange(7, 7, 7));
}

SearchRequest request(uint8_t flags, uint16_t start) {
  SearchRequest r;
  std::memset(&r, 0, sizeof r);
  r.Flags = flags;
  r.StartBlock = start;
  r.FromBlock = 3;
  std::memcpy(r.Dosimeter, "A0001", 5);
  return r;
}

TEST(NextPage, StartsAfterTheTopRowForwardAndWraps) {
  const SearchRequest current = request(kSearchByDate, 120);
  PageTurn t = PlanNextPage(current, 100u, 0, 0);
  ASSERT_TRUE(t.search);
  EXPECT_EQ(int{t.request.StartBlock}, 101);
  EXPECT_EQ(int{t.request.Flags}, kSearchByDate | kSearchForward);
  EXPECT_EQ(std::memcmp(t.request.Dosimeter, "A0001", 5), 0);
  // Without a block-number range the list keeps where the page started.
  EXPECT_EQ(std::memcmp(&t.keep, &t.request, sizeof t.keep), 0);

  t = PlanNextPage(current, 2047u, 0, 0);
  ASSERT_TRUE(t.search);
  EXPECT_EQ(int{t.request.StartBlock}, 0);
}

TEST(NextPage, AnEmptyListChangesNothing) {
  const SearchRequest current = request(0, 120);
  const PageTurn t = PlanNextPage(current, std::nullopt, 0, 0);
  EXPECT_FALSE(t.search);
  EXPECT_EQ(std::memcmp(&t.keep, &current, sizeof current), 0);
}

TEST(NextPage, ABlockNumberSearchStopsAtItsUpperLimitAndKeepsItsStart) {
  const SearchRequest current = request(kSearchByNumber, 50);
  PageTurn t = PlanNextPage(current, 30u, 50, 10);
  ASSERT_TRUE(t.search);
  EXPECT_EQ(int{t.request.StartBlock}, 31);
  EXPECT_EQ(int{t.keep.StartBlock}, 50);
  EXPECT_EQ(int{t.keep.Flags}, kSearchByNumber | kSearchForward);

  t = PlanNextPage(current, 50u, 50, 10);  // the newest of the range is on top
  EXPECT_FALSE(t.search);
  EXPECT_EQ(std::memcmp(&t.keep, &current, sizeof current), 0);

  t = PlanNextPage(current, 60u, 50, 10);  // a page above the range (after an import)
  EXPECT_FALSE(t.search);
  EXPECT_EQ(int{t.keep.StartBlock}, 50);
}

TEST(NextPage, ABlockNumberRangeOverTheWrapPagesAcrossIt) {
  const SearchRequest current = request(kSearchByNumber, 100);
  const PageTurn t = PlanNextPage(current, 2047u, 100, 2000);
  ASSERT_TRUE(t.search);
  EXPECT_EQ(int{t.request.StartBlock}, 0);
  EXPECT_FALSE(PlanNextPage(current, 100u, 100, 2000).search);
  // 2047 at the top of a range 10..50 would wrap to 0, outside the range.
  EXPECT_FALSE(PlanNextPage(request(kSearchByNumber, 50), 2047u, 50, 10).search);
}

TEST(PrevPage, StartsBelowTheBottomRowBackwardAndWraps) {
  const SearchRequest current = request(kSearchByDosimeter | kSearchForward, 7);
  PageTurn t = PlanPrevPage(current, 0u, 0);
  ASSERT_TRUE(t.search);
  EXPECT_EQ(int{t.request.StartBlock}, 2047);
  EXPECT_EQ(int{t.request.Flags}, kSearchByDosimeter);
  EXPECT_EQ(std::memcmp(&t.keep, &t.request, sizeof t.keep), 0);

  t = PlanPrevPage(current, 81u, 0);
  EXPECT_EQ(int{t.request.StartBlock}, 80);
  EXPECT_FALSE(PlanPrevPage(current, std::nullopt, 0).search);
}

TEST(PrevPage, ABlockNumberSearchStopsAtItsLowerLimitAndKeepsItsStart) {
  const SearchRequest current = request(kSearchByNumber, 50);
  PageTurn t = PlanPrevPage(current, 31u, 10);
  ASSERT_TRUE(t.search);
  EXPECT_EQ(int{t.request.StartBlock}, 30);
  EXPECT_EQ(int{t.keep.StartBlock}, 50);
  t = PlanPrevPage(current, 10u, 10);
  EXPECT_FALSE(t.search);
  EXPECT_EQ(std::memcmp(&t.keep, &current, sizeof current), 0);
}

TEST(PageRows, ForwardPagesAreShownNewestFirst) {
  // Forward: Summaries 0..n-1 ascend, so Summaries[n-1] goes to row 1.
  EXPECT_EQ(PageRowOfSummary(0, 20, true), 20);
  EXPECT_EQ(PageRowOfSummary(19, 20, true), 1);
  EXPECT_EQ(PageRowOfSummary(0, 7, true), 7);
  EXPECT_EQ(PageRowOfSummary(0, 7, false), 1);
  EXPECT_EQ(PageRowOfSummary(6, 7, false), 7);
}

TEST(Navigation, UpMovesTowardsNewerBlocksAndTurnsThePageAtRow1) {
  EXPECT_EQ(DecideNextItem(1, 20, true).move, NavMove::NextPage);
  const NavDecision d = DecideNextItem(5, 20, true);
  EXPECT_EQ(d.move, NavMove::Select);
  EXPECT_EQ(d.row, 4);
  // Nothing selected yet: the newest row.
  EXPECT_EQ(DecideNextItem(0, 3, true).row, 1);
  EXPECT_EQ(DecideNextItem(0, 0, true).move, NavMove::Stay);
}

TEST(Navigation, DownMovesTowardsOlderBlocksAndTurnsThePageAtTheBottom) {
  const NavDecision d = DecidePrevItem(5, 20, true);
  EXPECT_EQ(d.move, NavMove::Select);
  EXPECT_EQ(d.row, 6);
  EXPECT_EQ(DecidePrevItem(20, 20, true).move, NavMove::PrevPage);
  // The bottom of a short page turns the page rather than stepping onto an empty row.
  EXPECT_EQ(DecidePrevItem(3, 3, true).move, NavMove::PrevPage);
  // With paging off (before the first import) empty rows may be selected.
  EXPECT_EQ(DecidePrevItem(3, 3, false).row, 4);
  EXPECT_EQ(DecidePrevItem(20, 3, false).move, NavMove::PrevPage);
}

TEST(Navigation, HomeAndEndSelectTheOldestAndNewestRow) {
  EXPECT_EQ(DecideFirstBlock(1, 20, true).row, 20);
  EXPECT_EQ(DecideFirstBlock(1, 7, true).row, 7);
  EXPECT_EQ(DecideFirstBlock(1, 0, true).move, NavMove::Stay);
  EXPECT_EQ(DecideLastBlock(20, 20, true).row, 1);
  EXPECT_EQ(DecideLastBlock(1, 0, true).move, NavMove::Stay);
  EXPECT_EQ(DecideLastBlock(1, 0, false).row, 1);
}

TEST(Navigation, EmptyRowsAreRefusedOnlyWhilePagingIsEnabled) {
  EXPECT_TRUE(RowSelectable(3, 3, true));
  EXPECT_FALSE(RowSelectable(4, 3, true));
  EXPECT_TRUE(RowSelectable(4, 3, false));
  EXPECT_FALSE(RowSelectable(0, 20, false));
  EXPECT_FALSE(RowSelectable(21, 20, false));
}

}  // namespace
