#pragma once
// The texts of a deconvolution, from one table for the chart's panel and
// the command line: the peak columns, the summary, the warnings, the count
// criterion, the report and the spreadsheet row.

#include <QString>
#include <QStringList>

#include "evaluation/Deconvolution.h"

namespace quelm {

struct PeakColumn {
  // "%1" stands for the name of the models' fourth parameter (b, R, sigma).
  const char* title;
  const char* chartTitle;  // the chart's small table shows it so; nullptr: not at all
  QString (*text)(const FittedPeak& peak);
};
inline constexpr int kPeakColumnCount = 13;
extern const PeakColumn kPeakColumns[kPeakColumnCount];
QString PeakColumnTitle(const PeakColumn& column, const DeconvolutionResult& result, bool chart = false);

// "Standard errors: Tm ± 0.4 K, E ± 0.012 eV, b ± 0.05, Im ± 12": the
// chart's table shows them when the pointer rests on a peak's row.
QString PeakErrorsText(const FittedPeak& peak);

// A fit whose figure of merit is above this is no good fit.
inline constexpr double kFomWarningPercent = 2.5;

// "3 peaks", "1 peak".
QString PeakCountText(int count);

// "FOM 1.23 %, R² 0.99912" and "reduced χ² 1.05", or why no peaks are given.
QStringList FitSummaryLines(const DeconvolutionResult& result);

// "3 peaks (lowest BIC)", "3 peaks" when the count was given.
QString FitCountText(const DeconvolutionResult& result);

// "general order, 3 peaks (lowest BIC), background exponential"
QString FitSettingsText(const DeconvolutionResult& result);

// "245 + 12 exp((T - 575.8 K) / 30.0 K)"; empty without a background.
QString BackgroundText(const DeconvolutionResult& result);

// "2, 187.3 °C (the largest area inside the evaluation window 140.0 to
// 260.0 °C)"; "none: no peak inside the evaluation window ..." when none.
QString DosimetricPeakText(const DeconvolutionResult& result);

// Why the fit is not to be trusted as it stands: a figure of merit above
// kFomWarningPercent, parameters held at a bound, peaks not determined, a
// count whose fit did not converge. Empty for a sound fit.
QStringList FitWarnings(const DeconvolutionResult& result);

// The warnings in one short line for the chart's panel: "Warning: FOM
// 3.10 % above 2.5 %; peaks 2, 3 at bounds; peak 1 not determined"; empty
// for a sound fit.
QString FitWarningLine(const DeconvolutionResult& result);

// The criterion per count of an automatic count, one line each, the count
// chosen marked.
QStringList CountCriterionLines(const DeconvolutionResult& result);

// The command line's report: what was fitted, the points used and left out,
// the outcome, the criterion per count, the peak table (tab-separated, with
// its title row), the background, the dosimetric peak and the warnings.
QStringList DeconvolutionReport(const QString& title, const GlowCurve& curve,
                                const DeconvolutionResult& result);

// One row per curve for spreadsheets: decimal points whatever the user's
// settings, fields quoted where needed.
QString DeconvolutionCsvHeader();
QString DeconvolutionCsvRow(const QString& label, const DeconvolutionResult& result);

}  // namespace quelm
