// The dose archive's review list and its resolutions, notional doses,
// sign-offs of quarters and years, and the change log: what makes the
// record one a radiation protection officer can sign, and every figure in
// a signed report explainable later.
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>

#include "archive/ArchiveImpl.h"
#include "archive/ArchiveText.h"
#include "evaluation/DoseChain.h"

namespace quelm {

using namespace archive_sql;
using namespace archive_impl;

namespace {

QString controlFree(const QString& text, const QString& what, QString* error) {
  for (const QChar c : text)
    if (c.category() == QChar::Other_Control) {
      *error = QStringLiteral("%1 holds a tab, line break or other control character").arg(what);
      return QString();
    }
  return text.simplified();
}

// A text the operator must give, simplified: false with *error saying why
// when it holds a control character or nothing (`missing`).
bool requiredText(const QString& text, const QString& what, const QString& missing, QString* out, QString* error) {
  *out = controlFree(text, what, error);
  if (!error->isEmpty()) return false;
  if (out->isEmpty()) {
    *error = missing;
    return false;
  }
  return true;
}

QString doseValue(const std::optional<double>& dose) {
  return dose ? QString::number(*dose, 'f', 2) + QStringLiteral(" uSv") : QStringLiteral("no dose");
}

// The log's bounds of a day range: from its first second, to its last.
QString logBound(const QDateTime& t, bool upper) {
  return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm")) + (upper ? QStringLiteral(":59Z") : QStringLiteral(":00Z"));
}

const QString kLogFields =
    QStringLiteral("SELECT id, time_utc, who, host, role, what, entity, old_value, new_value, reason");

LogEntry logEntryOf(const QSqlQuery& q) {
  return {q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
          q.value(4).toString(),   q.value(5).toString(), q.value(6).toString(), q.value(7).toString(),
          q.value(8).toString(),   q.value(9).toString()};
}

}  // namespace

QString EvaluationWindowError(const EvaluationWindow& w) {
  if (w.start < 0 || w.start > 99) return QStringLiteral("the window starts at a channel from 0 to 99, not %1").arg(w.start);
  if (w.length < 1 || w.start + w.length > 100)
    return QStringLiteral("a window from channel %1 is 1 to %2 channels long, not %3").arg(w.start).arg(100 - w.start).arg(w.length);
  if (!std::isfinite(w.normFact) || !(w.normFact > 0) || w.normFact > kMaxInitialNormFact)
    return QStringLiteral("the normalisation factor is above 0 and at most %1").arg(kMaxInitialNormFact);
  return QString();
}

// --- Review ---------------------------------------------------------------------

namespace archive_impl {

int readClockFacts(Connection& c, const QString& from, ClockFacts* facts, const std::set<QString>& readers) {
  facts->ranBack.clear();
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  // A list of a few readers' read-outs reads only theirs: the others' blocks
  // say nothing of their clocks. Many readers are read as all.
  const bool some = !readers.empty() && readers.size() <= kClockReaders;
  q.prepare(
      QStringLiteral("SELECT device_id, readout_time, block_number, id, archived_at FROM readouts WHERE ") +
      (from.isEmpty() ? QStringLiteral("readout_time IS NOT NULL") : QStringLiteral("readout_time >= ?")) +
      (some ? QStringLiteral(" AND device_id IN (") + marks(static_cast<qsizetype>(readers.size())) +
                  QLatin1Char(')')
            : QString()));
  if (!from.isEmpty()) q.addBindValue(from);
  if (some)
    for (const QString& reader : readers) q.addBindValue(reader);
  if (const int rc = c.exec(q)) return rc;
  struct Block {
    ReaderBlock block;
    qint64 id;
  };
  // Only blocks of one reader say anything of its clock.
  std::map<QString, std::vector<Block>> byReader;
  while (q.next()) {
    // A time ahead of the archive's clock is known wrong: the blocks after
    // it are not judged by it.
    const QString time = q.value(1).toString();
    if (TimedAfterArchiving(time, q.value(4).toString())) continue;
    byReader[q.value(0).toString()].push_back({{time, q.value(2).toInt()}, q.value(3).toLongLong()});
  }
  q.finish();
  std::vector<ReaderBlock> blocks;
  for (auto& [reader, list] : byReader) {
    std::sort(list.begin(), list.end(), [](const Block& a, const Block& b) {
      return std::tie(a.block.readoutTime, a.block.blockNumber, a.id) <
             std::tie(b.block.readoutTime, b.block.blockNumber, b.id);
    });
    blocks.clear();
    for (const Block& b : list) blocks.push_back(b.block);
    for (const size_t i : TimedBeforeEarlierBlocks(blocks)) facts->ranBack.insert(list[i].id);
  }
  return kOk;
}

}  // namespace archive_impl

int DoseArchive::review(const std::optional<ReportPeriod>& period, std::vector<ReadoutRow>* items) {
  detail_.clear();
  // The listed read-outs are timed in the period or have no time.
  ClockFacts clock;
  if (const int rc = readClockFacts(*d_, period ? ArchiveTimeText(period->from) : QString(), &clock))
    return rc;
  QString ranBack;
  for (const qint64 id : clock.ranBack)
    ranBack += (ranBack.isEmpty() ? QString() : QStringLiteral(",")) + QString::number(id);
  QString sql = kRowColumns + QStringLiteral("readouts r LEFT JOIN wear_periods w ON") + kBelongs +
                QStringLiteral(" LEFT JOIN persons p ON p.id = w.person_id") + kResolutionJoin +
                QStringLiteral(
                    " WHERE (r.error_codes <> 0 OR r.measured_dose_usv IS NULL OR r.conflicted <> 0"
                    " OR w.id IS NULL"
                    // A superset of the read-outs TimedAfterArchiving() finds.
                    " OR SUBSTR(r.readout_time, 1, 10) > SUBSTR(r.archived_at, 1, 10)");
  if (tolerance_)
    sql += QStringLiteral(" OR ABS(r.recomputed_usv - r.measured_dose_usv) > ? * (CASE WHEN ABS(r.measured_dose_usv)"
                          " > ABS(r.recomputed_usv) THEN ABS(r.measured_dose_usv) ELSE ABS(r.recomputed_usv) END)");
  if (!ranBack.isEmpty()) sql += QStringLiteral(" OR r.id IN (") + ranBack + QLatin1Char(')');
  sql += controlOutFilter(controlTolerance_.has_value()) + QLatin1Char(')');
  // By when a dose counts; one that belongs to nobody by its read-out time.
  // A read-out without a time cannot be placed in a period, so it is open
  // in every period its dosimeter was worn in: no quarter is signed past it.
  if (period)
    sql += QStringLiteral(" AND ((") + kDoseTime + QStringLiteral(" >= ? AND ") + kDoseTime +
           QStringLiteral(
               " <= ?) OR (r.readout_time IS NULL AND EXISTS (SELECT 1 FROM wear_periods u"
               " WHERE u.dosimeter = r.dosimeter AND ") +
           kWornIn +
           QStringLiteral(
               ")))"
               // Implied by the above, as a dose time is never later than its
               // read-out time, but on the read-out alone: the read-outs before
               // the period drop out on the listing index, before they are joined
               // to their wear periods.
               " AND (r.readout_time >= ? OR r.readout_time IS NULL)");
  QSqlQuery q(d_->db());
  q.prepare(sql + readoutOrder(*d_->dialect));
  if (tolerance_) q.addBindValue(*tolerance_ / 100.0);
  if (controlTolerance_) q.addBindValue(*controlTolerance_ / 100.0);
  if (period) {
    const QString from = ArchiveTimeText(period->from), to = ArchiveTimeText(period->to);
    for (const QString& bound : {from, to, to, from, from}) q.addBindValue(bound);
  }
  std::vector<ReadoutRow> rows;
  if (const int rc = d_->rows(q, &rows, &clock)) return rc;
  items->clear();
  for (ReadoutRow& row : rows) {
    // A control dosimeter is worn by nobody by design.
    if (row.control) row.reasons &= ~kReviewUnassigned;
    if (row.openReasons()) items->push_back(std::move(row));
  }
  return kOk;
}

int DoseArchive::openReviewCount(const ReportPeriod& period, int* count) {
  std::vector<ReadoutRow> items;
  const int rc = review(period, &items);
  *count = static_cast<int>(items.size());
  return rc;
}

int OpenReviewItems::of(const QString& personId) const {
  const auto it = byPerson.find(personKey(personId));
  return it == byPerson.end() ? 0 : it->second;
}

int DoseArchive::openReviewItems(const ReportPeriod& period, OpenReviewItems* out) {
  std::vector<ReadoutRow> items;
  if (const int rc = review(period, &items)) return rc;
  OpenReviewItems open;
  open.total = static_cast<int>(items.size());
  bool timeless = false;
  for (const ReadoutRow& row : items) {
    if (!row.person.id.isEmpty())
      ++open.byPerson[personKey(row.person.id)];
    else if (row.readoutTime.isEmpty())
      timeless = true;
  }
  if (timeless) {
    // Who wore a dosimeter in the period, read only when a read-out without
    // a time needs it: the persons its review condition stands for.
    std::map<QString, std::set<QString>> wearers;
    QSqlQuery q(d_->db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
                  "SELECT u.dosimeter, p.person_id FROM wear_periods u JOIN persons p ON p.id = u.person_id"
                  " WHERE ") +
              kWornIn);
    q.addBindValue(ArchiveTimeText(period.to));
    q.addBindValue(ArchiveTimeText(period.from));
    if (const int rc = d_->exec(q)) return rc;
    while (q.next()) wearers[q.value(0).toString()].insert(personKey(q.value(1).toString()));
    for (const ReadoutRow& row : items)
      if (row.person.id.isEmpty() && row.readoutTime.isEmpty())
        if (const auto it = wearers.find(row.dosimeter); it != wearers.end())
          for (const QString& key : it->second) ++open.byPerson[key];
  }
  *out = std::move(open);
  return kOk;
}

