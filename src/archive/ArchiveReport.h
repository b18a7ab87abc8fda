#pragma once
// The printed dose records: a person's report for a quarter or a year, and
// the service summary of everybody for a period. Their content (lines,
// figures, rows, marks, chart) and their pages are made here once, from the
// archive's own calls; ReportPainter.h paints them onto a PDF file or a
// printer, the same for the window and the command line.
//
// Pages are laid out on A4 in millimetres with a fixed line pitch. The
// table's columns are as wide as their content (ReportPainter.h measures it
// with the report's fonts, the same for every device), and a cell too long
// for its column wraps onto further lines of the same pitch: where a page
// breaks depends on the content and those lines, never on a printer.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveLocation.h"

namespace quelm {

// The dose chart: one bar per read-out, the cumulative dose of its year
// as a line, and the annual limit.
struct DoseChartPoint {
  QDateTime time;
  double dose = 0;
  double yearCumulative = 0;  // since 1 January of its year, itself included
  bool high = false;          // at or above the notification level
  int row = -1;               // the read-out it came from (index into the rows given)
};
struct DoseChartData {
  std::vector<DoseChartPoint> points;
  QDateTime from, to;  // the time axis
  double annualLimit = 0;
  double notificationLevel = 0;
  double doseTop = 1;        // the dose axis (left) ends here
  double cumulativeTop = 1;  // the cumulative axis (right), the annual limit at least
};
// Read-outs with a time and a dose (conflicting records left out), in time
// order. The axis spans `range` when given, else the read-outs. The year
// line starts at yearDoseBefore: the dose of the first read-out's year
// before the rows begin.
DoseChartData MakeDoseChart(const std::vector<ReadoutRow>& rows, double annualLimit, double notificationLevel,
                            const std::optional<ReportPeriod>& range = std::nullopt,
                            double yearDoseBefore = 0);
// That dose for a person (or a dosimeter, when personId is empty): its
// year-to-date just before `time`, nothing when `time` opens the year.
int YearDoseBefore(DoseArchive& archive, const QString& personId, const QString& dosimeter,
                   const QDateTime& time, double* dose);

struct ReportColumn {
  QString title;
  bool right = false;  // numbers, right-aligned, never wrapped
  bool wrap = false;   // names and other texts that may take more lines
};
// The service summary's columns: mark, id, person, then its figures.
std::vector<ReportColumn> SummaryReportColumns();

struct ReportRow {
  QStringList cells;
  bool marked = false;  // drawn bold, with the mark in its first cell
};

struct ReportDocument {
  QString title;
  QStringList heading;                               // who, which period, the levels
  std::vector<std::pair<QString, QString>> figures;  // caption, value
  std::optional<DoseChartData> chart;
  std::optional<ControlChartData> controlChart;  // after the dose chart (the service summary's)
  std::vector<ReportColumn> columns;
  std::vector<ReportRow> rows;
  QString note;     // below the table: what the mark means, or that there is nothing
  QString printed;  // "Printed 02.10.2026 14:03"
};

namespace report {
inline constexpr double kPageWidth = 210, kPageHeight = 297;  // A4
inline constexpr double kMargin = 18;
inline constexpr double kTitleHeight = 12;
inline constexpr double kLineHeight = 5.5;  // heading and figures
inline constexpr double kGap = 4;
inline constexpr double kChartHeight = 72;
inline constexpr double kControlChartHeight = 70;
inline constexpr double kHeaderHeight = 7;  // the table's column header
inline constexpr double kRowHeight = 5;     // a row of one line
inline constexpr double kRowLineHeight = 4;  // each further line of a row
inline constexpr double kFooterHeight = 10;
inline constexpr double kBodyWidth = kPageWidth - 2 * kMargin;
inline constexpr double kBodyBottom = kPageHeight - kMargin - kFooterHeight;
}  // namespace report

// What one page holds. The first page has the title; the heading lines,
// the figures and the charts follow in that order, onto further pages when
// they need them (a corrected report's list of changes may be long), and
// then the rows. Every page with rows repeats the column header. Tops are
// in millimetres from the top of the page; -1 where the part is not on it.
struct ReportPage {
  int number = 1;
  bool heading = false;  // the title
  int firstHeadingLine = 0;
  int headingLines = 0;
  double figuresTop = -1;
  double chartTop = -1;
  double controlChartTop = -1;
  double tableTop = report::kMargin;  // the column header, or the note on a page without rows
  int firstRow = 0;
  int rowCount = 0;
  bool note = false;
};
// rowLines: the lines each row takes (missing or 0: one).
std::vector<ReportPage> PaginateReport(const ReportDocument& document, const std::vector<int>& rowLines);
// The height of a row of that many lines, in millimetres.
double ReportRowHeight(int lines);
// "Page 2 of 3"
QString PageFooter(int page, int pages);

// What the reports of one period read of the record alike, once for a run
// of them (a sign-off makes one for each person), so that the run's time
// follows the period rather than persons times the archive: the open
// review items, the period's last sign-off with its figures, and the
// figures now and the log rows stored since (read only when it was
// signed).
struct PeriodRecord {
  OpenReviewItems open;
  std::optional<Signoff> signoff;
  std::vector<SignedFigures> signedFigures;
  std::vector<SummaryRow> figures;
  ChangesAfterSignoff changes;
};
int ReadPeriodRecord(DoseArchive& archive, const ReportPeriod& period, PeriodRecord* record);

// The report of a person for a period: every read-out in it with its dose
// of record and what it counts, the period's dose and the totals at its
// end, the share of the annual limit, the high doses marked, the chart.
// The person's own open review items only.
// kErrArchiveNoPerson for an id the archive does not hold. Without
// `record`, the report reads it.
int BuildPersonReport(DoseArchive& archive, const QString& personId, const ReportPeriod& period,
                      const ArchiveSettings& settings, const QDateTime& printedAt, ReportDocument* document,
                      const PeriodRecord* record = nullptr);
// Everybody's dose in the period and totals at its end, highest dose first;
// the control chart of the period's batches when there are any; all open
// review items of the period.
int BuildSummaryReport(DoseArchive& archive, const ReportPeriod& period, const ArchiveSettings& settings,
                       const QDateTime& printedAt, ReportDocument* document,
                       const PeriodRecord* record = nullptr);

}  // namespace quelm
