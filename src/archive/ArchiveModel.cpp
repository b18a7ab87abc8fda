#include "archive/ArchiveModel.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QThread>
#include <algorithm>

#include "archive/ArchiveItemModels.h"
#include "archive/ArchiveText.h"
#include "base/ErrorCodes.h"
#include "base/EventWait.h"
#include "base/UserLocale.h"
#include "evaluation/BlockFormat.h"
#include "measurement/BlockRecord.h"

namespace quelm {

const ArchiveColumn kArchiveColumns[kArchiveColumnCount] = {
    {"Read-out time", false}, {"Reader", false},  {"Block", true},        {"Dosimeter", false},
    {"Person", false},        {"Dose", true},     {"Recomputed", true},   {"Status", false},
    {"Dose rate", true},      {"Exposure", true}, {"Error flags", false}, {"Remark", false},
    {"Source", false},
};

QString ArchiveEntry::text() const {
  return kind == Person ? QStringLiteral("%1 (%2)").arg(name, key) : QStringLiteral("Dosimeter ") + name;
}

// The archive's thread and the connection of the window's queries, which is
// opened, used and closed there only (a connection belongs to its thread).
struct ArchiveModel::Worker {
  QThread thread;
  QObject* context = new QObject;  // lives on the thread
  std::unique_ptr<DoseArchive> archive;
  std::unique_ptr<DoseArchive> candidate;  // being opened, before it replaces archive

