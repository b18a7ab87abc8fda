// The main window read at its first size (771 x 652): values whole, the
// content grid's nine columns in view, the value table's rows of 14 pixels
// in a fixed-pitch face, and a new page shown from its top.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <cstring>
#include <memory>

#include "ScriptedPrompter.h"
#include "base/Config.h"
#include "base/FitText.h"
#include "base/StringGrid.h"
#include "evaluation/ContentModel.h"
#include "sample-data/SampleData.h"
#include "shell/PgcForm.h"

namespace {

class PgcFormLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    quelm::setConfigFilePath(dir_.filePath(QStringLiteral("quelm.INI")));
    form_ = std::make_unique<TPgcForm>();
    form_->show();
  }
  void TearDown() override {
    form_.reset();
    quelm::setConfigFilePath(QString());
  }

  // Generated blocks, and optionally as the newest one a block that carries
  // every independent error flag and a peak of the largest countable value.
  void import(bool extremeNewest) {
    const QString path = dir_.filePath(QStringLiteral("run.dat"));
    SampleDataOptions options;
    options.blocks = 60;
    std::vector<BlockRecord> blocks = MakeSampleBlocks(options);
    if (extremeNewest) {
      BlockRecord r;
      std::memcpy(&r, &blocks.back(), sizeof r);
      r.BlockNumber = 60;
      r.ErrorCodes = 0x3F;
      for (int ch = 30; ch < 50; ++ch) r.RawValues[kAuxValueCount + ch] = 0x4FFF;
      blocks.push_back(r);
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (const BlockRecord& b : blocks) file.write(reinterpret_cast<const char*>(&b), sizeof b);
    file.close();
    prompter_.fileAnswers.push_back(path);
    form_->FileOpenSpeedButton->click();
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    ASSERT_TRUE(prompter_.messages.empty());
  }

  QTemporaryDir dir_;
  quelm::test::ScriptedPrompter prompter_;
  std::unique_ptr<TPgcForm> form_;
};

TEST_F(PgcFormLayoutTest, EveryValueAndHintReadsWholeAtTheFirstSize) {
  import(true);
  TPgcForm& f = *form_;
  ASSERT_EQ(f.size(), QSize(771, 652));
  EXPECT_EQ(f.ErrorCodesDatLabel->text(), "EBSE EBBG EBHE EBOV EBCK EBST ");
  EXPECT_TRUE(f.CursorValueDatLabel->text().startsWith("1073479680 ("))
      << f.CursorValueDatLabel->text().toStdString();
  int values = 0;
  for (const QWidget* panel : {static_cast<QWidget*>(f.UpperPanel), static_cast<QWidget*>(f.LowerPanel)}) {
    for (const auto* label : panel->findChildren<quelm::FitLabel*>()) {
      if (label->text().isEmpty()) continue;
      ++values;
      const QFont drawn = label->DrawnFont();
      EXPECT_TRUE(quelm::TextFits(drawn, label->text(), label->contentsRect().width()))
          << label->objectName().toStdString() << ": " << label->text().toStdString();
      EXPECT_GE(QFontInfo(drawn).pixelSize(), quelm::kMinFittedPixelSize)
          << label->objectName().toStdString();
    }
  }
  EXPECT_GE(values, 20);

  // The formula hints of the evaluation captions in the status bar.
  for (const QLabel* caption : {f.ROIDoseLabel, f.BgCorrDoseLabel, f.TCorrDoseLabel, f.MeasDoseLabel}) {
    f.ShowHint(caption->statusTip());
    auto* bar = static_cast<quelm::FitStatusBar*>(f.StatusBar);
    EXPECT_TRUE(quelm::TextFits(bar->DrawnFont(), caption->statusTip(), bar->MessageWidth()))
        << caption->statusTip().toStdString();
  }
}

TEST_F(PgcFormLayoutTest, GridsShowTheirColumnsAndANewPageFromItsTop) {
  import(false);
  TPgcForm& f = *form_;
  // The value table: rows of 14 pixels in a fixed-pitch face that fits them.
  const QFontMetrics table(f.ValueListGrid->font());
  EXPECT_EQ(table.horizontalAdvance(QLatin1Char(' ')), table.horizontalAdvance(QLatin1Char('8')));
  EXPECT_EQ(table.horizontalAdvance(QLatin1Char('1')), table.horizontalAdvance(QLatin1Char('8')));
  EXPECT_LE(table.height(), 13);
  int cells = 0;
  for (int col = 0; col < f.ValueListGrid->colCount(); ++col) {
    const QTableWidgetItem* item = f.ValueListGrid->item(10, col);
    if (item == nullptr || item->text().isEmpty()) continue;
    ++cells;
    EXPECT_LE(table.horizontalAdvance(item->text()) + quelm::kGridCellPadding, f.ValueListGrid->colWidth(col))
        << "column " << col << " cuts \"" << item->text().toStdString() << '"';
  }
  EXPECT_EQ(cells, 12) << "three filled columns in each of the four groups";

  // The content grid: all nine columns in view, each as wide as its texts.
  quelm::StringGrid& grid = *f.BlockStringGrid;
  int total = 0;
  for (int col = 0; col < grid.colCount(); ++col) {
    total += grid.colWidth(col);
    for (int row = 1; row <= 20; ++row) {
      const QTableWidgetItem* item = grid.item(row - 1, col);
      ASSERT_NE(item, nullptr);
      EXPECT_LE(QFontMetrics(item->font()).horizontalAdvance(item->text().trimmed()), grid.colWidth(col))
          << "row " << row << " column " << col;
    }
  }
  EXPECT_LE(total, grid.viewport()->width());

  // The oldest row selected scrolls the list; a search shows its page from the top.
  grid.setSelectedRow(20);
  QApplication::processEvents();
  ASSERT_GT(grid.verticalScrollBar()->value(), 0) << "the page fits: nothing to scroll";
  f.Content().Search([](quelm::SearchState& s) {
    s.Request.Flags = kSearchByNumber;
    s.Request.FromBlock = s.LowerLimit = 20;
    s.Request.StartBlock = s.UpperLimit = 35;
    return true;
  });
  QApplication::processEvents();
  EXPECT_EQ(grid.cell(0, 1), "35");
  EXPECT_EQ(grid.verticalScrollBar()->value(), 0);
}

}  // namespace
