#include "evaluation/Deconvolution.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_multifit.h>
#include <gsl/gsl_multilarge_nlinear.h>
#include <gsl/gsl_vector.h>

#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>

#include "base/SplitMix64.h"
#include "evaluation/DeconvolutionShapes.h"

namespace quelm {

namespace {

using shapes::PeakShape;
using shapes::PeakTerms;

constexpr double kB = kBoltzmannEvPerKelvin;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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

// Where a fitted parameter counts as held by its bound: within this share of
// its range.
constexpr double kAtBound = 1e-4;

int slotsOf(PeakModel m) { return HasShapeParameter(m) ? 4 : 3; }

double& shapeOf(KineticPeak& p) {
  switch (p.model) {
    case PeakModel::MixedOrder:
      return p.retrapping;
    case PeakModel::Continuous:
      return p.spread;
    default:
      return p.order;
  }
}

Bound shapeBound(PeakModel m) {
  switch (m) {
    case PeakModel::MixedOrder:
      return {kMinRetrapping, kMaxRetrapping};
    case PeakModel::Continuous:
      return {kMinSpreadEv, kMaxSpreadEv};
    default:
      return {kMinOrder, kMaxOrder};
  }
}

// The shape parameter a start takes.
double startShape(PeakModel m) {
  switch (m) {
    case PeakModel::MixedOrder:
      return 0.5;
    case PeakModel::Continuous:
      return 0.05;
    case PeakModel::SecondOrder:
      return 2;
    case PeakModel::GeneralOrder:
      return 1.5;
    case PeakModel::FirstOrder:
      break;
  }
  return 1;
}

KineticPeak makePeak(PeakModel model, double im, double energy, double tm) {
  KineticPeak p;
  p.model = model;
  p.im = im;
  p.energy = energy;
  p.tm = tm;
  p.order = model == PeakModel::SecondOrder ? 2 : 1;
  if (HasShapeParameter(model)) shapeOf(p) = startShape(model);
  return p;
}

// The values of one start or solution: peaks (each with its model) in
// signal units scaled to the curve's largest value, and the background.
struct Params {
  std::vector<KineticPeak> peaks;
  ExpBackground background;
};

// The background's parameters: offset, amplitude (both scaled) and scale.
// The heater's glow rises by e in some 10 to 50 K; a flatter rise would be
// the offset again, and the two would trade against each other without end.
constexpr Bound kOffsetBound{0, 1}, kAmplitudeBound{0, 2}, kScaleBound{5, 100};
constexpr int kBackgroundSlots = 3;

// Tm may lie a little beyond the curve's ends: a curve that ends (or
// starts) on a peak's flank.
Bound TmBound(const std::vector<double>& T) {
  const double beyond = kTmBeyondCurve * (T.back() - T.front());
  return {std::max(T.front() - beyond, 1.0), T.back() + beyond};
}

// What every fit of one curve shares.
struct CurveData {
  std::vector<double> T, logT, invT, y;  // y scaled to the largest signal
  // Square roots of the counting weights 1 / max(y, kWeightFloor).
  std::vector<double> root;
  double minEnergy = kMinEnergyEv;
  bool background = false;
  ExpBackground frame;  // the background's end and its start values
};

// --- The least-squares problem -------------------------------------------------

class Problem {
 public:
  // weighted: residuals by counting statistics (the count is being chosen);
  // plain least squares otherwise.
  Problem(const CurveData& data, const std::vector<PeakModel>& models, bool weighted = false)
      : d_(data), models_(models), weighted_(weighted) {
    const Bound im{0, 2}, energy{d_.minEnergy, kMaxEnergyEv}, tm = TmBound(d_.T);
    for (PeakModel m : models_) {
      offsets_.push_back(bounds_.size());
      bounds_.insert(bounds_.end(), {im, energy, tm});
      if (HasShapeParameter(m)) bounds_.push_back(shapeBound(m));
    }
    if (d_.background) bounds_.insert(bounds_.end(), {kOffsetBound, kAmplitudeBound, kScaleBound});
  }

  size_t points() const { return d_.T.size(); }
  size_t size() const { return bounds_.size(); }
  const std::vector<Bound>& bounds() const { return bounds_; }
  const std::vector<PeakModel>& models() const { return models_; }

  std::vector<double> values(const Params& p) const {
    std::vector<double> v;
    for (const KineticPeak& k : p.peaks) {
      v.insert(v.end(), {k.im, k.energy, k.tm});
      if (HasShapeParameter(k.model)) v.push_back(ShapeParameter(k));
    }
    if (d_.background) v.insert(v.end(), {p.background.offset, p.background.amplitude, p.background.scale});
    return v;
  }

  void toFree(const Params& p, gsl_vector* u) const {
    const std::vector<double> v = values(p);
    for (size_t j = 0; j < size(); ++j) gsl_vector_set(u, j, freeOf(v[j], bounds_[j]));
  }

  Params fromValues(const std::vector<double>& v) const {
    Params p;
    p.background = d_.frame;
    for (size_t k = 0; k < models_.size(); ++k) {
      const size_t j = offsets_[k];
      KineticPeak peak = makePeak(models_[k], v[j], v[j + 1], v[j + 2]);
      if (HasShapeParameter(models_[k])) shapeOf(peak) = v[j + 3];
      p.peaks.push_back(peak);
    }
    if (d_.background) {
      const size_t j = size() - kBackgroundSlots;
      p.background.offset = v[j];
      p.background.amplitude = v[j + 1];
      p.background.scale = v[j + 2];
    } else {
      p.background.offset = p.background.amplitude = 0;
    }
    return p;
  }

  Params fromFree(const gsl_vector* u, std::vector<double>* slopes = nullptr) const {
    std::vector<double> v(size()), s(size());
    for (size_t j = 0; j < size(); ++j) v[j] = bounded(gsl_vector_get(u, j), bounds_[j], &s[j]);
    if (slopes) *slopes = std::move(s);
    return fromValues(v);
  }

  // The residuals model - y into f (when given) and the Jacobian, row by
  // row, into rows: by the free parameters when slopes are given, by the
  // physical ones otherwise. False where the model is not finite.
  bool evaluate(const Params& p, const std::vector<double>* slopes, double* f, double* rows) const {
    const std::vector<PeakShape> shapes(p.peaks.begin(), p.peaks.end());
    const size_t n = size();
    const auto slope = [&](size_t j) { return slopes ? (*slopes)[j] : 1.0; };
    for (size_t i = 0; i < points(); ++i) {
      const double T = d_.T[i];
      double* row = rows + i * n;
      double m = 0;
      for (size_t k = 0; k < shapes.size(); ++k) {
        const PeakTerms t = shapes[k].at(T, d_.logT[i], d_.invT[i], true);
        m += t.value;
        const size_t j = offsets_[k];
        const int slotCount = slotsOf(models_[k]);
        for (int s = 0; s < slotCount; ++s) row[j + s] = t.d[s] * slope(j + s);
      }
      if (d_.background) {
        const size_t j = n - kBackgroundSlots;
        const ExpBackground& b = p.background;
        const double unit = std::exp((T - b.endKelvin) / b.scale);
        m += b.offset + b.amplitude * unit;
        row[j] = slope(j);
        row[j + 1] = unit * slope(j + 1);
        row[j + 2] = b.amplitude * unit * (b.endKelvin - T) / (b.scale * b.scale) * slope(j + 2);
      }
      const double w = weighted_ ? d_.root[i] : 1;
      const double r = (m - d_.y[i]) * w;
      if (!std::isfinite(r)) return false;
      for (size_t c = 0; c < n; ++c) {
        row[c] *= w;
        if (!std::isfinite(row[c])) return false;
      }
      if (f) f[i] = r;
    }
    return true;
  }

