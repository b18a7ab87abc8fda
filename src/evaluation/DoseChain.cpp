#include "evaluation/DoseChain.h"

#include <algorithm>
#include <cmath>

#include "measurement/RangeCode.h"

float CorrectionTemperature(const BlockRecord& record) {
  const float product = static_cast<float>(record.ReaderTemp) * 0.5f;
  const float t = product - 20.0f;
  return t;
}

double TempCorrect(const BlockRecord& record, double dose) {
  const float t = CorrectionTemperature(record);
  const float denominator = record.DTFA * t * t + record.DTFB * t + 1.0f;
  return dose / denominator;
}

double LinearityCorrect(const BlockRecord& record, double dose) {
  if (dose >= record.DLFN)
    return dose * record.DLFA * std::pow(dose / record.DLFN, static_cast<double>(record.DLFB));
  return dose;
}

DoseEvaluation EvaluateDose(const BlockRecord& record, int evalStart, int evalLength, double normFact) {
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

  e.normFactZero = normFact == 0;
  if (e.normFactZero) return e;
  e.bgDose = e.bgMean * 10 / normFact * evalLength;
  e.roiDose = e.roi * 10 / normFact;
  e.bgCorrDose = e.roiDose - e.bgDose;
  e.tCorrDose = TempCorrect(record, e.bgCorrDose);
  e.measDose = LinearityCorrect(record, e.tCorrDose);
  return e;
}
