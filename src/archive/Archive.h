#pragma once
// The dose archive: every read-out that reached a data file, kept in a
// database over decades, and the dose record of each person drawn from it.
//
// One schema on SQLite and PostgreSQL, created and upgraded by the numbered
// migrations in Archive.cpp; the version is stored in the database and an
// older program refuses a newer one. Every rule lives here, for the command
// line and the windows alike: what identifies a read-out, duplicates and
// conflicts, wear periods and who a dose belongs to, totals at a date,
// alerts, and the check of what is stored.
//
// Times are the reader's local time as the record holds it, without a zone,
// at minute resolution. They are carried as QDateTime in UTC only so that
// no zone or daylight saving shifts them; quarters and years begin at
// 00:00 of that clock.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "archive/ArchiveLocation.h"
#include "measurement/BlockRecord.h"

namespace quelm {

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM" ('T' between them too). A date alone
// means its first minute, or its last one (23:59) as an upper bound, so
// that "--to 2024-03-31" takes in the whole day. Nothing when it is no date.
std::optional<QDateTime> ParseArchiveTime(const QString& text, bool upperBound);
// The stored form "YYYY-MM-DD HH:MM" (sorts as the time does).
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

// What the archive keeps beside the record's bytes, all taken from them.
struct ReadoutFields {
  // Reader, block number, read-out time bytes and dosimeter, byte for
  // byte: a read-out archived twice has the same key.
  QByteArray key;
  QString deviceId;
  int blockNumber = 0;
  QString readoutTime;  // stored form; empty when the record holds none
  QString dosimeter;
  int errorCodes = 0;
  std::optional<double> measuredDose;  // the reader's, uSv
  std::optional<double> doseRate;      // the reader's, uSv/h
  std::optional<double> exposureH;     // none when the record stores none
  std::optional<double> doseUsv;       // the program's dose chain, own window
};
ReadoutFields DecodeReadout(const BlockRecord& record);

struct ImportResult {
  int added = 0;
  int duplicates = 0;  // the same read-out, byte for byte, was there
  int conflicts = 0;   // same key, other bytes: the archived one stays
  std::vector<ReadoutFields> conflicting;
  // New read-outs at or above the notification level (when one was given).
  std::vector<ReadoutFields> highDoses;
};

// A read-out as the lists show it: history, alerts, conflicts.
struct ReadoutRow {
  QString readoutTime;  // stored form; empty when none
  QString deviceId;
  int blockNumber = 0;
  QString dosimeter;
  QString person;  // whose wear period covers the read-out time; empty when nobody's
  std::optional<double> doseUsv;
  std::optional<double> doseRate;
  std::optional<double> exposureH;
  int errorCodes = 0;
  QString source;      // file name or reader port
  QString archivedAt;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  // An archived read-out's row in the database: record() gives its 512
  // bytes, which the lists leave out. 0 for a conflict.
  qint64 id = 0;
  // A record that came with the key of an archived read-out but other
  // bytes: listed beside it, counted in no total. Its bytes come with it.
  bool conflict = false;
  QByteArray record;
};

struct WearPeriod {
  QString dosimeter;
  QString person;
  QDateTime from;
  std::optional<QDateTime> to;  // inclusive last minute; none: open to the end
};

struct PersonTotals {
  QString person;  // or the dosimeter, for a dosimeter's totals
  double quarterToDate = 0;
  double yearToDate = 0;
  double lifetime = 0;
  int readouts = 0;  // up to the date
};

// One person's row of the service summary: the period's dose and the
// totals at the period's last minute.
struct SummaryRow {
  double periodDose = 0;
  int periodReadouts = 0;
  PersonTotals totals;
};

struct HistoryQuery {
  QString dosimeter;  // one of the two
  QString person;
  std::optional<QDateTime> from;
  std::optional<QDateTime> to;
};

struct CheckReport {
  int readouts = 0;
  int conflicts = 0;
  int periods = 0;
  QStringList faults;
};

struct ArchiveOptions {
  bool readOnly = false;
  // How long a database another program writes to is waited for.
  int busyTimeoutMs = 5000;
};

class DoseArchive {
 public:
  // Opens (and creates or upgrades) the archive. Nothing on failure, with
  // *code a result code and *detail what the database said.
  static std::unique_ptr<DoseArchive> open(const ArchiveLocation& location, const ArchiveOptions& options,
                                           int* code, QString* detail);
  ~DoseArchive();
  DoseArchive(const DoseArchive&) = delete;
  DoseArchive& operator=(const DoseArchive&) = delete;

