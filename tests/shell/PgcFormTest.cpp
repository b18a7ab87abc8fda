#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QProxyStyle>
#include <QStyle>
#include <QToolButton>
#include <QWheelEvent>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <memory>

#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "base/Diag.h"
#include "base/StringGrid.h"
#include "shell/AboutForm.h"
#include "shell/IoForm.h"
#include "shell/PgcForm.h"
#include "shell/DrawnIcons.h"

using quelm::test::ScriptedPrompter;

namespace {

class PgcFormTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  void TearDown() override { form_.reset(); }
  QString iniPath() const { return dir_.filePath(QStringLiteral("quelm.INI")); }
  void writeIni(const QByteArray& content) {
    QFile f(iniPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
  }
  QByteArray readIni() const {
    QFile f(iniPath());
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
  }
  TPgcForm& open() {
    form_ = std::make_unique<TPgcForm>();
    return *form_;
  }
  // Closing the program: the window goes and writes the configuration.
  void destroy() { form_.reset(); }
  // A shown, active window, so that its shortcuts are live.
  void activate() {
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  void setLoaded(bool loaded) {
    if (loaded)
      form_->DataBlock->State |= Loaded;
    else
      form_->DataBlock->State &= ~uint32_t{Loaded};
    ASSERT_EQ(form_->UpdateMenuItems(), 0);
  }
  void wheel(QWidget* target, int delta) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent e(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &e);
  }

  quelm::test::DiagScope quiet_;
  ScriptedPrompter prompter_;
  QTemporaryDir dir_;
  quelm::test::ConfigScope config_{dir_};
  std::unique_ptr<TPgcForm> form_;
};

QAction* action(TPgcForm& f, const char* name) {
  auto* a = f.findChild<QAction*>(QLatin1String(name));
  EXPECT_NE(a, nullptr) << name;
  return a;
}

TEST_F(PgcFormTest, WindowFrameAndPages) {
  TPgcForm& f = open();
  EXPECT_EQ(f.windowTitle(), QStringLiteral("Quelm"));
  EXPECT_EQ(f.minimumWidth(), 500);
  EXPECT_TRUE(prompter_.messages.empty());

  for (const char* name :
       {"ToolBarPanel",     "FileOpenSpeedButton", "RSSpeedButton",   "FileSaveTextSpeedButton",
        "PrintSpeedButton", "UpperPanel",          "PageControl",     "ContentTabSheet",
        "ChartTabSheet",    "TableTabSheet",       "BlockStringGrid", "LowerPanel",
        "Panel1",           "Panel2",              "Panel3",          "EvalSEdit",
        "EvalLEdit",        "NormFact20DatEdit",   "StatusBar",       "PgcMainMenu",
        "PrevPageButton",   "NextPageButton",      "FilterButton"})
    EXPECT_NE(f.findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
  // The chart and table pages are built when one of them is first shown.
  EXPECT_EQ(f.PChart, nullptr);
  EXPECT_EQ(f.ValueListGrid, nullptr);
  f.PageControl->setCurrentWidget(f.TableTabSheet);
  for (const char* name : {"PChart", "ValueListGrid", "DeconvolutionPanel"})
    EXPECT_NE(f.findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
  EXPECT_EQ(f.PChart->parentWidget(), f.ChartTabSheet);
  f.PageControl->setCurrentWidget(f.ContentTabSheet);

  for (const QToolButton* b : {f.FileOpenSpeedButton, f.RSSpeedButton, f.FileSaveTextSpeedButton, f.PrintSpeedButton})
    EXPECT_FALSE(b->icon().pixmap(20, 20).isNull()) << b->objectName().toStdString();
  EXPECT_EQ(f.FileOpenSpeedButton->toolTip(), QStringLiteral("Import from file"));
  EXPECT_EQ(f.RSSpeedButton->toolTip(), QStringLiteral("Import from Quelm"));
  EXPECT_EQ(f.FileSaveTextSpeedButton->toolTip(), QStringLiteral("Export data block to text"));

  ASSERT_EQ(f.PageControl->count(), 3);
  EXPECT_EQ(f.PageControl->tabText(0), QStringLiteral("Content"));
  EXPECT_EQ(f.PageControl->tabText(1), QStringLiteral("Chart"));
  EXPECT_EQ(f.PageControl->tabText(2), QStringLiteral("Table"));
  EXPECT_EQ(f.PageControl->widget(0), f.ContentTabSheet);
  EXPECT_EQ(f.PageControl->currentWidget(), f.ContentTabSheet);

  EXPECT_EQ(f.SourceLabel->text(), QStringLiteral("Source:"));
  EXPECT_EQ(f.AvailableBlocksLabel->text(), QStringLiteral("AvailableBlocks:"));
  EXPECT_EQ(f.FilterButton->text(), QStringLiteral("&Search"));
  EXPECT_EQ(f.PrevPageButton->text(), QStringLiteral("Pre&v page"));
  EXPECT_EQ(f.NextPageButton->text(), QStringLiteral("Nex&t page"));
}

TEST(DrawnIcons, EachDrawnIconIsPaintedAndUnlikeTheOthers) {
  using quelm::ToolBarIcon;
  std::vector<QImage> drawn;
  for (ToolBarIcon which : {ToolBarIcon::Open, ToolBarIcon::Reader, ToolBarIcon::SaveAs, ToolBarIcon::Print}) {
    const QImage image = quelm::drawnToolBarIcon(which).pixmap(20, 20).toImage();
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) > 128;
    EXPECT_GT(opaque, 60) << static_cast<int>(which);
    for (const QImage& other : drawn) EXPECT_NE(image, other) << static_cast<int>(which);
    drawn.push_back(image);
  }
}

TEST(DrawnIcons, TheStyleDrawsOnlyTheMenuBarsOverflowIconAndIsTheOneInUse) {
  const std::unique_ptr<QStyle> style(quelm::makeDrawnIconStyle());
  auto* proxy = qobject_cast<QProxyStyle*>(style.get());
  ASSERT_NE(proxy, nullptr);
  EXPECT_EQ(proxy->baseStyle()->name(), QApplication::style()->name());
  EXPECT_EQ(style->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton).availableSizes(),
            QList<QSize>{QSize(8, 8)});
  for (QStyle::StandardPixmap other : {QStyle::SP_DialogOpenButton, QStyle::SP_ToolBarVerticalExtensionButton})
    EXPECT_EQ(style->standardIcon(other).availableSizes(), QApplication::style()->standardIcon(other).availableSizes());
}

TEST_F(PgcFormTest, HeaderAndEvaluationCaptions) {
  TPgcForm& f = open();
  const std::pair<QLabel*, const char*> captions[] = {
      {f.DeviceIDLabel, "DeviceID:"},
      {f.DosimeterLabel, "Dosimeter:"},
      {f.DateTimeLabel, "DateTime:"},
      {f.ErrorCodesLabel, "ErrorCodes:"},
      {f.BlockNumberLabel, "BlockNumber:"},
      {f.MeasPointsLabel, "MeasPoints:"},
      {f.SamplingSpeedLabel, "SamplingSpeed:"},
      {f.ReaderTempLabel, "ReaderTemp:"},
      {f.MeasuredDoseLabel, "MeasuredDose:"},
      {f.ApprDoseRateLabel, "Appr.DoseRate:"},
      {f.LastReadOutLabel, "LastReadOut:"},
      {f.ExposureLabel, "Exposure:"},
      {f.EvalStartLabel, "EvalStart [ch]:"},
      {f.EvalLengthLabel, "EvalLength [ch]:"},
      {f.NormFactLabel, "NormFact:"},
      {f.StartPercentLabel, "StartPercent:"},
      {f.StopPercentLabel, "StopPercent:"},
      {f.PeakPosLabel, "PeakPos [ch]:"},
      {f.PeakValueLabel, "PeakValue [cnt]:"},
      {f.PeakTempLabel, "PeakTemp:"},
      {f.CursorPosLabel, "CursorPos[ch]:"},
      {f.CursorValueLabel, "CursorValue [cnt]:"},
      {f.CursorTempLabel, "CursorTemp:"},
      {f.ROILabel, "ROI:"},
      {f.ROIDoseLabel, "ROI_Dose:"},
      {f.BgDoseLabel, "Bg_Dose:"},
      {f.BgCorrDoseLabel, "BgCorr_Dose:"},
      {f.TCorrDoseLabel, "TCorr_Dose:"},
      {f.MeasDoseLabel, "Meas_Dose:"},
  };
  for (const auto& [label, text] : captions) {
    ASSERT_NE(label, nullptr) << text;
    EXPECT_EQ(label->text(), QString::fromLatin1(text));
  }
  // Each pair sits in its sub-panel; the edits belong to Panel1.
  EXPECT_EQ(f.EvalSEdit->parentWidget(), f.Panel1);
  EXPECT_EQ(f.NormFact20DatEdit->parentWidget(), f.Panel1);
  EXPECT_EQ(f.CursorTempDatLabel->parentWidget(), f.Panel2);
  EXPECT_EQ(f.MeasDoseDatLabel->parentWidget(), f.Panel3);
  EXPECT_EQ(f.ExposureDatLabel->parentWidget(), f.UpperPanel);
  EXPECT_EQ(f.Panel1->palette().color(QPalette::Window), QColor(0xC0, 0xE0, 0xFF));
  EXPECT_TRUE(f.Panel1->autoFillBackground());

  EXPECT_EQ(f.ROIDoseLabel->toolTip(), QStringLiteral("(ROI * 10) / NormFact"));
  EXPECT_EQ(f.BgCorrDoseLabel->toolTip(), QStringLiteral("ROI_Dose - Bg_Dose"));
  EXPECT_EQ(f.TCorrDoseLabel->toolTip(), QStringLiteral("BgCorr_Dose / ((DTFA*(T-20)^2 + DTFB*(T-20) + 1) "));
  EXPECT_EQ(
      f.MeasDoseLabel->toolTip(),
      QStringLiteral("if (TCorr_Dose > DLFN)  Meas_Dose=TCorr_Dose*DLFA*x^DLFB else  Meas_Dose=TCorr_Dose ; "
                     "\"x = TCorr_Dose / DLFN\""));
}

TEST_F(PgcFormTest, GridsAndChart) {
  TPgcForm& f = open();
  quelm::StringGrid& g = *f.BlockStringGrid;
  EXPECT_EQ(g.colCount(), 9);
  EXPECT_EQ(g.gridRowCount(), 21);
  EXPECT_EQ(g.fixedRows(), 1);
  const char* titles[] = {"BlockNo",         "DateTime",  "Dosimeter",   "Dose",      "Exposure",
                          "Appr. Dose rate", "Device ID", "Temperature", "ErrorCodes"};
  for (int c = 0; c < 9; ++c) EXPECT_EQ(g.cell(c, 0), QString::fromLatin1(titles[c])) << c;
  EXPECT_EQ(g.selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(g.editTriggers(), QAbstractItemView::NoEditTriggers);
  // Data rows count from 1, below the title row.
  g.setCell(3, 20, QStringLiteral("1.00 mSv"));
  EXPECT_EQ(g.cell(3, 20), QStringLiteral("1.00 mSv"));
  EXPECT_EQ(g.item(19, 3)->text(), QStringLiteral("1.00 mSv"));
  g.setSelectedRow(20);
  EXPECT_EQ(g.selectedRow(), 20);
  g.clearCells();
  EXPECT_EQ(g.cell(3, 20), QString());
  EXPECT_EQ(g.cell(0, 0), QStringLiteral("BlockNo"));

  f.BuildDetailPages();
  quelm::StringGrid& v = *f.ValueListGrid;
  EXPECT_EQ(v.colCount(), 16);
  EXPECT_EQ(v.gridRowCount(), 27);
  EXPECT_EQ(v.fixedRows(), 0);
  EXPECT_EQ(v.rowHeight(0), 14);
  EXPECT_EQ(v.rowHeight(26), 14);
  const int widths[4] = {50, 90, 50, 1};
  for (int c = 0; c < 16; ++c) EXPECT_EQ(v.colWidth(c), widths[c % 4]) << c;
  v.setCell(0, 0, QStringLiteral("(0)  A:"));
  EXPECT_EQ(v.item(0, 0)->text(), QStringLiteral("(0)  A:"));

  QChart* chart = f.PChart->chart();
  EXPECT_FALSE(f.PChart->isEnabled());
  EXPECT_FALSE(chart->legend()->isVisible());
  EXPECT_TRUE(chart->title().isEmpty());
  // The area, the temperature points and the evaluation window drawn over the
  // area, then the lines of up to eight fitted peaks and of their sum.
  EXPECT_EQ(chart->series().size(), 3 + 8 + 1);
  EXPECT_EQ(f.AreaSeries->upperSeries(), f.AreaUpperSeries);
  const auto axes = [&](QAbstractSeries* s, Qt::Alignment a) {
    for (QAbstractAxis* x : s->attachedAxes())
      if (x->alignment() == a) return static_cast<QValueAxis*>(x);
    return static_cast<QValueAxis*>(nullptr);
  };
  EXPECT_EQ(axes(f.AreaSeries, Qt::AlignBottom), f.ChartBottomAxis);
  EXPECT_EQ(axes(f.AreaSeries, Qt::AlignLeft), f.ChartLeftAxis);
  EXPECT_EQ(axes(f.PointSeries, Qt::AlignRight), f.ChartRightAxis);
  EXPECT_EQ(axes(f.PointSeries, Qt::AlignBottom), f.ChartBottomAxis);
  EXPECT_EQ(f.ChartBottomAxis->titleText(), QStringLiteral("Channel"));
  EXPECT_EQ(f.ChartRightAxis->titleText(), QStringLiteral("'C"));
}

struct MenuEntry {
  const char* name;
  const char* caption;
  int key;  // 0: no shortcut
};

TEST_F(PgcFormTest, MenuItemsCaptionsAndPlainKeyShortcuts) {
  TPgcForm& f = open();
  const MenuEntry entries[] = {
      {"FromFile1", "From File", 0},
      {"FromQuelm1", "From Quelm", 0},
      {"DataBlocktoTextFile1", "Data Block to Text File", 0},
      {"Print1", "Print", 0},
      {"Download1", "Download", 0},
      {"ComPort1", "Com Port", 0},
      {"ReaderParameterTable1", "Reader Parameter Table", 0},
      {"DosimeterparameterTable1", "Dosimeter Parameter Table", 0},
      {"Softwareupdate1", "Software Update", 0},
      {"HelpAboutItem", "&About", 0},
      {"NavigationFirstItem", "&First Block", Qt::Key_Home},
      {"NavigationNextItem", "&Next Page", Qt::Key_PageUp},
      {"NavigationPreviousItem", "&Previous Page", Qt::Key_PageDown},
      {"NavigationLastItem", "&Last Block", Qt::Key_End},
      {"NavigationNext", "Next Item", Qt::Key_Up},
      {"NavigationPrev", "Previous Item", Qt::Key_Down},
      {"GoToInsert1", "Go To ", Qt::Key_Insert},
      {"ChartCursorLeftItem", "Cursor to left", Qt::Key_Left},
      {"ChartCursorRightItem", "Cursor to right", Qt::Key_Right},
      {"ChartEvalStartLeftItem", "Left marker to left", Qt::Key_Z},
      {"ChartEvalStartRightItem", "Left marker to right", Qt::Key_X},
      {"ChartEvalLengthLeftItem", "Right marker to left", Qt::Key_N},
      {"ChartEvalLengthRightItem", "Right marker to right", Qt::Key_M},
      {"ChartNFInrease10Item", "+10   %", Qt::Key_Q},
      {"ChartNFInrease1Item", "+  1   %", Qt::Key_W},
      {"ChartNFInrease01Item", "+  0.1%", Qt::Key_E},
      {"ChartNFDecrease10Item", "-10   %", Qt::Key_A},
      {"ChartNFDecrease1Item", "-  1   %", Qt::Key_S},
      {"ChartNFDecrease01Item", "-  0.1%", Qt::Key_D},
      {"Calibration1", "&Calibration", 0},
      {"Service1", "Service", 0},
  };
  for (const MenuEntry& e : entries) {
    QAction* a = action(f, e.name);
    if (!a) continue;
    EXPECT_EQ(a->text(), QString::fromLatin1(e.caption)) << e.name;
    EXPECT_EQ(a->shortcut(), e.key ? QKeySequence(e.key) : QKeySequence()) << e.name;
  }

  // The menu tree.
  const QList<QAction*> top = f.PgcMainMenu->actions();
  QStringList topCaptions;
  for (QAction* a : top) topCaptions << a->text();
  EXPECT_EQ(topCaptions, (QStringList{"&File", "Download", "Options", "&Tools", "&Help", "Service"}));
  EXPECT_EQ(f.Calibration1->parent(), f.Tools1);
  EXPECT_EQ(f.Import1->title(), QStringLiteral("Import..."));
  EXPECT_EQ(f.Export1->title(), QStringLiteral("Export..."));
  EXPECT_EQ(f.FromFile1->parent(), f.Import1);
  EXPECT_EQ(f.DataBlocktoTextFile1->parent(), f.Export1);
  EXPECT_EQ(f.Navigation->title(), QStringLiteral("&Navigation"));
  EXPECT_EQ(f.Chart->title(), QStringLiteral("&Chart"));
  EXPECT_EQ(f.NFincrease1->title(), QStringLiteral("NF increase"));
  EXPECT_EQ(f.NFdecrease1->title(), QStringLiteral("NF decrease"));
  EXPECT_EQ(f.NavigationPrev->parent(), f.Navigation);
  EXPECT_EQ(f.ChartNFDecrease01Item->parent(), f.NFdecrease1);
  EXPECT_TRUE(f.Chart->actions().contains(f.NFincrease1->menuAction()));
  EXPECT_TRUE(f.Help1->actions().contains(f.Navigation->menuAction()));
  EXPECT_TRUE(f.Help1->actions().contains(f.Chart->menuAction()));
}

TEST_F(PgcFormTest, BlockCommandsFollowTheLoadedBitAndLaterCommandsAreOffered) {
  TPgcForm& f = open();
  const auto blockDependent = [&] {
    std::vector<std::pair<const char*, bool>> s = {
        {"Navigation", f.Navigation->menuAction()->isEnabled()},
        {"Chart", f.Chart->menuAction()->isEnabled()},
        {"NavigationNext", f.NavigationNext->isEnabled()},
        {"GoToInsert1", f.GoToInsert1->isEnabled()},
        {"ChartCursorLeftItem", f.ChartCursorLeftItem->isEnabled()},
        {"ChartNFDecrease01Item", f.ChartNFDecrease01Item->isEnabled()},
        {"PrevPageButton", f.PrevPageButton->isEnabled()},
        {"NextPageButton", f.NextPageButton->isEnabled()},
        {"FilterButton", f.FilterButton->isEnabled()},
    };
    return s;
  };
  for (const auto& [name, on] : blockDependent()) EXPECT_FALSE(on) << name;
  setLoaded(true);
  for (const auto& [name, on] : blockDependent()) EXPECT_TRUE(on) << name;
  setLoaded(false);
  for (const auto& [name, on] : blockDependent()) EXPECT_FALSE(on) << name;
  // The block export follows the shown block once it exists.
  setLoaded(true);
  EXPECT_TRUE(f.FileSaveTextSpeedButton->isEnabled());
  EXPECT_TRUE(f.DataBlocktoTextFile1->isEnabled());
  setLoaded(false);
  EXPECT_FALSE(f.FileSaveTextSpeedButton->isEnabled());

  // Always on: both imports and Print. Present but off until their windows exist.
  EXPECT_TRUE(f.FromFile1->isEnabled());
  EXPECT_TRUE(f.FileOpenSpeedButton->isEnabled());
  EXPECT_TRUE(f.FromQuelm1->isEnabled());
  EXPECT_TRUE(f.RSSpeedButton->isEnabled());
  EXPECT_TRUE(f.Print1->isEnabled());
  EXPECT_TRUE(f.PrintSpeedButton->isEnabled());
  // Every window's item is switched on where its window is made (start-up).
  for (QAction* a : {f.Download1, f.ComPort1, f.ReaderParameterTable1, f.DosimeterparameterTable1,
                     f.DoseArchive1, f.HelpAboutItem, f.Softwareupdate1, f.Calibration1})
    EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
}

TEST_F(PgcFormTest, UpdateMenuItemsWithoutDataObjectReportsNullptr) {
  TPgcForm& f = open();
  f.DataBlock.reset();
  EXPECT_EQ(f.UpdateMenuItems(), -102);
  EXPECT_EQ(prompter_.texts(), QStringList{QStringLiteral("Nullptr error (no memalloc. for variable?)")});
}

TEST_F(PgcFormTest, FunctionKeysSelectThePagesFromAnyControl) {
  TPgcForm& f = open();
  activate();
  f.BlockStringGrid->setFocus();
  QTest::keyClick(f.BlockStringGrid, Qt::Key_F2);
  EXPECT_EQ(f.PageControl->currentWidget(), f.ChartTabSheet);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3);
  EXPECT_EQ(f.PageControl->currentWidget(), f.TableTabSheet);
  f.EvalSEdit->setFocus();
  QTest::keyClick(f.EvalSEdit, Qt::Key_F1);
  EXPECT_EQ(f.PageControl->currentWidget(), f.ContentTabSheet);
  EXPECT_TRUE(f.EvalSEdit->text().isEmpty());
}

TEST_F(PgcFormTest, TheWheelActsExactlyLikeTheUpAndDownKeys) {
  TPgcForm& f = open();
  f.BuildDetailPages();  // the wheel turns over the chart too
  setLoaded(true);
  activate();
  f.BlockStringGrid->setFocus();
  int next = 0, prev = 0;
  QObject::connect(f.NavigationNext, &QAction::triggered, [&] { ++next; });
  QObject::connect(f.NavigationPrev, &QAction::triggered, [&] { ++prev; });

  // The keys themselves ...
  QTest::keyClick(f.BlockStringGrid, Qt::Key_Up);
  QTest::keyClick(f.BlockStringGrid, Qt::Key_Down);
  ASSERT_EQ(next, 1);
  ASSERT_EQ(prev, 1);
  // ... and the wheel: away from the user is Up, towards the user Down.
  wheel(f.BlockStringGrid->viewport(), 120);
  EXPECT_EQ(next, 2);
  EXPECT_EQ(prev, 1);
  wheel(f.BlockStringGrid->viewport(), -120);
  EXPECT_EQ(next, 2);
  EXPECT_EQ(prev, 2);
  // Wherever the pointer is, the key goes where the keyboard goes, even
  // over another window of the program.
  wheel(f.UpperPanel, -240);
  EXPECT_EQ(prev, 4);
  TIoForm log;
  log.show();
  activate();
  f.BlockStringGrid->setFocus();
  wheel(log.LogRichEdit->viewport(), 120);
  EXPECT_EQ(next, 3);
  next = 2;
  // A fine-grained wheel makes one key press per notch of travel.
  wheel(f.PChart, 40);
  wheel(f.PChart, 40);
  EXPECT_EQ(next, 2);
  wheel(f.PChart, 40);
  EXPECT_EQ(next, 3);
  // Turning back starts a new notch.
  wheel(f.PChart, 60);
  wheel(f.PChart, -60);
  EXPECT_EQ(next, 3);
  EXPECT_EQ(prev, 4);
}

TEST_F(PgcFormTest, TheWheelReachesAnEditThatClaimsTheKey) {
  TPgcForm& f = open();
  setLoaded(true);
  activate();
  int next = 0;
  QObject::connect(f.NavigationNext, &QAction::triggered, [&] { ++next; });
  // Home is an editing key of a line edit: the edit keeps it, as with a key
  // press. Up is not, so the menu shortcut still fires from the edit.
  f.EvalSEdit->setText(QStringLiteral("12"));
  f.EvalSEdit->setFocus();
  f.EvalSEdit->setCursorPosition(2);
  QTest::keyClick(f.EvalSEdit, Qt::Key_Home);
  EXPECT_EQ(f.EvalSEdit->cursorPosition(), 0);
  wheel(f.EvalSEdit, 120);
  EXPECT_EQ(next, 1);
}

TEST_F(PgcFormTest, WithoutABlockTheWheelTriggersNothing) {
  TPgcForm& f = open();
  activate();
  int fired = 0;
  QObject::connect(f.NavigationNext, &QAction::triggered, [&] { ++fired; });
  QObject::connect(f.NavigationPrev, &QAction::triggered, [&] { ++fired; });
  wheel(f.BlockStringGrid->viewport(), 120);
  wheel(f.BlockStringGrid->viewport(), -120);
  EXPECT_EQ(fired, 0);
}

TEST_F(PgcFormTest, HintsReachTheStatusBar) {
  TPgcForm& f = open();
  activate();
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(f.RSSpeedButton, &enter);
  EXPECT_EQ(f.StatusBar->currentMessage(), QStringLiteral("Import from Quelm"));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(f.RSSpeedButton, &leave);
  EXPECT_TRUE(f.StatusBar->currentMessage().isEmpty());
  QApplication::sendEvent(f.ROIDoseLabel, &enter);
  EXPECT_EQ(f.StatusBar->currentMessage(), QStringLiteral("(ROI * 10) / NormFact"));

  f.BuildDetailPages();
  f.SetChartHint(QStringLiteral("(X:12 ,N:345 ,T:120 'C)"));
  EXPECT_EQ(f.StatusBar->currentMessage(), QStringLiteral("(X:12 ,N:345 ,T:120 'C)"));
  EXPECT_TRUE(f.PChart->toolTip().isEmpty());  // the chart itself shows no tool tip
}

TEST_F(PgcFormTest, ResizeKeepsTheGridAndTheCaptionColumnsInPlace) {
  TPgcForm& f = open();
  activate();
  for (const QSize size : {QSize(900, 700), QSize(500, 480), QSize(1200, 800)}) {
    f.resize(size);
    QApplication::processEvents();
    const int w = f.width();
    EXPECT_EQ(f.BlockStringGrid->y(), 50);
    EXPECT_EQ(f.BlockStringGrid->height(), f.ContentTabSheet->height() - 50) << w;
    EXPECT_EQ(f.BlockStringGrid->width(), f.ContentTabSheet->width());
    EXPECT_EQ(f.Panel1->x(), 0);
    EXPECT_EQ(f.Panel2->x(), w * 8 / 25) << w;
    EXPECT_EQ(f.Panel3->x(), w * 16 / 25) << w;
    EXPECT_EQ(f.Panel3->x() + f.Panel3->width(), w);
    const int margin = f.DeviceIDLabel->x();
    EXPECT_EQ(f.BlockNumberLabel->x(), w * 8 / 25 + margin) << w;
    EXPECT_EQ(f.MeasuredDoseLabel->x(), w * 16 / 25 + margin) << w;
    EXPECT_EQ(f.ExposureDatLabel->y(), f.ExposureLabel->y());
    EXPECT_GT(f.ExposureDatLabel->x(), f.ExposureLabel->x());
  }
}

// --- The configuration file through the window ---------------------------

TEST_F(PgcFormTest, NoConfigurationFileOpensWithTheDefaultsAndWritesAllKeys) {
  TPgcForm& f = open();
  EXPECT_TRUE(prompter_.messages.empty());
  EXPECT_EQ(f.pos(), QPoint(10, 10));
  EXPECT_EQ(f.size(), QSize(771, 652));
  EXPECT_EQ(f.PortNumber, 1);
  EXPECT_EQ(f.BaudRate, 9u);
  EXPECT_EQ(f.Professional, 0);
  EXPECT_EQ(f.MaxPostHeating, 50);
  EXPECT_FALSE(f.Service1->isVisible());
  EXPECT_EQ(DiagFlags & quelm::kServiceLevelBits, 0u);
  destroy();
  EXPECT_EQ(readIni(), QByteArray("[Serial port settings]\r\nPortNumber=1\r\nBaudRate=9\r\n\r\n"
                                  "[Screen]\r\nLeft=10\r\nTop=10\r\nHeight=652\r\nWidth=771\r\n\r\n"
                                  "[Safety restrictions]\r\nProfessional=0\r\n\r\n"
                                  "[Reader Parameters]\r\nMaxPostHeating=50\r\n"));
}

TEST_F(PgcFormTest, TheServiceKeyShowsTheServiceMenuAndIsWrittenBack) {
  writeIni("[Safety restrictions]\r\nProfessional=1403726958\r\n");
  DiagFlags = 0x08;
  TPgcForm& f = open();
  EXPECT_EQ(f.Professional, 1);
  EXPECT_TRUE(f.Service1->isVisible());
  EXPECT_TRUE(f.Service1->isEnabled());
  EXPECT_EQ(DiagFlags, 0x08u | 0x200u | 0x400u);
  destroy();
  EXPECT_TRUE(readIni().contains("[Safety restrictions]\r\nProfessional=1403726958\r\n"));
}

TEST_F(PgcFormTest, AnyOtherLevelValueHidesServiceAndIsWrittenAsZero) {
  writeIni("[Safety restrictions]\r\nProfessional=1\r\n");
  DiagFlags = 0x600 | 0x08;  // left over: the level is decided by the file alone
  TPgcForm& f = open();
  EXPECT_EQ(f.Professional, 0);
  EXPECT_FALSE(f.Service1->isVisible());
  EXPECT_FALSE(f.Service1->isEnabled());
  EXPECT_EQ(DiagFlags, 0x08u);
  destroy();
  EXPECT_TRUE(readIni().contains("[Safety restrictions]\r\nProfessional=0\r\n"));
}

TEST_F(PgcFormTest, MovedAndResizedBoundsAreStoredAndAppliedNextTime) {
  {
    TPgcForm& f = open();
    f.move(40, 30);
    f.resize(700, 500);
    destroy();
  }
  const QByteArray ini = readIni();
  EXPECT_TRUE(ini.contains("[Screen]\r\nLeft=40\r\nTop=30\r\nHeight=500\r\nWidth=700\r\n"))
      << ini.constData();
  TPgcForm& again = open();
  EXPECT_EQ(again.pos(), QPoint(40, 30));
  EXPECT_EQ(again.size(), QSize(700, 500));
}

TEST_F(PgcFormTest, PortChoiceAndPostHeatingBoundSurviveARun) {
  writeIni(
      "[Serial port settings]\r\nCOM1=/dev/ttyUSB0\r\nPortNumber=3\r\nBaudRate=7\r\n"
      "[Reader Parameters]\r\nMaxPostHeating=35\r\n");
  TPgcForm& f = open();
  EXPECT_EQ(f.PortNumber, 3);
  EXPECT_EQ(f.BaudRate, 7u);
  EXPECT_EQ(f.MaxPostHeating, 35);
  f.PortNumber = 4;  // as the port options window would
  destroy();
  const QByteArray ini = readIni();
  EXPECT_TRUE(ini.startsWith("[Serial port settings]\r\nCOM1=/dev/ttyUSB0\r\nPortNumber=4\r\nBaudRate=7\r\n"))
      << ini.constData();
  EXPECT_TRUE(ini.contains("[Reader Parameters]\r\nMaxPostHeating=35\r\n"));
}

TEST_F(PgcFormTest, AnUnreadableFileIsReportedAndTheWindowStillWorks) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("quelm.INI")));
  TPgcForm& f = open();
  EXPECT_EQ(prompter_.texts(), QStringList{QStringLiteral("INI/CFG file access error")});
  EXPECT_EQ(f.pos(), QPoint(10, 10));
  EXPECT_EQ(f.BlockStringGrid->cell(0, 0), QStringLiteral("BlockNo"));
  f.BuildDetailPages();
  EXPECT_FALSE(f.PChart->isEnabled());
  prompter_.clear();
  destroy();
  EXPECT_EQ(prompter_.texts(), QStringList{QStringLiteral("Unable to write to ") + iniPath()});
  EXPECT_TRUE(QFileInfo(iniPath()).isDir());
}

TEST_F(PgcFormTest, AWindowSavedOffEveryScreenOpensWhereItCanBeReached) {
  writeIni("[Screen]\r\nLeft=20000\r\nTop=15000\r\nHeight=500\r\nWidth=600\r\n");
  TPgcForm& f = open();
  EXPECT_EQ(f.pos(), QPoint(10, 10));
  EXPECT_EQ(f.size(), QSize(600, 500));
}

TEST_F(PgcFormTest, ATooNarrowWidthGivesTheMinimum) {
  writeIni("[Screen]\r\nWidth=200\r\n");
  TPgcForm& f = open();
  EXPECT_EQ(f.width(), 500);
}

}  // namespace
