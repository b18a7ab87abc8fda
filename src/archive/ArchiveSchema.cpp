// The archive's schema: one numbered migration per version, each a list of
// steps, run in one transaction when an archive is opened for writing. A
// released migration is never changed; a new version is one more entry.
// Statements are written once for both databases ({ID} and {BLOB} are
// spelt by the dialect); where the two cannot say the same, a step names
// the one it is for.
#include <QCryptographicHash>
#include <QDateTime>
#include <algorithm>
#include <map>

#include "archive/ArchiveSql.h"
#include "base/ErrorCodes.h"

namespace quelm::archive_sql {

namespace {

struct UpgradeCounts {
  int persons = 0;
  int setAside = 0;
  int rekeyed = 0;
  int freed = 0;  // conflicts that are read-outs of their own
  int recomputed = 0;
};

enum class Only { Both, SQLite, PostgreSQL };

struct Step {
  const char* sql = nullptr;
  Only only = Only::Both;
  int (*run)(Connection&, UpgradeCounts&) = nullptr;
};

struct Migration {
  int version;
  std::vector<Step> steps;
};

// Every person of an older archive (known by name only) gets a generated id.
int givePersonsIds(Connection& c, UpgradeCounts& counts) {
  std::vector<std::pair<qlonglong, QString>> persons;
  {
    QSqlQuery q(c.db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, name FROM persons ORDER BY id"))) return c.fail(q.lastError());
    while (q.next()) persons.emplace_back(q.value(0).toLongLong(), q.value(1).toString());
  }
  QSqlQuery u(c.db());
  if (const int rc = c.prepare(
          u, QStringLiteral("UPDATE persons SET person_id = ?, person_key = ?, name = ?, name_key = ? WHERE id = ?")))
    return rc;
  int n = 0;
  for (const auto& [id, name] : persons) {
    const QString personId = QStringLiteral("P%1").arg(++n, 4, 10, QLatin1Char('0'));
    u.bindValue(0, personId);
    u.bindValue(1, personKey(personId));
    u.bindValue(2, name.simplified());
    u.bindValue(3, nameKey(name));
    u.bindValue(4, id);
    if (const int rc = c.exec(u)) return rc;
  }
  counts.persons = n;
  return kOk;
}

// What no reader could have written goes into refused_readouts, with why;
// read-outs without a time get the key that tells them apart, and kept
// conflicts among them become the read-outs of their own that they are.
int sortOutRecords(Connection& c, UpgradeCounts& counts) {
  const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
  QSqlQuery setAside(c.db()), removeReadout(c.db()), removeConflict(c.db()), rekey(c.db());
  if (int rc = c.prepare(setAside, QStringLiteral("INSERT INTO refused_readouts (record, reason, source, archived_at,"
                                                  " refused_at) VALUES (?, ?, ?, ?, ?)"));
      rc || (rc = c.prepare(removeReadout, QStringLiteral("DELETE FROM readouts WHERE id = ?"))) ||
      (rc = c.prepare(removeConflict, QStringLiteral("DELETE FROM conflicts WHERE id = ?"))) ||
      (rc = c.prepare(rekey, QStringLiteral("UPDATE readouts SET readout_key = ? WHERE id = ?"))))
    return rc;
  struct Stored {
    qlonglong id;
    QByteArray record;
    QString source, archivedAt;
  };
  const auto scan = [&](const QString& table, bool timeless, std::vector<Stored>* out) {
    QSqlQuery q(c.db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, record, source, archived_at FROM ") + table +
                (timeless ? QStringLiteral(" WHERE readout_time IS NULL") : QString())))
      return c.fail(q.lastError());
    while (q.next())
      out->push_back({q.value(0).toLongLong(), q.value(1).toByteArray(), q.value(2).toString(), q.value(3).toString()});
    return int{kOk};
  };
  const auto reason = [](const QByteArray& bytes) {
    if (bytes.size() != static_cast<qsizetype>(sizeof(BlockRecord)))
      return QStringLiteral("the record holds %1 bytes, not 512").arg(bytes.size());
    BlockRecord r;
    std::memcpy(&r, bytes.constData(), sizeof r);
    return ImplausibleReason(r);
  };
  const auto aside = [&](QSqlQuery& remove, const Stored& s, const QString& why) {
    setAside.bindValue(0, s.record);
    setAside.bindValue(1, why);
    setAside.bindValue(2, s.source);
    setAside.bindValue(3, s.archivedAt);
    setAside.bindValue(4, now);
    if (const int rc = c.exec(setAside)) return rc;
    remove.bindValue(0, s.id);
    ++counts.setAside;
    return c.exec(remove);
  };
  // A page is read whole before its records are set aside.
  std::vector<Stored> page;
  const int pagesRc = c.readInPages(
      QStringLiteral("SELECT id, record, source, archived_at FROM readouts WHERE id > ? ORDER BY id"), 5000,
      [&](const QSqlQuery& q) {
        page.push_back({q.value(0).toLongLong(), q.value(1).toByteArray(), q.value(2).toString(), q.value(3).toString()});
        return int{kOk};
      },
      [&] {
        for (const Stored& s : page)
          if (const QString why = reason(s.record); !why.isEmpty())
            if (const int rc = aside(removeReadout, s, why)) return rc;
        page.clear();
        return int{kOk};
      });
  if (pagesRc) return pagesRc;
  std::vector<Stored> timeless;
  if (const int rc = scan(QStringLiteral("readouts"), true, &timeless)) return rc;
  for (const Stored& s : timeless) {
    rekey.bindValue(0, DecodeReadout(s.record).key);
    rekey.bindValue(1, s.id);
    if (const int rc = c.exec(rekey)) return rc;
    ++counts.rekeyed;
  }
  std::vector<Stored> conflicts;
  if (const int rc = scan(QStringLiteral("conflicts"), false, &conflicts)) return rc;
  for (const Stored& s : conflicts) {
    if (const QString why = reason(s.record); !why.isEmpty()) {
      if (const int rc = aside(removeConflict, s, why)) return rc;
      continue;
    }
    const ReadoutFields f = DecodeReadout(s.record);
    if (!f.readoutTime.isEmpty()) continue;
    std::set<QByteArray> added;
    if (const int rc = insertReadouts(c, {{&s.record, &f}}, s.source, s.archivedAt, &added)) return rc;
    removeConflict.bindValue(0, s.id);
    if (const int rc = c.exec(removeConflict)) return rc;
    ++counts.freed;
  }
  return kOk;
}

int linkAllPeriods(Connection& c, UpgradeCounts&) { return relinkPeriods(c, {}); }

// The program's own dose of each read-out as today's dose chain gives it,
// where an earlier chain stored another (a factor no reader can use gave a
// number that looked like a dose); each change logged. The dose of record
// is the reader's and stays.
int recomputeDoses(Connection& c, UpgradeCounts& counts) {
  QSqlQuery update(c.db());
  if (const int rc = c.prepare(update, QStringLiteral("UPDATE readouts SET recomputed_usv = ? WHERE id = ?")))
    return rc;
  const auto text = [](const std::optional<double>& v) {
    return v ? QString::number(*v, 'g', 17) + QStringLiteral(" uSv") : QStringLiteral("no recomputed dose");
  };
  struct Change {
    qlonglong id;
    std::optional<double> now;
    LogRow row;
  };
  std::vector<Change> page;
  return c.readInPages(
      QStringLiteral("SELECT id, record, recomputed_usv, dosimeter, readout_time FROM readouts WHERE id > ? "
                     "ORDER BY id"),
      5000,
      [&](const QSqlQuery& q) {
        const QByteArray bytes = q.value(1).toByteArray();
        // A record of another size is no read-out; check names it.
        if (bytes.size() != static_cast<qsizetype>(sizeof(BlockRecord))) return int{kOk};
        const std::optional<double> stored = optionalDouble(q.value(2)),
                                    now = DecodeReadout(bytes).recomputed;
        if (sameNumber(stored, now)) return int{kOk};
        const qlonglong id = q.value(0).toLongLong();
        page.push_back(
            {id,
             now,
             {QStringLiteral("recomputed dose"),
              readoutEntity(id, q.value(3).toString(), q.value(4).toString()), text(stored), text(now),
              QStringLiteral("the dose chain gives no dose for a normalisation factor that is not finite, "
                             "negative or subnormal, nor a result a single cannot hold"),
              QString(), QString(), QString()}});
        return int{kOk};
      },
      [&] {
        std::vector<LogRow> rows;
        for (const Change& change : page) {
          update.bindValue(0, nullableDouble(change.now));
          update.bindValue(1, change.id);
          if (const int rc = c.exec(update)) return rc;
          rows.push_back(change.row);
        }
        counts.recomputed += static_cast<int>(page.size());
        page.clear();
        return appendLog(c, rows);
      });
}

const std::vector<Migration>& migrations() {
  static const std::vector<Migration> list = {
      {1,
       {{"CREATE TABLE readouts ("
         " id {ID},"
         " readout_key {BLOB} NOT NULL UNIQUE,"
         " record {BLOB} NOT NULL,"
         " device_id TEXT NOT NULL,"
         " block_number INTEGER NOT NULL,"
         " readout_time TEXT,"
         " dosimeter TEXT NOT NULL,"
         " error_codes INTEGER NOT NULL,"
         " measured_dose_usv DOUBLE PRECISION,"
         " dose_rate_usv_h DOUBLE PRECISION,"
         " exposure_h DOUBLE PRECISION,"
         " dose_usv DOUBLE PRECISION,"
         " source TEXT NOT NULL,"
         " archived_at TEXT NOT NULL)"},
        {"CREATE INDEX readouts_dosimeter_time ON readouts (dosimeter, readout_time)"},
        {"CREATE INDEX readouts_time ON readouts (readout_time)"},
        {"CREATE INDEX readouts_dose ON readouts (dose_usv)"},
        {"CREATE TABLE conflicts ("
         " id {ID},"
         " readout_key {BLOB} NOT NULL,"
         " record {BLOB} NOT NULL,"
         " source TEXT NOT NULL,"
         " archived_at TEXT NOT NULL,"
         " UNIQUE (readout_key, record))"},
        {"CREATE TABLE persons (id {ID}, name TEXT NOT NULL UNIQUE)"},
        {"CREATE TABLE wear_periods ("
         " id {ID},"
         " dosimeter TEXT NOT NULL,"
         " person_id BIGINT NOT NULL REFERENCES persons (id),"
         " valid_from TEXT NOT NULL,"
         " valid_to TEXT)"},
        {"CREATE INDEX wear_periods_dosimeter ON wear_periods (dosimeter, valid_from)"},
        {"CREATE INDEX wear_periods_person ON wear_periods (person_id)"}}},
      // A dosimeter's list and its sums are read from one index alone: its
      // read-outs lie together there, while in the table they are spread
      // among everybody else's, one page each. The record's bytes are left
      // out; they are fetched one at a time, when a read-out is shown.
      {2,
       {{"CREATE INDEX IF NOT EXISTS readouts_listing ON readouts (dosimeter, readout_time, device_id,"
         " block_number, dose_usv, dose_rate_usv_h, exposure_h, error_codes, source, archived_at, id)"},
        {"DROP INDEX IF EXISTS readouts_dosimeter_time"}}},
      // The dose of record is the reader's dose; the program's dose chain
      // stays beside it as recomputed, and counted_usv is what a read-out
      // adds to totals. Persons get ids; names may repeat. Dosimeter ids
      // are upper-case. A period's read-outs run up to the start of its
      // dosimeter's next period (readouts_until). Records no reader wrote
      // are set aside, never lost.
      {3,
       {{"ALTER TABLE readouts ADD COLUMN recomputed_usv DOUBLE PRECISION"},
        {"ALTER TABLE readouts ADD COLUMN counted_usv DOUBLE PRECISION NOT NULL DEFAULT 0"},
        {"UPDATE readouts SET recomputed_usv = dose_usv, dose_usv = measured_dose_usv"},
        {"UPDATE readouts SET counted_usv = CASE WHEN dose_usv > 0 THEN dose_usv ELSE 0 END"},
        {"UPDATE readouts SET dosimeter = UPPER(dosimeter)"},
        {"UPDATE wear_periods SET dosimeter = UPPER(dosimeter)"},
        {"DROP INDEX IF EXISTS readouts_listing"},
        {"CREATE INDEX readouts_listing ON readouts (dosimeter, readout_time, device_id, block_number,"
         " dose_usv, recomputed_usv, counted_usv, dose_rate_usv_h, exposure_h, error_codes, source,"
         " archived_at, id)"},
        {"CREATE TABLE refused_readouts ("
         " id {ID},"
         " record {BLOB} NOT NULL,"
         " reason TEXT NOT NULL,"
         " source TEXT NOT NULL,"
         " archived_at TEXT NOT NULL,"
         " refused_at TEXT NOT NULL)"},
        // SQLite cannot drop the old unique name: the table is made anew.
        {"CREATE TABLE persons_v3 (id INTEGER PRIMARY KEY, person_id TEXT NOT NULL DEFAULT '',"
         " person_key TEXT NOT NULL DEFAULT '', name TEXT NOT NULL, name_key TEXT NOT NULL DEFAULT '')",
         Only::SQLite},
        {"INSERT INTO persons_v3 (id, name) SELECT id, name FROM persons", Only::SQLite},
        {"DROP TABLE persons", Only::SQLite},
        {"ALTER TABLE persons_v3 RENAME TO persons", Only::SQLite},
        {"ALTER TABLE persons DROP CONSTRAINT IF EXISTS persons_name_key", Only::PostgreSQL},
        {"ALTER TABLE persons ADD COLUMN person_id TEXT NOT NULL DEFAULT ''", Only::PostgreSQL},
        {"ALTER TABLE persons ADD COLUMN person_key TEXT NOT NULL DEFAULT ''", Only::PostgreSQL},
        {"ALTER TABLE persons ADD COLUMN name_key TEXT NOT NULL DEFAULT ''", Only::PostgreSQL},
        {nullptr, Only::Both, givePersonsIds},
        {"CREATE UNIQUE INDEX persons_person_key ON persons (person_key)"},
        {"CREATE INDEX persons_name_key ON persons (name_key)"},
        {"ALTER TABLE wear_periods ADD COLUMN readouts_until TEXT NOT NULL DEFAULT ''"},
        {nullptr, Only::Both, sortOutRecords},
        {nullptr, Only::Both, linkAllPeriods}}},
      // Review, sign-off and a change log nobody can rewrite. A read-out
      // knows whether other bytes came under its key and its last
      // resolution; signed documents, their figures and the log are never
      // changed or removed (triggers), and each log row chains on the one
      // before by SHA-256.
      {4,
       {{"ALTER TABLE readouts ADD COLUMN conflicted INTEGER NOT NULL DEFAULT 0"},
        {"ALTER TABLE readouts ADD COLUMN resolution_id BIGINT"},
        {"UPDATE readouts SET conflicted = 1 WHERE readout_key IN (SELECT readout_key FROM conflicts)"},
        {"DROP INDEX IF EXISTS readouts_listing"},
        {"CREATE INDEX readouts_listing ON readouts (dosimeter, readout_time, device_id, block_number,"
         " dose_usv, recomputed_usv, counted_usv, measured_dose_usv, dose_rate_usv_h, exposure_h, "
         "error_codes,"
         " conflicted, resolution_id, source, archived_at, id)"},
        // Nothing asks for read-outs by their time alone any more (a period
        // goes by when a dose counts): one index less to keep at each import.
        {"DROP INDEX IF EXISTS readouts_time"},
        {"CREATE TABLE resolutions ("
         " id {ID},"
         " readout_id BIGINT NOT NULL,"
         " action TEXT NOT NULL,"
         " covered INTEGER NOT NULL,"
         " reason TEXT NOT NULL,"
         " dose_usv DOUBLE PRECISION,"
         " eval_start INTEGER,"
         " eval_length INTEGER,"
         " norm_fact DOUBLE PRECISION,"
         " resolved_at TEXT NOT NULL)"},
        {"CREATE INDEX resolutions_readout ON resolutions (readout_id)"},
        {"CREATE TABLE notional_doses ("
         " id {ID},"
         " person_id BIGINT NOT NULL REFERENCES persons (id),"
         " period TEXT NOT NULL,"
         " dose_time TEXT NOT NULL,"
         " dose_usv DOUBLE PRECISION NOT NULL,"
         " reason TEXT NOT NULL,"
         " entered_at TEXT NOT NULL)"},
        {"CREATE INDEX notional_doses_person ON notional_doses (person_id, dose_time)"},
        {"CREATE TABLE signoffs ("
         " id {ID},"
         " period TEXT NOT NULL,"
         " period_from TEXT NOT NULL,"
         " period_to TEXT NOT NULL,"
         " signed_at TEXT NOT NULL,"
         " signed_by TEXT NOT NULL,"
         " os_user TEXT NOT NULL,"
         " host TEXT NOT NULL,"
         " open_items INTEGER NOT NULL,"
         " sha256 TEXT NOT NULL)"},
        {"CREATE TABLE signoff_documents ("
         " id {ID},"
         " signoff_id BIGINT NOT NULL,"
         " person_id TEXT NOT NULL,"
         " pdf {BLOB} NOT NULL,"
         " sha256 TEXT NOT NULL)"},
        {"CREATE INDEX signoff_documents_signoff ON signoff_documents (signoff_id, person_id)"},
        {"CREATE TABLE signoff_figures ("
         " id {ID},"
         " signoff_id BIGINT NOT NULL,"
         " person_id TEXT NOT NULL,"
         " name TEXT NOT NULL,"
         " period_dose DOUBLE PRECISION NOT NULL,"
         " readouts INTEGER NOT NULL,"
         " year_to_date DOUBLE PRECISION NOT NULL)"},
        {"CREATE TABLE change_log ("
         " id {ID},"
         " time_utc TEXT NOT NULL,"
         " who TEXT NOT NULL,"
         " host TEXT NOT NULL,"
         " role TEXT NOT NULL,"
         " what TEXT NOT NULL,"
         " entity TEXT NOT NULL,"
         " old_value TEXT NOT NULL,"
         " new_value TEXT NOT NULL,"
         " reason TEXT NOT NULL,"
         " person_key TEXT NOT NULL,"
         " touches_from TEXT NOT NULL,"
         " touches_to TEXT NOT NULL,"
         " prev_hash TEXT NOT NULL,"
         " hash TEXT NOT NULL)"},
        {"CREATE INDEX change_log_time ON change_log (time_utc)"},
        {"CREATE INDEX change_log_person ON change_log (person_key, time_utc)"},
        {"CREATE TRIGGER change_log_no_update BEFORE UPDATE ON change_log"
         " BEGIN SELECT RAISE(ABORT, 'the change log is never changed'); END",
         Only::SQLite},
        {"CREATE TRIGGER change_log_no_delete BEFORE DELETE ON change_log"
         " BEGIN SELECT RAISE(ABORT, 'the change log is never changed'); END",
         Only::SQLite},
        {"CREATE TRIGGER signoffs_no_update BEFORE UPDATE ON signoffs"
         " BEGIN SELECT RAISE(ABORT, 'a sign-off is never changed'); END",
         Only::SQLite},
        {"CREATE TRIGGER signoffs_no_delete BEFORE DELETE ON signoffs"
         " BEGIN SELECT RAISE(ABORT, 'a sign-off is never changed'); END",
         Only::SQLite},
        {"CREATE TRIGGER signoff_documents_no_update BEFORE UPDATE ON signoff_documents"
         " BEGIN SELECT RAISE(ABORT, 'a signed document is never changed'); END",
         Only::SQLite},
        {"CREATE TRIGGER signoff_documents_no_delete BEFORE DELETE ON signoff_documents"
         " BEGIN SELECT RAISE(ABORT, 'a signed document is never changed'); END",
         Only::SQLite},
        {"CREATE OR REPLACE FUNCTION quelm_never_changed() RETURNS trigger LANGUAGE plpgsql AS"
         " $$ BEGIN RAISE EXCEPTION 'the dose archive''s % is never changed', TG_TABLE_NAME"
         " USING ERRCODE = 'insufficient_privilege'; END $$",
         Only::PostgreSQL},
        {"CREATE TRIGGER change_log_never_changed BEFORE UPDATE OR DELETE ON change_log"
         " FOR EACH ROW EXECUTE FUNCTION quelm_never_changed()",
         Only::PostgreSQL},
        {"CREATE TRIGGER change_log_never_truncated BEFORE TRUNCATE ON change_log"
         " FOR EACH STATEMENT EXECUTE FUNCTION quelm_never_changed()",
         Only::PostgreSQL},
        {"CREATE TRIGGER signoffs_never_changed BEFORE UPDATE OR DELETE ON signoffs"
         " FOR EACH ROW EXECUTE FUNCTION quelm_never_changed()",
         Only::PostgreSQL},
        {"CREATE TRIGGER signoff_documents_never_changed BEFORE UPDATE OR DELETE ON signoff_documents"
         " FOR EACH ROW EXECUTE FUNCTION quelm_never_changed()",
         Only::PostgreSQL}}},
      // Calibration runs: what went in (each read-out's bytes and the
      // window its factor was solved with), what came out, what was
      // written, who and when; a dosimeter's factors are found by the
      // dosimeter. Control dosimeters with their known dose from a time
      // on, and the batches (a reader's day) their read-outs make, with
      // what each was held against.
      {5,
       {{"CREATE TABLE calibration_runs ("
         " id {ID},"
         " computed_at TEXT NOT NULL,"
         " stored_at TEXT NOT NULL,"
         " calibrated_by TEXT NOT NULL,"
         " program TEXT NOT NULL,"
         " source TEXT NOT NULL,"
         " dose TEXT NOT NULL,"
         " note TEXT NOT NULL,"
         " outlier_sd DOUBLE PRECISION NOT NULL,"
         " written TEXT NOT NULL)"},
        {"CREATE TABLE calibration_batches ("
         " id {ID},"
         " run_id BIGINT NOT NULL REFERENCES calibration_runs (id),"
         " type TEXT NOT NULL,"
         " factors INTEGER NOT NULL,"
         " used INTEGER NOT NULL,"
         " mean DOUBLE PRECISION,"
         " sd DOUBLE PRECISION,"
         " cv DOUBLE PRECISION)"},
        {"CREATE INDEX calibration_batches_run ON calibration_batches (run_id)"},
        {"CREATE TABLE calibration_factors ("
         " id {ID},"
         " run_id BIGINT NOT NULL REFERENCES calibration_runs (id),"
         " dosimeter TEXT NOT NULL,"
         " device_id TEXT NOT NULL,"
         " block_number INTEGER NOT NULL,"
         " readout_time TEXT,"
         " origin TEXT NOT NULL,"
         " readout_id BIGINT,"
         " record {BLOB} NOT NULL,"
         " eval_start INTEGER NOT NULL,"
         " eval_length INTEGER NOT NULL,"
         " factor_in_force DOUBLE PRECISION,"
         " delivered_usv DOUBLE PRECISION,"
         " chain_usv DOUBLE PRECISION,"
         " factor DOUBLE PRECISION,"
         " ratio DOUBLE PRECISION,"
         " status TEXT NOT NULL,"
         " used INTEGER NOT NULL,"
         " written INTEGER NOT NULL)"},
        {"CREATE INDEX calibration_factors_run ON calibration_factors (run_id)"},
        {"CREATE INDEX calibration_factors_dosimeter ON calibration_factors (dosimeter, run_id)"},
        {"CREATE TABLE control_marks ("
         " id {ID},"
         " dosimeter TEXT NOT NULL,"
         " known_usv DOUBLE PRECISION NOT NULL,"
         " valid_from TEXT NOT NULL,"
         " marked_at TEXT NOT NULL,"
         " UNIQUE (dosimeter, valid_from))"},
        {"CREATE TABLE control_batches ("
         " id {ID},"
         " device_id TEXT NOT NULL,"
         " day TEXT NOT NULL,"
         " ratio_controls INTEGER NOT NULL,"
         " ratio DOUBLE PRECISION,"
         " ratio_mean DOUBLE PRECISION,"
         " ratio_sd DOUBLE PRECISION,"
         " ratio_baseline INTEGER NOT NULL,"
         " ratio_out INTEGER NOT NULL,"
         " background_controls INTEGER NOT NULL,"
         " background DOUBLE PRECISION,"
         " background_mean DOUBLE PRECISION,"
         " background_sd DOUBLE PRECISION,"
         " background_baseline INTEGER NOT NULL,"
         " background_out INTEGER NOT NULL,"
         " UNIQUE (device_id, day))"}}},
      // A sign-off keeps each person's lifetime as signed, so that a later
      // change of an earlier year (read-outs imported late) is told like a
      // change of the period; older sign-offs have none.
      {6, {{"ALTER TABLE signoff_figures ADD COLUMN lifetime DOUBLE PRECISION"}}},
      // A sign-off's figures are kept from change like its documents, and
      // on a server no sign-off table can be emptied at once either. The
      // program's own doses follow today's dose chain.
      {7,
       {{"CREATE TRIGGER signoff_figures_no_update BEFORE UPDATE ON signoff_figures"
         " BEGIN SELECT RAISE(ABORT, 'signed figures are never changed'); END",
         Only::SQLite},
        {"CREATE TRIGGER signoff_figures_no_delete BEFORE DELETE ON signoff_figures"
         " BEGIN SELECT RAISE(ABORT, 'signed figures are never changed'); END",
         Only::SQLite},
        {"CREATE TRIGGER signoff_figures_never_changed BEFORE UPDATE OR DELETE ON signoff_figures"
         " FOR EACH ROW EXECUTE FUNCTION quelm_never_changed()",
         Only::PostgreSQL},
        {"CREATE TRIGGER signoffs_never_truncated BEFORE TRUNCATE ON signoffs"
         " FOR EACH STATEMENT EXECUTE FUNCTION quelm_never_changed()",
         Only::PostgreSQL},
        {"CREATE TRIGGER signoff_documents_never_truncated BEFORE TRUNCATE ON signoff_documents"
         " FOR EACH STATEMENT EXECUTE FUNCTION quelm_never_changed()",
         Only::PostgreSQL},
        {"CREATE TRIGGER signoff_figures_never_truncated BEFORE TRUNCATE ON signoff_figures"
         " FOR EACH STATEMENT EXECUTE FUNCTION quelm_never_changed()",
         Only::PostgreSQL},
        {nullptr, Only::Both, recomputeDoses}}},
  };
  return list;
}

int newer(Connection& c, int version) {
  *c.detail =
      QStringLiteral("schema version %1; this program knows up to version %2").arg(version).arg(kSchemaVersion);
  return kErrArchiveNewerSchema;
}

}  // namespace

int schemaIsCurrent(Connection& c) {
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  // Row by row: a shared row lock takes no aggregate.
  if (!q.exec(QStringLiteral("SELECT version FROM quelm_schema") + QLatin1String(c.dialect->shareSchema)))
    return c.fail(q.lastError());
  int version = 0;
  while (q.next()) version = std::max(version, q.value(0).toInt());
  if (version == kSchemaVersion) return kOk;
  // Only a newer program changes the version of an open archive.
  return newer(c, version);
}

int readSchemaVersion(Connection& c, int* version) {
  QSqlQuery q(c.db());
  if (!q.exec(QStringLiteral("SELECT MAX(version) FROM quelm_schema"))) return c.fail(q.lastError());
  *version = q.next() && !q.value(0).isNull() ? q.value(0).toInt() : 0;
  return kOk;
}

int migrate(Connection& c, QString* note) {
  note->clear();
  const QStringList tables = c.db().tables(QSql::Tables);
  int version = 0;
  if (tables.contains(QStringLiteral("quelm_schema"))) {
    if (const int rc = readSchemaVersion(c, &version)) return rc;
    if (version > kSchemaVersion) return newer(c, version);
    if (version == kSchemaVersion) return kOk;
  } else if (!tables.isEmpty()) {
    // Someone else's database: adding tables to it would be no archive.
    *c.detail = QStringLiteral("it holds other tables (%1) and no dose archive").arg(tables.first());
    return kErrArchiveNotDatabase;
  }
  if (c.options.readOnly) {
    if (version == 0) {
      *c.detail = QStringLiteral("it holds no dose archive yet");
      return kErrArchiveOpen;
    }
    *c.detail = QStringLiteral("schema version %1, this program needs %2").arg(version).arg(kSchemaVersion);
    return kErrArchiveOlderSchema;
  }
  const ArchiveDialect& d = *c.dialect;
  int from = 0;
  UpgradeCounts counts;
  const auto noteOf = [&] {
    QString text = QStringLiteral("upgraded from schema version %1 to %2").arg(from).arg(kSchemaVersion);
    QStringList what;
    if (counts.persons) what << QStringLiteral("%1 persons given ids").arg(counts.persons);
    if (counts.rekeyed + counts.freed)
      what << QStringLiteral("%1 read-outs without a time told apart by their records").arg(counts.rekeyed + counts.freed);
    if (counts.setAside) what << QStringLiteral("%1 records that are no read-outs set aside").arg(counts.setAside);
    if (counts.recomputed)
      what << QStringLiteral("%1 recomputed doses brought to today's dose chain").arg(counts.recomputed);
    if (!what.isEmpty()) text += QStringLiteral(" (") + what.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text;
  };
  const int rc = c.upgrade([&]() -> int {
    counts = {};
    if (*d.lockSchema)
      if (const int rc = c.exec(QString::fromLatin1(d.lockSchema))) return rc;
    if (const int rc = c.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS quelm_schema (version INTEGER NOT NULL)")))
      return rc;
    int at = 0;
    if (const int rc = readSchemaVersion(c, &at)) return rc;
    if (at > kSchemaVersion) return newer(c, at);
    from = at;
    for (const Migration& m : migrations()) {
      if (m.version <= at) continue;
      for (const Step& s : m.steps) {
        if ((s.only == Only::SQLite && c.postgres()) || (s.only == Only::PostgreSQL && !c.postgres()))
          continue;
        if (const int rc = s.sql ? c.exec(SpellSchema(d, s.sql)) : s.run(c, counts)) return rc;
      }
      at = m.version;
    }
    if (const int rc = c.exec(QStringLiteral("DELETE FROM quelm_schema"))) return rc;
    if (const int rc = c.exec(QStringLiteral("INSERT INTO quelm_schema (version) VALUES (%1)").arg(at)))
      return rc;
    // An upgrade is a change to the record like any other: logged with it.
    if (from == 0 || from == at) return int{kOk};
    return appendLog(c, {{QStringLiteral("migration"), QStringLiteral("schema"), QString::number(from),
                          QString::number(at), noteOf(), QString(), QString(), QString()}});
  });
  if (rc) return rc;
  // A new archive says nothing; an upgraded one says what changed.
  if (from > 0 && from < kSchemaVersion) *note = noteOf();
  return kOk;
}

}  // namespace quelm::archive_sql
