// The fit against curves made from known peaks: what it must recover, what
// it must refuse, and the automatic peak count.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "evaluation/Deconvolution.h"
#include "evaluation/DeconvolutionText.h"
#include "evaluation/GlowCurve.h"
#include "sample-data/SampleData.h"

namespace {

using quelm::DeconvolutionOptions;
using quelm::DeconvolutionResult;
using quelm::Deconvolve;
using quelm::ExpBackground;
using quelm::FitOutcome;
using quelm::GlowCurve;
using quelm::KineticPeak;
using quelm::PeakModel;

// Deterministic detector noise.
using Noise = SplitMix64;

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

KineticPeak mk(PeakModel model, double im, double energy, double tm, double shape) {
  KineticPeak p{im, energy, tm, 1, model};
  if (model == PeakModel::SecondOrder || model == PeakModel::GeneralOrder) p.order = shape;
  if (model == PeakModel::MixedOrder) p.retrapping = shape;
  if (model == PeakModel::Continuous) p.spread = shape;
  return p;
}

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
      {"two second-order peaks, Poisson noise",
       {.peaks = {mk(PeakModel::SecondOrder, 400000, 1.2, 420, 2),
                  mk(PeakModel::SecondOrder, 300000, 1.5, 470, 2)},
        .noiseSeed = 13},
       {2, PeakModel::SecondOrder, false},
       1.0},
      {"two mixed-order peaks, Poisson noise",
       {.peaks = {mk(PeakModel::MixedOrder, 400000, 1.2, 420, 0.2),
                  mk(PeakModel::MixedOrder, 300000, 1.5, 470, 0.7)},
        .noiseSeed = 17},
       {2, PeakModel::MixedOrder, false},
       1.0},
      {"two distributions of E, Poisson noise",
       {.peaks = {mk(PeakModel::Continuous, 4000000, 1.1, 400, 0.04),
                  mk(PeakModel::Continuous, 3000000, 1.5, 480, 0.06)},
        .noiseSeed = 19},
       {2, PeakModel::Continuous, false},
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
    const char* reason;
  } cases[] = {
      {"no signal", flat, {}, nullptr, FitOutcome::NoSignal, "the curve holds no signal"},
      // Every point left out: a count of points, not of signal.
      {"no points",
       GlowCurve{},
       {},
       nullptr,
       FitOutcome::TooFewPoints,
       "too few points for the peaks asked: 0 points cannot carry one peak (4 parameters)"},
      {"no points for 2 peaks given",
       GlowCurve{},
       {2, PeakModel::FirstOrder, false},
       nullptr,
       FitOutcome::TooFewPoints,
       "too few points for the peaks asked: 0 points cannot carry 2 peaks (6 parameters)"},
      {"8 points for 2 general-order peaks",
       few,
       {2, PeakModel::GeneralOrder, false},
       nullptr,
       FitOutcome::TooFewPoints,
       "too few points for the peaks asked: 8 points cannot carry 2 peaks (8 parameters)"},
      {"cancelled",
       curveOf({.peaks = kFourFirst}),
       {4, PeakModel::FirstOrder, false},
       &cancelled,
       FitOutcome::Cancelled,
       "the fit was cancelled"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DeconvolutionResult r = Deconvolve(c.curve, c.options, c.cancel);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.reason.toStdString(), c.reason);
    EXPECT_TRUE(r.peaks.empty());
    EXPECT_FALSE(r.background);
  }
}

