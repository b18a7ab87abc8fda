#include "evaluation/DeconvolutionShapes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quelm::shapes {

namespace {

constexpr double kB = kBoltzmannEvPerKelvin;

// The continuous model's energies: equal steps of the standard normal
// variable over +-4, no coarser than kSpreadStep in E, so that the sum of
// first-order peaks is smooth (a first-order peak spans some 2.5 kTm in the
// energies whose peaks it overlaps).
constexpr double kSpreadStep = 0.02;  // eV
constexpr int kMinNodes = 9;
constexpr int kMaxNodes = 61;

}  // namespace

double wrightOmega(double z, double guess) {
  if (z < -30) return std::exp(z);  // w = e^z (1 - e^z + ...): the rest is below rounding
  // A start within a factor of two unless a close one is given, then the
  // fourth-order step of Fritsch, Shafer and Crowley for w + ln w = z.
  double w = guess > 0 ? guess : z > 1 ? z - std::log(z) : 2 * std::exp(z) / (1 + std::exp(z));
  for (int i = 0; i < 20; ++i) {
    const double r = z - w - std::log(w);
    if (std::fabs(r) <= 1e-15 * std::max(1.0, std::fabs(z))) break;
    const double a = (1 + w) * (1 + w + 2 * r / 3);
    const double next = w * (1 + r / (1 + w) * (a - r / 2) / (a - r));
    if (!(next > 0)) break;
    w = next;
  }
  return w;
}

// --- Mixed order -------------------------------------------------------------------

PeakShape::MixedCore::MixedCore(double energy, double tm, double retrapping)
    : eOverK(energy / kB), invTm(1 / tm), logTm(std::log(tm)), twoKOverE(2 * kB / energy) {
  const double R = std::clamp(retrapping, 1e-12, 1 - 1e-12);
  z0 = R / (1 - R) + std::log(R / (1 - R));
  const double a = 1 - 2 * kB * tm / energy;  // 1 - Dm
  // wm from ln wm + wm = z0 + a (1+wm)^2/(1+2wm), by Newton's method on
  // v = ln wm, bracketed: the left side minus the right rises with v.
  const auto excess = [&](double v) {
    const double w = std::exp(v);
    return v + w - z0 - a * (1 + w) * (1 + w) / (1 + 2 * w);
  };
  double v = std::log(wrightOmega(z0 + a, 0));
  double lo = v, hi = v;
  while (excess(lo) > 0) lo -= 2;
  while (excess(hi) < 0) hi += 2;
  for (int i = 0; i < 60; ++i) {
    const double w = std::exp(v);
    const double f = v + w - z0 - a * (1 + w) * (1 + w) / (1 + 2 * w);
    if (f > 0)
      hi = v;
    else
      lo = v;
    const double slope = 1 + w - a * 2 * w * w * (1 + w) / ((1 + 2 * w) * (1 + 2 * w));
    double next = v - f / slope;
    if (!(next > lo && next < hi)) next = (lo + hi) / 2;
    const bool done = std::fabs(next - v) < 1e-14 * std::max(1.0, std::fabs(v));
    v = next;
    if (done) break;
  }
  const double wm = std::exp(v);
  cm = (1 + wm) * (1 + wm) / (1 + 2 * wm);
  // ln(wm + wm^2) = ln wm + log1p(wm)
  logNorm = v + std::log1p(wm);
}

double PeakShape::MixedCore::logValue(double T, double logT, double* omega) const {
  const double x = eOverK * (invTm - 1 / T);
  const double logQ = 2 * (logT - logTm) + x;
  if (logQ > 700) return -std::numeric_limits<double>::infinity();
  const double z = z0 + (1 - T * twoKOverE) * std::exp(logQ) * cm;
  const double w = wrightOmega(z, *omega);
  *omega = w;
  // ln(w + w^2) with ln w = z - w.
  return x + logNorm - (z - w) - std::log1p(w);
}

// --- The peak ------------------------------------------------------------------------

