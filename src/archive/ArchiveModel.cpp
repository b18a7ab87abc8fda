#include "archive/ArchiveModel.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <algorithm>

#include "archive/ArchiveText.h"
#include "base/ErrorCodes.h"
#include "base/UserLocale.h"
#include "evaluation/BlockFormat.h"
#include "measurement/BlockRecord.h"

namespace quelm {

const ArchiveColumn kArchiveColumns[kArchiveColumnCount] = {
    {"Read-out time", false}, {"Reader", false}, {"Block", true},     {"Dosimeter", false},
    {"Person", false},        {"Dose", true},    {"Dose rate", true}, {"Exposure", true},
    {"Error flags", false},   {"Remark", false},
};

QString ArchiveEntry::text() const {
  return kind == Person ? QStringLiteral("%1 (%2)").arg(name, key) : QStringLiteral("Dosimeter ") + name;
}

ArchiveModel::ArchiveModel(const ArchiveSettings& settings)
    : clock(ArchiveNow), settings_(settings), home_(std::make_unique<QObject>()) {}

ArchiveModel::~ArchiveModel() {
  // The import's transaction ends (committed or not) before its connection goes.
  if (worker_) {
    worker_->wait();
    delete worker_;
  }
}

void ArchiveModel::changed() {
  if (onChanged) onChanged();
}

int ArchiveModel::fail(int code, const QString& detail) {
  if (onFailure) onFailure({code, detail});
  return code;
}

int ArchiveModel::Open() {
  archive_.reset();
  all_.clear();
  shown_.clear();
  chosen_.reset();
  periods_.clear();
  rows_.clear();
  chart_ = {};
  totals_ = {};
  QString detail;
  int rc = ParseArchiveLocation(settings_.database, &where_, &detail);
  if (rc == kOk) {
    location_ = where_.displayText();
    archive_ = DoseArchive::open(where_, ArchiveOptions{}, &rc, &detail);
    if (archive_) archive_->setRecomputeTolerance(settings_.recomputeTolerance);
  } else {
    location_ = settings_.database;
  }
  if (rc == kOk) rc = refreshEntries();
  changed();
  return rc ? fail(rc, location_ + QStringLiteral(": ") + detail) : kOk;
}

int ArchiveModel::Reopen(const ArchiveSettings& settings) {
  if (import_.running) return fail(kErrArchiveImportRunning, location_);
  settings_ = settings;
  return Open();
}

int ArchiveModel::refreshEntries() {
  if (!archive_) return kOk;
  std::vector<quelm::Person> persons;
  QStringList dosimeters;
  if (const int rc = archive_->persons(&persons)) return rc;
  if (const int rc = archive_->dosimeters(&dosimeters)) return rc;
  all_.clear();
  for (const quelm::Person& p : persons) all_.push_back({ArchiveEntry::Person, p.id, p.name});
  for (const QString& d : dosimeters) all_.push_back({ArchiveEntry::Dosimeter, d, d});
  SetSearch(search_);
  return kOk;
}

void ArchiveModel::SetSearch(const QString& text) {
  search_ = text;
  shown_.clear();
  const QString wanted = text.trimmed();
  for (const ArchiveEntry& e : all_)
    if (e.text().contains(wanted, Qt::CaseInsensitive)) shown_.push_back(e);
  ++listSerial_;
  changed();
}

int ArchiveModel::Choose(int index) {
  if (index < 0 || index >= static_cast<int>(shown_.size())) {
    chosen_.reset();
  } else {
    chosen_ = shown_[static_cast<size_t>(index)];
  }
  selectedPeriod_ = -1;
  selectedRow_ = -1;
  const int rc = refreshChosen();
  changed();
  return rc ? fail(rc, archive_ ? archive_->errorDetail() : QString()) : kOk;
}

int ArchiveModel::ChooseEntry(ArchiveEntry::Kind kind, const QString& key) {
  for (size_t i = 0; i < shown_.size(); ++i)
    if (shown_[i].kind == kind && shown_[i].key.compare(key, Qt::CaseInsensitive) == 0)
      return Choose(static_cast<int>(i));
  return Choose(-1);
}

int ArchiveModel::rechoose() {
  if (!chosen_) return Choose(-1);
  return ChooseEntry(chosen_->kind, chosen_->key);
}

int ArchiveModel::refreshChosen() {
  ++listSerial_;
  periods_.clear();
  rows_.clear();
  chartRows_.clear();
  chart_ = {};
  totals_ = {};
  totals_.annualLimit = settings_.annualLimit;
  if (!archive_ || !chosen_) return kOk;
  DoseArchive& a = *archive_;
  const bool person = chosen_->kind == ArchiveEntry::Person;
  HistoryQuery query;
  (person ? query.personId : query.dosimeter) = chosen_->key;
  query.from = from_;
  query.to = to_;
  PeriodQuery periods;
  (person ? periods.personId : periods.dosimeter) = chosen_->key;
  if (const int rc = a.periods(periods, &periods_)) return rc;
  std::vector<ReadoutRow> conflicts;
  if (const int rc = a.history(query, &rows_)) return rc;
  if (const int rc = a.conflicts(query, &conflicts)) return rc;
  double before = 0;
  if (!rows_.empty() && !rows_.front().readoutTime.isEmpty())
    if (const int rc = YearDoseBefore(a, query.personId, query.dosimeter,
                                      *ParseArchiveTime(rows_.front().readoutTime, false), &before))
      return rc;
  chart_ = MakeDoseChart(rows_, settings_.annualLimit, settings_.notificationLevel, std::nullopt, before);
  // The points name their read-out in time order; the list may be sorted otherwise.
  chartRows_.clear();
  for (const DoseChartPoint& p : chart_.points)
    chartRows_.push_back(rows_[static_cast<size_t>(p.row)]);
  rows_.insert(rows_.end(), conflicts.begin(), conflicts.end());
  totals_.at = clock ? clock() : ArchiveNow();
  if (person) {
    std::vector<PersonTotals> t;
    if (const int rc = a.totals(chosen_->key, totals_.at, &t)) return rc;
    if (!t.empty()) totals_.totals = t.front();
  } else if (const int rc = a.dosimeterTotals(chosen_->key, totals_.at, &totals_.totals)) {
    return rc;
  }
  totals_.share = AnnualLimitShare(totals_.totals.yearToDate, settings_.annualLimit);
  sortRows();
  return kOk;
}

void ArchiveModel::SelectPeriod(int index) {
  selectedPeriod_ = index >= 0 && index < static_cast<int>(periods_.size()) ? index : -1;
  changed();
}

bool ArchiveModel::SetRange(const QString& fromText, const QString& toText) {
  const auto parse = [](const QString& text, bool upper, std::optional<QDateTime>* out) {
    const QString t = text.trimmed();
    if (t.isEmpty()) {
      out->reset();
      return true;
    }
    *out = ParseUserBound(t, upper);
    return out->has_value();
  };
  std::optional<QDateTime> from, to;
  if (!parse(fromText, false, &from) || !parse(toText, true, &to)) return false;
  from_ = from;
  to_ = to;
  selectedRow_ = -1;
  if (const int rc = refreshChosen()) fail(rc, archive_->errorDetail());
  changed();
  return true;
}

QString ArchiveModel::CellText(int row, int column) const {
  const ReadoutRow& r = rows_[static_cast<size_t>(row)];
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
      return RowHigh(row) ? QStringLiteral("High dose") : QString();
  }
  return QString();
}

