// The fit against curves made from known peaks: what it must recover, what
// it must refuse, and the automatic peak count.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "evaluation/Deconvolution.h"
#include "evaluation/GlowCurve.h"

namespace {

using quelm::DeconvolutionOptions;
using quelm::DeconvolutionResult;
using quelm::Deconvolve;
using quelm::ExpBackground;
using quelm::FitOutcome;
using quelm::GlowCurve;
using quelm::KineticPeak;
using quelm::PeakModel;

// Deterministic noise: splitmix64, Poisson by inversion for small means and
// by its normal limit for large ones.
class Noise {
 public:
  explicit Noise(uint64_t seed) : state_(seed) {}
  double uniform() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<double>((z ^ (z >> 31)) >> 11) * 0x1.0p-53;
  }
  double poisson(double mean) {
    if (mean > 50) {
      const double u1 = std::max(uniform(), 1e-300), u2 = uniform();
      return std::max(0.0, std::round(mean + std::sqrt(mean) * std::sqrt(-2 * std::log(u1)) *
                                                 std::cos(6.283185307179586 * u2)));
    }
    double k = 0, p = std::exp(-mean), sum = p;
    const double u = uniform();
    while (u > sum && k < 1000) sum += (p *= mean / ++k);
    return k;
  }

 private:
  uint64_t state_;
};

struct Synthetic {
  std::vector<KineticPeak> peaks = {};
  std::optional<ExpBackground> background = std::nullopt;
  uint64_t noiseSeed = 0;  // 0: noise-free
  int points = 100;
  double from = 300, to = 600;  // K
};

GlowCurve curveOf(const Synthetic& s) {
  GlowCurve c;
  Noise noise(s.noiseSeed);
  for (int i = 0; i < s.points; ++i) {
    const double T = s.from + (s.to - s.from) * i / (s.points - 1);
    double y = s.background ? quelm::BackgroundValue(*s.background, T) : 0;
    for (const KineticPeak& p : s.peaks) y += quelm::PeakValue(p, T);
    c.kelvin.push_back(T);
    c.signal.push_back(s.noiseSeed ? noise.poisson(y) : y);
    c.origin.push_back(i);
  }
  return c;
}

double areaOf(const KineticPeak& p, const GlowCurve& c) {
  double a = 0;
  for (double T : c.kelvin) a += quelm::PeakValue(p, T);
  return a;
}

// LiF-like positions: four overlapping peaks between 300 K and 600 K.
const std::vector<KineticPeak> kFourGeneral = {
    {30000, 1.05, 390, 1.3}, {60000, 1.25, 430, 1.6}, {150000, 1.55, 480, 1.2}, {40000, 1.8, 540, 1.5}};
const std::vector<KineticPeak> kFourGeneralHigh = {
    {300000, 1.05, 390, 1.3}, {600000, 1.25, 430, 1.6}, {1500000, 1.55, 480, 1.2}, {400000, 1.8, 540, 1.5}};
const std::vector<KineticPeak> kFourFirst = {
    {30000, 1.05, 390, 1}, {60000, 1.25, 430, 1}, {150000, 1.55, 480, 1}, {40000, 1.8, 540, 1}};

struct RecoveryCase {
  const char* name;
  Synthetic curve;
  DeconvolutionOptions options;
  double maxFom;  // %
};

TEST(Deconvolution, RecoversKnownPeaksWithinOnePercentAndAreasWithinTwo) {
  const ExpBackground rising{800, 40, 600};
  const RecoveryCase cases[] = {
      {"one first-order peak", {.peaks = {{10000, 1.2, 450, 1}}}, {1, PeakModel::FirstOrder, false}, 0.1},
      {"one general-order peak",
       {.peaks = {{10000, 1.0, 420, 1.5}}},
       {1, PeakModel::GeneralOrder, false},
       0.1},
      {"one second-order peak", {.peaks = {{5000, 2.2, 500, 2.0}}}, {1, PeakModel::GeneralOrder, false}, 0.1},
      {"two overlapping first-order peaks",
       {.peaks = {{20000, 1.1, 420, 1}, {15000, 1.4, 455, 1}}},
       {2, PeakModel::FirstOrder, false},
       0.1},
      {"four general-order peaks", {.peaks = kFourGeneral}, {4, PeakModel::GeneralOrder, false}, 0.1},
      {"four first-order peaks", {.peaks = kFourFirst}, {4, PeakModel::FirstOrder, false}, 0.1},
      {"four first-order peaks on a rising background",
       {.peaks = kFourFirst, .background = rising},
       {4, PeakModel::FirstOrder, true},
       0.1},
      // Counts of a high dose: at a tenth of them the noise itself leaves E of
      // overlapping general-order peaks uncertain by several per cent.
      {"four general-order peaks, Poisson noise",
       {.peaks = kFourGeneralHigh, .noiseSeed = 7},
       {4, PeakModel::GeneralOrder, false},
       1.0},
      {"four first-order peaks, background and Poisson noise",
       {.peaks = kFourFirst, .background = rising, .noiseSeed = 11},
       {4, PeakModel::FirstOrder, true},
       1.0},
  };
  for (const RecoveryCase& c : cases) {
    SCOPED_TRACE(c.name);
    const GlowCurve curve = curveOf(c.curve);
    const DeconvolutionResult r = Deconvolve(curve, c.options);
    ASSERT_TRUE(r.converged()) << r.reason.toStdString();
    ASSERT_EQ(r.peaks.size(), c.curve.peaks.size());
    EXPECT_LT(r.fom, c.maxFom);
    EXPECT_EQ(r.pointsUsed, c.curve.points);
    double shares = 0;
    for (size_t i = 0; i < r.peaks.size(); ++i) {
      const KineticPeak& want = c.curve.peaks[i];
      const quelm::FittedPeak& got = r.peaks[i];
      EXPECT_NEAR(got.peak.tm, want.tm, 0.01 * want.tm) << "peak " << i;
      EXPECT_NEAR(got.peak.energy, want.energy, 0.01 * want.energy) << "peak " << i;
      const double area = areaOf(want, curve);
      EXPECT_NEAR(got.area, area, 0.02 * area) << "peak " << i;
      shares += got.share;
    }
    EXPECT_NEAR(shares, 100, 1e-9);
  }
}

