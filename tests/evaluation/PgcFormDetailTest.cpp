#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPromise>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <cstring>
#include <memory>

#include "KnownBlock.h"
#include "QStringPrinter.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "TimeZoneGuard.h"
#include "base/StringGrid.h"
#include "base/UserLocale.h"
#include "evaluation/ContentModel.h"
#include "evaluation/DeconvolutionView.h"
#include "evaluation/DetailModel.h"
#include "evaluation/DetailView.h"
#include "evaluation/GlowChart.h"
#include "sample-data/SampleData.h"
#include "shell/PgcForm.h"

using quelm::test::ScriptedPrompter;

namespace {

class PgcFormDetailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    form_ = std::make_unique<TPgcForm>();
    prompter_.clear();
  }
  void TearDown() override {
    form_.reset();
    quelm::setUserLocale(savedLocale_);
  }

  TPgcForm& f() { return *form_; }
  TNurvoDataBlock& block() { return *form_->DataBlock; }

  // What a block read followed by the refresh does.
  void show(const BlockRecord& r) {
    block().Record = r;
    block().State = (block().State | Loaded) & ~uint32_t{EvalEdited};
    ASSERT_EQ(f().DataRefresh(), 0);
  }

  // The window on screen with the Chart page, so that pixels and shortcuts are live.
  void showChartPage() {
    f().resize(1000, 760);
    f().show();
    f().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    f().PageControl->setCurrentWidget(f().ChartTabSheet);
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }

  QWidget* viewport() { return f().PChart->viewport(); }
  QPoint pointPixel(int index) { return f().DetailPage().Chart()->pointPixel(index).toPoint(); }
  int plotMiddleY() { return static_cast<int>(f().DetailPage().Chart()->plotRect().center().y()); }

  void mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(pos), viewport()->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(viewport(), &e);
  }
  void press(QPoint p) { mouse(QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton); }
  void dragTo(QPoint p) { mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton); }
  void hover(QPoint p) { mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton); }
  void release(QPoint p) { mouse(QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton); }

  void leave(QLineEdit* edit) {
    QFocusEvent e(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(edit, &e);
  }
  void enter(QLineEdit* edit) { QTest::keyClick(edit, Qt::Key_Return); }
  // What the operator types over the edit's text.
  void type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }

  quelm::test::DiagScope quiet_;
  QTemporaryDir dir_;
  quelm::test::ConfigScope config_{dir_};
  ScriptedPrompter prompter_;
  std::unique_ptr<TPgcForm> form_;
  quelm::UserLocale savedLocale_ = quelm::userLocale();
};

