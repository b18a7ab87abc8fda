#include "evaluation/DoseChain.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_roots.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <mutex>
#include <vector>

#include "measurement/RangeCode.h"

float CorrectionTemperature(const BlockRecord& record) {
  const float product = static_cast<float>(record.ReaderTemp) * 0.5f;
  const float t = product - 20.0f;
  return t;
}

double TempCorrect(const BlockRecord& record, double dose) {
  // Only t is a single; the polynomial is evaluated in double like the doses,
  // so that the correction adds no rounding of its own.
  const double t = CorrectionTemperature(record);
  const double denominator = double{record.DTFA} * t * t + double{record.DTFB} * t + 1.0;
  return dose / denominator;
}

double LinearityCorrect(const BlockRecord& record, double dose) {
  if (dose >= record.DLFN)
    return dose * record.DLFA * std::pow(dose / record.DLFN, static_cast<double>(record.DLFB));
  return dose;
}

bool UsableNormFact(double normFact) {
  return std::isfinite(normFact) && normFact >= std::numeric_limits<float>::min();
}

namespace {

// The doses at any factor, as the arithmetic gives them: the root finder
// below walks factors far beyond what a block keeps.
void chainDoses(const BlockRecord& record, int evalLength, double normFact, DoseEvaluation& e) {
  e.bgDose = e.bgMean * 10 / normFact * evalLength;
  e.roiDose = e.roi * 10 / normFact;
  e.bgCorrDose = e.roiDose - e.bgDose;
  e.tCorrDose = TempCorrect(record, e.bgCorrDose);
  e.measDose = LinearityCorrect(record, e.tCorrDose);
}

// What the window, the archive and the command line must never take for a
// dose: a number that is not finite, or one a single turns into infinity.
double asDose(double d) {
  return std::isfinite(static_cast<float>(d)) ? d : std::numeric_limits<double>::quiet_NaN();
}

DoseEvaluation windowSums(const BlockRecord& record, int evalStart, int evalLength) {
  DoseEvaluation e;
  double bgSum = 0;
  for (int i = 0; i < 3; ++i) bgSum += DecodeRangeWord(record.RawValues[i]).value;
  e.bgMean = bgSum / 3;

  e.peakPos = evalStart;
  uint32_t runningMax = 0;
  const int first = std::max(evalStart, 0);
  const int end = std::min(evalStart + evalLength, kChannelCount);
  for (int ch = first; ch < end; ++ch) {
    const uint32_t v = DecodeRangeWord(record.RawValues[ch + kAuxValueCount]).value;
    e.roi += v;
    if (v > runningMax) {
      runningMax = v;
      e.peakPos = ch;
    }
  }
  return e;
}

}  // namespace

DoseEvaluation EvaluateDose(const BlockRecord& record, int evalStart, int evalLength, double normFact) {
  DoseEvaluation e = windowSums(record, evalStart, evalLength);
  // A negative, infinite or not-a-number factor would turn the chain into a
  // dose that looks valid (0, or one of the wrong sign): it is no factor.
  e.normFactZero = !UsableNormFact(normFact);
  if (e.normFactZero) return e;
  chainDoses(record, evalLength, normFact, e);
  for (double* d : {&e.bgDose, &e.roiDose, &e.bgCorrDose, &e.tCorrDose, &e.measDose}) *d = asDose(*d);
  return e;
}

bool DecodeBlockValues(const BlockRecord& record, uint32_t values[kRawValueCount],
                       uint32_t ranges[kRawValueCount]) {
  bool fault = false;
  for (int i = 0; i < kRawValueCount; ++i) {
    const RangeDecoded d = DecodeRangeWord(record.RawValues[i]);
    values[i] = d.value;
    if (d.valid)
      ranges[i] = static_cast<uint32_t>(d.range);
    else
      fault = true;
  }
  return fault;
}

EvalMembers InitialEvalMembers(const BlockRecord& record, const uint32_t values[kRawValueCount]) {
  EvalMembers m;
  const int start = record.EVASTART;
  const int length = record.EVALEN;
  m.evalStart = start < 99 ? start : 0;
  m.evalLength = start + length <= 100 ? length : 1;
  if (m.evalLength < 1) m.evalLength = 1;  // an empty window would evaluate nothing
  m.normFact = std::min(static_cast<double>(record.EVANORM), kMaxInitialNormFact);

  uint32_t largest = 0;
  m.cursorPos = 0;
  for (int ch = m.evalStart; ch < m.evalStart + m.evalLength; ++ch) {
    const uint32_t v = values[ch + kAuxValueCount];
    if (v > largest) {
      largest = v;
      m.cursorPos = ch;
    }
  }
  m.peakPos = m.evalStart;
  return m;
}

