#pragma once
// The dose archive window as a core object, free of widgets: the archive in
// use, the searchable list of persons and dosimeters, the chosen one with
// its wear periods, its read-outs (date range, sort order, conflicts beside
// them, high doses marked), its totals at a date and chart, every conflict
// of the archive, the import of data files with its progress, and which
// actions may be used. Every figure comes from a call of the archive core;
// the window paints what this holds (its lists through the item models of
// ArchiveItemModels.h) and forwards clicks, decisions are asked through
// callbacks, failures are result codes with the database's detail.
//
// Beside the read-outs it holds the record's review list (the chosen
// period's read-outs that await review, resolved here with a reason), the
// change log and the sign-offs, and runs the writing actions of each: a
// resolution, a notional dose, a re-evaluation adopted from the main
// window's chart, signing a period. A user who may only read the archive
// sees every list and report; each writing action then answers with the
// one refusal of ReadOnlyRefusal and tries nothing.
//
// The window's queries run on a thread of the archive's own, with a
// connection of its own; meanwhile the window's thread waits in the event
// loop (base/EventWait.h), so the window paints and moves while a server
// answers slowly, and the operator's clicks and keys wait until the answer
// is in. Imports run on a worker thread of their own (one at a time), so
// the window stays usable while they run. Needs an application object.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveImportJob.h"
#include "archive/ArchiveLocation.h"
#include "archive/ArchiveReport.h"

class QAbstractItemModel;
class QThread;

namespace quelm {

struct ArchiveEntry {
  enum Kind { Person, Dosimeter };
  Kind kind = Person;
  QString key;   // a person's id, or the dosimeter
  QString name;  // a person's name, or the dosimeter
  // As the list shows it: "Alice Smith (P0001)", "Dosimeter A0017".
  QString text() const;
};

// The read-out lists' columns: title and whether it holds numbers.
struct ArchiveColumn {
  const char* title;
  bool right;
};
enum ArchiveColumnId : int {
  kColTime,
  kColReader,
  kColBlock,
  kColDosimeter,
  kColPerson,
  kColDose,        // the dose of record
  kColRecomputed,  // the program's dose chain
  kColStatus,      // how it counts
  kColDoseRate,
  kColExposure,
  kColErrors,
  kColRemark,
  kColSource,  // the file or the reader's port it came from
  kArchiveColumnCount
};
extern const ArchiveColumn kArchiveColumns[kArchiveColumnCount];
// The review list's columns, as the review list of the command line:
// id, read-out time, dosimeter, person id, person, dose of record, why.
inline constexpr int kReviewColumnCount = 7;
extern const ArchiveColumn kReviewColumns[kReviewColumnCount];
// The change log's: time (UTC), who, host, role, what, entity, old, new, reason.
inline constexpr int kLogColumnCount = 9;
extern const ArchiveColumn kLogColumns[kLogColumnCount];
// The sign-offs': period, signed at (UTC), signed by, open items, SHA-256.
inline constexpr int kSignoffColumnCount = 5;
extern const ArchiveColumn kSignoffColumns[kSignoffColumnCount];
// A cell of those lists as the window shows it.
QString ReviewCellText(const ReadoutRow& row, int column);
QString LogCellText(const LogEntry& entry, int column);
QString SignoffCellText(const Signoff& signoff, int column);

// A failure (code and what the database or the rule said) or nothing.
struct ArchiveOutcome {
  int code = 0;
  QString detail;
};

// The one answer of every writing action while this user may only read
// the archive in use (location as messages name it): nothing is tried.
ArchiveOutcome ReadOnlyRefusal(const QString& location);

struct ArchiveActions {
  bool assign = false;
  bool endPeriod = false;  // a wear period is selected
  bool addPerson = false;
  bool renamePerson = false;  // a person is chosen
  bool importWearers = false;
  bool import = false;
  bool personReport = false;  // a person is chosen
  bool summaryReport = false;
  bool showReadout = false;   // a read-out is selected
  bool showConflict = false;  // a conflict is selected
  bool resolve = false;       // a review item is selected
  bool notional = false;
  bool sign = false;
  bool saveSigned = false;  // a sign-off is selected
  // This user may only read: the writing actions above stay offered and
  // answer with ReadOnlyRefusal.
  bool readOnly = false;
};

// How many read-outs of the totals' quarter and year, in the whole archive,
// still await review.
struct ArchiveReviewCounts {
  QString quarter, year;  // "2024Q3", "2024"
  int quarterOpen = 0, yearOpen = 0;
};

// What a resolution dialog shows and gets back: the read-out, how it is
// resolved, and the reason. A re-evaluation carries its window and factor
// (the read-out's own to begin with, or the one set on the main window's
// chart, which the dialog then only shows) and, once the archive has
// worked it out, the dose they give, shown before anything is stored.
struct ResolutionRequest {
  ReadoutRow readout;
  Resolution action = Resolution::Accept;
  std::optional<EvaluationWindow> window;
  bool windowFixed = false;
  std::optional<double> newDose;
  QString reason;
};

// A notional dose as asked for: the person (an id in person.id, or what
// was typed in person.name), the quarter or year, the dose and why.
struct NotionalRequest {
  quelm::Person person;
  QString period;
  double doseUsv = 0;
  QString reason;
};

// A sign-off as asked for: the period and how many of its read-outs await
// review, who signs, and whether they sign with those items open.
struct SignoffRequest {
  ReportPeriod period;
  int openItems = 0;
  QString signedBy;
  bool withOpenItems = false;
};
// What signing runs with, on the archive's thread.
struct SignoffRun {
  ReportPeriod period;
  QString signedBy;
  bool withOpenItems = false;
  ArchiveSettings settings;
  QDateTime printedAt;
};

struct ArchiveTotalsView {
  QDateTime at;
  PersonTotals totals;
  double annualLimit = 0;
  double share = 0;  // percent of the annual limit
};

// The password the operator gave for a server, and where it is kept: in
// the usual password file, or in this program's memory until it ends.
struct ArchivePassword {
  QString password;
  bool keepInFile = false;
};

class ArchiveModel {
 public:
  explicit ArchiveModel(const ArchiveSettings& settings);
  ~ArchiveModel();
  ArchiveModel(const ArchiveModel&) = delete;
  ArchiveModel& operator=(const ArchiveModel&) = delete;

