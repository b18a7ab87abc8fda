#include "evaluation/Deconvolution.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <numeric>

namespace quelm {

namespace {

constexpr double kB = kBoltzmannEvPerKelvin;

// --- Peak shapes and their derivatives ---------------------------------------

// A peak's value and its derivatives by Im, E, Tm and b.
struct PeakTerms {
  double value = 0, dIm = 0, dE = 0, dTm = 0, dB = 0;
};

// The general-order peak written as Im exp(L) with
//   L = g(e) + x - h(e, s),  e = b - 1,  s = (1-D)(T/Tm)^2 e^x + Dm,
//   g = (1+e)/e log1p(e),  h = (1+e)/e log1p(e s),
// which is the first-order expression L = 1 + x - s at e = 0. What depends
// on the peak alone is worked out once per peak, not once per point: the fit
// spends most of its time here.
class PeakShape {
 public:
  explicit PeakShape(const KineticPeak& p)
      : im_(p.im),
        E_(p.energy),
        e_(std::max(p.order - 1, 0.0)),
        logTm_(std::log(p.tm)),
        invTm_(1 / p.tm),
        eOverK_(p.energy / kB),
        twoKOverE_(2 * kB / p.energy),
        deltaM_(2 * kB * p.tm / p.energy) {
    if (e_ > 0) {
      g_ = (1 + e_) * std::log1p(e_) / e_;
      hFactor_ = (1 + e_) / e_;
      // (e - log1p e) / e^2, without the cancellation near 0.
      gSlope_ = e_ < 1e-4 ? 0.5 - e_ / 3 + e_ * e_ / 4 : (e_ - std::log1p(e_)) / (e_ * e_);
    }
  }

  // T and its logarithm, which the caller keeps per point.
  PeakTerms at(double T, double logT, bool derivatives) const {
    PeakTerms t;
    const double x = eOverK_ * (invTm_ - 1 / T);
    const double logQ = 2 * (logT - logTm_) + x;
    if (logQ > 600) return t;  // far past the peak: nothing of it is left
    const double delta = T * twoKOverE_;
    const double a = 1 - delta;  // above 0.3 for every temperature a curve may hold
    const double r = a * std::exp(logQ);
    const double s = r + deltaM_;
    double L, dhds, u = 0, logU = 0;
    if (e_ <= 0) {
      L = 1 + x - s;
      dhds = 1;
    } else {
      u = e_ * s;
      logU = std::log1p(u);
      L = g_ + x - hFactor_ * logU;
      dhds = (1 + e_) / (1 + u);
    }
    if (L < -700) return t;
    const double shape = std::exp(L);
    t.value = im_ * shape;
    if (!derivatives) return t;
    t.dIm = shape;
    const double dsdE = r * (delta / (E_ * a) + x / E_) - deltaM_ / E_;
    const double dsdTm = r * (-2 * invTm_ - eOverK_ * invTm_ * invTm_) + twoKOverE_;
    t.dE = t.value * (x / E_ - dhds * dsdE);
    t.dTm = t.value * (-eOverK_ * invTm_ * invTm_ - dhds * dsdTm);
    if (e_ > 0) {
      // dh/de = log1p(u)/e + (1+e)(u/(1+u) - log1p u)/e^2, in series for small u.
      const double dhde = std::fabs(u) < 1e-4 ? s * (1 - u / 2 + u * u / 3) +
                                                    (1 + e_) * s * s * (-0.5 + 2 * u / 3 - 0.75 * u * u)
                                              : logU / e_ + (1 + e_) * (u / (1 + u) - logU) / (e_ * e_);
      t.dB = t.value * (gSlope_ - dhde);
    }
    return t;
  }

