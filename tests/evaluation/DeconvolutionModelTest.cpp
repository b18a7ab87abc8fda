// The chart's deconvolution through the detail model's chart command, with
// the fits held back and finished when the test says: only the fit of the
// block on display is ever shown.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPromise>
#include <memory>
#include <vector>

#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "evaluation/DetailModel.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

using namespace quelm;
using Phase = DeconvolutionModel::Phase;

namespace {

struct HeldFit {
  QPromise<DeconvolutionModel::Job> promise;
  std::function<DeconvolutionModel::Job()> work;
};

class DeconvolutionModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    deconvolution().SetRunner([this](std::function<DeconvolutionModel::Job()> work) {
      held.push_back(std::make_unique<HeldFit>());
      held.back()->work = std::move(work);
      return held.back()->promise.future();
    });
    deconvolution().changed = [this] { ++changes; };
  }
  DeconvolutionModel& deconvolution() { return model.Deconvolution(); }
  void show(int index) {
    data->Record = blocks[static_cast<size_t>(index)];
    data->State = (data->State | Loaded) & ~uint32_t{EvalEdited};
    ASSERT_EQ(model.Refresh(), 0);
  }
  void finish(size_t fit) {
    HeldFit& h = *held.at(fit);
    h.promise.start();
    h.promise.addResult(h.work());
    h.promise.finish();
    QCoreApplication::processEvents();  // the watcher's report
  }

  quelm::test::DiagScope quiet;
  quelm::test::ScriptedPrompter prompter;
  std::vector<BlockRecord> blocks = MakeSampleBlocks({3, 5, 0});
  std::unique_ptr<TNurvoDataBlock> data = std::make_unique<TNurvoDataBlock>(nullptr);
  DetailModel model{data};
  std::vector<std::unique_ptr<HeldFit>> held;
  int changes = 0;
};

TEST_F(DeconvolutionModelTest, TheShownBlockIsFittedOffTheWindowsThreadAndSwitchedOff) {
  show(0);
  EXPECT_EQ(model.ChartCommand(ChartAction::Deconvolution, false), 0);  // not on the Chart page
  EXPECT_EQ(deconvolution().CurrentPhase(), Phase::Off);
  EXPECT_TRUE(held.empty());

  EXPECT_EQ(model.ChartCommand(ChartAction::Deconvolution, true), 0);
  EXPECT_EQ(deconvolution().CurrentPhase(), Phase::Fitting);
  EXPECT_EQ(deconvolution().Curve().kelvin.size(), 100u);
  ASSERT_EQ(held.size(), 1u);
  finish(0);
  ASSERT_EQ(deconvolution().CurrentPhase(), Phase::Done);
  EXPECT_TRUE(deconvolution().Result().converged()) << deconvolution().Result().reason.toStdString();
  EXPECT_FALSE(deconvolution().Result().peaks.empty());

  // Chart edits keep the fit; the command again switches it off.
  EXPECT_EQ(model.ChartCommand(ChartAction::EvalStartRight, true), 0);
  EXPECT_EQ(deconvolution().CurrentPhase(), Phase::Done);
  EXPECT_EQ(model.ChartCommand(ChartAction::Deconvolution, true), 0);
  EXPECT_EQ(deconvolution().CurrentPhase(), Phase::Off);
  EXPECT_TRUE(deconvolution().Result().peaks.empty());
  EXPECT_EQ(changes, 3);  // fitting, done, off
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(DeconvolutionModelTest, AFitWhoseBlockIsNoLongerShownIsCancelledAndDropped) {
  show(0);
  model.ChartCommand(ChartAction::Deconvolution, true);
  show(1);  // another block while the first is still being fitted
  ASSERT_EQ(held.size(), 2u);
  EXPECT_EQ(deconvolution().CurrentPhase(), Phase::Fitting);
  // The first fit was told to stop: it ends at once, cancelled, and is not shown.
  const DeconvolutionModel::Job first = held[0]->work();
  EXPECT_EQ(first.result.outcome, FitOutcome::Cancelled);
  held[0]->promise.start();
  held[0]->promise.addResult(first);
  held[0]->promise.finish();
  QCoreApplication::processEvents();
  EXPECT_EQ(deconvolution().CurrentPhase(), Phase::Fitting);

  finish(1);
  ASSERT_EQ(deconvolution().CurrentPhase(), Phase::Done);
  EXPECT_EQ(deconvolution().Curve().signal, GlowCurveOfBlock(blocks[1]).signal);

  // Switched off while a fit runs: its result never shows.
  show(2);
  model.ChartCommand(ChartAction::Deconvolution, true);
  finish(2);
  EXPECT_EQ(deconvolution().CurrentPhase(), Phase::Off);
}

}  // namespace
