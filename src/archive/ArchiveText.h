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