// At Tm every peak stands at Im (and the distribution's sum near its top).
// The models meet in their limits: the general order at b = 1 and the mixed
// order at R = 0 are the first order, both at b = 2 and R = 1 the second; a
// distribution without spread is the first order too. The frequency factors
// follow (the log1p form and the Wright omega must not lose it to rounding).
TEST(Deconvolution, PeakShapesMeetAtTheirMaximumAndInTheirLimits) {
  const auto general = [](double b) { return mk(PeakModel::GeneralOrder, 5000, 1.3, 450, b); };
  for (const KineticPeak& p :
       {general(1), general(1 + 1e-9), general(1.3), general(3),
        mk(PeakModel::MixedOrder, 5000, 1.3, 450, 0.4), mk(PeakModel::Continuous, 5000, 1.3, 450, 0.1)}) {
    SCOPED_TRACE(quelm::PeakModelName(p.model).toStdString());
    EXPECT_NEAR(quelm::PeakValue(p, 450), 5000, 1e-6);
    EXPECT_LT(quelm::PeakValue(p, 449), 5000);
    EXPECT_LT(quelm::PeakValue(p, 451), 5000);
  }
  const KineticPeak first = mk(PeakModel::FirstOrder, 5000, 1.3, 450, 1);
  const KineticPeak second = mk(PeakModel::SecondOrder, 5000, 1.3, 450, 2);
  const struct {
    const char* name;
    KineticPeak peak, limit;
    double tolerance;  // relative
  } cases[] = {
      {"general b -> 1", general(1 + 1e-9), first, 1e-8},
      {"general b = 2", general(2), second, 1e-12},
      {"mixed R -> 0", mk(PeakModel::MixedOrder, 5000, 1.3, 450, 1e-7), first, 1e-5},
      {"mixed R -> 1", mk(PeakModel::MixedOrder, 5000, 1.3, 450, 1 - 1e-7), second, 1e-5},
      // The distribution's maximum lies at Tm exactly, the first order's
      // expression puts it there to some tenths of a per cent.
      {"no spread", mk(PeakModel::Continuous, 5000, 1.3, 450, 1e-6), first, 5e-3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const double T : {380.0, 430.0, 470.0, 520.0})
      EXPECT_NEAR(quelm::PeakValue(c.peak, T), quelm::PeakValue(c.limit, T), c.tolerance * 5000) << T;
    EXPECT_NEAR(quelm::FrequencyFactor(c.peak, 2), quelm::FrequencyFactor(c.limit, 2),
                std::max(10 * c.tolerance, 1e-6) * quelm::FrequencyFactor(c.limit, 2));
  }
  EXPECT_TRUE(std::isnan(quelm::FrequencyFactor(first, 0)));  // no heating rate, no s
}

double rssOf(const GlowCurve& c, const DeconvolutionResult& r) {
  double rss = 0;
  for (size_t i = 0; i < c.kelvin.size(); ++i) rss += std::pow(c.signal[i] - r.ValueAt(c.kelvin[i]), 2);
  return rss;
}

// Two first-order peaks 12 K apart: one start with a peak at the joint
// maximum and the other far out on the flank ends with the far peak
// vanished, a FOM of several per cent; the search must not.
TEST(Deconvolution, ACurveMadeToTrapASingleStartReachesTheGlobalMinimum) {
  const std::vector<KineticPeak> truth = {mk(PeakModel::FirstOrder, 10000, 1.25, 440, 1),
                                          mk(PeakModel::FirstOrder, 9000, 1.32, 452, 1)};
  const GlowCurve curve = curveOf({.peaks = truth, .noiseSeed = 3, .points = 101, .from = 380, .to = 520});
  DeconvolutionOptions options{2, PeakModel::FirstOrder, false};
  options.start = {mk(PeakModel::FirstOrder, 15000, 1.0, 446, 1),
                   mk(PeakModel::FirstOrder, 500, 1.2, 500, 1)};
  const DeconvolutionResult trapped = Deconvolve(curve, options);
  options.start = truth;
  const DeconvolutionResult known = Deconvolve(curve, options);
  options.start.clear();
  const DeconvolutionResult search = Deconvolve(curve, options);
  ASSERT_TRUE(trapped.converged() && known.converged() && search.converged());

  EXPECT_GT(rssOf(curve, trapped), 5 * rssOf(curve, known));  // the trap holds
  EXPECT_FALSE(quelm::FitWarnings(trapped).isEmpty());        // and is told
  EXPECT_LE(rssOf(curve, search), rssOf(curve, known) * (1 + 1e-6));
  EXPECT_LT(search.fom, 1.0);
}

// The moves' random numbers come from fixed seeds, and the best of a round
// is taken in the moves' order: the threads change nothing.
TEST(Deconvolution, TheFitIsTheSameOnAnyNumberOfThreads) {
  const GlowCurve curve = curveOf({.peaks = kFourGeneral, .noiseSeed = 5});
  DeconvolutionOptions options{4, PeakModel::GeneralOrder, true};
  options.threads = 1;
  const DeconvolutionResult one = Deconvolve(curve, options);
  options.threads = 3;
  const DeconvolutionResult three = Deconvolve(curve, options);
  ASSERT_TRUE(one.converged() && three.converged());
  EXPECT_EQ(one.fom, three.fom);
  for (size_t i = 0; i < one.peaks.size(); ++i) {
    EXPECT_EQ(one.peaks[i].peak.tm, three.peaks[i].peak.tm);
    EXPECT_EQ(one.peaks[i].peak.energy, three.peaks[i].peak.energy);
    EXPECT_EQ(one.peaks[i].error.energy, three.peaks[i].error.energy);
  }
}

