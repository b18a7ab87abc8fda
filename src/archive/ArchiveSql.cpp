#include "archive/ArchiveSql.h"

#include <dlfcn.h>
#include <libpq-fe.h>

#include <QCryptographicHash>
#include <QSqlDriver>
#include <QDateTime>
#include <QThread>
#include <algorithm>
#include <map>

#include "base/ErrorCodes.h"

namespace quelm::archive_sql {

bool Connection::postgres() const { return dialect == &DialectOf(ArchiveLocation::PostgreSQL); }

int Connection::fail(const QSqlError& e) {
  *detail = DatabaseWords(e);
  retryable_ = dialect->retryable(e);
  return dialect->code(e);
}

int Connection::exec(const QString& sql) {
  QSqlQuery q(db());
  return q.exec(sql) ? kOk : fail(q.lastError());
}

QSqlQuery& Connection::statement(const QString& sql, const QVariantList& values) {
  std::unique_ptr<QSqlQuery>& q = statements_[sql];
  if (!q) {
    q = std::make_unique<QSqlQuery>(db());
    q->setForwardOnly(true);
    q->prepare(sql);  // a failure shows when it is run
  } else {
    q->finish();
  }
  for (qsizetype i = 0; i < values.size(); ++i) q->bindValue(static_cast<int>(i), values[i]);
  return *q;
}

int Connection::readInPages(const QString& select, int pageRows,
                            const std::function<int(const QSqlQuery&)>& row,
                            const std::function<int()>& pageDone, const QVariantList& binds) {
  const QString sql = select + QStringLiteral(" LIMIT %1").arg(pageRows);
  for (qlonglong last = -1;;) {
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& v : binds) q.addBindValue(v);
    q.addBindValue(last);
    if (const int rc = exec(q)) return rc;
    int rows = 0;
    while (q.next()) {
      ++rows;
      last = q.value(0).toLongLong();
      if (const int rc = row(q)) return rc;
    }
    q.finish();
    if (rows == 0) return kOk;
    if (pageDone)
      if (const int rc = pageDone()) return rc;
    if (rows < pageRows) return kOk;
  }
}

int Connection::writable() {
  if (!options.readOnly) return kOk;
  *detail = QStringLiteral("opened for reading only");
  return kErrArchiveReadOnly;
}

int Connection::begin() { return exec(QString::fromLatin1(dialect->beginWrite)); }

int Connection::transaction(const std::function<int()>& body, bool schemaChecked) {
  if (const int rc = writable()) return rc;
  for (int attempt = 0;; ++attempt) {
    QSqlError failure;
    retryable_ = false;
    int rc = begin();
    if (rc == kOk && schemaChecked) rc = schemaIsCurrent(*this);
    if (rc == kOk) rc = body();
    if (rc == kOk) {
      QSqlQuery q(db());
      if (q.exec(QStringLiteral("COMMIT"))) return kOk;
      failure = q.lastError();
      rc = fail(failure);
    }
    // What failed is in *detail already; the rollback must not replace it.
    QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
    // Two programs taking the same rows in another order may deadlock; the
    // server picks one, which simply runs again once the other is through.
    // A lock waited for until the busy time-out is not tried again: the
    // user hears that the archive is busy.
    const bool again = rc == kErrArchiveBusy && retryable_ && attempt < 5;
    if (!again) return rc;
    QThread::msleep(static_cast<unsigned long>(40 << attempt));
  }
}

QVariant nullableDouble(const std::optional<double>& v) {
  return v ? QVariant(*v) : QVariant(QMetaType::fromType<double>());
}

QVariant nullableText(const QString& v) {
  return v.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(v);
}

std::optional<double> optionalDouble(const QVariant& v) {
  if (v.isNull()) return std::nullopt;
  return v.toDouble();
}

QString personKey(const QString& id) { return id.trimmed().toUpper(); }

QString periodEntityPrefix(const QString& dosimeter) {
  return QStringLiteral("period ") + dosimeter + QStringLiteral(" from ");
}

QString readoutEntityPrefix(qint64 id) { return QStringLiteral("read-out %1 (").arg(id); }

QString readoutEntity(qint64 id, const QString& dosimeter, const QString& readoutTime) {
  return readoutEntityPrefix(id) + QStringLiteral("%1, %2)").arg(dosimeter, readoutTime.isEmpty()
                                                                                ? QStringLiteral("no time")
                                                                                : readoutTime);
}

QString nameKey(const QString& name) { return name.simplified().toCaseFolded(); }

int nextPersonId(Connection& c, QString* id) {
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("SELECT person_key FROM persons WHERE person_key LIKE 'P%'"))) return c.fail(q.lastError());
  int highest = 0;
  while (q.next()) {
    bool ok = false;
    const int n = q.value(0).toString().mid(1).toInt(&ok);
    if (ok && n > highest) highest = n;
  }
  *id = QStringLiteral("P%1").arg(highest + 1, 4, 10, QLatin1Char('0'));
  return kOk;
}

int insertPerson(Connection& c, const Person& person, qlonglong* row) {
  QSqlQuery q(c.db());
  q.prepare(QStringLiteral("INSERT INTO persons (person_id, person_key, name, name_key) VALUES (?, ?, ?, ?) RETURNING id"));
  q.addBindValue(person.id.trimmed());
  q.addBindValue(personKey(person.id));
  q.addBindValue(person.name.simplified());
  q.addBindValue(nameKey(person.name));
  if (const int rc = c.exec(q)) return rc;
  if (row) *row = q.next() ? q.value(0).toLongLong() : 0;
  return kOk;
}

namespace {
constexpr int kReadoutColumns = 15;
constexpr int kLogColumns = 14;

QString valuesList(int rows, int columns) {
  QString one = QStringLiteral("(");
  for (int i = 0; i < columns; ++i) one += i ? QStringLiteral(", ?") : QStringLiteral("?");
  one += QLatin1Char(')');
  QString all;
  all.reserve(rows * (one.size() + 2));
  for (int r = 0; r < rows; ++r) {
    if (r) all += QStringLiteral(", ");
    all += one;
  }
  return all;
}
}  // namespace

int insertBatches(Connection& c, QSqlQuery& q, size_t rows, const QString& head, int columns, const QString& tail,
                  const std::function<void(size_t row, int* position)>& bind, const std::function<void()>& done) {
  const size_t batch = static_cast<size_t>(c.dialect->rowsPerStatement);
  int prepared = 0;
  for (size_t start = 0; start < rows; start += batch) {
    const int n = static_cast<int>(std::min(batch, rows - start));
    if (n != prepared) {
      if (const int rc = c.prepare(q, head + valuesList(n, columns) + tail)) return rc;
      prepared = n;
    }
    int p = 0;
    for (int i = 0; i < n; ++i) bind(start + static_cast<size_t>(i), &p);
    if (const int rc = c.exec(q)) return rc;
    if (done) done();
  }
  return kOk;
}

int insertReadouts(Connection& c, const std::vector<NewReadout>& rows, const QString& source,
                   const QString& archivedAt, std::set<QByteArray>* inserted, std::vector<qlonglong>* ids) {
  const QVariant noTime = nullableText(QString());
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  const auto bind = [&](size_t row, int* position) {
    int& p = *position;
    const NewReadout& r = rows[row];
    const ReadoutFields& f = *r.fields;
    q.bindValue(p++, f.key);
    q.bindValue(p++, *r.bytes);
    q.bindValue(p++, f.deviceId);
    q.bindValue(p++, f.blockNumber);
    q.bindValue(p++, f.readoutTime.isEmpty() ? noTime : QVariant(f.readoutTime));
    q.bindValue(p++, f.dosimeter);
    q.bindValue(p++, f.errorCodes);
    q.bindValue(p++, nullableDouble(f.measuredDose));
    q.bindValue(p++, nullableDouble(f.measuredDose));
    q.bindValue(p++, nullableDouble(f.recomputed));
    q.bindValue(p++, CountedDose(f.measuredDose));
    q.bindValue(p++, nullableDouble(f.doseRate));
    q.bindValue(p++, nullableDouble(f.exposureH));
    q.bindValue(p++, source);
    q.bindValue(p++, archivedAt);
  };
  return insertBatches(
      c, q, rows.size(),
      QStringLiteral("INSERT INTO readouts (readout_key, record, device_id, block_number, readout_time,"
                     " dosimeter, error_codes, measured_dose_usv, dose_usv, recomputed_usv,"
                     " counted_usv, dose_rate_usv_h, exposure_h, source, archived_at) VALUES "),
      kReadoutColumns, QStringLiteral(" ON CONFLICT (readout_key) DO NOTHING RETURNING readout_key, id"), bind, [&] {
        while (q.next()) {
          inserted->insert(q.value(0).toByteArray());
          if (ids) ids->push_back(q.value(1).toLongLong());
        }
        q.finish();
      });
}