 private:
  double im_, E_, e_, logTm_, invTm_, eOverK_, twoKOverE_, deltaM_;
  double g_ = 1, hFactor_ = 1, gSlope_ = 0.5;
};

// --- Parameters within bounds -------------------------------------------------
//
// The solver works on free parameters u; each physical parameter is the
// logistic image lo + (hi - lo) / (1 + e^-u) of its own, so that no step of
// the solver can leave the bounds, and the Jacobian carries the slope of the
// mapping.

struct Bound {
  double lo, hi;
};

double bounded(double u, Bound b, double* slope) {
  const double sg = 1 / (1 + std::exp(-u));
  *slope = (b.hi - b.lo) * sg * (1 - sg);
  // Where sg rounds to 1, lo + (hi - lo) can come out one step above hi.
  return std::clamp(b.lo + (b.hi - b.lo) * sg, b.lo, b.hi);
}

double freeOf(double v, Bound b) {
  // A start on a bound would sit where the mapping is flat.
  const double f = std::clamp((v - b.lo) / (b.hi - b.lo), 1e-3, 1 - 1e-3);
  return std::log(f / (1 - f));
}

struct Layout {
  int peaks = 1;
  bool general = true;
  bool background = false;
  int perPeak() const { return general ? 4 : 3; }
  int size() const { return peaks * perPeak() + (background ? 2 : 0); }
};

// The values of one start or solution: peaks in signal units scaled to the
// curve's largest value, and the background.
struct Params {
  std::vector<KineticPeak> peaks;
  ExpBackground background;
};

// --- The least-squares problem -------------------------------------------------

class Problem {
 public:
  Problem(const GlowCurve& curve, const Layout& layout, double yScale, const ExpBackground& backgroundFrame)
      : T_(curve.kelvin), layout_(layout), frame_(backgroundFrame) {
    for (double v : curve.signal) y_.push_back(v / yScale);
    for (double t : T_) logT_.push_back(std::log(t));
    const Bound im{0, 2}, energy{kMinEnergyEv, kMaxEnergyEv}, tm{T_.front(), T_.back()},
        order{kMinOrder, kMaxOrder};
    for (int k = 0; k < layout_.peaks; ++k) {
      bounds_.insert(bounds_.end(), {im, energy, tm});
      if (layout_.general) bounds_.push_back(order);
    }
    if (layout_.background) bounds_.insert(bounds_.end(), {Bound{0, 2}, Bound{5, 5000}});
  }

  size_t points() const { return T_.size(); }
  size_t size() const { return bounds_.size(); }
  const Layout& layout() const { return layout_; }
  const std::vector<double>& y() const { return y_; }
  const std::vector<double>& T() const { return T_; }

  void toFree(const Params& p, gsl_vector* u) const {
    size_t j = 0;
    for (const KineticPeak& k : p.peaks) {
      gsl_vector_set(u, j, freeOf(k.im, bounds_[j]));
      gsl_vector_set(u, j + 1, freeOf(k.energy, bounds_[j + 1]));
      gsl_vector_set(u, j + 2, freeOf(k.tm, bounds_[j + 2]));
      if (layout_.general) gsl_vector_set(u, j + 3, freeOf(k.order, bounds_[j + 3]));
      j += static_cast<size_t>(layout_.perPeak());
    }
    if (layout_.background) {
      gsl_vector_set(u, j, freeOf(p.background.amplitude, bounds_[j]));
      gsl_vector_set(u, j + 1, freeOf(p.background.scale, bounds_[j + 1]));
    }
  }

  Params fromFree(const gsl_vector* u, std::vector<double>* slopes = nullptr) const {
    std::vector<double> v(size()), s(size());
    for (size_t j = 0; j < size(); ++j) v[j] = bounded(gsl_vector_get(u, j), bounds_[j], &s[j]);
    Params p;
    p.background = frame_;
    size_t j = 0;
    for (int k = 0; k < layout_.peaks; ++k) {
      p.peaks.push_back({v[j], v[j + 1], v[j + 2], layout_.general ? v[j + 3] : 1.0});
      j += static_cast<size_t>(layout_.perPeak());
    }
    if (layout_.background) {
      p.background.amplitude = v[j];
      p.background.scale = v[j + 1];
    } else {
      p.background.amplitude = 0;
    }
    if (slopes) *slopes = std::move(s);
    return p;
  }

  // The solver asks for the Jacobian at the very point whose residual it
  // has just accepted. Each residual therefore computes the Jacobian rows
  // along with it (the derivatives cost little beside the exponentials both
  // need) and keeps them for that request.
  static int residual(const gsl_vector* u, void* self, gsl_vector* f) {
    auto& pb = *static_cast<Problem*>(self);
    return pb.evaluate(u, f);
  }

