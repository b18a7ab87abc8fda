#include "evaluation/DeconvolutionText.h"

#include <cmath>

#include "base/CsvText.h"
#include "base/NumberFormat.h"

namespace quelm {

namespace {

double celsius(double kelvin) { return kelvin - kKelvinAtZeroCelsius; }

QString plain(double v, int decimals) {
  return std::isfinite(v) ? QString::number(v, 'f', decimals) : QString();
}

// A standard error; "-" where the fit did not determine it (held at a
// bound, or a parameter the model fixes).
QString error(double v, int decimals) {
  return std::isfinite(v) ? formatFloat(v, decimals) : QStringLiteral("-");
}

// The models' fourth parameter: its name, its decimals.
struct ShapeName {
  PeakModel model;
  const char* name;
  int decimals;
};
constexpr ShapeName kShapeNames[] = {
    {PeakModel::FirstOrder, "b", 2}, {PeakModel::SecondOrder, "b", 2},   {PeakModel::GeneralOrder, "b", 2},
    {PeakModel::MixedOrder, "R", 3}, {PeakModel::Continuous, "σ eV", 3},
};

const ShapeName& shapeName(PeakModel m) {
  for (const ShapeName& s : kShapeNames)
    if (s.model == m) return s;
  return kShapeNames[0];
}

QString shapeText(const FittedPeak& p) {
  return formatFloat(ShapeParameter(p.peak), shapeName(p.peak.model).decimals);
}

QString shapeError(const FittedPeak& p) {
  return error(ShapeParameter(p.error), shapeName(p.peak.model).decimals);
}

QString modelText(PeakModel m) {
  switch (m) {
    case PeakModel::FirstOrder:
      return QStringLiteral("first order");
    case PeakModel::SecondOrder:
      return QStringLiteral("second order");
    case PeakModel::GeneralOrder:
      return QStringLiteral("general order");
    case PeakModel::MixedOrder:
      return QStringLiteral("mixed order");
    case PeakModel::Continuous:
      return QStringLiteral("continuous distribution of E");
  }
  return QString();
}

// The models of the fit: one for all, or one per peak.
std::vector<PeakModel> modelsOf(const DeconvolutionResult& r) {
  std::vector<PeakModel> out;
  if (r.converged())
    for (const FittedPeak& p : r.peaks) out.push_back(p.peak.model);
  else if (!r.options.start.empty())
    for (const KineticPeak& p : r.options.start) out.push_back(p.model);
  else
    out = r.options.peakModels;
  return out;
}

bool oneModel(const std::vector<PeakModel>& models) {
  for (PeakModel m : models)
    if (m != models.front()) return false;
  return true;
}

QString windowText(const std::pair<double, double>& w) {
  return QStringLiteral("%1 to %2 °C")
      .arg(formatFloat(celsius(w.first), 1), formatFloat(celsius(w.second), 1));
}

// Names of a peak's parameters by the bits of FittedPeak::atBound.
QString parameterName(unsigned bit, PeakModel model) {
  switch (bit) {
    case kParamIm:
      return QStringLiteral("Im");
    case kParamEnergy:
      return QStringLiteral("E");
    case kParamTm:
      return QStringLiteral("Tm");
    default:
      return QString::fromUtf8(shapeName(model).name).section(QLatin1Char(' '), 0, 0);
  }
}

}  // namespace

const PeakColumn kPeakColumns[kPeakColumnCount] = {
    {"Tm °C", "Tm °C", [](const FittedPeak& p) { return formatFloat(celsius(p.peak.tm), 1); }},
    {"Tm K", nullptr, [](const FittedPeak& p) { return formatFloat(p.peak.tm, 1); }},
    {"± K", nullptr, [](const FittedPeak& p) { return error(p.error.tm, 1); }},
    {"E eV", "E eV", [](const FittedPeak& p) { return formatFloat(p.peak.energy, 3); }},
    {"± eV", nullptr, [](const FittedPeak& p) { return error(p.error.energy, 3); }},
    {"%1", "%1", shapeText},
    {"± %1", nullptr, shapeError},
    {"s 1/s", nullptr,
     [](const FittedPeak& p) {
       return std::isfinite(p.frequency) ? formatGeneral(p.frequency, 3) : QStringLiteral("-");
     }},
    {"Im", nullptr, [](const FittedPeak& p) { return formatFloat(p.peak.im, 0); }},
    {"± Im", nullptr, [](const FittedPeak& p) { return error(p.error.im, 0); }},
    {"Area", nullptr, [](const FittedPeak& p) { return formatFloat(p.area, 0); }},
    {"Share %", "%", [](const FittedPeak& p) { return formatFloat(p.share, 1); }},
    {"Model", nullptr, [](const FittedPeak& p) { return PeakModelName(p.peak.model); }},
};

QString PeakErrorsText(const FittedPeak& p) {
  QString text = QStringLiteral("Standard errors: Tm ± %1 K, E ± %2 eV")
                     .arg(error(p.error.tm, 1), error(p.error.energy, 3));
  if (HasShapeParameter(p.peak.model))
    text += QStringLiteral(", %1 ± %2")
                .arg(QString::fromUtf8(shapeName(p.peak.model).name).section(QLatin1Char(' '), 0, 0),
                     shapeError(p));
  return text + QStringLiteral(", Im ± %1").arg(error(p.error.im, 0));
}

QString PeakColumnTitle(const PeakColumn& column, const DeconvolutionResult& result, bool chart) {
  const QString title = QString::fromUtf8(chart && column.chartTitle ? column.chartTitle : column.title);
  if (!title.contains(QStringLiteral("%1"))) return title;
  const std::vector<PeakModel> models = modelsOf(result);
  QStringList names;
  for (PeakModel m : models) {
    const QString name = QString::fromUtf8(shapeName(m).name);
    if (!names.contains(name)) names << name;
  }
  return title.arg(names.isEmpty() ? QStringLiteral("b") : names.join(QLatin1Char('/')));
}

QString PeakCountText(int count) {
  return count == 1 ? QStringLiteral("1 peak") : QStringLiteral("%1 peaks").arg(count);
}

QStringList FitSummaryLines(const DeconvolutionResult& r) {
  if (!r.converged()) return {QStringLiteral("No peaks: ") + r.reason};
  QStringList lines{QStringLiteral("FOM %1 %, R² %2").arg(formatFloat(r.fom, 2), formatFloat(r.r2, 5))};
  if (std::isfinite(r.reducedChiSquare))
    lines << QStringLiteral("reduced χ² %1").arg(formatGeneral(r.reducedChiSquare, 3));
  return lines;
}

QString FitCountText(const DeconvolutionResult& r) {
  if (r.options.peaks > 0 || !r.options.peakModels.empty() || !r.options.start.empty())
    return PeakCountText(r.peakCount);
  if (!r.converged()) return QStringLiteral("peak count by BIC");
  return PeakCountText(r.peakCount) +
         (r.peakCount == r.suggestedCount ? QStringLiteral(" (lowest BIC)") : QStringLiteral(" (BIC)"));
}

QString FitSettingsText(const DeconvolutionResult& r) {
  const std::vector<PeakModel> models = modelsOf(r);
  QString model;
  if (models.empty() || oneModel(models)) {
    model = modelText(models.empty() ? r.options.model : models.front());
  } else {
    QStringList names;
    for (PeakModel m : models) names << PeakModelName(m);
    model = QStringLiteral("models ") + names.join(QStringLiteral(", "));
  }
  return QStringLiteral("%1, %2, background %3")
      .arg(model, FitCountText(r),
           r.options.background ? QStringLiteral("exponential") : QStringLiteral("none"));
}

QString BackgroundText(const DeconvolutionResult& r) {
  if (!r.background) return QString();
  const ExpBackground& b = *r.background;
  return QStringLiteral("%1 + %2 exp((T - %3 K) / %4 K)")
      .arg(formatFloat(b.offset, 0), formatFloat(b.amplitude, 0), formatFloat(b.endKelvin, 1),
           formatFloat(b.scale, 1));
}

QString DosimetricPeakText(const DeconvolutionResult& r) {
  const int d = r.DosimetricPeak();
  if (d < 0)
    return r.window
               ? QStringLiteral("none: no peak inside the evaluation window %1").arg(windowText(*r.window))
               : QStringLiteral("none");
  const QString peak = QStringLiteral("%1, %2 °C")
                           .arg(d + 1)
                           .arg(formatFloat(celsius(r.peaks[static_cast<size_t>(d)].peak.tm), 1));
  return r.window ? peak + QStringLiteral(" (the largest area inside the evaluation window %1)")
                               .arg(windowText(*r.window))
                  : peak + QStringLiteral(" (the largest area)");
}

QStringList FitWarnings(const DeconvolutionResult& r) {
  QStringList out;
  if (!r.converged()) return out;
  if (r.suggestedCount > 0 && r.peakCount != r.suggestedCount)
    out << QStringLiteral("the fit of %1 (lowest BIC) did not converge; %2 shown")
               .arg(PeakCountText(r.suggestedCount), PeakCountText(r.peakCount));
  if (r.fom > kFomWarningPercent)
    out << QStringLiteral("FOM %1 % is above %2 %")
               .arg(formatFloat(r.fom, 2), formatFloat(kFomWarningPercent, 1));
  for (size_t i = 0; i < r.peaks.size(); ++i) {
    const FittedPeak& p = r.peaks[i];
    QStringList held;
    for (unsigned bit : {kParamIm, kParamEnergy, kParamTm, kParamShape})
      if (p.atBound & bit) held << parameterName(bit, p.peak.model);
    if (!held.isEmpty())
      out << QStringLiteral("peak %1: %2 at the bound of %3")
                 .arg(i + 1)
                 .arg(held.join(QStringLiteral(", ")),
                      held.size() == 1 ? QStringLiteral("its range") : QStringLiteral("their ranges"));
    if (p.undetermined)
      out << QStringLiteral(
                 "peak %1 is not determined (parameters correlated above %2 or errors larger than the "
                 "values)")
                 .arg(i + 1)
                 .arg(formatFloat(kUndeterminedCorrelation, 2));
  }
  QStringList background;
  if (r.backgroundAtBound & kBackgroundOffset) background << QStringLiteral("offset");
  if (r.backgroundAtBound & kBackgroundAmplitude) background << QStringLiteral("amplitude");
  if (r.backgroundAtBound & kBackgroundScale) background << QStringLiteral("rise");
  if (!background.isEmpty())
    out << QStringLiteral("background: %1 at the bound of %2")
               .arg(background.join(QStringLiteral(", ")),
                    background.size() == 1 ? QStringLiteral("its range") : QStringLiteral("their ranges"));
  return out;
}

QString FitWarningLine(const DeconvolutionResult& r) {
  if (!r.converged()) return QString();
  QStringList parts;
  if (r.suggestedCount > 0 && r.peakCount != r.suggestedCount)
    parts
        << QStringLiteral("the fit of %1 (lowest BIC) did not converge").arg(PeakCountText(r.suggestedCount));
  if (r.fom > kFomWarningPercent)
    parts << QStringLiteral("FOM %1 % above %2 %")
                 .arg(formatFloat(r.fom, 2), formatFloat(kFomWarningPercent, 1));
  QStringList held, undetermined, beyond;
  for (size_t i = 0; i < r.peaks.size(); ++i) {
    if (r.peaks[i].atBound) held << QString::number(i + 1);
    if (r.peaks[i].beyondCurve) beyond << QString::number(i + 1);
    if (r.peaks[i].undetermined) undetermined << QString::number(i + 1);
  }
  const auto peaks = [](const QStringList& list) {
    return (list.size() == 1 ? QStringLiteral("peak ") : QStringLiteral("peaks ")) +
           list.join(QStringLiteral(", "));
  };
  if (!held.isEmpty()) parts << peaks(held) + QStringLiteral(" at bounds");
  if (!beyond.isEmpty()) parts << peaks(beyond) + QStringLiteral(" outside the curve");
  if (r.backgroundAtBound) parts << QStringLiteral("background at a bound");
  if (!undetermined.isEmpty()) parts << peaks(undetermined) + QStringLiteral(" not determined");
  return parts.isEmpty() ? QString() : QStringLiteral("Warning: ") + parts.join(QStringLiteral("; "));
}

QStringList CountCriterionLines(const DeconvolutionResult& r) {
  QStringList lines;
  for (const CountCriterion& c : r.criteria) {
    QString line = PeakCountText(c.peaks) + QStringLiteral(": ");
    line += c.converged ? QStringLiteral("BIC %1, FOM %2 %").arg(formatFloat(c.bic, 1), formatFloat(c.fom, 2))
                        : QStringLiteral("did not converge");
    if (c.peaks == r.suggestedCount) line += QStringLiteral("  (lowest)");
    lines << line;
  }
  return lines;
}

QStringList DeconvolutionReport(const QString& title, const GlowCurve& curve, const DeconvolutionResult& r) {
  QStringList lines;
  lines << title + QStringLiteral(": ") + FitSettingsText(r);
  lines << QStringLiteral("Points used: %1 (%2 left out)").arg(r.pointsUsed).arg(curve.leftOut.size());
  for (const QString& why : curve.leftOut) lines << QStringLiteral("  left out: ") + why;
  if (!curve.windowNote.isEmpty()) lines << QStringLiteral("Evaluation window: ") + curve.windowNote;
  lines << (r.heatingRate > 0 ? QStringLiteral("Heating rate: %1 K/s").arg(formatFloat(r.heatingRate, 2))
                              : QStringLiteral("Heating rate: unknown (no frequency factors)"));
  if (!r.criteria.empty()) {
    lines << QStringLiteral("BIC by peak count (counting statistics; the counts stop where it rises):");
    for (const QString& line : CountCriterionLines(r)) lines << QStringLiteral("  ") + line;
  }
  if (!r.converged()) {
    lines << QStringLiteral("Converged: no (%1)").arg(r.reason);
    return lines;
  }
  lines << QStringLiteral("Converged: yes");
  lines << QStringLiteral("FOM: %1 %").arg(formatFloat(r.fom, 2));
  lines << QStringLiteral("R²: %1").arg(formatFloat(r.r2, 5));
  lines << QStringLiteral("Reduced χ²: %1")
               .arg(std::isfinite(r.reducedChiSquare) ? formatGeneral(r.reducedChiSquare, 4)
                                                      : QStringLiteral("-"));
  const std::vector<PeakModel> models = modelsOf(r);
  const bool perPeak = !oneModel(models);
  QStringList titles{QStringLiteral("Peak")};
  for (const PeakColumn& c : kPeakColumns)
    if (perPeak || QString::fromUtf8(c.title) != QStringLiteral("Model")) titles << PeakColumnTitle(c, r);
  lines << titles.join(QLatin1Char('\t'));
  for (size_t i = 0; i < r.peaks.size(); ++i) {
    QStringList cells{QString::number(i + 1)};
    for (const PeakColumn& c : kPeakColumns)
      if (perPeak || QString::fromUtf8(c.title) != QStringLiteral("Model")) cells << c.text(r.peaks[i]);
    lines << cells.join(QLatin1Char('\t'));
  }
  if (r.background) {
    const ExpBackground& e = r.backgroundError;
    lines << QStringLiteral("Background: %1 (± %2, %3, %4 K)")
                 .arg(BackgroundText(r), error(e.offset, 0), error(e.amplitude, 0), error(e.scale, 1));
  }
  lines << QStringLiteral("Dosimetric peak: ") + DosimetricPeakText(r);
  for (const QString& w : FitWarnings(r)) lines << QStringLiteral("Warning: ") + w;
  return lines;
}

QString DeconvolutionCsvHeader() {
  return QStringLiteral(
      "block,converged,peaks,fom_pct,r2,points,dosimetric_tm_c,dosimetric_e_ev,dosimetric_b,"
      "dosimetric_share_pct,reason,reduced_chi2,warnings");
}

QString DeconvolutionCsvRow(const QString& label, const DeconvolutionResult& r) {
  QStringList f{CsvField(label), r.converged() ? QStringLiteral("yes") : QStringLiteral("no")};
  if (r.converged()) {
    f << QString::number(r.peaks.size()) << plain(r.fom, 3) << plain(r.r2, 6)
      << QString::number(r.pointsUsed);
    const int d = r.DosimetricPeak();
    if (d >= 0) {
      const FittedPeak& p = r.peaks[static_cast<size_t>(d)];
      f << plain(celsius(p.peak.tm), 1) << plain(p.peak.energy, 4) << plain(ShapeParameter(p.peak), 3)
        << plain(p.share, 2);
    } else {
      f << QString() << QString() << QString() << QString();
    }
    f << QString() << plain(r.reducedChiSquare, 4) << CsvField(FitWarnings(r).join(QStringLiteral("; ")));
  } else {
    f << QString() << QString() << QString() << QString::number(r.pointsUsed) << QString() << QString()
      << QString() << QString() << CsvField(r.reason) << QString() << QString();
  }
  return f.join(QLatin1Char(','));
}

}  // namespace quelm
