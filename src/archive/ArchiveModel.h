#pragma once
// The dose archive window as a core object, free of widgets: the archive in
// use, the searchable list of persons and dosimeters, the chosen one with
// its wear periods, its read-outs (date range, sort order, conflicts beside
// them, high doses marked), its totals and chart, the import of data files
// with its progress, and which actions may be used. Every figure comes from
// a call of the archive core; the window paints what this holds and
// forwards clicks, decisions are asked through callbacks, failures are
// result codes with the database's detail.
//
// Imports run on a worker thread with a connection of their own, so the
// window stays responsive; one import at a time.

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

// The read-out list's columns: title and whether it holds numbers.
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
  kColDose,
  kColDoseRate,
  kColExposure,
  kColErrors,
  kColRemark,
  kArchiveColumnCount
};
extern const ArchiveColumn kArchiveColumns[kArchiveColumnCount];

// A failure (code and what the database or the rule said) or nothing.
struct ArchiveOutcome {
  int code = 0;
  QString detail;
};

struct ArchiveActions {
  bool assign = false;
  bool endPeriod = false;  // a wear period is selected
  bool addPerson = false;
  bool renamePerson = false;  // a person is chosen
  bool importWearers = false;
  bool import = false;
  bool personReport = false;  // a person is chosen
  bool summaryReport = false;
  bool showReadout = false;  // a read-out is selected
};

struct ArchiveTotalsView {
  QDateTime at;
  PersonTotals totals;
  double annualLimit = 0;
  double share = 0;  // percent of the annual limit
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
  // --- Decisions
  // Data files to import; empty: none.
  std::function<QStringList()> chooseImportFiles;
  // The period to assign, from the proposal; nothing: cancelled. The
  // person is an id (person.id) or what was typed (person.name): an id, or
  // a name, which a new person gets when nobody has it.
  std::function<std::optional<WearPeriod>(const WearPeriod& proposal, const std::vector<quelm::Person>& persons)>
      askAssignment;
  // A new person's id and name; nothing: cancelled.
  std::function<std::optional<quelm::Person>()> askNewPerson;
  // The chosen person's new name; nothing: cancelled.
  std::function<std::optional<QString>(const quelm::Person& person)> askNewName;
  // A wearer list (CSV) to import; empty: none.
  std::function<QString()> chooseWearerList;
  // The last day of the period; nothing: cancelled.
  std::function<std::optional<QDateTime>(const WearPeriod& period)> askPeriodEnd;
  // Shows an archived record in the main window's detail view.
  std::function<void(const QByteArray& record)> showRecord;
  // "Now" for the totals (tests fix it).
  std::function<QDateTime()> clock;

  // Opens the archive the settings name, and lists it. kOk or the code.
  int Open();
  // Another archive (the options window changed it): opened at once.
  int Reopen(const ArchiveSettings& settings);
  // The settings for the next Open().
  void SetSettings(const ArchiveSettings& settings) { settings_ = settings; }
  bool IsOpen() const { return archive_ != nullptr; }
  // The database in use as messages name it (path or server, no password).
  const QString& Location() const { return location_; }
  const ArchiveSettings& Settings() const { return settings_; }

  // --- Persons and dosimeters
  void SetSearch(const QString& text);
  const QString& Search() const { return search_; }
  const std::vector<ArchiveEntry>& Entries() const { return shown_; }
  // An index into Entries(), -1 for none.
  int Choose(int index);
  const std::optional<ArchiveEntry>& Chosen() const { return chosen_; }
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
  // Counts the changes of the lists (entries, periods, read-outs): a view
  // refills its lists only when it moved.
  unsigned ListSerial() const { return listSerial_; }
  QString CellText(int row, int column) const;
  bool RowHigh(int row) const;
  void SelectRow(int row);
  int SelectedRow() const { return selectedRow_; }
  const ArchiveTotalsView& Totals() const { return totals_; }
  // One point per read-out with a time and a dose.
  const DoseChartData& Chart() const { return chart_; }

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

  // The quarters and years a report may cover, newest first.
  QStringList ReportPeriods() const;
  // A person's report of the chosen person, or the service summary.
  int BuildReport(bool summary, const QString& periodText, ReportDocument* document, QString* detail);

 private:
  int fail(int code, const QString& detail);
  int show(const ReadoutRow& row);
  int refreshEntries();
  int refreshChosen();
  void sortRows();
  void changed();
  void importStep(const ArchiveImportProgress& progress);
  void importFinished(int code, const QString& detail);
  int rechoose();

  ArchiveSettings settings_;
  std::unique_ptr<DoseArchive> archive_;
  ArchiveLocation where_;
  QString location_;
  QString search_;
  std::vector<ArchiveEntry> all_, shown_;
  std::optional<ArchiveEntry> chosen_;
  std::vector<WearPeriod> periods_;
  int selectedPeriod_ = -1;
  std::optional<QDateTime> from_, to_;
  int sortColumn_ = kColTime;
  bool descending_ = false;
  std::vector<ReadoutRow> rows_;
  int selectedRow_ = -1;
  unsigned listSerial_ = 0;
  ArchiveTotalsView totals_;
  DoseChartData chart_;
  std::vector<ReadoutRow> chartRows_;  // of chart_.points, in their order
  ArchiveImportProgress import_;
  QString note_;
  QThread* worker_ = nullptr;
  // Lives on the window's thread: the worker's reports are queued to it.
  std::unique_ptr<QObject> home_;
};

}  // namespace quelm
