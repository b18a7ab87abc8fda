#include "archive/Archive.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>

#include "base/ErrorCodes.h"
#include "evaluation/BlockFormat.h"
#include "evaluation/DoseChain.h"
#include "measurement/DataFileReader.h"

namespace quelm {

// ---------------------------------------------------------------------------
// Times

std::optional<QDateTime> ParseArchiveTime(const QString& text, bool upperBound) {
  static const QRegularExpression re(
      QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})(?:[ T]([0-9]{2}):([0-9]{2}))?$"));
  const QRegularExpressionMatch m = re.match(text.trimmed());
  if (!m.hasMatch()) return std::nullopt;
  const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  const bool hasTime = !m.captured(4).isEmpty();
  const QTime time = hasTime ? QTime(m.captured(4).toInt(), m.captured(5).toInt())
                             : (upperBound ? QTime(23, 59) : QTime(0, 0));
  if (!date.isValid() || !time.isValid()) return std::nullopt;
  return QDateTime(date, time, Qt::UTC);
}

QString ArchiveTimeText(const QDateTime& time) { return time.toString(QStringLiteral("yyyy-MM-dd HH:mm")); }

QDateTime ArchiveNow() {
  const QDateTime local = QDateTime::currentDateTime();
  return QDateTime(local.date(), QTime(local.time().hour(), local.time().minute()), Qt::UTC);
}

QDateTime QuarterStart(const QDateTime& time) {
  const QDate d = time.date();
  return QDateTime(QDate(d.year(), (d.month() - 1) / 3 * 3 + 1, 1), QTime(0, 0), Qt::UTC);
}

QDateTime YearStart(const QDateTime& time) {
  return QDateTime(QDate(time.date().year(), 1, 1), QTime(0, 0), Qt::UTC);
}

namespace {
ReportPeriod periodOf(int year, int quarter) {
  ReportPeriod p;
  const int firstMonth = quarter ? (quarter - 1) * 3 + 1 : 1;
  const int months = quarter ? 3 : 12;
  p.from = QDateTime(QDate(year, firstMonth, 1), QTime(0, 0), Qt::UTC);
  p.to = p.from.addMonths(months).addSecs(-60);
  p.label = quarter ? QStringLiteral("%1Q%2").arg(year).arg(quarter) : QString::number(year);
  return p;
}
}  // namespace

std::optional<ReportPeriod> ParseReportPeriod(const QString& text) {
  static const QRegularExpression re(QStringLiteral("^([0-9]{4})(?:[Qq]([1-4]))?$"));
  const QRegularExpressionMatch m = re.match(text.trimmed());
  if (!m.hasMatch()) return std::nullopt;
  return periodOf(m.captured(1).toInt(), m.captured(2).isEmpty() ? 0 : m.captured(2).toInt());
}

ReportPeriod QuarterOf(const QDateTime& time) {
  return periodOf(time.date().year(), (time.date().month() - 1) / 3 + 1);
}

ReportPeriod YearOf(const QDateTime& time) { return periodOf(time.date().year(), 0); }

double AnnualLimitShare(double yearToDate, double annualLimit) {
  return annualLimit > 0 ? yearToDate * 100.0 / annualLimit : 0.0;
}

// ---------------------------------------------------------------------------
// Records

namespace {

std::optional<double> finite(double v) { return std::isfinite(v) ? std::optional<double>(v) : std::nullopt; }

}  // namespace

ReadoutFields DecodeReadout(const BlockRecord& r) {
  ReadoutFields f;
  const char* bytes = reinterpret_cast<const char*>(&r);
  f.key.reserve(17);
  f.key.append(bytes + offsetof(BlockRecord, DeviceID), 5);
  f.key.append(bytes + offsetof(BlockRecord, BlockNumber), 2);
  f.key.append(bytes + offsetof(BlockRecord, DateTime), 5);
  f.key.append(bytes + offsetof(BlockRecord, BulbID), 5);
  f.deviceId = IdentifierText(r.DeviceID);
  f.blockNumber = uint16_t{r.BlockNumber};
  f.dosimeter = IdentifierText(r.BulbID);
  f.errorCodes = r.ErrorCodes;
  if (!(r.ErrorCodes & kClockFault)) {
    // Date bytes that are no date are no read-out time either.
    const QDate date(1900 + r.DateTime[0], r.DateTime[1], r.DateTime[2]);
    const QTime time(r.DateTime[3], r.DateTime[4]);
    if (date.isValid() && time.isValid()) f.readoutTime = ArchiveTimeText(QDateTime(date, time, Qt::UTC));
  }
  f.measuredDose = finite(float{r.MeasuredDose});
  f.doseRate = finite(float{r.DoseRate});
  const uint16_t exposure = r.Exposure;
  if (exposure != 0xFFFF) f.exposureH = exposure * 0.1;
  f.doseUsv = BlockDose(r);
  return f;
}

// ---------------------------------------------------------------------------
// Schema