 private:
  const CurveData& d_;
  std::vector<PeakModel> models_;
  bool weighted_;
  std::vector<size_t> offsets_;  // each peak's first slot
  std::vector<Bound> bounds_;
};

// One solver's view of the problem. The solver asks for J^T J and J^T f at
// the very point whose residual it has just accepted: each residual
// therefore computes the Jacobian along with it (the derivatives cost little
// beside the exponentials both need) and keeps it for that request. GSL's
// solver for large problems is used because it leaves these products to
// the caller, who forms them from the columns at a fraction of the cost of
// the general matrix routines.
class Evaluator {
 public:
  explicit Evaluator(const Problem& pb) : pb_(pb), rows_(pb.points() * pb.size()), f_(pb.points()) {}

  static int residual(const gsl_vector* u, void* self, gsl_vector* f) {
    auto& ev = *static_cast<Evaluator*>(self);
    if (!ev.compute(u)) return GSL_EDOM;
    for (size_t i = 0; i < ev.pb_.points(); ++i) gsl_vector_set(f, i, ev.f_[i]);
    return GSL_SUCCESS;
  }

  // For the solver of gsl_multilarge_nlinear: J v or J^T v, and J^T J,
  // from the Jacobian kept by columns.
  static int products(CBLAS_TRANSPOSE_t trans, const gsl_vector* u, const gsl_vector* in, void* self,
                      gsl_vector* out, gsl_matrix* JTJ) {
    auto& ev = *static_cast<Evaluator*>(self);
    if (!ev.cachedAt(u) && !ev.compute(u)) return GSL_EDOM;
    const size_t n = ev.pb_.points(), p = ev.pb_.size();
    const double* columns = ev.columns_.data();
    if (in && out) {
      if (trans == CblasTrans) {
        std::vector<double> v(n);
        for (size_t i = 0; i < n; ++i) v[i] = gsl_vector_get(in, i);
        for (size_t j = 0; j < p; ++j) gsl_vector_set(out, j, dot(columns + j * n, v.data(), n));
      } else {
        std::vector<double> sum(n, 0.0);
        for (size_t j = 0; j < p; ++j) {
          const double a = gsl_vector_get(in, j);
          const double* column = columns + j * n;
          for (size_t i = 0; i < n; ++i) sum[i] += column[i] * a;
        }
        for (size_t i = 0; i < n; ++i) gsl_vector_set(out, i, sum[i]);
      }
    }
    if (JTJ)
      for (size_t a = 0; a < p; ++a)
        for (size_t b = 0; b <= a; ++b) {
          const double v = dot(columns + a * n, columns + b * n, n);
          gsl_matrix_set(JTJ, a, b, v);
          gsl_matrix_set(JTJ, b, a, v);
        }
    return GSL_SUCCESS;
  }

 private:
  bool cachedAt(const gsl_vector* u) const {
    if (cachedU_.size() != pb_.size()) return false;
    for (size_t j = 0; j < pb_.size(); ++j)
      if (gsl_vector_get(u, j) != cachedU_[j]) return false;
    return true;
  }

  // Four sums side by side: the products do not wait on each other.
  static double dot(const double* a, const double* b, size_t n) {
    // Pairs of doubles, as every x86-64 and ARM64 processor adds them.
    typedef double Pair __attribute__((vector_size(16)));
    Pair s0 = {0, 0}, s1 = {0, 0};
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
      Pair a0, a1, b0, b1;
      std::memcpy(&a0, a + i, sizeof a0);
      std::memcpy(&a1, a + i + 2, sizeof a1);
      std::memcpy(&b0, b + i, sizeof b0);
      std::memcpy(&b1, b + i + 2, sizeof b1);
      s0 += a0 * b0;
      s1 += a1 * b1;
    }
    const Pair s = s0 + s1;
    double sum = s[0] + s[1];
    for (; i < n; ++i) sum += a[i] * b[i];
    return sum;
  }

  bool compute(const gsl_vector* u) {
    cachedU_.clear();
    std::vector<double> slopes;
    const Params p = pb_.fromFree(u, &slopes);
    if (!pb_.evaluate(p, &slopes, f_.data(), rows_.data())) return false;
    const size_t n = pb_.points(), m = pb_.size();
    columns_.resize(n * m);
    for (size_t i = 0; i < n; ++i)
      for (size_t j = 0; j < m; ++j) columns_[j * n + i] = rows_[i * m + j];
    for (size_t j = 0; j < pb_.size(); ++j) cachedU_.push_back(gsl_vector_get(u, j));
    return true;
  }

  const Problem& pb_;
  std::vector<double> cachedU_;  // where rows_ was computed; empty when it is stale
  std::vector<double> rows_;     // the Jacobian there, row by row
  std::vector<double> columns_;  // the same by columns
  std::vector<double> f_;
};

// One start: Levenberg-Marquardt with a trust region, Moré's scaling and
// the normal equations solved by Cholesky (at most 35 parameters, well
// scaled by the bounded parameters).
class Run {
 public:
  enum State { Going, Converged, Failed };
  // Steps and gradient small enough to stop: coarse while starts and peak
  // counts are compared, fine for the fit that is kept.
  struct Tolerance {
    double step;
    double gradient;
    double cost;  // relative fall of the sum of squares, twice in a row
  };
  static constexpr Tolerance kCoarse{1e-6, 1e-4, 1e-5};
  static constexpr Tolerance kFine{1e-8, 6e-6, 1e-12};

  Run(const Problem& pb, const Params& start, Tolerance tolerance)
      : pb_(pb), evaluator_(pb), tolerance_(tolerance) {
    static std::once_flag quiet;
    // GSL's default handler aborts the process; every status is checked here.
    std::call_once(quiet, [] { gsl_set_error_handler_off(); });
    gsl_multilarge_nlinear_parameters params = gsl_multilarge_nlinear_default_parameters();
    params.trs = gsl_multilarge_nlinear_trs_lm;
    params.scale = gsl_multilarge_nlinear_scale_more;
    params.solver = gsl_multilarge_nlinear_solver_cholesky;
    w_ = gsl_multilarge_nlinear_alloc(gsl_multilarge_nlinear_trust, &params, pb.points(), pb.size());
    u_ = gsl_vector_alloc(pb.size());
    if (!w_ || !u_) return;
    pb.toFree(start, u_);
    fdf_.f = &Evaluator::residual;
    fdf_.df = &Evaluator::products;
    fdf_.fvv = nullptr;
    fdf_.n = pb.points();
    fdf_.p = pb.size();
    fdf_.params = &evaluator_;
    // The workspace keeps a pointer to fdf_: a Run never moves.
    if (gsl_multilarge_nlinear_init(u_, &fdf_, w_) == GSL_SUCCESS) state_ = Going;
    updateCost();
  }
  ~Run() {
    if (w_) gsl_multilarge_nlinear_free(w_);
    if (u_) gsl_vector_free(u_);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  State state() const { return state_; }
  double cost() const { return cost_; }
  int iterations() const { return iterations_; }

  // Iterates until converged, failed or `limit` iterations: at
  // kMaxFitIterations a fit has failed, below it is left going. False when
  // cancelled.
  bool finish(const std::atomic<bool>* cancel, int limit) {
    while (state_ == Going) {
      if (iterations_ >= limit) {
        // A fit still creeping along a valley of equally good fits has its
        // minimum in every figure shown; its parameters are then not
        // determined, which their correlations tell.
        if (limit >= kMaxFitIterations)
          state_ = history_[iterations_ % kCreepSpan] - cost_ <= kCreep * cost_ ? Converged : Failed;
        break;
      }
      history_[iterations_ % kCreepSpan] = cost_;
      if (cancel && cancel->load(std::memory_order_relaxed)) return false;
      const int status = gsl_multilarge_nlinear_iterate(w_);
      ++iterations_;
      const double before = cost_;
      updateCost();
      // The sum of squares has stopped falling: where it stands is all the
      // start can give, though a parameter may still creep towards a bound.
      flat_ = state_ == Going && before - cost_ <= tolerance_.cost * cost_ ? flat_ + 1 : 0;
      int info = 0;
      if (status == GSL_ENOPROG)
        // No step lowers the cost any more: a minimum when the gradient is
        // small as well, a dead end otherwise.
        state_ = flat_ > 0 || test(1e-8, 6e-6, &info) == GSL_SUCCESS ? Converged : Failed;
      else if (status != GSL_SUCCESS)
        state_ = Failed;
      else if (flat_ >= 2 || test(tolerance_.step, tolerance_.gradient, &info) == GSL_SUCCESS)
        state_ = Converged;
    }
    updateCost();
    return true;
  }

  Params params() const { return pb_.fromFree(gsl_multilarge_nlinear_position(w_)); }

 private:
  int test(double xtol, double gtol, int* info) const {
    return gsl_multilarge_nlinear_test(xtol, gtol, 0, info, w_);
  }

  void updateCost() {
    if (state_ == Failed) return;
    const gsl_vector* f = gsl_multilarge_nlinear_residual(w_);
    double rss = 0;
    for (size_t i = 0; i < pb_.points(); ++i) rss += gsl_vector_get(f, i) * gsl_vector_get(f, i);
    cost_ = rss;
    if (!std::isfinite(rss)) state_ = Failed;
  }

  const Problem& pb_;
  Evaluator evaluator_;
  Tolerance tolerance_;
  gsl_multilarge_nlinear_workspace* w_ = nullptr;
  gsl_vector* u_ = nullptr;
  gsl_multilarge_nlinear_fdf fdf_{};
  State state_ = Failed;
  double cost_ = kInf;
  int iterations_ = 0;
  int flat_ = 0;  // iterations in a row that hardly lowered the cost
  // The cost over the last kCreepSpan iterations, and the share by which
  // it may have fallen over them at the iteration limit.
  static constexpr int kCreepSpan = 10;
  static constexpr double kCreep = 1e-3;
  double history_[kCreepSpan] = {kInf, kInf, kInf, kInf, kInf, kInf, kInf, kInf, kInf, kInf};
};

struct Solution {
  bool converged = false;
  bool stopped = false;  // at an iteration limit, still under way
  bool cancelled = false;
  double rss = kInf;
  Params params;