  Worker() {
    thread.setObjectName(QStringLiteral("Dose archive"));
    context->moveToThread(&thread);
    thread.start();
  }
  ~Worker() {
    QMetaObject::invokeMethod(
        context,
        [this] {
          archive.reset();
          candidate.reset();
        },
        Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    delete context;
  }
};

namespace {

void sortReadouts(std::vector<ReadoutRow>& rows, int column, bool descending) {
  const auto number = [](const std::optional<double>& v) { return v.value_or(-1.0); };
  const auto less = [&](const ReadoutRow& a, const ReadoutRow& b) {
    switch (column) {
      case kColReader:
        return a.deviceId < b.deviceId;
      case kColBlock:
        return a.blockNumber < b.blockNumber;
      case kColDosimeter:
        return a.dosimeter < b.dosimeter;
      case kColPerson:
        return a.person.name < b.person.name;
      case kColDose:
        return number(a.doseUsv) < number(b.doseUsv);
      case kColRecomputed:
        return number(a.recomputed) < number(b.recomputed);
      case kColStatus:
        return std::make_pair(a.conflict, static_cast<int>(a.status())) <
               std::make_pair(b.conflict, static_cast<int>(b.status()));
      case kColDoseRate:
        return number(a.doseRate) < number(b.doseRate);
      case kColExposure:
        return number(a.exposureH) < number(b.exposureH);
      case kColErrors:
        return a.errorCodes < b.errorCodes;
      case kColRemark:
        return a.conflict < b.conflict;
      case kColSource:
        return a.source < b.source;
      default:
        // Read-outs without a time after those with one, as the archive lists them.
        if (a.readoutTime.isEmpty() != b.readoutTime.isEmpty()) return b.readoutTime.isEmpty();
        return a.readoutTime < b.readoutTime;
    }
  };
  std::stable_sort(rows.begin(), rows.end(), [&](const ReadoutRow& a, const ReadoutRow& b) {
    return descending ? less(b, a) : less(a, b);
  });
}

}  // namespace

bool ArchiveModel::isRefusal(int code) {
  return code == kErrArchiveInput || code == kErrArchiveOverlap || code == kErrArchiveAmbiguousPerson ||
         code == kErrArchiveNoPerson;
}

QString ArchiveModel::refusalText(int code, const QString& detail) {
  const QString message = ErrorMessage(code).message;
  return detail.isEmpty() ? message : message + QStringLiteral(": ") + detail;
}

QString ArchiveModel::periodRefusal(const QString& text) {
  return QStringLiteral("a period reads 2026Q3 or 2026, not \"%1\"").arg(text);
}

ArchiveModel::ArchiveModel(const ArchiveSettings& settings)
    : clock(ArchiveNow),
      settings_(settings),
      worker_(std::make_unique<Worker>()),
      home_(std::make_unique<QObject>()),
      entryItems_(std::make_unique<EntryItemModel>(*this)),
      periodItems_(std::make_unique<PeriodItemModel>(*this)),
      readoutItems_(std::make_unique<ReadoutItemModel>(
          *this, rows_, [this](int column, bool descending) { SortBy(column, descending); })),
      conflictItems_(std::make_unique<ReadoutItemModel>(
          *this, conflicts_, [this](int column, bool descending) { SortConflicts(column, descending); })),
      reviewItems_(std::make_unique<TextItemModel>(
          kReviewColumns, kReviewColumnCount, [this] { return review_.size(); },
          [this](size_t row, int column) { return ReviewCellText(review_[row], column); })),
      logItems_(std::make_unique<TextItemModel>(
          kLogColumns, kLogColumnCount, [this] { return log_.size(); },
          [this](size_t row, int column) { return LogCellText(log_[row], column); })),
      signoffItems_(std::make_unique<TextItemModel>(
          kSignoffColumns, kSignoffColumnCount, [this] { return signoffs_.size(); },
          [this](size_t row, int column) { return SignoffCellText(signoffs_[row], column); })) {
  totals_.annualLimit = settings.annualLimit;
  reportPeriods_ = {QuarterOf(ArchiveNow()).label, YearOf(ArchiveNow()).label};
}

ArchiveModel::~ArchiveModel() {
  // The import's transaction ends (committed or not) before its connection goes.
  if (importThread_) {
    importThread_->wait();
    delete importThread_;
  }
}

QAbstractItemModel* ArchiveModel::EntryItems() const { return entryItems_.get(); }
QAbstractItemModel* ArchiveModel::PeriodItems() const { return periodItems_.get(); }
QAbstractItemModel* ArchiveModel::ReadoutItems() const { return readoutItems_.get(); }
QAbstractItemModel* ArchiveModel::ConflictItems() const { return conflictItems_.get(); }
QAbstractItemModel* ArchiveModel::ReviewItems() const { return reviewItems_.get(); }
QAbstractItemModel* ArchiveModel::LogItems() const { return logItems_.get(); }
QAbstractItemModel* ArchiveModel::SignoffItems() const { return signoffItems_.get(); }

void ArchiveModel::changed() {
  if (onChanged) onChanged();
}

int ArchiveModel::fail(int code, const QString& detail) {
  if (onFailure) onFailure({code, detail});
  return code;
}

// --- The archive's thread --------------------------------------------------------

int ArchiveModel::run(const std::function<int(Worker&)>& work) {
  struct Call {
    bool done = false;  // on the window's thread only
    QSemaphore go;
  };
  const auto call = std::make_shared<Call>();
  int rc = kOk;
  if (depth_++ == 0 && onBusy) onBusy(true);
  Worker* worker = worker_.get();
  QObject* home = home_.get();
  const std::function<void()> hook = whileQuerying;
  const auto job = [&rc, &work, worker, home, call, hook] {
    if (hook) {
      QMetaObject::invokeMethod(
          home,
          [call, hook] {
            hook();
            call->go.release();
          },
          Qt::QueuedConnection);
      call->go.acquire();
    }
    rc = work(*worker);
    QMetaObject::invokeMethod(
        home, [call] { call->done = true; }, Qt::QueuedConnection);
  };
  if (QCoreApplication::instance()) {
    QMetaObject::invokeMethod(worker->context, job, Qt::QueuedConnection);
    // The window paints meanwhile; clicks and keys wait for the answer.
    waitUntil([&] { return call->done; }, WaitInput::Excluded);
  } else {
    QMetaObject::invokeMethod(worker->context, job, Qt::BlockingQueuedConnection);
  }
  if (--depth_ == 0) {
    if (onBusy) onBusy(false);
    // An import that ended meanwhile refreshes the lists after this query's
    // caller has taken its answer.
    if (importEnded_)
      QMetaObject::invokeMethod(
          home,
          [this] {
            if (const std::optional<ArchiveOutcome> o = std::exchange(importEnded_, std::nullopt))
              importFinished(o->code, o->detail);
          },
          Qt::QueuedConnection);
  }
  return rc;
}

int ArchiveModel::query(const std::function<int(DoseArchive&)>& call, QString* detail) {
  detail->clear();
  return run([&](Worker& w) {
    if (!w.archive) return int{kErrArchiveOpen};
    const int rc = call(*w.archive);
    if (rc) *detail = w.archive->errorDetail();
    return rc;
  });
}

// --- Opening -----------------------------------------------------------------------

void ArchiveModel::clearLists() {
  entryItems_->reset([this] {
    all_.clear();
    shown_.clear();
  });
  chosen_.reset();
  periodItems_->reset([this] { periods_.clear(); });
  readoutItems_->reset([this] { rows_.clear(); });
  conflictItems_->reset([this] { conflicts_.clear(); });
  reviewItems_->reset([this] { review_.clear(); });
  logItems_->reset([this] { log_.clear(); });
  signoffItems_->reset([this] { signoffs_.clear(); });
  selectedPeriod_ = selectedRow_ = selectedConflict_ = selectedReview_ = selectedSignoff_ = -1;
  reviewCounts_ = {};
  chart_ = {};
  chartRows_.clear();
  totals_ = {};
  totals_.annualLimit = settings_.annualLimit;
}

int ArchiveModel::Open() { return report(openWith(settings_, false), nullptr); }

int ArchiveModel::Reopen(const ArchiveSettings& settings, ArchiveOutcome* failure) {
  if (import_.running) return report({kErrArchiveImportRunning, location_}, failure);
  return report(openWith(settings, true), failure);
}

int ArchiveModel::report(const ArchiveOutcome& o, ArchiveOutcome* failure) {
  if (failure) *failure = o;
  // The operator's cancel of a password is no failure to show.
  if (!failure && o.code && o.code != kErrUserCancelled) fail(o.code, o.detail);
  return o.code;
}

ArchiveOutcome ArchiveModel::openWith(const ArchiveSettings& settings, bool keepOnFailure) {
  ArchiveLocation where;
  QString detail;
  int rc = ParseArchiveLocation(settings.database, &where, &detail);
  // What is refused is never repeated: an address may hold a password.
  const QString name = rc ? QStringLiteral("the database address") : where.displayText();
  std::optional<ArchivePassword> given;
  bool writable = false;
  QString upgraded;
  while (rc == kOk || (rc == kErrArchiveLogin && given)) {
    rc = run([&](Worker& w) {
      int code = kOk;
      w.candidate = DoseArchive::open(where, ArchiveOptions{}, &code, &detail);
      if (w.candidate) {
        w.candidate->setRecomputeTolerance(settings.recomputeTolerance);
        w.candidate->setControlTolerance(settings.controlTolerance);
        writable = w.candidate->canWrite();
        upgraded = w.candidate->upgradeNote();
      }
      return code;
    });
    // A server that wants a password gets one asked for.
    if (rc != kErrArchiveLogin || where.kind != ArchiveLocation::PostgreSQL || !askPassword) break;
    given = askPassword(name, where.password.isEmpty() ? QString() : refusalText(rc, detail));
    if (!given) {
      rc = kErrUserCancelled;
      detail.clear();
      break;
    }
    where.password = given->password;
  }
  if (rc) {
    run([keepOnFailure](Worker& w) {
      w.candidate.reset();
      if (!keepOnFailure) w.archive.reset();
      return int{kOk};
    });
    if (!keepOnFailure) {
      open_ = false;
      settings_ = settings;
      location_ = name;
      clearLists();
    }
    changed();
    return {rc, detail.isEmpty() ? name : name + QStringLiteral(": ") + detail};
  }
  run([](Worker& w) {
    w.archive = std::move(w.candidate);
    return int{kOk};
  });
  open_ = true;
  writable_ = writable;
  settings_ = settings;
  where_ = where;
  location_ = name;
  clearLists();
  // Merely opening an older archive upgrades it; the operator is told.
  note_ = upgraded.isEmpty() ? QString() : UpgradedLine(name, upgraded);
  if (given) {
    // For the session in any case: the import's connection and the
    // download's archiving need it too, whatever the file says.
    KeepSessionPassword(where, given->password);
    QString error;
    if (given->keepInFile && !StorePassword(where, given->password, &error)) fail(kErrFileWrite, error);
  }
  refreshEntries();
  changed();
  return {};
}

// --- Persons and dosimeters --------------------------------------------------------

int ArchiveModel::refreshEntries() {
  if (!open_) return kOk;
  std::vector<quelm::Person> persons;
  QStringList dosimeters, quarters, years;
  std::vector<ReadoutRow> conflicts;
  QString detail;
  const int rc = query(
      [&](DoseArchive& a) {
        int code = a.persons(&persons);
        if (!code) code = a.dosimeters(&dosimeters);
        if (!code) code = a.reportPeriods(&quarters, &years);
        if (!code) code = a.conflicts(&conflicts);
        return code;
      },
      &detail);
  if (rc) return fail(rc, detail);
  all_.clear();
  for (const quelm::Person& p : persons) all_.push_back({ArchiveEntry::Person, p.id, p.name});
  for (const QString& d : dosimeters) all_.push_back({ArchiveEntry::Dosimeter, d, d});
  reportPeriods_ = quarters + years;
  if (reportPeriods_.isEmpty()) {
    const QDateTime now = clock ? clock() : ArchiveNow();
    reportPeriods_ = {QuarterOf(now).label, YearOf(now).label};
  }
  conflictItems_->reset([&] {
    conflicts_ = std::move(conflicts);
    sortReadouts(conflicts_, conflictColumn_, conflictsDescending_);
  });
  selectedConflict_ = -1;
  filterEntries();
  const int chosen = rechoose();
  const int record = refreshRecord();
  return chosen ? chosen : record;
}

void ArchiveModel::filterEntries() {
  entryItems_->reset([this] {
    shown_.clear();
    const QString wanted = search_.trimmed();
    for (const ArchiveEntry& e : all_)
      if (e.text().contains(wanted, Qt::CaseInsensitive)) shown_.push_back(e);
  });
}

void ArchiveModel::SetSearch(const QString& text) {
  search_ = text;
  filterEntries();
  changed();
}

int ArchiveModel::ChosenIndex() const {
  if (!chosen_) return -1;
  for (size_t i = 0; i < shown_.size(); ++i)
    if (shown_[i].kind == chosen_->kind && shown_[i].key == chosen_->key) return static_cast<int>(i);
  return -1;
}

int ArchiveModel::Choose(int index) {
  if (index < 0 || index >= static_cast<int>(shown_.size())) {
    chosen_.reset();
  } else {
    chosen_ = shown_[static_cast<size_t>(index)];
  }
  selectedPeriod_ = -1;
  selectedRow_ = -1;
  int rc = refreshChosen();
  if (logPersonOnly_ && !rc) rc = refreshLog();
  changed();
  return rc;
}

int ArchiveModel::ChooseEntry(ArchiveEntry::Kind kind, const QString& key) {
  for (size_t i = 0; i < shown_.size(); ++i)
    if (shown_[i].kind == kind && shown_[i].key.compare(key, Qt::CaseInsensitive) == 0)
      return Choose(static_cast<int>(i));
  return Choose(-1);
}

int ArchiveModel::rechoose() {
  if (!chosen_) return Choose(-1);
  // One the search hides (a person just added) is listed again.
  const auto same = [this](const ArchiveEntry& e) {
    return e.kind == chosen_->kind && e.key == chosen_->key;
  };
  if (std::none_of(shown_.begin(), shown_.end(), same) && std::any_of(all_.begin(), all_.end(), same)) {
    search_.clear();
    filterEntries();
  }
  return ChooseEntry(chosen_->kind, chosen_->key);
}

int ArchiveModel::refreshChosen() {
  std::vector<WearPeriod> periods;
  std::vector<ReadoutRow> rows;
  PersonTotals totals;
  DoseChartData chart;
  std::vector<ReadoutRow> chartRows;
  const QDateTime at =
      totalsAt_ ? QDateTime(*totalsAt_, QTime(23, 59), Qt::UTC) : (clock ? clock() : ArchiveNow());
  int rc = kOk;
  QString detail;
  ArchiveReviewCounts counts;
  const ReportPeriod quarter = QuarterOf(at), year = YearOf(at);
  if (open_) {
    const std::optional<ArchiveEntry> chosen = chosen_;
    const bool person = chosen && chosen->kind == ArchiveEntry::Person;
    HistoryQuery history;
    PeriodQuery which;
    if (chosen) {
      (person ? history.personId : history.dosimeter) = chosen->key;
      (person ? which.personId : which.dosimeter) = chosen->key;
    }
    history.from = from_;
    history.to = to_;
    const ArchiveSettings settings = settings_;
    // One query: one busy pointer, and no list without its totals.
    rc = query(
        [&](DoseArchive& a) {
          // How much of the totals' quarter and year, of the whole archive, may still change.
          if (const int code = a.openReviewCount(quarter, &counts.quarterOpen)) return code;
          if (const int code = a.openReviewCount(year, &counts.yearOpen)) return code;
          if (!chosen) return int{kOk};
          std::vector<ReadoutRow> conflicts;
          if (const int code = a.periods(which, &periods)) return code;
          if (const int code = a.history(history, &rows)) return code;
          if (const int code = a.conflicts(history, &conflicts)) return code;
          double before = 0;
          if (!rows.empty() && !rows.front().readoutTime.isEmpty())
            if (const int code = YearDoseBefore(a, history.personId, history.dosimeter,
                                                *ParseArchiveTime(rows.front().readoutTime, false), &before))
              return code;
          chart = MakeDoseChart(rows, settings.annualLimit, settings.notificationLevel, std::nullopt, before);
          // The points name their read-out in time order; the list may be sorted otherwise.
          for (const DoseChartPoint& p : chart.points) chartRows.push_back(rows[static_cast<size_t>(p.row)]);
          rows.insert(rows.end(), conflicts.begin(), conflicts.end());
          if (!person) return a.dosimeterTotals(chosen->key, at, &totals);
          std::vector<PersonTotals> t;
          if (const int code = a.totals(chosen->key, at, &t)) return code;
          if (!t.empty()) totals = t.front();
          return int{kOk};
        },
        &detail);
    if (rc) {
      // Nothing half: a list without its totals would read as the person's record.
      periods.clear();
      rows.clear();
      chart = {};
      chartRows.clear();
      totals = {};
      counts = {};
    }
    counts.quarter = quarter.label;
    counts.year = year.label;
  }
  reviewCounts_ = counts;
  periodItems_->reset([&] { periods_ = std::move(periods); });
  readoutItems_->reset([&] {
    rows_ = std::move(rows);
    sortReadouts(rows_, sortColumn_, descending_);
  });
  if (selectedPeriod_ >= static_cast<int>(periods_.size())) selectedPeriod_ = -1;
  if (selectedRow_ >= static_cast<int>(rows_.size())) selectedRow_ = -1;
  chart_ = chart;
  chartRows_ = std::move(chartRows);
  totals_ = {};
  totals_.at = at;
  totals_.totals = totals;
  totals_.annualLimit = settings_.annualLimit;
  totals_.share = AnnualLimitShare(totals.yearToDate, settings_.annualLimit);
  return rc ? fail(rc, detail) : kOk;
}

void ArchiveModel::SelectPeriod(int index) {
  selectedPeriod_ = index >= 0 && index < static_cast<int>(periods_.size()) ? index : -1;
  changed();
}

// --- Read-outs ---------------------------------------------------------------------

bool ArchiveModel::SetRange(const QString& fromText, const QString& toText) {
  std::optional<QDateTime> from, to;
  if (!ParseOptionalUserBound(fromText, false, &from) || !ParseOptionalUserBound(toText, true, &to))
    return false;
  from_ = from;
  to_ = to;
  selectedRow_ = -1;
  refreshChosen();
  changed();
  return true;
}

bool ArchiveModel::SetTotalsAt(const QString& text) {
  std::optional<QDate> at;
  if (!text.trimmed().isEmpty()) {
    at = ParseUserDate(text);
    if (!at) return false;
  }
  totalsAt_ = at;
  refreshChosen();
  changed();
  return true;
}

QString ArchiveModel::CellText(const ReadoutRow& r, int column) const {
  switch (column) {
    case kColTime:
      return LocalTimeText(r.readoutTime);
    case kColReader:
      return r.deviceId;
    case kColBlock:
      return QString::number(r.blockNumber);
    case kColDosimeter:
      return r.dosimeter;
    case kColPerson:
      return r.person.name;
    case kColDose:
      return DoseText(r.doseUsv);
    case kColRecomputed:
      return DoseText(r.recomputed);
    case kColStatus:
      // A conflicting record counts nowhere; its remark says why.
      return r.conflict ? QString() : StatusText(r.status());
    case kColDoseRate:
      return r.doseRate ? DoseText(*r.doseRate) + QStringLiteral("/h") : QString();
    case kColExposure:
      return r.exposureH ? withUserDecimal(QString::number(*r.exposureH, 'f', 1)) + QStringLiteral(" h")
                         : QString();
    case kColErrors:
      return r.errorCodes ? FormatErrorCodes(static_cast<uint8_t>(r.errorCodes)).trimmed()
                          : QStringLiteral("OK");
    case kColRemark:
      if (r.conflict) return QStringLiteral("Conflict: other bytes, not counted");
      return IsHigh(r) ? QStringLiteral("High dose") : QString();
    case kColSource:
      return r.source;
  }
  return QString();
}

bool ArchiveModel::IsHigh(const ReadoutRow& r) const {
  return !r.conflict && r.doseUsv && *r.doseUsv >= settings_.notificationLevel;
}

void ArchiveModel::SortBy(int column, bool descending) {
  if (column < 0 || column >= kArchiveColumnCount) return;
  sortColumn_ = column;
  descending_ = descending;
  readoutItems_->reset([this] { sortReadouts(rows_, sortColumn_, descending_); });
  selectedRow_ = -1;
  changed();
}

void ArchiveModel::SelectRow(int row) {
  selectedRow_ = rowIn(rows_, row);
  changed();
}

int ArchiveModel::ShowInArchive(const QString& dosimeter, const QString& deviceId, int blockNumber) {
  search_.clear();
  if (const int rc = refreshEntries()) return rc;
  if (const int rc = ChooseEntry(ArchiveEntry::Dosimeter, dosimeter)) return rc;
  for (size_t i = 0; i < rows_.size(); ++i)
    if (!rows_[i].conflict && rows_[i].deviceId == deviceId && rows_[i].blockNumber == blockNumber)
      selectedRow_ = static_cast<int>(i);
  changed();
  return kOk;
}

// --- Conflicts ---------------------------------------------------------------------

void ArchiveModel::SortConflicts(int column, bool descending) {
  if (column < 0 || column >= kArchiveColumnCount) return;
  conflictColumn_ = column;
  conflictsDescending_ = descending;
  conflictItems_->reset([this] { sortReadouts(conflicts_, conflictColumn_, conflictsDescending_); });
  selectedConflict_ = -1;
  changed();
}

void ArchiveModel::SelectConflict(int row) {
  selectedConflict_ = rowIn(conflicts_, row);
  changed();
}

int ArchiveModel::ShowConflict(int row) { return show(conflicts_, row, selectedConflict_); }

// --- Actions -----------------------------------------------------------------------

ArchiveActions ArchiveModel::Actions() const {
  ArchiveActions a;
  const bool writing = import_.running;
  a.assign = open_ && !writing;
  a.endPeriod = a.assign && selectedPeriod_ >= 0;
  a.addPerson = a.assign;
  a.renamePerson = a.assign && chosen_ && chosen_->kind == ArchiveEntry::Person;
  a.importWearers = a.assign;
  a.import = open_ && !writing;
  a.personReport = open_ && chosen_ && chosen_->kind == ArchiveEntry::Person;
  a.summaryReport = open_;
  a.showReadout = selectedRow_ >= 0;
  a.showConflict = selectedConflict_ >= 0;
  a.resolve = a.assign && selectedReview_ >= 0;
  a.notional = a.assign;
  a.sign = a.assign;
  a.saveSigned = open_ && selectedSignoff_ >= 0;
  a.readOnly = open_ && !writable_;
  return a;
}

std::optional<int> ArchiveModel::refuseWriting(bool offered) {
  if (!offered) return kOk;
  if (!mayWrite()) return kErrArchiveReadOnly;
  note_.clear();
  return std::nullopt;
}

int ArchiveModel::Assign() {
  if (const std::optional<int> refused = refuseWriting(Actions().assign && askAssignment)) return *refused;
  WearPeriod proposal;
  if (chosen_) {
    if (chosen_->kind == ArchiveEntry::Person)
      proposal.person = {chosen_->key, chosen_->name};
    else
      proposal.dosimeter = chosen_->key;
  }
  const QDateTime now = clock ? clock() : ArchiveNow();
  proposal.from = QDateTime(now.date(), QTime(0, 0), Qt::UTC);
  std::vector<quelm::Person> persons;
  QString detail;
  if (const int rc = query([&](DoseArchive& a) { return a.persons(&persons); }, &detail))
    return fail(rc, detail);
  WearPeriod stored;
  std::optional<quelm::Person> created;
  for (QString refusal;;) {
    const std::optional<WearPeriod> period = askAssignment(proposal, persons, refusal);
    if (!period) return kOk;
    const QString who = period->person.id.isEmpty() ? period->person.name : period->person.id;
    const int rc = query(
        [&](DoseArchive& a) {
          return a.assign(period->dosimeter, who, period->from, period->to, &stored, &created);
        },
        &detail);
    if (rc == kOk) break;
    if (!isRefusal(rc)) return fail(rc, detail);
    refusal = refusalText(rc, detail);
    proposal = *period;
  }
  if (created) note_ = NewPersonLine(*created);
  // The new period shows under whom it was given to.
  if (!chosen_) chosen_ = ArchiveEntry{ArchiveEntry::Person, stored.person.id, stored.person.name};
  const int rc = refreshEntries();
  changed();
  return rc;
}

int ArchiveModel::EndPeriod() {
  if (const std::optional<int> refused = refuseWriting(Actions().endPeriod && askPeriodEnd)) return *refused;
  const WearPeriod period = periods_[static_cast<size_t>(selectedPeriod_)];
  QString detail;
  int stale = kOk;
  for (QString refusal;;) {
    const std::optional<QDateTime> end = askPeriodEnd(period, refusal);
    if (!end) return kOk;
    const QDateTime last(end->date(), QTime(23, 59), Qt::UTC);
    bool changedMeanwhile = false;
    const int rc = query(
        [&](DoseArchive& a) {
          const int code = a.endPeriod(period.dosimeter, last, nullptr, period.from, &period);
          changedMeanwhile = a.changedSinceShown();
          return code;
        },
        &detail);
    if (rc == kOk) break;
    if (changedMeanwhile) {
      stale = rc;
      break;
    }
    if (!isRefusal(rc)) return fail(rc, detail);
    refusal = refusalText(rc, detail);
  }
  const int keep = selectedPeriod_;
  const int rc = refreshChosen();
  selectedPeriod_ = keep < static_cast<int>(periods_.size()) ? keep : -1;
  changed();
  // The operator decides again on the period as it is now.
  return stale ? fail(stale, detail) : rc;
}

int ArchiveModel::AddPerson() {
  if (const std::optional<int> refused = refuseWriting(Actions().addPerson && askNewPerson)) return *refused;
  std::optional<quelm::Person> person;
  QString detail;
  for (QString refusal;;) {
    person = askNewPerson(refusal);
    if (!person) return kOk;
    const int rc = query([&](DoseArchive& a) { return a.addPerson(*person); }, &detail);
    if (rc == kOk) break;
    if (!isRefusal(rc)) return fail(rc, detail);
    refusal = refusalText(rc, detail);
  }
  note_ = NewPersonLine(*person);
  chosen_ = ArchiveEntry{ArchiveEntry::Person, person->id.trimmed(), person->name};
  const int rc = refreshEntries();
  changed();
  return rc;
}

int ArchiveModel::RenamePerson() {
  if (const std::optional<int> refused = refuseWriting(Actions().renamePerson && askNewName)) return *refused;
  const quelm::Person person{chosen_->key, chosen_->name};
  QString detail;
  for (QString refusal;;) {
    const std::optional<QString> name = askNewName(person, refusal);
    if (!name) return kOk;
    const int rc = query([&](DoseArchive& a) { return a.renamePerson(person.id, *name); }, &detail);
    if (rc == kOk) break;
    if (!isRefusal(rc)) return fail(rc, detail);
    refusal = refusalText(rc, detail);
  }
  const int rc = refreshEntries();
  changed();
  return rc;
}

int ArchiveModel::ImportWearerList() {
  if (const std::optional<int> refused = refuseWriting(Actions().importWearers && chooseWearerList))
    return *refused;
  const QString path = chooseWearerList();
  if (path.isEmpty()) return kOk;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return fail(kErrFileOpen, path + QStringLiteral(": ") + file.errorString());
  std::vector<WearerListRow> rows;
  QString error;
  if (!ParseWearerList(file.readAll(), &rows, &error))
    return fail(kErrArchiveInput, path + QStringLiteral(": ") + error);
  WearerListResult result;
  QString detail;
  const QString source = QFileInfo(path).absoluteFilePath();
  if (const int rc =
          query([&](DoseArchive& a) { return a.importWearerList(rows, &result, source); }, &detail))
    return fail(rc, path + QStringLiteral(": ") + detail);
  note_ = QFileInfo(path).fileName() + QStringLiteral(": ") + WearerListLine(result);
  const int rc = refreshEntries();
  changed();
  return rc;
}

int ArchiveModel::ShowReadout(int row) { return show(rows_, row, selectedRow_); }

int ArchiveModel::show(const std::vector<ReadoutRow>& list, int row, int selected) {
  if (row < 0) row = selected;
  if (row < 0 || row >= static_cast<int>(list.size())) return kOk;
  return show(list[static_cast<size_t>(row)]);
}

int ArchiveModel::ShowChartPoint(int point) { return show(chartRows_, point, -1); }

int ArchiveModel::show(const ReadoutRow& row) {
  if (!showRecord) return kOk;
  QByteArray record = row.record;
  if (!row.conflict) {
    QString detail;
    if (const int rc = query([&](DoseArchive& a) { return a.record(row.id, &record); }, &detail))
      return fail(rc, detail);
  }
  if (record.size() != static_cast<qsizetype>(sizeof(BlockRecord)))
    return fail(kErrArchiveQuery,
                QStringLiteral("the archived record holds %1 bytes, not 512").arg(record.size()));
  showRecord(record, row.conflict ? 0 : row.id);
  return kOk;
}

int ArchiveModel::BuildReport(bool summary, const QString& periodText, ReportDocument* document,
                              QString* detail) {
  detail->clear();
  if (!open_) return kErrArchiveOpen;
  const std::optional<ReportPeriod> period = ParseReportPeriod(periodText);
  if (!period) {
    *detail = periodRefusal(periodText);
    return kErrArchiveInput;
  }
  if (!summary && (!chosen_ || chosen_->kind != ArchiveEntry::Person)) {
    *detail = QStringLiteral("choose a person first");
    return kErrArchiveNoPerson;
  }
  const QDateTime printed = clock ? clock() : ArchiveNow();
  const QString person = summary ? QString() : chosen_->key;
  const ArchiveSettings settings = settings_;
  return query(
      [&](DoseArchive& a) {
        return summary ? BuildSummaryReport(a, *period, settings, printed, document)
                       : BuildPersonReport(a, person, *period, settings, printed, document);
      },
      detail);
}

// --- Import ------------------------------------------------------------------

int ArchiveModel::StartImport() {
  if (import_.running) return fail(kErrArchiveImportRunning, location_);
  if (!Actions().import || !chooseImportFiles) return kOk;
  if (!mayWrite()) return kErrArchiveReadOnly;
  const QStringList files = chooseImportFiles();
  if (files.isEmpty()) return kOk;
  if (importThread_) {
    importThread_->wait();
    delete importThread_;
  }
  import_ = ArchiveImportJob(files).Progress();
  import_.running = true;
  QObject* home = home_.get();
  const ArchiveLocation where = where_;
  const double level = settings_.notificationLevel;
  // The import's own connection: a database connection belongs to the
  // thread that opened it, and the window's queries go on meanwhile.
  importThread_ = QThread::create([this, home, where, files, level] {
    const auto post = [home](std::function<void()> f) {
      QMetaObject::invokeMethod(home, std::move(f), Qt::QueuedConnection);
    };
    int code = kOk;
    QString detail;
    auto archive = DoseArchive::open(where, ArchiveOptions{}, &code, &detail);
    if (!archive) {
      post([this, code, detail] { importFinished(code, detail); });
      return;
    }
    ArchiveImportJob job(files);
    int lastDone = -1, lastFile = -1;
    job.onProgress = [&](const ArchiveImportProgress& p) {
      // Every 32nd record is enough for a bar; the event queue stays short.
      if (p.running && p.file == lastFile && p.done - lastDone < 32) return;
      lastDone = p.done;
      lastFile = p.file;
      post([this, p] { importStep(p); });
    };
    code = job.Run(*archive, level);
    post([this, code, detail = job.FailureDetail()] { importFinished(code, detail); });
  });
  importThread_->start();
  changed();
  return kOk;
}

void ArchiveModel::importStep(const ArchiveImportProgress& progress) {
  import_ = progress;
  import_.running = true;
  changed();
}

void ArchiveModel::importFinished(int code, const QString& detail) {
  // Not in the middle of a query's wait: its caller is about to take its
  // answer, and these lists would be overwritten by older ones.
  if (depth_ > 0) {
    importEnded_ = ArchiveOutcome{code, detail};
    return;
  }
  import_.running = false;
  import_.done = import_.total;
  if (importThread_) {
    importThread_->wait();
    delete importThread_;
    importThread_ = nullptr;
  }
  refreshEntries();
  changed();
  if (code) fail(code, detail);
}

}  // namespace quelm
