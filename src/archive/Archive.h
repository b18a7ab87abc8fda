#pragma once
// The dose archive: every read-out that reached a data file, kept in a
// database over decades, and the dose record of each person drawn from it.
//
// One schema on SQLite and PostgreSQL, created and upgraded by the numbered
// migrations of ArchiveSchema.cpp; the version is stored in the database, an
// older program refuses a newer one, and only an archive opened for writing
// is upgraded. Every rule of the record lives here, for the command line,
// the windows, the reports and the download alike:
//
// - Only records plausible as read-outs enter (Readout.h); a read-out is
//   stored once, keyed by its identity; other bytes under the same key are
//   kept beside it as a conflict and count nothing.
// - The dose of record is the reader's MeasuredDose; totals add it, a
//   negative one as 0, one that is no number as nothing (Readout.h).
// - A person has an id (the lab's staff or personnel number) and a name;
//   names may change and repeat. Wear periods give a dosimeter to a person
//   from a minute on; periods of one dosimeter never share a minute.
// - A read-out belongs to the wear period of its dosimeter that began last
//   at or before its read-out time, even after that period ended: a
//   dosimeter is read after it comes back. One before any period of its
//   dosimeter belongs to nobody (unassigned). Its dose counts at its
//   read-out time, or on the last minute of its period when it was read
//   after the period ended: a quarter's dosimeter read in the next quarter
//   is the quarter's dose (ReadoutRow::doseTime). Totals, summaries,
//   reports and time ranges of a history go by that time.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "archive/ArchiveLocation.h"
#include "archive/ArchiveTime.h"
#include "archive/CalibrationRecords.h"
#include "archive/Controls.h"
#include "archive/Readout.h"
#include "measurement/BlockRecord.h"

namespace quelm {

struct ArchiveDialect;

// A record of a file that is no read-out: where it lies and why.
struct ImportRefusal {
  int record = 0;  // from 0
  qint64 offset = 0;
  QString reason;
};

struct ImportResult {
  int added = 0;
  int duplicates = 0;  // the same read-out, byte for byte, was there
  int conflicts = 0;   // same key, other bytes: the archived one stays
  std::vector<ReadoutFields> conflicting;
  std::vector<ImportRefusal> refused;
  // New read-outs whose dose of record is at or above the notification
  // level (when one was given).
  std::vector<ReadoutFields> highDoses;
};

struct Person {
  QString id;  // as the lab writes it; unique without regard to case
  QString name;
  bool operator==(const Person&) const = default;
};

// What a person typed on a command line or in a window stands for.
struct PersonLookup {
  enum Outcome { Found, Unknown, Ambiguous };
  Outcome outcome = Unknown;
  Person person;
  // Ambiguous: everybody of that name; unknown: ids or names that hold
  // the text, to say whom the user may have meant.
  std::vector<Person> candidates;
};

// Why a person's id or name as typed cannot be taken; empty when it can.
QString PersonIdError(const QString& id);
QString PersonNameError(const QString& name);
// "ID NAME", as lists and messages name a person.
QString PersonText(const Person& person);

// A read-out as the lists show it: history, alerts, conflicts.
struct ReadoutRow {
  // The read-out's number in the archive; record() gives its 512 bytes,
  // which the lists leave out. 0 for a conflict.
  qint64 id = 0;
  QString readoutTime;  // stored form; empty when none
  // When its dose counts in totals and reports: the read-out time, or the
  // last minute of its wear period when it was read after that ended.
  QString doseTime;
  QString deviceId;
  int blockNumber = 0;
  QString dosimeter;
  Person person;  // whose wear period it belongs to; empty id: nobody's
  std::optional<double> doseUsv;     // the dose of record
  std::optional<double> recomputed;  // the program's dose chain
  double countedUsv = 0;             // what it adds to totals
  std::optional<double> doseRate;
  std::optional<double> exposureH;
  int errorCodes = 0;
  QString source;      // file name or reader port
  QString archivedAt;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  // A record that came with the key of an archived read-out but other
  // bytes: listed beside it, counted in no total. Its bytes come with it.
  bool conflict = false;
  QByteArray record;
  // A dose entered by hand for a lost or damaged dosimeter: no read-out,
  // counted on its period's last minute; resolutionReason says why.
  bool notional = false;
  // Review: why it is on the list now (ReviewReason bits), and what its
  // last resolution took care of, with how and why.
  int reasons = 0;
  int covered = 0;
  Resolution resolution = Resolution::None;
  QString resolutionReason;