TEST_F(PgcFormDetailTest, FreshRefreshFillsHeaderTableChartAndPanel) {
  TimeZoneGuard tz("UTC0");
  show(knownBlock());
  EXPECT_TRUE(prompter_.messages.empty());

  EXPECT_EQ(f().DeviceIDDatLabel->text(), "Q0412");
  EXPECT_EQ(f().DosimeterDatLabel->text(), "A0017");
  EXPECT_EQ(f().DateTimeDatLabel->text(), "2006.06.24 15:30");
  EXPECT_EQ(f().ErrorCodesDatLabel->text(), "EBHE EBOV ");
  EXPECT_EQ(f().ErrorCodesDatLabel->toolTip(), "Heating; Overflow");
  EXPECT_EQ(f().ErrorCodesLabel->toolTip(), "Heating; Overflow");
  EXPECT_EQ(f().ErrorCodesLabel->statusTip(), "Heating; Overflow");
  EXPECT_EQ(f().BlockNumberDatLabel->text(), "1234");
  EXPECT_EQ(f().MeasPointsDatLabel->text(), "106");
  EXPECT_EQ(f().SamplingSpeedDatLabel->text(), "50 ms");
  EXPECT_EQ(f().ReaderTempDatLabel->text(), "20.0 'C");
  EXPECT_EQ(f().MeasuredDoseDatLabel->text(), "1.23 mSv");
  EXPECT_EQ(f().ApprDoseRateDatLabel->text(), "5.00 µSv/h");
  EXPECT_EQ(f().ApprDoseRateDatLabel->toolTip(), "5.00 µSv/h");
  EXPECT_EQ(f().LastReadOutDatLabel->text(), "2006.06.23 08:05  ");
  EXPECT_EQ(f().ExposureDatLabel->text(), "3.6 h");

  const quelm::StringGrid& t = *f().ValueListGrid;
  EXPECT_EQ(t.cell(0, 0), "(0)  A:");
  EXPECT_EQ(t.cell(1, 0), "       200");
  EXPECT_EQ(t.cell(0, 6), "(0)  0:");
  EXPECT_EQ(t.cell(2, 6), "    45");
  EXPECT_EQ(t.cell(4, 19), "(0) 40:");  // entry 46 = 27 + 19
  EXPECT_EQ(t.cell(5, 19), "      3200");
  EXPECT_EQ(t.cell(3, 6), "");
  EXPECT_EQ(t.cell(12, 26), "");

  ASSERT_EQ(f().AreaUpperSeries->count(), 101);
  ASSERT_EQ(f().PointSeries->count(), 100);
  EXPECT_EQ(f().AreaUpperSeries->at(40), QPointF(40, 3200));
  EXPECT_EQ(f().AreaUpperSeries->at(100), QPointF(99, 0));
  EXPECT_EQ(f().PointSeries->at(10), QPointF(10, 71));
  EXPECT_TRUE(f().PChart->isEnabled());
  EXPECT_GE(f().ChartLeftAxis->max(), 3200);

  EXPECT_EQ(block().EvalStart, 30);
  EXPECT_EQ(block().EvalLength, 20);
  EXPECT_EQ(block().PeakPos, 40);
  EXPECT_EQ(block().CursorPos, 40);
  EXPECT_EQ(f().EvalSEdit->text(), "30");
  EXPECT_EQ(f().EvalLEdit->text(), "20");
  EXPECT_EQ(f().NormFact20DatEdit->text(), "100.00");
  EXPECT_EQ(f().PeakPosDatLabel->text(), "40");
  EXPECT_EQ(f().PeakValueDatLabel->text(), "3200");
  EXPECT_EQ(f().PeakTempDatLabel->text(), "149 'C");
  EXPECT_EQ(f().CursorValueDatLabel->text(), "3200 (100.00%)");
  EXPECT_EQ(f().BgDoseDatLabel->text(), "400 µSv");
  EXPECT_EQ(f().BgDoseDatLabel->toolTip(), "400 µSv");
  EXPECT_FALSE(f().MeasDoseDatLabel->text().isEmpty());
  EXPECT_EQ(f().ROIDoseLabel->toolTip(), "(ROI * 10) / NormFact");
  EXPECT_TRUE(f().Chart->menuAction()->isEnabled());
  EXPECT_EQ(block().State & (EvalEdited | RangeFault), 0u);
}

TEST_F(PgcFormDetailTest, NoBlockIsReportedAndChangesNothing) {
  f().BuildDetailPages();
  EXPECT_EQ(f().DataRefresh(), -150);
  ASSERT_EQ(prompter_.messages.size(), 1u);
  EXPECT_EQ(prompter_.messages[0].text, "Data error: Invalid data");
  EXPECT_EQ(f().AreaUpperSeries->count(), 0);
  EXPECT_FALSE(f().PChart->isEnabled());
  EXPECT_EQ(f().EvalSEdit->text(), "");
}

TEST_F(PgcFormDetailTest, PagesFirstShownWithoutABlockStayEmptyUntilOneIsShown) {
  EXPECT_EQ(f().PChart, nullptr);
  f().PageControl->setCurrentWidget(f().ChartTabSheet);
  ASSERT_NE(f().PChart, nullptr);
  EXPECT_FALSE(f().PChart->isEnabled());
  EXPECT_EQ(f().AreaUpperSeries->count(), 0);
  EXPECT_EQ(f().ValueListGrid->cell(0, 0), "");
  show(knownBlock());
  EXPECT_TRUE(f().PChart->isEnabled());
  EXPECT_EQ(f().PointSeries->count(), 100);
  EXPECT_EQ(f().ValueListGrid->cell(0, 0), "(0)  A:");
}

TEST_F(PgcFormDetailTest, ChartKeysActOnlyOnTheChartPageWithABlock) {
  showChartPage();
  f().PageControl->setCurrentWidget(f().ContentTabSheet);
  QTest::keyClick(form_.get(), Qt::Key_Right);
  EXPECT_TRUE(prompter_.messages.empty());  // no block: the items are off

  show(knownBlock());
  f().PageControl->setCurrentWidget(f().ContentTabSheet);
  QTest::keyClick(form_.get(), Qt::Key_Right);
  QTest::keyClick(form_.get(), Qt::Key_Z);
  EXPECT_EQ(block().CursorPos, 40);
  EXPECT_EQ(block().EvalStart, 30);

  f().PageControl->setCurrentWidget(f().ChartTabSheet);
  QTest::keyClick(form_.get(), Qt::Key_Right);
  EXPECT_EQ(block().CursorPos, 41);
  EXPECT_EQ(f().CursorPosDatLabel->text(), "41");
  QTest::keyClick(form_.get(), Qt::Key_Z);
  EXPECT_EQ(block().EvalStart, 29);
  EXPECT_EQ(block().EvalLength, 21);
  EXPECT_EQ(f().EvalSEdit->text(), "29");
  QTest::keyClick(form_.get(), Qt::Key_M);
  EXPECT_EQ(block().EvalLength, 22);
  EXPECT_EQ(block().State & EvalEdited, 0u);  // the refresh is done
}

