// The dose archive's speed goals, printed as ratios:
//  - archiving a full reader image (2048 blocks) into a new SQLite file
//    takes no longer than downloading it from a file into a new data file
//    with its two lists (goal <= 1.0), and importing it again, all
//    duplicates, half of that (goal <= 0.5);
//  - with 1,000,000 read-outs archived (10,000 dosimeters, 100 each), one
//    person's year totals and one dosimeter's history are answered at least
//    100 times faster than summing that dosimeter's doses by a scan of the
//    whole table (goal >= 100); imports in batches take at least 5 times
//    the read-outs per second of one statement each (goal >= 5); a wearer
//    list of 10,000 periods is imported in seconds; on SQLite, and on
//    PostgreSQL when QUELM_TEST_POSTGRES_URL names a server:
//      bash scripts/with-postgres.sh build/bench/quelm_bench --benchmark_filter=Archive
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

#include "archive/Archive.h"
#include "measurement/Download.h"
#include "sample-data/SampleData.h"

namespace {

using quelm::ArchiveLocation;
using quelm::DoseArchive;

double seconds(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e9; }

std::unique_ptr<DoseArchive> openArchive(const QString& address) {
  ArchiveLocation location;
  QString detail;
  int code = 0;
  if (quelm::ParseArchiveLocation(address, &location, &detail)) return nullptr;
  auto archive = DoseArchive::open(location, {}, &code, &detail);
  if (!archive) std::fprintf(stderr, "archive %s: %d %s\n", qPrintable(address), code, qPrintable(detail));
  return archive;
}

void BM_ArchiveFullReaderImage(benchmark::State& state) {
  for (auto _ : state) {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("full.dat"));
    if (WriteSampleDataFile(source, {2048, 2006, 1234}) != 0) {
      state.SkipWithError("no sample file");
      return;
    }
    // What `quelm-cli download --from-file` does.
    QElapsedTimer t;
    t.start();
    quelm::DownloadJob job;
    job.SetStorageName(dir.filePath(QStringLiteral("copy")));
    job.ChooseFile();
    job.SkimSource(source);
    const quelm::DownloadResult r = job.Start();
    const double download = seconds(t);
    if (r.kind != quelm::DownloadResult::kCompleted || r.blocks != 2048) {
      state.SkipWithError("download failed");
      return;
    }
    auto archive = openArchive(dir.filePath(QStringLiteral("a.sqlite")));
    quelm::ImportResult first, again;
    t.restart();
    const int rc1 = archive ? archive->importFile(source, &first) : -1;
    const double import = seconds(t);
    t.restart();
    const int rc2 = archive ? archive->importFile(source, &again) : -1;
    const double duplicates = seconds(t);
    if (rc1 || rc2 || first.added != 2048 || again.duplicates != 2048) {
      state.SkipWithError("import failed");
      return;
    }
    state.SetIterationTime(import);
    state.counters["ratio_new"] = import / download;
    state.counters["ratio_again"] = duplicates / download;
    std::printf(
        "archive 2048 blocks: download %.3f s, import %.3f s ratio %.2f (goal 1.0), "
        "again %.3f s ratio %.2f (goal 0.5)\n",
        download, import, import / download, duplicates, duplicates / download);
  }
}
BENCHMARK(BM_ArchiveFullReaderImage)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

constexpr int kDosimeters = 10000;
constexpr int kPerDosimeter = 100;

struct Fill {
  double importS = 0;     // 1,000,000 read-outs in ten imports
  double wearersS = 0;    // a wearer list of 10,000 periods
  double duplicatesS = 0;  // 100,000 read-outs imported again
};

// 1,000,000 read-outs in ten imports of 100,000: every dosimeter read
// twice a week, from 2020 on; then the wearer list that gives each
// dosimeter to a person, and one import of 100,000 again.
bool fillMillion(DoseArchive& archive, Fill* fill) {
  const std::vector<BlockRecord> templates = MakeSampleBlocks({2048, 77, 0});
  const QDateTime start(QDate(2020, 1, 1), QTime(6, 0), Qt::UTC);
  constexpr int kChunk = 100000;
  std::vector<BlockRecord> chunk;
  chunk.reserve(kChunk);
  QElapsedTimer t;
  for (int i = 0; i < kDosimeters * kPerDosimeter; ++i) {
    BlockRecord r = templates[static_cast<size_t>(i) % templates.size()];
    const int dosimeter = i % kDosimeters, k = i / kDosimeters;
    char id[6];
    std::snprintf(id, sizeof id, "A%04d", dosimeter);
    std::memcpy(r.BulbID, id, 5);
    r.BlockNumber = static_cast<uint16_t>(i % 2048);
    const QDateTime at = start.addSecs(qint64(k) * 84 * 3600 + dosimeter * 6);
    const uint8_t stamp[5] = {static_cast<uint8_t>(at.date().year() - 1900), static_cast<uint8_t>(at.date().month()),
                              static_cast<uint8_t>(at.date().day()), static_cast<uint8_t>(at.time().hour()),
                              static_cast<uint8_t>(at.time().minute())};
    std::memcpy(r.DateTime, stamp, 5);
    r.ErrorCodes = 0;
    chunk.push_back(r);
    if (static_cast<int>(chunk.size()) == kChunk) {
      quelm::ImportResult result;
      t.start();
      if (archive.importRecords(chunk, QStringLiteral("bench"), &result) != 0 || result.added != kChunk) return false;
      fill->importS += seconds(t);
      if (i + 1 < kDosimeters * kPerDosimeter) chunk.clear();
    }
  }
  quelm::ImportResult again;
  t.start();
  if (archive.importRecords(chunk, QStringLiteral("bench"), &again) != 0 || again.duplicates != kChunk) return false;
  fill->duplicatesS = seconds(t);
  std::vector<quelm::WearerListRow> rows;
  for (int d = 0; d < kDosimeters; ++d) {
    quelm::WearerListRow row;
    row.line = d + 2;
    row.person = {QStringLiteral("S-%1").arg(d, 5, 10, QLatin1Char('0')), QStringLiteral("Person %1").arg(d)};
    row.period = {QStringLiteral("A%1").arg(d, 4, 10, QLatin1Char('0')), row.person,
                  QDateTime(QDate(2019, 1, 1), QTime(0, 0), Qt::UTC), std::nullopt};
    rows.push_back(row);
  }
  quelm::WearerListResult listed;
  t.start();
  if (archive.importWearerList(rows, &listed) != 0 || listed.periods != kDosimeters) return false;
  fill->wearersS = seconds(t);
  return true;
}

// Runs `work` on a connection of its own to the archive's database.
template <typename Work>
void onOwnConnection(const ArchiveLocation& l, Work work) {
  const QString name = QStringLiteral("bench-own");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(l.kind == ArchiveLocation::PostgreSQL ? "QPSQL" : "QSQLITE", name);
    db.setDatabaseName(l.kind == ArchiveLocation::PostgreSQL ? l.database : l.path);
    db.setHostName(l.host);
    db.setPort(l.port);
    db.setUserName(l.user);
    db.setPassword(l.password);
    if (db.open()) work(db);
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
}

// Sums one dosimeter's doses by reading every row: what the indexes save.
double scanSeconds(const ArchiveLocation& l) {
  double s = -1;
  onOwnConnection(l, [&](QSqlDatabase& db) {
    // The table itself, row by row: no index may stand in for it (a
    // covering index read whole would be a scan of another thing).
    QSqlQuery q(db);
    const bool postgres = l.kind == ArchiveLocation::PostgreSQL;
    if (postgres)
      for (const char* off : {"enable_indexscan", "enable_indexonlyscan", "enable_bitmapscan"})
        q.exec(QStringLiteral("SET %1 = off").arg(QLatin1String(off)));
    QElapsedTimer t;
    t.start();
    if (q.exec(postgres ? QStringLiteral("SELECT SUM(counted_usv) FROM readouts WHERE dosimeter = 'A0042'")
                        : QStringLiteral("SELECT SUM(counted_usv) FROM readouts NOT INDEXED WHERE dosimeter = 'A0042'")) &&
        q.next())
      s = seconds(t);
  });
  return s;
}

// Read-outs per second one statement and one round trip each, as imports
// were before they went in batches: into the same table with the same
// indexes, in a transaction that is rolled back.
double singleRowRate(const ArchiveLocation& l) {
  double rate = -1;
  onOwnConnection(l, [&](QSqlDatabase& db) {
    QSqlQuery q(db);
    const std::vector<BlockRecord> records = MakeSampleBlocks({2048, 78, 0});
    q.exec(QStringLiteral("BEGIN"));
    q.prepare(QStringLiteral("INSERT INTO readouts (readout_key, record, device_id, block_number, readout_time,"
                             " dosimeter, error_codes, measured_dose_usv, dose_usv, recomputed_usv, counted_usv,"
                             " dose_rate_usv_h, exposure_h, source, archived_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?,"
                             " ?, ?, ?, ?, ?) ON CONFLICT (readout_key) DO NOTHING"));
    constexpr int kRows = 20000;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kRows; ++i) {
      const BlockRecord& r = records[static_cast<size_t>(i) % records.size()];
      const quelm::ReadoutFields f = quelm::DecodeReadout(r);
      int p = 0;
      q.bindValue(p++, QByteArray("bench") + f.key + QByteArray::number(i));
      q.bindValue(p++, QByteArray(reinterpret_cast<const char*>(&r), sizeof r));
      q.bindValue(p++, f.deviceId);
      q.bindValue(p++, f.blockNumber);
      q.bindValue(p++, f.readoutTime);
      q.bindValue(p++, f.dosimeter);
      q.bindValue(p++, f.errorCodes);
      for (int k = 0; k < 4; ++k) q.bindValue(p++, f.measuredDose.value_or(0));
      q.bindValue(p++, f.doseRate.value_or(0));
      q.bindValue(p++, f.exposureH.value_or(0));
      q.bindValue(p++, QStringLiteral("bench"));
      q.bindValue(p++, QStringLiteral("2026-01-01T00:00:00Z"));
      if (!q.exec()) return;
    }
    rate = kRows / seconds(t);
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
  });
  return rate;
}