  bool usable() const { return converged || stopped; }
  bool betterThan(const Solution& other) const { return usable() && (!other.usable() || rss < other.rss); }
};

std::vector<PeakModel> modelsOf(const Params& p) {
  std::vector<PeakModel> m;
  for (const KineticPeak& k : p.peaks) m.push_back(k.model);
  return m;
}

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
// Kept where frequency factors of glow peaks lie (E/kTm from 15 to 45, s
// from some 1e5 to 1e18 per second): the width of a peak among others is
// not its own.
double energyOfWidth(double tm, double width, double minEnergy) {
  const double e = 2.52 * kB * tm * tm / width - 2 * kB * tm;
  const double lo = std::max(15 * kB * tm, minEnergy * 1.05),
               hi = std::min(45 * kB * tm, 0.95 * kMaxEnergyEv);
  return std::clamp(std::isfinite(e) ? e : 30 * kB * tm, std::min(lo, hi), hi);
}

std::vector<Candidate> peakCandidates(const std::vector<double>& T, const std::vector<double>& y, int m,
                                      double minEnergy) {
  const int n = static_cast<int>(y.size());
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
    out.push_back(
        {tm, std::max(y[static_cast<size_t>(i)], 0.0), energyOfWidth(tm, width, minEnergy), -at(i)});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Candidate& a, const Candidate& b) { return a.depth > b.depth; });
  return out;
}

// The fitted curve at every T: each peak's expression worked out once.
std::vector<double> modelAt(const Params& p, const std::vector<double>& T) {
  std::vector<double> v(T.size());
  for (size_t i = 0; i < T.size(); ++i) v[i] = BackgroundValue(p.background, T[i]);
  for (const KineticPeak& k : p.peaks) {
    const std::vector<double> peak = PeakValues(k, T);
    for (size_t i = 0; i < T.size(); ++i) v[i] += peak[i];
  }
  return v;
}

// Full width at half maximum of a first-order peak of E at Tm (Chen).
double widthOf(double tm, double energy) { return 2.52 * kB * tm * tm / (energy + 2 * kB * tm); }

// Deterministic random numbers for the moves: splitmix64 from a seed.
class Random : public SplitMix64 {
 public:
  explicit Random(uint64_t seed) : SplitMix64(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
  size_t index(size_t n) { return std::min(n - 1, static_cast<size_t>(uniform() * static_cast<double>(n))); }
};

// Runs tasks 0..n-1 on up to `threads` threads, the caller's among them.
void parallelFor(int n, int threads, const std::function<void(int)>& task) {
  std::atomic<int> next{0};
  const auto work = [&] {
    for (int i; (i = next.fetch_add(1)) < n;) task(i);
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < std::min(threads, n); ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
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

// Rounds of moves from the best fit of a count given, until a round gains
// nothing: a round gains when it lowers the sum of squares by kRoundGain.
constexpr int kGivenCountRounds = 8;
constexpr double kRoundGain = 1e-6;
// Jittered starts per round.
constexpr int kJitters = 4;
// Iterations after which the starts of a given count and of a round of
// moves are compared, and how many of the cheapest are carried on.
constexpr int kMoveRaceIterations = 10;
constexpr size_t kMovesKept = 3;
// Iterations of each count's fit while the count is chosen: the fits are
// compared by their sums of squares, which a fit still creeping along a
// valley after this many has all but reached.
constexpr int kCountIterations = 20;
// Iterations after which starts of one count are compared, and only the
// best carried on.
constexpr int kRaceIterations = 5;
// Points of a curve searched in full; a longer one is searched on every k-th.
constexpr size_t kSearchPoints = 400;
// The least signal, as a share of the largest, a point's weight is taken at.
constexpr double kWeightFloor = 0.01;

class Fitter {
 public:
  Fitter(const GlowCurve& curve, const DeconvolutionOptions& options, const std::atomic<bool>* cancel)
      : curve_(curve), options_(options), cancel_(cancel) {
    threads_ = options.threads > 0 ? options.threads : std::max(1, QThread::idealThreadCount());
    for (double v : curve.signal) yScale_ = std::max(yScale_, std::fabs(v));
    data_.T = curve.kelvin;
    for (double t : curve.kelvin) {
      data_.logT.push_back(std::log(t));
      data_.invT.push_back(1 / t);
    }
    data_.background = options.background;
    if (!curve.kelvin.empty()) data_.minEnergy = std::max(kMinEnergyEv, 6 * kB * curve.kelvin.back());
    data_.frame.endKelvin = curve.kelvin.empty() ? 0 : curve.kelvin.back();
    data_.frame.scale = 30;
    if (!(yScale_ > 0)) return;
    for (double v : curve.signal) data_.y.push_back(v / yScale_);
    for (double v : data_.y) data_.root.push_back(1 / std::sqrt(std::max(v, kWeightFloor)));
    if (options.background) {
      // The background starts at the lowest signal, as a constant.
      const double low = *std::min_element(data_.y.begin(), data_.y.end());
      data_.frame.offset = std::clamp(low, 0.0, 0.5);
      data_.frame.amplitude = 0.01;
    }
    std::vector<double> above(data_.y.size());
    for (size_t i = 0; i < above.size(); ++i)
      above[i] = data_.y[i] - BackgroundValue(data_.frame, data_.T[i]);
    // Two smoothings: the wider one finds the clear peaks of a noisy curve,
    // the narrower close neighbours and shoulders.
    const int n = static_cast<int>(above.size());
    const int wide = std::clamp(n / 30, 2, 10), narrow = std::clamp(n / 60, 2, 5);
    candidates_[0] = peakCandidates(data_.T, above, wide, data_.minEnergy);
    candidates_[1] = narrow < wide ? peakCandidates(data_.T, above, narrow, data_.minEnergy) : candidates_[0];
  }

  int parameters(const std::vector<PeakModel>& models) const {
    int p = options_.background ? kBackgroundSlots : 0;
    for (PeakModel m : models) p += slotsOf(m);
    return p;
  }

  DeconvolutionResult run() {
    DeconvolutionResult r;
    r.options = options_;
    r.pointsUsed = static_cast<int>(curve_.kelvin.size());
    r.heatingRate = curve_.heatingRate;
    r.window = curve_.window;
    const int n = r.pointsUsed;
    // A curve whose every point was left out has too few points, not too
    // little signal: the counts below say so.
    if (n > 0 && (!(yScale_ > 0) || *std::max_element(data_.y.begin(), data_.y.end()) <= 0))
      return failed(r, FitOutcome::NoSignal, QString());
    if (static_cast<size_t>(n) > kSearchPoints && options_.start.empty()) {
      const std::optional<DeconvolutionResult> thin = searchThinned(r);
      if (thin) return *thin;
    }

    std::vector<PeakModel> given = options_.peakModels;
    if (!options_.start.empty()) given = modelsOf(Params{options_.start, {}});
    if (given.empty() && options_.peaks > 0)
      given.assign(static_cast<size_t>(options_.peaks), options_.model);
    if (!given.empty()) {
      const int count = static_cast<int>(given.size());
      r.peakCount = count;
      if (n <= parameters(given))
        return failed(r, FitOutcome::TooFewPoints,
                      QStringLiteral("%1 points cannot carry %2 %3 (%4 parameters)")
                          .arg(n)
                          .arg(count)
                          .arg(count == 1 ? QStringLiteral("peak") : QStringLiteral("peaks"))
                          .arg(parameters(given)));
      Solution s;
      if (!options_.start.empty()) {
        Params start{options_.start, data_.frame};
        for (KineticPeak& k : start.peaks) k.im /= yScale_;
        s = local(start, Run::kCoarse);
      } else {
        s = searchCount(given);
      }
      return finish(r, polish(s), count);
    }

    const std::vector<PeakModel> one{options_.model};
    if (n <= parameters(one))
      return failed(
          r, FitOutcome::TooFewPoints,
          QStringLiteral("%1 points cannot carry one peak (%2 parameters)").arg(n).arg(parameters(one)));
    // The counts one after the other, each from the fit of one count fewer
    // and one peak more where the curve stands highest above it (the first
    // from the derivative's clearest peak); only the count chosen is carried
    // to the fine tolerance.
    std::vector<Solution> byCount;
    int bestCount = 0, risen = 0;
    for (int k = 1; k <= kMaxFitPeaks; ++k) {
      const std::vector<PeakModel> models(static_cast<size_t>(k), options_.model);
      if (n <= parameters(models)) break;
      std::vector<Params> starts{fromCandidates(models, 0, 1)};
      if (k > 1 && byCount.back().usable())
        starts.push_back(withPeakAtResidual(byCount.back().params, options_.model));
      // Two short starts: a thread of their own would cost more than it saves.
      Solution s = race(starts, kRaceIterations, kCountIterations, 1, true, 1);
      if (s.cancelled) return finish(r, s, k);
      r.peakCount = k;
      CountCriterion c;
      c.peaks = k;
      c.converged = s.usable();
      if (c.converged) {
        c.fom = fomOf(s.params);
        c.bic = bic(s, models);
      }
      r.criteria.push_back(c);
      byCount.push_back(std::move(s));
      if (!c.converged) continue;
      if (bestCount == 0 || c.bic < r.criteria[static_cast<size_t>(bestCount - 1)].bic) {
        bestCount = k;
        risen = 0;
      } else if (++risen >= kCountsPastMinimum) {
        break;
      }
    }
    // The lowest criterion whose fit then converges.
    std::vector<int> order;
    for (const CountCriterion& c : r.criteria)
      if (c.converged) order.push_back(c.peaks);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return r.criteria[static_cast<size_t>(a - 1)].bic < r.criteria[static_cast<size_t>(b - 1)].bic;
    });
    Solution chosen;
    int count = r.peakCount;
    if (!order.empty()) r.suggestedCount = order.front();
    for (int k : order) {
      count = k;
      chosen = polish(byCount[static_cast<size_t>(k - 1)], true);
      if (chosen.cancelled || chosen.converged) break;
    }
    return finish(r, chosen, count);
  }

 private:
  // --- Solver runs ----------------------------------------------------------

  // A fit from one start; with a limit below kMaxFitIterations a fit still
  // under way there is taken as it stands (stopped).
  Solution local(const Params& from, Run::Tolerance tolerance, int limit = kMaxFitIterations,
                 bool weighted = false) {
    Solution s;
    if (from.peaks.empty()) return s;
    const Params start = tolerance.cost == Run::kFine.cost ? from : withHeights(from);
    const Problem pb(data_, modelsOf(start), weighted);
    Run run(pb, start, tolerance);
    runs_.fetch_add(1);
    const bool finished = run.finish(cancel_, limit);
    iterations_.fetch_add(run.iterations());
    if (!finished) {
      s.cancelled = true;
      return s;
    }
    if (run.state() == Run::Failed || !inGivenOrder(run.params())) return s;
    s.converged = run.state() == Run::Converged;
    s.stopped = !s.converged;
    s.rss = run.cost();
    s.params = run.params();
    return s;
  }

  // The starts side by side (on `threads`, 0: the fit's) for `first`
  // iterations; then only the `keep` lowest sums of squares carried on to
  // `limit`. The others stop where they are.
  Solution race(const std::vector<Params>& starts, int first, int limit, size_t keep, bool weighted,
                int threads = 0) {
    if (threads <= 0) threads = threads_;
    struct Racer {
      std::unique_ptr<Problem> pb;
      std::unique_ptr<Run> run;
      bool cancelled = false;
    };
    std::vector<Racer> racers(starts.size());
    parallelFor(static_cast<int>(racers.size()), threads, [&](int i) {
      Racer& r = racers[static_cast<size_t>(i)];
      const Params start = withHeights(starts[static_cast<size_t>(i)]);
      r.pb = std::make_unique<Problem>(data_, modelsOf(start), weighted);
      r.run = std::make_unique<Run>(*r.pb, start, Run::kCoarse);
      r.cancelled = !r.run->finish(cancel_, first);
    });
    runs_.fetch_add(static_cast<int>(racers.size()));
    std::vector<size_t> order(racers.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      const auto cost = [&](size_t i) {
        return racers[i].run->state() == Run::Failed ? kInf : racers[i].run->cost();
      };
      return cost(a) < cost(b);
    });
    order.resize(std::min(keep, order.size()));
    parallelFor(static_cast<int>(order.size()), threads, [&](int i) {
      Racer& r = racers[order[static_cast<size_t>(i)]];
      if (!r.cancelled) r.cancelled = !r.run->finish(cancel_, limit);
    });
    std::vector<Solution> out;
    for (Racer& r : racers) {
      iterations_.fetch_add(r.run->iterations());
      Solution s;
      s.cancelled = r.cancelled;
      if (!r.cancelled && r.run->state() != Run::Failed && inGivenOrder(r.run->params())) {
        s.converged = r.run->state() == Run::Converged;
        s.stopped = !s.converged;
        s.rss = r.run->cost();
        s.params = r.run->params();
      }
      out.push_back(std::move(s));
    }
    return bestOf(out);
  }

  std::vector<Solution> runAll(const std::vector<std::function<Solution()>>& tasks) {
    std::vector<Solution> out(tasks.size());
    parallelFor(static_cast<int>(tasks.size()), threads_,
                [&](int i) { out[static_cast<size_t>(i)] = tasks[static_cast<size_t>(i)](); });
    return out;
  }

