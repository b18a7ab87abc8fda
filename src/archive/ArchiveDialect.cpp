#include "archive/ArchiveDialect.h"

#include "base/ErrorCodes.h"

namespace quelm {

namespace {

int sqliteCode(const QSqlError& e) {
  const QString text = DatabaseWords(e);
  switch (e.nativeErrorCode().toInt() & 0xFF) {
    case 5:  // SQLITE_BUSY
    case 6:  // SQLITE_LOCKED
      return kErrArchiveBusy;
    case 8:  // SQLITE_READONLY
      return kErrArchiveReadOnly;
    case 10:  // SQLITE_IOERR
      return kErrArchiveIo;
    case 11:  // SQLITE_CORRUPT
    case 26:  // SQLITE_NOTADB
      return kErrArchiveNotDatabase;
    case 13:  // SQLITE_FULL
      return kErrArchiveDiskFull;
    case 14:  // SQLITE_CANTOPEN
      return kErrArchiveOpen;
    case 19:  // SQLITE_CONSTRAINT
      return kErrArchiveQuery;
  }
  if (text.contains(QStringLiteral("database is locked"))) return kErrArchiveBusy;
  if (text.contains(QStringLiteral("disk is full"))) return kErrArchiveDiskFull;
  return e.type() == QSqlError::ConnectionError ? kErrArchiveOpen : kErrArchiveQuery;
}

bool sqliteRetryable(const QSqlError&) {
  // A writer waits for the lock at the start of its transaction (busy
  // time-out); nothing fails later that another try would mend.
  return false;
}

int postgresCode(const QSqlError& e) {
  const QString text = DatabaseWords(e);
  const QString state = e.nativeErrorCode();
  if (state == QLatin1String("25006") || state == QLatin1String("42501")) return kErrArchiveReadOnly;
  if (state == QLatin1String("40001") || state == QLatin1String("40P01") || state == QLatin1String("55P03"))
    return kErrArchiveBusy;
  if (state == QLatin1String("53100")) return kErrArchiveDiskFull;
  if (state.startsWith(QLatin1String("28")) || text.contains(QStringLiteral("authentication failed")) ||
      text.contains(QStringLiteral("no password supplied")) || text.contains(QStringLiteral("pg_hba.conf")))
    return kErrArchiveLogin;
  if (state == QLatin1String("3D000") || text.contains(QStringLiteral("does not exist"))) return kErrArchiveOpen;
  if (e.type() == QSqlError::ConnectionError || state.startsWith(QLatin1String("08")) ||
      text.contains(QStringLiteral("server closed")) || text.contains(QStringLiteral("could not connect")) ||
      text.contains(QStringLiteral("Connection refused")))
    return kErrArchiveServer;
  return kErrArchiveQuery;
}

bool postgresRetryable(const QSqlError& e) {
  const QString state = e.nativeErrorCode();
  return state == QLatin1String("40001") || state == QLatin1String("40P01");
}

const ArchiveDialect kSQLite{
    "SQLite",
    "QSQLITE",
    "libqt6sql6-sqlite",
    "INTEGER PRIMARY KEY",
    "BLOB",
    "BEGIN IMMEDIATE",
    "",
    "",
    "",
    "",
    "",
    "PRAGMA integrity_check",
    "ANALYZE",
    16,
    sqliteCode,
    sqliteRetryable,
    false,
    "",
};

const ArchiveDialect kPostgreSQL{
    "PostgreSQL",
    "QPSQL",
    "libqt6sql6-psql",
    "BIGSERIAL PRIMARY KEY",
    "BYTEA",
    "BEGIN",
    "LOCK TABLE wear_periods IN SHARE ROW EXCLUSIVE MODE",
    // Two programs opening a new archive at once: one creates, the other
    // finds it made.
    "SELECT pg_advisory_xact_lock(4711190)",
    "LOCK TABLE change_log IN EXCLUSIVE MODE",
    " FOR UPDATE",
    " FOR SHARE",
    "",
    "ANALYZE readouts",
    200,
    postgresCode,
    postgresRetryable,
    true,
    " COLLATE \"C\"",
};

}  // namespace

const ArchiveDialect& DialectOf(ArchiveLocation::Kind kind) {
  return kind == ArchiveLocation::PostgreSQL ? kPostgreSQL : kSQLite;
}

QString SpellSchema(const ArchiveDialect& d, const char* sql) {
  QString s = QString::fromLatin1(sql);
  s.replace(QStringLiteral("{ID}"), QLatin1String(d.idType));
  s.replace(QStringLiteral("{BLOB}"), QLatin1String(d.blobType));
  return s;
}

QString InByteOrder(const ArchiveDialect& d, const char* column) {
  return QLatin1String(column) + QLatin1String(d.byteOrder);
}

QString DatabaseWords(const QSqlError& e) {
  // One line: the server's messages come in lines (a reason, then a hint),
  // each of which stays a sentence of its own.
  QString text = e.databaseText();
  if (text.trimmed().isEmpty()) text = e.driverText();
  QStringList parts;
  for (const QString& line : text.split(QLatin1Char('\n')))
    if (const QString part = line.simplified(); !part.isEmpty()) parts << part;
  return parts.join(QStringLiteral("; "));
}

}  // namespace quelm