namespace {
// One read-out as the lists show it, and its bytes.
int readoutById(DoseArchive::Impl& d, qint64 id, ReadoutRow* row, QByteArray* record) {
  QSqlQuery q(d.db());
  q.setForwardOnly(true);
  q.prepare(kRowColumns + QStringLiteral("readouts r LEFT JOIN wear_periods w ON") + kBelongs +
            QStringLiteral(" LEFT JOIN persons p ON p.id = w.person_id") + kResolutionJoin +
            QStringLiteral(" WHERE r.id = ?"));
  q.addBindValue(id);
  if (const int rc = d.exec(q)) return rc;
  if (!q.next()) {
    *d.detail = QStringLiteral("no read-out %1 is archived").arg(id);
    return kErrArchiveInput;
  }
  *row = rowOf(q, *d.tolerance);
  q.finish();
  ControlFacts controls;
  if (const int rc = readControlFacts(d, *d.controlTolerance, &controls)) return rc;
  controls.apply(*row);
  if (!row->readoutTime.isEmpty()) {
    ClockFacts clock;
    if (const int rc = readClockFacts(d, row->readoutTime, &clock, {row->deviceId})) return rc;
    clock.apply(*row);
  }
  if (record) {
    q.prepare(QStringLiteral("SELECT record FROM readouts WHERE id = ?"));
    q.addBindValue(id);
    if (const int rc = d.exec(q)) return rc;
    *record = q.next() ? q.value(0).toByteArray() : QByteArray();
  }
  return kOk;
}

// Whether a read-out still is what the operator decided on: the same
// resolution and what it covers, status, dose of record and wearer.
bool sameAsShown(const ReadoutRow& shown, const ReadoutRow& now) {
  return shown.resolution == now.resolution && shown.covered == now.covered &&
         shown.status() == now.status() && shown.doseUsv == now.doseUsv && shown.person.id == now.person.id;
}

int evaluate(const QByteArray& bytes, const EvaluationWindow& w, double* dose, QString* detail) {
  if (const QString e = EvaluationWindowError(w); !e.isEmpty()) {
    *detail = e;
    return kErrArchiveInput;
  }
  if (bytes.size() != static_cast<qsizetype>(sizeof(BlockRecord))) {
    *detail = QStringLiteral("the archived record holds %1 bytes, not 512").arg(bytes.size());
    return kErrArchiveQuery;
  }
  BlockRecord record;
  std::memcpy(&record, bytes.constData(), sizeof record);
  const DoseEvaluation e = EvaluateDose(record, w.start, w.length, w.normFact);
  if (e.normFactZero || !std::isfinite(e.measDose) || e.measDose < kMinDoseUsv || e.measDose > kMaxDoseUsv) {
    *detail = QStringLiteral("the window gives no dose a reader could have measured");
    return kErrArchiveInput;
  }
  *dose = e.measDose;
  return kOk;
}
}  // namespace

