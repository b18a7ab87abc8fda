// Timings of the operations that must stay fast. Run: build/bench/quelm_bench
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include "sample-data/SampleData.h"

static void BM_MakeSampleBlocks(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(MakeSampleBlocks({2048, 1, 0}));
}
BENCHMARK(BM_MakeSampleBlocks)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