bool ArchiveModel::RowHigh(int row) const {
  const ReadoutRow& r = rows_[static_cast<size_t>(row)];
  return !r.conflict && r.doseUsv && *r.doseUsv >= settings_.notificationLevel;
}

void ArchiveModel::SortBy(int column, bool descending) {
  if (column < 0 || column >= kArchiveColumnCount) return;
  sortColumn_ = column;
  descending_ = descending;
  sortRows();
  selectedRow_ = -1;
  changed();
}

void ArchiveModel::sortRows() {
  const auto number = [](const std::optional<double>& v) { return v.value_or(-1.0); };
  const int column = sortColumn_;
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
      case kColDoseRate:
        return number(a.doseRate) < number(b.doseRate);
      case kColExposure:
        return number(a.exposureH) < number(b.exposureH);
      case kColErrors:
        return a.errorCodes < b.errorCodes;
      case kColRemark:
        return a.conflict < b.conflict;
      default:
        // Read-outs without a time after those with one, as the archive lists them.
        if (a.readoutTime.isEmpty() != b.readoutTime.isEmpty()) return b.readoutTime.isEmpty();
        return a.readoutTime < b.readoutTime;
    }
  };
  std::stable_sort(rows_.begin(), rows_.end(), [&](const ReadoutRow& a, const ReadoutRow& b) {
    return descending_ ? less(b, a) : less(a, b);
  });
  ++listSerial_;
}