  // The state changed: paint it.
  std::function<void()> onChanged;
  // A failure to show (its message from the code table, and the detail).
  std::function<void(const ArchiveOutcome&)> onFailure;
  // A query starts (true) or the last one ended (false): the busy pointer.
  std::function<void(bool querying)> onBusy;
  // Tests: when set, each query waits on the archive's thread until this,
  // called on the window's thread, has returned, so that a test sees the
  // window while a query is under way, as an operator does while a server
  // answers slowly.
  std::function<void()> whileQuerying;

  // --- Decisions. A dialog that is asked again after the archive refused
  // what it gave gets the refusal (message and detail) and keeps what was
  // typed; the first time the refusal is empty.
  // Data files to import; empty: none.
  std::function<QStringList()> chooseImportFiles;
  // The period to assign, from the proposal; nothing: cancelled. The
  // person is an id (person.id) or what was typed (person.name): an id, or
  // a name, which a new person gets when nobody has it.
  std::function<std::optional<WearPeriod>(const WearPeriod& proposal,
                                          const std::vector<quelm::Person>& persons, const QString& refusal)>
      askAssignment;
  // The last day of the period; nothing: cancelled.
  std::function<std::optional<QDateTime>(const WearPeriod& period, const QString& refusal)> askPeriodEnd;
  // A new person's id and name; nothing: cancelled.
  std::function<std::optional<quelm::Person>(const QString& refusal)> askNewPerson;
  // The chosen person's new name; nothing: cancelled.
  std::function<std::optional<QString>(const quelm::Person& person, const QString& refusal)> askNewName;
  // A wearer list (CSV) to import; empty: none.
  std::function<QString()> chooseWearerList;
  // The password of a server that refused the login without one or with
  // the one it got (server as messages name it); nothing: cancelled.
  std::function<std::optional<ArchivePassword>(const QString& server, const QString& refusal)> askPassword;
  // How the read-out is resolved and why (ResolutionRequest); nothing:
  // cancelled. Asked again with the archive's refusal, and for a
  // re-evaluation once more with the dose it gives before it is stored.
  std::function<std::optional<ResolutionRequest>(const ResolutionRequest& request, const QString& refusal)>
      askResolution;
  // A notional dose, from the proposal (the chosen person, the period of
  // the review list); nothing: cancelled.
  std::function<std::optional<NotionalRequest>(
      const NotionalRequest& proposal, const std::vector<quelm::Person>& persons, const QString& refusal)>
      askNotional;
  // Who signs, and whether with the open items; nothing: cancelled.
  std::function<std::optional<SignoffRequest>(const SignoffRequest& request, const QString& refusal)>
      askSignoff;
  // Signs a period (SignPeriod of ArchiveSignoff.h, which paints the
  // reports: the window sets it) and tells it in *line.
  std::function<int(DoseArchive& archive, const SignoffRun& run, QString* line, QString* detail)> signPeriod;
  // Shows an archived record in the main window's detail view, with the
  // read-out's id (0 for a conflicting record, which is no read-out).
  std::function<void(const QByteArray& record, qint64 readoutId)> showRecord;
  // "Now" for the totals (tests fix it).
  std::function<QDateTime()> clock;

