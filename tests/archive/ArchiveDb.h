#pragma once
// A fresh, empty archive for one test, on SQLite (a file in a temporary
// folder) or on the PostgreSQL server named by QUELM_TEST_POSTGRES_URL (a
// database of its own, dropped afterwards: tests run in parallel). Without
// that variable the PostgreSQL cases are skipped, unless
// QUELM_TEST_REQUIRE_POSTGRES is set (scripts/test.sh), where they fail.
// Given a locale, the server's database orders text by it (the test
// server's cluster has none); a server without that locale leaves the
// archive unavailable with `missingLocale` set.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <atomic>
#include <cstring>
#include <memory>

#include "archive/Archive.h"
#include "base/ErrorCodes.h"
#include "sample-data/SampleData.h"

namespace quelm::test {

enum class Backend { SQLite, PostgreSQL };
inline const char* backendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

// The server's maintenance address, or empty.
inline QString postgresUrl() { return qEnvironmentVariable("QUELM_TEST_POSTGRES_URL"); }

class ArchiveDb {
 public:
  explicit ArchiveDb(Backend backend, const char* locale = nullptr) : backend_(backend) {
    if (backend == Backend::SQLite) {
      url = dir_.filePath(QStringLiteral("archive.sqlite"));
      return;
    }
    const QString server = postgresUrl();
    if (server.isEmpty()) return;
    static std::atomic<int> counter{0};
    name_ = QStringLiteral("quelm_test_%1_%2").arg(::getpid()).arg(counter++);
    if (!locale) {
      if (!admin(QStringLiteral("CREATE DATABASE %1").arg(name_))) return;
    } else if (!admin(QStringLiteral("CREATE DATABASE %1 LC_COLLATE '%2' LC_CTYPE '%2' TEMPLATE template0")
                          .arg(name_, QLatin1String(locale)),
                      false)) {
      missingLocale = true;
      return;
    }
    url = server.left(server.lastIndexOf(QLatin1Char('/')) + 1) + name_;
  }
  ~ArchiveDb() {
    if (!name_.isEmpty()) admin(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name_));
  }
  ArchiveDb(const ArchiveDb&) = delete;
  ArchiveDb& operator=(const ArchiveDb&) = delete;

  // Call first in a test: skips (or fails) when there is no server.
  bool available() const {
    if (!url.isEmpty()) return true;
    if (backend_ == Backend::PostgreSQL && qEnvironmentVariableIsEmpty("QUELM_TEST_REQUIRE_POSTGRES"))
      return false;
    ADD_FAILURE() << "no PostgreSQL server for the archive tests (QUELM_TEST_POSTGRES_URL)";
    return false;
  }

  std::unique_ptr<DoseArchive> open(const ArchiveOptions& options = {}, int* code = nullptr) const {
    ArchiveLocation location;
    QString error;
    EXPECT_EQ(ParseArchiveLocation(url, &location, &error), 0) << error.toStdString();
    int rc = 0;
    QString detail;
    auto archive = DoseArchive::open(location, options, &rc, &detail);
    if (code)
      *code = rc;
    else
      EXPECT_TRUE(archive) << rc << " " << detail.toStdString();
    return archive;
  }

  // Runs SQL on the archive's database behind the program's back (as the
  // server's superuser); a statement that fails is a test failure unless
  // it is meant to fail.
  bool raw(const QString& sql, bool meantToWork = true) const {
    ArchiveLocation l;
    QString error;
    ParseArchiveLocation(url, &l, &error);
    return exec(l, sql, meantToWork);
  }

  // `count` read-outs of `dosimeter` at `time` (stored form), keys `first`
  // on, put in behind the program's back, each with a record of one byte:
  // a fetch that reads one of them fails, so that a test sees whether rows
  // were read, quickly and for many.
  bool rawReadouts(const char* dosimeter, const char* time, int first, int count) const {
    const QString values = QStringLiteral(", 'Q0412', i, '%1', '%2', 0, 'raw', '2026-01-01 00:00'")
                               .arg(QLatin1String(time), QLatin1String(dosimeter));
    const QString head = QStringLiteral(
        "INSERT INTO readouts (readout_key, record, device_id, block_number, readout_time, dosimeter,"
        " error_codes, source, archived_at) ");
    return raw(
        backend_ == Backend::SQLite
            ? QStringLiteral("WITH RECURSIVE n(i) AS (SELECT %1 UNION ALL SELECT i + 1 FROM n WHERE i < %2) ")
                      .arg(first)
                      .arg(first + count - 1) +
                  head + QStringLiteral("SELECT CAST('raw' || i AS BLOB), X'00'") + values +
                  QStringLiteral(" FROM n")
            : head + QStringLiteral("SELECT convert_to('raw' || i, 'UTF8'), decode('00', 'hex')") + values +
                  QStringLiteral(" FROM generate_series(%1, %2) AS i").arg(first).arg(first + count - 1));
  }

  QString url;
  bool missingLocale = false;