PeakShape::PeakShape(const KineticPeak& p)
    : p_(p),
      logTm_(std::log(p.tm)),
      invTm_(1 / p.tm),
      eOverK_(p.energy / kB),
      twoKOverE_(2 * kB / p.energy),
      deltaM_(2 * kB * p.tm / p.energy) {
  switch (p.model) {
    case PeakModel::FirstOrder:
      e_ = 0;
      break;
    case PeakModel::SecondOrder:
      e_ = 1;
      break;
    case PeakModel::GeneralOrder:
      e_ = std::max(p.order - 1, 0.0);
      break;
    case PeakModel::MixedOrder: {
      core_ = MixedCore(p.energy, p.tm, p.retrapping);
      step_[0] = 1e-6 * p.energy;
      step_[1] = 1e-6 * p.tm;
      // R near its ends moves z0 fast: the step shrinks with the distance.
      step_[2] = 1e-6 * std::min(p.retrapping, 1 - p.retrapping);
      for (int side = 0; side < 2; ++side) {
        const double sign = side == 0 ? 1 : -1;
        moved_[0][side] = MixedCore(p.energy + sign * step_[0], p.tm, p.retrapping);
        moved_[1][side] = MixedCore(p.energy, p.tm + sign * step_[1], p.retrapping);
        moved_[2][side] = MixedCore(p.energy, p.tm, p.retrapping + sign * step_[2]);
      }
      return;
    }
    case PeakModel::Continuous: {
      const double sigma = std::max(p.spread, 0.0);
      const int half =
          std::clamp(static_cast<int>(std::ceil(4 * sigma / kSpreadStep)), kMinNodes / 2, kMaxNodes / 2);
      for (int j = -half; j <= half; ++j) {
        const double xi = 4.0 * j / half;
        const double E = p.energy + sigma * xi;
        // Energies below half the mean carry weight only for a spread no
        // glow peak shows; below it the expressions would not hold.
        if (E < p.energy / 2) continue;
        nodes_.push_back(xi);
        weights_.push_back(std::exp(-0.5 * xi * xi));
        energies_.push_back(E);
      }
      // s/beta such that the sum has its maximum at Tm, by Newton's method
      // from the mean energy's own; its derivatives by E, sigma and Tm
      // from the condition, dH/dtheta + dH/d(ln s) d(ln s)/dtheta = 0.
      double logS = std::log(p.energy / (kB * p.tm * p.tm)) + p.energy / (kB * p.tm);
      for (int i = 0; i < 50; ++i) {
        const Slope at = slope(p.tm, logS, p.energy, sigma);
        if (!(at.byLogS < 0)) break;
        const double step = std::clamp(at.value / at.byLogS, -1.0, 1.0);
        logS -= step;
        if (std::fabs(step) < 1e-13) break;
      }
      logS_ = logS;
      const double byLogS = slope(p.tm, logS, p.energy, sigma).byLogS;
      const auto moved = [&](double dE, double dSigma, double dTm, double h) {
        const double up = slope(p.tm + dTm, logS, p.energy + dE, sigma + dSigma).value;
        const double down = slope(p.tm - dTm, logS, p.energy - dE, sigma - dSigma).value;
        return -(up - down) / (2 * h) / byLogS;
      };
      const double hE = 1e-6 * p.energy, hSigma = 1e-6, hTm = 1e-6 * p.tm;
      dLogSdE_ = moved(hE, 0, 0, hE);
      dLogSdSigma_ = moved(0, hSigma, 0, hSigma);
      dLogSdTm_ = moved(0, 0, hTm, hTm);
      const Sums at = sums(p.tm, true, true);
      norm_ = at.c;
      normE_ = at.cE;
      normSigma_ = at.cSigma;
      normTm_ = at.cTm + at.cT;
      return;
    }
  }
  invE_ = 1 / p.energy;
  deltaMOverE_ = deltaM_ / p.energy;
  xSlope_ = -eOverK_ * invTm_ * invTm_;
  tmSlope_ = -2 * invTm_ + xSlope_;
  if (e_ > 0) {
    invE1_ = 1 / e_;
    g_ = (1 + e_) * std::log1p(e_) / e_;
    hFactor_ = (1 + e_) / e_;
    // (e - log1p e) / e^2, without the cancellation near 0.
    gSlope_ = e_ < 1e-4 ? 0.5 - e_ / 3 + e_ * e_ / 4 : (e_ - std::log1p(e_)) / (e_ * e_);
  }
}

PeakTerms PeakShape::at(double T, double logT, double invT, bool derivatives) const {
  switch (p_.model) {
    case PeakModel::MixedOrder:
      return mixed(T, logT, derivatives);
    case PeakModel::Continuous:
      return continuous(T, derivatives);
    default:
      return general(T, logT, invT, derivatives);
  }
}

PeakTerms PeakShape::general(double T, double logT, double invT, bool derivatives) const {
  PeakTerms t;
  const double x = eOverK_ * (invTm_ - invT);
  const double logQ = 2 * (logT - logTm_) + x;
  if (logQ > 600) return t;  // far past the peak: nothing of it is left
  const double delta = T * twoKOverE_;
  const double a = 1 - delta;  // above 2/3 for every temperature the fit allows
  const double r = a * std::exp(logQ);
  const double s = r + deltaM_;
  double L, dhds, u = 0, logU = 0, inv1u = 1;
  if (e_ <= 0) {
    L = 1 + x - s;
    dhds = 1;
  } else {
    u = e_ * s;
    // log1p costs twice log; where u is not small, log(1 + u) loses nothing
    // that matters.
    logU = u < 1e-3 ? std::log1p(u) : std::log(1 + u);
    L = g_ + x - hFactor_ * logU;
    inv1u = 1 / (1 + u);
    dhds = (1 + e_) * inv1u;
  }
  if (L < -700) return t;
  const double shape = std::exp(L);
  t.value = p_.im * shape;
  if (!derivatives) return t;
  t.d[0] = shape;
  const double dsdE = r * invE_ * (delta / a + x) - deltaMOverE_;
  const double dsdTm = r * tmSlope_ + twoKOverE_;
  t.d[1] = t.value * (x * invE_ - dhds * dsdE);
  t.d[2] = t.value * (xSlope_ - dhds * dsdTm);
  if (p_.model == PeakModel::GeneralOrder) {
    // dh/de = log1p(u)/e + (1+e)(u/(1+u) - log1p u)/e^2, in series for small u.
    const double dhde = std::fabs(u) < 1e-4 ? s * (1 - u / 2 + u * u / 3) +
                                                  (1 + e_) * s * s * (-0.5 + 2 * u / 3 - 0.75 * u * u)
                                            : logU * invE1_ + (1 + e_) * (u * inv1u - logU) * invE1_ * invE1_;
    t.d[3] = t.value * (gSlope_ - dhde);
  }
  return t;
}