  // Opens the archive the settings name, and lists it. kOk or the code.
  int Open();
  // Another archive (the options window changed it), opened at once. It
  // replaces the one in use only when it opens: otherwise the archive in
  // use stays, with its lists, and the failure is returned (put into
  // *failure instead of being shown when given; kErrUserCancelled when the
  // operator cancelled a password).
  int Reopen(const ArchiveSettings& settings, ArchiveOutcome* failure = nullptr);
  // The settings for the next Open().
  void SetSettings(const ArchiveSettings& settings) { settings_ = settings; }
  bool IsOpen() const { return open_; }
  // The database in use as messages name it (path or server, no password).
  const QString& Location() const { return location_; }
  const ArchiveLocation& Where() const { return where_; }
  const ArchiveSettings& Settings() const { return settings_; }
  // A query is under way.
  bool Querying() const { return depth_ > 0; }

  // --- Persons and dosimeters
  void SetSearch(const QString& text);
  const QString& Search() const { return search_; }
  const std::vector<ArchiveEntry>& Entries() const { return shown_; }
  // An index into Entries(), -1 for none.
  int Choose(int index);
  const std::optional<ArchiveEntry>& Chosen() const { return chosen_; }
  // Where Entries() lists the chosen one; -1 when it does not.
  int ChosenIndex() const;
  // Chooses the entry of that kind and key (a person's id, a dosimeter), when listed.
  int ChooseEntry(ArchiveEntry::Kind kind, const QString& key);
  // The chosen person's dosimeters, or the chosen dosimeter's wearers.
  const std::vector<WearPeriod>& Periods() const { return periods_; }
  void SelectPeriod(int index);
  int SelectedPeriod() const { return selectedPeriod_; }

  // --- Read-outs
  // Dates as the user writes them (their date format, or YYYY-MM-DD);
  // empty: open. A text that is no date is refused (false), nothing changes.
  bool SetRange(const QString& from, const QString& to);
  const std::optional<QDateTime>& RangeFrom() const { return from_; }
  const std::optional<QDateTime>& RangeTo() const { return to_; }
  void SortBy(int column, bool descending);
  int SortColumn() const { return sortColumn_; }
  bool SortDescending() const { return descending_; }
  const std::vector<ReadoutRow>& Rows() const { return rows_; }
  // A cell of a read-out list as the window shows it.
  QString CellText(const ReadoutRow& row, int column) const;
  // At or above the notification level (a conflict never is).
  bool IsHigh(const ReadoutRow& row) const;
  void SelectRow(int row);
  int SelectedRow() const { return selectedRow_; }
  // The dosimeter's read-out of that reader and block, listed and
  // selected (from the high-dose notice); kOk also when it is not listed.
  int ShowInArchive(const QString& dosimeter, const QString& deviceId, int blockNumber);
  // The date the totals are taken at, as the user writes it (the day's
  // last minute); empty: today. A text that is no date is refused (false).
  bool SetTotalsAt(const QString& date);
  // Nothing: today.
  const std::optional<QDate>& TotalsAt() const { return totalsAt_; }
  const ArchiveTotalsView& Totals() const { return totals_; }
  // One point per read-out with a time and a dose.
  const DoseChartData& Chart() const { return chart_; }

