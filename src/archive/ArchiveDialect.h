#pragma once
// What differs between the archive's two databases, in one table: the Qt
// driver, how the schema spells ids and bytes, how a writing transaction
// starts and what it locks, how the database's errors map onto result
// codes, which of them are worth running the transaction again, the
// integrity check, what keeps the planner's statistics current, and how
// text is ordered.
// Everything else in the archive is one SQL text for both.

#include <QSqlError>
#include <QString>

#include "archive/ArchiveLocation.h"

namespace quelm {

struct ArchiveDialect {
  const char* name;  // "SQLite", "PostgreSQL"
  const char* driver;
  const char* debianPackage;
  // Schema spellings: {ID} an integer key the database counts up, {BLOB} bytes.
  const char* idType;
  const char* blobType;
  // Writers queue up at the start: a transaction that only later finds the
  // database locked could not wait for it.
  const char* beginWrite;
  // Taken inside a transaction that checks wear periods before changing
  // them, so that two programs never both find a period free; empty: the
  // transaction's start already excludes other writers.
  const char* lockPeriods;
  // Taken before the schema is created or upgraded; empty: as above.
  const char* lockSchema;
  // Taken before the change log's last row is read for the next one to
  // chain on: two writers must not chain on the same row.
  const char* lockLog;
  // Ends a SELECT of rows the transaction changes after judging them, so
  // that a second writer waits and then reads them as changed; empty: as
  // for lockPeriods.
  const char* forUpdate;
  // Ends each writing transaction's SELECT of the schema version, so that
  // an upgrade by another program waits until the writers that found the
  // version current are through; empty: as for lockPeriods.
  const char* shareSchema;
  // The database's own check of its pages; empty: none to ask.
  const char* integrityCheck;
  // After an import that added many rows.
  const char* refreshStatistics;
  // Rows one INSERT takes: many on a server, where each statement is a
  // round trip; few on SQLite, whose driver looks up each bound value of
  // a statement by walking all of them.
  int rowsPerStatement;
  // The result code of what the database reported.
  int (*code)(const QSqlError& error);
  // Whether a transaction that failed so may simply be run again.
  bool (*retryable)(const QSqlError& error);
  // Read-outs stored in bulk: through COPY on a server, else through
  // INSERT statements (archive_sql::storeReadouts).
  bool copyIn;
  // Spelt after a text column a query orders by: SQLite compares the stored
  // bytes, a server its locale's collation, and a list or a signed document
  // must come out alike from both and from any server. Times need none: one
  // pattern of digits that every collation orders as bytes, and their
  // indexes stay of use.
  const char* byteOrder;
};

const ArchiveDialect& DialectOf(ArchiveLocation::Kind kind);

// {ID} and {BLOB} of a schema text in the dialect's spelling.
QString SpellSchema(const ArchiveDialect& dialect, const char* sql);

// A text column as an ORDER BY term: in the order of its bytes.
QString InByteOrder(const ArchiveDialect& dialect, const char* column);

// The database's own words for a failure, on one line.
QString DatabaseWords(const QSqlError& error);

}  // namespace quelm