int DoseArchive::reevaluatedDose(qint64 readoutId, const EvaluationWindow& window, double* dose) {
  detail_.clear();
  ReadoutRow row;
  QByteArray record;
  if (const int rc = readoutById(*d_, readoutId, &row, &record)) return rc;
  return evaluate(record, window, dose, &detail_);
}

int DoseArchive::resolve(qint64 readoutId, Resolution action, const QString& reasonText,
                         const std::optional<EvaluationWindow>& window, ResolveOutcome* outcome,
                         const ReadoutRow* shown) {
  detail_.clear();
  changedSinceShown_ = false;
  QString reason;
  if (!requiredText(reasonText, QStringLiteral("the reason"), QStringLiteral("a resolution needs its reason"), &reason, &detail_)) return kErrArchiveInput;
  if (action == Resolution::None || (action == Resolution::Reevaluate) != window.has_value()) {
    detail_ = QStringLiteral("accept, exclude, or reevaluate with a window and a normalisation factor");
    return kErrArchiveInput;
  }
  Impl& d = *d_;
  ResolveOutcome out;
  const int rc = d.write([&]() -> int {
    // Two resolutions of one read-out at once: the second waits for the
    // first and logs what the first made of it as its old value.
    if (*d.dialect->forUpdate) {
      QSqlQuery lock(d.db());
      lock.prepare(QStringLiteral("SELECT id FROM readouts WHERE id = ?") +
                   QLatin1String(d.dialect->forUpdate));
      lock.addBindValue(readoutId);
      if (const int rc = d.exec(lock)) return rc;
    }
    QByteArray record;
    if (const int rc = readoutById(d, readoutId, &out.before, &record)) return rc;
    if (onReadBeforeWrite) onReadBeforeWrite();
    // Another window or program resolved it after it was shown: what the
    // operator decided on no longer exists.
    if (shown && !sameAsShown(*shown, out.before)) {
      changedSinceShown_ = true;
      detail_ = QStringLiteral("read-out %1 changed since it was shown (now %2, %3); the list is shown anew")
                    .arg(readoutId)
                    .arg(StatusText(out.before.status()), doseValue(out.before.doseUsv));
      return kErrArchiveInput;
    }
    const ReadoutFields original = DecodeReadout(record);
    std::optional<double> dose = original.measuredDose;
    if (window) {
      double adopted = 0;
      if (const int rc = evaluate(record, *window, &adopted, &detail_)) return rc;
      dose = adopted;
    }
    QSqlQuery q(d.db());
    q.prepare(QStringLiteral("INSERT INTO resolutions (readout_id, action, covered, reason, dose_usv, eval_start,"
                             " eval_length, norm_fact, resolved_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    q.addBindValue(readoutId);
    q.addBindValue(ResolutionText(action));
    q.addBindValue(out.before.reasons);
    q.addBindValue(reason);
    q.addBindValue(nullableDouble(window ? dose : std::nullopt));
    q.addBindValue(window ? QVariant(window->start) : QVariant(QMetaType::fromType<int>()));
    q.addBindValue(window ? QVariant(window->length) : QVariant(QMetaType::fromType<int>()));
    q.addBindValue(window ? QVariant(window->normFact) : QVariant(QMetaType::fromType<double>()));
    q.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    if (const int rc = d.exec(q)) return rc;
    const qlonglong resolution = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    // The reader's dose stays stored; the dose of record and what it
    // counts follow the resolution.
    q.prepare(QStringLiteral("UPDATE readouts SET dose_usv = ?, counted_usv = ?, resolution_id = ? WHERE id = ?"));
    q.addBindValue(nullableDouble(dose));
    q.addBindValue(CountedDose(dose, action));
    q.addBindValue(resolution);
    q.addBindValue(readoutId);
    if (const int rc = d.exec(q)) return rc;
    out.doseOfRecord = dose;
    ReadoutRow after = out.before;
    after.doseUsv = dose;
    after.covered = out.before.reasons;
    after.resolution = action;
    QString newValue = StatusText(after.status()) + QStringLiteral(", ") + doseValue(dose);
    if (window)
      newValue += QStringLiteral(" (channels %1 to %2, normalisation %3)")
                      .arg(window->start)
                      .arg(window->start + window->length - 1)
                      .arg(window->normFact, 0, 'g', 8);
    const QString when = out.before.doseTime.isEmpty() ? out.before.readoutTime : out.before.doseTime;
    return appendLog(
        d, {{QStringLiteral("review ") + ResolutionText(action),
             readoutEntity(readoutId, out.before.dosimeter, out.before.readoutTime),
             StatusText(out.before.status()) + QStringLiteral(", ") + doseValue(out.before.doseUsv), newValue,
             reason, personKey(out.before.person.id), when, when}});
  });
  if (rc) return rc;
  if (outcome) *outcome = out;
  return kOk;
}

int DoseArchive::addNotionalDose(const QString& personId, const ReportPeriod& period, double doseUsv,
                                 const QString& reasonText) {
  detail_.clear();
  QString reason;
  if (!requiredText(reasonText, QStringLiteral("the reason"), QStringLiteral("a notional dose needs its reason"), &reason, &detail_)) return kErrArchiveInput;
  if (!std::isfinite(doseUsv) || doseUsv < 0 || doseUsv > kMaxDoseUsv) {
    detail_ = QStringLiteral("a notional dose is 0 to %1 uSv").arg(kMaxDoseUsv, 0, 'f', 0);
    return kErrArchiveInput;
  }
  Impl& d = *d_;
  return d.write([&]() -> int {
    qlonglong row = 0;
    Person person;
    if (const int rc = d.personRow(personId, &row, &person)) return rc;
    if (!row) {
      detail_ = QStringLiteral("no person has the id %1").arg(personId);
      return kErrArchiveNoPerson;
    }
    const QString at = ArchiveTimeText(period.to);
    QSqlQuery q(d.db());
    q.prepare(QStringLiteral("INSERT INTO notional_doses (person_id, period, dose_time, dose_usv, reason, entered_at)"
                             " VALUES (?, ?, ?, ?, ?, ?)"));
    q.addBindValue(row);
    q.addBindValue(period.label);
    q.addBindValue(at);
    q.addBindValue(doseUsv);
    q.addBindValue(reason);
    q.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    if (const int rc = d.exec(q)) return rc;
    return appendLog(d, {{QStringLiteral("notional dose"), QStringLiteral("person %1, %2").arg(person.id, period.label),
                          QString(), doseValue(doseUsv), reason, personKey(person.id), at, at}});
  });
}

// --- Sign-off -------------------------------------------------------------------

namespace {

// Whether two readings of the persons' figures say the same.
bool sameFigures(const std::vector<SummaryRow>& a, const std::vector<SummaryRow>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](const SummaryRow& x, const SummaryRow& y) {
    return personKey(x.totals.person.id) == personKey(y.totals.person.id) && x.periodReadouts == y.periodReadouts &&
           SameDose(x.periodDose, y.periodDose) && SameDose(x.totals.quarterToDate, y.totals.quarterToDate) &&
           SameDose(x.totals.yearToDate, y.totals.yearToDate) && SameDose(x.totals.lifetime, y.totals.lifetime);
  });
}

int logPosition(Connection& c, qint64* position) {
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("SELECT MAX(id) FROM change_log"))) return c.fail(q.lastError());
  *position = q.next() ? q.value(0).toLongLong() : 0;
  return kOk;
}

}  // namespace