  // The read-out of a dosimeter marked as a control: worn by nobody, never
  // "unassigned" on the review list.
  bool control = false;

  bool assigned() const { return !person.id.isEmpty(); }
  int openReasons() const { return reasons & ~covered; }
  ReadoutStatus status() const {
    return notional ? ReadoutStatus::Notional : StatusOf(doseUsv, reasons, covered, resolution);
  }
};

struct WearPeriod {
  QString dosimeter;
  Person person;
  QDateTime from;
  std::optional<QDateTime> to;  // inclusive last minute; none: open
};
// Why a period as given cannot be stored; empty when it can.
QString WearPeriodError(const WearPeriod& period);
// Whether two periods share a minute.
bool PeriodsOverlap(const WearPeriod& a, const WearPeriod& b);

struct PersonTotals {
  Person person;  // or, for a dosimeter's totals, the dosimeter as its name
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
  QString personId;
  std::optional<QDateTime> from;
  std::optional<QDateTime> to;
};

struct PeriodQuery {
  QString dosimeter;  // at most one of the two; neither: every period
  QString personId;
};

// One line of a wearer list.
struct WearerListRow {
  int line = 0;
  Person person;
  WearPeriod period;
};
struct WearerListResult {
  int persons = 0;    // new persons
  int periods = 0;    // new periods
  int ended = 0;      // periods given an end they did not have
  int unchanged = 0;  // lines the archive already held
};

struct CheckReport {
  int readouts = 0;
  int conflicts = 0;
  int periods = 0;
  int persons = 0;
  int logRows = 0;
  int calibrations = 0;
  int controlBatches = 0;
  int setAside = 0;  // records an upgrade set aside as no read-outs, kept in refused_readouts
  QStringList faults;
};

// An archived read-out's bytes, for a calibration from the archive.
struct ArchivedRecord {
  qint64 id = 0;
  QString readoutTime;  // stored form
  QString dosimeter;
  QByteArray record;
};

// A re-evaluation as the operator sets it on the chart: the evaluation
// window and the normalisation factor.
struct EvaluationWindow {
  int start = 0;
  int length = 1;
  double normFact = 1;
};
// Why such a window cannot be used; empty when it can.
QString EvaluationWindowError(const EvaluationWindow& window);

struct ResolveOutcome {
  ReadoutRow before;  // as it was listed
  std::optional<double> doseOfRecord;  // after
};

// One row of the change log: who changed what, when, from what to what,
// and why. Rows are never changed or removed; each carries the SHA-256 of
// the row before it and of its own content.
struct LogEntry {
  qint64 id = 0;
  QString timeUtc;  // "YYYY-MM-DDTHH:MM:SSZ"
  QString who;      // operating-system user
  QString host;
  QString role;  // the database role on a server
  QString what;  // "import", "person added", "period assigned", ... (", after sign-off" when it touches a signed period)
  QString entity;
  QString oldValue;
  QString newValue;
  QString reason;
};
// The log rows stored after a sign-off that touch its period or a time
// before it, each with the person it was written for: read once for all
// the reports of the period, each picks its own from them.
struct ChangesAfterSignoff {
  std::vector<LogEntry> entries;
  std::vector<QString> personKeys;  // by entry
};
struct LogQuery {
  std::optional<QDateTime> from;  // UTC
  std::optional<QDateTime> to;
  // The rows of that person's record, as a corrected report picks them.
  QString personId;
};
// How many rows the change log reads from the database at a time: what a
// reader of the log holds stays the same however long the log grows. At
// least 1; a test makes it small to read a short log in several pages.
void setChangeLogPageRows(int rows);
int changeLogPageRows();

// A signed quarter or year: who signed when, the open review items it was
// signed with, and the SHA-256 of its service summary.
struct Signoff {
  qint64 id = 0;
  QString period;    // "2026Q3", "2026"
  QString signedAt;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  QString signedBy;
  int openItems = 0;
  QString sha256;
};
// A document of a sign-off: the summary (empty person id) or a person's report.
struct SignoffDocument {
  QString personId;
  QByteArray pdf;
};
// A person's figures as signed, to tell later what changed since.
struct SignedFigures {
  Person person;
  double periodDose = 0;
  int readouts = 0;
  double yearToDate = 0;
  std::optional<double> lifetime;  // none in sign-offs stored before it was kept
};
// The open review items of a period, of everybody and of each person.
struct OpenReviewItems {
  int total = 0;
  std::map<QString, int> byPerson;  // by the person's key
  // A person's items (by id, in any case); none for nobody's.
  int of(const QString& personId) const;
};

// What a sign-off's documents were made from: the change log's last row,
// the open review items and the persons' figures when making began. The
// sign-off is stored only if the record still says the same.
struct SignoffBasis {
  qint64 logPosition = 0;
  int openItems = 0;
  std::vector<SummaryRow> figures;
};

struct ArchiveOptions {
  // Reading commands and views: the database is opened for reading only,
  // its schema never upgraded and nothing in it or beside it changed.
  bool readOnly = false;
  // How long a database another program writes to is waited for: on a
  // server, how long any lock is waited for.
  int busyTimeoutMs = 5000;
};

class DoseArchive {
 public:
  // Opens (and creates or, for writing, upgrades) the archive. Nothing on
  // failure, with *code a result code and *detail what the database said.
  static std::unique_ptr<DoseArchive> open(const ArchiveLocation& location, const ArchiveOptions& options,
                                           int* code, QString* detail);
  ~DoseArchive();
  DoseArchive(const DoseArchive&) = delete;
  DoseArchive& operator=(const DoseArchive&) = delete;

