#pragma once
// The texts of a deconvolution, from one table for the chart's peak table
// and the command line: the peak columns, the summary, the report and the
// spreadsheet row.

#include <QString>
#include <QStringList>

#include "evaluation/Deconvolution.h"

namespace quelm {

struct PeakColumn {
  const char* title;
  bool inChart;  // the chart's small table shows it
  QString (*text)(const FittedPeak& peak);
};
inline constexpr int kPeakColumnCount = 7;
extern const PeakColumn kPeakColumns[kPeakColumnCount];

// "FOM 1.23 %, R2 0.99912", or why no peaks are given.
QString FitSummaryText(const DeconvolutionResult& result);

// "general order, 3 peaks (chosen), background exponential"
QString FitSettingsText(const DeconvolutionResult& result);

// The command line's report: what was fitted, the points used and left out,
// the outcome, the peak table (tab-separated, with its title row), the
// background and the dosimetric peak.
QStringList DeconvolutionReport(const QString& title, const GlowCurve& curve,
                                const DeconvolutionResult& result);

// One row per curve for spreadsheets: decimal points whatever the user's
// settings, fields quoted where needed.
QString DeconvolutionCsvHeader();
QString DeconvolutionCsvRow(const QString& label, const DeconvolutionResult& result);

}  // namespace quelm