TEST(Deconvolution, ChoosesThePeakCountWhenAskedTo) {
  const struct {
    const char* name;
    Synthetic curve;
    PeakModel model;
    int count;
  } cases[] = {
      {"one peak", {.peaks = {{10000, 1.2, 450, 1}}}, PeakModel::FirstOrder, 1},
      {"four general-order peaks", {.peaks = kFourGeneral}, PeakModel::GeneralOrder, 4},
      {"four first-order peaks with noise", {.peaks = kFourFirst, .noiseSeed = 3}, PeakModel::FirstOrder, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DeconvolutionResult r = Deconvolve(curveOf(c.curve), {0, c.model, false});
    ASSERT_TRUE(r.converged()) << r.reason.toStdString();
    EXPECT_EQ(r.peakCount, c.count);
    EXPECT_EQ(static_cast<int>(r.peaks.size()), c.count);
    // The largest is the third peak in every curve of four.
    EXPECT_EQ(r.DosimetricPeak(), c.count == 4 ? 2 : 0);
  }
}

TEST(Deconvolution, AutoCountPicksTheGeneratingCountOnCleanCurves) {
  for (int count = 1; count <= 6; ++count) {
    Synthetic s{.points = 141, .from = 300, .to = 650};
    for (int i = 0; i < count; ++i)
      s.peaks.push_back({1e4 * (1 + i % 3), 1.0 + 0.15 * i, 360.0 + 45 * i, 1.2 + 0.1 * i});
    for (const bool background : {false, true}) {
      SCOPED_TRACE(testing::Message() << count << " peaks, background " << background);
      Synthetic c = s;
      if (background) c.background = ExpBackground{500, 30, 650, 200};
      const DeconvolutionResult r = Deconvolve(curveOf(c), {0, PeakModel::GeneralOrder, background});
      ASSERT_TRUE(r.converged()) << r.reason.toStdString();
      EXPECT_EQ(r.peakCount, count);
    }
  }
}

TEST(Deconvolution, GivesNoPeaksWhenItCannotFit) {
  GlowCurve flat = curveOf({.peaks = {{10000, 1.2, 450, 1}}});
  std::fill(flat.signal.begin(), flat.signal.end(), 0.0);
  GlowCurve few = curveOf({.peaks = {{10000, 1.2, 450, 1}}, .points = 8});
  std::atomic<bool> cancelled{true};
  const struct {
    const char* name;
    GlowCurve curve;
    DeconvolutionOptions options;
    const std::atomic<bool>* cancel;
    FitOutcome outcome;
  } cases[] = {
      {"no signal", flat, {}, nullptr, FitOutcome::NoSignal},
      {"no points", GlowCurve{}, {}, nullptr, FitOutcome::NoSignal},
      {"8 points for 2 general-order peaks",
       few,
       {2, PeakModel::GeneralOrder, false},
       nullptr,
       FitOutcome::TooFewPoints},
      {"cancelled",
       curveOf({.peaks = kFourFirst}),
       {4, PeakModel::FirstOrder, false},
       &cancelled,
       FitOutcome::Cancelled},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DeconvolutionResult r = Deconvolve(c.curve, c.options, c.cancel);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_FALSE(r.reason.isEmpty());
    EXPECT_TRUE(r.peaks.empty());
    EXPECT_FALSE(r.background);
  }
}

// At Tm every peak stands at Im, and the general order tends to the first as
// b approaches 1 (the log1p form must not lose it to rounding).
TEST(Deconvolution, PeakShapesMeetAtTheirMaximumAndInTheFirstOrderLimit) {
  for (const double b : {1.0, 1.0 + 1e-9, 1.3, 2.0}) {
    const KineticPeak p{5000, 1.3, 450, b};
    EXPECT_NEAR(quelm::PeakValue(p, 450), 5000, 1e-6) << b;
    EXPECT_LT(quelm::PeakValue(p, 449), 5000) << b;
    EXPECT_LT(quelm::PeakValue(p, 451), 5000) << b;
  }
  for (const double T : {380.0, 430.0, 470.0, 520.0})
    EXPECT_NEAR(quelm::PeakValue({5000, 1.3, 450, 1 + 1e-9}, T), quelm::PeakValue({5000, 1.3, 450, 1}, T),
                1e-5)
        << T;
}

}  // namespace