namespace {

constexpr int kSchemaVersion = 2;
// The open end of a wear period, as a bound that sorts after every time.
const QString kOpenEnd = QStringLiteral("9999-12-31 23:59");

// {ID} and {BLOB} are spelt per database.
struct Migration {
  int version;
  std::vector<const char*> statements;
};

const std::vector<Migration>& migrations() {
  static const std::vector<Migration> list = {
      {1,
       {"CREATE TABLE readouts ("
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
        " archived_at TEXT NOT NULL)",
        "CREATE INDEX readouts_dosimeter_time ON readouts (dosimeter, readout_time)",
        "CREATE INDEX readouts_time ON readouts (readout_time)",
        "CREATE INDEX readouts_dose ON readouts (dose_usv)",
        "CREATE TABLE conflicts ("
        " id {ID},"
        " readout_key {BLOB} NOT NULL,"
        " record {BLOB} NOT NULL,"
        " source TEXT NOT NULL,"
        " archived_at TEXT NOT NULL,"
        " UNIQUE (readout_key, record))",
        "CREATE TABLE persons (id {ID}, name TEXT NOT NULL UNIQUE)",
        "CREATE TABLE wear_periods ("
        " id {ID},"
        " dosimeter TEXT NOT NULL,"
        " person_id BIGINT NOT NULL REFERENCES persons (id),"
        " valid_from TEXT NOT NULL,"
        " valid_to TEXT)",
        "CREATE INDEX wear_periods_dosimeter ON wear_periods (dosimeter, valid_from)",
        "CREATE INDEX wear_periods_person ON wear_periods (person_id)"}},
      // A dosimeter's list and its sums are read from one index alone: its
      // read-outs lie together there, while in the table they are spread
      // among everybody else's, one page each. The record's bytes are left
      // out; they are fetched one at a time, when a read-out is shown.
      {2,
       {"CREATE INDEX IF NOT EXISTS readouts_listing ON readouts (dosimeter, readout_time, device_id,"
        " block_number, dose_usv, dose_rate_usv_h, exposure_h, error_codes, source, archived_at, id)",
        "DROP INDEX IF EXISTS readouts_dosimeter_time"}},
  };
  return list;
}

std::atomic<int> connectionCounter{0};

QVariant nullable(const std::optional<double>& v) {
  return v ? QVariant(*v) : QVariant(QMetaType::fromType<double>());
}
std::optional<double> optionalDouble(const QVariant& v) {
  if (v.isNull()) return std::nullopt;
  return v.toDouble();
}

// The columns every list of read-outs shows, with the person whose wear
// period covers the read-out time.
const QString kRowColumns = QStringLiteral(
    "SELECT r.readout_time, r.device_id, r.block_number, r.dosimeter, p.name, r.dose_usv, r.dose_rate_usv_h,"
    " r.exposure_h, r.error_codes, r.source, r.archived_at, r.id FROM readouts r");
const QString kPeriodCovers = QStringLiteral(
    " w.dosimeter = r.dosimeter AND r.readout_time >= w.valid_from"
    " AND r.readout_time <= COALESCE(w.valid_to, '9999-12-31 23:59')");
// In the order of the listing index: one dosimeter's read-outs need no
// sorting.
const QString kOrder = QStringLiteral(" ORDER BY r.readout_time NULLS LAST, r.device_id, r.block_number");

ReadoutRow rowOf(const QSqlQuery& q) {
  ReadoutRow row;
  row.readoutTime = q.value(0).toString();
  row.deviceId = q.value(1).toString();
  row.blockNumber = q.value(2).toInt();
  row.dosimeter = q.value(3).toString();
  row.person = q.value(4).toString();
  row.doseUsv = optionalDouble(q.value(5));
  row.doseRate = optionalDouble(q.value(6));
  row.exposureH = optionalDouble(q.value(7));
  row.errorCodes = q.value(8).toInt();
  row.source = q.value(9).toString();
  row.archivedAt = q.value(10).toString();
  row.id = q.value(11).toLongLong();
  return row;
}

// A kept conflicting record as the lists show it: its own fields.
ReadoutRow conflictRow(const QByteArray& bytes, const QString& source, const QString& archivedAt) {
  BlockRecord record{};
  std::memcpy(&record, bytes.constData(), std::min<size_t>(sizeof record, static_cast<size_t>(bytes.size())));
  const ReadoutFields f = DecodeReadout(record);
  ReadoutRow row;
  row.readoutTime = f.readoutTime;
  row.deviceId = f.deviceId;
  row.blockNumber = f.blockNumber;
  row.dosimeter = f.dosimeter;
  row.doseUsv = f.doseUsv;
  row.doseRate = f.doseRate;
  row.exposureH = f.exposureH;
  row.errorCodes = f.errorCodes;
  row.source = source;
  row.archivedAt = archivedAt;
  row.record = bytes;
  row.conflict = true;
  return row;
}

bool sameNumber(const std::optional<double>& a, const std::optional<double>& b) {
  if (!a || !b) return !a && !b;
  return *a == *b || std::fabs(*a - *b) <= 1e-12 * std::max(std::fabs(*a), std::fabs(*b));
}

}  // namespace

struct DoseArchive::Impl {
  QString name;
  bool postgres = false;
  ArchiveOptions options;
  QString* detail = nullptr;

  QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