  static int jacobian(const gsl_vector* u, void* self, gsl_matrix* J) {
    auto& pb = *static_cast<Problem*>(self);
    if (!pb.cachedAt(u)) {
      const int rc = pb.evaluate(u, nullptr);
      if (rc != GSL_SUCCESS) return rc;
    }
    for (size_t i = 0; i < pb.points(); ++i)
      std::copy_n(pb.rows_.begin() + static_cast<std::ptrdiff_t>(i * pb.size()), pb.size(),
                  gsl_matrix_ptr(J, i, 0));
    return GSL_SUCCESS;
  }

 private:
  bool cachedAt(const gsl_vector* u) const {
    if (cachedU_.size() != size()) return false;
    for (size_t j = 0; j < size(); ++j)
      if (gsl_vector_get(u, j) != cachedU_[j]) return false;
    return true;
  }

  int evaluate(const gsl_vector* u, gsl_vector* f) {
    cachedU_.clear();
    std::vector<double> slope;
    const Params p = fromFree(u, &slope);
    const std::vector<PeakShape> shapes(p.peaks.begin(), p.peaks.end());
    const size_t per = static_cast<size_t>(layout_.perPeak());
    rows_.resize(points() * size());
    for (size_t i = 0; i < points(); ++i) {
      const double T = T_[i];
      double* row = rows_.data() + i * size();
      double m = 0;
      size_t j = 0;
      for (const PeakShape& k : shapes) {
        const PeakTerms t = k.at(T, logT_[i], true);
        m += t.value;
        row[j] = t.dIm * slope[j];
        row[j + 1] = t.dE * slope[j + 1];
        row[j + 2] = t.dTm * slope[j + 2];
        if (layout_.general) row[j + 3] = t.dB * slope[j + 3];
        j += per;
      }
      if (layout_.background) {
        const double unit = std::exp((T - p.background.endKelvin) / p.background.scale);
        const double b = p.background.amplitude * unit;
        m += b;
        row[j] = unit * slope[j];
        row[j + 1] =
            b * (p.background.endKelvin - T) / (p.background.scale * p.background.scale) * slope[j + 1];
      }
      const double r = m - y_[i];
      if (!std::isfinite(r)) return GSL_EDOM;
      for (size_t c = 0; c < size(); ++c)
        if (!std::isfinite(row[c])) return GSL_EDOM;
      if (f) gsl_vector_set(f, i, r);
    }
    for (size_t j = 0; j < size(); ++j) cachedU_.push_back(gsl_vector_get(u, j));
    return GSL_SUCCESS;
  }

 private:
  const std::vector<double>& T_;
  std::vector<double> logT_;
  std::vector<double> y_;
  Layout layout_;
  ExpBackground frame_;
  std::vector<Bound> bounds_;
  std::vector<double> cachedU_;  // where rows_ was computed; empty when it is stale
  std::vector<double> rows_;     // the Jacobian there, row by row
};

struct Solution {
  bool converged = false;
  bool cancelled = false;
  double rss = std::numeric_limits<double>::infinity();
  Params params;
};

// One start under way: Levenberg-Marquardt with a trust region, advanced a
// number of iterations at a time so that several starts can race.
class Run {
 public:
  enum State { Going, Converged, Failed };
  // Steps and gradient small enough to stop: coarse while starts and peak
  // counts are compared, fine for the fit that is kept.
  struct Tolerance {
    double step;
    double gradient;
  };
  static constexpr Tolerance kCoarse{1e-6, 1e-4};
  static constexpr Tolerance kFine{1e-8, 6e-6};