  // The lowest sum of squares, the first of equals: the same whichever
  // thread finished first. Cancelled when any was.
  static Solution bestOf(const std::vector<Solution>& all) {
    Solution best;
    for (const Solution& s : all) {
      if (s.cancelled) return s;
      if (s.betterThan(best)) best = s;
    }
    return best;
  }

  bool cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

  // With one model per peak, a fit counts only while its peaks keep the
  // models in the order given, by rising Tm.
  bool inGivenOrder(const Params& p) const {
    if (options_.peakModels.empty()) return true;
    std::vector<const KineticPeak*> byTm;
    for (const KineticPeak& k : p.peaks) byTm.push_back(&k);
    std::stable_sort(byTm.begin(), byTm.end(),
                     [](const KineticPeak* a, const KineticPeak* b) { return a->tm < b->tm; });
    for (size_t k = 0; k < byTm.size(); ++k)
      if (k >= options_.peakModels.size() || byTm[k]->model != options_.peakModels[k]) return false;
    return true;
  }

  // The kept fit carried on to the fine tolerance (by plain least squares
  // also when it was weighted).
  Solution polish(const Solution& coarse, bool weighted = false) {
    if (!coarse.usable()) return coarse;
    Solution s = local(coarse.params, Run::kFine);
    if (s.cancelled || weighted || (s.converged && !(s.rss > coarse.rss))) return s;
    return coarse.converged ? coarse : s;
  }

  // --- Starts ------------------------------------------------------------------

  // The heights of the peaks and the background's offset and amplitude
  // enter the curve linearly: for a start they are solved for at its peak
  // temperatures and energies (least squares, none below zero), which
  // spares the solver most of its way.
  Params withHeights(Params p) const {
    const size_t n = data_.T.size(), peaks = p.peaks.size();
    const size_t m = peaks + (data_.background ? 2 : 0);
    if (n <= m) return p;
    std::vector<std::vector<double>> columns;
    for (KineticPeak k : p.peaks) {
      k.im = 1;
      const PeakShape shape(k);
      std::vector<double> c(n);
      for (size_t i = 0; i < n; ++i) c[i] = shape.at(data_.T[i], data_.logT[i], 1 / data_.T[i], false).value;
      columns.push_back(std::move(c));
    }
    if (data_.background) {
      columns.emplace_back(n, 1.0);
      std::vector<double> c(n);
      for (size_t i = 0; i < n; ++i)
        c[i] = std::exp((data_.T[i] - p.background.endKelvin) / p.background.scale);
      columns.push_back(std::move(c));
    }
    // Active set: a coefficient that comes out negative is held at zero and
    // the rest solved again.
    std::vector<bool> active(m, true);
    std::vector<double> x(m, 0.0);
    for (size_t pass = 0; pass < m; ++pass) {
      std::vector<size_t> use;
      for (size_t j = 0; j < m; ++j)
        if (active[j]) use.push_back(j);
      if (use.empty()) break;
      gsl_matrix* X = gsl_matrix_alloc(n, use.size());
      gsl_vector* y = gsl_vector_alloc(n);
      gsl_vector* c = gsl_vector_alloc(use.size());
      gsl_matrix* cov = gsl_matrix_alloc(use.size(), use.size());
      gsl_multifit_linear_workspace* work = gsl_multifit_linear_alloc(n, use.size());
      for (size_t i = 0; i < n; ++i) {
        gsl_vector_set(y, i, data_.y[i]);
        for (size_t a = 0; a < use.size(); ++a) gsl_matrix_set(X, i, a, columns[use[a]][i]);
      }
      double chi = 0;
      const bool ok = gsl_multifit_linear(X, y, c, cov, &chi, work) == GSL_SUCCESS;
      size_t worst = m;
      for (size_t a = 0; a < use.size(); ++a) {
        x[use[a]] = ok ? gsl_vector_get(c, a) : 0;
        if (x[use[a]] < 0 && (worst == m || x[use[a]] < x[worst])) worst = use[a];
      }
      gsl_multifit_linear_free(work);
      gsl_matrix_free(cov);
      gsl_vector_free(c);
      gsl_vector_free(y);
      gsl_matrix_free(X);
      if (!ok) return p;
      if (worst == m) break;
      active[worst] = false;
      x[worst] = 0;
    }
    // Kept off the bounds, where the solver's mapping is flat.
    for (size_t k = 0; k < peaks; ++k) p.peaks[k].im = std::clamp(x[k], 1e-3, 1.9);
    if (data_.background) {
      p.background.offset = std::clamp(x[peaks], 1e-3, 0.99);
      p.background.amplitude = std::clamp(x[peaks + 1], 1e-3, 1.9);
    }
    return p;
  }

  // Peaks at the derivative's clearest minima (of one smoothing), filled up
  // where the curve stands highest above them; the models given by rising Tm.
  Params fromCandidates(const std::vector<PeakModel>& models, int smoothing, double energyFactor) const {
    Params p;
    p.background = data_.frame;
    for (const Candidate& c : candidates_[smoothing]) {
      if (p.peaks.size() >= models.size()) break;
      p.peaks.push_back(makePeak(PeakModel::FirstOrder, std::min(c.height, 1.9), c.energy, c.kelvin));
    }
    while (p.peaks.size() < models.size()) p.peaks.push_back(peakAtResidual(p, PeakModel::FirstOrder));
    std::sort(p.peaks.begin(), p.peaks.end(),
              [](const KineticPeak& a, const KineticPeak& b) { return a.tm < b.tm; });
    for (size_t k = 0; k < models.size(); ++k) {
      KineticPeak& peak = p.peaks[k];
      peak = makePeak(models[k], peak.im,
                      std::clamp(peak.energy * energyFactor, data_.minEnergy, kMaxEnergyEv), peak.tm);
      // Flatter peaks start at a lower order, steeper ones at a higher.
      if (models[k] == PeakModel::GeneralOrder)
        peak.order = energyFactor < 1 ? 1.2 : energyFactor > 1 ? 1.8 : 1.5;
    }
    return p;
  }

  // One more peak where the curve stands highest above the fit (smoothed
  // over five points), as wide as the excess there; or in the widest gap
  // between the peaks when it stands above nowhere.
  KineticPeak peakAtResidual(const Params& p, PeakModel model) const {
    const std::vector<double>& T = data_.T;
    const size_t n = T.size();
    std::vector<double> r(n), smooth(n);
    const std::vector<double> fitted = modelAt(p, T);
    for (size_t i = 0; i < n; ++i) r[i] = data_.y[i] - fitted[i];
    size_t best = 0;
    for (size_t i = 0; i < n; ++i) {
      double sum = 0;
      int count = 0;
      for (size_t j = i >= 2 ? i - 2 : 0; j <= std::min(n - 1, i + 2); ++j, ++count) sum += r[j];
      smooth[i] = sum / count;
      if (smooth[i] > smooth[best]) best = i;
    }
    if (smooth[best] > 0) {
      size_t left = best, right = best;
      while (left > 0 && smooth[left - 1] > smooth[best] / 2) --left;
      while (right + 1 < n && smooth[right + 1] > smooth[best] / 2) ++right;
      double width = T[right] - T[left];
      if (left == 0 || right + 1 == n) width *= 2;  // half a peak shows at an end
      const double energy = energyOfWidth(T[best], std::max(width, 1e-3), data_.minEnergy);
      return makePeak(model, smooth[best], energy, T[best]);
    }
    std::vector<double> edges{T.front(), T.back()};
    for (const KineticPeak& k : p.peaks) edges.push_back(k.tm);
    std::sort(edges.begin(), edges.end());
    double gapAt = (T.front() + T.back()) / 2, gap = -1;
    for (size_t i = 0; i + 1 < edges.size(); ++i)
      if (edges[i + 1] - edges[i] > gap) {
        gap = edges[i + 1] - edges[i];
        gapAt = (edges[i] + edges[i + 1]) / 2;
      }
    return makePeak(model, 0.05, std::max(1.2, data_.minEnergy * 1.05), gapAt);
  }

