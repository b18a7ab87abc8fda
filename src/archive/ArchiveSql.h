#pragma once
// Inside the dose archive: the connection with its dialect, transactions
// that are run again when the database says so, and the few writes that
// both the archive and its schema migrations make. Not for use outside
// src/archive.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveDialect.h"

namespace quelm::archive_sql {

// The open end of a wear period as a bound that sorts after every time:
// bound as a value, never written into a statement.
inline const QString kOpenEnd = QStringLiteral("9999-12-31 23:59");

class Connection {
 public:
  QString name;
  const ArchiveDialect* dialect = nullptr;
  ArchiveOptions options;
  QString* detail = nullptr;
  // Who writes: the operating-system user and host, and the database role
  // on a server. Every change-log row names them.
  QString osUser, host, role;

  QSqlDatabase db() const { return QSqlDatabase::database(name, false); }
  bool postgres() const;

  // The result code for what the database reported; its words go to the detail.
  int fail(const QSqlError& e);
  int exec(QSqlQuery& q) { return q.exec() ? 0 : fail(q.lastError()); }
  int exec(const QString& sql);
  int prepare(QSqlQuery& q, const QString& sql) { return q.prepare(sql) ? 0 : fail(q.lastError()); }
  // kErrArchiveReadOnly when opened for reading.
  int writable();
  // A statement prepared once for the connection's life, with these values
  // bound by position: a server plans it once, and each use after the
  // first is one round trip. Exec it with exec().
  QSqlQuery& statement(const QString& sql, const QVariantList& values);
  // Before the connection closes.
  void forgetStatements() { statements_.clear(); }

  // Reads a table in pages by id, so that a million rows never sit in
  // memory at once: `select` names the id as its first column and ends in
  // "<id> > ? ORDER BY <id>"; `binds` are bound to its placeholders before
  // that one. Pages of up to pageRows rows follow each other until one is
  // not full. row(q) takes each row; pageDone(), when set, runs after each
  // page with its query finished, so that it may write. The first code a
  // callback returns ends the reading.
  int readInPages(const QString& select, int pageRows, const std::function<int(const QSqlQuery&)>& row,
                  const std::function<int()>& pageDone = nullptr, const QVariantList& binds = {});

  // Runs body in a writing transaction: committed when it returns 0,
  // rolled back otherwise. A deadlock or serialization failure runs it
  // again a few times after a growing pause; body must start from scratch.
  // The transaction first reads the schema version and refuses
  // (kErrArchiveNewerSchema) when another program upgraded the archive
  // since it was opened: this program's statements would write the new
  // schema wrongly.
  int write(const std::function<int()>& body) { return transaction(body, true); }
  // As write, for the upgrade that changes the schema version.
  int upgrade(const std::function<int()>& body) { return transaction(body, false); }