std::optional<double> BlockDose(const BlockRecord& record) {
  uint32_t values[kRawValueCount] = {};
  uint32_t ranges[kRawValueCount] = {};
  DecodeBlockValues(record, values, ranges);
  const EvalMembers m = InitialEvalMembers(record, values);
  const DoseEvaluation e = EvaluateDose(record, m.evalStart, m.evalLength, m.normFact);
  if (e.normFactZero || std::isnan(e.measDose)) return std::nullopt;
  return e.measDose;
}

void ClampEvalMembers(EvalMembers& m) {
  m.evalStart = std::clamp(m.evalStart, 0, kChannelCount - 1);
  m.evalLength = std::clamp(m.evalLength, 1, kChannelCount - m.evalStart);
  m.cursorPos = std::clamp(m.cursorPos, 0, kChannelCount - 1);
  m.peakPos = std::clamp(m.peakPos, 0, kChannelCount - 1);
}

// --- The chain solved for the normalisation factor ------------------------

namespace {

struct NormFactRefusalEntry {
  NormFactRefusal refusal;
  const char* text;
};
constexpr NormFactRefusalEntry kNormFactRefusals[] = {
    {NormFactRefusal::None, ""},
    {NormFactRefusal::BadDose, "delivered dose not a number above 0"},
    {NormFactRefusal::NotFinite, "correction coefficients not finite"},
    {NormFactRefusal::NoSignal, "no signal above the background"},
    {NormFactRefusal::NoTemperature, "temperature correction 0 or negative"},
    {NormFactRefusal::Unreachable, "linearity correction never gives the dose"},
    {NormFactRefusal::Ambiguous, "linearity correction gives the dose at two factors"},
    {NormFactRefusal::OutOfRange, "factor outside what a table takes (above 0, up to 100000)"},
};

// Where the root finder looks: factors from about 1e-48 to 1e39, wider than
// a single holds, so that a factor out of range is told as such.
constexpr double kLowestLog = -110, kHighestLog = 90;
// Closer to a piece's end than this (in the logarithm of the factor) the
// chain's own rounding could put a point on the other piece.
constexpr double kEdge = 1e-12;
// How exactly a closed-form factor must give the dose back before it is
// taken; otherwise the root finder decides.
constexpr double kClosedFormCheck = 1e-9;

struct Chain {
  const BlockRecord& record;
  int start;
  int length;
  double dose;
  DoseEvaluation sums = windowSums(record, start, length);
  // Meas_Dose at the factor e^u, less the dose.
  double at(double u) const {
    DoseEvaluation e = sums;
    chainDoses(record, length, std::exp(u), e);
    return e.measDose - dose;
  }
};

double chainAt(double u, void* chain) { return static_cast<const Chain*>(chain)->at(u); }

// The root of the chain on [lo, hi] (logarithms of factors) where its two
// ends differ in sign: the best the bracket came to.
std::optional<double> brent(const Chain& chain, double lo, double hi) {
  static std::once_flag quiet;
  // GSL's default handler aborts the process; every status is checked here.
  std::call_once(quiet, [] { gsl_set_error_handler_off(); });
  gsl_function f{&chainAt, const_cast<Chain*>(&chain)};
  gsl_root_fsolver* s = gsl_root_fsolver_alloc(gsl_root_fsolver_brent);
  if (!s) return std::nullopt;
  std::optional<double> root;
  if (gsl_root_fsolver_set(s, &f, lo, hi) == GSL_SUCCESS) {
    for (int i = 0; i < 200; ++i) {
      if (gsl_root_fsolver_iterate(s) != GSL_SUCCESS) break;
      root = gsl_root_fsolver_root(s);
      // The logarithm to 1e-13 is the factor to 1e-13 relative; far from
      // 0 the logarithm's own last digits set the bound.
      const double a = gsl_root_fsolver_x_lower(s), b = gsl_root_fsolver_x_upper(s);
      if (gsl_root_test_interval(a, b, 1e-13, 1e-15) == GSL_SUCCESS) break;
    }
  }
  gsl_root_fsolver_free(s);
  return root;
}

// The root of one piece of the chain, [near, far] walked from its end at
// `near` outward in doubling steps: the chain is monotonic on a piece, so
// the first change of sign brackets its only root.
std::optional<double> pieceRoot(const Chain& chain, double nearEnd, double farEnd) {
  const double direction = farEnd > nearEnd ? 1 : -1;
  double previous = nearEnd + direction * kEdge * std::max(1.0, std::fabs(nearEnd));
  double fPrevious = chain.at(previous);
  for (double step = 1.0 / 64;; step *= 2) {
    double next = nearEnd + direction * step;
    if (direction * (next - farEnd) > 0) next = farEnd;
    const double fNext = chain.at(next);
    if (fPrevious == 0) return previous;
    if (std::isfinite(fPrevious) && std::isfinite(fNext) && (fPrevious < 0) != (fNext < 0))
      return direction > 0 ? brent(chain, previous, next) : brent(chain, next, previous);
    if (next == farEnd) return fNext == 0 ? std::optional(next) : std::nullopt;
    previous = next;
    fPrevious = fNext;
  }
}

}  // namespace

