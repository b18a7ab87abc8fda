// Data file timings on a full reader image (2048 blocks, 1 MiB): filtered
// searches that step over every block number, and opening a file to its
// newest block as the detail view does.
#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

namespace {

struct FullFile {
  QTemporaryDir dir;
  QString path;
  std::vector<BlockRecord> blocks;
  FullFile() {
    SampleDataOptions o;
    o.blocks = 2048;
    o.seed = 2006;
    o.firstNumber = 1234;
    blocks = MakeSampleBlocks(o);
    // One dosimeter read only a few times: a filter that finds less than a
    // page and so visits every block number.
    for (const int k : {10, 700, 1500, 2040}) std::memcpy(blocks[k].BulbID, "RARE1", 5);
    path = dir.filePath("full.dat");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) std::abort();
    f.write(reinterpret_cast<const char*>(blocks.data()),
            static_cast<qint64>(blocks.size() * sizeof(BlockRecord)));
  }
};

FullFile& fullFile() {
  static FullFile f;
  return f;
}

void runSearch(benchmark::State& state, const SearchRequest& request) {
  TNurvoDataBlock block(nullptr);
  block.FileName = fullFile().path;
  int count = 0;
  for (auto _ : state) {
    block.SearchFileBlocks(request, kPageRows, 0, 0, &count);
    benchmark::DoNotOptimize(count);
  }
  state.counters["blocks"] = count;
}

void BM_SearchByRareDosimeter(benchmark::State& state) {
  SearchRequest r{};
  r.Flags = kSearchByDosimeter;
  r.StartBlock = 1233;  // the newest block
  std::memcpy(r.Dosimeter, "RARE1", 5);
  runSearch(state, r);
}
BENCHMARK(BM_SearchByRareDosimeter)->Unit(benchmark::kMillisecond);

void BM_SearchByNarrowDate(benchmark::State& state) {
  // A window around a few blocks in the middle of the file.
  const BlockRecord& mid = fullFile().blocks[1024];
  SearchRequest r{};
  r.Flags = kSearchByDate;
  r.StartBlock = 1233;
  std::memcpy(r.DateFrom, mid.DateTime, 5);
  std::memcpy(r.DateTo, fullFile().blocks[1030].DateTime, 5);
  runSearch(state, r);
}
BENCHMARK(BM_SearchByNarrowDate)->Unit(benchmark::kMillisecond);

void BM_SearchDosimeterNoMatch(benchmark::State& state) {
  SearchRequest r{};
  r.Flags = kSearchByDosimeter | kSearchForward;
  r.StartBlock = 0;
  std::memcpy(r.Dosimeter, "NONE!", 5);
  runSearch(state, r);
}
BENCHMARK(BM_SearchDosimeterNoMatch)->Unit(benchmark::kMillisecond);

void BM_SkimAndReadNewest(benchmark::State& state) {
  TNurvoDataBlock block(nullptr);
  for (auto _ : state) {
    block.SkimFile(fullFile().path);
    block.ReadFileBlock(block.LastBlock);
    benchmark::DoNotOptimize(block.Record);
  }
}
BENCHMARK(BM_SkimAndReadNewest)->Unit(benchmark::kMillisecond);

}  // namespace
