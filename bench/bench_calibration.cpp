// The calibration of a full reader's worth of dosimeters must never be what
// an operator waits for. Goal: 2048 read-outs (one per dosimeter, every
// correction of the chain at work) loaded from their data file, each solved
// for its factor, the outliers found, the figures and the batch table made,
// within a tenth of the time the reader needs to send those blocks at
// 115200 baud; the same from the dose archive with the run kept there.
// Run: build/bench/quelm_bench --benchmark_filter=Calibrat
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

#include "PacedReader.h"
#include "calibration/CalibrationArchive.h"
#include "calibration/CalibrationJob.h"
#include "calibration/ReadoutSource.h"
#include "sample-data/SampleData.h"

namespace {

constexpr uint32_t kBaud = 115200;

static void BM_Calibration2048(benchmark::State& state) {
  const double blockWire = quelm::bench::BlockWireSeconds(kBaud);
  if (blockWire <= 0) return state.SkipWithError("no pseudo-terminal");
  // Sample read-outs, one dosimeter each, with both pieces of the linearity
  // correction and the temperature correction in use.
  std::vector<BlockRecord> blocks = MakeSampleBlocks({kBlocksInReader, 7, 0});
  for (size_t i = 0; i < blocks.size(); ++i) {
    BlockRecord& r = blocks[i];
    const QByteArray id = QStringLiteral("A%1").arg(i + 1, 4, 10, QLatin1Char('0')).toLatin1();
    std::memcpy(r.BulbID, id.constData(), 5);
    r.DLFA = 1.05f;
    r.DLFB = 0.12f;
    r.DLFN = 300;
  }
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("batch.dat"));
  {
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly) || f.write(reinterpret_cast<const char*>(blocks.data()),
                                                 static_cast<qint64>(blocks.size() * sizeof(BlockRecord))) !=
                                             static_cast<qint64>(blocks.size() * sizeof(BlockRecord)))
      return state.SkipWithError("no data file");
  }
  for (auto _ : state) {
    QElapsedTimer wall;
    wall.start();
    quelm::CalibrationJob job;
    quelm::DataFileReadouts source({file});
    const bool loaded = job.Load(source).kind == quelm::CalibrationOutcome::kDone;
    const bool computed = job.SetDose(1000).kind == quelm::CalibrationOutcome::kDone;
    benchmark::DoNotOptimize(quelm::CalibrationCsv(job.Run()));
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    int factors = 0;
    for (const quelm::CalibrationRow& row : job.Run().rows) factors += row.factor.has_value();
    if (!loaded || !computed || factors < kBlocksInReader * 9 / 10)
      return state.SkipWithError("no calibration");
    state.SetIterationTime(seconds);
    state.counters["factors"] = factors;
    std::printf("calibration of 2048 dosimeters: %.1f ms, %d factors; the blocks' wire time %.1f s\n",
                seconds * 1e3, factors, kBlocksInReader * blockWire);
    quelm::bench::ReportGoal(state, "calibration of 2048 dosimeters against their wire time at 115200 baud",
                             seconds / (kBlocksInReader * blockWire), 0.1);

    // The same batch from the dose archive (an SQLite file), and the run
    // kept there with every read-out's record.
    const QString db = dir.filePath(QStringLiteral("archive.sqlite"));
    quelm::ArchiveLocation location;
    QString detail;
    quelm::ParseArchiveLocation(db, &location, &detail);
    {
      int code = 0;
      const auto archive = quelm::DoseArchive::open(location, {}, &code, &detail);
      quelm::ImportResult imported;
      if (!archive || archive->importFile(file, &imported) != 0) return state.SkipWithError("no archive");
    }
    wall.restart();
    quelm::CalibrationJob fromArchive;
    fromArchive.locateArchive = [location](quelm::ArchiveLocation* l, QString*) {
      *l = location;
      return 0;
    };
    // A read-out without a time lies in no span.
    QStringList ids;
    for (const BlockRecord& r : blocks)
      if (const quelm::ReadoutFields f = quelm::DecodeReadout(r); !f.readoutTime.isEmpty())
        ids << f.dosimeter;
    quelm::ArchiveReadouts archived(location, ids, QDateTime(QDate(1980, 1, 1), QTime(0, 0), Qt::UTC),
                                    QDateTime(QDate(2099, 12, 31), QTime(23, 59), Qt::UTC));
    const bool fetched = fromArchive.Load(archived).kind == quelm::CalibrationOutcome::kDone &&
                         fromArchive.SetDose(1000).kind == quelm::CalibrationOutcome::kDone;
    const double computedS = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const bool kept = fromArchive.KeepRun().kind == quelm::CalibrationOutcome::kDone;
    const double keptS = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    if (!fetched || !kept) return state.SkipWithError("no calibration from the archive");
    std::printf("from the dose archive (SQLite): %.1f ms computed, %.1f ms kept there\n", computedS * 1e3,
                (keptS - computedS) * 1e3);
    quelm::bench::ReportGoal(state, "calibration of 2048 dosimeters from the dose archive, kept there",
                             keptS / (kBlocksInReader * blockWire), 0.1);
  }
}
BENCHMARK(BM_Calibration2048)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace
