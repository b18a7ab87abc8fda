#pragma once
// The one painter of the control chart: in the service summary, in
// quelm-cli archive controls chart, and in the archive window alike. Each
// kind of control (ratio, background) is a panel of its own, stacked in
// the area given: the batches in order as points (within limits, beyond 2
// standard deviations, out of limits), and the mean with +-2 and +-3
// standard deviations each batch was held against, as steps; the fixed
// tolerance, when one is set, as lines of its own.
//
// Text needs fonts, so a QGuiApplication must exist.

#include <QRectF>
#include <QStringList>

#include "archive/Controls.h"

class QPainter;

namespace quelm {

void PaintControlChart(QPainter& painter, const QRectF& area, const ControlChartData& chart);

// The chart alone on an A4 page in landscape: "Control chart", the heading
// lines, the chart and its note. As WriteReportPdf: written whole or not
// at all; kOk, kErrFileOpen or kErrFileWrite, *detail naming the file.
int WriteControlChartPdf(const ControlChartData& chart, const QStringList& heading, const QString& path,
                         QString* detail);

}  // namespace quelm