TEST_F(PgcFormDetailTest, LeavingAnEditOrEnterTakesItsValue) {
  show(knownBlock());
  type(f().EvalSEdit, "12x");
  leave(f().EvalSEdit);
  EXPECT_EQ(f().EvalSEdit->text(), "30");  // no number: the member again
  type(f().EvalSEdit, "35");
  enter(f().EvalSEdit);
  EXPECT_EQ(block().EvalStart, 35);
  type(f().EvalLEdit, "10");
  leave(f().EvalLEdit);
  EXPECT_EQ(block().EvalLength, 10);
  EXPECT_EQ(f().StartPercentDatLabel->text(), "68.80 %");  // the panel follows
  type(f().NormFact20DatEdit, "2.5");
  enter(f().NormFact20DatEdit);
  EXPECT_EQ(block().NormFact, 2.5);
  EXPECT_EQ(f().NormFact20DatEdit->text(), "2.50");
  EXPECT_TRUE(prompter_.messages.empty());
}

TEST_F(PgcFormDetailTest, EditsActOnRealFocusChangesOnly) {
  showChartPage();
  show(knownBlock());
  f().EvalSEdit->setFocus();
  QApplication::processEvents();
  type(f().EvalSEdit, "44");
  f().EvalLEdit->setFocus();  // to another control of the window
  QApplication::processEvents();
  EXPECT_EQ(block().EvalStart, 44);

  // A dialog taking the focus from the window does not leave the edit.
  type(f().EvalLEdit, "7");
  QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
  QApplication::sendEvent(f().EvalLEdit, &away);
  EXPECT_EQ(block().EvalLength, 20);
}

// The edits show their members rounded: passing through one without typing
// must not read the rounded text back.
TEST_F(PgcFormDetailTest, PassingThroughAnEditChangesNothing) {
  showChartPage();
  BlockRecord r = knownBlock();
  r.EVANORM = 0.0061500007f;  // shown as "0.01"
  show(r);
  const EvalMembers before = f().Detail().Members();
  for (QLineEdit* edit : {f().NormFact20DatEdit, f().EvalSEdit, f().EvalLEdit}) {
    edit->setFocus();
    QApplication::processEvents();
    enter(edit);
  }
  f().NormFact20DatEdit->setFocus();
  QApplication::processEvents();
  ASSERT_EQ(f().NormFact20DatEdit->text(), "0.01");
  f().EvalSEdit->setFocus();
  QApplication::processEvents();
  const EvalMembers after = f().Detail().Members();
  EXPECT_EQ(after.normFact, before.normFact);
  EXPECT_EQ(after.evalStart, before.evalStart);
  EXPECT_EQ(after.evalLength, before.evalLength);
  EXPECT_EQ(f().Detail().Evaluation().dose.measDose, BlockDose(r));

  // Typing what is shown takes it, as any typed value.
  type(f().NormFact20DatEdit, "0.01");
  enter(f().NormFact20DatEdit);
  EXPECT_EQ(f().Detail().Members().normFact, 0.01f);
}

TEST_F(PgcFormDetailTest, WithoutABlockTheEditsDoNothing) {
  type(f().EvalSEdit, "12");
  leave(f().EvalSEdit);
  enter(f().EvalSEdit);
  EXPECT_TRUE(prompter_.messages.empty());
  EXPECT_EQ(f().EvalSEdit->text(), "12");
}