  Run(Problem& pb, const Params& start, Tolerance tolerance) : pb_(pb), tolerance_(tolerance) {
    static std::once_flag quiet;
    // GSL's default handler aborts the process; every status is checked here.
    std::call_once(quiet, [] { gsl_set_error_handler_off(); });
    gsl_multifit_nlinear_parameters params = gsl_multifit_nlinear_default_parameters();
    params.trs = gsl_multifit_nlinear_trs_lm;
    params.scale = gsl_multifit_nlinear_scale_more;
    // The normal equations are small (at most 34 parameters) and well scaled
    // by the bounded parameters; Cholesky solves them at a third of QR's cost.
    params.solver = gsl_multifit_nlinear_solver_cholesky;
    w_ = gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &params, pb.points(), pb.size());
    u_ = gsl_vector_alloc(pb.size());
    if (!w_ || !u_) return;
    pb.toFree(start, u_);
    fdf_.f = &Problem::residual;
    fdf_.df = &Problem::jacobian;
    fdf_.fvv = nullptr;
    fdf_.n = pb.points();
    fdf_.p = pb.size();
    fdf_.params = &pb;
    // The workspace keeps a pointer to fdf_: a Run never moves.
    if (gsl_multifit_nlinear_init(u_, &fdf_, w_) == GSL_SUCCESS) state_ = Going;
    updateCost();
  }
  ~Run() {
    if (w_) gsl_multifit_nlinear_free(w_);
    if (u_) gsl_vector_free(u_);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  State state() const { return state_; }
  double cost() const { return cost_; }
  int iterations() const { return iterations_; }

  // Iterates until converged, failed, `steps` more iterations or the
  // iteration limit; false when cancelled.
  bool advance(int steps, const std::atomic<bool>* cancel) {
    for (int i = 0; i < steps && state_ == Going; ++i) {
      if (iterations_ >= kMaxFitIterations) {
        state_ = Failed;
        break;
      }
      if (cancel && cancel->load(std::memory_order_relaxed)) return false;
      const int status = gsl_multifit_nlinear_iterate(w_);
      ++iterations_;
      int info = 0;
      if (status == GSL_ENOPROG)
        // No step lowers the cost any more: a minimum when the gradient is
        // small as well, a dead end otherwise.
        state_ = gsl_multifit_nlinear_test(1e-8, 6e-6, 0, &info, w_) == GSL_SUCCESS ? Converged : Failed;
      else if (status != GSL_SUCCESS)
        state_ = Failed;
      else if (gsl_multifit_nlinear_test(tolerance_.step, tolerance_.gradient, 0, &info, w_) == GSL_SUCCESS)
        state_ = Converged;
    }
    updateCost();
    return true;
  }

  Params params() const { return pb_.fromFree(gsl_multifit_nlinear_position(w_)); }

 private:
  void updateCost() {
    if (state_ == Failed) return;
    const gsl_vector* f = gsl_multifit_nlinear_residual(w_);
    double rss = 0;
    for (size_t i = 0; i < pb_.points(); ++i) rss += gsl_vector_get(f, i) * gsl_vector_get(f, i);
    cost_ = rss;
    if (!std::isfinite(rss)) state_ = Failed;
  }

  const Problem& pb_;
  Tolerance tolerance_;
  gsl_multifit_nlinear_workspace* w_ = nullptr;
  gsl_vector* u_ = nullptr;
  gsl_multifit_nlinear_fdf fdf_{};
  State state_ = Failed;
  double cost_ = std::numeric_limits<double>::infinity();
  int iterations_ = 0;
};

// Iterations every start makes before the starts are compared: the ones
// that by then stand above a minimum another start has reached are dropped.
constexpr int kRaceIterations = 10;

// --- Starting values from the curve ---------------------------------------------

struct Candidate {
  double kelvin;
  double height;
  double energy;
  double depth;  // of the second derivative's minimum: how clearly a peak
};

// Savitzky-Golay second derivative (quadratic, 2m+1 points) by point index;
// the heating is close enough to linear in time for the positions it finds.
std::vector<double> secondDerivative(const std::vector<double>& y, int m) {
  const int n = static_cast<int>(y.size());
  std::vector<double> d2(y.size(), 0.0);
  const double mm = m * (m + 1.0);
  double norm = 0;
  for (int i = -m; i <= m; ++i) norm += i * i * (3.0 * i * i - mm);
  const double K = 2 / norm;
  for (int c = m; c < n - m; ++c) {
    double sum = 0;
    for (int i = -m; i <= m; ++i) sum += K * (3.0 * i * i - mm) * y[static_cast<size_t>(c + i)];
    d2[static_cast<size_t>(c)] = sum;
  }
  return d2;
}

double interpolate(const std::vector<double>& T, double at) {
  const double clamped = std::clamp(at, 0.0, static_cast<double>(T.size() - 1));
  const auto i = static_cast<size_t>(std::floor(clamped));
  if (i + 1 >= T.size()) return T.back();
  return T[i] + (T[i + 1] - T[i]) * (clamped - static_cast<double>(i));
}

// Chen's peak-shape relation for the width at half maximum.
double energyOfWidth(double tm, double width) {
  const double e = 2.52 * kB * tm * tm / width - 2 * kB * tm;
  return std::clamp(std::isfinite(e) ? e : 1.2, 0.6, 2.8);
}

std::vector<Candidate> peakCandidates(const std::vector<double>& T, const std::vector<double>& y) {
  const int n = static_cast<int>(y.size());
  const int m = std::clamp(n / 30, 2, 10);
  std::vector<Candidate> out;
  if (n < 2 * m + 3) return out;
  const std::vector<double> d2 = secondDerivative(y, m);
  const auto at = [&](int i) { return d2[static_cast<size_t>(i)]; };
  for (int i = m + 1; i < n - m - 1; ++i) {
    if (!(at(i) < 0 && at(i) <= at(i - 1) && at(i) < at(i + 1))) continue;
    const double curvature = at(i - 1) - 2 * at(i) + at(i + 1);
    const double offset =
        curvature > 0 ? std::clamp(0.5 * (at(i - 1) - at(i + 1)) / curvature, -0.5, 0.5) : 0;
    const double tm = interpolate(T, i + offset);
    // The zero crossings of the second derivative lie near the inflection
    // points, one standard deviation either side of a bell-shaped peak.
    double left = -1, right = -1;
    int j = i;
    while (j > m && at(j - 1) < 0) --j;
    if (j > m) left = interpolate(T, (j - 1) + at(j - 1) / (at(j - 1) - at(j)));
    j = i;
    while (j < n - m - 1 && at(j + 1) < 0) ++j;
    if (j < n - m - 1) right = interpolate(T, j + at(j) / (at(j) - at(j + 1)));
    double half;  // half the distance between the inflection points
    if (left > 0 && right > 0)
      half = (right - left) / 2;
    else if (left > 0)
      half = tm - left;
    else if (right > 0)
      half = right - tm;
    else
      half = (T.back() - T.front()) / 8;
    const double width = 2.355 * std::max(half, 1e-3);
    out.push_back({tm, std::max(y[static_cast<size_t>(i)], 0.0), energyOfWidth(tm, width), -at(i)});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Candidate& a, const Candidate& b) { return a.depth > b.depth; });
  return out;
}

double modelAt(const Params& p, bool background, double T) {
  double v = background ? BackgroundValue(p.background, T) : 0;
  for (const KineticPeak& k : p.peaks) v += PeakValue(k, T);
  return v;
}

// One more peak where the curve stands highest above the peaks it already
// has (smoothed over five points), or in the widest gap between them when
// it stands above nowhere.
KineticPeak peakAtResidual(const Params& p, bool background, const std::vector<double>& T,
                           const std::vector<double>& y) {
  const size_t n = T.size();
  std::vector<double> r(n);
  for (size_t i = 0; i < n; ++i) r[i] = y[i] - modelAt(p, background, T[i]);
  size_t best = 0;
  double bestValue = -std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < n; ++i) {
    double sum = 0;
    int count = 0;
    for (size_t j = i >= 2 ? i - 2 : 0; j <= std::min(n - 1, i + 2); ++j, ++count) sum += r[j];
    if (sum / count > bestValue) {
      bestValue = sum / count;
      best = i;
    }
  }
  if (bestValue > 0) return {bestValue, 1.2, T[best], 1.5};
  std::vector<double> edges{T.front(), T.back()};
  for (const KineticPeak& k : p.peaks) edges.push_back(k.tm);
  std::sort(edges.begin(), edges.end());
  double gapAt = (T.front() + T.back()) / 2, gap = -1;
  for (size_t i = 0; i + 1 < edges.size(); ++i)
    if (edges[i + 1] - edges[i] > gap) {
      gap = edges[i + 1] - edges[i];
      gapAt = (edges[i] + edges[i + 1]) / 2;
    }
  return {0.05, 1.2, gapAt, 1.5};
}