  Params withPeakAtResidual(Params p, PeakModel model) const {
    p.peaks.push_back(peakAtResidual(p, model));
    return p;
  }

  // Peak by peak from one, each time one more at the largest residual.
  Solution buildUp(const std::vector<PeakModel>& models) {
    Solution s;
    Params p;
    p.background = data_.frame;
    for (size_t k = 0; k < models.size(); ++k) {
      p = withPeakAtResidual(p, models[k]);
      s = local(p, Run::kCoarse, k + 1 < models.size() ? kCountIterations : kMaxFitIterations);
      if (s.cancelled || !s.usable()) return s;
      p = s.params;
    }
    return s;
  }

  double areaOf(const KineticPeak& k) const {
    double a = 0;
    for (double v : PeakValues(k, data_.T)) a += v;
    return a;
  }

  // The peak of the model with the least area, other than `except`.
  size_t smallest(const Params& p, PeakModel model, size_t except) const {
    size_t out = p.peaks.size();
    double least = kInf;
    for (size_t k = 0; k < p.peaks.size(); ++k) {
      if (k == except || p.peaks[k].model != model) continue;
      const double a = areaOf(p.peaks[k]);
      if (a < least) {
        least = a;
        out = k;
      }
    }
    return out;
  }

  // --- Moves -------------------------------------------------------------------

  // The moves give starts; an empty one is a move that does not apply.

  // Peak j dropped, the rest fitted, and a peak of its model put back where
  // the curve then stands highest: frees a peak that shares a feature with
  // another while a feature elsewhere goes unfitted.
  Params dropAndPutBack(const Params& p, size_t j) {
    Params rest = p;
    rest.peaks.erase(rest.peaks.begin() + static_cast<std::ptrdiff_t>(j));
    if (!rest.peaks.empty()) {
      const Solution s = local(rest, Run::kCoarse, kCountIterations);
      if (s.usable()) rest = s.params;
    }
    return withPeakAtResidual(rest, p.peaks[j].model);
  }

  // One peak more where the curve stands highest above the fit, then the
  // smallest of its model dropped.
  Params addAndDrop(const Params& p) {
    const PeakModel model = p.peaks[smallest(p, p.peaks.front().model, p.peaks.size())].model;
    const Solution more = local(withPeakAtResidual(p, model), Run::kCoarse, kCountIterations);
    if (!more.usable()) return Params{};
    Params q = more.params;
    const size_t drop = smallest(q, model, q.peaks.size());
    if (drop >= q.peaks.size()) return Params{};
    q.peaks.erase(q.peaks.begin() + static_cast<std::ptrdiff_t>(drop));
    return q;
  }

  // The largest peak split into two narrower ones either side of its Tm,
  // the smallest of its model dropped: one wide feature may be two peaks.
  Params split(const Params& p) const {
    if (p.peaks.size() < 2) return Params{};
    size_t big = 0;
    for (size_t k = 1; k < p.peaks.size(); ++k)
      if (areaOf(p.peaks[k]) > areaOf(p.peaks[big])) big = k;
    const size_t drop = smallest(p, p.peaks[big].model, big);
    if (drop >= p.peaks.size()) return Params{};
    Params q = p;
    KineticPeak a = p.peaks[big], b = a;
    const double w = widthOf(a.tm, a.energy);
    const Bound range = TmBound(data_.T);
    a.tm = std::max(range.lo, a.tm - w / 4);
    b.tm = std::min(range.hi, b.tm + w / 4);
    a.im *= 0.7;
    b.im *= 0.7;
    a.energy = b.energy = std::min(a.energy * 1.3, 0.95 * kMaxEnergyEv);
    q.peaks[big] = a;
    q.peaks[drop] = b;
    return q;
  }

  // One or two peaks moved by about their width, the rest nudged.
  Params jitter(const Params& p, uint64_t seed) const {
    Random random(seed);
    Params q = p;
    const size_t strong = random.index(q.peaks.size());
    const size_t second = random.uniform() < 0.5 ? random.index(q.peaks.size()) : strong;
    for (size_t k = 0; k < q.peaks.size(); ++k) {
      KineticPeak& peak = q.peaks[k];
      const bool far = k == strong || k == second;
      const double w = widthOf(peak.tm, peak.energy);
      const Bound range = TmBound(data_.T);
      peak.tm = std::clamp(peak.tm + (far ? 0.5 : 0.03) * w * random.normal(), range.lo, range.hi);
      peak.energy = std::clamp(peak.energy * std::exp((far ? 0.25 : 0.03) * random.normal()), data_.minEnergy,
                               kMaxEnergyEv);
      peak.im = std::clamp(peak.im * std::exp((far ? 0.5 : 0.05) * random.normal()), 1e-4, 1.9);
      if (far && HasShapeParameter(peak.model)) {
        const Bound b = shapeBound(peak.model);
        shapeOf(peak) = b.lo + (b.hi - b.lo) * random.uniform();
      }
    }
    return q;
  }

  // The starts of one round, made side by side.
  std::vector<Params> moves(const Params& p, int round) {
    std::vector<std::function<Params()>> makers;
    for (size_t j = 0; j < p.peaks.size(); ++j)
      makers.push_back([this, p, j] { return dropAndPutBack(p, j); });
    makers.push_back([this, p] { return addAndDrop(p); });
    makers.push_back([this, p] { return split(p); });
    for (int t = 0; t < kJitters; ++t) {
      const uint64_t seed = static_cast<uint64_t>(round) * 1000 + static_cast<uint64_t>(t) + 1;
      makers.push_back([this, p, seed] { return jitter(p, seed); });
    }
    std::vector<Params> starts(makers.size());
    parallelFor(static_cast<int>(makers.size()), threads_,
                [&](int i) { starts[static_cast<size_t>(i)] = makers[static_cast<size_t>(i)](); });
    starts.erase(
        std::remove_if(starts.begin(), starts.end(), [](const Params& s) { return s.peaks.empty(); }),
        starts.end());
    return starts;
  }

  // Rounds of moves from the best fit, raced: after kMoveRaceIterations the
  // kMovesKept cheapest are carried on.
  Solution improve(Solution best, int rounds) {
    for (int round = 0; round < rounds && best.converged; ++round) {
      const int planned = 2 * static_cast<int>(best.params.peaks.size()) + 4 + kJitters;
      if (runs_.load() + planned > kMaxSolverRuns - 1) break;  // one left for the polish
      const std::vector<Params> starts = moves(best.params, round);
      if (cancelled()) return cancelledSolution();
      const Solution s = race(starts, kMoveRaceIterations, kMaxFitIterations, kMovesKept, false);
      if (s.cancelled) return s;
      const bool gain = s.usable() && s.rss < best.rss * (1 - kRoundGain);
      if (s.betterThan(best)) best = s;
      if (!gain) break;
    }
    return best;
  }

  // A given count: the starts from the derivative raced, the build-up peak
  // by peak beside them; then rounds of moves.
  Solution searchCount(const std::vector<PeakModel>& models) {
    std::vector<Params> starts;
    for (int smoothing = 0; smoothing < 2; ++smoothing)
      for (double factor : {1.0, 0.8, 1.25}) starts.push_back(fromCandidates(models, smoothing, factor));
    const std::vector<std::function<Solution()>> tasks{
        [this, starts] { return race(starts, kMoveRaceIterations, kMaxFitIterations, kMovesKept, false); },
        [this, models] { return buildUp(models); }};
    const Solution best = bestOf(runAll(tasks));
    if (best.cancelled) return best;
    return improve(best, kGivenCountRounds);
  }