  // Every call returns kOk or a result code; errorDetail() then says what
  // the database said or which entry was refused.
  const QString& errorDetail() const { return detail_; }
  int schemaVersion() const;

  // All records in one transaction: every read-out or none. A record is
  // added, found already archived, or counted and kept as a conflict.
  int importRecords(std::span<const BlockRecord> records, const QString& source, ImportResult* result,
                    std::optional<double> notificationLevel = std::nullopt);
  // The whole records of a data file, source = its absolute name.
  // kErrFileRead after importing them when the file ends in part of one.
  int importFile(const QString& path, ImportResult* result,
                 std::optional<double> notificationLevel = std::nullopt);
  // Called after each record inside the import's transaction (progress).
  std::function<void(int done)> onRecordImported;

  // Gives the dosimeter to the person for the period. The same dosimeter,
  // person and start again sets the period's end. kErrArchiveOverlap when
  // another period of the dosimeter shares a minute with it.
  int assign(const WearPeriod& period);
  int wearPeriods(const QString& dosimeter, std::vector<WearPeriod>* periods);
  // A person's dosimeters with their wear periods, by start.
  int personPeriods(const QString& person, std::vector<WearPeriod>* periods);
  int persons(QStringList* names);
  // Every dosimeter that was read or assigned, in name order.
  int dosimeters(QStringList* names);
  // Whose wear period covers a read-out time (stored form); empty: nobody's.
  int personAt(const QString& dosimeter, const QString& readoutTime, QString* person);

  // Without the records' bytes (ReadoutRow::id names them).
  int history(const HistoryQuery& query, std::vector<ReadoutRow>* rows);
  // The 512 bytes of an archived read-out, for evaluating it again.
  int record(qint64 id, QByteArray* bytes);
  // Quarter-to-date, year-to-date and lifetime up to `at` (inclusive), per
  // person (everybody when person is empty, in name order).
  int totals(const QString& person, const QDateTime& at, std::vector<PersonTotals>* totals);
  // The same figures of one dosimeter, whoever wore it.
  int dosimeterTotals(const QString& dosimeter, const QDateTime& at, PersonTotals* totals);
  // Every person's dose in the period with the totals at its end, highest
  // dose first (then by name); persons without a dose in it included.
  int summary(const ReportPeriod& period, std::vector<SummaryRow>* rows);
  // Read-outs whose dose is at or above the level, from `from` on.
  int alerts(std::optional<QDateTime> from, double level, std::vector<ReadoutRow>* rows);
  // The kept conflicting records, newest first.
  int conflicts(std::vector<ReadoutRow>* rows);
  // Those whose archived read-out the history query lists, with that
  // read-out's time and person, in time order.
  int conflicts(const HistoryQuery& query, std::vector<ReadoutRow>* rows);
  // The database's own check, then every stored record decoded again and
  // compared with its stored fields, and the wear periods for overlaps.
  int check(CheckReport* report);

  bool isPostgres() const { return location_.kind == ArchiveLocation::PostgreSQL; }
  const ArchiveLocation& location() const { return location_; }

 private:
  DoseArchive() = default;
  int periodsWhere(const QString& where, const QString& value, const QString& order,
                   std::vector<WearPeriod>* periods);
  struct Impl;
  std::unique_ptr<Impl> d_;
  ArchiveLocation location_;
  QString detail_;
};

}  // namespace quelm
