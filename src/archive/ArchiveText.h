#pragma once
// The archive's texts, one home for the command line, the windows and the
// reports: result lines of imports and downloads, and the lists of
// read-outs and totals as plain text or comma-separated rows with ISO dates.

#include <QString>
#include <QStringList>

#include "archive/Archive.h"

namespace quelm {

// "FILE: N added, M already archived, K conflicting"
QString ImportLine(const QString& file, const ImportResult& result);
// "Archived: N added, M already archived"
QString DownloadArchivedLine(const ImportResult& result);
// "High dose: DOSIMETER VALUE µSv (block N, TIME)"
QString HighDoseLine(const ReadoutFields& readout);
// One conflicting record: which read-out, and that the archived one stays.
QString ConflictLine(const QString& where, const ReadoutFields& readout);

// A dose, rate or total in the lists: plain number, decimal point.
QString ArchiveNumber(double value, int decimals = 2);

// What the window and the printed reports show, in the user's regional
// settings: "1234,50 µSv", "12,5 %", a stored time in the user's date
// format with hours and minutes ("no time" when there is none).
QString DoseText(double usv);
QString DoseText(const std::optional<double>& usv);
QString ShareText(double percent);
QString LocalTimeText(const QString& storedTime);
QString LocalDateText(const QDateTime& time);

// The one message after a download whose new read-outs reached the
// notification level: a line per read-out (dosimeter, person if one wore
// it, dose, time). persons runs beside readouts.
QString HighDoseNotice(const std::vector<ReadoutFields>& readouts, const QStringList& persons, double level);

// history and alerts: readout_time,device_id,block_number,dosimeter,person,
// dose_usv,dose_rate_usv_h,exposure_h,error_codes
QString ReadoutCsvHeader();
QString ReadoutCsvRow(const ReadoutRow& row);
// The same columns tab-separated, times as "YYYY-MM-DD HH:MM".
QString ReadoutTextHeader();
QString ReadoutTextRow(const ReadoutRow& row);

// totals: person,quarter_to_date_usv,year_to_date_usv,lifetime_usv,readouts,annual_limit_usv
QString TotalsCsvHeader();
QString TotalsCsvRow(const PersonTotals& totals, double annualLimit);
QString TotalsTextHeader();
// Ends in "  annual limit reached" when the year's dose reached it.
QString TotalsTextRow(const PersonTotals& totals, double annualLimit);

}  // namespace quelm
