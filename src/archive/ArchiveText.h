#pragma once
// The archive's texts, one home for the command line, the windows and the
// reports: result lines of imports and downloads, and the lists of
// read-outs, totals, persons and wear periods as tab-separated text or
// comma-separated rows with ISO dates. Text fields go through the one CSV
// and plain-text field writer (base/CsvText.h).

#include <QString>
#include <QStringList>
#include <cmath>

#include "archive/Archive.h"
#include "base/ListNotice.h"

namespace quelm {

// "FILE: N added, M already archived, K conflicting, R refused"
QString ImportLine(const QString& file, const ImportResult& result);
// "FILE: record N (byte B) refused: REASON"
QString RefusalLine(const QString& file, const ImportRefusal& refusal);
// "Archived: N added, M already archived"
QString DownloadArchivedLine(const ImportResult& result);
// "Dose archive WHERE: upgraded from schema version N to M (...)": what
// opening an older archive for writing did to it, also in its change log.
QString UpgradedLine(const QString& where, const QString& upgradeNote);
// "High dose: DOSIMETER VALUE µSv (block N, TIME)"
QString HighDoseLine(const ReadoutFields& readout);
// One conflicting record: which read-out, and that the archived one stays.
QString ConflictLine(const QString& where, const ReadoutFields& readout);
// "New person: ID NAME"
QString NewPersonLine(const Person& person);
// "DOSIMETER: ID NAME from TIME to TIME" ("on" for an open period)
QString PeriodLine(const WearPeriod& period);
// "N new persons, M new periods, K periods ended, L lines held already"
QString WearerListLine(const WearerListResult& result);

// A dose, rate or total in the lists: plain number, decimal point.
QString ArchiveNumber(double value, int decimals = 2);

// What the window and the printed reports show, in the user's regional
// settings. Doses switch units as the program's lists do, with their sign
// ("-28,18 µSv", "406,68 µSv", "2,500 mSv", "1,495 Sv"), so that a column
// of seven-digit doses stays narrow; "12,5 %"; a stored time in the user's
// date format with hours and minutes ("no time" when there is none).
QString DoseText(double usv);
QString DoseText(const std::optional<double>& usv);
// Whether two doses are one to the hundredth of a microsievert, the finest
// a document prints: what a signed figure is compared by.
inline bool SameDose(double a, double b) { return std::fabs(a - b) < 0.005; }
// Why a period is not signed while review items of it are open.
QString OpenItemsText(int open, const QString& period);
QString ShareText(double percent);
QString LocalTimeText(const QString& storedTime);
QString LocalDateText(const QDateTime& time);
// The stored times a message of the archive names ("2024-03-31 23:59"),
// written as the window writes them: a day's first or last minute (a wear
// period's bounds) as the date alone, others with hours and minutes.
QString LocalTimesIn(const QString& text);

// The one notice after a download whose new read-outs reached the
// notification level, counted in its title: a row per read-out (dosimeter,
// person if one wore it, dose, time, block), in the order given, sortable
// by each. persons runs beside readouts.
ListNotice HighDoseNotice(const std::vector<ReadoutFields>& readouts, const std::vector<Person>& persons,
                          double level);

// history and alerts: id,readout_time,device_id,block_number,dosimeter,
// person_id,person,dose_usv,recomputed_usv,dose_rate_usv_h,exposure_h,
// error_codes,status
QString ReadoutCsvHeader();
QString ReadoutCsvRow(const ReadoutRow& row);
// The same columns tab-separated, times as "YYYY-MM-DD HH:MM".
QString ReadoutTextHeader();
QString ReadoutTextRow(const ReadoutRow& row);

// totals: person_id,person,quarter_to_date_usv,year_to_date_usv,
// lifetime_usv,readouts,annual_limit_usv
QString TotalsCsvHeader();
QString TotalsCsvRow(const PersonTotals& totals, double annualLimit);
QString TotalsTextHeader();
// Ends in "  annual limit reached" when the year's dose reached it.
QString TotalsTextRow(const PersonTotals& totals, double annualLimit);

// persons: person_id,name
QString PersonCsvHeader();
QString PersonCsvRow(const Person& person);
QString PersonTextRow(const Person& person);

// periods: dosimeter,person_id,person,from,to (the end empty when open);
// also the columns of a wearer list, in its own order (WearerListHeader).
QString PeriodCsvHeader();
QString PeriodCsvRow(const WearPeriod& period);
QString PeriodTextRow(const WearPeriod& period);

// review: id,readout_time,dosimeter,person_id,person,dose_usv,why
QString ReviewCsvHeader();
QString ReviewCsvRow(const ReadoutRow& row);
QString ReviewTextRow(const ReadoutRow& row);
// "Read-out N: STATUS, dose of record D uSv"
QString ResolvedLine(qint64 id, const ResolveOutcome& outcome, Resolution resolution);

// log: time_utc,who,host,role,what,entity,old,new,reason
QString LogCsvHeader();
QString LogCsvRow(const LogEntry& entry);
QString LogTextRow(const LogEntry& entry);

// signed: period,signed_at,signed_by,sha256
QString SignedCsvHeader();
QString SignedCsvRow(const Signoff& signoff);
QString SignedTextRow(const Signoff& signoff);

// A wearer list: person_id,name,dosimeter,from,to with ISO dates (the end
// may be empty: open). Rows come with their line numbers; the first line
// that is no row of such a list is named in *error (nothing then).
QString WearerListHeader();
bool ParseWearerList(const QByteArray& text, std::vector<WearerListRow>* rows, QString* error);

}  // namespace quelm