PeakTerms PeakShape::mixed(double T, double logT, bool derivatives) const {
  PeakTerms t;
  double omega = 0;
  const double L = core_.logValue(T, logT, &omega);
  if (!(L > -700)) return t;
  t.value = p_.im * std::exp(L);
  if (!derivatives) return t;
  t.d[0] = std::exp(L);
  // The moved peaks' omega lies next to the peak's own: a step or two.
  for (int k = 0; k < 3; ++k) {
    double upOmega = omega, downOmega = omega;
    const double up = moved_[k][0].logValue(T, logT, &upOmega),
                 down = moved_[k][1].logValue(T, logT, &downOmega);
    if (std::isfinite(up) && std::isfinite(down)) t.d[k + 1] = t.value * (up - down) / (2 * step_[k]);
  }
  // The order of the slots: Im, E, Tm, R.
  return t;
}

// The energies lie at equal steps, so exp(-E/kT) runs as a geometric
// series from node to node: one exponential a point for all of them.
// exp(-E/kT) is then the factor of both the node's rate and its g(T).

PeakShape::Slope PeakShape::slope(double T, double logS, double mean, double sigma) const {
  // H = sum of w c_j d(ln c_j)/dT, which is zero at the maximum.
  Slope out;
  if (nodes_.empty()) return out;
  const double kT = kB * T, invKT = 1 / kT;
  const double S = std::exp(logS);
  const double step = nodes_.size() > 1 ? std::exp(-sigma * (nodes_[1] - nodes_[0]) * invKT) : 1;
  double boltzmann = std::exp(-(mean + sigma * nodes_[0]) * invKT);
  for (size_t j = 0; j < nodes_.size(); ++j, boltzmann *= step) {
    const double E = mean + sigma * nodes_[j];
    const double D = 1 - 2 * kT / E;
    if (!(D > 0)) continue;
    const double u = S * kT * T / E * D * boltzmann;
    const double c = weights_[j] * S * boltzmann * std::exp(-u);
    const double a = 2 / T - (2 * kB / E) / D + E * invKT / T;
    const double q = E * invKT / T - u * a;
    out.value += c * q;
    out.byLogS += c * ((1 - u) * q - u * a);
  }
  return out;
}

PeakShape::Sums PeakShape::sums(double T, bool derivatives, bool byT) const {
  Sums out;
  if (energies_.empty()) return out;
  const double kT = kB * T, invKT = 1 / kT;
  const double S = std::exp(logS_);
  const double step = energies_.size() > 1 ? std::exp(-(energies_[1] - energies_[0]) * invKT) : 1;
  double boltzmann = std::exp(-energies_[0] * invKT);
  for (size_t j = 0; j < energies_.size(); ++j, boltzmann *= step) {
    const double E = energies_[j];
    const double D = 1 - 2 * kT / E;
    const double u = S * kT * T / E * D * boltzmann;
    const double c = weights_[j] * S * boltzmann * std::exp(-u);
    if (!(c > 0)) continue;
    out.c += c;
    if (!derivatives) continue;
    // d ln c / dE_j at a fixed s, and d ln c / d ln s.
    const double byEnergy = -invKT - u * (-1 / E + (2 * kT / (E * E)) / D - invKT);
    const double byLogS = 1 - u;
    out.cE += c * (byLogS * dLogSdE_ + byEnergy);
    out.cSigma += c * (byLogS * dLogSdSigma_ + byEnergy * nodes_[j]);
    out.cTm += c * byLogS * dLogSdTm_;
    if (byT) out.cT += c * (E * invKT / T - u * (2 / T - (2 * kB / E) / D + E * invKT / T));
  }
  return out;
}

PeakTerms PeakShape::continuous(double T, bool derivatives) const {
  PeakTerms t;
  if (!(norm_ > 0)) return t;
  const Sums s = sums(T, derivatives, false);
  if (!(s.c > 0)) return t;
  const double shape = s.c / norm_;
  t.value = p_.im * shape;
  if (!derivatives) return t;
  t.d[0] = shape;
  t.d[1] = t.value * (s.cE / s.c - normE_ / norm_);
  t.d[2] = t.value * (s.cTm / s.c - normTm_ / norm_);
  t.d[3] = t.value * (s.cSigma / s.c - normSigma_ / norm_);
  return t;
}

}  // namespace quelm::shapes
