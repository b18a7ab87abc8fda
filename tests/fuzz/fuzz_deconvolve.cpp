// Arbitrary blocks through the glow-curve fit: the curve keeps only usable
// points, a fit either gives peaks within their physical bounds or none with
// a reason, every fit ends within its budget of solver runs, and the texts
// of any result can be written.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "evaluation/Deconvolution.h"
#include "evaluation/DeconvolutionText.h"
#include "evaluation/GlowCurve.h"

using quelm::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  quelm::DeconvolutionOptions options;
  options.peaks = in.ConsumeIntegralInRange(0, quelm::kMaxFitPeaks);
  options.model = quelm::kPeakModels[in.ConsumeIntegralInRange<size_t>(0, std::size(quelm::kPeakModels) - 1)];
  options.background = in.ConsumeBool();
  options.threads = 1;
  // The mixed order and the distribution cost many times the others a
  // point: few of their peaks keep an input within the fuzzer's time.
  const bool costly =
      options.model == quelm::PeakModel::MixedOrder || options.model == quelm::PeakModel::Continuous;
  if (costly) options.peaks = std::min(options.peaks, 2);
  if (in.ConsumeBool() && options.peaks > 1)  // one model per peak
    for (int k = 0; k < options.peaks; ++k)
      options.peakModels.push_back(k % 2 ? quelm::PeakModel::FirstOrder : options.model);
  BlockRecord r;
  std::memset(&r, 0, sizeof r);
  const std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
  if (!bytes.empty()) std::memcpy(&r, bytes.data(), std::min(bytes.size(), sizeof r));

  const quelm::GlowCurve curve = quelm::GlowCurveOfBlock(r);
  require(curve.kelvin.size() + static_cast<size_t>(curve.leftOut.size()) == kChannelCount,
          "every channel is used or named");
  for (size_t i = 0; i < curve.kelvin.size(); ++i) {
    require(curve.kelvin[i] > 0 && curve.kelvin[i] <= quelm::kMaxCurveKelvin, "temperatures in range");
    require(i == 0 || curve.kelvin[i] > curve.kelvin[i - 1], "temperatures rise");
  }
  require(curve.heatingRate >= 0 && std::isfinite(curve.heatingRate), "a heating rate or none");

  const quelm::DeconvolutionResult fit = quelm::Deconvolve(curve, options);
  require(fit.iterations <= quelm::kMaxSolverRuns * quelm::kMaxFitIterations, "bounded work");
  // The texts of whatever came out.
  require(!quelm::DeconvolutionReport(QStringLiteral("fuzz"), curve, fit).isEmpty(), "a report");
  require(!quelm::DeconvolutionCsvRow(QStringLiteral("fuzz"), fit).isEmpty(), "a row");
  if (!fit.converged()) {
    require(fit.peaks.empty() && !fit.background && !fit.reason.isEmpty(), "no peaks, and why");
    return 0;
  }
  const int asked = options.peakModels.empty() ? options.peaks : static_cast<int>(options.peakModels.size());
  require(fit.peaks.size() == static_cast<size_t>(asked ? asked : fit.peakCount) && !fit.peaks.empty(),
          "the count asked or chosen");
  require(std::isfinite(fit.fom) && fit.fom >= 0, "a figure of merit");
  double shares = 0;
  for (const quelm::FittedPeak& p : fit.peaks) {
    require(p.peak.energy >= quelm::kMinEnergyEv && p.peak.energy <= quelm::kMaxEnergyEv, "E within bounds");
    require(p.peak.order >= quelm::kMinOrder && p.peak.order <= quelm::kMaxOrder, "b within bounds");
    if (p.peak.model == quelm::PeakModel::MixedOrder)
      require(p.peak.retrapping >= quelm::kMinRetrapping && p.peak.retrapping <= quelm::kMaxRetrapping,
              "R within bounds");
    if (p.peak.model == quelm::PeakModel::Continuous)
      require(p.peak.spread >= quelm::kMinSpreadEv && p.peak.spread <= quelm::kMaxSpreadEv,
              "sigma within bounds");
    const double beyond = quelm::kTmBeyondCurve * (curve.kelvin.back() - curve.kelvin.front());
    require(p.peak.tm >= curve.kelvin.front() - beyond && p.peak.tm <= curve.kelvin.back() + beyond,
            "Tm inside the curve or a little beyond");
    require(p.beyondCurve == (p.peak.tm < curve.kelvin.front() || p.peak.tm > curve.kelvin.back()),
            "Tm beyond the curve is told");
    require(std::isfinite(p.area) && p.area >= 0 && p.peak.im >= 0, "peaks are signal");
    for (const double e : {p.error.im, p.error.energy, p.error.tm})
      require(std::isnan(e) || e >= 0, "errors are no negative numbers");
    shares += p.share;
  }
  require(shares == 0 || std::fabs(shares - 100) < 1e-6, "shares add up");
  return 0;
}