  // --- Every conflicting record of the archive, newest first.
  const std::vector<ReadoutRow>& Conflicts() const { return conflicts_; }
  void SortConflicts(int column, bool descending);
  void SelectConflict(int row);
  int SelectedConflict() const { return selectedConflict_; }
  int ShowConflict(int row = -1);

  // --- Review: the read-outs of a quarter or year (or of all time) that
  // await review.
  // "2024Q3", "2024", or empty: all. Anything else is refused (false).
  bool SetReviewPeriod(const QString& period);
  const QString& ReviewPeriod() const { return reviewPeriod_; }
  const std::vector<ReadoutRow>& ReviewRows() const { return review_; }
  void SelectReviewRow(int row);
  int SelectedReviewRow() const { return selectedReview_; }
  // The selected item resolved (accept, re-evaluate, exclude) after
  // askResolution; the lists, totals and counts follow.
  int Resolve(Resolution action);
  // A notional dose after askNotional.
  int AddNotionalDose();
  // The selected (or given) review item's read-out into the main window.
  int ShowReviewRow(int row = -1);
  // A re-evaluation set on the main window's chart, for the archived
  // read-out it shows (its id and bytes): its dose is worked out and shown
  // by askResolution with the reason asked for, then it becomes the dose of
  // record, and the read-out is chosen and selected in the read-out list.
  // Refused when that read-out is not in the archive in use as shown.
  int AdoptReevaluation(qint64 readoutId, const QByteArray& shownRecord, const EvaluationWindow& window);
  const ArchiveReviewCounts& ReviewCounts() const { return reviewCounts_; }

  // --- Change log: by the day of the change (UTC), of everybody or of the
  // chosen person. Dates as SetRange; false: refused, nothing changes.
  bool SetLogFilter(const QString& from, const QString& to, bool chosenPersonOnly);
  bool LogChosenPersonOnly() const { return logPersonOnly_; }
  const std::vector<LogEntry>& LogEntries() const { return log_; }

  // --- Sign-offs, oldest first.
  const std::vector<Signoff>& Signoffs() const { return signoffs_; }
  void SelectSignoff(int row);
  int SelectedSignoff() const { return selectedSignoff_; }
  // Signs the quarter or year after askSignoff; refused (and asked again)
  // while its read-outs await review unless signed with them.
  int Sign(const QString& periodText);
  // The stored bytes of the selected sign-off's summary, or of its report
  // of the chosen person; *name proposes a file name.
  int SignedDocument(bool summary, QByteArray* pdf, QString* name, QString* detail);

  // --- The lists as Qt item models for views (ArchiveItemModels.h); owned
  // here, reset whenever their list is replaced. Sorting a read-out list
  // through its item model sorts it here.
  QAbstractItemModel* EntryItems() const;
  QAbstractItemModel* PeriodItems() const;
  QAbstractItemModel* ReadoutItems() const;
  QAbstractItemModel* ConflictItems() const;
  QAbstractItemModel* ReviewItems() const;
  QAbstractItemModel* LogItems() const;
  QAbstractItemModel* SignoffItems() const;

  // --- Actions
  ArchiveActions Actions() const;
  int Assign();
  int EndPeriod();
  int AddPerson();
  int RenamePerson();
  // Asks for a wearer list and imports it in one transaction.
  int ImportWearerList();
  // What the last action told beyond its figures ("New person: ...").
  const QString& Note() const { return note_; }
  // Asks for files and starts importing them; kErrArchiveImportRunning
  // while one runs.
  int StartImport();
  const ArchiveImportProgress& ImportProgress() const { return import_; }
  // The selected (or given) read-out into the main window.
  int ShowReadout(int row = -1);
  // The read-out of a point of Chart().
  int ShowChartPoint(int point);

  // The quarters and then the years a report may cover, newest first: those
  // the archive holds, or this quarter and year when it holds none.
  const QStringList& ReportPeriods() const { return reportPeriods_; }
  // A person's report of the chosen person, or the service summary.
  int BuildReport(bool summary, const QString& periodText, ReportDocument* document, QString* detail);

  struct Worker;
  class EntryItemModel;
  class PeriodItemModel;
  class ReadoutItemModel;
  class TextItemModel;