int DoseArchive::signoffBasis(const ReportPeriod& period, SignoffBasis* basis) {
  detail_.clear();
  SignoffBasis b;
  if (const int rc = logPosition(*d_, &b.logPosition)) return rc;
  if (const int rc = openReviewCount(period, &b.openItems)) return rc;
  if (const int rc = summary(period, &b.figures)) return rc;
  *basis = std::move(b);
  return kOk;
}

int DoseArchive::storeSignoff(const ReportPeriod& period, const QString& signedByText, bool withOpenItems,
                              const std::vector<SignoffDocument>& documents, const SignoffBasis& basis,
                              Signoff* stored) {
  detail_.clear();
  QString signedBy;
  if (!requiredText(signedByText, QStringLiteral("the signer's name"), QStringLiteral("a sign-off needs who signs"), &signedBy, &detail_)) return kErrArchiveInput;
  const auto summary = std::find_if(documents.begin(), documents.end(),
                                    [](const SignoffDocument& doc) { return doc.personId.isEmpty(); });
  if (summary == documents.end() || summary->pdf.isEmpty()) {
    detail_ = QStringLiteral("a sign-off holds the service summary");
    return kErrArchiveInput;
  }
  Impl& d = *d_;
  Signoff s;
  const int rc = d.write([&]() -> int {
    // Other writers log their change after this sign-off from here on, so
    // that a change the documents do not show is always one after it.
    if (*d.dialect->lockLog)
      if (const int rc = d.exec(QString::fromLatin1(d.dialect->lockLog))) return rc;
    qint64 position = 0;
    if (const int rc = logPosition(d, &position)) return rc;
    int open = 0;
    if (const int rc = openReviewCount(period, &open)) return rc;
    if (open && !withOpenItems) {
      detail_ = OpenItemsText(open, period.label);
      return kErrArchiveOpenItems;
    }
    std::vector<SummaryRow> figures;
    if (const int rc = this->summary(period, &figures)) return rc;
    // A change or an import while the documents were made: they may not
    // show what is stored, so nothing is signed.
    if (position != basis.logPosition || open != basis.openItems || !sameFigures(figures, basis.figures)) {
      detail_ = QStringLiteral("the record of %1 changed while its documents were made").arg(period.label);
      return kErrArchiveChanged;
    }
    s = {};
    s.period = period.label;
    s.signedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    s.signedBy = signedBy;
    s.openItems = open;
    s.sha256 = sha256Hex(summary->pdf);
    QSqlQuery q(d.db());
    q.prepare(QStringLiteral("INSERT INTO signoffs (period, period_from, period_to, signed_at, signed_by, os_user, host,"
                             " open_items, sha256) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    for (const QVariant& v : QVariantList{s.period, ArchiveTimeText(period.from), ArchiveTimeText(period.to), s.signedAt,
                                          s.signedBy, d.osUser, d.host, s.openItems, s.sha256})
      q.addBindValue(v);
    if (const int rc = d.exec(q)) return rc;
    s.id = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    q.prepare(QStringLiteral("INSERT INTO signoff_documents (signoff_id, person_id, pdf, sha256) VALUES (?, ?, ?, ?)"));
    for (const SignoffDocument& doc : documents) {
      q.bindValue(0, s.id);
      q.bindValue(1, doc.personId.isNull() ? QStringLiteral("") : doc.personId);
      q.bindValue(2, doc.pdf);
      q.bindValue(3, sha256Hex(doc.pdf));
      if (const int rc = d.exec(q)) return rc;
    }
    q.prepare(
        QStringLiteral("INSERT INTO signoff_figures (signoff_id, person_id, name, period_dose, readouts,"
                       " year_to_date, lifetime) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    for (const SummaryRow& f : figures) {
      q.bindValue(0, s.id);
      q.bindValue(1, f.totals.person.id);
      q.bindValue(2, f.totals.person.name);
      q.bindValue(3, f.periodDose);
      q.bindValue(4, f.periodReadouts);
      q.bindValue(5, f.totals.yearToDate);
      q.bindValue(6, f.totals.lifetime);
      if (const int rc = d.exec(q)) return rc;
    }
    return appendLog(d, {{QStringLiteral("sign-off"), period.label, QString(),
                          QStringLiteral("signed by %1, %2 documents, SHA-256 %3").arg(signedBy).arg(documents.size()).arg(s.sha256),
                          open ? QStringLiteral("signed with %1 read-outs awaiting review").arg(open) : QString(),
                          QString(), QString(), QString()}});
  });
  if (rc) return rc;
  if (stored) *stored = s;
  return kOk;
}

namespace {
const QString kSignoffColumns =
    QStringLiteral("SELECT id, period, signed_at, signed_by, open_items, sha256 FROM signoffs");
Signoff signoffOf(const QSqlQuery& q) {
  return {q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
          q.value(3).toString(),   q.value(4).toInt(),    q.value(5).toString()};
}
}  // namespace

int DoseArchive::signoffs(std::vector<Signoff>* list) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  if (!q.exec(kSignoffColumns + QStringLiteral(" ORDER BY id"))) return d_->fail(q.lastError());
  list->clear();
  while (q.next()) list->push_back(signoffOf(q));
  return kOk;
}

