// The detail model without a window: refresh modes and failures, the shown
// block, the operator's changes, and the texts a command line prints.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "Golden.h"
#include "KnownBlock.h"
#include "QStringPrinter.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "TimeZoneGuard.h"
#include "base/UserLocale.h"
#include "evaluation/DetailModel.h"
#include "measurement/NurvoDataBlock.h"

using namespace quelm;
using quelm::test::ScriptedPrompter;

namespace {

class DetailModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model.refreshed = [this](bool fresh) { refreshes.push_back(fresh); };
  }
  void TearDown() override { setUserLocale(locale_); }
  // What a block read followed by the refresh does.
  void show(const BlockRecord& r) {
    data->Record = r;
    data->State = (data->State | Loaded) & ~uint32_t{EvalEdited};
    ASSERT_EQ(model.Refresh(), 0);
  }
  void setMembers(int start, int length, int cursor) {
    data->EvalStart = start;
    data->EvalLength = length;
    data->CursorPos = cursor;
  }
  std::tuple<int, int, int> members() const { return {data->EvalStart, data->EvalLength, data->CursorPos}; }
  QString value(EvalField f) const { return model.Evaluation().values[f].text; }

  quelm::test::DiagScope quiet;
  ScriptedPrompter prompter;
  std::unique_ptr<TNurvoDataBlock> data = std::make_unique<TNurvoDataBlock>(nullptr);
  DetailModel model{data};
  std::vector<bool> refreshes;
  UserLocale locale_ = userLocale();
};

// The failures are returned for the window to report; the model shows none.
TEST_F(DetailModelTest, NoBlockOrNoDataObjectIsReturnedAndChangesNothing) {
  EXPECT_EQ(model.Refresh(), -150);
  EXPECT_FALSE(model.BlockShown());
  EXPECT_TRUE(model.HeaderLines().isEmpty());

  show(knownBlock());
  data.reset();
  EXPECT_EQ(model.Refresh(), -102);
  EXPECT_EQ(model.ChartCommand(ChartAction::CursorLeft, true), -102);
  EXPECT_EQ(model.ShowRecord(knownBlock()), -102);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  EXPECT_EQ(model.EditEvalStart(QStringLiteral("3")), 0);  // without a block the edits do nothing
  EXPECT_EQ(refreshes, std::vector<bool>{true});
}