  // Every call returns kOk or a result code; errorDetail() then says what
  // the database said or which entry was refused.
  const QString& errorDetail() const { return detail_; }
  // Whether the last resolve or endPeriod was refused (kErrArchiveInput)
  // because the read-out or period no longer was as the operator was shown
  // it: the caller shows it anew rather than asking again.
  bool changedSinceShown() const { return changedSinceShown_; }
  int schemaVersion() const;
  // "upgraded from schema version 2 to 3 (...)" when this open upgraded
  // the archive; empty otherwise.
  const QString& upgradeNote() const { return upgradeNote_; }

  // --- Read-outs
  // All plausible records in one transaction: every read-out or none. A
  // record is added, found already archived, counted and kept as a
  // conflict, or refused (ImportResult::refused) when it is no read-out;
  // kErrArchiveRefused then, after the others were stored.
  int importRecords(std::span<const BlockRecord> records, const QString& source, ImportResult* result,
                    std::optional<double> notificationLevel = std::nullopt);
  // The whole records of a data file, source = its absolute name.
  // kErrFileRead after importing them when the file ends in part of one.
  // A failure's detail says what went wrong in the file, not its name.
  int importFile(const QString& path, ImportResult* result,
                 std::optional<double> notificationLevel = std::nullopt);
  // Called inside the import's transaction as records are done (progress).
  std::function<void(int done)> onRecordImported;
  // Called inside the transaction of endPeriod and resolve once they have
  // read what they are about to change: another program's test holds a
  // writer there while a second one tries.
  std::function<void()> onReadBeforeWrite;

  // --- Persons
  int persons(std::vector<Person>* persons);
  int findPerson(const QString& text, PersonLookup* lookup);
  // kErrArchiveInput for an id that is taken or an id or name that cannot be.
  int addPerson(const Person& person);
  int renamePerson(const QString& id, const QString& name);