// --- Results ---------------------------------------------------------------------

struct OutcomeText {
  FitOutcome outcome;
  const char* text;
};
constexpr OutcomeText kOutcomeTexts[] = {
    {FitOutcome::Converged, "converged"},
    {FitOutcome::NotConverged, "the fit did not converge"},
    {FitOutcome::NoSignal, "the curve holds no signal"},
    {FitOutcome::TooFewPoints, "too few points for the peaks asked"},
    {FitOutcome::Cancelled, "the fit was cancelled"},
};

QString outcomeText(FitOutcome outcome) {
  for (const OutcomeText& t : kOutcomeTexts)
    if (t.outcome == outcome) return QString::fromLatin1(t.text);
  return QString();
}

class Fitter {
 public:
  Fitter(const GlowCurve& curve, const DeconvolutionOptions& options, const std::atomic<bool>* cancel)
      : curve_(curve), options_(options), cancel_(cancel) {
    for (double v : curve.signal) yScale_ = std::max(yScale_, std::fabs(v));
    frame_.endKelvin = curve.kelvin.empty() ? 0 : curve.kelvin.back();
    frame_.scale = curve.kelvin.empty() ? 1 : std::max(curve.kelvin.back() - curve.kelvin.front(), 5.0);
    if (yScale_ > 0) {
      for (double v : curve.signal) y_.push_back(v / yScale_);
      // The background starts at the lowest signal of the hottest tenth.
      const size_t tail = std::max<size_t>(3, y_.size() / 10);
      double low = std::numeric_limits<double>::infinity();
      for (size_t i = y_.size() > tail ? y_.size() - tail : 0; i < y_.size(); ++i) low = std::min(low, y_[i]);
      frame_.amplitude = options.background ? std::clamp(low, 0.0, 1.0) : 0;
      std::vector<double> above(y_.size());
      for (size_t i = 0; i < y_.size(); ++i) above[i] = y_[i] - BackgroundValue(frame_, curve.kelvin[i]);
      candidates_ = peakCandidates(curve.kelvin, above);
    }
  }

