// Timings of the glow-curve deconvolution against the line: analysis must
// never be what an operator waits for. Goals: "deconvolve FILE --all" over a
// full file of 2048 blocks (four general-order peaks each, starts from the
// curves) within a tenth of those blocks' wire time at 115200 baud, and one
// block's fit as the chart runs it within a fifth of one block's.
// Run: build/bench/quelm_bench --benchmark_filter=Deconvol
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <ctime>

#include "Cli.h"
#include "PacedReader.h"
#include "evaluation/Deconvolution.h"
#include "evaluation/DeconvolutionModel.h"
#include "evaluation/GlowCurve.h"
#include "sample-data/SampleData.h"

namespace {

constexpr uint32_t kBaud = 115200;

// The CPU time of this thread: on a machine shared with other work it shows
// what the fits themselves cost, beside the wall time the goals are set on.
double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

static void BM_DeconvolveFullFile(benchmark::State& state) {
  const double blockWire = quelm::bench::BlockWireSeconds(kBaud);
  if (blockWire <= 0) return state.SkipWithError("no pseudo-terminal");
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("full.dat"));
  if (WriteSampleDataFile(file, {kBlocksInReader, 1, 0}) != 0) return state.SkipWithError("no data file");
  for (auto _ : state) {
    QString out, err;
    QTextStream o(&out), e(&err);
    quelm::cli::CliIO io{o, e, false, dir.filePath(QStringLiteral("quelm.INI"))};
    QElapsedTimer wall;
    wall.start();
    const int rc = quelm::cli::runCli({"deconvolve", file, "--all", "--csv", "--peaks", "4"}, io);
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    if (rc != 0) return state.SkipWithError("the command failed");
    state.SetIterationTime(seconds);
    quelm::bench::ReportGoal(state,
                             "deconvolve --all over 2048 blocks against their wire time at 115200 baud",
                             seconds / (kBlocksInReader * blockWire), 0.1);
  }
}
BENCHMARK(BM_DeconvolveFullFile)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

// The chart's fit (count chosen, general order, background) per block, over
// sample blocks of every kind.
static void BM_DeconvolveChartFit(benchmark::State& state) {
  const double blockWire = quelm::bench::BlockWireSeconds(kBaud);
  if (blockWire <= 0) return state.SkipWithError("no pseudo-terminal");
  std::vector<quelm::GlowCurve> curves;
  for (const BlockRecord& r : MakeSampleBlocks({100, 7, 0})) curves.push_back(quelm::GlowCurveOfBlock(r));
  for (auto _ : state) {
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = threadCpuSeconds();
    for (const quelm::GlowCurve& c : curves)
      benchmark::DoNotOptimize(quelm::Deconvolve(c, quelm::DeconvolutionModel::WindowOptions()));
    const double perBlock = 1.0 / static_cast<double>(curves.size());
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9 * perBlock;
    const double cpu = (threadCpuSeconds() - cpu0) * perBlock;
    state.SetIterationTime(seconds);
    state.counters["cpu_ms"] = cpu * 1000;
    std::printf("one block's fit: %.2f ms wall, %.2f ms CPU, wire time %.2f ms\n", seconds * 1000, cpu * 1000,
                blockWire * 1000);
    quelm::bench::ReportGoal(state, "one block's fit in the chart against its wire time at 115200 baud",
                             seconds / blockWire, 0.2);
  }
}
BENCHMARK(BM_DeconvolveChartFit)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace
