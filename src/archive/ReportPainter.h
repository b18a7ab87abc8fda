#pragma once
// The one painter of the dose reports and the dose chart. A report is
// painted page by page as PaginateReport laid it out, with real text, onto
// whatever paged device it is given: a PDF file (the window's "Save as
// PDF", quelm-cli archive report) or a printer (the window's "Print"). The
// dose chart is the same drawing in a report and in the archive window.
//
// The table's columns are sized here to their content, measured with the
// report's fonts at one resolution whatever the device: numbers and times
// keep one line, names and other texts wrap at words and after the hyphens
// of compound names (within a word only when a word alone is wider than the
// page allows, and then in the columns of the widest words first), and no
// text is ever cut short; a line of the page that is too long is set
// smaller.
//
// Text needs fonts, so a QGuiApplication must exist (the command line makes
// one on the offscreen platform for its report command).

#include <QPointF>
#include <QRectF>
#include <QString>

#include "archive/ArchiveReport.h"

class QFont;
class QPagedPaintDevice;
class QPaintDevice;
class QPainter;

namespace quelm {

// The table as it will be painted: each column's width and each row's lines.
struct ReportTableLayout {
  std::vector<double> widthsMm;
  std::vector<int> rowLines;
};
ReportTableLayout LayOutReportTable(const ReportDocument& document);
// The report's pages with its table laid out so.
std::vector<ReportPage> PaginateReport(const ReportDocument& document);

// Sets A4 without margins on the device and paints every page, counted in
// *pages when given. kOk, or kErrFileWrite when the device could not be
// painted on.
int PaintReport(const ReportDocument& document, QPagedPaintDevice& device, int* pages = nullptr);
// The report as a PDF file, written whole or not at all. kOk, kErrFileOpen
// (the file cannot be made), kErrFileWrite or kErrFileClose (it could not be
// flushed or put in place); *detail says which file, the system's reason is
// noted (takeFileFailure).
int WriteReportPdf(const ReportDocument& document, const QString& path, QString* detail,
                   int* pages = nullptr);
// The report's PDF bytes (what a sign-off stores).
int ReportPdf(const ReportDocument& document, QByteArray* pdf, int* pages = nullptr);
// PDF bytes into a file, whole or not at all, as WriteReportPdf.
int WritePdfFile(const QByteArray& pdf, const QString& path, QString* detail);

// The chart in `area` (device units) with the painter's font.
void PaintDoseChart(QPainter& painter, const QRectF& area, const DoseChartData& chart);
// The read-out (index into chart.points) whose bar is at pos; -1 for none.
int DoseChartPointAt(const QFont& font, QPaintDevice* device, const QRectF& area, const DoseChartData& chart,
                     const QPointF& pos);

}  // namespace quelm