  int parameters(int peaks) const {
    return Layout{peaks, options_.model == PeakModel::GeneralOrder, options_.background}.size();
  }

  // The starts for `peaks` peaks: the derivative's clearest minima (filled up
  // at the residual) as estimated; then, while the count is being chosen,
  // the best fit with one peak fewer plus one at its residual, and otherwise
  // the estimate once each with flatter and steeper peaks.
  std::vector<Params> starts(int peaks, const Params* fewer) const {
    Params base;
    base.background = frame_;
    for (size_t i = 0; i < candidates_.size() && static_cast<int>(base.peaks.size()) < peaks; ++i) {
      const Candidate& c = candidates_[i];
      base.peaks.push_back({std::min(c.height, 1.9), c.energy, c.kelvin, 1.5});
    }
    while (static_cast<int>(base.peaks.size()) < peaks)
      base.peaks.push_back(peakAtResidual(base, options_.background, curve_.kelvin, y_));
    std::vector<Params> out{base};
    if (fewer) {
      Params p = *fewer;
      p.peaks.push_back(peakAtResidual(p, options_.background, curve_.kelvin, y_));
      out.push_back(p);
      return out;
    }
    for (const auto& [energyFactor, order] : {std::pair{0.8, 1.2}, std::pair{1.25, 1.8}}) {
      Params p = base;
      for (KineticPeak& k : p.peaks) {
        k.energy *= energyFactor;
        k.order = order;
      }
      out.push_back(p);
    }
    return out;
  }

