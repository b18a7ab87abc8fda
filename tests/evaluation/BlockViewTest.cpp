#include <gtest/gtest.h>

#include "QStringPrinter.h"

#include <cstring>

#include "KnownBlock.h"
#include "TimeZoneGuard.h"
#include "base/UserLocale.h"
#include "evaluation/BlockFormat.h"
#include "evaluation/BlockView.h"
#include "measurement/RangeCode.h"
#include "sample-data/SampleData.h"

using namespace quelm;

namespace {

// The known block without its glow curve, warmer, with a wider window.
BlockRecord makeRecord() {
  BlockRecord r = knownBlock();
  r.ReaderTemp = 45;
  r.ErrorCodes = 0;
  r.EVASTART = 20;
  r.EVALEN = 45;
  r.EVANORM = 5120;
  r.MeasuredDose = 12.345f;
  for (int i = 0; i < kRawValueCount; ++i) r.RawValues[i] = 0;
  return r;
}

struct Decoded {
  uint32_t values[kRawValueCount] = {};
  uint32_t ranges[kRawValueCount] = {};
  bool fault = false;
  explicit Decoded(const BlockRecord& r) { fault = DecodeBlockValues(r, values, ranges); }
};

QString text(const HeaderView& h, HeaderField f) { return h.values[f].text; }

TEST(Decoding, RangeCodesAndFaults) {
  BlockRecord r = makeRecord();
  r.RawValues[6] = 0x1ABC;
  r.RawValues[7] = 0x4FFF;
  r.RawValues[8] = 0x5000;
  r.RawValues[9] = 0x8123;
  uint32_t values[kRawValueCount] = {};
  uint32_t ranges[kRawValueCount];
  for (uint32_t& x : ranges) x = 3;  // what an earlier block left
  EXPECT_TRUE(DecodeBlockValues(r, values, ranges));
  EXPECT_EQ(values[6], 87936u);
  EXPECT_EQ(ranges[6], 1u);
  EXPECT_EQ(values[7], 4095u * 262144u);
  EXPECT_EQ(ranges[7], 4u);
  EXPECT_EQ(values[8], 0u);
  EXPECT_EQ(ranges[8], 3u);  // an invalid code leaves the stored one
  EXPECT_EQ(values[9], 0x123u);
  EXPECT_EQ(ranges[9], 3u);
  EXPECT_EQ(ranges[10], 0u);

  r.RawValues[8] = r.RawValues[9] = 0;
  EXPECT_FALSE(DecodeBlockValues(r, values, ranges));
}

TEST(InitialEvalMembers, WindowFromTheBlockWithinItsLimits) {
  BlockRecord r = makeRecord();
  auto init = [&](int start, int length) {
    r.EVASTART = static_cast<uint8_t>(start);
    r.EVALEN = static_cast<uint8_t>(length);
    Decoded d(r);
    const EvalMembers m = InitialEvalMembers(r, d.values);
    return std::pair{m.evalStart, m.evalLength};
  };
  EXPECT_EQ(init(30, 70), std::pair(30, 70));
  EXPECT_EQ(init(90, 20), std::pair(90, 1));
  EXPECT_EQ(init(99, 1), std::pair(0, 1));
  EXPECT_EQ(init(99, 5), std::pair(0, 1));
  EXPECT_EQ(init(200, 10), std::pair(0, 1));
  EXPECT_EQ(init(0, 100), std::pair(0, 100));
  EXPECT_EQ(init(10, 0), std::pair(10, 1));  // an empty window counts as one channel
}

TEST(InitialEvalMembers, NormFactCapAndCursorOnTheFirstLargestValue) {
  BlockRecord r = makeRecord();
  r.EVANORM = 250000;
  r.EVASTART = 10;
  r.EVALEN = 5;
  r.RawValues[6 + 9] = 5000;  // outside the window
  r.RawValues[6 + 11] = 40;
  r.RawValues[6 + 12] = 0x1001;  // 32: smaller once decoded than it looks
  r.RawValues[6 + 13] = 40;
  Decoded d(r);
  EvalMembers m = InitialEvalMembers(r, d.values);
  EXPECT_DOUBLE_EQ(m.normFact, 100000.0);
  EXPECT_EQ(m.cursorPos, 11);

  BlockRecord zero = makeRecord();
  zero.EVASTART = 10;
  Decoded dz(zero);
  m = InitialEvalMembers(zero, dz.values);
  EXPECT_EQ(m.cursorPos, 0);
}

TEST(ClampEvalMembers, BringsEveryMemberIntoItsLimits) {
  EvalMembers m{-5, 0, 150, -1, 1};
  ClampEvalMembers(m);
  EXPECT_EQ(m.evalStart, 0);
  EXPECT_EQ(m.evalLength, 1);
  EXPECT_EQ(m.cursorPos, 99);
  EXPECT_EQ(m.peakPos, 0);
  m = {95, 20, -3, 0, 1};
  ClampEvalMembers(m);
  EXPECT_EQ(m.evalStart, 95);
  EXPECT_EQ(m.evalLength, 5);
  EXPECT_EQ(m.cursorPos, 0);
}

TEST(HeaderView, EveryValueOfAnOrdinaryBlock) {
  TimeZoneGuard tz("UTC0");
  const HeaderView h = MakeHeaderView(makeRecord());
  EXPECT_EQ(text(h, hfDeviceID), "Q0412");
  EXPECT_EQ(text(h, hfDosimeter), "A0017");
  EXPECT_EQ(text(h, hfDateTime), "2006.06.24 15:30");
  EXPECT_EQ(text(h, hfErrorCodes), "");
  EXPECT_EQ(h.values[hfErrorCodes].hint, "");
  EXPECT_EQ(h.errorCodesCaptionHint, "");
  EXPECT_EQ(text(h, hfBlockNumber), "1234");
  EXPECT_EQ(text(h, hfMeasPoints), "106");
  EXPECT_EQ(text(h, hfSamplingSpeed), "50 ms");
  EXPECT_EQ(text(h, hfReaderTemp), "22.5 'C");
  EXPECT_EQ(text(h, hfMeasuredDose), "12.3 µSv");
  EXPECT_EQ(text(h, hfExposure), "3.6 h");
  EXPECT_EQ(text(h, hfDoseRate), "5.00 µSv/h");
  EXPECT_EQ(h.values[hfDoseRate].hint, "5.00 µSv/h");
  EXPECT_EQ(text(h, hfLastReadOut), "2006.06.23 08:05  ");
}

TEST(HeaderView, ErrorFlagsAndTheClock) {
  BlockRecord r = makeRecord();
  r.ErrorCodes = 0x11;
  HeaderView h = MakeHeaderView(r);
  EXPECT_EQ(text(h, hfErrorCodes), "EBSE EBCK ");
  EXPECT_EQ(h.values[hfErrorCodes].hint, "Sensitivity Clock");
  EXPECT_EQ(h.errorCodesCaptionHint, "Sensitivity Clock");
  EXPECT_EQ(text(h, hfDateTime), "-Not-available--  ");
  // Without a valid time nothing is derived from it.
  EXPECT_EQ(text(h, hfExposure), "");
  EXPECT_EQ(text(h, hfDoseRate), "");
  EXPECT_EQ(h.values[hfDoseRate].hint, "");
  EXPECT_EQ(text(h, hfLastReadOut), "");

  r.ErrorCodes = 0xC4;
  h = MakeHeaderView(r);
  EXPECT_EQ(text(h, hfErrorCodes), "EBHE DBCH ");
  EXPECT_EQ(h.values[hfErrorCodes].hint, "Heating; Bad Dosimeter Chip");
  EXPECT_EQ(text(h, hfDateTime), "2006.06.24 15:30");
}

TEST(HeaderView, SpecialDosimeterShowsNoReadOutTimes) {
  BlockRecord r = makeRecord();
  std::memcpy(r.BulbID, "SENS1", 5);
  const HeaderView h = MakeHeaderView(r);
  EXPECT_EQ(text(h, hfExposure), "");
  EXPECT_EQ(text(h, hfDoseRate), "");
  EXPECT_EQ(text(h, hfLastReadOut), "");
  EXPECT_EQ(text(h, hfDosimeter), "SENS1");
}

TEST(HeaderView, ExposureUnderATenthAndNotStored) {
  TimeZoneGuard tz("UTC0");
  BlockRecord r = makeRecord();
  r.Exposure = 0;
  HeaderView h = MakeHeaderView(r);
  EXPECT_EQ(text(h, hfExposure), "<0.1 h ");
  EXPECT_EQ(text(h, hfDoseRate), "        ");
  EXPECT_EQ(h.values[hfDoseRate].hint, "");

  r.Exposure = 0xFFFF;
  const uint8_t tenHoursBefore[5] = {106, 6, 24, 5, 30};
  r.LRO = ReaderSecondsFromStamp(tenHoursBefore);
  h = MakeHeaderView(r);
  EXPECT_EQ(text(h, hfExposure), "");
  EXPECT_EQ(text(h, hfDoseRate), "10.0 h");
  EXPECT_EQ(h.values[hfDoseRate].hint, "");
  EXPECT_EQ(text(h, hfLastReadOut), "2006.06.24 05:30  ");

  const uint8_t later[5] = {106, 6, 25, 5, 30};
  r.LRO = ReaderSecondsFromStamp(later);
  EXPECT_EQ(text(MakeHeaderView(r), hfDoseRate), "Not Available");

  r.LRO = 0;  // 1980 lies outside the calendar of the reader
  h = MakeHeaderView(r);
  EXPECT_EQ(text(h, hfLastReadOut), "Not Available");
}

TEST(HeaderView, TextsFollowTheUsersSeparatorAndZeroEndsAnIdentifier) {
  UserLocale comma = userLocale();
  const UserLocale saved = comma;
  comma.decimalSeparator = QLatin1Char(',');
  setUserLocale(comma);
  BlockRecord r = makeRecord();
  r.DeviceID[3] = 0;
  const HeaderView h = MakeHeaderView(r);
  setUserLocale(saved);
  EXPECT_EQ(text(h, hfReaderTemp), "22,5 'C");
  EXPECT_EQ(text(h, hfExposure), "3,6 h");
  EXPECT_EQ(text(h, hfDoseRate), "5,00 µSv/h");
  EXPECT_EQ(text(h, hfDeviceID), "Q04");
}

TEST(ValueTable, LabelsValuesAndTemperaturesInFourGroups) {
  BlockRecord r = makeRecord();
  r.RawValues[0] = 0x1ABC;
  r.RawValues[5] = 7;
  r.RawValues[6] = 0x2001;    // channel 0: 1024
  r.RawValues[105] = 0x4FFF;  // channel 99
  r.RawValues[27] = 0x7123;   // channel 21: invalid range
  r.ChannelTemps[0] = -15;    // -1.5 'C cuts to -1
  r.ChannelTemps[99] = 2999;
  Decoded d(r);
  const ValueTable t = MakeValueTable(r, d.values, d.ranges);
  EXPECT_EQ(t[0][0], "(1)  A:");
  EXPECT_EQ(t[0][1], "     87936");
  EXPECT_EQ(t[0][2], "");
  EXPECT_EQ(t[5][0], "(0)  F:");
  EXPECT_EQ(t[5][1], "         7");
  EXPECT_EQ(t[6][0], "(2)  0:");
  EXPECT_EQ(t[6][1], "      1024");
  EXPECT_EQ(t[6][2], "    -1");
  EXPECT_EQ(t[0][4], "(7) 21:");  // entry 27, second group; the word's own code
  EXPECT_EQ(t[0][5], "       291");
  EXPECT_EQ(t[24][12], "(4) 99:");  // entry 105 = 3 * 27 + 24
  EXPECT_EQ(t[24][13], "1073479680");
  EXPECT_EQ(t[24][14], "   299");
  for (int row = 0; row < kValueTableRows; ++row)
    for (int group = 0; group < 4; ++group) EXPECT_EQ(t[row][4 * group + 3], "");
  EXPECT_EQ(t[25][12], "");
  EXPECT_EQ(t[26][13], "");
}

TEST(BlockView, ChartPointsCloseTheAreaAtTheRightEdge) {
  BlockRecord r = makeRecord();
  r.RawValues[6 + 40] = 0x1100;  // 256 * 32
  r.ChannelTemps[40] = 1559;
  Decoded d(r);
  const BlockView v = MakeBlockView(r, d.values, d.ranges);
  ASSERT_EQ(v.areaPoints.size(), 101u);
  ASSERT_EQ(v.tempPoints.size(), 100u);
  EXPECT_EQ(v.areaPoints[40], QPointF(40, 8192));
  EXPECT_EQ(v.areaPoints[100], QPointF(99, 0));
  EXPECT_EQ(v.tempPoints[40], QPointF(40, 155));
  EXPECT_EQ(v.tempPoints[0], QPointF(0, 45));
}

// The evaluation panel ---------------------------------------------------

EvalMembers members(int start, int length, double normFact, int cursor = 0) {
  EvalMembers m;
  m.evalStart = start;
  m.evalLength = length;
  m.normFact = normFact;
  m.cursorPos = cursor;
  return m;
}

QString value(const EvaluationView& v, EvalField f) { return v.values[f].text; }
QString hint(const EvaluationView& v, EvalField f) { return v.values[f].hint; }

TEST(EvaluationView, PeakRoiPercentagesAndCursor) {
  BlockRecord r = makeRecord();
  r.RawValues[6 + 10] = 5;
  r.RawValues[6 + 11] = 9;
  r.RawValues[6 + 12] = 9;
  r.ChannelTemps[11] = 1234;
  Decoded d(r);
  const EvaluationView v = MakeEvaluationView(r, d.values, members(10, 3, 10, 12));
  EXPECT_EQ(v.peakPos, 11);
  EXPECT_EQ(value(v, efPeakPos), "11");
  EXPECT_EQ(value(v, efPeakValue), "9");
  EXPECT_EQ(value(v, efPeakTemp), "123 'C");
  EXPECT_EQ(value(v, efRoi), "23.00");
  EXPECT_EQ(value(v, efStartPercent), "55.60 %");
  EXPECT_EQ(value(v, efStopPercent), "100.00 %");
  EXPECT_EQ(value(v, efCursorPos), "12");
  EXPECT_EQ(value(v, efCursorValue), "9 (100.00%)");
  EXPECT_EQ(value(v, efCursorTemp), QString::number((450 + 26 * 12) / 10) + " 'C");
  EXPECT_EQ(v.windowFromX, 11);
  EXPECT_EQ(v.windowToX, 13);
  EXPECT_EQ(value(v, efEvalStart), "10");
  EXPECT_EQ(value(v, efEvalLength), "3");
  EXPECT_EQ(value(v, efNormFact), "10.00");
}

TEST(EvaluationView, AllZeroWindowReadsBlanks) {
  BlockRecord r = makeRecord();
  Decoded d(r);
  const EvaluationView v = MakeEvaluationView(r, d.values, members(10, 3, 10, 50));
  EXPECT_EQ(v.peakPos, 10);
  EXPECT_EQ(value(v, efRoi), "0.00");
  EXPECT_EQ(value(v, efPeakValue), "0");
  EXPECT_EQ(value(v, efStartPercent), "   ");
  EXPECT_EQ(value(v, efStopPercent), "   ");
  EXPECT_EQ(value(v, efCursorValue), "   ");
  EXPECT_EQ(value(v, efCursorPos), "50");
}

TEST(EvaluationView, BackgroundDoseOf620MicroSievert) {
  BlockRecord r = makeRecord();
  r.RawValues[0] = 30;
  r.RawValues[1] = 30;
  r.RawValues[2] = 33;
  Decoded d(r);
  const EvaluationView v = MakeEvaluationView(r, d.values, members(10, 20, 10));
  EXPECT_EQ(value(v, efBgDose), "620 µSv");
  EXPECT_EQ(hint(v, efBgDose), "620 µSv");
}

TEST(EvaluationView, DoseChainTextsAndHints) {
  BlockRecord r = makeRecord();
  r.RawValues[0] = r.RawValues[1] = r.RawValues[2] = 100;
  for (int ch = 30; ch < 40; ++ch) r.RawValues[6 + ch] = 0x1400;  // 1024 * 32 = 32768
  r.ReaderTemp = 44;                                              // t = 2
  r.DTFA = 0.25f;
  r.DTFB = 0.5f;  // divides by 0.25*4 + 0.5*2 + 1 = 3
  r.DLFN = 1e9f;
  Decoded d(r);
  const EvaluationView v = MakeEvaluationView(r, d.values, members(30, 10, 1000));
  // ROI 327680 -> 3276.8 uSv; background 100*10/1000*10 = 10 uSv
  EXPECT_EQ(value(v, efRoi), "327680.00");
  EXPECT_EQ(value(v, efRoiDose), "3.28 mSv");
  EXPECT_EQ(hint(v, efRoiDose), "3277 µSv");
  EXPECT_EQ(value(v, efBgDose), "10.0 µSv");
  EXPECT_EQ(hint(v, efBgDose), "10 µSv");
  EXPECT_EQ(value(v, efBgCorrDose), "3.27 mSv");
  EXPECT_EQ(hint(v, efBgCorrDose), "3267 µSv");
  EXPECT_EQ(value(v, efTCorrDose), "1.09 mSv");
  EXPECT_EQ(hint(v, efTCorrDose), "1089 µSv");
  EXPECT_EQ(value(v, efMeasDose), "1.09 mSv");

  // Past the linearity threshold the dose is corrected once more.
  r.DLFN = 1000;
  r.DLFA = 2;
  r.DLFB = 0;
  const EvaluationView w = MakeEvaluationView(r, d.values, members(30, 10, 1000));
  EXPECT_EQ(value(w, efTCorrDose), "1.09 mSv");
  EXPECT_EQ(value(w, efMeasDose), "2.18 mSv");
}

TEST(EvaluationView, NormFactZeroLeavesNoEarlierDose) {
  BlockRecord r = makeRecord();
  r.RawValues[6 + 30] = 100;
  Decoded d(r);
  const EvaluationView v = MakeEvaluationView(r, d.values, members(30, 10, 0));
  EXPECT_EQ(value(v, efRoiDose), "ERR:NF=0");
  EXPECT_EQ(value(v, efMeasDose), "ERR:NF=0");
  for (EvalField f : {efBgDose, efBgCorrDose, efTCorrDose}) EXPECT_EQ(value(v, f), "") << f;
  for (EvalField f : {efRoiDose, efBgDose, efBgCorrDose, efTCorrDose, efMeasDose})
    EXPECT_EQ(hint(v, f), "") << f;
  EXPECT_EQ(value(v, efRoi), "100.00");
  EXPECT_EQ(value(v, efNormFact), "0.00");
}

TEST(EvaluationView, LargestValuesDoNotOverflowThePercentages) {
  BlockRecord r = makeRecord();
  r.RawValues[6 + 0] = 0x4FFF;
  r.RawValues[6 + 1] = 0x4FFF;
  Decoded d(r);
  const EvaluationView v = MakeEvaluationView(r, d.values, members(0, 2, 1, 1));
  EXPECT_EQ(value(v, efStartPercent), "100.00 %");
  EXPECT_EQ(value(v, efStopPercent), "100.00 %");
  EXPECT_EQ(value(v, efCursorValue), "1073479680 (100.00%)");
}

TEST(EvaluationView, WindowAtTheRightEdge) {
  BlockRecord r = makeRecord();
  r.RawValues[6 + 99] = 50;
  r.RawValues[6 + 60] = 100;
  Decoded d(r);
  const EvaluationView v = MakeEvaluationView(r, d.values, members(60, 40, 1));
  EXPECT_EQ(value(v, efStopPercent), "50.00 %");
  EXPECT_EQ(v.windowToX, 100);
}

TEST(EvaluationView, TheTemperatureCorrectionAddsNoRoundingOfItsOwn) {
  BlockRecord r = makeRecord();
  r.RawValues[6 + 30] = 1000;
  r.ReaderTemp = 131;  // t = 45.5
  r.DTFA = -0.0007f;
  r.DTFB = 0.0213f;
  Decoded d(r);
  // 10000 / NormFact / (DTFA t^2 + DTFB t + 1) = 1467.4999 uSv; a
  // single-precision denominator would make it 1467.50009 and show 1468.
  const EvaluationView v = MakeEvaluationView(r, d.values, members(30, 1, 13.105072957321303));
  EXPECT_EQ(hint(v, efTCorrDose), "1467 µSv");
  EXPECT_EQ(hint(v, efMeasDose), "1467 µSv");
}

}  // namespace