// The standard errors fall as the counts rise (as their square root for
// Poisson noise), and the generating values lie within a few of them.
TEST(Deconvolution, StandardErrorsShrinkWithTheNoise) {
  const auto fit = [](double scale) {
    std::vector<KineticPeak> peaks = {mk(PeakModel::GeneralOrder, 1000, 1.1, 420, 1.4),
                                      mk(PeakModel::GeneralOrder, 700, 1.4, 465, 1.7)};
    for (KineticPeak& p : peaks) p.im *= scale;
    const Synthetic s{.peaks = peaks, .noiseSeed = 23};
    return std::pair{Deconvolve(curveOf(s), {2, PeakModel::GeneralOrder, false}), peaks};
  };
  const auto [low, truth] = fit(10);
  const auto [high, unused] = fit(1000);
  ASSERT_TRUE(low.converged() && high.converged());
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const quelm::FittedPeak& a = low.peaks[i];
    const quelm::FittedPeak& b = high.peaks[i];
    for (const auto& [lowError, highError] :
         {std::pair{a.error.tm, b.error.tm}, std::pair{a.error.energy, b.error.energy},
          std::pair{a.error.order, b.error.order}}) {
      EXPECT_GT(lowError, 0);
      EXPECT_LT(highError, lowError / 5);  // ten times fewer counts' relative noise
    }
    EXPECT_NEAR(a.peak.energy, truth[i].energy, 4 * a.error.energy);
    EXPECT_NEAR(a.peak.tm, truth[i].tm, 4 * a.error.tm);
    EXPECT_FALSE(a.undetermined);
  }
}

// A block's curve brings its heating rate (the channels are sampled at
// equal intervals) and its evaluation window; the dosimetric peak is the
// largest inside that window.
TEST(Deconvolution, TheDosimetricPeakIsTheLargestInsideTheEvaluationWindow) {
  const BlockRecord block = MakeSampleBlocks({1, 3, 0}).front();
  const GlowCurve curve = quelm::GlowCurveOfBlock(block);
  const double seconds = (curve.origin.back() - curve.origin.front()) * block.SamplingSpeed * 0.01;
  EXPECT_NEAR(curve.heatingRate, (curve.kelvin.back() - curve.kelvin.front()) / seconds, 1e-9);
  ASSERT_TRUE(curve.window);
  EXPECT_EQ(curve.window->first, block.ChannelTemps[block.EVASTART] / 10.0 + quelm::kKelvinAtZeroCelsius);
  EXPECT_EQ(curve.window->second,
            block.ChannelTemps[block.EVASTART + block.EVALEN - 1] / 10.0 + quelm::kKelvinAtZeroCelsius);

  const struct {
    std::optional<std::pair<double, double>> window;
    int dosimetric;
  } cases[] = {{std::nullopt, 2}, {std::pair{400.0, 460.0}, 1}, {std::pair{300.0, 320.0}, -1}};
  for (const auto& c : cases) {
    DeconvolutionResult r;
    r.window = c.window;
    for (const auto& [tm, area] : {std::pair{390.0, 10.0}, std::pair{450.0, 20.0}, std::pair{500.0, 30.0}}) {
      quelm::FittedPeak p;
      p.peak.tm = tm;
      p.area = area;
      r.peaks.push_back(p);
    }
    EXPECT_EQ(r.DosimetricPeak(), c.dosimetric);
  }
}

}  // namespace

TEST(Deconvolution, ACsvRowKeepsItsColumnsAndNoFormula) {
  // A curve file's name is the row's label: a carriage return must not end
  // the row, a leading '=' must not reach a spreadsheet as a formula.
  DeconvolutionResult none;
  none.reason = QStringLiteral("-no signal");
  const QString row = quelm::DeconvolutionCsvRow(QStringLiteral("=x\r.csv"), none);
  EXPECT_TRUE(row.startsWith(QStringLiteral("\"'=x\r.csv\",no,"))) << row.toStdString();
  EXPECT_TRUE(row.contains(QStringLiteral(",\"'-no signal\","))) << row.toStdString();
}