  // --- Wear periods
  // Gives the dosimeter to the person named by `person` (an id, or a name
  // of exactly one person) for the period. A name nobody has is a new
  // person with a generated id, told in *created. The same dosimeter,
  // person and start again sets the period's end. kErrArchiveOverlap when
  // another period of the dosimeter shares a minute with it,
  // kErrArchiveAmbiguousPerson for a name of several persons.
  int assign(const QString& dosimeter, const QString& person, const QDateTime& from,
             const std::optional<QDateTime>& to, WearPeriod* stored = nullptr,
             std::optional<Person>* created = nullptr);
  // Ends the dosimeter's last period, or the one that began at `from`, at
  // `at` (its last minute). A period's end only moves earlier. With
  // `shown`, the period as the operator saw it: refused
  // (changedSinceShown()) when its end or wearer is no longer that.
  int endPeriod(const QString& dosimeter, const QDateTime& at, WearPeriod* ended = nullptr,
                const std::optional<QDateTime>& from = std::nullopt, const WearPeriod* shown = nullptr);
  // By dosimeter and start, or a person's by start.
  int periods(const PeriodQuery& query, std::vector<WearPeriod>* periods);
  // A wearer list in one transaction: every line is checked (persons,
  // dosimeters, overlaps with the archive and among the lines) before
  // anything is stored; the first line that cannot be taken is named in
  // errorDetail() and nothing changes. Lines the archive holds already
  // change nothing.
  // source: the list's file, for the change log.
  int importWearerList(const std::vector<WearerListRow>& rows, WearerListResult* result,
                       const QString& source = QString());
  // Every dosimeter that was read or assigned, in name order.
  int dosimeters(QStringList* names);
  // Whose wear period the read-out time (stored form) belongs to; empty
  // id: nobody's.
  int personAt(const QString& dosimeter, const QString& readoutTime, Person* person);

  // --- What the record says
  // Without the records' bytes (ReadoutRow::id names them).
  int history(const HistoryQuery& query, std::vector<ReadoutRow>* rows);
  // The 512 bytes of an archived read-out, for evaluating it again.
  int record(qint64 id, QByteArray* bytes);
  // Quarter-to-date, year-to-date and lifetime up to `at` (inclusive) of
  // the person with that id, or of everybody (empty id, by name and id).
  int totals(const QString& personId, const QDateTime& at, std::vector<PersonTotals>* totals);
  // The same figures of one dosimeter, whoever wore it.
  int dosimeterTotals(const QString& dosimeter, const QDateTime& at, PersonTotals* totals);
  // Every person's dose in the period with the totals at its end, highest
  // dose first (then by name); persons without a dose in it included.
  int summary(const ReportPeriod& period, std::vector<SummaryRow>* rows);
  // Read-outs whose dose of record is at or above the level, from `from` on.
  int alerts(std::optional<QDateTime> from, double level, std::vector<ReadoutRow>* rows);
  // The kept conflicting records, newest first.
  int conflicts(std::vector<ReadoutRow>* rows);
  // Those whose archived read-out the history query lists, with that
  // read-out's time and person, in time order.
  int conflicts(const HistoryQuery& query, std::vector<ReadoutRow>* rows);
  // The database's own check, then every stored record decoded again and
  // compared with its stored fields, the persons, and the wear periods for
  // overlaps and their attribution.
  int check(CheckReport* report);

