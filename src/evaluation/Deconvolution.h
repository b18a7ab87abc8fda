#pragma once
// Glow-curve deconvolution: the curve as a sum of kinetic peaks (and, if
// asked, a background), fitted by non-linear least squares. An extra beside
// the dose evaluation, which it never touches: it shows how much of the
// signal lies in which peak, and so reveals a missing or shifted peak, a
// spurious hot signal, or the fading of the low-temperature peaks.
//
// Every peak is written with its maximum intensity Im at the peak
// temperature Tm and its activation energy E, x = E/kT (T-Tm)/Tm,
// D = 2kT/E, Dm = 2kTm/E, the temperature integral of exp(-E/kT) taken in
// its usual asymptotic form (kT^2/E) exp(-E/kT) (1-D):
//   first order (Randall-Wilkins):  I = Im exp(1 + x - (T/Tm)^2 e^x (1-D) - Dm)
//   general order b (1 < b <= 3):   I = Im b^(b/(b-1)) e^x [(b-1)(1-D)(T/Tm)^2 e^x + Zm]^(-b/(b-1)),
//                                   Zm = 1 + (b-1) Dm; second order is b = 2
//   mixed order: one trap and one recombination centre with retrapping, R
//     the ratio of the retrapping to the recombination probability (0 first
//     order, 1 second order). With w(z) the Wright omega function
//     (w + ln w = z, the Lambert W of e^z), z0 = R/(1-R) + ln(R/(1-R)) and
//     wm solving ln wm + wm = z0 + (1-Dm)(1+wm)^2/(1+2wm):
//       I = Im e^x (wm + wm^2) / (w + w^2),  w = w(z0 + (T/Tm)^2 e^x (1-D) (1+wm)^2/(1+2wm))
//   continuous: a Gaussian distribution of activation energies, mean E and
//     spread sigma, each energy a first-order peak with the frequency factor
//     of the mean's peak at Tm; Im is the sum's value at Tm.
// The general order is computed through log1p, which makes it tend to the
// first order smoothly as b approaches 1.
//
// Everything here is plain computation over copies: it runs on any thread,
// and a fit in progress can be cancelled between two solver iterations.

#include <QString>
#include <atomic>
#include <optional>
#include <vector>

#include "evaluation/GlowCurve.h"