 private:
  int begin();
  int transaction(const std::function<int()>& body, bool schemaChecked);
  std::map<QString, std::unique_ptr<QSqlQuery>> statements_;
  // Whether the last failure is one that running the transaction again
  // may mend (a deadlock), not a lock waited for in vain.
  bool retryable_ = false;
};

QVariant nullableDouble(const std::optional<double>& v);
QVariant nullableText(const QString& v);
std::optional<double> optionalDouble(const QVariant& v);
// Whether a stored number is the one computed (both none, or equal up to
// what the database's round trip may change).
inline bool sameNumber(const std::optional<double>& a, const std::optional<double>& b) {
  if (!a || !b) return !a && !b;
  return *a == *b || std::fabs(*a - *b) <= 1e-12 * std::max(std::fabs(*a), std::fabs(*b));
}

// Keys persons are found by: the id without regard to case, the name
// without regard to case or repeated blanks.
QString personKey(const QString& id);
QString nameKey(const QString& name);
// How the change log names a wear period of the dosimeter: this, then the
// period's start as stored ("period A0017 from 2026-01-01 ...").
QString periodEntityPrefix(const QString& dosimeter);
// How it names a read-out a resolution changed: this, then the dosimeter
// and the read-out time ("read-out 43 (A0016, 2026-01-31T09:00:00Z)").
QString readoutEntityPrefix(qint64 id);
// The whole name: readoutEntityPrefix, the dosimeter and the read-out time
// as stored (empty: "no time").
QString readoutEntity(qint64 id, const QString& dosimeter, const QString& readoutTime);
// The next generated id ("P0001", "P0002", ...) that no person has.
int nextPersonId(Connection& c, QString* id);
int insertPerson(Connection& c, const Person& person, qlonglong* row = nullptr);

// Adds the read-outs whose key is not archived yet, in batches; *inserted
// gets the keys that were added. The fields come from DecodeReadout.
struct NewReadout {
  const QByteArray* bytes;
  const ReadoutFields* fields;
};
int insertReadouts(Connection& c, const std::vector<NewReadout>& rows, const QString& source,
                   const QString& archivedAt, std::set<QByteArray>* inserted, std::vector<qlonglong>* ids = nullptr);

// Inserts `rows` rows by statements of up to the dialect's rowsPerStatement
// rows each: `head` up to VALUES, a group of `columns` placeholders a row,
// then `tail`; a statement is prepared again only for another row count.
// `bind(row, &position)` binds the row's values on q from position on;
// `done()`, when set, reads what each statement returned.
int insertBatches(Connection& c, QSqlQuery& q, size_t rows, const QString& head, int columns, const QString& tail,
                  const std::function<void(size_t row, int* position)>& bind,
                  const std::function<void()>& done = nullptr);

// What became of each read-out of an import, beside it.
enum class Stored { Added, Duplicate, Conflict };
// Stores the read-outs whose key is not archived yet and tells for each
// whether it was added, was there byte for byte, or is a conflict (its key
// archived with other bytes). On a server the rows go in by COPY into a
// staging table and from there in one statement; ids of the added ones
// go to *added.
int storeReadouts(Connection& c, const std::vector<NewReadout>& rows, const QString& source, const QString& archivedAt,
                  std::vector<Stored>* outcome, std::vector<qlonglong>* added);
// Whether a server's imports go by COPY: libpq, which Qt's server driver
// loads, has the calls it needs. Otherwise they go by statements.
bool ServerCopyAvailable();

// One change to the record, for the change log. touchFrom..touchTo: the
// dose times it can change (stored form), which tells whether it touches a
// signed period; empty: none.
struct LogRow {
  QString what, entity, oldValue, newValue, reason;
  QString personKey;  // whose record it changes, when one person's
  QString touchFrom, touchTo;
};
// Appends the rows to the change log in the caller's transaction, each
// chained on the one before by SHA-256; a row touching a signed period
// says so in its `what`. `at`: when they happened (stored form), when not
// now: an import's rows carry the time its read-outs were archived at,
// which ties the rows to them.
int appendLog(Connection& c, const std::vector<LogRow>& rows, const QString& at = QString());
// The hash of a log row's content, chained on the row before.
QString logHash(const QString& previousHash, const QStringList& content);
// A signed document's SHA-256, as stored beside it (lower-case hex).
QString sha256Hex(const QByteArray& bytes);

// The dose times (stored form) of the read-outs that changed hands or
// dose time, both where they counted before and where they count now.
struct DoseSpan {
  QString from, to;
};
// A wear period by its dosimeter and start (stored form).
using PeriodKey = std::pair<QString, QString>;
// Sets each wear period's attribution bound (readouts_until: the start of
// its dosimeter's next period, or the open end) for the dosimeters named,
// or for every dosimeter when the list is empty. With `moved`: for each
// period that holds or held a read-out that changed hands, or whose dose
// time changed with its period's end, that read-out's dose times. A period
// just inserted attributes nothing before this: its bound is its own
// start. `endsWere`: the periods whose end was just set, with their end
// before (stored form, empty: open).
int relinkPeriods(Connection& c, const QStringList& dosimeters,
                  std::map<PeriodKey, DoseSpan>* moved = nullptr,
                  const std::map<PeriodKey, QString>& endsWere = {});

// --- Schema (ArchiveSchema.cpp)
inline constexpr int kSchemaVersion = 7;
int readSchemaVersion(Connection& c, int* version);
// kOk when the stored schema version is this program's, else
// kErrArchiveNewerSchema; inside a writing transaction, which it keeps an
// upgrade from changing the version under.
int schemaIsCurrent(Connection& c);
// Creates the schema in an empty database or upgrades an older one; *note
// says what an upgrade did ("upgraded from schema version 2 to 3 (...)").
// An archive opened for reading is never changed: kErrArchiveOlderSchema.
int migrate(Connection& c, QString* note);

}  // namespace quelm::archive_sql