  // --- Review
  // Read-outs the record must not take as they are: error flags, no
  // finite dose, unassigned, conflicts, a recomputed dose beyond the
  // tolerance; without the resolved ones. In a period: by when their dose
  // counts (unassigned ones by their read-out time).
  int review(const std::optional<ReportPeriod>& period, std::vector<ReadoutRow>* items);
  int openReviewCount(const ReportPeriod& period, int* count);
  // The same items, and whose they are: a read-out is the person's whose
  // wear period it belongs to; one without a time is of every person who
  // wore its dosimeter in the period; an unassigned one is nobody's.
  int openReviewItems(const ReportPeriod& period, OpenReviewItems* items);
  // [Dose archive] RecomputeTolerance in percent; none: off.
  void setRecomputeTolerance(std::optional<double> percent) { tolerance_ = percent; }
  // Resolves a read-out's review reasons with a reason: accept (the
  // reader's dose stands), reevaluate (the chain over the window becomes
  // the dose of record; the reader's stays stored) or exclude (counts
  // nothing, stays listed). kErrArchiveInput without a reason or window.
  // With `shown`, the read-out as the operator saw it: refused
  // (changedSinceShown()) when its resolution, status, dose of record or
  // wearer is no longer that, read after the read-out is locked.
  int resolve(qint64 readoutId, Resolution action, const QString& reason,
              const std::optional<EvaluationWindow>& window = std::nullopt, ResolveOutcome* outcome = nullptr,
              const ReadoutRow* shown = nullptr);
  // The dose a re-evaluation would give, before it is adopted.
  int reevaluatedDose(qint64 readoutId, const EvaluationWindow& window, double* dose);
  // A dose entered by hand for a person and a quarter or year (a lost or
  // damaged dosimeter), counted on the period's last minute.
  int addNotionalDose(const QString& personId, const ReportPeriod& period, double doseUsv, const QString& reason);

  // --- Sign-off
  // What the documents of a sign-off of the period are made from; read
  // before they are made.
  int signoffBasis(const ReportPeriod& period, SignoffBasis* basis);
  // Stores the signed documents with their SHA-256 and the persons'
  // figures of the period, and who signed; refused (kErrArchiveOpenItems)
  // while review items of the period are open unless allowed, and
  // (kErrArchiveChanged) when the record changed since `basis` was read, so
  // that what is signed is always what is stored.
  int storeSignoff(const ReportPeriod& period, const QString& signedBy, bool withOpenItems,
                   const std::vector<SignoffDocument>& documents, const SignoffBasis& basis, Signoff* stored);
  int signoffs(std::vector<Signoff>* list);
  // The last sign-off of a period, if any.
  int lastSignoff(const QString& period, std::optional<Signoff>* signoff);
  // The stored bytes of a signed document (empty person id: the summary)
  // of the period's last sign-off, or of the sign-off with that id.
  int signedDocument(const QString& period, const QString& personId, QByteArray* pdf);
  int signedDocument(qint64 signoffId, const QString& personId, QByteArray* pdf);
  int signedFigures(qint64 signoffId, std::vector<SignedFigures>* figures);
  // Changes stored after the sign-off that touch its period or any time
  // before it (the year-to-date and lifetime figures it signed); with a
  // person's id, only those of that person's record: the person's own rows
  // and the wear periods of the dosimeters the person wore, the imports
  // that added read-outs the person holds and their resolutions.
  int changesSince(const Signoff& signoff, const QString& personId, std::vector<LogEntry>* entries);
  // The same in two steps: everybody's rows once, then a person's of them
  // (an empty id: all).
  int changesSince(const Signoff& signoff, ChangesAfterSignoff* changes);
  int changesSince(const ChangesAfterSignoff& changes, const QString& personId,
                   std::vector<LogEntry>* entries);

