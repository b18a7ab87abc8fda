#pragma once
// The peak expressions of Deconvolution.h with their derivatives by the
// fitted parameters, for the solver. What depends on the peak alone is
// worked out once per peak, not once per point: the fit spends most of its
// time here.

#include <vector>

#include "evaluation/Deconvolution.h"

namespace quelm::shapes {

// A peak's value and its derivatives by Im, E, Tm and the shape parameter
// (b, R or sigma; 0 for first and second order).
struct PeakTerms {
  double value = 0;
  double d[4] = {0, 0, 0, 0};
};

class PeakShape {
 public:
  explicit PeakShape(const KineticPeak& peak);
  // ln(s/beta) of a continuous distribution: the frequency factor that puts
  // its maximum at Tm.
  double logFrequencyOverRate() const { return logS_; }
  // (1+wm)^2/(1+2wm) of a mixed-order peak, from its condition of the
  // maximum: s/beta (kTm^2/E) e^(-E/kTm) = (1-R) times it.
  double mixedMaximumFactor() const { return core_.cm; }
  // T, its logarithm and its inverse, which the caller keeps per point.
  PeakTerms at(double T, double logT, double invT, bool derivatives) const;

 private:
  PeakTerms general(double T, double logT, double invT, bool derivatives) const;
  PeakTerms mixed(double T, double logT, bool derivatives) const;
  PeakTerms continuous(double T, bool derivatives) const;

  KineticPeak p_;
  // General order, written as Im exp(L) with
  //   L = g(e) + x - h(e, s),  e = b - 1,  s = (1-D)(T/Tm)^2 e^x + Dm,
  //   g = (1+e)/e log1p(e),  h = (1+e)/e log1p(e s),
  // which is the first-order expression L = 1 + x - s at e = 0.
  double e_ = 0, logTm_ = 0, invTm_ = 0, eOverK_ = 0, twoKOverE_ = 0, deltaM_ = 0;
  double g_ = 1, hFactor_ = 1, gSlope_ = 0.5;
  // 1/E, Dm/E, dx/dTm, d(ln Q)/dTm and 1/e.
  double invE_ = 0, deltaMOverE_ = 0, xSlope_ = 0, tmSlope_ = 0, invE1_ = 0;
  // Mixed order: the logarithm of I/Im at the peak's parameters and, for
  // central differences, at each of E, Tm and R moved either way.
  struct MixedCore {
    MixedCore() = default;
    MixedCore(double energy, double tm, double retrapping);
    // *omega: a guess of w at T (0: none), and w there on return.
    double logValue(double T, double logT, double* omega) const;
    double z0 = 0, cm = 1, logNorm = 0, eOverK = 0, invTm = 0, logTm = 0, twoKOverE = 0;
  };
  MixedCore core_;
  MixedCore moved_[3][2];
  double step_[3] = {0, 0, 0};
  // Continuous: the energies of the distribution, their weights and the
  // logarithm of s/beta that puts the sum's maximum at Tm, with its
  // derivatives; the sum at Tm and its derivatives by E, sigma and Tm.
  std::vector<double> nodes_, weights_, energies_;
  double logS_ = 0, dLogSdE_ = 0, dLogSdTm_ = 0, dLogSdSigma_ = 0;
  double norm_ = 1, normE_ = 0, normSigma_ = 0, normTm_ = 0;
  struct Sums {
    double c = 0, cE = 0, cSigma = 0, cTm = 0, cT = 0;
  };
  Sums sums(double T, bool derivatives, bool byT) const;
  struct Slope {
    double value = 0, byLogS = 0;
  };
  Slope slope(double T, double logS, double mean, double sigma) const;
};

// w with w + ln w = z; guess: a value near it, or 0.
double wrightOmega(double z, double guess = 0);

}  // namespace quelm::shapes