void millionReadouts(benchmark::State& state, bool postgres) {
  for (auto _ : state) {
    QTemporaryDir dir;
    QString address = dir.filePath(QStringLiteral("million.sqlite"));
    QString server = qEnvironmentVariable("QUELM_TEST_POSTGRES_URL");
    if (postgres) {
      if (server.isEmpty()) {
        state.SkipWithError("no server: run under scripts/with-postgres.sh");
        return;
      }
      // A database of its own, made anew.
      ArchiveLocation admin;
      QString error;
      quelm::ParseArchiveLocation(server, &admin, &error);
      {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "bench-admin");
        db.setHostName(admin.host);
        db.setPort(admin.port);
        db.setUserName(admin.user);
        db.setPassword(admin.password);
        db.setDatabaseName(admin.database);
        if (db.open()) {
          QSqlQuery(db).exec("DROP DATABASE IF EXISTS quelm_bench WITH (FORCE)");
          QSqlQuery(db).exec("CREATE DATABASE quelm_bench");
        }
        db.close();
      }
      QSqlDatabase::removeDatabase("bench-admin");
      address = server.left(server.lastIndexOf(QLatin1Char('/')) + 1) + QStringLiteral("quelm_bench");
    }
    auto archive = openArchive(address);
    Fill fill;
    if (!archive || !fillMillion(*archive, &fill)) {
      state.SkipWithError("filling failed");
      return;
    }
    // What a server does by itself soon after so many rows came in (its
    // autovacuum): without it an index cannot answer alone.
    if (postgres) onOwnConnection(archive->location(), [](QSqlDatabase& db) { QSqlQuery(db).exec("VACUUM ANALYZE"); });
    const QDateTime yearEnd(QDate(2021, 12, 31), QTime(23, 59), Qt::UTC);
    std::vector<quelm::PersonTotals> totals;
    std::vector<quelm::ReadoutRow> rows;
    quelm::HistoryQuery query;
    query.dosimeter = QStringLiteral("A0042");
    // Each answer timed as the best of a few, like the scan.
    double totalsS = 1e9, historyS = 1e9, scanS = 1e9;
    QElapsedTimer t;
    for (int i = 0; i < 3; ++i) {
      t.restart();
      archive->totals(QStringLiteral("S-00042"), yearEnd, &totals);
      totalsS = std::min(totalsS, seconds(t));
      t.restart();
      archive->history(query, &rows);
      historyS = std::min(historyS, seconds(t));
      scanS = std::min(scanS, scanSeconds(archive->location()));
    }
    if (totals.size() != 1 || totals[0].readouts == 0 || rows.size() != kPerDosimeter || scanS <= 0) {
      state.SkipWithError("queries failed");
      return;
    }
    const double batchRate = 1e6 / fill.importS, singleRate = singleRowRate(archive->location());
    state.SetIterationTime(totalsS);
    state.counters["ratio_totals"] = scanS / totalsS;
    state.counters["ratio_history"] = scanS / historyS;
    state.counters["ratio_batches"] = batchRate / singleRate;
    std::printf(
        "%s, 1,000,000 read-outs of 10,000 dosimeters: import %.0f read-outs/s, one statement each %.0f/s, "
        "ratio %.1f (goal 5); 100,000 again %.2f s; wearer list of 10,000 periods %.2f s (goal: seconds); "
        "scan %.3f s; year totals %.4f s ratio %.0f, history %.4f s ratio %.0f (goal 100)\n",
        postgres ? "PostgreSQL" : "SQLite", batchRate, singleRate, batchRate / singleRate, fill.duplicatesS,
        fill.wearersS, scanS, totalsS, scanS / totalsS, historyS, scanS / historyS);
  }
}

void BM_ArchiveMillionSQLite(benchmark::State& state) { millionReadouts(state, false); }
BENCHMARK(BM_ArchiveMillionSQLite)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void BM_ArchiveMillionPostgreSQL(benchmark::State& state) { millionReadouts(state, true); }
BENCHMARK(BM_ArchiveMillionPostgreSQL)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace
