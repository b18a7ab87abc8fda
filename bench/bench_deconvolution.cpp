// Timings of the glow-curve deconvolution against the line: analysis must
// never be what an operator waits for. Goals: "deconvolve FILE --all" over a
// full file of 2048 blocks with the peak count chosen (as by default)
// within a tenth of those blocks' wire time at 115200 baud, and one block's
// fit as the chart runs it within a fifth of one block's. Beside them the
// hard curves: each fit's FOM and time against a fit from the peaks that
// made the curve. Run on a machine doing nothing else:
//   build/bench/quelm_bench --benchmark_filter=Deconvol
#include <benchmark/benchmark.h>

#include <gsl/gsl_sf_expint.h>
#include <gsl/gsl_sf_lambert.h>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <vector>

#include "Cli.h"
#include "PacedReader.h"
#include "evaluation/Deconvolution.h"
#include "evaluation/DeconvolutionModel.h"
#include "evaluation/GlowCurve.h"
#include "sample-data/SampleData.h"

namespace {

constexpr uint32_t kBaud = 115200;

// The CPU time of this process (every thread of it): on a machine shared
// with other work it shows what the fits themselves cost, beside the wall
// time the goals are set on.
double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

static void BM_DeconvolveFullFile(benchmark::State& state) {
  const double blockWire = quelm::bench::BlockWireSeconds(kBaud);
  if (blockWire <= 0) return state.SkipWithError("no pseudo-terminal");
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("full.dat"));
  if (WriteSampleDataFile(file, {kBlocksInReader, 1, 0}) != 0) return state.SkipWithError("no data file");
  for (auto _ : state) {
    QString out, err;
    QTextStream o(&out), e(&err);
    quelm::cli::CliIO io{o, e, false, dir.filePath(QStringLiteral("quelm.INI"))};
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = processCpuSeconds();
    const int rc = quelm::cli::runCli({"deconvolve", file, "--all", "--csv"}, io);
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    std::printf("deconvolve --all: %.2f s wall, %.2f s CPU on %d cores, wire time %.2f s\n", seconds,
                processCpuSeconds() - cpu0, QThread::idealThreadCount(), kBlocksInReader * blockWire);
    if (rc != 0) return state.SkipWithError("the command failed");
    state.SetIterationTime(seconds);
    quelm::bench::ReportGoal(state,
                             "deconvolve --all over 2048 blocks against their wire time at 115200 baud",
                             seconds / (kBlocksInReader * blockWire), 0.1);
  }
}
BENCHMARK(BM_DeconvolveFullFile)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

// The chart's fit (count chosen, general order, background) per block, over
// sample blocks of every kind, on every core as the window runs it.
static void BM_DeconvolveChartFit(benchmark::State& state) {
  const double blockWire = quelm::bench::BlockWireSeconds(kBaud);
  if (blockWire <= 0) return state.SkipWithError("no pseudo-terminal");
  std::vector<quelm::GlowCurve> curves;
  for (const BlockRecord& r : MakeSampleBlocks({100, 7, 0})) curves.push_back(quelm::GlowCurveOfBlock(r));
  for (auto _ : state) {
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = processCpuSeconds();
    for (const quelm::GlowCurve& c : curves)
      benchmark::DoNotOptimize(quelm::Deconvolve(c, quelm::DeconvolutionModel::WindowOptions()));
    const double perBlock = 1.0 / static_cast<double>(curves.size());
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9 * perBlock;
    const double cpu = (processCpuSeconds() - cpu0) * perBlock;
    state.SetIterationTime(seconds);
    state.counters["cpu_ms"] = cpu * 1000;
    std::printf("one block's fit: %.2f ms wall, %.2f ms CPU (all threads), wire time %.2f ms\n",
                seconds * 1000, cpu * 1000, blockWire * 1000);
    quelm::bench::ReportGoal(state, "one block's fit in the chart against its wire time at 115200 baud",
                             seconds / blockWire, 0.2);
  }
}
BENCHMARK(BM_DeconvolveChartFit)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// --- Hard curves ---------------------------------------------------------------
//
// Curves made to catch a fit in a poor local minimum: close overlapping
// peaks, weak shoulders, a broad peak, few counts, a background, many peaks.
// They come from the rate equations themselves (the exponential integral
// exactly, not the fit's approximations), as a measured curve would.

namespace hard {

constexpr double kB = 8.617333262e-5;

enum class Kinetics { First, General, Retrapping, Distribution };

struct Trap {
  double height;  // of its maximum, counts
  double energy;  // eV (the mean for a distribution)
  double tm;      // nominal peak temperature, K
  Kinetics kind = Kinetics::First;
  double shape = 0;  // b, R or sigma (eV)
};

// Integral of exp(-E/kT') from 0 to T.
double integral(double E, double T) { return T * gsl_sf_expint_En(2, E / (kB * T)); }

// The unscaled glow curve of one trap at T (heating 1 K/s).
double glow(const Trap& t, double T) {
  const double s = t.energy / (kB * t.tm * t.tm) * std::exp(t.energy / (kB * t.tm));
  const double boltz = std::exp(-t.energy / (kB * T));
  switch (t.kind) {
    case Kinetics::First:
      return s * boltz * std::exp(-s * integral(t.energy, T));
    case Kinetics::General: {
      const double b = t.shape;
      return s * boltz * std::pow(1 + (b - 1) * s * integral(t.energy, T), -b / (b - 1));
    }
    case Kinetics::Retrapping: {
      const double R = t.shape;
      const double z = R / (1 - R) + std::log(R / (1 - R)) + s * integral(t.energy, T) / (1 - R);
      const double w = z < 600 ? gsl_sf_lambert_W0(std::exp(z)) : z - std::log(z);
      return boltz / (w + w * w);
    }
    case Kinetics::Distribution: {
      double sum = 0;
      for (int j = -40; j <= 40; ++j) {
        const double E = t.energy + t.shape * j / 10.0;
        sum += std::exp(-0.5 * (j / 10.0) * (j / 10.0)) * s * std::exp(-E / (kB * T)) *
               std::exp(-s * integral(E, T));
      }
      return sum;
    }
  }
  return 0;
}

// Deterministic detector noise.
using Noise = SplitMix64;

struct Curve {
  const char* name;
  std::vector<Trap> traps;
  double from, to, step;  // K
  double offset = 0;      // constant background, counts
  double rise = 0;        // exponential background at the end, counts (e-fold 40 K)
  uint64_t seed = 0;      // Poisson noise; 0 none
  quelm::PeakModel model = quelm::PeakModel::GeneralOrder;
  bool background = false;
};

quelm::GlowCurve make(const Curve& c) {
  std::vector<double> T;
  for (double t = c.from; t <= c.to + 1e-9; t += c.step) T.push_back(t);
  std::vector<double> y(T.size(), 0.0);
  for (const Trap& trap : c.traps) {
    std::vector<double> g(T.size());
    double peak = 0;
    for (size_t i = 0; i < T.size(); ++i) peak = std::max(peak, g[i] = glow(trap, T[i]));
    for (size_t i = 0; i < T.size(); ++i) y[i] += trap.height * g[i] / peak;
  }
  Noise noise(c.seed);
  quelm::GlowCurve curve;
  for (size_t i = 0; i < T.size(); ++i) {
    const double mean = y[i] + c.offset + c.rise * std::exp((T[i] - c.to) / 40);
    curve.kelvin.push_back(T[i]);
    curve.signal.push_back(c.seed ? noise.poisson(mean) : mean);
    curve.origin.push_back(static_cast<int>(i));
  }
  return curve;
}

using K = Kinetics;
using M = quelm::PeakModel;
// clang-format off
const Curve kCurves[] = {
    {"two close first-order peaks", {{10000, 1.25, 440}, {9000, 1.32, 452}},
     350, 550, 1, 0, 0, 3, M::FirstOrder},
    {"weak low shoulder", {{100000, 1.6, 480, K::General, 1.2}, {4000, 1.1, 445, K::General, 1.5}},
     380, 560, 1, 0, 0, 5},
    {"weak high shoulder", {{100000, 1.4, 450}, {3000, 1.8, 495}},
     370, 560, 1, 0, 0, 7},
    {"broad peak under a narrow one", {{20000, 1.0, 430, K::Distribution, 0.12}, {15000, 1.6, 470}},
     330, 580, 1, 0, 0, 11},
    {"five LiF-like peaks on a background",
     {{8000, 1.05, 380}, {15000, 1.25, 420}, {30000, 1.5, 470}, {60000, 2.0, 500}, {10000, 2.1, 560}},
     320, 620, 1, 300, 2000, 13, M::FirstOrder, true},
    {"three peaks at few counts",
     {{300, 1.2, 410, K::General, 1.4}, {200, 1.4, 450, K::General, 1.6}, {250, 1.5, 500, K::General, 1.3}},
     340, 580, 1, 0, 0, 17},
    {"retrapping peaks", {{50000, 1.3, 440, K::Retrapping, 0.3}, {40000, 1.5, 480, K::Retrapping, 0.8}},
     360, 580, 1, 0, 0, 19},
    {"eight peaks, some tiny",
     {{5000, 0.9, 350}, {500, 1.0, 385}, {20000, 1.2, 420}, {3000, 1.3, 455}, {40000, 1.6, 490},
      {800, 1.5, 525}, {15000, 2.0, 560}, {2000, 2.2, 610}},
     300, 660, 1, 0, 0, 23, M::FirstOrder},
    {"a tiny peak between two", {{50000, 1.3, 420}, {500, 1.4, 455}, {50000, 1.5, 490}},
     340, 570, 1, 0, 0, 29, M::FirstOrder},
    {"block-like: 100 channels, three peaks, flat background",
     {{4000, 1.1, 400, K::General, 1.3}, {9000, 1.3, 445, K::General, 1.5}, {2500, 1.7, 500, K::General, 1.2}},
     318.15, 575.55, 2.6, 200, 0, 31, M::GeneralOrder, true},
    {"two peaks two kelvin apart", {{10000, 1.4, 450}, {10000, 1.45, 456}},
     380, 540, 1, 0, 0, 37, M::FirstOrder},
    {"general-order pair, the smaller one in front",
     {{6000, 1.2, 430, K::General, 1.8}, {30000, 1.3, 447, K::General, 1.1}},
     360, 530, 1, 0, 0, 41},
    {"measured-like: broad peaks, noise, the heater's glow",
     {{3000, 0.95, 370, K::Distribution, 0.08}, {9000, 1.25, 415, K::Retrapping, 0.4},
      {25000, 1.45, 470, K::General, 1.3}, {6000, 1.7, 520, K::Distribution, 0.05}, {1500, 1.9, 580}},
     320, 640, 0.5, 150, 8000, 43, M::GeneralOrder, true},
    {"a peak a hundredth of its neighbour, 12 K below", {{200, 1.15, 428}, {20000, 1.3, 440}},
     360, 520, 1, 0, 0, 47, M::FirstOrder},
    {"two broad distributions", {{8000, 1.0, 400, K::Distribution, 0.1}, {6000, 1.3, 455, K::Distribution, 0.15}},
     320, 560, 1, 0, 0, 53, M::Continuous},
    {"retrapping peaks as mixed order",
     {{50000, 1.3, 440, K::Retrapping, 0.3}, {40000, 1.5, 480, K::Retrapping, 0.8}},
     360, 580, 1, 0, 0, 19, M::MixedOrder},
    {"second-order pair", {{20000, 1.2, 420, K::General, 2}, {15000, 1.4, 465, K::General, 2}},
     340, 560, 1, 0, 0, 59, M::SecondOrder},
    {"nine LiF-like peaks at 0.1 K steps",
     {{3000, 0.95, 345}, {8000, 1.05, 380}, {15000, 1.25, 420}, {4000, 1.3, 445}, {30000, 1.5, 470},
      {60000, 2.0, 500}, {5000, 1.9, 530}, {10000, 2.1, 560}, {2000, 2.2, 590}},
     310, 620, 0.1, 100, 500, 61, M::FirstOrder, true},
};
// clang-format on

}  // namespace hard

double sumOfSquares(const quelm::GlowCurve& c, const quelm::DeconvolutionResult& r) {
  double rss = 0;
  for (size_t i = 0; i < c.kelvin.size(); ++i) rss += std::pow(c.signal[i] - r.ValueAt(c.kelvin[i]), 2);
  return r.converged() ? rss : std::numeric_limits<double>::infinity();
}

// Each curve's fit, and beside it the fit started from the peaks that made
// the curve: a search that ends above that has stopped in a poor minimum.
static void BM_DeconvolveHardCurves(benchmark::State& state) {
  for (auto _ : state) {
    double total = 0;
    int poor = 0;
    for (const hard::Curve& c : hard::kCurves) {
      const quelm::GlowCurve curve = hard::make(c);
      quelm::DeconvolutionOptions options;
      options.peaks = static_cast<int>(c.traps.size());
      options.model = c.model;
      options.background = c.background;
      QElapsedTimer wall;
      wall.start();
      const quelm::DeconvolutionResult r = quelm::Deconvolve(curve, options);
      const double ms = static_cast<double>(wall.nsecsElapsed()) / 1e6;
      total += ms;
      for (const hard::Trap& t : c.traps) {
        quelm::KineticPeak p;
        p.model = c.model;
        p.im = t.height;
        p.energy = t.energy;
        p.tm = t.tm;
        p.order = c.model == quelm::PeakModel::GeneralOrder  ? 1.5
                  : c.model == quelm::PeakModel::SecondOrder ? 2
                                                             : 1;
        p.retrapping = 0.5;
        p.spread = 0.05;
        options.start.push_back(p);
      }
      const quelm::DeconvolutionResult known = quelm::Deconvolve(curve, options);
      const double ratio = sumOfSquares(curve, r) / sumOfSquares(curve, known);
      if (ratio > 1.001) ++poor;
      std::printf(
          "%-56s %3zu points %-7s %d peaks: FOM %6.3f %% (from the known peaks %6.3f %%, RSS x %.4f) %7.1f "
          "ms, %d iterations\n",
          c.name, curve.kelvin.size(), qPrintable(quelm::PeakModelName(c.model)),
          static_cast<int>(c.traps.size()), r.converged() ? r.fom : -1.0,
          known.converged() ? known.fom : -1.0, ratio, ms, r.iterations);
    }
    std::printf("poor minima: %d of %zu curves\n", poor, std::size(hard::kCurves));
    state.counters["poor"] = poor;
    state.SetIterationTime(total / 1000);
  }
}
BENCHMARK(BM_DeconvolveHardCurves)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace
