#pragma once
// Inside the dose archive: the connection of one DoseArchive with the
// statements its parts share (the list columns, the attribution join, the
// dose time) and the look-ups they all need. Not for use outside
// src/archive.

#include <QSqlQuery>
#include <algorithm>
#include <map>

#include "archive/Archive.h"
#include "archive/ArchiveSql.h"
#include "base/ErrorCodes.h"
#include "evaluation/BlockFormat.h"

namespace quelm {

using namespace archive_sql;

namespace archive_impl {


// The columns every list of read-outs shows, with the person whose wear
// period the read-out belongs to.
inline const QString kRowColumns = QStringLiteral(
    "SELECT r.id, r.readout_time, r.device_id, r.block_number, r.dosimeter, p.person_id, p.name, r.dose_usv,"
    " r.recomputed_usv, r.counted_usv, r.dose_rate_usv_h, r.exposure_h, r.error_codes, r.source, r.archived_at,"
    " CASE WHEN r.readout_time > w.valid_to THEN w.valid_to ELSE r.readout_time END, r.measured_dose_usv,"
    " r.conflicted, v.action, v.covered, v.reason FROM ");
// Read-outs in a batch out of its limits, for the review list's filter:
// the same rule as ControlBatch::out, the ratio's tolerance bound as the
// statement's value when there is one.
inline QString controlOutFilter(bool tolerance) {
  return QStringLiteral(" OR EXISTS (SELECT 1 FROM control_batches cb WHERE cb.device_id = r.device_id"
                        " AND cb.day = SUBSTR(r.readout_time, 1, 10) AND (cb.background_out <> 0 OR ") +
         (tolerance ? QStringLiteral("ABS(cb.ratio - 1) > ?))") : QStringLiteral("cb.ratio_out <> 0))"));
}
// A read-out's last resolution, for the lists.
inline const QString kResolutionJoin = QStringLiteral(" LEFT JOIN resolutions v ON v.id = r.resolution_id");
// A read-out belongs to the period of its dosimeter that began last at or
// before its time: from the period's start up to the next one's.
inline const QString kBelongs = QStringLiteral(
    " w.dosimeter = r.dosimeter AND r.readout_time >= w.valid_from AND r.readout_time < w.readouts_until");
// When a dose counts: at its read-out time, or on the last minute of its
// wear period when it was read after the period ended (the dose of a
// dosimeter worn in March and read on 3 April is March's).
inline const QString kDoseTime =
    QStringLiteral("(CASE WHEN r.readout_time > w.valid_to THEN w.valid_to ELSE r.readout_time END)");
// A wear period `u` worn at some time of a period (bound: the period's
// end, then its start): a read-out of its dosimeter without a time is open
// in that period, and its wearer's.
inline const QString kWornIn =
    QStringLiteral("u.valid_from <= ? AND (u.valid_to IS NULL OR u.valid_to >= ?)");
// In the order of the listing index: one dosimeter's read-outs need no
// sorting, but for those of one minute on a server (its readers' bytes).
inline QString readoutOrder(const ArchiveDialect& d) {
  return QStringLiteral(" ORDER BY r.readout_time NULLS LAST, ") + InByteOrder(d, "r.device_id") +
         QStringLiteral(", r.block_number");
}

inline Resolution resolutionOf(const QString& text) {
  for (const Resolution r : {Resolution::Accept, Resolution::Reevaluate, Resolution::Exclude})
    if (ResolutionText(r) == text) return r;
  return Resolution::None;
}

// A read-out's exposure and dose rate as its block's header shows them: the
// stored columns keep what the reader wrote, which `check` compares with
// the record.
inline void showExposureAsTheBlock(ReadoutRow& row) {
  char id[5] = {};
  const QByteArray bytes = row.dosimeter.toLatin1();
  std::copy_n(bytes.constData(), std::min<qsizetype>(bytes.size(), 5), id);
  const uint16_t exposure = !row.exposureH ? 0xFFFF : *row.exposureH == 0 ? 0 : 1;
  const ExposureShown shown = ShownExposure(static_cast<uint8_t>(row.errorCodes), id, exposure);
  if (!shown.exposure) row.exposureH.reset();
  if (!shown.rate) row.doseRate.reset();
}

inline ReadoutRow rowOf(const QSqlQuery& q, std::optional<double> tolerance) {
  ReadoutRow row;
  row.id = q.value(0).toLongLong();
  row.readoutTime = q.value(1).toString();
  row.deviceId = q.value(2).toString();
  row.blockNumber = q.value(3).toInt();
  row.dosimeter = q.value(4).toString();
  row.person = {q.value(5).toString(), q.value(6).toString()};
  row.doseUsv = optionalDouble(q.value(7));
  row.recomputed = optionalDouble(q.value(8));
  row.countedUsv = q.value(9).toDouble();
  row.doseRate = optionalDouble(q.value(10));
  row.exposureH = optionalDouble(q.value(11));
  row.errorCodes = q.value(12).toInt();
  showExposureAsTheBlock(row);
  row.source = q.value(13).toString();
  row.archivedAt = q.value(14).toString();
  row.doseTime = q.value(15).toString();
  row.reasons = RecordReviewReasons(row.errorCodes, optionalDouble(q.value(16)), row.recomputed, tolerance);
  if (q.value(17).toInt()) row.reasons |= kReviewConflict;
  if (!row.assigned()) row.reasons |= kReviewUnassigned;
  if (TimedAfterArchiving(row.readoutTime, row.archivedAt)) row.reasons |= kReviewClock;
  row.resolution = resolutionOf(q.value(18).toString());
  row.covered = q.value(19).toInt();
  row.resolutionReason = q.value(20).toString();
  return row;
}

// A kept conflicting record as the lists show it: its own fields, counting nothing.
inline ReadoutRow conflictRow(const QByteArray& bytes, const QString& source, const QString& archivedAt) {
  const ReadoutFields f = DecodeReadout(bytes);
  ReadoutRow row;
  row.readoutTime = f.readoutTime;
  row.deviceId = f.deviceId;
  row.blockNumber = f.blockNumber;
  row.dosimeter = f.dosimeter;
  row.doseUsv = f.measuredDose;
  row.recomputed = f.recomputed;
  row.doseRate = f.doseRate;
  row.exposureH = f.exposureH;
  row.errorCodes = f.errorCodes;
  showExposureAsTheBlock(row);
  row.source = source;
  row.archivedAt = archivedAt;
  row.record = bytes;
  row.conflict = true;
  return row;
}

// The columns conflictRows() reads, up to the tables they come from.
inline const QString kConflictColumns =
    QStringLiteral("SELECT c.record, c.source, c.archived_at, p.person_id, p.name FROM ");

// The kept conflicting records a query of kConflictColumns found, with the
// person the archived read-out of the same key belongs to.
inline void conflictRows(QSqlQuery& q, std::vector<ReadoutRow>* rows) {
  rows->clear();
  while (q.next()) {
    ReadoutRow row = conflictRow(q.value(0).toByteArray(), q.value(1).toString(), q.value(2).toString());
    row.person = {q.value(3).toString(), q.value(4).toString()};
    rows->push_back(row);
  }
}

inline QString marks(qsizetype n) {
  QString s;
  for (qsizetype i = 0; i < n; ++i) s += i ? QStringLiteral(", ?") : QStringLiteral("?");
  return s;
}

inline WearPeriod periodOf(const QSqlQuery& q, int first) {
  WearPeriod p;
  p.dosimeter = q.value(first).toString();
  p.person = {q.value(first + 1).toString(), q.value(first + 2).toString()};
  p.from = ParseArchiveTime(q.value(first + 3).toString(), false).value_or(QDateTime());
  if (!q.value(first + 4).isNull()) p.to = ParseArchiveTime(q.value(first + 4).toString(), true);
  return p;
}

inline const QString kPeriodColumns =
    QStringLiteral("SELECT w.dosimeter, p.person_id, p.name, w.valid_from, w.valid_to, w.id, p.id"
                   " FROM wear_periods w JOIN persons p ON p.id = w.person_id");
// One dosimeter's periods (bound: its normal id), oldest first.
inline const QString kDosimeterPeriods =
    kPeriodColumns + QStringLiteral(" WHERE w.dosimeter = ? ORDER BY w.valid_from");

// Records in one import: below this many new rows the planner's figures
// stay good enough.
inline constexpr int kStatisticsAfter = 20000;

// --- Control dosimeters (ArchiveControls.cpp)
// What the lists of read-outs need to know of control dosimeters, read once
// per list (a few rows) rather than per read-out, so that a dosimeter's list
// still comes from its index alone: which dosimeters are controls, and the
// batches out of their limits by reader and day.
struct ControlFacts {
  std::set<QString> dosimeters;
  std::map<std::pair<QString, QString>, ControlBatch> out;
  // A control's read-out is marked so; one in a batch out of its limits
  // gets kReviewControl.
  void apply(ReadoutRow& row) const;
};
int readControlFacts(Connection& c, std::optional<double> tolerance, ControlFacts* facts);
// The read-outs whose reader's clock ran back (TimedBeforeEarlierBlocks),
// judged on what is stored when a list is read, so that a read-out archived
// before the earlier block that shows its clock wrong is caught all the
// same. Read once per list from the listing index.
struct ClockFacts {
  std::set<qint64> ranBack;  // read-out ids
  void apply(ReadoutRow& row) const {
    if (ranBack.count(row.id)) row.reasons |= kReviewClockBack;
  }
};
// Of the read-outs timed at or after `from` (empty: all): a block is judged
// by the blocks timed more than a day after it, so those timed before it
// change nothing. `readers`: only those readers' blocks are judged (none:
// every reader's).
int readClockFacts(Connection& c, const QString& from, ClockFacts* facts,
                   const std::set<QString>& readers = {});
// At most this many readers are named in the query of readClockFacts.
constexpr size_t kClockReaders = 100;
// The dosimeters marked as controls.
int controlDosimeters(Connection& c, std::set<QString>* dosimeters);
// Judges every batch of control read-outs again and stores what changed;
// a log row says which batches changed and which are out of limits now.
int refreshControlBatches(Connection& c, std::vector<LogRow>* log);
// The check's part: stored batches against those the read-outs give
// (ArchiveControls.cpp), stored factors solved again
// (ArchiveCalibrations.cpp).
int checkControls(Connection& c, CheckReport* report);
int checkCalibrations(Connection& c, CheckReport* report);

}  // namespace archive_impl

using namespace archive_impl;

struct DoseArchive::Impl : Connection {
  const std::optional<double>* tolerance = nullptr;
  const std::optional<double>* controlTolerance = nullptr;
  // The import's work, free of the database until the transaction.
  struct Candidate {
    QByteArray bytes;
    ReadoutFields fields;
  };

