#pragma once
// Time in the dose archive: the reader's local time as a record holds it,
// without a zone, at minute resolution. It is carried as QDateTime in UTC
// only so that no zone or daylight saving shifts it; quarters and years
// begin at 00:00 of that clock. Stored as "YYYY-MM-DD HH:MM", which sorts as
// the time does.
//
// The one home of the archive's date input: the ISO form of the command
// line and the stored values, and the user's own date format in the window.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <optional>

namespace quelm {

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM" ('T' between them too). A date alone
// means its first minute, or its last one (23:59) as an upper bound, so
// that "--to 2024-03-31" takes in the whole day. Nothing when it is no date.
std::optional<QDateTime> ParseArchiveTime(const QString& text, bool upperBound);
// What an option that takes such a date says when it got something else.
QString ArchiveTimeHint();
// A date as the user writes it in the window: their date format, or
// YYYY-MM-DD.
std::optional<QDate> ParseUserDate(const QString& text);
// The same as a bound of a range: its first minute, or its last one.
std::optional<QDateTime> ParseUserBound(const QString& text, bool upperBound);
// A bound the user may leave empty for none: false when the text is neither
// empty nor a date (*out is then unset).
bool ParseOptionalUserBound(const QString& text, bool upperBound, std::optional<QDateTime>* out);
// The stored form "YYYY-MM-DD HH:MM".
QString ArchiveTimeText(const QDateTime& time);
// The wall clock now, as a reader time.
QDateTime ArchiveNow();
// The first minute of the quarter and of the year that hold `time`.
QDateTime QuarterStart(const QDateTime& time);
QDateTime YearStart(const QDateTime& time);

// A report's quarter ("2026Q3") or year ("2026"): its first and last minute.
struct ReportPeriod {
  QString label;
  QDateTime from;
  QDateTime to;  // inclusive last minute
};
std::optional<ReportPeriod> ParseReportPeriod(const QString& text);
// The quarter or the year that holds `time`.
ReportPeriod QuarterOf(const QDateTime& time);
ReportPeriod YearOf(const QDateTime& time);

// The year's dose as a share of the annual limit, in percent.
double AnnualLimitShare(double yearToDate, double annualLimit);

}  // namespace quelm