void ArchiveModel::SelectRow(int row) {
  selectedRow_ = row >= 0 && row < static_cast<int>(rows_.size()) ? row : -1;
  changed();
}

ArchiveActions ArchiveModel::Actions() const {
  ArchiveActions a;
  const bool open = archive_ != nullptr;
  const bool writing = import_.running;
  a.assign = open && !writing;
  a.endPeriod = a.assign && selectedPeriod_ >= 0;
  a.addPerson = a.assign;
  a.renamePerson = a.assign && chosen_ && chosen_->kind == ArchiveEntry::Person;
  a.importWearers = a.assign;
  a.import = open && !writing;
  a.personReport = open && chosen_ && chosen_->kind == ArchiveEntry::Person;
  a.summaryReport = open;
  a.showReadout = selectedRow_ >= 0;
  return a;
}

int ArchiveModel::Assign() {
  if (!Actions().assign || !askAssignment) return kOk;
  note_.clear();
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
  if (const int rc = archive_->persons(&persons)) return fail(rc, archive_->errorDetail());
  const std::optional<WearPeriod> period = askAssignment(proposal, persons);
  if (!period) return kOk;
  const QString who = period->person.id.isEmpty() ? period->person.name : period->person.id;
  WearPeriod stored;
  std::optional<quelm::Person> created;
  if (const int rc = archive_->assign(period->dosimeter, who, period->from, period->to, &stored, &created))
    return fail(rc, archive_->errorDetail());
  if (created) note_ = NewPersonLine(*created);
  refreshEntries();
  // The new period shows under whom it was given to.
  if (!chosen_)
    ChooseEntry(ArchiveEntry::Person, stored.person.id);
  else
    rechoose();
  changed();
  return kOk;
}

int ArchiveModel::EndPeriod() {
  if (!Actions().endPeriod || !askPeriodEnd) return kOk;
  const WearPeriod period = periods_[static_cast<size_t>(selectedPeriod_)];
  const std::optional<QDateTime> end = askPeriodEnd(period);
  if (!end) return kOk;
  const QDateTime last(end->date(), QTime(23, 59), Qt::UTC);
  if (last < period.from)
    return fail(kErrArchiveInput, QStringLiteral("the period of %1 starts on %2; it cannot end before")
                                      .arg(period.dosimeter, LocalDateText(period.from)));
  if (const int rc = archive_->endPeriod(period.dosimeter, last)) return fail(rc, archive_->errorDetail());
  const int keep = selectedPeriod_;
  refreshChosen();
  selectedPeriod_ = keep < static_cast<int>(periods_.size()) ? keep : -1;
  changed();
  return kOk;
}

int ArchiveModel::AddPerson() {
  if (!Actions().addPerson || !askNewPerson) return kOk;
  note_.clear();
  const std::optional<quelm::Person> person = askNewPerson();
  if (!person) return kOk;
  if (const int rc = archive_->addPerson(*person)) return fail(rc, archive_->errorDetail());
  note_ = NewPersonLine(*person);
  refreshEntries();
  ChooseEntry(ArchiveEntry::Person, person->id);
  return kOk;
}

int ArchiveModel::RenamePerson() {
  if (!Actions().renamePerson || !askNewName) return kOk;
  const std::optional<QString> name = askNewName({chosen_->key, chosen_->name});
  if (!name) return kOk;
  if (const int rc = archive_->renamePerson(chosen_->key, *name)) return fail(rc, archive_->errorDetail());
  const QString key = chosen_->key;
  refreshEntries();
  ChooseEntry(ArchiveEntry::Person, key);
  return kOk;
}