  // The result code for what the database reported; its text goes to the detail.
  int fail(const QSqlError& e) {
    // One line: the server's messages come with line breaks and hints.
    QString text = e.databaseText().simplified();
    if (text.isEmpty()) text = e.driverText().simplified();
    *detail = text;
    const QString native = e.nativeErrorCode();
    if (!postgres) {
      switch (native.toInt() & 0xFF) {
        case 5:  // SQLITE_BUSY
        case 6:  // SQLITE_LOCKED
          return kErrArchiveBusy;
        case 8:  // SQLITE_READONLY
          return kErrArchiveReadOnly;
        case 11:  // SQLITE_CORRUPT
        case 26:  // SQLITE_NOTADB
          return kErrArchiveNotDatabase;
        case 14:  // SQLITE_CANTOPEN
          return kErrArchiveOpen;
      }
      if (text.contains(QStringLiteral("database is locked"))) return kErrArchiveBusy;
      return e.type() == QSqlError::ConnectionError ? kErrArchiveOpen : kErrArchiveQuery;
    }
    if (native == QLatin1String("25006") || native == QLatin1String("42501")) return kErrArchiveReadOnly;
    if (native == QLatin1String("40001") || native == QLatin1String("40P01")) return kErrArchiveBusy;
    if (native.startsWith(QLatin1String("28")) || text.contains(QStringLiteral("authentication failed")) ||
        text.contains(QStringLiteral("no password supplied")) || text.contains(QStringLiteral("pg_hba.conf")))
      return kErrArchiveLogin;
    if (native == QLatin1String("3D000") || text.contains(QStringLiteral("does not exist")))
      return kErrArchiveOpen;
    if (e.type() == QSqlError::ConnectionError || text.contains(QStringLiteral("server closed")) ||
        text.contains(QStringLiteral("could not connect")) ||
        text.contains(QStringLiteral("Connection refused")))
      return kErrArchiveServer;
    return kErrArchiveQuery;
  }
  // Whether a failed transaction may simply be run again.
  bool retryable(const QSqlError& e) const {
    const QString native = e.nativeErrorCode();
    return postgres && (native == QLatin1String("40001") || native == QLatin1String("40P01"));
  }

  int exec(QSqlQuery& q) { return q.exec() ? kOk : fail(q.lastError()); }
  int exec(const QString& sql) {
    QSqlQuery q(db());
    return q.exec(sql) ? kOk : fail(q.lastError());
  }
  int prepare(QSqlQuery& q, const QString& sql) { return q.prepare(sql) ? kOk : fail(q.lastError()); }

  // Writers queue up at the start: a transaction that only later finds the
  // file locked could not wait for it.
  int begin() { return exec(postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")); }
  int commit() { return exec(QStringLiteral("COMMIT")); }
  void rollback() {
    QSqlQuery q(db());
    q.exec(QStringLiteral("ROLLBACK"));
  }
  int writable() {
    if (!options.readOnly) return kOk;
    *detail = QStringLiteral("opened for reading only");
    return kErrArchiveReadOnly;
  }

  QString dialect(const char* sql) const {
    QString s = QString::fromLatin1(sql);
    s.replace(QStringLiteral("{ID}"),
              postgres ? QStringLiteral("BIGSERIAL PRIMARY KEY") : QStringLiteral("INTEGER PRIMARY KEY"));
    s.replace(QStringLiteral("{BLOB}"), postgres ? QStringLiteral("BYTEA") : QStringLiteral("BLOB"));
    return s;
  }

  int readVersion(int* version) {
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM quelm_schema"))) return fail(q.lastError());
    *version = q.next() && !q.value(0).isNull() ? q.value(0).toInt() : 0;
    return kOk;
  }

  int newer(int version) {
    *detail = QStringLiteral("schema version %1; this program knows up to version %2")
                  .arg(version)
                  .arg(kSchemaVersion);
    return kErrArchiveNewerSchema;
  }

  int migrate() {
    const QStringList tables = db().tables(QSql::Tables);
    int version = 0;
    if (tables.contains(QStringLiteral("quelm_schema"))) {
      if (const int rc = readVersion(&version)) return rc;
      if (version > kSchemaVersion) return newer(version);
      if (version == kSchemaVersion) return kOk;
    } else if (!tables.isEmpty()) {
      // Someone else's database: adding tables to it would be no archive.
      *detail = QStringLiteral("it holds other tables (%1) and no dose archive").arg(tables.first());
      return kErrArchiveNotDatabase;
    }
    if (options.readOnly) {
      *detail = QStringLiteral("it needs schema version %1; open it once for writing").arg(kSchemaVersion);
      return kErrArchiveReadOnly;
    }
    if (const int rc = begin()) return rc;
    const auto abandon = [this](int rc) {
      rollback();
      return rc;
    };
    // Two programs opening a new archive at once: one creates, the other
    // finds it made.
    if (postgres)
      if (const int rc = exec(QStringLiteral("SELECT pg_advisory_xact_lock(4711190)"))) return abandon(rc);
    if (const int rc =
            exec(QStringLiteral("CREATE TABLE IF NOT EXISTS quelm_schema (version INTEGER NOT NULL)")))
      return abandon(rc);
    if (const int rc = readVersion(&version)) return abandon(rc);
    if (version > kSchemaVersion) return abandon(newer(version));
    for (const Migration& m : migrations()) {
      if (m.version <= version) continue;
      for (const char* statement : m.statements)
        if (const int rc = exec(dialect(statement))) return abandon(rc);
      version = m.version;
    }
    if (const int rc = exec(QStringLiteral("DELETE FROM quelm_schema"))) return abandon(rc);
    if (const int rc = exec(QStringLiteral("INSERT INTO quelm_schema (version) VALUES (%1)").arg(version)))
      return abandon(rc);
    return commit();
  }

  int importOnce(std::span<const BlockRecord> records, const QString& source, ImportResult* out,
                 std::optional<double> level, const std::function<void(int)>& progress) {
    ImportResult r;
    if (const int rc = begin()) return rc;
    QSqlDatabase database = db();
    QSqlQuery insert(database), find(database), conflict(database);
    const auto abandon = [this, &insert, &find, &conflict](int rc) {
      insert.finish();
      find.finish();
      conflict.finish();
      rollback();
      return rc;
    };
    if (int rc = prepare(insert,
                         QStringLiteral("INSERT INTO readouts (readout_key, record, device_id, block_number,"
                                        " readout_time, dosimeter, error_codes, measured_dose_usv,"
                                        " dose_rate_usv_h, exposure_h, dose_usv, source, archived_at)"
                                        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                                        " ON CONFLICT (readout_key) DO NOTHING"));
        rc || (rc = prepare(find, QStringLiteral("SELECT record FROM readouts WHERE readout_key = ?"))) ||
        (rc = prepare(conflict,
                      QStringLiteral("INSERT INTO conflicts (readout_key, record, source, archived_at)"
                                     " VALUES (?, ?, ?, ?) ON CONFLICT (readout_key, record) DO NOTHING"))))
      return abandon(rc);
    find.setForwardOnly(true);
    const QString archivedAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const QVariant noTime(QMetaType::fromType<QString>());
    for (size_t k = 0; k < records.size(); ++k) {
      const BlockRecord& record = records[k];
      const ReadoutFields f = DecodeReadout(record);
      const QByteArray bytes(reinterpret_cast<const char*>(&record), sizeof record);
      // Trying the insert first: a new read-out, the common case, costs one statement.
      insert.bindValue(0, f.key);
      insert.bindValue(1, bytes);
      insert.bindValue(2, f.deviceId);
      insert.bindValue(3, f.blockNumber);
      insert.bindValue(4, f.readoutTime.isEmpty() ? noTime : QVariant(f.readoutTime));
      insert.bindValue(5, f.dosimeter);
      insert.bindValue(6, f.errorCodes);
      insert.bindValue(7, nullable(f.measuredDose));
      insert.bindValue(8, nullable(f.doseRate));
      insert.bindValue(9, nullable(f.exposureH));
      insert.bindValue(10, nullable(f.doseUsv));
      insert.bindValue(11, source);
      insert.bindValue(12, archivedAt);
      if (!insert.exec()) return abandon(fail(insert.lastError()));
      if (insert.numRowsAffected() == 1) {
        ++r.added;
        if (level && f.doseUsv && *f.doseUsv >= *level) r.highDoses.push_back(f);
      } else {
        find.bindValue(0, f.key);
        if (!find.exec()) return abandon(fail(find.lastError()));
        const QByteArray stored = find.next() ? find.value(0).toByteArray() : QByteArray();
        find.finish();
        if (stored == bytes) {
          ++r.duplicates;
        } else {
          // The first one stays; the other is kept beside it for whoever
          // sorts it out, and counted.
          ++r.conflicts;
          r.conflicting.push_back(f);
          conflict.bindValue(0, f.key);
          conflict.bindValue(1, bytes);
          conflict.bindValue(2, source);
          conflict.bindValue(3, archivedAt);
          if (!conflict.exec()) return abandon(fail(conflict.lastError()));
        }
      }
      if (progress) progress(static_cast<int>(k + 1));
    }
    insert.finish();
    find.finish();
    conflict.finish();
    if (const int rc = commit()) {
      rollback();
      return rc;
    }
    *out = std::move(r);
    return kOk;
  }

  int rows(QSqlQuery& q, std::vector<ReadoutRow>* out) {
    q.setForwardOnly(true);
    if (!q.exec()) return fail(q.lastError());
    out->clear();
    while (q.next()) out->push_back(rowOf(q));
    return kOk;
  }
};

// ---------------------------------------------------------------------------

std::unique_ptr<DoseArchive> DoseArchive::open(const ArchiveLocation& location, const ArchiveOptions& options,
                                               int* code, QString* detail) {
  *code = kOk;
  detail->clear();
  const bool postgres = location.kind == ArchiveLocation::PostgreSQL;
  const QString driver = postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
  if (!QSqlDatabase::isDriverAvailable(driver)) {
    *detail =
        QStringLiteral("Qt SQL driver %1 (Debian package %2)")
            .arg(driver, postgres ? QStringLiteral("libqt6sql6-psql") : QStringLiteral("libqt6sql6-sqlite"));
    *code = kErrArchiveDriver;
    return nullptr;
  }
  if (!postgres && location.path != QLatin1String(":memory:")) {
    const QFileInfo file(location.path);
    if (file.exists() && !file.isFile()) {
      *detail = QStringLiteral("%1 is not a regular file").arg(location.path);
      *code = kErrArchiveOpen;
      return nullptr;
    }
    if (!file.exists()) {
      if (options.readOnly) {
        *detail = QStringLiteral("%1 does not exist").arg(location.path);
        *code = kErrArchiveOpen;
        return nullptr;
      }
      // The default folder is the program's to make; a folder the user
      // named must exist (a typing slip would otherwise archive elsewhere).
      if (location.path == DefaultArchivePath()) QDir().mkpath(file.absolutePath());
      if (!QFileInfo(file.absolutePath()).isDir()) {
        *detail = QStringLiteral("the folder %1 does not exist").arg(file.absolutePath());
        *code = kErrArchiveOpen;
        return nullptr;
      }
    }
  }

  std::unique_ptr<DoseArchive> a(new DoseArchive);
  a->location_ = location;
  a->d_ = std::make_unique<Impl>();
  Impl& d = *a->d_;
  d.name = QStringLiteral("quelm-archive-%1").arg(connectionCounter++);
  d.postgres = postgres;
  d.options = options;
  d.detail = &a->detail_;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, d.name);
    if (postgres) {
      db.setHostName(location.host);
      db.setPort(location.port);
      db.setDatabaseName(location.database);
      if (!location.user.isEmpty()) db.setUserName(location.user);
      if (!location.password.isEmpty()) db.setPassword(location.password);
      db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    } else {
      db.setDatabaseName(location.path);
      QString connect = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options.busyTimeoutMs);
      if (options.readOnly) connect += QStringLiteral(";QSQLITE_OPEN_READONLY");
      db.setConnectOptions(connect);
    }
    const auto failed = [&](int rc) {
      *code = rc;
      *detail = a->detail_;
      return nullptr;
    };
    if (!db.open()) return failed(d.fail(db.lastError()));
    if (postgres) {
      // IF NOT EXISTS and the like would print notices on every start.
      if (const int rc = d.exec(QStringLiteral("SET client_min_messages = warning"))) return failed(rc);
      if (options.readOnly)
        if (const int rc = d.exec(QStringLiteral("SET default_transaction_read_only = on")))
          return failed(rc);
    } else {
      // The first statement that reads the file: one that is no database
      // says so here.
      if (const int rc = d.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master"))) return failed(rc);
      if (!options.readOnly)
        if (const int rc = d.exec(QStringLiteral("PRAGMA journal_mode = WAL"))) return failed(rc);
    }
    if (const int rc = d.migrate()) return failed(rc);
  }
  return a;
}

