#include "evaluation/DeconvolutionText.h"

#include "base/NumberFormat.h"

namespace quelm {

namespace {

double celsius(const FittedPeak& p) { return p.peak.tm - kKelvinAtZeroCelsius; }

QString csvField(const QString& text) {
  if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
      !text.contains(QLatin1Char('\n')))
    return text;
  QString quoted = text;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString plain(double v, int decimals) { return QString::number(v, 'f', decimals); }

}  // namespace

const PeakColumn kPeakColumns[kPeakColumnCount] = {
    {"Tm 'C", true, [](const FittedPeak& p) { return formatFloat(celsius(p), 1); }},
    {"Tm K", false, [](const FittedPeak& p) { return formatFloat(p.peak.tm, 1); }},
    {"E eV", true, [](const FittedPeak& p) { return formatFloat(p.peak.energy, 3); }},
    {"b", true, [](const FittedPeak& p) { return formatFloat(p.peak.order, 2); }},
    {"Im", false, [](const FittedPeak& p) { return formatFloat(p.peak.im, 0); }},
    {"Area", false, [](const FittedPeak& p) { return formatFloat(p.area, 0); }},
    {"Share %", true, [](const FittedPeak& p) { return formatFloat(p.share, 1); }},
};

QString FitSummaryText(const DeconvolutionResult& r) {
  if (!r.converged()) return QStringLiteral("No peaks: ") + r.reason;
  return QStringLiteral("FOM %1 %, R2 %2").arg(formatFloat(r.fom, 2), formatFloat(r.r2, 5));
}

QString FitSettingsText(const DeconvolutionResult& r) {
  const QString model = r.options.model == PeakModel::FirstOrder ? QStringLiteral("first order")
                                                                 : QStringLiteral("general order");
  const QString count = r.options.peaks > 0 ? QStringLiteral("%1 peaks").arg(r.options.peaks)
                        : r.converged()     ? QStringLiteral("%1 peaks (chosen)").arg(r.peakCount)
                                            : QStringLiteral("peak count chosen");
  return QStringLiteral("%1, %2, background %3")
      .arg(model, count, r.options.background ? QStringLiteral("exponential") : QStringLiteral("none"));
}

QStringList DeconvolutionReport(const QString& title, const GlowCurve& curve, const DeconvolutionResult& r) {
  QStringList lines;
  lines << title + QStringLiteral(": ") + FitSettingsText(r);
  lines << QStringLiteral("Points used: %1 (%2 left out)").arg(r.pointsUsed).arg(curve.leftOut.size());
  for (const QString& why : curve.leftOut) lines << QStringLiteral("  left out: ") + why;
  if (!r.converged()) {
    lines << QStringLiteral("Converged: no (%1)").arg(r.reason);
    return lines;
  }
  lines << QStringLiteral("Converged: yes");
  lines << QStringLiteral("FOM: %1 %").arg(formatFloat(r.fom, 2));
  lines << QStringLiteral("R2: %1").arg(formatFloat(r.r2, 5));
  QStringList titles{QStringLiteral("Peak")};
  for (const PeakColumn& c : kPeakColumns) titles << QString::fromLatin1(c.title);
  lines << titles.join(QLatin1Char('\t'));
  for (size_t i = 0; i < r.peaks.size(); ++i) {
    QStringList cells{QString::number(i + 1)};
    for (const PeakColumn& c : kPeakColumns) cells << c.text(r.peaks[i]);
    lines << cells.join(QLatin1Char('\t'));
  }
  if (r.background)
    lines << QStringLiteral("Background: %1 at %2 K, rising e-fold in %3 K")
                 .arg(formatFloat(r.background->amplitude, 0), formatFloat(r.background->endKelvin, 1),
                      formatFloat(r.background->scale, 1));
  lines << QStringLiteral("Dosimetric peak: %1").arg(r.DosimetricPeak() + 1);
  return lines;
}

QString DeconvolutionCsvHeader() {
  return QStringLiteral(
      "block,converged,peaks,fom_pct,r2,points,dosimetric_tm_c,dosimetric_e_ev,dosimetric_b,"
      "dosimetric_share_pct,reason");
}

QString DeconvolutionCsvRow(const QString& label, const DeconvolutionResult& r) {
  QStringList f{csvField(label), r.converged() ? QStringLiteral("yes") : QStringLiteral("no")};
  if (r.converged()) {
    const FittedPeak& d = r.peaks[static_cast<size_t>(r.DosimetricPeak())];
    f << QString::number(r.peaks.size()) << plain(r.fom, 3) << plain(r.r2, 6) << QString::number(r.pointsUsed)
      << plain(celsius(d), 1) << plain(d.peak.energy, 4) << plain(d.peak.order, 3) << plain(d.share, 2)
      << QString();
  } else {
    f << QString() << QString() << QString() << QString::number(r.pointsUsed) << QString() << QString()
      << QString() << QString() << csvField(r.reason);
  }
  return f.join(QLatin1Char(','));
}

}  // namespace quelm