QString logHash(const QString& previousHash, const QStringList& content) {
  const QByteArray bytes = (previousHash + QChar(0x1E) + content.join(QChar(0x1F))).toUtf8();
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString sha256Hex(const QByteArray& bytes) {
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

int appendLog(Connection& c, const std::vector<LogRow>& rows, const QString& at) {
  if (rows.empty()) return kOk;
  if (*c.dialect->lockLog)
    if (const int rc = c.exec(QString::fromLatin1(c.dialect->lockLog))) return rc;
  QString previous;
  struct Signed {
    QString label, from, to;
  };
  std::vector<Signed> signedPeriods;
  {
    QSqlQuery q(c.db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT hash FROM change_log ORDER BY id DESC LIMIT 1"))) return c.fail(q.lastError());
    if (q.next()) previous = q.value(0).toString();
    q.finish();
    if (!q.exec(QStringLiteral("SELECT DISTINCT period, period_from, period_to FROM signoffs")))
      return c.fail(q.lastError());
    while (q.next()) signedPeriods.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
  }
  const QString now = at.isEmpty() ? QDateTime::currentDateTimeUtc().toString(Qt::ISODate) : at;
  QSqlQuery insert(c.db());
  const auto bind = [&](size_t row, int* position) {
    const LogRow& r = rows[row];
    QString what = r.what;
    QStringList touched;
    if (!r.touchFrom.isEmpty())
      for (const Signed& s : signedPeriods)
        if (r.touchFrom <= s.to && s.from <= r.touchTo && !touched.contains(s.label)) touched << s.label;
    if (!touched.isEmpty()) what += QStringLiteral(", after sign-off of ") + touched.join(QStringLiteral(", "));
    const QStringList content = {now, c.osUser, c.host, c.role, what, r.entity, r.oldValue, r.newValue,
                                 r.reason, r.personKey, r.touchFrom, r.touchTo};
    const QString hash = logHash(previous, content);
    // Empty, never NULL: the columns hold text.
    for (const QString& v : content) insert.bindValue((*position)++, v.isNull() ? QStringLiteral("") : v);
    insert.bindValue((*position)++, previous.isNull() ? QStringLiteral("") : previous);
    insert.bindValue((*position)++, hash);
    previous = hash;
  };
  return insertBatches(c, insert, rows.size(),
                       QStringLiteral("INSERT INTO change_log (time_utc, who, host, role, what, entity, old_value,"
                                      " new_value, reason, person_key, touches_from, touches_to, prev_hash, hash)"
                                      " VALUES "),
                       kLogColumns, QString(), bind);
}

namespace {

const char* const kReadoutColumnList =
    "readout_key, record, device_id, block_number, readout_time, dosimeter, error_codes, measured_dose_usv,"
    " dose_usv, recomputed_usv, counted_usv, dose_rate_usv_h, exposure_h, source, archived_at";

// The INSERT statements' way: the new rows added, the others looked up
// and compared byte for byte.
int storeByInsert(Connection& c, const std::vector<NewReadout>& rows, const QString& source,
                  const QString& archivedAt, std::vector<Stored>* outcome, std::vector<qlonglong>* added) {
  std::set<QByteArray> inserted;
  if (const int rc = insertReadouts(c, rows, source, archivedAt, &inserted, added)) return rc;
  outcome->assign(rows.size(), Stored::Added);
  QSqlQuery find(c.db());
  find.setForwardOnly(true);
  const size_t batch = static_cast<size_t>(c.dialect->rowsPerStatement);
  std::vector<size_t> known;
  for (size_t i = 0; i < rows.size(); ++i)
    if (!inserted.count(rows[i].fields->key)) known.push_back(i);
  for (size_t start = 0; start < known.size(); start += batch) {
    const size_t n = std::min(batch, known.size() - start);
    QString marks = QStringLiteral("?");
    for (size_t k = 1; k < n; ++k) marks += QStringLiteral(", ?");
    find.prepare(QStringLiteral("SELECT readout_key, record FROM readouts WHERE readout_key IN (") + marks +
                 QLatin1Char(')'));
    for (size_t k = start; k < start + n; ++k) find.addBindValue(rows[known[k]].fields->key);
    if (const int rc = c.exec(find)) return rc;
    std::map<QByteArray, QByteArray> stored;
    while (find.next()) stored[find.value(0).toByteArray()] = find.value(1).toByteArray();
    find.finish();
    for (size_t k = start; k < start + n; ++k) {
      const NewReadout& r = rows[known[k]];
      (*outcome)[known[k]] = stored[r.fields->key] == *r.bytes ? Stored::Duplicate : Stored::Conflict;
    }
  }
  return kOk;
}

// libpq's few calls the COPY needs, found in the library the server's Qt
// driver has loaded: the program does not link libpq (and its dozens of
// libraries) just to start, and a machine without it imports row by row.
struct LibPq {
  decltype(&::PQexec) exec = nullptr;
  decltype(&::PQresultStatus) resultStatus = nullptr;
  decltype(&::PQclear) clear = nullptr;
  decltype(&::PQputCopyData) putCopyData = nullptr;
  decltype(&::PQputCopyEnd) putCopyEnd = nullptr;
  decltype(&::PQgetResult) getResult = nullptr;
  decltype(&::PQresultErrorField) resultErrorField = nullptr;
  decltype(&::PQresultErrorMessage) resultErrorMessage = nullptr;
  decltype(&::PQerrorMessage) errorMessage = nullptr;
  bool complete = false;

  static const LibPq& get() {
    static const LibPq pq = [] {
      LibPq l;
      void* lib = dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
      if (!lib) lib = dlopen("libpq.so.5", RTLD_NOW);
      if (!lib) return l;
      const auto find = [lib](auto& f, const char* name) { f = reinterpret_cast<std::decay_t<decltype(f)>>(dlsym(lib, name)); return f != nullptr; };
      l.complete = find(l.exec, "PQexec") && find(l.resultStatus, "PQresultStatus") && find(l.clear, "PQclear") &&
                   find(l.putCopyData, "PQputCopyData") && find(l.putCopyEnd, "PQputCopyEnd") &&
                   find(l.getResult, "PQgetResult") && find(l.resultErrorField, "PQresultErrorField") &&
                   find(l.resultErrorMessage, "PQresultErrorMessage") && find(l.errorMessage, "PQerrorMessage");
      return l;
    }();
    return pq;
  }
};

// A failure libpq reported, as the dialect maps the database's errors.
int copyFailure(Connection& c, const LibPq& pq, PGresult* result, PGconn* conn) {
  const char* state = result ? pq.resultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const QString words = QString::fromUtf8(result ? pq.resultErrorMessage(result) : pq.errorMessage(conn));
  if (result) pq.clear(result);
  while (PGresult* rest = pq.getResult(conn)) pq.clear(rest);
  return c.fail(QSqlError(QString(), words, QSqlError::StatementError, QString::fromLatin1(state ? state : "")));
}

// COPY's binary form (PostgreSQL's own send formats, big-endian): the
// record's bytes as they are, with no text to escape or parse.
class CopyRows {
 public:
  CopyRows() { data_.append("PGCOPY\n\377\r\n\0", 11).append(8, '\0'); }
  void row(int fields) { be16(static_cast<quint16>(fields)); }
  void bytes(const QByteArray& b) {
    be32(static_cast<quint32>(b.size()));
    data_ += b;
  }
  void text(const QString& t) { bytes(t.toUtf8()); }
  void textOrNull(const QString& t) { t.isEmpty() ? null() : text(t); }
  void integer(int v) {
    be32(4);
    be32(static_cast<quint32>(v));
  }
  void number(const std::optional<double>& v) {
    if (!v) return null();
    be32(8);
    quint64 bits;
    std::memcpy(&bits, &*v, 8);
    be32(static_cast<quint32>(bits >> 32));
    be32(static_cast<quint32>(bits));
  }
  const QByteArray& end() {
    be16(0xFFFF);
    return data_;
  }

 private:
  void null() { be32(0xFFFFFFFF); }
  void be16(quint16 v) { data_.append(static_cast<char>(v >> 8)).append(static_cast<char>(v)); }
  void be32(quint32 v) {
    be16(static_cast<quint16>(v >> 16));
    be16(static_cast<quint16>(v));
  }
  QByteArray data_;
};

// A server's way: COPY into a staging table, then one INSERT ... SELECT in
// key order, and one comparison of the ones that were there.
int storeByCopy(Connection& c, const std::vector<NewReadout>& rows, const QString& source, const QString& archivedAt,
                std::vector<Stored>* outcome, std::vector<qlonglong>* added) {
  // The driver's own connection (Qt names its type after libpq's struct),
  // so that the COPY is in the import's transaction.
  const QVariant handle = c.db().driver()->handle();
  const bool libpq = handle.isValid() && (qstrcmp(handle.typeName(), "PGconn*") == 0 ||
                                          qstrcmp(handle.typeName(), "pg_conn*") == 0);
  PGconn* conn = libpq ? *static_cast<PGconn* const*>(handle.data()) : nullptr;
  const LibPq& pq = LibPq::get();
  if (!conn || !pq.complete) return storeByInsert(c, rows, source, archivedAt, outcome, added);
  if (const int rc = c.exec(QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS quelm_import (readout_key BYTEA,"
                                           " record BYTEA, device_id TEXT, block_number INTEGER, readout_time TEXT,"
                                           " dosimeter TEXT, error_codes INTEGER, measured_dose_usv DOUBLE PRECISION,"
                                           " dose_usv DOUBLE PRECISION, recomputed_usv DOUBLE PRECISION, counted_usv"
                                           " DOUBLE PRECISION, dose_rate_usv_h DOUBLE PRECISION, exposure_h DOUBLE"
                                           " PRECISION, source TEXT, archived_at TEXT) ON COMMIT DELETE ROWS")))
    return rc;
  if (const int rc = c.exec(QStringLiteral("TRUNCATE quelm_import"))) return rc;
  CopyRows copy;
  for (const NewReadout& r : rows) {
    const ReadoutFields& f = *r.fields;
    copy.row(15);
    copy.bytes(f.key);
    copy.bytes(*r.bytes);
    copy.text(f.deviceId);
    copy.integer(f.blockNumber);
    copy.textOrNull(f.readoutTime);
    copy.text(f.dosimeter);
    copy.integer(f.errorCodes);
    for (const std::optional<double>& v : {f.measuredDose, f.measuredDose, f.recomputed})
      copy.number(v);
    copy.number(CountedDose(f.measuredDose));
    copy.number(f.doseRate);
    copy.number(f.exposureH);
    copy.text(source);
    copy.text(archivedAt);
  }
  const QByteArray& data = copy.end();
  PGresult* result =
      pq.exec(conn, (QByteArray("COPY quelm_import (") + kReadoutColumnList + ") FROM STDIN (FORMAT binary)").constData());
  if (pq.resultStatus(result) != PGRES_COPY_IN) return copyFailure(c, pq, result, conn);
  pq.clear(result);
  if (pq.putCopyData(conn, data.constData(), static_cast<int>(data.size())) != 1 || pq.putCopyEnd(conn, nullptr) != 1)
    return copyFailure(c, pq, nullptr, conn);
  result = pq.getResult(conn);
  if (pq.resultStatus(result) != PGRES_COMMAND_OK) return copyFailure(c, pq, result, conn);
  pq.clear(result);
  while (PGresult* rest = pq.getResult(conn)) pq.clear(rest);

  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  std::set<QByteArray> inserted;
  if (!q.exec(QStringLiteral("INSERT INTO readouts (%1) SELECT %1 FROM quelm_import ORDER BY readout_key"
                             " ON CONFLICT (readout_key) DO NOTHING RETURNING readout_key, id")
                  .arg(QLatin1String(kReadoutColumnList))))
    return c.fail(q.lastError());
  while (q.next()) {
    inserted.insert(q.value(0).toByteArray());
    added->push_back(q.value(1).toLongLong());
  }
  q.finish();
  std::map<QByteArray, bool> same;
  if (inserted.size() < rows.size()) {
    if (!q.exec(QStringLiteral("SELECT i.readout_key, r.record = i.record FROM quelm_import i"
                               " JOIN readouts r ON r.readout_key = i.readout_key")))
      return c.fail(q.lastError());
    while (q.next()) same[q.value(0).toByteArray()] = q.value(1).toBool();
  }
  outcome->clear();
  for (const NewReadout& r : rows) {
    const QByteArray& key = r.fields->key;
    outcome->push_back(inserted.count(key) ? Stored::Added : same[key] ? Stored::Duplicate : Stored::Conflict);
  }
  return kOk;
}

}  // namespace

bool ServerCopyAvailable() { return LibPq::get().complete; }

int storeReadouts(Connection& c, const std::vector<NewReadout>& rows, const QString& source, const QString& archivedAt,
                  std::vector<Stored>* outcome, std::vector<qlonglong>* added) {
  return c.dialect->copyIn ? storeByCopy(c, rows, source, archivedAt, outcome, added)
                           : storeByInsert(c, rows, source, archivedAt, outcome, added);
}

namespace {

// A wear period as relinking sees it: its attribution bound as stored
// (`until`) and as it is to be (`next`); its end as stored (`to`, empty:
// open) and as it was before this change (`toWas`).
struct LinkedPeriod {
  qlonglong id;
  QString dosimeter, from, to, until, next, toWas;
};

// When a read-out of a period with the end `to` counts: kDoseTime's rule.
QString doseTimeIn(const QString& to, const QString& readoutTime) {
  return !to.isEmpty() && readoutTime > to ? to : readoutTime;
}
QString endOrOpen(const QString& to) { return to.isEmpty() ? kOpenEnd : to; }

// The read-outs that change hands with the new bounds, or whose dose time
// a changed end moves. Only read-outs between a period's old and new
// bound can change hands, and only those after the earlier of its old and
// new end can count elsewhere, so only those are read.
int movedReadouts(Connection& c, const std::vector<LinkedPeriod>& periods,
                  std::map<PeriodKey, DoseSpan>* moved) {
  struct Range {
    QString dosimeter, from, to;
  };
  std::vector<Range> ranges;
  std::map<QString, std::pair<size_t, size_t>> ofDosimeter;  // [first, last) in `periods`
  for (size_t first = 0; first < periods.size();) {
    size_t last = first;
    std::vector<std::pair<QString, QString>> spans;
    for (; last < periods.size() && periods[last].dosimeter == periods[first].dosimeter; ++last) {
      const LinkedPeriod& p = periods[last];
      if (p.until != p.next) spans.push_back(std::minmax(p.until, p.next));
      if (p.toWas != p.to) {
        const QString after = std::min(endOrOpen(p.toWas), endOrOpen(p.to)),
                      bound = std::max(p.until, p.next);
        if (after < bound) spans.push_back({after, bound});
      }
    }
    ofDosimeter[periods[first].dosimeter] = {first, last};
    // A period inserted before its neighbour takes over the neighbour's
    // range: one read of it, not two.
    std::sort(spans.begin(), spans.end());
    for (const auto& [from, to] : spans)
      if (!ranges.empty() && ranges.back().dosimeter == periods[first].dosimeter && from <= ranges.back().to)
        ranges.back().to = std::max(ranges.back().to, to);
      else
        ranges.push_back({periods[first].dosimeter, from, to});
    first = last;
  }
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  constexpr size_t kRangesPerStatement = 300;  // three values each, under SQLite's oldest limit
  for (size_t start = 0; start < ranges.size(); start += kRangesPerStatement) {
    const size_t n = std::min(kRangesPerStatement, ranges.size() - start);
    QString where;
    for (size_t k = 0; k < n; ++k)
      where += (k ? QStringLiteral(" OR ") : QString()) +
               QStringLiteral("(dosimeter = ? AND readout_time >= ? AND readout_time < ?)");
    q.prepare(QStringLiteral("SELECT dosimeter, readout_time FROM readouts WHERE ") + where);
    for (size_t k = start; k < start + n; ++k) {
      q.addBindValue(ranges[k].dosimeter);
      q.addBindValue(ranges[k].from);
      q.addBindValue(ranges[k].to);
    }
    if (const int rc = c.exec(q)) return rc;
    while (q.next()) {
      const QString time = q.value(1).toString();
      const auto [first, last] = ofDosimeter[q.value(0).toString()];
      const LinkedPeriod *was = nullptr, *now = nullptr;
      for (size_t i = first; i < last; ++i) {
        if (periods[i].from <= time && time < periods[i].until) was = &periods[i];
        if (periods[i].from <= time && time < periods[i].next) now = &periods[i];
      }
      const QString before = was ? doseTimeIn(was->toWas, time) : QString();
      const QString after = now ? doseTimeIn(now->to, time) : QString();
      if (was == now && before == after) continue;
      QStringList times;
      if (was) times << before;
      if (now) times << after;
      for (const LinkedPeriod* p : {was, now}) {
        if (!p) continue;
        DoseSpan& span = (*moved)[{p->dosimeter, p->from}];
        for (const QString& t : times) {
          if (span.from.isEmpty() || t < span.from) span.from = t;
          if (t > span.to) span.to = t;
        }
      }
    }
    q.finish();
  }
  return kOk;
}

}  // namespace

int relinkPeriods(Connection& c, const QStringList& dosimeters, std::map<PeriodKey, DoseSpan>* moved,
                  const std::map<PeriodKey, QString>& endsWere) {
  std::vector<LinkedPeriod> periods;
  QSqlQuery q(c.db());
  q.setForwardOnly(true);
  const auto load = [&](const QString& where, const QStringList& values) {
    q.prepare(QStringLiteral("SELECT id, dosimeter, valid_from, valid_to, readouts_until FROM wear_periods") +
              where + QStringLiteral(" ORDER BY dosimeter, valid_from"));
    for (const QString& v : values) q.addBindValue(v);
    if (const int rc = c.exec(q)) return rc;
    while (q.next())
      periods.push_back({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                         q.value(3).toString(), q.value(4).toString(), QString(), q.value(3).toString()});
    q.finish();
    return int{kOk};
  };
  if (dosimeters.isEmpty()) {
    if (const int rc = load(QString(), {})) return rc;
  } else {
    QStringList unique = dosimeters;
    unique.removeDuplicates();
    for (qsizetype i = 0; i < unique.size(); i += 500) {
      const QStringList part = unique.mid(i, 500);
      QString marks = QStringLiteral("?");
      for (qsizetype k = 1; k < part.size(); ++k) marks += QStringLiteral(", ?");
      if (const int rc = load(QStringLiteral(" WHERE dosimeter IN (") + marks + QLatin1Char(')'), part)) return rc;
    }
    std::stable_sort(periods.begin(), periods.end(), [](const LinkedPeriod& a, const LinkedPeriod& b) {
      return a.dosimeter != b.dosimeter ? a.dosimeter < b.dosimeter : a.from < b.from;
    });
  }
  for (size_t i = 0; i < periods.size(); ++i) {
    const bool last = i + 1 == periods.size() || periods[i + 1].dosimeter != periods[i].dosimeter;
    periods[i].next = last ? kOpenEnd : periods[i + 1].from;
    if (const auto was = endsWere.find({periods[i].dosimeter, periods[i].from}); was != endsWere.end())
      periods[i].toWas = was->second;
  }
  if (moved)
    if (const int rc = movedReadouts(c, periods, moved)) return rc;
  QSqlQuery update(c.db());
  if (const int rc = c.prepare(update, QStringLiteral("UPDATE wear_periods SET readouts_until = ? WHERE id = ?")))
    return rc;
  for (const LinkedPeriod& p : periods) {
    if (p.next == p.until) continue;
    update.bindValue(0, p.next);
    update.bindValue(1, p.id);
    if (const int rc = c.exec(update)) return rc;
  }
  return kOk;
}

}  // namespace quelm::archive_sql
