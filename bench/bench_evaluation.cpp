// Timings of the evaluation: a chart drag step runs an edit refresh, which
// must stay well under one frame (16 ms).
#include <benchmark/benchmark.h>

#include <vector>

#include "evaluation/BlockView.h"
#include "evaluation/ChartInteraction.h"
#include "sample-data/SampleData.h"

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

#ifdef QUELM_BENCH_WIDGETS
// The window side of a drag step, on the offscreen platform: the mouse move
// reaches the chart handler, the edit refresh updates the panel and the
// window colour, and the chart is repainted. Built as quelm_bench_widgets,
// which needs a QApplication and so has its own entry.
#include <QApplication>
#include <QMouseEvent>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtCharts/QChartView>

#include "base/Config.h"
#include "evaluation/DetailView.h"
#include "evaluation/GlowChart.h"
#include "shell/PgcForm.h"

namespace {

struct BenchWindow {
  TPgcForm form;
  explicit BenchWindow(const BlockRecord& r) : form() {
    form.resize(1000, 760);
    form.show();
    form.PageControl->setCurrentWidget(form.ChartTabSheet);
    QApplication::processEvents();
    form.DataBlock->Record = r;
    form.DataBlock->State |= Loaded;
    form.DataRefresh();
    QApplication::processEvents();
  }
  void mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QWidget* viewport = form.PChart->viewport();
    QMouseEvent e(type, QPointF(pos), viewport->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(viewport, &e);
  }
};

QTemporaryDir& configDir() {
  static QTemporaryDir dir;
  quelm::setConfigFilePath(dir.filePath(QStringLiteral("quelm.INI")));
  return dir;
}

void BM_EditRefreshWindow(benchmark::State& state) {
  configDir();
  SampleBlock b;
  BenchWindow w(b.record);
  int start = 0;
  for (auto _ : state) {
    w.form.DataBlock->EvalStart = start;
    start = (start + 1) % 50;
    w.form.DataBlock->State |= EvalEdited;
    w.form.DataRefresh();
  }
}
BENCHMARK(BM_EditRefreshWindow)->Unit(benchmark::kMicrosecond);

// One mouse move of a left-marker drag, with the chart repainted after it.
void BM_ChartDragStepWindow(benchmark::State& state) {
  configDir();
  SampleBlock b;
  BenchWindow w(b.record);
  const int y = static_cast<int>(w.form.DetailPage().Chart()->plotRect().center().y());
  const QPoint marker(w.form.DetailPage().Chart()->pointPixel(w.form.DataBlock->EvalStart).toPoint().x(), y);
  w.mouse(QEvent::MouseButtonPress, marker, Qt::LeftButton, Qt::LeftButton);
  if (!(w.form.DataBlock->State & LeftMarkerDrag)) state.SkipWithError("the press missed the left marker");
  const int xs[2] = {w.form.DetailPage().Chart()->pointPixel(10).toPoint().x(),
                     w.form.DetailPage().Chart()->pointPixel(11).toPoint().x()};
  int i = 0;
  for (auto _ : state) {
    w.mouse(QEvent::MouseMove, QPoint(xs[i ^= 1], y), Qt::NoButton, Qt::LeftButton);
    w.form.PChart->viewport()->repaint();
  }
  w.mouse(QEvent::MouseButtonRelease, QPoint(xs[i], y), Qt::LeftButton, Qt::NoButton);
}
BENCHMARK(BM_ChartDragStepWindow)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
#endif