TEST_F(PgcFormDetailTest, DraggingTheLeftMarkerMovesTheWindow) {
  showChartPage();
  show(knownBlock());
  const int y = plotMiddleY();
  const QPoint start(pointPixel(30).x(), y);
  press(start);
  EXPECT_TRUE(block().State & LeftMarkerDrag);
  EXPECT_FALSE(block().State & RightMarkerDrag);
  EXPECT_EQ(f().PChart->rubberBand(), QChartView::NoRubberBand);
  EXPECT_EQ(viewport()->cursor().shape(), Qt::SizeAllCursor);

  dragTo(QPoint(pointPixel(60).x(), y));
  EXPECT_EQ(block().EvalStart, 60);
  EXPECT_EQ(block().EvalLength, 20);
  EXPECT_EQ(f().EvalSEdit->text(), "60");
  dragTo(QPoint(pointPixel(90).x(), y));
  EXPECT_EQ(block().EvalStart, 80);
  release(QPoint(pointPixel(10).x(), y));
  EXPECT_EQ(block().EvalStart, 10);
  EXPECT_EQ(block().EvalLength, 20);
  EXPECT_EQ(block().State & (LeftMarkerDrag | RightMarkerDrag | EvalEdited), 0u);
  EXPECT_EQ(f().PChart->rubberBand(), QChartView::RectangleRubberBand);
  EXPECT_EQ(viewport()->cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(block().CursorPos, 30);  // the click puts the cursor where the drag began
  EXPECT_EQ(f().DetailPage().ChartDownX, start.x());
  const QList<QPointF> window = f().DetailPage().Chart()->windowSeries()->points();
  ASSERT_FALSE(window.isEmpty());
  EXPECT_EQ(window.front().x(), 10);
  EXPECT_EQ(window.back().x(), 30);
}

TEST_F(PgcFormDetailTest, DraggingTheRightMarkerSetsTheLength) {
  showChartPage();
  show(knownBlock());
  const int y = plotMiddleY();
  press(QPoint(pointPixel(50).x() + 2, y));
  EXPECT_TRUE(block().State & RightMarkerDrag);
  EXPECT_FALSE(block().State & LeftMarkerDrag);
  dragTo(QPoint(pointPixel(45).x(), y));
  EXPECT_EQ(block().EvalLength, 15);
  dragTo(QPoint(pointPixel(20).x(), y));
  EXPECT_EQ(block().EvalLength, 1);
  const QRectF plot = f().DetailPage().Chart()->plotRect();
  release(QPoint(static_cast<int>(plot.right()) + 30, y));  // past the right end of the plot
  EXPECT_EQ(block().EvalStart, 30);
  EXPECT_EQ(block().EvalLength, 70);
  EXPECT_EQ(block().State & RightMarkerDrag, 0u);
  EXPECT_EQ(f().EvalLEdit->text(), "70");
}

TEST_F(PgcFormDetailTest, PressingAMarkerWithoutMovingKeepsTheWindow) {
  showChartPage();
  show(knownBlock());
  const int y = plotMiddleY();
  for (int index : {30, 50}) {
    const QPoint at(pointPixel(index).x(), y);
    press(at);
    release(at);
    EXPECT_EQ(block().EvalStart, 30) << index;
    EXPECT_EQ(block().EvalLength, 20) << index;
    EXPECT_EQ(block().CursorPos, index) << index;
  }
}

TEST_F(PgcFormDetailTest, ClickMovesTheCursorOnlyInsideThePlottedChannels) {
  showChartPage();
  show(knownBlock());
  const int y = plotMiddleY();
  press(QPoint(pointPixel(70).x(), y));
  release(QPoint(pointPixel(70).x(), y));
  EXPECT_EQ(block().CursorPos, 70);
  EXPECT_EQ(f().CursorPosDatLabel->text(), "70");
  EXPECT_EQ(block().State & (LeftMarkerDrag | RightMarkerDrag), 0u);

  press(QPoint(pointPixel(0).x() - 5, y));
  release(QPoint(pointPixel(0).x() - 5, y));
  EXPECT_EQ(block().CursorPos, 70);
}

TEST_F(PgcFormDetailTest, HoverShowsTheValuesInTheStatusBarAndTheSplitPointer) {
  showChartPage();
  show(knownBlock());
  const int y = plotMiddleY();
  hover(QPoint(pointPixel(40).x(), y));
  EXPECT_EQ(f().StatusBar->currentMessage(), "(X:40 ,N:3200 ,T:149 'C)");
  hover(QPoint(pointPixel(30).x() + 1, y));
  EXPECT_EQ(viewport()->cursor().shape(), Qt::SplitHCursor);
  hover(QPoint(pointPixel(40).x(), y));
  EXPECT_EQ(viewport()->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(PgcFormDetailTest, MarkersPeakAndCursorAreDrawnInTheirColours) {
  showChartPage();
  show(knownBlock());
  f().ChartCursorRightItem->trigger();
  f().ChartCursorRightItem->trigger();  // cursor 42, peak 40
  const QImage image = f().PChart->grab().toImage();
  const int y = plotMiddleY();
  EXPECT_EQ(image.pixelColor(pointPixel(30).x(), y), QColor(0x00, 0xFF, 0x00));
  EXPECT_EQ(image.pixelColor(pointPixel(50).x(), y), QColor(0x00, 0xFF, 0x00));
  const QPoint peak = pointPixel(40);
  EXPECT_EQ(image.pixelColor(peak.x(), peak.y() - 10), QColor(0x80, 0x00, 0x00));
  const QPoint cursor = pointPixel(42);
  EXPECT_EQ(image.pixelColor(cursor.x(), cursor.y() - 10), QColor(0xFF, 0x00, 0x00));
  // Inside the window the area has the window colour, outside the series colour.
  EXPECT_EQ(image.pixelColor(pointPixel(36).x(),
                             static_cast<int>(f().DetailPage().Chart()->plotRect().bottom()) - 3),
            QColor(0x00, 0x80, 0x00));
  EXPECT_EQ(image.pixelColor(pointPixel(20).x(),
                             static_cast<int>(f().DetailPage().Chart()->plotRect().bottom()) - 3),
            QColor(0x00, 0x59, 0x00));
}

// Writes the Chart page to the file named by QUELM_SCREENSHOT (run it under
// Xvfb to look at the real rendering); skipped otherwise.
// The fit runs where the test says, so that nothing races the window.
TEST_F(PgcFormDetailTest, DeconvolutionDrawsThePeaksAndListsThemBesideTheChart) {
  std::vector<
      std::pair<QPromise<quelm::DeconvolutionModel::Job>, std::function<quelm::DeconvolutionModel::Job()>>>
      held;
  f().Detail().Deconvolution().SetRunner([&](std::function<quelm::DeconvolutionModel::Job()> work) {
    held.emplace_back(QPromise<quelm::DeconvolutionModel::Job>(), std::move(work));
    return held.back().first.future();
  });
  show(MakeSampleBlocks({1, 3, 0}).front());
  f().PageControl->setCurrentWidget(f().ChartTabSheet);
  quelm::DeconvolutionView& view = *f().DetailPage().Deconvolution();

  f().ChartDeconvolutionItem->trigger();
  EXPECT_TRUE(f().ChartDeconvolutionItem->isChecked());
  EXPECT_FALSE(f().DeconvolutionPanel->isHidden());
  EXPECT_EQ(f().DeconvolutionStatusLabel->text(), "Fitting...");
  ASSERT_EQ(held.size(), 1u);
  held[0].first.start();
  held[0].first.addResult(held[0].second());
  held[0].first.finish();
  QApplication::processEvents();

  const quelm::DeconvolutionResult& r = f().Detail().Deconvolution().Result();
  ASSERT_TRUE(r.converged());
  EXPECT_EQ(f().DeconvolutionGrid->rowCount(), static_cast<int>(r.peaks.size()));
  EXPECT_EQ(f().DeconvolutionGrid->columnCount(), 5);  // #, Tm, E, b, share
  EXPECT_TRUE(f().DeconvolutionStatusLabel->text().contains("FOM"));
  // 99 channel steps of four points and the last channel.
  EXPECT_EQ(view.sumSeries()->count(), 99 * 4 + 1);
  EXPECT_EQ(view.peakSeries()[r.peaks.size() - 1]->count(), 99 * 4 + 1);
  EXPECT_EQ(view.peakSeries()[r.peaks.size()]->count(), 0);

  f().ChartDeconvolutionItem->trigger();
  EXPECT_FALSE(f().ChartDeconvolutionItem->isChecked());
  EXPECT_TRUE(f().DeconvolutionPanel->isHidden());
  EXPECT_EQ(view.sumSeries()->count(), 0);
}

TEST_F(PgcFormDetailTest, Screenshot) {
  const QString path = qEnvironmentVariable("QUELM_SCREENSHOT");
  if (path.isEmpty()) GTEST_SKIP() << "set QUELM_SCREENSHOT to a .png path";
  showChartPage();
  std::vector<BlockRecord> blocks = MakeSampleBlocks({60, 11, 100});
  const auto it = std::find_if(blocks.begin(), blocks.end(), [](const BlockRecord& b) {
    return b.ErrorCodes == 0 && b.Exposure != 0 && b.Exposure != 0xFFFF && b.BulbID[0] == 'B';
  });
  ASSERT_NE(it, blocks.end());
  show(*it);
  f().ChartCursorRightItem->trigger();
  f().ChartCursorRightItem->trigger();
  f().ChartCursorRightItem->trigger();
  hover(QPoint(pointPixel(55).x(), plotMiddleY()));
  QApplication::processEvents();
  ASSERT_TRUE(f().grab().save(path));
}

}  // namespace