 private:
  static bool exec(const ArchiveLocation& l, const QString& sql, bool meantToWork = true) {
    const QString connection = QStringLiteral("quelm-test-raw");
    bool ok = false;
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(
          l.kind == ArchiveLocation::PostgreSQL ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"),
          connection);
      if (l.kind == ArchiveLocation::PostgreSQL) {
        db.setHostName(l.host);
        db.setPort(l.port);
        db.setUserName(l.user);
        db.setPassword(l.password);
        db.setDatabaseName(l.database);
      } else {
        db.setDatabaseName(l.path);
      }
      if (db.open()) {
        QSqlQuery q(db);
        ok = q.exec(sql);
        if (meantToWork) {
          EXPECT_TRUE(ok) << sql.toStdString() << ": " << q.lastError().text().toStdString();
        }
      } else {
        ADD_FAILURE() << db.lastError().text().toStdString();
      }
      db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
  }
  bool admin(const QString& sql, bool meantToWork = true) const {
    ArchiveLocation l;
    QString error;
    ParseArchiveLocation(postgresUrl(), &l, &error);
    return exec(l, sql, meantToWork);
  }

  Backend backend_;
  QTemporaryDir dir_;
  QString name_;
};

// The tables a program of the second schema made, empty, for raw().
inline QStringList SecondSchema(Backend backend) {
  const bool pg = backend == Backend::PostgreSQL;
  const QString id = pg ? QStringLiteral("BIGSERIAL PRIMARY KEY") : QStringLiteral("INTEGER PRIMARY KEY");
  const QString blob = pg ? QStringLiteral("BYTEA") : QStringLiteral("BLOB");
  return {
      QStringLiteral("CREATE TABLE quelm_schema (version INTEGER NOT NULL)"),
      QStringLiteral("INSERT INTO quelm_schema VALUES (2)"),
      QStringLiteral(
          "CREATE TABLE readouts (id %1, readout_key %2 NOT NULL UNIQUE, record %2 NOT NULL, device_id TEXT "
          "NOT NULL, block_number INTEGER NOT NULL, readout_time TEXT, dosimeter TEXT NOT NULL, error_codes "
          "INTEGER NOT NULL, measured_dose_usv DOUBLE PRECISION, dose_rate_usv_h DOUBLE PRECISION, "
          "exposure_h DOUBLE PRECISION, dose_usv DOUBLE PRECISION, source TEXT NOT NULL, archived_at TEXT "
          "NOT NULL)")
          .arg(id, blob),
      QStringLiteral("CREATE INDEX readouts_time ON readouts (readout_time)"),
      QStringLiteral("CREATE INDEX readouts_dose ON readouts (dose_usv)"),
      QStringLiteral(
          "CREATE INDEX readouts_listing ON readouts (dosimeter, readout_time, device_id, block_number, "
          "dose_usv, dose_rate_usv_h, exposure_h, error_codes, source, archived_at, id)"),
      QStringLiteral(
          "CREATE TABLE conflicts (id %1, readout_key %2 NOT NULL, record %2 NOT NULL, source TEXT NOT NULL, "
          "archived_at TEXT NOT NULL, UNIQUE (readout_key, record))")
          .arg(id, blob),
      QStringLiteral("CREATE TABLE persons (id %1, name TEXT NOT NULL UNIQUE)").arg(id),
      QStringLiteral(
          "CREATE TABLE wear_periods (id %1, dosimeter TEXT NOT NULL, person_id BIGINT NOT NULL REFERENCES "
          "persons (id), valid_from TEXT NOT NULL, valid_to TEXT)")
          .arg(id),
  };
}

// An archive time as the tests write it ("2026-03-31"; upper: the day's last minute).
inline QDateTime at(const char* text, bool upper = false) { return *ParseArchiveTime(QLatin1String(text), upper); }

// A sample read-out with the fields a test cares about.
inline BlockRecord Readout(const char* dosimeter, const char* time, int block, const char* device = "Q0412") {
  static const std::vector<BlockRecord> samples = MakeSampleBlocks({64, 7, 0});
  BlockRecord r = samples[static_cast<size_t>(block) % samples.size()];
  r.BlockNumber = static_cast<uint16_t>(block);
  std::memcpy(r.BulbID, dosimeter, 5);
  std::memcpy(r.DeviceID, device, 5);
  r.ErrorCodes = 0;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  std::sscanf(time, "%d-%d-%d %d:%d", &y, &mo, &d, &h, &mi);
  const uint8_t stamp[5] = {static_cast<uint8_t>(y - 1900), static_cast<uint8_t>(mo), static_cast<uint8_t>(d),
                            static_cast<uint8_t>(h), static_cast<uint8_t>(mi)};
  std::memcpy(r.DateTime, stamp, 5);
  return r;
}

// Two more items for the review list: A0017's read-out with error flags at
// `flaggedTime` and one of C0009, a dosimeter nobody wears, on 10 August
// 2024 (blocks `firstBlock` and the next, of a reader of their own, so that
// no other reader's blocks judge its clock).
inline void ImportReviewItems(const ArchiveDb& db, const char* flaggedTime, int firstBlock) {
  auto archive = db.open();
  BlockRecord flagged = Readout("A0017", flaggedTime, firstBlock + 1, "Q0414");
  flagged.ErrorCodes = 1;
  ImportResult r;
  ASSERT_EQ(archive->importRecords(
                std::vector<BlockRecord>{Readout("C0009", "2024-08-10 08:00", firstBlock, "Q0414"), flagged},
                QStringLiteral("COM2"), &r),
            kOk);
}

}  // namespace quelm::test