DoseArchive::~DoseArchive() {
  if (!d_) return;
  {
    QSqlDatabase db = d_->db();
    db.close();
  }
  QSqlDatabase::removeDatabase(d_->name);
}

int DoseArchive::schemaVersion() const {
  int version = 0;
  return d_->readVersion(&version) == kOk ? version : 0;
}

int DoseArchive::importRecords(std::span<const BlockRecord> records, const QString& source,
                               ImportResult* result, std::optional<double> notificationLevel) {
  detail_.clear();
  if (const int rc = d_->writable()) return rc;
  // Two servers' clients taking the same new read-outs in another order
  // may deadlock; the server picks one, which simply runs again.
  for (int attempt = 0;; ++attempt) {
    const int rc = d_->importOnce(records, source, result, notificationLevel, onRecordImported);
    if (rc != kErrArchiveBusy || !d_->postgres || attempt == 4) return rc;
  }
}

int DoseArchive::importFile(const QString& path, ImportResult* result,
                            std::optional<double> notificationLevel) {
  detail_.clear();
  DataFileReader file;
  if (const int rc = file.open(path)) {
    detail_ = path;
    return rc;
  }
  const uint64_t size = file.size();
  std::vector<BlockRecord> records(static_cast<size_t>(size / sizeof(BlockRecord)));
  for (size_t k = 0; k < records.size(); ++k)
    if (!file.readAt(k * sizeof(BlockRecord), &records[k], sizeof(BlockRecord))) {
      detail_ = QStringLiteral("%1: record %2").arg(path).arg(k);
      return kErrFileRead;
    }
  file.close();
  const int rc = importRecords(records, QFileInfo(path).absoluteFilePath(), result, notificationLevel);
  if (rc) return rc;
  // What was whole is archived; a record cut short (an interrupted
  // download) is no read-out, and is said to be there.
  if (size % sizeof(BlockRecord)) {
    detail_ =
        QStringLiteral("%1: the last %2 bytes are no whole record").arg(path).arg(size % sizeof(BlockRecord));
    return kErrFileRead;
  }
  return kOk;
}

int DoseArchive::assign(const WearPeriod& period) {
  detail_.clear();
  if (const int rc = d_->writable()) return rc;
  const QString dosimeter = period.dosimeter.trimmed();
  const QString person = period.person.trimmed();
  if (dosimeter.isEmpty() || dosimeter.size() > 5 || person.isEmpty() || !period.from.isValid() ||
      (period.to && *period.to < period.from)) {
    detail_ =
        QStringLiteral("a dosimeter (up to 5 characters), a person and a period that ends after it starts");
    return kErrArchiveQuery;
  }
  const QString from = ArchiveTimeText(period.from);
  const QString to = period.to ? ArchiveTimeText(*period.to) : QString();
  Impl& d = *d_;
  if (const int rc = d.begin()) return rc;
  QSqlDatabase db = d.db();
  const auto abandon = [&d](int rc) {
    d.rollback();
    return rc;
  };
  // Two programs assigning at once must not both find the period free.
  if (d.postgres)
    if (const int rc = d.exec(QStringLiteral("LOCK TABLE wear_periods IN SHARE ROW EXCLUSIVE MODE")))
      return abandon(rc);
  qlonglong personId = -1, sameId = -1;
  {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO persons (name) VALUES (?) ON CONFLICT (name) DO NOTHING"));
    q.addBindValue(person);
    if (const int rc = d.exec(q)) return abandon(rc);
    q.prepare(QStringLiteral("SELECT id FROM persons WHERE name = ?"));
    q.addBindValue(person);
    if (const int rc = d.exec(q)) return abandon(rc);
    if (q.next()) personId = q.value(0).toLongLong();
    q.finish();
    q.prepare(
        QStringLiteral("SELECT w.id, w.person_id, p.name, w.valid_from, w.valid_to FROM wear_periods w"
                       " JOIN persons p ON p.id = w.person_id"
                       " WHERE w.dosimeter = ? AND w.valid_from <= ? AND COALESCE(w.valid_to, ?) >= ? ORDER "
                       "BY w.valid_from"));
    q.addBindValue(dosimeter);
    q.addBindValue(to.isEmpty() ? kOpenEnd : to);
    q.addBindValue(kOpenEnd);
    q.addBindValue(from);
    if (const int rc = d.exec(q)) return abandon(rc);
    while (q.next()) {
      if (q.value(1).toLongLong() == personId && q.value(3).toString() == from) {
        sameId = q.value(0).toLongLong();
        continue;
      }
      detail_ = QStringLiteral("%1 is %2's from %3 %4")
                    .arg(dosimeter, q.value(2).toString(), q.value(3).toString(),
                         q.value(4).isNull() ? QStringLiteral("on")
                                             : QStringLiteral("to ") + q.value(4).toString());
      q.finish();
      return abandon(kErrArchiveOverlap);
    }
  }
  QSqlQuery q(db);
  if (sameId >= 0) {
    q.prepare(QStringLiteral("UPDATE wear_periods SET valid_to = ? WHERE id = ?"));
    q.addBindValue(to.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(to));
    q.addBindValue(sameId);
  } else {
    q.prepare(QStringLiteral(
        "INSERT INTO wear_periods (dosimeter, person_id, valid_from, valid_to) VALUES (?, ?, ?, ?)"));
    q.addBindValue(dosimeter);
    q.addBindValue(personId);
    q.addBindValue(from);
    q.addBindValue(to.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(to));
  }
  if (const int rc = d.exec(q)) return abandon(rc);
  q.finish();
  if (const int rc = d.commit()) return abandon(rc);
  return kOk;
}

int DoseArchive::wearPeriods(const QString& dosimeter, std::vector<WearPeriod>* periods) {
  return periodsWhere(dosimeter.isEmpty() ? QString() : QStringLiteral(" WHERE w.dosimeter = ?"), dosimeter,
                      QStringLiteral(" ORDER BY w.dosimeter, w.valid_from"), periods);
}

int DoseArchive::personPeriods(const QString& person, std::vector<WearPeriod>* periods) {
  return periodsWhere(QStringLiteral(" WHERE p.name = ?"), person,
                      QStringLiteral(" ORDER BY w.valid_from, w.dosimeter"), periods);
}

int DoseArchive::periodsWhere(const QString& where, const QString& value, const QString& order,
                              std::vector<WearPeriod>* periods) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.prepare(QStringLiteral("SELECT w.dosimeter, p.name, w.valid_from, w.valid_to FROM wear_periods w"
                           " JOIN persons p ON p.id = w.person_id") +
            where + order);
  if (!where.isEmpty()) q.addBindValue(value);
  if (const int rc = d_->exec(q)) return rc;
  periods->clear();
  while (q.next()) {
    WearPeriod p;
    p.dosimeter = q.value(0).toString();
    p.person = q.value(1).toString();
    p.from = *ParseArchiveTime(q.value(2).toString(), false);
    if (!q.value(3).isNull()) p.to = ParseArchiveTime(q.value(3).toString(), true);
    periods->push_back(p);
  }
  return kOk;
}

int DoseArchive::dosimeters(QStringList* names) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral(
          "SELECT dosimeter FROM readouts UNION SELECT dosimeter FROM wear_periods ORDER BY 1")))
    return d_->fail(q.lastError());
  names->clear();
  while (q.next()) names->append(q.value(0).toString());
  return kOk;
}

int DoseArchive::personAt(const QString& dosimeter, const QString& readoutTime, QString* person) {
  detail_.clear();
  person->clear();
  if (readoutTime.isEmpty()) return kOk;
  QSqlQuery q(d_->db());
  q.prepare(
      QStringLiteral("SELECT p.name FROM wear_periods w JOIN persons p ON p.id = w.person_id"
                     " WHERE w.dosimeter = ? AND w.valid_from <= ?"
                     " AND COALESCE(w.valid_to, '9999-12-31 23:59') >= ?"));
  q.addBindValue(dosimeter);
  q.addBindValue(readoutTime);
  q.addBindValue(readoutTime);
  if (const int rc = d_->exec(q)) return rc;
  if (q.next()) *person = q.value(0).toString();
  return kOk;
}

int DoseArchive::persons(QStringList* names) {
  detail_.clear();
  QSqlQuery q(d_->db());
  if (!q.exec(QStringLiteral("SELECT name FROM persons ORDER BY name"))) return d_->fail(q.lastError());
  names->clear();
  while (q.next()) names->append(q.value(0).toString());
  return kOk;
}

namespace {
// The joins and conditions of a person's or a dosimeter's read-outs in a
// time range, and the values they bind, in order.
QString historyWhere(const HistoryQuery& query, QVariantList* binds) {
  const bool byPerson = !query.person.isEmpty();
  QString sql = byPerson
                    ? QStringLiteral(" JOIN wear_periods w ON") + kPeriodCovers +
                          QStringLiteral(" JOIN persons p ON p.id = w.person_id WHERE p.name = ?")
                    : QStringLiteral(" LEFT JOIN wear_periods w ON") + kPeriodCovers +
                          QStringLiteral(" LEFT JOIN persons p ON p.id = w.person_id WHERE r.dosimeter = ?");
  *binds << (byPerson ? query.person : query.dosimeter);
  if (query.from) {
    sql += QStringLiteral(" AND r.readout_time >= ?");
    *binds << ArchiveTimeText(*query.from);
  }
  if (query.to) {
    sql += QStringLiteral(" AND r.readout_time <= ?");
    *binds << ArchiveTimeText(*query.to);
  }
  return sql;
}
}  // namespace

int DoseArchive::history(const HistoryQuery& query, std::vector<ReadoutRow>* rows) {
  detail_.clear();
  QVariantList binds;
  QSqlQuery q(d_->db());
  q.prepare(kRowColumns + historyWhere(query, &binds) + kOrder);
  for (const QVariant& v : binds) q.addBindValue(v);
  return d_->rows(q, rows);
}

int DoseArchive::record(qint64 id, QByteArray* bytes) {
  detail_.clear();
  bytes->clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT record FROM readouts WHERE id = ?"));
  q.addBindValue(id);
  if (const int rc = d_->exec(q)) return rc;
  if (!q.next()) {
    detail_ = QStringLiteral("no read-out %1 is archived").arg(id);
    return kErrArchiveQuery;
  }
  *bytes = q.value(0).toByteArray();
  return kOk;
}

int DoseArchive::conflicts(const HistoryQuery& query, std::vector<ReadoutRow>* rows) {
  detail_.clear();
  QVariantList binds;
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT c.record, c.source, c.archived_at, p.name FROM conflicts c"
                           " JOIN readouts r ON r.readout_key = c.readout_key") +
            historyWhere(query, &binds) + QStringLiteral(" ORDER BY r.readout_time, c.id"));
  for (const QVariant& v : binds) q.addBindValue(v);
  if (const int rc = d_->exec(q)) return rc;
  rows->clear();
  while (q.next()) {
    ReadoutRow row = conflictRow(q.value(0).toByteArray(), q.value(1).toString(), q.value(2).toString());
    row.person = q.value(3).toString();
    rows->push_back(row);
  }
  return kOk;
}

int DoseArchive::alerts(std::optional<QDateTime> from, double level, std::vector<ReadoutRow>* rows) {
  detail_.clear();
  QString sql = kRowColumns + QStringLiteral(" LEFT JOIN wear_periods w ON") + kPeriodCovers +
                QStringLiteral(" LEFT JOIN persons p ON p.id = w.person_id WHERE r.dose_usv >= ?");
  if (from) sql += QStringLiteral(" AND r.readout_time >= ?");
  QSqlQuery q(d_->db());
  q.prepare(sql + kOrder);
  q.addBindValue(level);
  if (from) q.addBindValue(ArchiveTimeText(*from));
  return d_->rows(q, rows);
}

int DoseArchive::totals(const QString& person, const QDateTime& at, std::vector<PersonTotals>* totals) {
  detail_.clear();
  // Everybody assigned a dosimeter has a record, a dose of nothing included.
  QStringList names;
  if (person.isEmpty()) {
    if (const int rc = persons(&names)) return rc;
  } else {
    names << person;
  }
  QSqlQuery q(d_->db());
  q.prepare(QStringLiteral("SELECT p.name,"
                           " SUM(CASE WHEN r.readout_time >= ? THEN r.dose_usv ELSE 0 END),"
                           " SUM(CASE WHEN r.readout_time >= ? THEN r.dose_usv ELSE 0 END),"
                           " SUM(r.dose_usv), COUNT(*)"
                           " FROM persons p JOIN wear_periods w ON w.person_id = p.id"
                           " JOIN readouts r ON") +
            kPeriodCovers + QStringLiteral(" WHERE r.readout_time <= ?") +
            (person.isEmpty() ? QString() : QStringLiteral(" AND p.name = ?")) +
            QStringLiteral(" GROUP BY p.name"));
  q.addBindValue(ArchiveTimeText(QuarterStart(at)));
  q.addBindValue(ArchiveTimeText(YearStart(at)));
  q.addBindValue(ArchiveTimeText(at));
  if (!person.isEmpty()) q.addBindValue(person);
  q.setForwardOnly(true);
  if (const int rc = d_->exec(q)) return rc;
  std::map<QString, PersonTotals> found;
  while (q.next()) {
    PersonTotals t;
    t.person = q.value(0).toString();
    t.quarterToDate = q.value(1).toDouble();
    t.yearToDate = q.value(2).toDouble();
    t.lifetime = q.value(3).toDouble();
    t.readouts = q.value(4).toInt();
    found[t.person] = t;
  }
  totals->clear();
  for (const QString& name : names) {
    const auto it = found.find(name);
    PersonTotals t;
    t.person = name;
    totals->push_back(it != found.end() ? it->second : t);
  }
  return kOk;
}

int DoseArchive::dosimeterTotals(const QString& dosimeter, const QDateTime& at, PersonTotals* totals) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(
      QStringLiteral("SELECT SUM(CASE WHEN readout_time >= ? THEN dose_usv ELSE 0 END),"
                     " SUM(CASE WHEN readout_time >= ? THEN dose_usv ELSE 0 END),"
                     " SUM(dose_usv), COUNT(*) FROM readouts WHERE dosimeter = ? AND readout_time <= ?"));
  q.addBindValue(ArchiveTimeText(QuarterStart(at)));
  q.addBindValue(ArchiveTimeText(YearStart(at)));
  q.addBindValue(dosimeter);
  q.addBindValue(ArchiveTimeText(at));
  if (const int rc = d_->exec(q)) return rc;
  PersonTotals t;
  t.person = dosimeter;
  if (q.next()) {
    t.quarterToDate = q.value(0).toDouble();
    t.yearToDate = q.value(1).toDouble();
    t.lifetime = q.value(2).toDouble();
    t.readouts = q.value(3).toInt();
  }
  *totals = t;
  return kOk;
}

int DoseArchive::summary(const ReportPeriod& period, std::vector<SummaryRow>* rows) {
  detail_.clear();
  std::vector<PersonTotals> totalsAtEnd;
  if (const int rc = totals(QString(), period.to, &totalsAtEnd)) return rc;
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT p.name, SUM(r.dose_usv), COUNT(*) FROM persons p"
                           " JOIN wear_periods w ON w.person_id = p.id JOIN readouts r ON") +
            kPeriodCovers +
            QStringLiteral(" WHERE r.readout_time >= ? AND r.readout_time <= ? GROUP BY p.name"));
  q.addBindValue(ArchiveTimeText(period.from));
  q.addBindValue(ArchiveTimeText(period.to));
  if (const int rc = d_->exec(q)) return rc;
  std::map<QString, std::pair<double, int>> inPeriod;
  while (q.next()) inPeriod[q.value(0).toString()] = {q.value(1).toDouble(), q.value(2).toInt()};
  rows->clear();
  for (const PersonTotals& t : totalsAtEnd) {
    SummaryRow row;
    row.totals = t;
    if (const auto it = inPeriod.find(t.person); it != inPeriod.end())
      std::tie(row.periodDose, row.periodReadouts) = it->second;
    rows->push_back(row);
  }
  std::stable_sort(rows->begin(), rows->end(),
                   [](const SummaryRow& a, const SummaryRow& b) { return a.periodDose > b.periodDose; });
  return kOk;
}

int DoseArchive::conflicts(std::vector<ReadoutRow>* rows) {
  detail_.clear();
  QSqlQuery q(d_->db());
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("SELECT record, source, archived_at FROM conflicts ORDER BY id DESC")))
    return d_->fail(q.lastError());
  rows->clear();
  while (q.next())
    rows->push_back(conflictRow(q.value(0).toByteArray(), q.value(1).toString(), q.value(2).toString()));
  return kOk;
}

int DoseArchive::check(CheckReport* report) {
  detail_.clear();
  CheckReport c;
  Impl& d = *d_;
  QSqlDatabase db = d.db();
  if (!d.postgres) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA integrity_check"))) return d.fail(q.lastError());
    while (q.next())
      if (q.value(0).toString() != QLatin1String("ok"))
        c.faults << QStringLiteral("database: ") + q.value(0).toString();
  }
  if (const int version = schemaVersion(); version != kSchemaVersion)
    c.faults << QStringLiteral("schema version %1, expected %2").arg(version).arg(kSchemaVersion);

  // In pages by id: a million read-outs never sit in memory at once.
  qlonglong last = -1;
  for (;;) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
        "SELECT id, readout_key, record, device_id, block_number, readout_time, dosimeter, error_codes,"
        " measured_dose_usv, dose_rate_usv_h, exposure_h, dose_usv FROM readouts WHERE id > ? ORDER BY id "
        "LIMIT 5000"));
    q.addBindValue(last);
    if (const int rc = d.exec(q)) return rc;
    int page = 0;
    while (q.next()) {
      ++page;
      ++c.readouts;
      last = q.value(0).toLongLong();
      const QString what = QStringLiteral("read-out %1").arg(last);
      const QByteArray bytes = q.value(2).toByteArray();
      if (bytes.size() != static_cast<qsizetype>(sizeof(BlockRecord))) {
        c.faults << QStringLiteral("%1: the record holds %2 bytes, not 512").arg(what).arg(bytes.size());
        continue;
      }
      BlockRecord record;
      std::memcpy(&record, bytes.constData(), sizeof record);
      const ReadoutFields f = DecodeReadout(record);
      const auto differs = [&](const char* field, bool same) {
        if (!same)
          c.faults << QStringLiteral("%1 (block %2 of %3): %4 differs from the record")
                          .arg(what)
                          .arg(f.blockNumber)
                          .arg(f.deviceId, QLatin1String(field));
      };
      differs("the key", q.value(1).toByteArray() == f.key);
      differs("device_id", q.value(3).toString() == f.deviceId);
      differs("block_number", q.value(4).toInt() == f.blockNumber);
      differs("readout_time", q.value(5).toString() == f.readoutTime);
      differs("dosimeter", q.value(6).toString() == f.dosimeter);
      differs("error_codes", q.value(7).toInt() == f.errorCodes);
      differs("measured_dose_usv", sameNumber(optionalDouble(q.value(8)), f.measuredDose));
      differs("dose_rate_usv_h", sameNumber(optionalDouble(q.value(9)), f.doseRate));
      differs("exposure_h", sameNumber(optionalDouble(q.value(10)), f.exposureH));
      differs("dose_usv", sameNumber(optionalDouble(q.value(11)), f.doseUsv));
    }
    if (page == 0) break;
  }
  {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, readout_key, record FROM conflicts ORDER BY id")))
      return d.fail(q.lastError());
    while (q.next()) {
      ++c.conflicts;
      const QByteArray bytes = q.value(2).toByteArray();
      BlockRecord record;
      if (bytes.size() != static_cast<qsizetype>(sizeof record)) {
        c.faults << QStringLiteral("conflict %1: the record holds %2 bytes, not 512")
                        .arg(q.value(0).toLongLong())
                        .arg(bytes.size());
        continue;
      }
      std::memcpy(&record, bytes.constData(), sizeof record);
      if (DecodeReadout(record).key != q.value(1).toByteArray())
        c.faults
            << QStringLiteral("conflict %1: the key differs from the record").arg(q.value(0).toLongLong());
    }
  }
  {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM wear_periods"))) return d.fail(q.lastError());
    if (q.next()) c.periods = q.value(0).toInt();
    q.finish();
    if (!q.exec(QStringLiteral(
            "SELECT a.dosimeter, a.valid_from, b.valid_from FROM wear_periods a JOIN wear_periods b"
            " ON a.dosimeter = b.dosimeter AND a.id < b.id"
            " AND a.valid_from <= COALESCE(b.valid_to, '9999-12-31 23:59')"
            " AND b.valid_from <= COALESCE(a.valid_to, '9999-12-31 23:59')")))
      return d.fail(q.lastError());
    while (q.next())
      c.faults << QStringLiteral("wear periods of %1 from %2 and from %3 overlap")
                      .arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString());
    q.finish();
    if (!q.exec(QStringLiteral("SELECT dosimeter, valid_from FROM wear_periods WHERE valid_to < valid_from")))
      return d.fail(q.lastError());
    while (q.next())
      c.faults << QStringLiteral("wear period of %1 from %2 ends before it starts")
                      .arg(q.value(0).toString(), q.value(1).toString());
  }
  *report = c;
  return kOk;
}

}  // namespace quelm