  // --- Calibration runs (ArchiveCalibrations.cpp)
  // A run with its factors and batch figures, in one transaction; *id its
  // number. kErrArchiveInput for a run that cannot be stored.
  int storeCalibration(const CalibrationRecord& run, qint64* id);
  // A stored run's note and what was written from it since: the files,
  // and the dosimeters whose look-up entries went into the reader; and the
  // status of factors in the mean (dosimeter, status), which tells what the
  // reader holds when that is not the factor. Nothing changes (and nothing
  // is logged) when all are as stored.
  int updateCalibration(qint64 id, const QString& note, const QString& written,
                        const QStringList& writtenDosimeters,
                        const std::vector<std::pair<QString, QString>>& statuses = {});
  // Every run in the order stored, with its batch figures, without factors.
  int calibrations(std::vector<CalibrationRecord>* runs);
  // One run whole; kErrArchiveInput when there is none of that number.
  int calibration(qint64 id, CalibrationRecord* run);
  // A dosimeter's calibrations and the factor in force at each of its
  // archived read-outs (the block's own EVANORM), in time order.
  int factorHistory(const QString& dosimeter, std::vector<FactorHistoryEntry>* entries);
  // How many read-outs readoutRecords gives for the same dosimeters and
  // span, counted by the database: a caller that takes only so many refuses
  // a span that sweeps the archive before its rows fill the memory.
  int countReadoutRecords(const QStringList& dosimeters, const QDateTime& from, const QDateTime& to,
                          qint64* count);
  // The dosimeters' read-outs from `from` to `to` (read-out times,
  // inclusive) with their bytes, by dosimeter and time. With atMost, no
  // more than that many are read, whichever the database finds first: a
  // caller that counted reads one more than it takes, so that a span grown
  // since is still seen to be too large without being read whole.
  int readoutRecords(const QStringList& dosimeters, const QDateTime& from, const QDateTime& to,
                     std::vector<ArchivedRecord>* records, std::optional<qint64> atMost = std::nullopt);

  // --- Control dosimeters (ArchiveControls.cpp)
  // Marks the dosimeter as a control with a known dose per read-out from
  // `from` on. Without a date the first mark of a dosimeter holds for all
  // its read-outs, a later one from now on (the batches before it keep the
  // dose they were judged with). The same dosimeter and date again changes
  // the known dose. The batches are judged again in the same transaction.
  // kErrArchiveInput for a dosimeter somebody wears.
  int markControl(const QString& dosimeter, double knownUsv, const std::optional<QDateTime>& from,
                  ControlMark* stored = nullptr);
  int controlMarks(std::vector<ControlMark>* marks);
  // The stored batches in order (day, reader).
  int controlBatches(std::vector<ControlBatch>* batches);
  // [Dose archive] ControlTolerance in percent: replaces the standard
  // deviations of the ratio; none: off.
  void setControlTolerance(std::optional<double> percent) { controlTolerance_ = percent; }
  std::optional<double> controlTolerance() const { return controlTolerance_; }

  // --- Change log
  // The rows the query selects, in the order stored, each handed to `row`
  // as it is read; `row` returning false ends the reading there (kOk). Only
  // a page of rows (changeLogPageRows) is read at a time, so a long log is
  // never held whole; `row` runs between the reads and queries nothing. The
  // rows are those stored when the reading begins, so that a log read in
  // pages is the log of one moment, as one SELECT is.
  int changeLog(const LogQuery& query, const std::function<bool(const LogEntry&)>& row);
  int changeLog(const LogQuery& query, std::vector<LogEntry>* entries);
  // Whether this user may write (a server role may only read).
  bool canWrite();

  // The quarters ("2024Q3") and years ("2024") from the first to the last
  // in which a dose of the archive counts, each newest first; empty when
  // it holds no read-out with a time. For choosing a report's period.
  int reportPeriods(QStringList* quarters, QStringList* years);

  bool isPostgres() const { return location_.kind == ArchiveLocation::PostgreSQL; }
  const ArchiveLocation& location() const { return location_; }

 public:
  struct Impl;  // the archive's inside (ArchiveImpl.h)

 private:
  DoseArchive() = default;
  std::unique_ptr<Impl> d_;
  ArchiveLocation location_;
  QString detail_;
  bool changedSinceShown_ = false;
  QString upgradeNote_;
  std::optional<double> tolerance_;
  std::optional<double> controlTolerance_;
};

// Opens the archive for reading only. Nothing on failure, with *code the
// result code and *detail the location and what the database said.
std::unique_ptr<DoseArchive> OpenArchiveToRead(const ArchiveLocation& location, int* code, QString* detail);

// The control chart of the archive the settings name, opened for reading:
// the batches of `range`, else the last ones of each kind, judged with the
// settings' ControlTolerance. 0, or the archive's result code with *detail.
int ReadControlChart(const ArchiveSettings& settings, const std::optional<ReportPeriod>& range,
                     ControlChartData* chart, QString* detail);

}  // namespace quelm