TEST_F(DetailModelTest, TheHeaderAndPanelOfAKnownBlock) {
  TimeZoneGuard tz("UTC0");
  show(knownBlock());
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(members(), std::make_tuple(30, 20, 40));
  EXPECT_EQ(data->PeakPos, 40);
  const QStringList lines = model.HeaderLines() + model.EvaluationLines();
  test::ExpectMatchesGolden((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(),
                            "detail-known-block.txt");
}

TEST_F(DetailModelTest, AnEditRefreshEvaluatesTheShownBlockWhateverTheDataObjectHolds) {
  show(knownBlock());
  const QString roi = value(efRoi);
  // A reader command clears the record while it waits; a chart key comes in.
  std::memset(&data->Record, 0, sizeof data->Record);
  ASSERT_EQ(model.ChartCommand(ChartAction::NFIncrease10, true), 0);
  EXPECT_EQ(value(efRoi), roi);
  EXPECT_EQ(value(efPeakValue), "3200");
  EXPECT_EQ(refreshes, (std::vector<bool>{true, false}));
  EXPECT_EQ(data->State & EvalEdited, 0u);

  // The shown block goes back into the data object, and with none shown the record is cleared.
  model.ReinstateShownBlock();
  EXPECT_EQ(int{data->Record.BlockNumber}, 1234);
  EXPECT_EQ(data->Values[kAuxValueCount + 40], 3200u);
  EXPECT_TRUE(data->State & Loaded);
  std::unique_ptr<TNurvoDataBlock> other = std::make_unique<TNurvoDataBlock>(nullptr);
  other->Record.BlockNumber = 9;
  other->State = Loaded;
  DetailModel none(other);
  none.ReinstateShownBlock();
  EXPECT_EQ(int{other->Record.BlockNumber}, 0);
  EXPECT_FALSE(other->State & Loaded);
}

// What each change does to the members is ApplyChartAction's and the drag
// and edit rules' (ChartInteractionTest); the model decides when they apply
// and refreshes only the evaluation when something changed.
TEST_F(DetailModelTest, ChartCommandsActOnTheChartPageAndRefreshOnlyWhatChanged) {
  show(knownBlock());
  setMembers(0, 20, 0);
  model.ChartCommand(ChartAction::EvalStartRight, false);  // not on the Chart page
  model.ChartCommand(ChartAction::CursorLeft, true);       // refused at channel 0
  EXPECT_EQ(members(), std::make_tuple(0, 20, 0));
  EXPECT_EQ(refreshes, std::vector<bool>{true});
  model.ChartCommand(ChartAction::EvalStartRight, true);
  EXPECT_EQ(members(), std::make_tuple(1, 19, 0));
  EXPECT_EQ(value(efEvalStart), "1");
  EXPECT_EQ(refreshes, (std::vector<bool>{true, false}));
  EXPECT_EQ(data->State & EvalEdited, 0u);
}

TEST_F(DetailModelTest, TypedValuesAreTakenAndOthersShowTheMemberAgain) {
  UserLocale comma = locale_;
  comma.decimalSeparator = QLatin1Char(',');
  setUserLocale(comma);
  show(knownBlock());
  struct Case {
    int (DetailModel::*edit)(const QString&);
    const char* text;
    int start, length;
    double normFact;
  };
  const Case cases[] = {
      {&DetailModel::EditEvalStart, "12x", 30, 20, 100},
      {&DetailModel::EditEvalStart, "35", 35, 20, 100},
      {&DetailModel::EditEvalLength, "many", 35, 20, 100},
      {&DetailModel::EditEvalLength, "10", 35, 10, 100},
      {&DetailModel::EditNormFact, "2.5", 35, 10, 100},        // no number with a comma separator
      {&DetailModel::EditNormFact, "250000", 35, 10, 250000},  // only a block's own factor is capped
      {&DetailModel::EditNormFact, "1e-50", 35, 10, 250000},   // too small for a single: no 0
  };
  for (const Case& c : cases) {
    const size_t before = refreshes.size();
    (model.*c.edit)(QString::fromLatin1(c.text));
    EXPECT_EQ(members(), std::make_tuple(c.start, c.length, 40)) << c.text;
    EXPECT_EQ(data->NormFact, c.normFact) << c.text;
    EXPECT_EQ(refreshes.size(), before + 1) << c.text;  // the edit shows the member again
  }
  EXPECT_EQ(value(efNormFact), "250000,00");
  EXPECT_EQ(value(efStartPercent), "68,80 %");  // channel 35 against the peak at 40
  model.EditNormFact(QStringLiteral("0"));
  EXPECT_EQ(value(efRoiDose), "ERR:NF=0");
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(DetailModelTest, AMarkerDragLastsFromThePressToTheReleaseAndAClickSetsTheCursor) {
  show(knownBlock());  // window 30..49
  model.DragTo(60);    // no press near a marker: nothing moves
  model.PressMarkers(true, false);
  model.DragTo(-1);  // left of the plot
  model.DragTo(30);  // within its channel
  EXPECT_EQ(refreshes.size(), 1u);
  model.DragTo(60);
  EXPECT_EQ(members(), std::make_tuple(60, 20, 40));
  model.EndDrag(LeftMarkerDrag, 10);
  EXPECT_EQ(members(), std::make_tuple(10, 20, 40));
  EXPECT_FALSE(model.Dragging(LeftMarkerDrag));
  model.DragTo(50);
  EXPECT_EQ(members(), std::make_tuple(10, 20, 40));
  EXPECT_EQ(refreshes.size(), 3u);

  model.PressMarkers(false, true);
  model.EndDrag(RightMarkerDrag, 130);  // past the right end of the plot
  EXPECT_EQ(members(), std::make_tuple(10, 90, 40));
  EXPECT_EQ(data->State & (LeftMarkerDrag | RightMarkerDrag | EvalEdited), 0u);
  model.MoveCursorTo(140);
  EXPECT_EQ(data->CursorPos, 99);
  EXPECT_EQ(value(efCursorPos), "99");
}

TEST_F(DetailModelTest, NothingOfAnEarlierBlockRemainsAndAnInvalidRangeIsOnlyTraced) {
  show(knownBlock());
  BlockRecord r = knownBlock();
  r.ErrorCodes = 0x10;  // no valid time
  r.EVANORM = 0;
  r.RawValues[kAuxValueCount + 45] = 0x5123;
  DiagFlags = kDiagLog;
  QStringList log;
  setLogSink([&](const QString& line) { log << line; });
  show(r);
  setLogSink(nullptr);

  const HeaderView& h = model.View().header;
  for (HeaderField f : {hfExposure, hfDoseRate, hfLastReadOut}) {
    EXPECT_EQ(h.values[f].text, "") << f;
    EXPECT_EQ(h.values[f].hint, "") << f;
  }
  EXPECT_EQ(h.values[hfDateTime].text, "-Not-available--  ");
  for (EvalField f : {efRoiDose, efMeasDose}) EXPECT_EQ(value(f), "ERR:NF=0");
  for (EvalField f : {efBgDose, efBgCorrDose, efTCorrDose}) {
    EXPECT_EQ(value(f), "") << f;
    EXPECT_EQ(model.Evaluation().values[f].hint, "") << f;
  }
  EXPECT_EQ(model.View().table[24][4], "(5) 45:");
  EXPECT_TRUE(log.contains("TPgcForm::DataRefresh(): ERR_CHCONTENT"));
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(data->State & RangeFault, 0u);
}

}  // namespace
