#include <gtest/gtest.h>

#include <cstring>

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
