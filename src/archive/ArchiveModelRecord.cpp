// The dose archive window's record pages as ArchiveModel keeps them: the
// review list and its resolutions, notional doses, a re-evaluation adopted
// from the main window's chart, the change log, the sign-offs and their
// stored documents. Every rule is the archive core's: this file asks for
// the operator's decisions, runs the core's calls on the archive's thread
// and keeps the lists.
#include <cstring>

#include "archive/ArchiveItemModels.h"
#include "archive/ArchiveModel.h"
#include "archive/ArchiveText.h"
#include "base/ErrorCodes.h"
#include "evaluation/DoseChain.h"
#include "measurement/BlockRecord.h"

namespace quelm {

const ArchiveColumn kReviewColumns[kReviewColumnCount] = {
    {"Id", true},      {"Read-out time", false}, {"Dosimeter", false}, {"Person id", false},
    {"Person", false}, {"Dose", true},           {"Why", false},
};
const ArchiveColumn kLogColumns[kLogColumnCount] = {
    {"Time (UTC)", false}, {"Who", false}, {"Host", false}, {"Role", false},   {"What", false},
    {"Entity", false},     {"Old", false}, {"New", false},  {"Reason", false},
};
const ArchiveColumn kSignoffColumns[kSignoffColumnCount] = {
    {"Period", false},    {"Signed at (UTC)", false}, {"Signed by", false},
    {"Open items", true}, {"SHA-256", false},
};

ArchiveOutcome ReadOnlyRefusal(const QString& location) {
  return {kErrArchiveReadOnly,
          QStringLiteral("for this user at %1: its lists and reports work, but nothing can be changed")
              .arg(location)};
}

namespace {

// A time of the log or of a sign-off ("2026-10-02T14:03:11Z") as the window
// writes dates, in UTC as stored.
QString utcText(const QString& stored) {
  const QDateTime t = QDateTime::fromString(stored, Qt::ISODate);
  if (!t.isValid()) return stored;
  const QDateTime utc = t.toUTC();
  return LocalDateText(utc) + QStringLiteral(" ") + utc.toString(QStringLiteral("HH:mm:ss"));
}

bool sameWindow(const EvaluationWindow& a, const EvaluationWindow& b) {
  return a.start == b.start && a.length == b.length && a.normFact == b.normFact;
}

// The window and factor a read-out was evaluated with when it was read:
// what the main window shows first for it.
EvaluationWindow ownWindow(const QByteArray& bytes) {
  EvaluationWindow w;
  if (bytes.size() != static_cast<qsizetype>(sizeof(BlockRecord))) return w;
  BlockRecord record;
  std::memcpy(&record, bytes.constData(), sizeof record);
  uint32_t values[kRawValueCount] = {};
  uint32_t ranges[kRawValueCount] = {};
  DecodeBlockValues(record, values, ranges);
  const EvalMembers m = InitialEvalMembers(record, values);
  return {m.evalStart, m.evalLength, m.normFact};
}

}  // namespace

QString ReviewCellText(const ReadoutRow& r, int column) {
  switch (column) {
    case 0:
      return QString::number(r.id);
    case 1:
      return LocalTimeText(r.readoutTime);
    case 2:
      return r.dosimeter;
    case 3:
      return r.person.id;
    case 4:
      return r.person.name;
    case 5:
      return DoseText(r.doseUsv);
    case 6:
      return ReviewReasonText(r.openReasons());
  }
  return QString();
}

QString LogCellText(const LogEntry& e, int column) {
  switch (column) {
    case 0:
      return utcText(e.timeUtc);
    case 1:
      return e.who;
    case 2:
      return e.host;
    case 3:
      return e.role;
    case 4:
      return e.what;
    // Wear periods' bounds and read-out times as the window writes dates.
    case 5:
      return LocalTimesIn(e.entity);
    case 6:
      return LocalTimesIn(e.oldValue);
    case 7:
      return LocalTimesIn(e.newValue);
    case 8:
      return e.reason;
  }
  return QString();
}

QString SignoffCellText(const Signoff& s, int column) {
  switch (column) {
    case 0:
      return s.period;
    case 1:
      return utcText(s.signedAt);
    case 2:
      return s.signedBy;
    case 3:
      return QString::number(s.openItems);
    case 4:
      return s.sha256;
  }
  return QString();
}

bool ArchiveModel::mayWrite() {
  if (writable_) return true;
  const ArchiveOutcome o = ReadOnlyRefusal(location_);
  fail(o.code, o.detail);
  return false;
}

// --- The lists ---------------------------------------------------------------------

int ArchiveModel::refreshRecord() {
  if (!open_) return kOk;
  const int review = refreshReview();
  const int log = refreshLog();
  std::vector<Signoff> signoffs;
  QString detail;
  if (const int rc = query([&](DoseArchive& a) { return a.signoffs(&signoffs); }, &detail))
    return fail(rc, detail);
  // The selection stays with its sign-off, never with its place in the list.
  const qint64 selected = selectedSignoff_ >= 0 ? signoffs_[static_cast<size_t>(selectedSignoff_)].id : 0;
  signoffItems_->reset([&] { signoffs_ = std::move(signoffs); });
  selectedSignoff_ = -1;
  for (size_t i = 0; i < signoffs_.size(); ++i)
    if (signoffs_[i].id == selected) selectedSignoff_ = static_cast<int>(i);
  return review ? review : log;
}

int ArchiveModel::refreshReview() {
  if (!open_) return kOk;
  const std::optional<ReportPeriod> period = ParseReportPeriod(reviewPeriod_);
  std::vector<ReadoutRow> items;
  QString detail;
  const int rc = query([&](DoseArchive& a) { return a.review(period, &items); }, &detail);
  // An item is resolved by its id: the selection never moves onto another one.
  const qint64 selected = selectedReview_ >= 0 ? review_[static_cast<size_t>(selectedReview_)].id : 0;
  reviewItems_->reset([&] { review_ = std::move(items); });
  selectedReview_ = -1;
  for (size_t i = 0; i < review_.size(); ++i)
    if (review_[i].id == selected) selectedReview_ = static_cast<int>(i);
  return rc ? fail(rc, detail) : kOk;
}

int ArchiveModel::refreshLog() {
  if (!open_) return kOk;
  LogQuery query = logQuery_;
  if (logPersonOnly_ && chosen_ && chosen_->kind == ArchiveEntry::Person) query.personId = chosen_->key;
  std::vector<LogEntry> entries;
  QString detail;
  const int rc = this->query([&](DoseArchive& a) { return a.changeLog(query, &entries); }, &detail);
  logItems_->reset([&] { log_ = std::move(entries); });
  return rc ? fail(rc, detail) : kOk;
}

// --- Review ------------------------------------------------------------------------

bool ArchiveModel::SetReviewPeriod(const QString& text) {
  const QString t = text.trimmed();
  const std::optional<ReportPeriod> period = ParseReportPeriod(t);
  if (!t.isEmpty() && !period) return false;
  reviewPeriod_ = period ? period->label : QString();
  refreshReview();
  changed();
  return true;
}

void ArchiveModel::SelectReviewRow(int row) {
  selectedReview_ = rowIn(review_, row);
  changed();
}

int ArchiveModel::ShowReviewRow(int row) { return show(review_, row, selectedReview_); }

int ArchiveModel::Resolve(Resolution action) {
  if (!Actions().resolve || !askResolution || action == Resolution::None) return kOk;
  if (!mayWrite()) return kErrArchiveReadOnly;
  ResolutionRequest request;
  request.readout = review_[static_cast<size_t>(selectedReview_)];
  request.action = action;
  if (action == Resolution::Reevaluate) {
    QByteArray bytes;
    QString detail;
    if (const int rc = query([&](DoseArchive& a) { return a.record(request.readout.id, &bytes); }, &detail))
      return fail(rc, detail);
    request.window = ownWindow(bytes);
  }
  bool resolved = false;
  QString stale;
  const int rc = resolveLoop(request, &resolved, &stale);
  if (stale.isEmpty() && (rc || !resolved)) return rc;
  const int refreshed = refreshEntries();
  changed();
  // The operator decides again on the list as it is now.
  return stale.isEmpty() ? refreshed : fail(rc, stale);
}

int ArchiveModel::resolveLoop(ResolutionRequest request, bool* resolved, QString* stale) {
  *resolved = false;
  stale->clear();
  note_.clear();
  const qint64 id = request.readout.id;
  const bool reevaluate = request.action == Resolution::Reevaluate;
  ResolveOutcome outcome;
  QString detail;
  for (QString refusal;;) {
    const std::optional<ResolutionRequest> answer = askResolution(request, refusal);
    if (!answer) return kOk;
    refusal.clear();
    request.reason = answer->reason;
    // Another window's dose is worked out and shown before it can be stored.
    if (reevaluate && !request.windowFixed && answer->window &&
        (!request.window || !request.newDose || !sameWindow(*answer->window, *request.window))) {
      request.window = answer->window;
      request.newDose.reset();
      double dose = 0;
      const int rc =
          query([&](DoseArchive& a) { return a.reevaluatedDose(id, *request.window, &dose); }, &detail);
      if (rc == kOk) {
        request.newDose = dose;
      } else {
        if (!isRefusal(rc)) return fail(rc, detail);
        refusal = refusalText(rc, detail);
      }
      continue;
    }
    const std::optional<EvaluationWindow> window = reevaluate ? request.window : std::nullopt;
    bool changedMeanwhile = false;
    const int rc = query(
        [&](DoseArchive& a) {
          const int code = a.resolve(id, request.action, request.reason, window, &outcome, &request.readout);
          changedMeanwhile = a.changedSinceShown();
          return code;
        },
        &detail);
    if (rc == kOk) break;
    if (changedMeanwhile) {
      *stale = detail;
      return rc;
    }
    if (!isRefusal(rc)) return fail(rc, detail);
    refusal = refusalText(rc, detail);
  }
  note_ = ResolvedLine(id, outcome, request.action);
  *resolved = true;
  return kOk;
}

int ArchiveModel::AdoptReevaluation(qint64 id, const QByteArray& shown, const EvaluationWindow& window) {
  if (!askResolution) return kOk;
  if (!open_) return fail(kErrArchiveOpen, location_);
  if (!mayWrite()) return kErrArchiveReadOnly;
  ResolutionRequest request;
  request.action = Resolution::Reevaluate;
  request.window = window;
  request.windowFixed = true;
  const QString dosimeter = DecodeReadout(shown).dosimeter;
  bool same = false, listed = false;
  double dose = 0;
  QString detail;
  const int rc = query(
      [&](DoseArchive& a) {
        // Another database than the one it was shown from may hold another
        // read-out under that id, or none.
        HistoryQuery h;
        h.dosimeter = dosimeter;
        std::vector<ReadoutRow> rows;
        if (const int code = a.history(h, &rows)) return code;
        for (const ReadoutRow& r : rows)
          if (r.id == id) {
            request.readout = r;
            listed = true;
          }
        if (!listed) return int{kOk};
        QByteArray stored;
        if (const int code = a.record(id, &stored)) return code;
        same = stored == shown;
        return same ? a.reevaluatedDose(id, window, &dose) : int{kOk};
      },
      &detail);
  if (rc) return fail(rc, detail);
  if (!same || !listed)
    return fail(kErrArchiveInput,
                QStringLiteral("the block the main window shows is not read-out %1 of %2; show it "
                               "from this archive again")
                    .arg(id)
                    .arg(location_));
  request.newDose = dose;
  bool resolved = false;
  QString stale;
  const int code = resolveLoop(request, &resolved, &stale);
  if (stale.isEmpty() && (code || !resolved)) return code;
  const int shownAnew = selectReadout(dosimeter, id);
  return stale.isEmpty() ? shownAnew : fail(code, stale);
}

int ArchiveModel::selectReadout(const QString& dosimeter, qint64 id) {
  const auto find = [&] {
    for (size_t i = 0; i < rows_.size(); ++i)
      if (!rows_[i].conflict && rows_[i].id == id) return static_cast<int>(i);
    return -1;
  };
  int rc = refreshEntries();
  // The chosen person's or dosimeter's list when it holds the read-out,
  // else its dosimeter's.
  if (!rc && find() < 0) {
    search_.clear();
    filterEntries();
    rc = ChooseEntry(ArchiveEntry::Dosimeter, dosimeter);
  }
  selectedRow_ = find();
  changed();
  return rc;
}

int ArchiveModel::AddNotionalDose() {
  if (const std::optional<int> refused = refuseWriting(Actions().notional && askNotional)) return *refused;
  NotionalRequest request;
  if (chosen_ && chosen_->kind == ArchiveEntry::Person) request.person = {chosen_->key, chosen_->name};
  request.period = !reviewPeriod_.isEmpty()    ? reviewPeriod_
                   : !reportPeriods_.isEmpty() ? reportPeriods_.front()
                                               : QuarterOf(clock ? clock() : ArchiveNow()).label;
  std::vector<quelm::Person> persons;
  QString detail;
  if (const int rc = query([&](DoseArchive& a) { return a.persons(&persons); }, &detail))
    return fail(rc, detail);
  quelm::Person person;
  std::optional<ReportPeriod> period;
  for (QString refusal;;) {
    const std::optional<NotionalRequest> answer = askNotional(request, persons, refusal);
    if (!answer) return kOk;
    request = *answer;
    period = ParseReportPeriod(request.period);
    if (!period) {
      refusal = refusalText(kErrArchiveInput, periodRefusal(request.period));
      continue;
    }
    // An id, or a name exactly one person has.
    QString lookupDetail;
    const int rc = query(
        [&](DoseArchive& a) {
          // By the id chosen or the name typed; either way with its name, for the note.
          const QString typed = request.person.id.isEmpty() ? request.person.name : request.person.id;
          {
            PersonLookup lookup;
            if (const int code = a.findPerson(typed, &lookup)) return code;
            QStringList who;
            for (const quelm::Person& p : lookup.candidates) who << PersonText(p);
            if (lookup.outcome == PersonLookup::Ambiguous) {
              lookupDetail = QStringLiteral("\"%1\" is more than one person: %2; give the id")
                                 .arg(typed, who.join(QStringLiteral(", ")));
              return int{kErrArchiveAmbiguousPerson};
            }
            if (lookup.outcome == PersonLookup::Unknown) {
              lookupDetail = QStringLiteral("no person has the id or name \"%1\"").arg(typed);
              return int{kErrArchiveNoPerson};
            }
            person = lookup.person;
          }
          return a.addNotionalDose(person.id, *period, request.doseUsv, request.reason);
        },
        &detail);
    if (rc == kOk) break;
    if (!lookupDetail.isEmpty()) detail = lookupDetail;
    if (!isRefusal(rc)) return fail(rc, detail);
    refusal = refusalText(rc, detail);
  }
  note_ = QStringLiteral("Notional dose of %1 for %2: %3")
              .arg(PersonText(person), period->label, DoseText(request.doseUsv));
  const int rc = refreshEntries();
  changed();
  return rc;
}

// --- Change log ----------------------------------------------------------------------

bool ArchiveModel::SetLogFilter(const QString& fromText, const QString& toText, bool chosenPersonOnly) {
  LogQuery q;
  if (!ParseOptionalUserBound(fromText, false, &q.from) || !ParseOptionalUserBound(toText, true, &q.to))
    return false;
  logQuery_ = q;
  logPersonOnly_ = chosenPersonOnly;
  refreshLog();
  changed();
  return true;
}

// --- Sign-offs -----------------------------------------------------------------------

void ArchiveModel::SelectSignoff(int row) {
  selectedSignoff_ = rowIn(signoffs_, row);
  changed();
}

int ArchiveModel::Sign(const QString& periodText) {
  if (const std::optional<int> refused = refuseWriting(Actions().sign && askSignoff && signPeriod))
    return *refused;
  const std::optional<ReportPeriod> period = ParseReportPeriod(periodText);
  if (!period) return fail(kErrArchiveInput, periodRefusal(periodText));
  SignoffRequest request;
  request.period = *period;
  request.signedBy = lastSigner_;
  QString detail;
  const auto count = [&] {
    return query([&](DoseArchive& a) { return a.openReviewCount(*period, &request.openItems); }, &detail);
  };
  if (const int rc = count()) return fail(rc, detail);
  QString line;
  for (QString refusal;;) {
    const std::optional<SignoffRequest> answer = askSignoff(request, refusal);
    if (!answer) return kOk;
    request.signedBy = answer->signedBy;
    request.withOpenItems = answer->withOpenItems;
    const SignoffRun signing{*period, request.signedBy, request.withOpenItems, settings_,
                             clock ? clock() : ArchiveNow()};
    // The signer says why it refused; the archive's own detail only when it did not.
    QString why;
    const int rc = query([&](DoseArchive& a) { return signPeriod(a, signing, &line, &why); }, &detail);
    if (!why.isEmpty()) detail = why;
    if (rc == kOk) break;
    if (rc != kErrArchiveOpenItems && !isRefusal(rc)) return fail(rc, detail);
    refusal = refusalText(rc, detail);
    // What is open now, for the choice to sign with it.
    if (rc == kErrArchiveOpenItems)
      if (const int counted = count()) return fail(counted, detail);
  }
  lastSigner_ = request.signedBy;
  note_ = line;
  const int rc = refreshEntries();
  selectedSignoff_ = signoffs_.empty() ? -1 : static_cast<int>(signoffs_.size()) - 1;
  changed();
  return rc;
}

int ArchiveModel::SignedDocument(bool summary, QByteArray* pdf, QString* name, QString* detail) {
  detail->clear();
  if (!open_) return kErrArchiveOpen;
  if (selectedSignoff_ < 0) {
    *detail = QStringLiteral("choose a sign-off first");
    return kErrArchiveInput;
  }
  if (!summary && (!chosen_ || chosen_->kind != ArchiveEntry::Person)) {
    *detail = QStringLiteral("choose a person first, or the service summary");
    return kErrArchiveNoPerson;
  }
  const Signoff s = signoffs_[static_cast<size_t>(selectedSignoff_)];
  const QString person = summary ? QString() : chosen_->key;
  *name =
      QStringLiteral("Signed %1 %2.pdf").arg(summary ? QStringLiteral("summary") : chosen_->name, s.period);
  return query([&](DoseArchive& a) { return a.signedDocument(s.id, person, pdf); }, detail);
}

}  // namespace quelm