  int importOnce(const std::vector<Candidate>& unique, const std::vector<const Candidate*>& sameFile,
                 int refusedCount, const QString& source, ImportResult* out, std::optional<double> level,
                 const std::function<void(int)>& progress) {
    ImportResult r;
    const QString archivedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    QSqlQuery conflict(db());
    QSqlQuery flag(db());
    if (int rc = prepare(conflict, QStringLiteral("INSERT INTO conflicts (readout_key, record, source,"
                                                  " archived_at) VALUES (?, ?, ?, ?)"
                                                  " ON CONFLICT (readout_key, record) DO NOTHING"));
        rc || (rc = prepare(flag, QStringLiteral("UPDATE readouts SET conflicted = 1 WHERE readout_key = ?"))))
      return rc;
    std::vector<qlonglong> added;
    std::set<QString> addedDosimeters;
    // A control's known dose is no high dose of anybody's.
    std::set<QString> controls;
    if (const int rc = controlDosimeters(*this, &controls)) return rc;
    QString conflictFrom, conflictTo;
    const auto keepConflict = [&](const Candidate& c) {
      conflict.bindValue(0, c.fields.key);
      conflict.bindValue(1, c.bytes);
      conflict.bindValue(2, source);
      conflict.bindValue(3, archivedAt);
      if (const int rc = exec(conflict)) return rc;
      // A conflict kept before is already archived: a file imported again
      // changes nothing, and logs nothing.
      if (conflict.numRowsAffected() == 0) {
        ++r.duplicates;
        return int{kOk};
      }
      ++r.conflicts;
      r.conflicting.push_back(c.fields);
      // Its read-out is to be reviewed from now on.
      flag.bindValue(0, c.fields.key);
      const QString& t = c.fields.readoutTime;
      if (!t.isEmpty() && (conflictFrom.isEmpty() || t < conflictFrom)) conflictFrom = t;
      if (t > conflictTo) conflictTo = t;
      return exec(flag);
    };
    // In chunks, for the progress and for memory: a million read-outs of
    // a service's history never sit in one statement.
    // An eighth of the import, so that its bar moves, within bounds.
    const size_t kChunk = std::clamp<size_t>(unique.size() / 8, 256, dialect->copyIn ? 16384 : 1024);
    for (size_t start = 0; start < unique.size(); start += kChunk) {
      const size_t n = std::min(kChunk, unique.size() - start);
      std::vector<NewReadout> rows;
      rows.reserve(n);
      for (size_t i = start; i < start + n; ++i) rows.push_back({&unique[i].bytes, &unique[i].fields});
      std::vector<Stored> outcome;
      if (const int rc = storeReadouts(*this, rows, source, archivedAt, &outcome, &added)) return rc;
      for (size_t i = 0; i < n; ++i) {
        const Candidate& c = unique[start + i];
        switch (outcome[i]) {
          case Stored::Added:
            ++r.added;
            addedDosimeters.insert(c.fields.dosimeter);
            if (level && c.fields.measuredDose && *c.fields.measuredDose >= *level && !controls.count(c.fields.dosimeter))
              r.highDoses.push_back(c.fields);
            break;
          case Stored::Duplicate:
            ++r.duplicates;
            break;
          case Stored::Conflict:
            if (const int rc = keepConflict(c)) return rc;
            break;
        }
      }
      if (progress) progress(static_cast<int>(start + n) + refusedCount);
    }
    // A record that came twice in the same records: the first is the read-out.
    for (const Candidate* c : sameFile) {
      if (const int rc = keepConflict(*c)) return rc;
    }
    if (r.added || r.conflicts) {
      // The log names the times whose doses the import can change: when
      // the new read-outs' doses count, and the conflicts' read-out times.
      // Its time is the read-outs' archived_at: a person's view of the log
      // finds the import by the read-outs the person holds.
      QString from = conflictFrom, to = conflictTo;
      QSqlQuery span(db());
      span.setForwardOnly(true);
      for (size_t i = 0; i < added.size(); i += 500) {
        const size_t n = std::min<size_t>(500, added.size() - i);
        span.prepare(QStringLiteral("SELECT MIN(") + kDoseTime + QStringLiteral("), MAX(") + kDoseTime +
                     QStringLiteral(") FROM readouts r LEFT JOIN wear_periods w ON") + kBelongs +
                     QStringLiteral(" WHERE r.id IN (") + marks(static_cast<qsizetype>(n)) + QLatin1Char(')'));
        for (size_t k = i; k < i + n; ++k) span.addBindValue(added[k]);
        if (const int rc = exec(span)) return rc;
        if (span.next() && !span.value(0).isNull()) {
          const QString lo = span.value(0).toString(), hi = span.value(1).toString();
          if (from.isEmpty() || lo < from) from = lo;
          if (hi > to) to = hi;
        }
        span.finish();
      }
      std::vector<LogRow> log = {{QStringLiteral("import"), source, QString(),
                                  QStringLiteral("%1 added, %2 already archived, %3 conflicting, %4 refused")
                                      .arg(r.added)
                                      .arg(r.duplicates)
                                      .arg(r.conflicts)
                                      .arg(refusedCount),
                                  QString(), QString(), from, to}};
      // New read-outs of control dosimeters judge their batches anew. A
      // dosimeter marked as a control since the import began counts: the
      // controls are read again under the lock a mark takes before it
      // judges the batches (it could not see this import's read-outs).
      if (*dialect->lockLog)
        if (const int rc = exec(QString::fromLatin1(dialect->lockLog))) return rc;
      if (const int rc = controlDosimeters(*this, &controls)) return rc;
      std::erase_if(r.highDoses, [&](const ReadoutFields& f) { return controls.count(f.dosimeter) > 0; });
      if (std::any_of(addedDosimeters.begin(), addedDosimeters.end(),
                      [&](const QString& d) { return controls.count(d) > 0; }))
        if (const int rc = refreshControlBatches(*this, &log)) return rc;
      if (const int rc = appendLog(*this, log, archivedAt)) return rc;
    }
    *out = std::move(r);
    return kOk;
  }

  // `clock`: facts the caller read for every row the query can give; none:
  // read for the rows it gave.
  int rows(QSqlQuery& q, std::vector<ReadoutRow>* out, const ClockFacts* clock = nullptr) {
    ControlFacts controls;
    if (const int rc = readControlFacts(*this, *controlTolerance, &controls)) return rc;
    q.setForwardOnly(true);
    if (!q.exec()) return fail(q.lastError());
    out->clear();
    QString earliest;
    std::set<QString> readers;
    while (q.next()) {
      out->push_back(rowOf(q, *tolerance));
      controls.apply(out->back());
      const QString& t = out->back().readoutTime;
      if (t.isEmpty()) continue;
      if (earliest.isEmpty() || t < earliest) earliest = t;
      readers.insert(out->back().deviceId);
    }
    q.finish();
    ClockFacts read;
    if (!clock && !earliest.isEmpty()) {
      if (const int rc = readClockFacts(*this, earliest, &read, readers)) return rc;
      clock = &read;
    }
    if (clock)
      for (ReadoutRow& row : *out) clock->apply(row);
    return kOk;
  }

  // The person with that key (internal id), or 0.
  int personRow(const QString& id, qlonglong* row, Person* person = nullptr) {
    *row = 0;
    QSqlQuery& q = statement(QStringLiteral("SELECT id, person_id, name FROM persons WHERE person_key = ?"),
                             {personKey(id)});
    if (const int rc = exec(q)) return rc;
    if (q.next()) {
      *row = q.value(0).toLongLong();
      if (person) *person = {q.value(1).toString(), q.value(2).toString()};
    }
    // A kept statement left open would hold the file's read lock, and a
    // writer's commit would wait for it.
    q.finish();
    return kOk;
  }