QString NormFactRefusalText(NormFactRefusal refusal) {
  for (const NormFactRefusalEntry& e : kNormFactRefusals)
    if (e.refusal == refusal) return QString::fromLatin1(e.text);
  return QString();
}

NormFactSolution SolveNormFact(const BlockRecord& record, int evalStart, int evalLength, double dose,
                               NormFactMethod method) {
  NormFactSolution s;
  const auto refuse = [&s](NormFactRefusal why) {
    s.refusal = why;
    return s;
  };
  if (!std::isfinite(dose) || dose <= 0) return refuse(NormFactRefusal::BadDose);
  const std::array<float, 5> coefficients = {record.DTFA, record.DTFB, record.DLFA, record.DLFB, record.DLFN};
  for (float c : coefficients)
    if (!std::isfinite(c)) return refuse(NormFactRefusal::NotFinite);

  // At the factor N the net signal is S/N and the temperature-corrected dose
  // c/N, with S and c the chain's values at N = 1.
  const DoseEvaluation one = EvaluateDose(record, evalStart, evalLength, 1.0);
  if (!(one.bgCorrDose > 0)) return refuse(NormFactRefusal::NoSignal);
  const double perDose = TempCorrect(record, 1.0);  // 1 / the temperature divisor
  if (!std::isfinite(perDose) || perDose <= 0) return refuse(NormFactRefusal::NoTemperature);
  const double c = one.tCorrDose;
  if (!std::isfinite(c) || c <= 0) return refuse(NormFactRefusal::NotFinite);

  const Chain chain{record, evalStart, evalLength, dose};
  const auto take = [&](double factor) {
    s.normFact = factor;
    // The factor goes into a table as a single, and a fresh evaluation caps
    // it at kMaxInitialNormFact: beyond either it would not be the one used.
    if (!UsableNormFact(static_cast<float>(factor)) || factor > kMaxInitialNormFact)
      s.refusal = NormFactRefusal::OutOfRange;
    return s;
  };

  const double limit = record.DLFN, a = record.DLFA, b = record.DLFB;
  if (method == NormFactMethod::Auto && limit > 0 && a > 0 && 1 + b != 0) {
    // Closed form of the pieces of LinearityCorrect: x below DLFN gives x,
    // x from DLFN on gives DLFA * x * (x / DLFN)^DLFB.
    std::vector<double> doses;
    if (dose < limit) doses.push_back(dose);
    const double x = limit * std::pow(dose / (a * limit), 1 / (1 + b));
    if (std::isfinite(x) && x >= limit) doses.push_back(x);
    if (doses.empty()) return refuse(NormFactRefusal::Unreachable);
    if (doses.size() > 1) return refuse(NormFactRefusal::Ambiguous);
    const double factor = c / doses.front();
    const double back = EvaluateDose(record, evalStart, evalLength, factor).measDose;
    if (std::fabs(back - dose) <= kClosedFormCheck * dose) return take(factor);
    // Rounding put the closed form on the other side of DLFN: the root
    // finder below settles it on the chain itself.
  }

  // The pieces in the logarithm u of the factor: the power piece where
  // c / N >= DLFN (u up to ln(c / DLFN)), the plain piece beyond. With a
  // limit of 0 or less every dose lies on the power piece.
  std::vector<double> roots;
  if (limit > 0) {
    const double boundary = std::clamp(std::log(c / limit), kLowestLog, kHighestLog);
    for (const double far : {kLowestLog, kHighestLog})
      if (far != boundary)
        if (const std::optional<double> u = pieceRoot(chain, boundary, far)) roots.push_back(*u);
  } else {
    // One piece: walked both ways from the factor without corrections.
    const double middle = std::clamp(std::log(c / dose), kLowestLog, kHighestLog);
    const std::optional<double> up = pieceRoot(chain, middle, kHighestLog);
    const std::optional<double> down = pieceRoot(chain, middle, kLowestLog);
    if (up) roots.push_back(*up);
    if (down && (!up || std::fabs(*down - *up) > 1e-9)) roots.push_back(*down);
    // Both walks step off `middle` before they look: a chain that corrects
    // nothing (DLFA 1, DLFB 0) has its root right there, between their
    // first points.
    if (!up && !down) {
      const double step = kEdge * std::max(1.0, std::fabs(middle));
      const double lo = middle - step, hi = middle + step;
      const double fLo = chain.at(lo), fHi = chain.at(hi);
      if (std::isfinite(fLo) && std::isfinite(fHi) && (fLo < 0) != (fHi < 0))
        if (const std::optional<double> u = brent(chain, lo, hi)) roots.push_back(*u);
    }
  }
  if (roots.empty()) return refuse(NormFactRefusal::Unreachable);
  if (roots.size() > 1) return refuse(NormFactRefusal::Ambiguous);
  return take(std::exp(roots.front()));
}
