#include "evaluation/BlockView.h"

#include <cmath>

#include "evaluation/BlockFormat.h"
#include "evaluation/NumberFormat.h"
#include "measurement/RangeCode.h"

namespace quelm {

const FieldDescriptor kHeaderFields[kHeaderFieldCount] = {
    {"DeviceID:", "", 0},     {"Dosimeter:", "", 0},     {"DateTime:", "", 0},      {"ErrorCodes:", "", 0},
    {"BlockNumber:", "", 1},  {"MeasPoints:", "", 1},    {"SamplingSpeed:", "", 1}, {"ReaderTemp:", "", 1},
    {"MeasuredDose:", "", 2}, {"Appr.DoseRate:", "", 2}, {"LastReadOut:", "", 2},   {"Exposure:", "", 2},
};

const FieldDescriptor kEvalFields[kEvalFieldCount] = {
    {"EvalStart [ch]:", "", 0},
    {"EvalLength [ch]:", "", 0},
    {"NormFact:", "", 0},
    {"StartPercent:", "", 0},
    {"StopPercent:", "", 0},
    {"PeakPos [ch]:", "", 1},
    {"PeakValue [cnt]:", "", 1},
    {"PeakTemp:", "", 1},
    {"CursorPos[ch]:", "", 1},
    {"CursorValue [cnt]:", "", 1},
    {"CursorTemp:", "", 1},
    {"ROI:", "", 2},
    {"ROI_Dose:", "(ROI * 10) / NormFact", 2},
    {"Bg_Dose:", "", 2},
    {"BgCorr_Dose:", "ROI_Dose - Bg_Dose", 2},
    {"TCorr_Dose:", "BgCorr_Dose / ((DTFA*(T-20)^2 + DTFB*(T-20) + 1) ", 2},
    {"Meas_Dose:",
     "if (TCorr_Dose > DLFN)  Meas_Dose=TCorr_Dose*DLFA*x^DLFB else  Meas_Dose=TCorr_Dose ; "
     "\"x = TCorr_Dose / DLFN\"",
     2},
};

namespace {

const QString kMicroSievert = QStringLiteral(" µSv");
const QString kDegrees = QStringLiteral(" 'C");
const QString kThreeBlanks = QStringLiteral("   ");
const QString kNotFiniteHint =
    QStringLiteral("No dose: the chain gives no finite number (see NormFact and the block's corrections)");

// Exposure, dose rate and last read-out: only for ordinary dosimeters whose
// block carries a valid time.
void fillReadOutTimes(const BlockRecord& r, HeaderView& h) {
  FieldText& exposure = h.values[hfExposure];
  FieldText& rate = h.values[hfDoseRate];
  FieldText& last = h.values[hfLastReadOut];
  if ((r.ErrorCodes & kClockFault) || IsSpecialDosimeter(r.BulbID)) return;

  const uint16_t e = r.Exposure;
  if (e == 0) {
    exposure.text = QStringLiteral("<0.1 h ");
    rate.text = QString(8, QLatin1Char(' '));
  } else if (e == 0xFFFF) {
    const auto hours = HoursSinceLastReadOut(r.DateTime, r.LRO);
    rate.text = hours ? formatHours(static_cast<double>(*hours)) : QStringLiteral("Not Available");
  } else {
    exposure.text = formatHours(e * 0.1);
    const float doseRate = r.DoseRate;
    rate.text = FormatDose(doseRate) + QStringLiteral("/h");
    rate.hint = formatFloat(doseRate, 2) + QStringLiteral(" µSv/h");
  }

  last.text = FormatReadOutTime(r.LRO);
}

}  // namespace

HeaderView MakeHeaderView(const BlockRecord& r) {
  HeaderView h;
  h.values[hfDeviceID].text = IdentifierText(r.DeviceID);
  h.values[hfDosimeter].text = IdentifierText(r.BulbID);

  const uint8_t flags = r.ErrorCodes;
  if (flags != 0) {
    h.values[hfErrorCodes].text = FormatErrorCodes(flags);
    h.values[hfErrorCodes].hint = ErrorCodesHint(flags);
    h.errorCodesCaptionHint = h.values[hfErrorCodes].hint;
  }

  if (flags & kClockFault)
    h.values[hfDateTime].text = QStringLiteral("-Not-available--  ");
  else
    h.values[hfDateTime].text = QString::asprintf("%04i.%02i.%02i %02i:%02i", r.DateTime[0] + 1900,
                                                  r.DateTime[1], r.DateTime[2], r.DateTime[3], r.DateTime[4]);

  h.values[hfBlockNumber].text = QString::number(uint16_t{r.BlockNumber});
  h.values[hfMeasPoints].text = QStringLiteral("106");
  h.values[hfSamplingSpeed].text = QString::number(r.SamplingSpeed * 10) + QStringLiteral(" ms");
  h.values[hfReaderTemp].text = formatFloat(r.ReaderTemp * 0.5, 1) + kDegrees;
  h.values[hfMeasuredDose].text = FormatDose(r.MeasuredDose);
  fillReadOutTimes(r, h);
  return h;
}

ValueTable MakeValueTable(const BlockRecord& r, const uint32_t values[kRawValueCount],
                          const uint32_t ranges[kRawValueCount]) {
  ValueTable t;
  for (int i = 0; i < kRawValueCount; ++i) {
    const int row = i % kValueTableRows;
    const int col = 4 * (i / kValueTableRows);
    // An invalid range code is shown as the word holds it; the stored code
    // would belong to an earlier block.
    const RangeDecoded d = DecodeRangeWord(r.RawValues[i]);
    const int range = d.valid ? static_cast<int>(ranges[i]) : d.range;
    if (i < kAuxValueCount) {
      t[row][col] = QString::asprintf("(%d)  %c:", range, 'A' + i);
    } else {
      const int channel = i - kAuxValueCount;
      t[row][col] = QString::asprintf("(%d)%3d:", range, channel);
      t[row][col + 2] = QString::asprintf("%6d", WholeDegrees(r.ChannelTemps[channel]));
    }
    t[row][col + 1] = QString::asprintf("%10ld", static_cast<long>(values[i]));
  }
  return t;
}

BlockView MakeBlockView(const BlockRecord& r, const uint32_t values[kRawValueCount],
                        const uint32_t ranges[kRawValueCount]) {
  BlockView v;
  v.header = MakeHeaderView(r);
  v.table = MakeValueTable(r, values, ranges);
  v.areaPoints.reserve(kAreaPointCount);
  v.tempPoints.reserve(kChannelCount);
  for (int ch = 0; ch < kChannelCount; ++ch) {
    v.areaPoints.emplace_back(ch, static_cast<double>(values[ch + kAuxValueCount]));
    v.tempPoints.emplace_back(ch, WholeDegrees(r.ChannelTemps[ch]));
  }
  v.areaPoints.emplace_back(kChannelCount - 1, 0.0);  // the filled area returns to zero at the right edge
  return v;
}

EvaluationView MakeEvaluationView(const BlockRecord& r, const uint32_t values[kRawValueCount],
                                  const EvalMembers& m) {
  EvaluationView v;
  v.windowFromX = m.evalStart + 1;
  v.windowToX = m.evalStart + m.evalLength;
  auto& f = v.values;
  f[efNormFact].text = formatFloat(m.normFact, 2);
  f[efEvalStart].text = QString::number(m.evalStart);
  f[efEvalLength].text = QString::number(m.evalLength);

  v.dose = EvaluateDose(r, m.evalStart, m.evalLength, m.normFact);
  v.peakPos = v.dose.peakPos;

  const uint32_t peak = values[v.peakPos + kAuxValueCount];
  if (peak != 0) {
    const double start = values[m.evalStart + kAuxValueCount] * 100.0 / peak;
    const double stop = values[m.evalStart + m.evalLength + kAuxValueCount - 1] * 100.0 / peak;
    f[efStartPercent].text = formatFixed(start, 3, 2) + QStringLiteral(" %");
    f[efStopPercent].text = formatFloat(stop, 2) + QStringLiteral(" %");
  } else {
    f[efStartPercent].text = kThreeBlanks;
    f[efStopPercent].text = kThreeBlanks;
  }

  f[efRoi].text = formatFloat(v.dose.roi, 2);
  f[efPeakPos].text = QString::number(v.peakPos);
  f[efPeakValue].text = QString::number(peak);
  f[efPeakTemp].text = QString::number(WholeDegrees(r.ChannelTemps[v.peakPos])) + kDegrees;

  auto dose = [](double d) {
    // FormatDose shows not-a-number as 0; here it is no dose at all.
    if (std::isnan(d)) return FieldText{QStringLiteral("ERR:NOT FINITE"), kNotFiniteHint};
    return FieldText{FormatDose(static_cast<float>(d)), formatGeneral(d, 4) + kMicroSievert};
  };
  if (v.dose.normFactZero) {
    const FieldText err{QStringLiteral("ERR:NF=0"), QString()};
    f[efRoiDose] = err;
    f[efMeasDose] = err;
  } else {
    f[efBgDose] = dose(v.dose.bgDose);
    f[efRoiDose] = dose(v.dose.roiDose);
    f[efBgCorrDose] = dose(v.dose.bgCorrDose);
    f[efTCorrDose] = dose(v.dose.tCorrDose);
    f[efMeasDose] = dose(v.dose.measDose);
  }

  f[efCursorPos].text = QString::number(m.cursorPos);
  f[efCursorTemp].text = QString::number(WholeDegrees(r.ChannelTemps[m.cursorPos])) + kDegrees;
  if (peak != 0) {
    const uint32_t cursor = values[m.cursorPos + kAuxValueCount];
    f[efCursorValue].text = QString::number(cursor) + QStringLiteral(" (") +
                            formatFloat(cursor * 100.0 / peak, 2) + QStringLiteral("%)");
  } else {
    f[efCursorValue].text = kThreeBlanks;
  }
  return v;
}

}  // namespace quelm