  // A long curve is searched on every k-th point (at most kSearchPoints;
  // a peak spans far more than the steps then), and the best found fitted
  // to every point. Nothing when that fit does not converge: the whole
  // curve is searched then.
  std::optional<DeconvolutionResult> searchThinned(DeconvolutionResult& r) {
    const size_t n = curve_.kelvin.size();
    const size_t step = (n + kSearchPoints - 1) / kSearchPoints;
    GlowCurve thin;
    for (size_t i = 0; i < n; i += step) {
      thin.kelvin.push_back(curve_.kelvin[i]);
      thin.signal.push_back(curve_.signal[i]);
      thin.origin.push_back(curve_.origin[i]);
    }
    if (thin.kelvin.back() != curve_.kelvin.back()) {
      thin.kelvin.push_back(curve_.kelvin.back());
      thin.signal.push_back(curve_.signal.back());
      thin.origin.push_back(curve_.origin.back());
    }
    const DeconvolutionResult coarse = Fitter(thin, options_, cancel_).run();
    iterations_.fetch_add(coarse.iterations);
    if (coarse.outcome == FitOutcome::Cancelled) return failed(r, FitOutcome::Cancelled, QString());
    if (!coarse.converged()) return std::nullopt;
    Params start;
    for (const FittedPeak& p : coarse.peaks) {
      start.peaks.push_back(p.peak);
      start.peaks.back().im /= yScale_;
    }
    start.background = data_.frame;
    if (coarse.background) {
      start.background.offset = coarse.background->offset / yScale_;
      start.background.amplitude = coarse.background->amplitude / yScale_;
      start.background.scale = coarse.background->scale;
    }
    const Solution s = polish(local(start, Run::kCoarse));
    if (s.cancelled) return failed(r, FitOutcome::Cancelled, QString());
    if (!s.converged) return std::nullopt;
    r.criteria = coarse.criteria;
    r.suggestedCount = coarse.suggestedCount;
    return finish(r, s, coarse.peakCount);
  }

  static Solution cancelledSolution() {
    Solution s;
    s.cancelled = true;
    return s;
  }

  // --- Figures ----------------------------------------------------------------

  double fomOf(const Params& p) const {
    const std::vector<double> fitted = modelAt(p, data_.T);
    double diff = 0, sum = 0;
    for (size_t i = 0; i < data_.y.size(); ++i) {
      const double f = fitted[i];
      diff += std::fabs(data_.y[i] - f);
      sum += f;
    }
    return sum > 0 ? diff / sum * 100 : kInf;
  }

  // Of a fit weighted by counting statistics.
  double bic(const Solution& s, const std::vector<PeakModel>& models) const {
    const double n = static_cast<double>(data_.y.size());
    double floor = 0;
    for (double root : data_.root) floor += kResolution * kResolution * root * root;
    return n * std::log(std::max(s.rss, floor) / n) + parameters(models) * std::log(n);
  }

  DeconvolutionResult failed(DeconvolutionResult& r, FitOutcome outcome, const QString& detail) {
    r.outcome = outcome;
    r.reason = detail.isEmpty() ? outcomeText(outcome) : outcomeText(outcome) + QStringLiteral(": ") + detail;
    r.iterations = iterations_.load();
    r.peaks.clear();
    r.background.reset();
    return r;
  }

  // Standard errors from the Jacobian by the physical parameters at the
  // optimum, scaled by the residual variance; the parameters held by a
  // bound are left out (the fit did not determine them) and flagged.
  void uncertainties(const Params& p, double rss, std::vector<double>* errors, std::vector<bool>* held,
                     std::vector<bool>* undetermined) const {
    const Problem pb(data_, modelsOf(p));
    const size_t n = pb.points(), m = pb.size();
    const std::vector<double> v = pb.values(p);
    errors->assign(m, kNaN);
    held->assign(m, false);
    undetermined->assign(m, false);
    std::vector<size_t> free;
    for (size_t j = 0; j < m; ++j) {
      const Bound b = pb.bounds()[j];
      const double f = (v[j] - b.lo) / (b.hi - b.lo);
      (*held)[j] = f < kAtBound || f > 1 - kAtBound;
      if (!(*held)[j]) free.push_back(j);
    }
    std::vector<double> rows(n * m);
    if (free.empty() || n <= m || !pb.evaluate(p, nullptr, nullptr, rows.data())) return;
    const size_t k = free.size();
    // J with its columns scaled to unit length, by singular values: a
    // direction the data do not fix shows as an error without bound.
    gsl_matrix* J = gsl_matrix_alloc(n, k);
    gsl_matrix* V = gsl_matrix_alloc(k, k);
    gsl_vector* S = gsl_vector_alloc(k);
    gsl_vector* work = gsl_vector_alloc(k);
    std::vector<double> scale(k, 0.0);
    for (size_t c = 0; c < k; ++c) {
      for (size_t i = 0; i < n; ++i) scale[c] += rows[i * m + free[c]] * rows[i * m + free[c]];
      scale[c] = std::sqrt(scale[c]);
      for (size_t i = 0; i < n; ++i)
        gsl_matrix_set(J, i, c, scale[c] > 0 ? rows[i * m + free[c]] / scale[c] : 0);
    }
    const bool ok = gsl_linalg_SV_decomp(J, V, S, work) == GSL_SUCCESS;
    if (ok) {
      const double variance = rss / static_cast<double>(n - m);
      const double top = gsl_vector_get(S, 0);
      std::vector<double> cov(k * k, 0.0);
      for (size_t a = 0; a < k; ++a)
        for (size_t b = 0; b < k; ++b) {
          double sum = 0;
          for (size_t q = 0; q < k; ++q) {
            const double s = std::max(gsl_vector_get(S, q), 1e-13 * top);
            sum += gsl_matrix_get(V, a, q) * gsl_matrix_get(V, b, q) / (s * s);
          }
          cov[a * k + b] = sum;
        }
      for (size_t a = 0; a < k; ++a) {
        const double e = scale[a] > 0 ? std::sqrt(variance * cov[a * k + a]) / scale[a] : kInf;
        (*errors)[free[a]] = e;
        if (!(e <= std::fabs(v[free[a]]))) (*undetermined)[free[a]] = true;
        for (size_t b = 0; b < k; ++b) {
          if (a == b) continue;
          const double r = cov[a * k + b] / std::sqrt(cov[a * k + a] * cov[b * k + b]);
          if (!(std::fabs(r) <= kUndeterminedCorrelation)) (*undetermined)[free[a]] = true;
        }
      }
    }
    gsl_vector_free(work);
    gsl_vector_free(S);
    gsl_matrix_free(V);
    gsl_matrix_free(J);
  }

