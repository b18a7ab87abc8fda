// The dose chain solved for the normalisation factor: on generated blocks
// with every correction at work the chain gives the dose back, and each
// refusal is told with its reason.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "evaluation/DoseChain.h"
#include "sample-data/SampleData.h"

namespace {

constexpr NormFactMethod kMethods[] = {NormFactMethod::Auto, NormFactMethod::Bracketed};

double chainDose(const BlockRecord& r, double factor) {
  return EvaluateDose(r, r.EVASTART, r.EVALEN, factor).measDose;
}

// Linearity settings that make both pieces of the correction matter: a
// factor above and below 1, exponents of both signs. The limit is set at
// the block's own dose.
struct Linearity {
  float dlfa, dlfb;
};
constexpr Linearity kLinearities[] = {{1.0f, 0.08f}, {0.92f, 0.3f}, {1.12f, -0.15f}, {1.0f, 0.6f}};

TEST(NormFactSolve, TheChainGivesTheDoseBackOnGeneratedBlocks) {
  int solved = 0;
  for (const BlockRecord& sample : MakeSampleBlocks({400, 29, 0})) {
    BlockRecord r = sample;
    r.ReaderTemp = static_cast<int16_t>(20 + (r.BlockNumber * 7) % 80);  // 'C from -10 to 29.5
    r.DLFN = 1e30f;
    const double own = chainDose(r, r.EVANORM);
    for (const Linearity& lin : kLinearities) {
      r.DLFA = lin.dlfa;
      r.DLFB = lin.dlfb;
      r.DLFN = static_cast<float>(std::max(own, 1.0));
      // Below where the pieces meet and well above it.
      const double low = 0.6 * r.DLFN * std::min(1.0f, lin.dlfa);
      const double high = 3.0 * r.DLFN * std::max(1.0f, lin.dlfa);
      for (const double dose : {low, high}) {
        double previous = 0;
        for (const NormFactMethod method : kMethods) {
          SCOPED_TRACE(testing::Message() << "block " << int(r.BlockNumber) << " DLFN " << double(r.DLFN) << " dose "
                                          << dose << " method " << int(method));
          const NormFactSolution s = SolveNormFact(r, r.EVASTART, r.EVALEN, dose, method);
          if (s.refusal == NormFactRefusal::NoSignal) {
            EXPECT_LE(EvaluateDose(r, r.EVASTART, r.EVALEN, 1).bgCorrDose, 0);
            continue;
          }
          ASSERT_TRUE(s) << NormFactRefusalText(s.refusal).toStdString();
          EXPECT_NEAR(chainDose(r, s.normFact), dose, 1e-6 * dose);
          // As a table holds it.
          EXPECT_NEAR(chainDose(r, static_cast<float>(s.normFact)), dose, 1e-6 * dose);
          if (previous != 0) {
            EXPECT_NEAR(s.normFact, previous, 1e-9 * previous) << "both methods agree";
          }
          previous = s.normFact;
          ++solved;
        }
      }
    }
  }
  EXPECT_GT(solved, 6000);
}

TEST(NormFactSolve, RefusesWhereNoSingleFactorGivesTheDose) {
  const BlockRecord base = MakeSampleBlocks({1, 5, 0}).front();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::function<void(BlockRecord&)> change;
    double dose;
    NormFactRefusal refusal;
  };
  const auto linearity = [](float a, float b, float n) {
    return [=](BlockRecord& r) {
      r.DLFA = a;
      r.DLFB = b;
      r.DLFN = n;
    };
  };
  const Case cases[] = {
      {"no dose", [](BlockRecord&) {}, 0, NormFactRefusal::BadDose},
      {"negative dose", [](BlockRecord&) {}, -5, NormFactRefusal::BadDose},
      {"dose not a number", [](BlockRecord&) {}, nan, NormFactRefusal::BadDose},
      {"infinite dose", [](BlockRecord&) {}, std::numeric_limits<double>::infinity(),
       NormFactRefusal::BadDose},
      {"DTFA not a number", [](BlockRecord& r) { r.DTFA = std::numeric_limits<float>::quiet_NaN(); }, 100,
       NormFactRefusal::NotFinite},
      {"DLFB infinite", [](BlockRecord& r) { r.DLFB = std::numeric_limits<float>::infinity(); }, 100,
       NormFactRefusal::NotFinite},
      {"window at the background",
       [](BlockRecord& r) {
         for (int i = 0; i < kAuxValueCount + kChannelCount; ++i) r.RawValues[i] = 300;
       },
       100, NormFactRefusal::NoSignal},
      {"window below the background",
       [](BlockRecord& r) {
         for (int ch = 0; ch < kChannelCount; ++ch) r.RawValues[kAuxValueCount + ch] = 10;
       },
       100, NormFactRefusal::NoSignal},
      {"temperature divisor 0",
       [](BlockRecord& r) {
         r.ReaderTemp = 104;  // 32 'C
         r.DTFA = 0;
         r.DTFB = -1.0f / 32;
       },
       100, NormFactRefusal::NoTemperature},
      {"temperature divisor negative",
       [](BlockRecord& r) {
         r.ReaderTemp = 140;
         r.DTFA = -0.001f;
         r.DTFB = 0;
       },
       100, NormFactRefusal::NoTemperature},
      // DLFA 2 lifts the power piece to 200 at DLFN: 150 lies in the gap.
      {"dose in the gap between the pieces", linearity(2, 0, 100), 150, NormFactRefusal::Unreachable},
      // DLFA 0.5: 70 is 70 on the plain piece and 0.5 * 140 on the power piece.
      {"dose on both pieces", linearity(0.5f, 0, 100), 70, NormFactRefusal::Ambiguous},
      // Exponent -2: the power piece falls from 100 at DLFN towards 0.
      {"falling power piece, dose above it", linearity(1, -2, 100), 150, NormFactRefusal::Unreachable},
      {"falling power piece, dose on both", linearity(1, -2, 100), 60, NormFactRefusal::Ambiguous},
      {"negative linearity factor", linearity(-1, 0.1f, 100), 500, NormFactRefusal::Unreachable},
      {"limit 0 with an exponent", linearity(1, 0.1f, 0), 500, NormFactRefusal::Unreachable},
      {"factor above 100000", [](BlockRecord&) {}, 1e-7, NormFactRefusal::OutOfRange},
      {"factor below what a single holds", linearity(1, 0, 1e30f), 1e46, NormFactRefusal::OutOfRange},
      // What is left of the chain then is a plain factor: solved.
      {"limit 0 without exponent", linearity(1.25f, 0, 0), 500, NormFactRefusal::None},
      // No correction at all: the root is the factor the walks start from.
      {"limit 0, no linearity correction", linearity(1, 0, 0), 1000, NormFactRefusal::None},
      {"limit below 0, no linearity correction", linearity(1, 0, -5), 1000, NormFactRefusal::None},
      {"falling power piece, dose only on it", linearity(1, -0.5f, 100), 90, NormFactRefusal::None},
  };
  for (const Case& c : cases) {
    BlockRecord r = base;
    c.change(r);
    for (const NormFactMethod method : kMethods) {
      SCOPED_TRACE(testing::Message() << c.name << ", method " << int(method));
      const NormFactSolution s = SolveNormFact(r, r.EVASTART, r.EVALEN, c.dose, method);
      EXPECT_EQ(s.refusal, c.refusal) << NormFactRefusalText(s.refusal).toStdString();
      if (c.refusal == NormFactRefusal::None) {
        EXPECT_NEAR(chainDose(r, s.normFact), c.dose, 1e-6 * c.dose);
      } else {
        EXPECT_FALSE(NormFactRefusalText(s.refusal).isEmpty());
      }
    }
  }
}

}  // namespace