 private:
  // Runs the work on the archive's thread and waits for it in the event
  // loop; returns what the work returned.
  int run(const std::function<int(Worker&)>& work);
  // Runs a call of the archive in use; kErrArchiveOpen without one.
  int query(const std::function<int(DoseArchive&)>& call, QString* detail);
  ArchiveOutcome openWith(const ArchiveSettings& settings, bool keepOnFailure);
  int report(const ArchiveOutcome& outcome, ArchiveOutcome* failure);
  void clearLists();
  int fail(int code, const QString& detail);
  // What a writing action returns when it does not go on: kOk when it is
  // not offered (or has no question to ask), kErrArchiveReadOnly for a user
  // who may only read. Nothing when it goes on, the last note cleared.
  std::optional<int> refuseWriting(bool offered);
  int show(const ReadoutRow& row);
  // Shows the list's row, or its selected one for a row below 0; nothing
  // beyond the list.
  int show(const std::vector<ReadoutRow>& list, int row, int selected);
  // The row when the list has it, else -1 (none).
  template <typename T>
  static int rowIn(const std::vector<T>& list, int row) {
    return row >= 0 && row < static_cast<int>(list.size()) ? row : -1;
  }
  int refreshEntries();
  int refreshChosen();
  void filterEntries();
  void changed();
  void importStep(const ArchiveImportProgress& progress);
  void importFinished(int code, const QString& detail);
  int rechoose();
  // The review list, the change log and the sign-offs, as the archive has them now.
  int refreshRecord();
  int refreshLog();
  int refreshReview();
  bool mayWrite();
  // *stale: why the archive refused because the read-out changed since
  // it was shown (nothing asked again then).
  int resolveLoop(ResolutionRequest request, bool* resolved, QString* stale);
  // What the archive refused as given, so that its dialog is asked again,
  // and the refusal line that dialog shows.
  static bool isRefusal(int code);
  static QString refusalText(int code, const QString& detail);
  static QString periodRefusal(const QString& text);
  int selectReadout(const QString& dosimeter, qint64 id);

  ArchiveSettings settings_;
  std::unique_ptr<Worker> worker_;
  bool open_ = false;
  int depth_ = 0;  // queries under way (nested through the event loop)
  ArchiveLocation where_;
  QString location_;
  QString search_;
  std::vector<ArchiveEntry> all_, shown_;
  std::optional<ArchiveEntry> chosen_;
  std::vector<WearPeriod> periods_;
  int selectedPeriod_ = -1;
  std::optional<QDateTime> from_, to_;
  std::optional<QDate> totalsAt_;
  int sortColumn_ = kColTime;
  bool descending_ = false;
  std::vector<ReadoutRow> rows_;
  int selectedRow_ = -1;
  std::vector<ReadoutRow> conflicts_;
  int conflictColumn_ = kColTime;
  bool conflictsDescending_ = true;
  int selectedConflict_ = -1;
  ArchiveTotalsView totals_;
  DoseChartData chart_;
  std::vector<ReadoutRow> chartRows_;  // of chart_.points, in their order
  QStringList reportPeriods_;
  ArchiveImportProgress import_;
  // An import that ended while a query waited: taken up after it.
  std::optional<ArchiveOutcome> importEnded_;
  QString note_;
  QThread* importThread_ = nullptr;
  // Lives on the window's thread: the worker's reports are queued to it.
  std::unique_ptr<QObject> home_;
  std::unique_ptr<EntryItemModel> entryItems_;
  std::unique_ptr<PeriodItemModel> periodItems_;
  std::unique_ptr<ReadoutItemModel> readoutItems_, conflictItems_;
  bool writable_ = false;
  QString reviewPeriod_;
  std::vector<ReadoutRow> review_;
  int selectedReview_ = -1;
  ArchiveReviewCounts reviewCounts_;
  LogQuery logQuery_;
  bool logPersonOnly_ = false;
  std::vector<LogEntry> log_;
  std::vector<Signoff> signoffs_;
  int selectedSignoff_ = -1;
  QString lastSigner_;
  std::unique_ptr<TextItemModel> reviewItems_, logItems_, signoffItems_;
};

}  // namespace quelm