  DeconvolutionResult finish(DeconvolutionResult& r, const Solution& s, int count) {
    r.peakCount = count;
    if (s.cancelled) return failed(r, FitOutcome::Cancelled, QString());
    if (!s.converged)
      return failed(r, FitOutcome::NotConverged,
                    QStringLiteral("no start of %1 %2 reached a minimum within %3 iterations")
                        .arg(count)
                        .arg(count == 1 ? QStringLiteral("peak") : QStringLiteral("peaks"))
                        .arg(kMaxFitIterations));
    const double fom = fomOf(s.params);
    if (!std::isfinite(fom))
      return failed(r, FitOutcome::NotConverged, QStringLiteral("the fitted curve holds no signal"));

    std::vector<double> errors;
    std::vector<bool> held, undetermined;
    uncertainties(s.params, s.rss, &errors, &held, &undetermined);
    std::vector<FittedPeak> peaks;
    double total = 0;
    size_t j = 0;
    for (const KineticPeak& scaled : s.params.peaks) {
      FittedPeak fp;
      fp.peak = scaled;
      fp.peak.im = scaled.im * yScale_;
      const int slotCount = slotsOf(scaled.model);
      fp.error = scaled;
      fp.error.im = errors[j] * yScale_;
      fp.error.energy = errors[j + 1];
      fp.error.tm = errors[j + 2];
      fp.error.order = fp.error.retrapping = fp.error.spread = kNaN;
      if (HasShapeParameter(scaled.model)) shapeOf(fp.error) = errors[j + 3];
      for (int slot = 0; slot < slotCount; ++slot) {
        const size_t q = j + static_cast<size_t>(slot);
        if (undetermined[q]) fp.undetermined = true;
        if (!held[q]) continue;
        // A bound that is the model's own limit is no warning: b 1 is the
        // first order, R at either end the first or second, no spread a
        // single energy.
        const Bound b = shapeBound(scaled.model);
        const bool lower = ShapeParameter(scaled) < (b.lo + b.hi) / 2;
        const bool limit = slot == 3 && (scaled.model == PeakModel::MixedOrder || lower);
        if (!limit) fp.atBound |= 1u << slot;
      }
      fp.beyondCurve = scaled.tm < curve_.kelvin.front() || scaled.tm > curve_.kelvin.back();
      fp.frequency = FrequencyFactor(fp.peak, curve_.heatingRate);
      for (double v : PeakValues(fp.peak, curve_.kelvin)) fp.area += v;
      total += fp.area;
      peaks.push_back(fp);
      j += static_cast<size_t>(slotCount);
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
      b.offset *= yScale_;
      r.background = b;
      r.backgroundError = {errors[j + 1] * yScale_, errors[j + 2], 0, errors[j] * yScale_};
      // No offset, no glow, or a glow as flat as allowed is no warning; the
      // upper bounds of offset and glow, and the steepest rise are.
      const Params& q = s.params;
      if (held[j] && q.background.offset > kOffsetBound.hi / 2) r.backgroundAtBound |= kBackgroundOffset;
      if (held[j + 1] && q.background.amplitude > kAmplitudeBound.hi / 2)
        r.backgroundAtBound |= kBackgroundAmplitude;
      if (held[j + 2] && q.background.scale < (kScaleBound.lo + kScaleBound.hi) / 2 &&
          q.background.amplitude > 0)
        r.backgroundAtBound |= kBackgroundScale;
    }
    r.fom = fom;
    const double mean =
        std::accumulate(data_.y.begin(), data_.y.end(), 0.0) / static_cast<double>(data_.y.size());
    const std::vector<double> fitted = modelAt(s.params, data_.T);
    double tss = 0, chi = 0;
    for (size_t i = 0; i < data_.y.size(); ++i) {
      tss += (data_.y[i] - mean) * (data_.y[i] - mean);
      const double y = curve_.signal[i], f = fitted[i] * yScale_;
      chi += (y - f) * (y - f) / std::max(y, 1.0);
    }
    r.r2 = tss > 0 ? 1 - s.rss / tss : kNaN;
    r.parameters = parameters(modelsOf(s.params));
    const int dof = r.pointsUsed - r.parameters;
    r.reducedChiSquare = dof > 0 ? chi / dof : kNaN;
    r.iterations = iterations_.load();
    return r;
  }

  const GlowCurve& curve_;
  DeconvolutionOptions options_;
  const std::atomic<bool>* cancel_;
  int threads_ = 1;
  double yScale_ = 0;
  CurveData data_;
  std::vector<Candidate> candidates_[2];
  std::atomic<int> iterations_{0};
  std::atomic<int> runs_{0};
};

}  // namespace

bool HasShapeParameter(PeakModel model) {
  return model == PeakModel::GeneralOrder || model == PeakModel::MixedOrder || model == PeakModel::Continuous;
}

double ShapeParameter(const KineticPeak& peak) {
  KineticPeak copy = peak;
  return shapeOf(copy);
}

std::vector<double> PeakValues(const KineticPeak& peak, const std::vector<double>& kelvin) {
  const PeakShape shape(peak);
  std::vector<double> v(kelvin.size());
  for (size_t i = 0; i < kelvin.size(); ++i)
    v[i] = shape.at(kelvin[i], std::log(kelvin[i]), 1 / kelvin[i], false).value;
  return v;
}

double PeakValue(const KineticPeak& peak, double kelvin) {
  return PeakShape(peak).at(kelvin, std::log(kelvin), 1 / kelvin, false).value;
}

double FrequencyFactor(const KineticPeak& p, double heatingRate) {
  if (!(heatingRate > 0) || !(p.energy > 0) || !(p.tm > 0)) return kNaN;
  const double base = heatingRate * p.energy / (kB * p.tm * p.tm) * std::exp(p.energy / (kB * p.tm));
  const double deltaM = 2 * kB * p.tm / p.energy;
  switch (p.model) {
    case PeakModel::FirstOrder:
      return base;
    case PeakModel::Continuous:
      return heatingRate * std::exp(PeakShape(p).logFrequencyOverRate());
    case PeakModel::SecondOrder:
      return base / (1 + deltaM);
    case PeakModel::GeneralOrder:
      return base / (1 + (std::max(p.order, 1.0) - 1) * deltaM);
    case PeakModel::MixedOrder:
      return base * (1 - std::clamp(p.retrapping, 0.0, 1.0)) * PeakShape(p).mixedMaximumFactor();
  }
  return kNaN;
}

double BackgroundValue(const ExpBackground& b, double kelvin) {
  return b.offset + b.amplitude * std::exp((kelvin - b.endKelvin) / b.scale);
}

std::vector<double> DeconvolutionResult::ValuesAt(const std::vector<double>& kelvin) const {
  std::vector<double> v(kelvin.size(), 0.0);
  if (background)
    for (size_t i = 0; i < kelvin.size(); ++i) v[i] = BackgroundValue(*background, kelvin[i]);
  for (const FittedPeak& p : peaks) {
    const std::vector<double> peak = PeakValues(p.peak, kelvin);
    for (size_t i = 0; i < kelvin.size(); ++i) v[i] += peak[i];
  }
  return v;
}

double DeconvolutionResult::ValueAt(double kelvin) const {
  double v = background ? BackgroundValue(*background, kelvin) : 0;
  for (const FittedPeak& p : peaks) v += PeakValue(p.peak, kelvin);
  return v;
}

int DeconvolutionResult::DosimetricPeak() const {
  int best = -1;
  for (size_t i = 0; i < peaks.size(); ++i) {
    const double tm = peaks[i].peak.tm;
    if (window && (tm < window->first || tm > window->second)) continue;
    if (best < 0 || peaks[i].area > peaks[static_cast<size_t>(best)].area) best = static_cast<int>(i);
  }
  return best;
}

namespace {
struct ModelName {
  PeakModel model;
  const char* name;
};
constexpr ModelName kModelNames[] = {
    {PeakModel::FirstOrder, "first"},      {PeakModel::SecondOrder, "second"},
    {PeakModel::GeneralOrder, "general"},  {PeakModel::MixedOrder, "mixed"},
    {PeakModel::Continuous, "continuous"},
};
}  // namespace

QString PeakModelName(PeakModel model) {
  for (const ModelName& m : kModelNames)
    if (m.model == model) return QString::fromLatin1(m.name);
  return QString();
}

std::optional<PeakModel> PeakModelByName(const QString& name) {
  for (const ModelName& m : kModelNames)
    if (name == QLatin1String(m.name)) return m.model;
  return std::nullopt;
}

DeconvolutionResult Deconvolve(const GlowCurve& curve, const DeconvolutionOptions& options,
                               const std::atomic<bool>* cancel) {
  DeconvolutionOptions o = options;
  o.peaks = std::clamp(o.peaks, 0, kMaxPeaks);
  if (static_cast<int>(o.peakModels.size()) > kMaxPeaks) o.peakModels.resize(kMaxPeaks);
  if (static_cast<int>(o.start.size()) > kMaxPeaks) o.start.resize(kMaxPeaks);
  return Fitter(curve, o, cancel).run();
}

}  // namespace quelm