int DoseArchive::lastSignoff(const QString& period, std::optional<Signoff>* signoff) {
  detail_.clear();
  signoff->reset();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(kSignoffColumns + QStringLiteral(" WHERE period = ? ORDER BY id DESC LIMIT 1"));
  q.addBindValue(period);
  if (const int rc = d_->exec(q)) return rc;
  if (q.next()) *signoff = signoffOf(q);
  return kOk;
}

int DoseArchive::signedDocument(const QString& period, const QString& personId, QByteArray* pdf) {
  detail_.clear();
  pdf->clear();
  std::optional<Signoff> s;
  if (const int rc = lastSignoff(period, &s)) return rc;
  if (!s) {
    detail_ = QStringLiteral("%1 is not signed").arg(period);
    return kErrArchiveInput;
  }
  return signedDocument(s->id, personId, pdf);
}

int DoseArchive::signedDocument(qint64 signoffId, const QString& personId, QByteArray* pdf) {
  detail_.clear();
  pdf->clear();
  // The sign-off's documents are found by their persons first: only the
  // one asked for is read, not the hundreds beside it.
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(
      QStringLiteral("SELECT d.id, d.person_id, s.period FROM signoff_documents d"
                     " JOIN signoffs s ON s.id = d.signoff_id WHERE d.signoff_id = ? ORDER BY d.id"));
  q.addBindValue(signoffId);
  if (const int rc = d_->exec(q)) return rc;
  QString period;
  std::optional<qint64> document;
  while (!document && q.next()) {
    period = q.value(2).toString();
    if (personKey(q.value(1).toString()) == personKey(personId)) document = q.value(0).toLongLong();
  }
  q.finish();
  if (document) {
    q.prepare(QStringLiteral("SELECT pdf FROM signoff_documents WHERE id = ?"));
    q.addBindValue(*document);
    if (const int rc = d_->exec(q)) return rc;
    if (q.next()) {
      *pdf = q.value(0).toByteArray();
      return kOk;
    }
  }
  detail_ = period.isEmpty() ? QStringLiteral("no sign-off %1 is archived").arg(signoffId)
                             : QStringLiteral("the sign-off of %1 holds no report of %2").arg(period, personId);
  return kErrArchiveInput;
}

int DoseArchive::signedFigures(qint64 signoffId, std::vector<SignedFigures>* figures) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral(
      "SELECT person_id, name, period_dose, readouts, year_to_date, lifetime FROM signoff_figures"
      " WHERE signoff_id = ? ORDER BY id"));
  q.addBindValue(signoffId);
  if (const int rc = d_->exec(q)) return rc;
  figures->clear();
  while (q.next())
    figures->push_back({{q.value(0).toString(), q.value(1).toString()},
                        q.value(2).toDouble(),
                        q.value(3).toInt(),
                        q.value(4).toDouble(),
                        optionalDouble(q.value(5))});
  return kOk;
}

namespace {

// Which log rows belong to one person's record. A row is keyed to one
// person when written, but others move the person's figures too: a wear
// period of a dosimeter the person wore moves doses between persons, an
// import names no person, and a resolution is keyed to whoever wore the
// dosimeter when it was resolved. So the rows are found also through the
// dosimeters the person wore and the read-outs the person holds now.
struct PersonRows {
  QString key;
  QStringList prefixes;      // entity prefixes: wear periods, resolved read-outs
  std::set<qint64> imports;  // log rows of the imports of the person's read-outs
  bool concerns(qint64 id, const QString& entity, const QString& rowKey) const {
    return rowKey == key || imports.count(id) > 0 ||
           std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const QString& p) { return entity.startsWith(p); });
  }
};

int personRows(DoseArchive::Impl& d, const QString& personId, PersonRows* out) {
  *out = {};
  out->key = personKey(personId);
  const QString held = QStringLiteral(" FROM readouts r JOIN wear_periods w ON") + kBelongs +
                       QStringLiteral(" JOIN persons p ON p.id = w.person_id WHERE p.person_key = ?");
  QSqlQuery q(d.db());
  q.setForwardOnly(true);
  q.prepare(
      QStringLiteral("SELECT DISTINCT w.dosimeter FROM wear_periods w JOIN persons p ON p.id = w.person_id"
                     " WHERE p.person_key = ?"));
  q.addBindValue(out->key);
  if (const int rc = d.exec(q)) return rc;
  while (q.next()) out->prefixes << periodEntityPrefix(q.value(0).toString());
  q.finish();
  q.prepare(QStringLiteral("SELECT r.id") + held + QStringLiteral(" AND r.resolution_id IS NOT NULL"));
  q.addBindValue(out->key);
  if (const int rc = d.exec(q)) return rc;
  while (q.next()) out->prefixes << readoutEntityPrefix(q.value(0).toLongLong());
  q.finish();
  // An import's row names its read-outs' source and has the time they were
  // archived at; a row written before it took that time is a little later.
  // So: the import rows of the source at the first such time at or after
  // the read-outs' archived_at (two imports of one source within a second
  // both count).
  q.prepare(QStringLiteral(
                "SELECT l.id FROM (SELECT x.source, (SELECT MIN(m.time_utc) FROM change_log m"
                " WHERE m.what LIKE 'import%' AND m.entity = x.source AND m.time_utc >= x.archived_at) AS t"
                " FROM (SELECT DISTINCT r.source, r.archived_at") +
            held +
            QStringLiteral(") x) y JOIN change_log l ON l.entity = y.source AND l.time_utc = y.t"
                           " WHERE l.what LIKE 'import%'"));
  q.addBindValue(out->key);
  if (const int rc = d.exec(q)) return rc;
  while (q.next()) out->imports.insert(q.value(0).toLongLong());
  return kOk;
}

// The rows a person's record may be concerned by, before PersonRows picks.
const QString kPersonCandidates = QStringLiteral(
    "(person_key = ? OR what LIKE 'import%' OR entity LIKE 'period %' OR entity LIKE 'read-out %')");

}  // namespace

int DoseArchive::changesSince(const Signoff& s, const QString& personId, std::vector<LogEntry>* entries) {
  ChangesAfterSignoff changes;
  if (const int rc = changesSince(s, &changes)) return rc;
  return changesSince(changes, personId, entries);
}

int DoseArchive::changesSince(const Signoff& s, ChangesAfterSignoff* changes) {
  detail_.clear();
  *changes = {};
  const std::optional<ReportPeriod> period = ParseReportPeriod(s.period);
  if (!period) return kOk;
  // After the sign-off's own row, what touches the period or a time before
  // it: the signed year-to-date and lifetime figures count those too. The
  // sign-off's row is found by a scan of the log, so this runs once for a
  // period's reports, not once for each.
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(kLogFields +
            QStringLiteral(", person_key FROM change_log WHERE id > (SELECT MAX(id) FROM change_log"
                           " WHERE what = 'sign-off' AND entity = ? AND new_value LIKE ?)"
                           " AND touches_from <> '' AND touches_from <= ? ORDER BY id"));
  q.addBindValue(s.period);
  q.addBindValue(QStringLiteral("%SHA-256 ") + s.sha256);
  q.addBindValue(ArchiveTimeText(period->to));
  if (const int rc = d_->exec(q)) return rc;
  while (q.next()) {
    changes->entries.push_back(logEntryOf(q));
    changes->personKeys.push_back(q.value(10).toString());
  }
  return kOk;
}

int DoseArchive::changesSince(const ChangesAfterSignoff& changes, const QString& personId,
                              std::vector<LogEntry>* entries) {
  detail_.clear();
  entries->clear();
  if (personId.isEmpty()) {
    *entries = changes.entries;
    return kOk;
  }
  PersonRows mine;
  mine.key = personKey(personId);
  // Which rows are the person's beyond those written for the person is read
  // only when such rows remain: a sign-off's reports of an unchanged period
  // need none of it.
  const bool others = std::any_of(changes.personKeys.begin(), changes.personKeys.end(),
                                  [&](const QString& rowKey) { return rowKey != mine.key; });
  if (others)
    if (const int rc = personRows(*d_, personId, &mine)) return rc;
  for (size_t i = 0; i < changes.entries.size(); ++i)
    if (mine.concerns(changes.entries[i].id, changes.entries[i].entity, changes.personKeys[i]))
      entries->push_back(changes.entries[i]);
  return kOk;
}

// --- Change log -----------------------------------------------------------------

namespace {

int gLogPageRows = 500;

// The conditions of a log query but its page: its dates and its person's
// candidates, with the values they bind, and the person's rows to pick from
// those candidates.
struct LogSelection {
  QString where;
  QVariantList binds;
  bool byPerson = false;
  PersonRows mine;
  void add(const QString& condition, const QVariant& value) {
    where += (where.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ")) + condition;
    binds << value;
  }
  bool picks(const LogEntry& e, const QString& rowKey) const {
    return !byPerson || mine.concerns(e.id, e.entity, rowKey);
  }
};

int logSelection(DoseArchive::Impl& d, const LogQuery& query, LogSelection* s) {
  if (query.from) s->add(QStringLiteral("time_utc >= ?"), logBound(*query.from, false));
  if (query.to) s->add(QStringLiteral("time_utc <= ?"), logBound(*query.to, true));
  if (!query.personId.isEmpty()) {
    s->byPerson = true;
    if (const int rc = personRows(d, query.personId, &s->mine)) return rc;
    s->add(kPersonCandidates, s->mine.key);
  }
  return kOk;
}

}  // namespace

void setChangeLogPageRows(int rows) { gLogPageRows = std::max(1, rows); }
int changeLogPageRows() { return gLogPageRows; }

int DoseArchive::changeLog(const LogQuery& query, const std::function<bool(const LogEntry&)>& row) {
  detail_.clear();
  LogSelection s;
  if (const int rc = logSelection(*d_, query, &s)) return rc;
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM change_log"))) return d_->fail(q.lastError());
  const qint64 through = q.next() ? q.value(0).toLongLong() : 0;
  q.finish();
  s.add(QStringLiteral("id <= ?"), through);
  // A page at a time: a server sends a page, and a reader that stops leaves
  // at most a page unread.
  constexpr int kStopped = 1;
  const int rc = d_->readInPages(
      kLogFields + QStringLiteral(", person_key FROM change_log") + s.where +
          QStringLiteral(" AND id > ? ORDER BY id"),
      gLogPageRows,
      [&](const QSqlQuery& q) {
        const LogEntry e = logEntryOf(q);
        return s.picks(e, q.value(10).toString()) && !row(e) ? kStopped : int{kOk};
      },
      nullptr, s.binds);
  return rc == kStopped ? int{kOk} : rc;
}

int DoseArchive::changeLog(const LogQuery& query, std::vector<LogEntry>* entries) {
  std::vector<LogEntry> read;
  const int rc = changeLog(query, [&read](const LogEntry& e) {
    read.push_back(e);
    return true;
  });
  if (rc == kOk) *entries = std::move(read);
  return rc;
}

bool DoseArchive::canWrite() {
  if (d_->options.readOnly) return false;
  if (!isPostgres()) {
    const QFileInfo file(location_.path);
    return file.isWritable() && QFileInfo(file.absolutePath()).isWritable();
  }
  QSqlQuery q(d_->db());
  return q.exec(QStringLiteral("SELECT has_table_privilege(current_user, 'readouts', 'INSERT')"
                               " AND has_table_privilege(current_user, 'change_log', 'INSERT')")) &&
         q.next() && q.value(0).toBool();
}

}  // namespace quelm