  int lookup(const QString& text, PersonLookup* out) {
    *out = {};
    const QString t = text.simplified();
    qlonglong row = 0;
    if (const int rc = personRow(t, &row, &out->person)) return rc;
    if (row) {
      out->outcome = PersonLookup::Found;
      return kOk;
    }
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT person_id, name FROM persons WHERE name_key = ? ORDER BY ") +
              InByteOrder(*dialect, "person_key"));
    q.addBindValue(nameKey(t));
    if (const int rc = exec(q)) return rc;
    while (q.next()) out->candidates.push_back({q.value(0).toString(), q.value(1).toString()});
    q.finish();
    if (out->candidates.size() == 1) {
      out->outcome = PersonLookup::Found;
      out->person = out->candidates.front();
      out->candidates.clear();
      return kOk;
    }
    if (!out->candidates.empty()) {
      out->outcome = PersonLookup::Ambiguous;
      return kOk;
    }
    // Whom the user may have meant: ids and names that hold the text.
    out->outcome = PersonLookup::Unknown;
    const QString part = nameKey(t);
    if (part.isEmpty()) return kOk;
    if (!q.exec(QStringLiteral("SELECT person_id, name, name_key, person_key FROM persons ORDER BY ") +
                InByteOrder(*dialect, "person_key")))
      return fail(q.lastError());
    while (q.next() && out->candidates.size() < 10)
      if (q.value(2).toString().contains(part) || q.value(3).toString().contains(personKey(t)))
        out->candidates.push_back({q.value(0).toString(), q.value(1).toString()});
    return kOk;
  }

