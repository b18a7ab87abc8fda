// The deconvolution panel beside the chart in the main window at its
// default size: what it says of a fit, what it draws, and the operator's
// choices. The fits are held and finished when the test says; some are
// replaced by results made for the point at hand.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPromise>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtCharts/QLineSeries>
#include <memory>

#include "QStringPrinter.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "evaluation/DeconvolutionText.h"
#include "evaluation/DeconvolutionView.h"
#include "evaluation/DetailModel.h"
#include "evaluation/DetailView.h"
#include "sample-data/SampleData.h"
#include "shell/PgcForm.h"

namespace {

using quelm::DeconvolutionModel;
using quelm::DeconvolutionResult;
using quelm::FittedPeak;
using quelm::KineticPeak;

class DeconvolutionViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    form_ = std::make_unique<TPgcForm>();
    form_->show();  // at the size of a first start
    model().SetRunner([this](std::function<DeconvolutionModel::Job()> work) {
      held_.push_back(std::make_unique<Held>());
      held_.back()->work = std::move(work);
      return held_.back()->promise.future();
    });
    BlockRecord r = MakeSampleBlocks({1, 3, 0}).front();
    form_->DataBlock->Record = r;
    form_->DataBlock->State = (form_->DataBlock->State | Loaded) & ~uint32_t{EvalEdited};
    ASSERT_EQ(form_->DataRefresh(), 0);
    form_->PageControl->setCurrentWidget(form_->ChartTabSheet);
    form_->ChartDeconvolutionItem->trigger();
    ASSERT_EQ(held_.size(), 1u);
  }

  struct Held {
    QPromise<DeconvolutionModel::Job> promise;
    std::function<DeconvolutionModel::Job()> work;
  };

  DeconvolutionModel& model() { return form_->Detail().Deconvolution(); }
  quelm::DeconvolutionView& view() { return *form_->DetailPage().Deconvolution(); }

  // Finishes the last fit, with `made` in place of its result when given.
  void finish(const DeconvolutionResult* made = nullptr) {
    Held& h = *held_.back();
    DeconvolutionModel::Job job = h.work();
    if (made) job.result = *made;
    h.promise.start();
    h.promise.addResult(job);
    h.promise.finish();
    QApplication::processEvents();
  }

  static FittedPeak peak(double tm, double im, double area) {
    FittedPeak p;
    p.peak = KineticPeak{im, 1.3, tm, 1.4};
    p.error = KineticPeak{2, 0.012, 0.4, 0.05};
    p.area = area;
    return p;
  }

  // A converged fit of the shown curve with these peaks, a background and
  // the evaluation window 100 to 200 'C.
  DeconvolutionResult made(std::vector<FittedPeak> peaks, double fom) {
    DeconvolutionResult r;
    r.outcome = quelm::FitOutcome::Converged;
    r.options = model().Options();
    r.peakCount = r.suggestedCount = static_cast<int>(peaks.size());
    double total = 0;
    for (const FittedPeak& p : peaks) total += p.area;
    for (FittedPeak& p : peaks) p.share = p.area / total * 100;
    r.peaks = std::move(peaks);
    r.background = quelm::ExpBackground{40, 30, model().Curve().kelvin.back(), 200};
    r.fom = fom;
    r.r2 = 0.998;
    r.reducedChiSquare = 1.1;
    r.window = std::pair{373.15, 473.15};
    return r;
  }

  QString cell(int row, int column) { return form_->DeconvolutionGrid->item(row, column)->text(); }
  bool bold(int row) { return form_->DeconvolutionGrid->item(row, 1)->font().bold(); }

  quelm::test::DiagScope quiet_;
  QTemporaryDir dir_;
  quelm::test::ConfigScope config_{dir_};
  quelm::test::ScriptedPrompter prompter_;
  std::unique_ptr<TPgcForm> form_;
  std::vector<std::unique_ptr<Held>> held_;
};

TEST_F(DeconvolutionViewTest, TheFitIsNamedAsTheFieldNamesIt) {
  const DeconvolutionResult one = made({peak(420, 900, 20000)}, 1.2);
  finish(&one);
  const QString status = form_->DeconvolutionStatusLabel->text();
  EXPECT_TRUE(status.startsWith("1 peak (lowest BIC), background\n")) << status.toStdString();
  EXPECT_TRUE(status.endsWith("\nFOM 1.20 %, R² 0.99800\nreduced χ² 1.1")) << status.toStdString();
  QStringList titles;
  for (int c = 0; c < form_->DeconvolutionGrid->columnCount(); ++c)
    titles << form_->DeconvolutionGrid->horizontalHeaderItem(c)->text();
  EXPECT_EQ(titles.join('|'), "#|Tm °C|E eV|b|%");
  EXPECT_EQ(cell(0, 1), "146.9");
  EXPECT_TRUE(form_->DeconvolutionGrid->item(0, 2)->toolTip().contains("E ± 0.012 eV"));
  EXPECT_TRUE(view().warningLabel()->isHidden());
  for (const char* wrong : {"1 peaks", "'C", "R2"}) EXPECT_FALSE(status.contains(wrong)) << wrong;

  // A real fit of the block: the figures and the count it chose.
  model().Choose(quelm::PeakModel::GeneralOrder, 0);
  finish();
  const DeconvolutionResult& r = model().Result();
  ASSERT_TRUE(r.converged());
  EXPECT_TRUE(
      form_->DeconvolutionStatusLabel->text().contains(quelm::PeakCountText(r.peakCount) + " (lowest BIC)"));
}

