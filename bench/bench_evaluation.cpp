// Timings of the evaluation: a chart drag step runs an edit refresh, which
// must stay well under one frame (16 ms).
#include <benchmark/benchmark.h>

#include <vector>

#include "evaluation/BlockView.h"
#include "evaluation/ChartInteraction.h"
#include "measurement/SampleData.h"

namespace {

struct SampleBlock {
  BlockRecord record;
  uint32_t values[kRawValueCount] = {};
  uint32_t ranges[kRawValueCount] = {};
  EvalMembers members;
  SampleBlock() {
    record = MakeSampleBlocks({1, 3, 0}).front();
    DecodeBlockValues(record, values, ranges);
    members = InitialEvalMembers(record, values);
  }
};

// One drag step: the left marker moves one channel, the panel is recomputed.
void BM_EditRefreshCore(benchmark::State& state) {
  SampleBlock b;
  int channel = 0;
  for (auto _ : state) {
    quelm::DragLeftMarkerTo(b.members, channel);
    channel = (channel + 1) % kChannelCount;
    quelm::EvaluationView v = quelm::MakeEvaluationView(b.record, b.values, b.members);
    b.members.peakPos = v.peakPos;
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_EditRefreshCore)->Unit(benchmark::kMicrosecond);

// A freshly read block: decoding, header, table, chart points and the panel.
void BM_FreshRefreshCore(benchmark::State& state) {
  SampleBlock b;
  for (auto _ : state) {
    DecodeBlockValues(b.record, b.values, b.ranges);
    quelm::BlockView view = quelm::MakeBlockView(b.record, b.values, b.ranges);
    EvalMembers m = InitialEvalMembers(b.record, b.values);
    benchmark::DoNotOptimize(view);
    benchmark::DoNotOptimize(quelm::MakeEvaluationView(b.record, b.values, m));
  }
}
BENCHMARK(BM_FreshRefreshCore)->Unit(benchmark::kMicrosecond);

}  // namespace
