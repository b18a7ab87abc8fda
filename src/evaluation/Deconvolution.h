#pragma once
// Glow-curve deconvolution: the curve as a sum of kinetic peaks (and, if
// asked, a background), fitted by non-linear least squares. An extra beside
// the dose evaluation, which it never touches: it shows how much of the
// signal lies in which peak, and so reveals a missing or shifted peak, a
// spurious hot signal, or the fading of the low-temperature peaks.
//
// Peak shapes are the analytical approximations of Kitis, Gomez-Ros and Tuyn
// (1998) with the maximum intensity Im at the peak temperature Tm, the
// activation energy E and, for general order, the kinetic order b:
//   first order:   I = Im exp(1 + x - (T/Tm)^2 e^x (1-D) - Dm)
//   general order: I = Im b^(b/(b-1)) e^x [(b-1)(1-D)(T/Tm)^2 e^x + Zm]^(-b/(b-1))
// with x = E/kT (T-Tm)/Tm, D = 2kT/E, Dm = 2kTm/E, Zm = 1 + (b-1)Dm. The
// general order is computed through log1p, which makes it tend to the first
// order smoothly as b approaches 1.
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
inline constexpr int kMaxFitPeaks = 8;
// Physical bounds the fitted parameters are kept within; Tm stays inside the
// curve's temperatures.
inline constexpr double kMinEnergyEv = 0.5;
inline constexpr double kMaxEnergyEv = 3.0;
inline constexpr double kMinOrder = 1.0;
inline constexpr double kMaxOrder = 2.0;
// Solver iterations of one start: a fit that needs more has lost its way.
inline constexpr int kMaxFitIterations = 200;

enum class PeakModel { FirstOrder, GeneralOrder };

struct DeconvolutionOptions {
  int peaks = 0;  // 1..kMaxFitPeaks; 0 = chosen by the rule in Deconvolve
  PeakModel model = PeakModel::GeneralOrder;
  bool background = false;  // an exponential rising with temperature
};

struct KineticPeak {
  double im = 0;      // maximum intensity, signal units
  double energy = 0;  // activation energy E, eV
  double tm = 0;      // peak temperature, K
  double order = 1;   // kinetic order b; 1 is first order
};
double PeakValue(const KineticPeak& peak, double kelvin);

// amplitude * exp((T - endKelvin) / scale): the amplitude is the background
// at the curve's hottest point.
struct ExpBackground {
  double amplitude = 0;
  double scale = 1;  // K
  double endKelvin = 0;
};
double BackgroundValue(const ExpBackground& background, double kelvin);

struct FittedPeak {
  KineticPeak peak;
  double area = 0;   // the peak summed over the points of the curve
  double share = 0;  // % of the summed areas of all peaks
};

enum class FitOutcome { Converged, NotConverged, NoSignal, TooFewPoints, Cancelled };

struct DeconvolutionResult {
  FitOutcome outcome = FitOutcome::NotConverged;
  QString reason;  // why no peaks are given; empty when converged
  DeconvolutionOptions options;
  int peakCount = 0;              // fitted, or the count tried last when none converged
  std::vector<FittedPeak> peaks;  // by rising Tm; only when converged
  std::optional<ExpBackground> background;
  double fom = 0;  // sum |y - f| / sum f, %
  double r2 = 0;   // 1 - RSS / TSS; NaN for a flat curve
  int pointsUsed = 0;
  int iterations = 0;  // solver iterations over every start

  bool converged() const { return outcome == FitOutcome::Converged; }
  // The fitted curve: every peak and the background.
  double ValueAt(double kelvin) const;
  // The peak with the largest area, the one a dose rests on; -1 without peaks.
  int DosimetricPeak() const;
};

// Fits the curve. Starting values come from the curve itself: peak positions
// from the minima of its Savitzky-Golay second derivative, E from the width
// between the derivative's zero crossings; several starts are fitted and the
// best kept. Never returns peaks from a fit that did not converge.
//
// With options.peaks 0 the count is chosen: one peak more is kept only while
// it lowers the FOM by at least a tenth of its value and by at least
// kMinFomGain percentage points, and lowers the Bayesian information
// criterion n ln(RSS/n) + p ln n; the first count for which the next one
// fails that (or does not converge) is the result.
inline constexpr double kMinFomGain = 0.05;
DeconvolutionResult Deconvolve(const GlowCurve& curve, const DeconvolutionOptions& options,
                               const std::atomic<bool>* cancel = nullptr);

// "first" / "general".
QString PeakModelName(PeakModel model);

}  // namespace quelm