  // The dosimeter's periods, by start.
  struct StoredPeriod {
    WearPeriod period;
    qlonglong id = 0;
    qlonglong person = 0;
  };
  int periodsOf(const QString& dosimeter, std::vector<StoredPeriod>* out) {
    out->clear();
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare(kDosimeterPeriods);
    q.addBindValue(dosimeter);
    if (const int rc = exec(q)) return rc;
    while (q.next()) out->push_back({periodOf(q, 0), q.value(5).toLongLong(), q.value(6).toLongLong()});
    return kOk;
  }

  int insertPeriod(const QString& dosimeter, qlonglong person, const WearPeriod& p) {
    QSqlQuery q(db());
    q.prepare(QStringLiteral("INSERT INTO wear_periods (dosimeter, person_id, valid_from, valid_to, readouts_until)"
                             " VALUES (?, ?, ?, ?, ?)"));
    q.addBindValue(dosimeter);
    q.addBindValue(person);
    q.addBindValue(ArchiveTimeText(p.from));
    q.addBindValue(nullableText(p.to ? ArchiveTimeText(*p.to) : QString()));
    // Nothing is its own until relinkPeriods takes it over from the
    // period before, which tells which read-outs changed hands.
    q.addBindValue(ArchiveTimeText(p.from));
    return exec(q);
  }

  int setPeriodEnd(qlonglong id, const std::optional<QDateTime>& to) {
    QSqlQuery q(db());
    q.prepare(QStringLiteral("UPDATE wear_periods SET valid_to = ? WHERE id = ?"));
    q.addBindValue(nullableText(to ? ArchiveTimeText(*to) : QString()));
    q.addBindValue(id);
    return exec(q);
  }
};


}  // namespace quelm
