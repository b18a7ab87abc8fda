// Arbitrary blocks through the glow-curve fit: the curve keeps only usable
// points, a fit either gives peaks within their physical bounds or none with
// a reason, and every fit ends within its iteration budget.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "evaluation/Deconvolution.h"
#include "evaluation/GlowCurve.h"

using quelm::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  quelm::DeconvolutionOptions options;
  options.peaks = in.ConsumeIntegralInRange(0, quelm::kMaxFitPeaks);
  options.model = in.ConsumeBool() ? quelm::PeakModel::FirstOrder : quelm::PeakModel::GeneralOrder;
  options.background = in.ConsumeBool();
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

  const quelm::DeconvolutionResult fit = quelm::Deconvolve(curve, options);
  // Up to eight counts of up to four starts and the polish, each bounded.
  require(fit.iterations <= (quelm::kMaxFitPeaks * 4 + 1) * quelm::kMaxFitIterations, "bounded work");
  if (!fit.converged()) {
    require(fit.peaks.empty() && !fit.background && !fit.reason.isEmpty(), "no peaks, and why");
    return 0;
  }
  require(fit.peaks.size() == static_cast<size_t>(options.peaks ? options.peaks : fit.peakCount) &&
              !fit.peaks.empty(),
          "the count asked or chosen");
  require(std::isfinite(fit.fom) && fit.fom >= 0, "a figure of merit");
  double shares = 0;
  for (const quelm::FittedPeak& p : fit.peaks) {
    require(p.peak.energy >= quelm::kMinEnergyEv && p.peak.energy <= quelm::kMaxEnergyEv, "E within bounds");
    require(p.peak.order >= quelm::kMinOrder && p.peak.order <= quelm::kMaxOrder, "b within bounds");
    require(p.peak.tm >= curve.kelvin.front() && p.peak.tm <= curve.kelvin.back(), "Tm inside the curve");
    require(std::isfinite(p.area) && p.area >= 0 && p.peak.im >= 0, "peaks are signal");
    shares += p.share;
  }
  require(shares == 0 || std::fabs(shares - 100) < 1e-6, "shares add up");
  return 0;
}
