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
  if (e.normFactZero || !std::isfinite(e.measDose)) return std::nullopt;
  return e.measDose;
}

void ClampEvalMembers(EvalMembers& m) {
  m.evalStart = std::clamp(m.evalStart, 0, kChannelCount - 1);
  m.evalLength = std::clamp(m.evalLength, 1, kChannelCount - m.evalStart);
  m.cursorPos = std::clamp(m.cursorPos, 0, kChannelCount - 1);
  m.peakPos = std::clamp(m.peakPos, 0, kChannelCount - 1);
}