namespace quelm {

inline constexpr double kBoltzmannEvPerKelvin = 8.617333262e-5;
// The automatic count tries 1..kMaxFitPeaks; a count given may be up to
// kMaxPeaks (reference curves of some materials are read as more peaks).
inline constexpr int kMaxFitPeaks = 8;
inline constexpr int kMaxPeaks = 12;
// Physical bounds the fitted parameters are kept within; Tm within the
// curve's temperatures widened by kTmBeyondCurve of their range either side
// (a curve may end on a peak's flank), and E above 6 kT of the curve's
// hottest point, where the peak expressions hold.
inline constexpr double kTmBeyondCurve = 0.1;
inline constexpr double kMinEnergyEv = 0.3;
inline constexpr double kMaxEnergyEv = 4.0;
inline constexpr double kMinOrder = 1.0;
inline constexpr double kMaxOrder = 3.0;
inline constexpr double kMinRetrapping = 1e-3;
inline constexpr double kMaxRetrapping = 0.999;
inline constexpr double kMinSpreadEv = 1e-3;
inline constexpr double kMaxSpreadEv = 0.3;
// Solver iterations of one start: a fit that needs more has lost its way.
inline constexpr int kMaxFitIterations = 200;
// Solver runs of one fit at the most (each of at most kMaxFitIterations).
inline constexpr int kMaxSolverRuns = 500;

enum class PeakModel { FirstOrder, SecondOrder, GeneralOrder, MixedOrder, Continuous };
inline constexpr PeakModel kPeakModels[] = {PeakModel::FirstOrder, PeakModel::SecondOrder,
                                            PeakModel::GeneralOrder, PeakModel::MixedOrder,
                                            PeakModel::Continuous};

struct KineticPeak {
  double im = 0;      // maximum intensity, signal units
  double energy = 0;  // activation energy E (the mean for continuous), eV
  double tm = 0;      // peak temperature, K
  double order = 1;   // kinetic order b; 1 first and 2 second order
  PeakModel model = PeakModel::GeneralOrder;
  double retrapping = 0;  // R of the mixed order
  double spread = 0;      // sigma of E, continuous, eV
};
double PeakValue(const KineticPeak& peak, double kelvin);
// At many temperatures: the peak's expression worked out once (a
// distribution's is costly).
std::vector<double> PeakValues(const KineticPeak& peak, const std::vector<double>& kelvin);
// The model's fourth parameter: b (general order), R (mixed), sigma
// (continuous); none for first and second order.
bool HasShapeParameter(PeakModel model);
double ShapeParameter(const KineticPeak& peak);
// The frequency factor s in 1/s at the heating rate (K/s) for which the peak
// has its maximum at Tm: s exp(-E/kTm) = beta E/(kTm^2) / (1 + (b-1) Dm) for
// the general orders (s' n0^(b-1)), and the mixed order's own relation.
// NaN without a heating rate.
double FrequencyFactor(const KineticPeak& peak, double heatingRate);

// offset + amplitude * exp((T - endKelvin) / scale): the dark counts and the
// glow of the heater rising towards the curve's hottest point.
struct ExpBackground {
  double amplitude = 0;
  double scale = 1;  // K
  double endKelvin = 0;
  double offset = 0;
};
double BackgroundValue(const ExpBackground& background, double kelvin);

struct DeconvolutionOptions {
  int peaks = 0;  // 1..kMaxPeaks; 0 = chosen by the information criterion
  PeakModel model = PeakModel::GeneralOrder;
  bool background = false;
  // One model per peak, by rising Tm of the starting peaks; sets the count.
  std::vector<PeakModel> peakModels = {};
  // Threads one fit may use; 0 = every core. Fits run side by side (a file's
  // blocks) take one each.
  int threads = 0;
  // When given, the fit starts from these peaks alone (their models and
  // count) instead of searching: to check a fit against known parameters.
  std::vector<KineticPeak> start = {};
};

struct FittedPeak {
  KineticPeak peak;
  KineticPeak error;     // standard errors in the same fields; NaN where not determined
  double area = 0;       // the peak summed over the points of the curve
  double share = 0;      // % of the summed areas of all peaks
  double frequency = 0;  // s, 1/s; NaN without the heating rate
  // Bits of kParamIm.. kParamShape: parameters held at a bound of their range.
  unsigned atBound = 0;
  // A parameter correlated above kUndeterminedCorrelation with another, or
  // with a standard error larger than its value.
  bool undetermined = false;
  bool beyondCurve = false;  // Tm outside the curve's temperatures
};
inline constexpr unsigned kParamIm = 1, kParamEnergy = 2, kParamTm = 4, kParamShape = 8;
inline constexpr double kUndeterminedCorrelation = 0.99;
inline constexpr unsigned kBackgroundOffset = 1, kBackgroundAmplitude = 2, kBackgroundScale = 4;

// The information criterion of each peak count tried (automatic count only).
struct CountCriterion {
  int peaks = 0;
  bool converged = false;
  double fom = 0;  // %
  double bic = 0;
};

enum class FitOutcome { Converged, NotConverged, NoSignal, TooFewPoints, Cancelled };

struct DeconvolutionResult {
  FitOutcome outcome = FitOutcome::NotConverged;
  QString reason;  // why no peaks are given; empty when converged
  DeconvolutionOptions options;
  int peakCount = 0;              // fitted, or the count tried last when none converged
  std::vector<FittedPeak> peaks;  // by rising Tm; only when converged
  std::optional<ExpBackground> background;
  ExpBackground backgroundError;   // standard errors; NaN where not determined
  unsigned backgroundAtBound = 0;  // bits of kBackgroundOffset.. at a bound other than zero
  double fom = 0;                  // sum |y - f| / sum f, %
  double r2 = 0;                   // 1 - RSS / TSS; NaN for a flat curve
  double reducedChiSquare = 0;     // sum (y - f)^2 / max(y, 1) / (n - p): counting statistics
  int pointsUsed = 0;
  int parameters = 0;
  int iterations = 0;                               // solver iterations over every start
  double heatingRate = 0;                           // K/s of the curve; 0 unknown
  std::optional<std::pair<double, double>> window;  // the evaluation window, K
  std::vector<CountCriterion> criteria;             // by rising count, with options.peaks 0
  // The count of the lowest criterion; peakCount differs from it only when
  // that fit did not converge and the next best is shown.
  int suggestedCount = 0;

  bool converged() const { return outcome == FitOutcome::Converged; }
  // The fitted curve: every peak and the background.
  double ValueAt(double kelvin) const;
  std::vector<double> ValuesAt(const std::vector<double>& kelvin) const;
  // The peak a dose rests on: the largest area among the peaks whose Tm lies
  // inside the evaluation window (all peaks without one); -1 for none.
  int DosimetricPeak() const;
};

// Fits the curve by least squares, never returning peaks from a fit that
// did not converge.
//
// For a given count the search is global: starts from the minima of the
// curve's smoothed second derivative (two smoothings, flatter and steeper
// peaks) raced, and a build-up peak by peak at the largest residual; then
// rounds of moves from the best fit so far (each peak dropped and put back
// where the curve stands highest above the rest; a peak added and the
// smallest dropped; the largest split; one or two peaks jittered with fixed
// seeds), made and run side by side on options.threads threads, until a
// round gains nothing. The best is taken in the moves' order: the result
// does not depend on the threads.
//
// With options.peaks 0 the counts 1..kMaxFitPeaks are fitted in turn, each
// from the derivative's peaks and from the fit of one count fewer with one
// peak more at the largest residual, weighted by counting statistics; the
// count with the lowest Bayesian information criterion n ln(chi2/n) + p ln n
// is fitted again by plain least squares. chi2 is taken no lower than that
// of residuals of kResolution * max y, below which a residual is rounding,
// so that a clean curve does not buy peaks with it; the counts stop when
// the criterion has risen on kCountsPastMinimum counts in a row.
inline constexpr double kResolution = 1e-4;
inline constexpr int kCountsPastMinimum = 1;
DeconvolutionResult Deconvolve(const GlowCurve& curve, const DeconvolutionOptions& options,
                               const std::atomic<bool>* cancel = nullptr);

// "first", "second", "general", "mixed", "continuous".
QString PeakModelName(PeakModel model);
std::optional<PeakModel> PeakModelByName(const QString& name);

}  // namespace quelm