  Solution fit(int peaks, const Params* fewer) {
    const Layout layout{peaks, options_.model == PeakModel::GeneralOrder, options_.background};
    Problem pb(curve_, layout, yScale_, frame_);
    std::vector<std::unique_ptr<Run>> runs;
    for (const Params& start : starts(peaks, fewer))
      runs.push_back(std::make_unique<Run>(pb, start, Run::kCoarse));
    Solution best;
    const auto account = [&](Run& run) {
      if (run.state() == Run::Converged && (!best.converged || run.cost() < best.rss)) {
        best.converged = true;
        best.rss = run.cost();
        best.params = run.params();
      }
    };
    for (auto& run : runs) {
      if (!run->advance(kRaceIterations, cancel_)) return cancelled();
      account(*run);
    }
    // The cheapest first, so that a reached minimum drops the others soonest.
    std::stable_sort(runs.begin(), runs.end(),
                     [](const auto& a, const auto& b) { return a->cost() < b->cost(); });
    for (auto& run : runs) {
      if (run->state() != Run::Going || (best.converged && run->cost() >= best.rss)) continue;
      if (!run->advance(kMaxFitIterations, cancel_)) return cancelled();
      account(*run);
    }
    for (const auto& run : runs) iterations_ += run->iterations();
    return best;
  }

  // The kept fit carried on to the fine tolerance.
  Solution polish(const Solution& coarse, int peaks) {
    if (!coarse.converged) return coarse;
    const Layout layout{peaks, options_.model == PeakModel::GeneralOrder, options_.background};
    Problem pb(curve_, layout, yScale_, frame_);
    Run run(pb, coarse.params, Run::kFine);
    if (!run.advance(kMaxFitIterations, cancel_)) return cancelled();
    iterations_ += run.iterations();
    if (run.state() != Run::Converged || run.cost() > coarse.rss) return coarse;
    Solution s;
    s.converged = true;
    s.rss = run.cost();
    s.params = run.params();
    return s;
  }

  DeconvolutionResult run() {
    DeconvolutionResult r;
    r.options = options_;
    r.pointsUsed = static_cast<int>(curve_.kelvin.size());
    const int n = r.pointsUsed;
    if (!(yScale_ > 0) || *std::max_element(y_.begin(), y_.end()) <= 0)
      return failed(r, FitOutcome::NoSignal, QString());
    const int wanted = options_.peaks;
    if (wanted > 0) {
      r.peakCount = wanted;
      if (n <= parameters(wanted))
        return failed(r, FitOutcome::TooFewPoints,
                      QStringLiteral("%1 points cannot carry %2 peaks (%3 parameters)")
                          .arg(n)
                          .arg(wanted)
                          .arg(parameters(wanted)));
      return finish(r, polish(fit(wanted, nullptr), wanted), wanted);
    }

    if (n <= parameters(1))
      return failed(
          r, FitOutcome::TooFewPoints,
          QStringLiteral("%1 points cannot carry one peak (%2 parameters)").arg(n).arg(parameters(1)));
    Solution best;
    int bestCount = 0;
    for (int k = 1; k <= kMaxFitPeaks && n > parameters(k); ++k) {
      Solution s = fit(k, best.converged ? &best.params : nullptr);
      if (s.cancelled) return finish(r, s, k);
      r.peakCount = k;
      if (!best.converged) {
        if (!s.converged) continue;
        best = std::move(s);
        bestCount = k;
        continue;
      }
      if (!s.converged || !meaningfullyBetter(best, bestCount, s, k)) break;
      best = std::move(s);
      bestCount = k;
    }
    if (!best.converged) return finish(r, best, r.peakCount);
    return finish(r, polish(best, bestCount), bestCount);
  }

 private:
  static Solution cancelled() {
    Solution s;
    s.cancelled = true;
    return s;
  }

  DeconvolutionResult failed(DeconvolutionResult& r, FitOutcome outcome, const QString& detail) {
    r.outcome = outcome;
    r.reason = detail.isEmpty() ? outcomeText(outcome) : outcomeText(outcome) + QStringLiteral(": ") + detail;
    r.iterations = iterations_;
    r.peaks.clear();
    r.background.reset();
    return r;
  }

  double fomOf(const Params& p) const {
    double diff = 0, sum = 0;
    for (size_t i = 0; i < y_.size(); ++i) {
      const double f = modelAt(p, options_.background, curve_.kelvin[i]);
      diff += std::fabs(y_[i] - f);
      sum += f;
    }
    return sum > 0 ? diff / sum * 100 : std::numeric_limits<double>::infinity();
  }

  double bic(const Solution& s, int peaks) const {
    const double n = static_cast<double>(y_.size());
    return n * std::log(std::max(s.rss, 1e-300) / n) + parameters(peaks) * std::log(n);
  }

  bool meaningfullyBetter(const Solution& was, int wasCount, const Solution& now, int nowCount) const {
    const double before = fomOf(was.params), after = fomOf(now.params);
    const double gain = before - after;
    return gain >= before / 10 && gain >= kMinFomGain && bic(now, nowCount) < bic(was, wasCount);
  }

  DeconvolutionResult finish(DeconvolutionResult& r, const Solution& s, int count) {
    r.peakCount = count;
    if (s.cancelled) return failed(r, FitOutcome::Cancelled, QString());
    if (!s.converged)
      return failed(r, FitOutcome::NotConverged,
                    QStringLiteral("no start of %1 peak(s) reached a minimum within %2 iterations")
                        .arg(count)
                        .arg(kMaxFitIterations));
    const double fom = fomOf(s.params);
    if (!std::isfinite(fom))
      return failed(r, FitOutcome::NotConverged, QStringLiteral("the fitted curve holds no signal"));

    std::vector<FittedPeak> peaks;
    double total = 0;
    for (const KineticPeak& scaled : s.params.peaks) {
      FittedPeak fp;
      fp.peak = scaled;
      fp.peak.im = scaled.im * yScale_;
      for (double T : curve_.kelvin) fp.area += PeakValue(fp.peak, T);
      total += fp.area;
      peaks.push_back(fp);
    }
    for (FittedPeak& fp : peaks) fp.share = total > 0 ? fp.area / total * 100 : 0;
    std::sort(peaks.begin(), peaks.end(),
              [](const FittedPeak& a, const FittedPeak& b) { return a.peak.tm < b.peak.tm; });

    r.outcome = FitOutcome::Converged;
    r.reason.clear();
    r.peaks = std::move(peaks);
    if (options_.background) {
      ExpBackground b = s.params.background;
      b.amplitude *= yScale_;
      r.background = b;
    }
    r.fom = fom;
    const double mean = std::accumulate(y_.begin(), y_.end(), 0.0) / static_cast<double>(y_.size());
    double tss = 0;
    for (double v : y_) tss += (v - mean) * (v - mean);
    r.r2 = tss > 0 ? 1 - s.rss / tss : std::numeric_limits<double>::quiet_NaN();
    r.iterations = iterations_;
    return r;
  }

  const GlowCurve& curve_;
  DeconvolutionOptions options_;
  const std::atomic<bool>* cancel_;
  double yScale_ = 0;
  std::vector<double> y_;  // signal / yScale_
  ExpBackground frame_;
  std::vector<Candidate> candidates_;
  int iterations_ = 0;
};

}  // namespace

double PeakValue(const KineticPeak& peak, double kelvin) {
  return PeakShape(peak).at(kelvin, std::log(kelvin), false).value;
}

double BackgroundValue(const ExpBackground& b, double kelvin) {
  return b.amplitude * std::exp((kelvin - b.endKelvin) / b.scale);
}

double DeconvolutionResult::ValueAt(double kelvin) const {
  double v = background ? BackgroundValue(*background, kelvin) : 0;
  for (const FittedPeak& p : peaks) v += PeakValue(p.peak, kelvin);
  return v;
}

int DeconvolutionResult::DosimetricPeak() const {
  int best = -1;
  for (size_t i = 0; i < peaks.size(); ++i)
    if (best < 0 || peaks[i].area > peaks[static_cast<size_t>(best)].area) best = static_cast<int>(i);
  return best;
}

QString PeakModelName(PeakModel model) {
  return model == PeakModel::FirstOrder ? QStringLiteral("first") : QStringLiteral("general");
}

DeconvolutionResult Deconvolve(const GlowCurve& curve, const DeconvolutionOptions& options,
                               const std::atomic<bool>* cancel) {
  DeconvolutionOptions o = options;
  o.peaks = std::clamp(o.peaks, 0, kMaxFitPeaks);
  return Fitter(curve, o, cancel).run();
}

}  // namespace quelm
