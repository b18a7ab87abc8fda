#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "QStringPrinter.h"
#include "evaluation/BlockView.h"
#include "evaluation/DoseChain.h"
#include "measurement/RangeCode.h"

namespace {

BlockRecord blank() {
  BlockRecord r;
  std::memset(&r, 0, sizeof r);
  r.ReaderTemp = 40;  // 20 'C: no temperature correction
  r.DLFA = 1;
  r.DLFN = 1e9f;
  return r;
}

TEST(DoseChain, BackgroundDoseFromTheAuxiliaryMean) {
  BlockRecord r = blank();
  r.RawValues[0] = 30;
  r.RawValues[1] = 30;
  r.RawValues[2] = 33;
  const DoseEvaluation e = EvaluateDose(r, 10, 20, 10.0);
  EXPECT_DOUBLE_EQ(e.bgMean, 31.0);
  EXPECT_DOUBLE_EQ(e.bgDose, 620.0);
}

TEST(DoseChain, RoiAndPeakOverTheWindowOnly) {
  BlockRecord r = blank();
  r.RawValues[6 + 10] = 5;
  r.RawValues[6 + 11] = 9;
  r.RawValues[6 + 12] = 9;
  r.RawValues[6 + 13] = 1000;  // outside the window
  DoseEvaluation e = EvaluateDose(r, 10, 3, 1.0);
  EXPECT_EQ(e.peakPos, 11);
  EXPECT_DOUBLE_EQ(e.roi, 23.0);
  EXPECT_DOUBLE_EQ(e.roiDose, 230.0);

  BlockRecord z = blank();
  e = EvaluateDose(z, 10, 3, 1.0);
  EXPECT_EQ(e.peakPos, 10);
  EXPECT_DOUBLE_EQ(e.roi, 0.0);
}

TEST(DoseChain, WindowChannelsAreRangeDecoded) {
  BlockRecord r = blank();
  r.RawValues[6 + 0] = 0x1ABC;
  r.RawValues[6 + 1] = 0x5003;  // invalid range: bare mantissa counts
  const DoseEvaluation e = EvaluateDose(r, 0, 2, 1.0);
  EXPECT_DOUBLE_EQ(e.roi, 87936.0 + 3.0);
}

TEST(DoseChain, NeverReadsOutsideTheChannels) {
  BlockRecord r = blank();
  for (int i = 0; i < kRawValueCount; ++i) r.RawValues[i] = 1;
  EXPECT_DOUBLE_EQ(EvaluateDose(r, 90, 40, 1.0).roi, 10.0);
  EXPECT_DOUBLE_EQ(EvaluateDose(r, -5, 10, 1.0).roi, 5.0);
}

TEST(DoseChain, NormFactZeroComputesNoDoses) {
  BlockRecord r = blank();
  r.RawValues[6] = 100;
  const DoseEvaluation e = EvaluateDose(r, 0, 1, 0.0);
  EXPECT_TRUE(e.normFactZero);
  EXPECT_DOUBLE_EQ(e.roi, 100.0);
}

// A factor that is no factor, or a chain that gives no number a single
// holds, is no dose anywhere: not 0, not infinity, not one of the wrong sign.
TEST(DoseChain, NoUsableFactorOrNoFiniteChainGivesNoDose) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr float nan = std::numeric_limits<float>::quiet_NaN();
  BlockRecord base = blank();
  base.EVASTART = 10;
  base.EVALEN = 5;
  base.EVANORM = 2;
  for (int ch = 10; ch < 15; ++ch) base.RawValues[6 + ch] = 500;
  const struct {
    const char* what;
    float evanorm, dtfa, dtfb;
    int16_t readerTemp;
    uint16_t background, channel;
    const char* measDose;  // the panel's text; nullptr: a dose of its own
  } cases[] = {
      {"EVANORM -inf", float(-inf), 0, 0, 40, 0, 500, "ERR:NF=0"},
      {"EVANORM NaN", nan, 0, 0, 40, 0, 500, "ERR:NF=0"},
      {"EVANORM subnormal", 1e-45f, 0, 0, 40, 0, 500, "ERR:NF=0"},
      {"EVANORM -5", -5, 0, 0, 40, 0, 500, "ERR:NF=0"},
      {"DTFA NaN", 2, nan, 0, 40, 0, 500, "ERR:NOT FINITE"},
      {"temperature divisor 0", 2, 0, -0.5f, 44, 0, 500, "ERR:NOT FINITE"},  // t = 2
      {"beyond a single", 1.2e-38f, 0, 0, 40, 0, 0x4FFF, "ERR:NOT FINITE"},
      {"background above the signal", 2, 0, 0, 40, 900, 500, nullptr},
      {"ordinary", 2, 0, 0, 40, 0, 500, nullptr},
  };
  for (const auto& c : cases) {
    BlockRecord r = base;
    r.EVANORM = c.evanorm;
    r.DTFA = c.dtfa;
    r.DTFB = c.dtfb;
    r.ReaderTemp = c.readerTemp;
    r.RawValues[0] = r.RawValues[1] = r.RawValues[2] = c.background;
    for (int ch = 10; ch < 15; ++ch) r.RawValues[6 + ch] = c.channel;
    uint32_t values[kRawValueCount] = {}, ranges[kRawValueCount] = {};
    DecodeBlockValues(r, values, ranges);
    const quelm::EvaluationView v = quelm::MakeEvaluationView(r, values, InitialEvalMembers(r, values));
    const QString shown = v.values[quelm::efMeasDose].text;
    const std::optional<double> dose = BlockDose(r);
    if (c.measDose) {
      EXPECT_EQ(dose, std::nullopt) << c.what;
      EXPECT_EQ(shown, QString::fromLatin1(c.measDose)) << c.what;
    } else {
      ASSERT_TRUE(dose) << c.what;
      EXPECT_EQ(*dose, v.dose.measDose) << c.what;  // negative with the background, as it comes
      const bool backgroundAbove = c.background > c.channel;
      EXPECT_EQ(*dose < 0, backgroundAbove) << c.what;
    }
  }
}

TEST(DoseChain, Corrections) {
  BlockRecord r = blank();
  r.DTFA = 0.5f;
  r.DTFB = 0.25f;
  EXPECT_FLOAT_EQ(CorrectionTemperature(r), 0.0f);
  EXPECT_DOUBLE_EQ(TempCorrect(r, 123.0), 123.0);  // 20 'C divides by 1
  r.ReaderTemp = 44;                               // t = 2
  EXPECT_DOUBLE_EQ(TempCorrect(r, 100.0), 100.0 / (0.5 * 4 + 0.25 * 2 + 1));

  // Only t is a single: the polynomial of single coefficients is evaluated
  // in double (a single-precision one is off by 1.3e-7 here, 0.25 uSv).
  r.ReaderTemp = 131;  // t = 45.5
  r.DTFA = -0.0007f;
  r.DTFB = 0.0213f;
  EXPECT_NEAR(TempCorrect(r, 1e6), 1923169.3254361714, 1e-6);

  r.DLFA = 1.5f;
  r.DLFB = 0.5f;
  r.DLFN = 400.0f;
  EXPECT_DOUBLE_EQ(LinearityCorrect(r, 399.0), 399.0);
  EXPECT_DOUBLE_EQ(LinearityCorrect(r, 400.0), 600.0);  // at the threshold: times DLFA
  EXPECT_DOUBLE_EQ(LinearityCorrect(r, 1600.0), 1600.0 * 1.5 * 2.0);
}

}  // namespace