int ArchiveModel::ImportWearerList() {
  if (!Actions().importWearers || !chooseWearerList) return kOk;
  note_.clear();
  const QString path = chooseWearerList();
  if (path.isEmpty()) return kOk;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return fail(kErrFileOpen, path + QStringLiteral(": ") + file.errorString());
  std::vector<WearerListRow> rows;
  QString error;
  if (!ParseWearerList(file.readAll(), &rows, &error)) return fail(kErrArchiveInput, path + QStringLiteral(": ") + error);
  WearerListResult result;
  if (const int rc = archive_->importWearerList(rows, &result, QFileInfo(path).absoluteFilePath()))
    return fail(rc, path + QStringLiteral(": ") + archive_->errorDetail());
  note_ = QFileInfo(path).fileName() + QStringLiteral(": ") + WearerListLine(result);
  refreshEntries();
  rechoose();
  return kOk;
}

int ArchiveModel::ShowReadout(int row) {
  if (row < 0) row = selectedRow_;
  if (row < 0 || row >= static_cast<int>(rows_.size())) return kOk;
  return show(rows_[static_cast<size_t>(row)]);
}

int ArchiveModel::ShowChartPoint(int point) {
  if (point < 0 || point >= static_cast<int>(chartRows_.size())) return kOk;
  return show(chartRows_[static_cast<size_t>(point)]);
}

int ArchiveModel::show(const ReadoutRow& row) {
  if (!showRecord) return kOk;
  QByteArray record = row.record;
  if (!row.conflict) {
    if (!archive_) return kOk;
    if (const int rc = archive_->record(row.id, &record)) return fail(rc, archive_->errorDetail());
  }
  if (record.size() != static_cast<qsizetype>(sizeof(BlockRecord)))
    return fail(kErrArchiveQuery,
                QStringLiteral("the archived record holds %1 bytes, not 512").arg(record.size()));
  showRecord(record);
  return kOk;
}

QStringList ArchiveModel::ReportPeriods() const {
  const QDateTime now = clock ? clock() : ArchiveNow();
  QStringList periods;
  QDateTime q = QuarterStart(now);
  for (int i = 0; i < 8; ++i, q = q.addMonths(-3)) periods << QuarterOf(q).label;
  for (int i = 0; i < 3; ++i) periods << QString::number(now.date().year() - i);
  return periods;
}

int ArchiveModel::BuildReport(bool summary, const QString& periodText, ReportDocument* document,
                              QString* detail) {
  detail->clear();
  if (!archive_) return kErrArchiveOpen;
  const std::optional<ReportPeriod> period = ParseReportPeriod(periodText);
  if (!period) {
    *detail = QStringLiteral("a period reads 2026Q3 or 2026, not \"%1\"").arg(periodText);
    return kErrArchiveInput;
  }
  const QDateTime printed = clock ? clock() : ArchiveNow();
  int rc = kOk;
  if (summary) {
    rc = BuildSummaryReport(*archive_, *period, settings_, printed, document);
  } else if (chosen_ && chosen_->kind == ArchiveEntry::Person) {
    rc = BuildPersonReport(*archive_, chosen_->key, *period, settings_, printed, document);
  } else {
    *detail = QStringLiteral("choose a person first");
    return kErrArchiveNoPerson;
  }
  if (rc) *detail = archive_->errorDetail();
  return rc;
}

// --- Import ------------------------------------------------------------------

int ArchiveModel::StartImport() {
  if (import_.running) return fail(kErrArchiveImportRunning, location_);
  if (!Actions().import || !chooseImportFiles) return kOk;
  const QStringList files = chooseImportFiles();
  if (files.isEmpty()) return kOk;
  if (worker_) {
    worker_->wait();
    delete worker_;
  }
  import_ = ArchiveImportJob(files).Progress();
  import_.running = true;
  QObject* home = home_.get();
  const ArchiveLocation where = where_;
  const double level = settings_.notificationLevel;
  // The worker's own connection: a database connection belongs to the
  // thread that opened it.
  worker_ = QThread::create([this, home, where, files, level] {
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
  worker_->start();
  changed();
  return kOk;
}

void ArchiveModel::importStep(const ArchiveImportProgress& progress) {
  import_ = progress;
  import_.running = true;
  changed();
}

void ArchiveModel::importFinished(int code, const QString& detail) {
  import_.running = false;
  import_.done = import_.total;
  if (worker_) {
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
  }
  refreshEntries();
  refreshChosen();
  changed();
  if (code) fail(code, detail);
}

}  // namespace quelm