TEST_F(DeconvolutionViewTest, TheBackgroundIsDrawnAndListedAndTheDosimetricPeakMarked) {
  // The larger peak lies above the evaluation window: the dosimetric peak
  // is the first.
  const DeconvolutionResult r = made({peak(420, 900, 20000), peak(520, 1500, 40000)}, 1.2);
  finish(&r);
  EXPECT_TRUE(bold(0));
  EXPECT_FALSE(bold(1));
  EXPECT_EQ(view().peakSeries()[0]->pen().widthF(), 3);
  EXPECT_EQ(view().peakSeries()[1]->pen().widthF(), 1.5);
  const QString info = view().infoLabel()->text();
  EXPECT_TRUE(info.contains(
      "Dosimetric peak: 1, 146.9 °C (the largest area inside the evaluation window 100.0 to 200.0 °C)"))
      << info.toStdString();
  EXPECT_TRUE(info.contains("Background: 200 + 40 exp((T - ")) << info.toStdString();

  // The background's line follows it: at the hottest channel it stands at
  // offset plus amplitude.
  QLineSeries* background = view().backgroundSeries();
  ASSERT_TRUE(background);
  ASSERT_EQ(background->count(), view().sumSeries()->count());
  EXPECT_NEAR(background->at(background->count() - 1).y(), 240, 1e-9);
  EXPECT_NEAR(background->at(0).y(), quelm::BackgroundValue(*r.background, model().Curve().kelvin.front()),
              1e-9);
}

TEST_F(DeconvolutionViewTest, AWarningLineNamesWhatMakesTheFitDoubtful) {
  const struct {
    const char* name;
    double fom;
    unsigned atBound;
    bool undetermined;
    const char* line;    // nullptr: none shown
    const char* detail;  // the line's tooltip
  } cases[] = {
      {"sound", 2.5, 0, false, nullptr, nullptr},
      {"FOM above 2.5 %", 2.51, 0, false, "Warning: FOM 2.51 % above 2.5 %", "FOM 2.51 % is above 2.5 %"},
      {"E at a bound", 1.0, quelm::kParamEnergy, false, "Warning: peak 2 at bounds",
       "peak 2: E at the bound of its range"},
      {"Tm and b at bounds", 1.0, quelm::kParamTm | quelm::kParamShape, false, "Warning: peak 2 at bounds",
       "peak 2: Tm, b at the bound of their ranges"},
      {"not determined", 1.0, 0, true, "Warning: peak 2 not determined", "peak 2 is not determined"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeconvolutionResult r = made({peak(420, 900, 20000), peak(450, 500, 8000)}, c.fom);
    r.peaks[1].atBound = c.atBound;
    r.peaks[1].undetermined = c.undetermined;
    model().Choose(quelm::PeakModel::GeneralOrder, 0);  // a fit again, held
    finish(&r);
    QLabel* warning = view().warningLabel();
    if (!c.line) {
      EXPECT_TRUE(warning->isHidden());
      continue;
    }
    EXPECT_FALSE(warning->isHidden());
    EXPECT_EQ(warning->text(), QString::fromUtf8(c.line));
    EXPECT_TRUE(warning->toolTip().startsWith(QString::fromUtf8(c.detail)))
        << warning->toolTip().toStdString();
  }
}

TEST_F(DeconvolutionViewTest, TheOperatorChoosesModelAndCountAndTheBlockIsFittedAgain) {
  finish();
  QComboBox* models = view().modelBox();
  QComboBox* counts = view().countBox();
  EXPECT_EQ(models->currentText(), "general");
  EXPECT_EQ(counts->currentText(), "auto");
  models->setCurrentIndex(models->findText("first"));
  emit models->activated(models->currentIndex());
  counts->setCurrentIndex(counts->findText("2 peaks"));
  emit counts->activated(counts->currentIndex());
  ASSERT_EQ(held_.size(), 3u);
  EXPECT_EQ(model().Options().model, quelm::PeakModel::FirstOrder);
  EXPECT_EQ(model().Options().peaks, 2);
  EXPECT_EQ(form_->DeconvolutionStatusLabel->text(), "Fitting...");
  finish();
  const DeconvolutionResult& r = model().Result();
  ASSERT_TRUE(r.converged()) << r.reason.toStdString();
  EXPECT_EQ(r.peaks.size(), 2u);
  EXPECT_EQ(r.peaks[0].peak.model, quelm::PeakModel::FirstOrder);
  EXPECT_TRUE(form_->DeconvolutionStatusLabel->text().startsWith("2 peaks, background\nFOM "));
  // The choice stays for the next block.
  form_->ChartDeconvolutionItem->trigger();
  form_->ChartDeconvolutionItem->trigger();
  EXPECT_EQ(held_.size(), 4u);
  EXPECT_EQ(view().countBox()->currentText(), "2 peaks");
}

// Writes the window with a fit of a sample block to the file named by
// QUELM_DECONVOLUTION_SCREENSHOT (run it under Xvfb to look at the real
// rendering); skipped otherwise.
TEST_F(DeconvolutionViewTest, Screenshot) {
  const QString path = qEnvironmentVariable("QUELM_DECONVOLUTION_SCREENSHOT");
  if (path.isEmpty()) GTEST_SKIP() << "set QUELM_DECONVOLUTION_SCREENSHOT to a .png path";
  finish();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  ASSERT_TRUE(form_->grab().save(path));
  // And with the most peaks, to see the table at its fullest.
  model().Choose(quelm::PeakModel::GeneralOrder, quelm::kMaxFitPeaks);
  finish();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  ASSERT_TRUE(form_->grab().save(QString(path).replace(QStringLiteral(".png"), QStringLiteral("-most.png"))));
}

}  // namespace
