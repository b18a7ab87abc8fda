// The Content page of the main window against generated data files: import,
// paging, item navigation by keys and wheel, loading the selected row, and
// the search through the (scripted) search window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "ContentPageDriver.h"
#include "ScriptedPrompter.h"
#include "evaluation/ContentList.h"
#include "evaluation/SearchCriteria.h"
#include "evaluation/SearchForm.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"
#include "base/Config.h"
#include "base/Diag.h"
#include "shell/PgcForm.h"
#include "base/StringGrid.h"

using namespace quelm;
using namespace quelm::test;

namespace {

// Block numbers from `from` down to `downTo`, across the wrap.
std::vector<int> numbers(int from, int downTo) {
  std::vector<int> v;
  for (int n = from;; n = PrevBlockNumber(static_cast<uint32_t>(n))) {
    v.push_back(n);
    if (n == downTo) break;
  }
  return v;
}

BlockSummary summaryOf(const BlockRecord& r) {
  BlockSummary s;
  std::memset(&s, 0, sizeof s);
  s.Lead = r.Lead;
  s.BlockNumber = r.BlockNumber;
  std::memcpy(s.DateTime, r.DateTime, 5);
  std::memcpy(s.DeviceID, r.DeviceID, 5);
  std::memcpy(s.BulbID, r.BulbID, 5);
  s.ReaderTemp = r.ReaderTemp;
  s.ErrorCodes = r.ErrorCodes;
  s.MeasuredDose = r.MeasuredDose;
  s.Exposure = r.Exposure;
  return s;
}

class ContentPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedFlags_ = DiagFlags;
    DiagFlags = 0;
    ASSERT_TRUE(dir.isValid());
    setConfigFilePath(dir.filePath(QStringLiteral("quelm.INI")));
    form = std::make_unique<TPgcForm>();
    grid = form->BlockStringGrid;
  }
  void TearDown() override {
    form.reset();
    setConfigFilePath(QString());
    DiagFlags = savedFlags_;
  }

  QString write(const char* name, const SampleDataOptions& o) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    EXPECT_EQ(WriteSampleDataFile(path, o), 0);
    return path;
  }
  QString writeBlocks(const char* name, const std::vector<BlockRecord>& blocks) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(blocks.data()),
            static_cast<qint64>(blocks.size() * sizeof(BlockRecord)));
    return path;
  }
  void import(const QString& path) {
    prompter.fileAnswers.push_back(path);
    form->FileOpenSpeedButton->click();
  }
  // Runs the search; `fill` works the search window as the operator would.
  void search(const std::function<void(TSearchForm&)>& fill) { RunSearch(prompter, *form, fill); }
  static void type(QLineEdit* edit, const QString& text) { TypeInto(edit, text); }

  std::vector<int> rows() const { return ListedBlocks(grid); }
  int selected() const { return grid->selectedRow(); }
  int shown() const { return form->DataBlock->Record.BlockNumber; }
  void activate() { ActivateWindow(form.get()); }
  void key(int k) { QTest::keyClick(grid, static_cast<Qt::Key>(k)); }
  void wheel(int delta) {
    QWidget* target = grid->viewport();
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent e(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &e);
  }
  QPoint rowCenter(int gridRow) const {
    return grid->visualRect(grid->model()->index(gridRow - grid->fixedRows(), 1)).center();
  }
  void expectNormalPointerAndPaging() const {
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form->PagingEnabled, 1u);
    EXPECT_TRUE(form->NextPageButton->isEnabled());
    EXPECT_TRUE(form->PrevPageButton->isEnabled());
  }

  ScriptedPrompter prompter;
  QTemporaryDir dir;
  std::unique_ptr<TPgcForm> form;
  StringGrid* grid = nullptr;
  uint32_t savedFlags_ = 0;
};

TEST_F(ContentPageTest, ImportListsTwentyRowsNewestFirstAndShowsTheNewest) {
  const SampleDataOptions options{300, 11, 0};
  const QString path = write("doses.dat", options);
  form->PageControl->setCurrentWidget(form->ChartTabSheet);
  import(path);

  ASSERT_EQ(prompter.fileRequests.size(), 1u);
  EXPECT_EQ(prompter.fileRequests[0].filter, QStringLiteral("Quelm data files (*.DAT);;All files (*)"));
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  EXPECT_EQ(form->PageControl->currentWidget(), form->ContentTabSheet);
  EXPECT_EQ(rows(), numbers(299, 280));
  EXPECT_EQ(shown(), 299);
  EXPECT_TRUE(form->DataBlock->IsLoaded());
  EXPECT_EQ(selected(), 1);
  EXPECT_EQ(form->SourceDatLabel->text(), "doses.dat");
  EXPECT_EQ(form->SourceDatLabel->toolTip(), QFileInfo(path).absoluteFilePath());
  EXPECT_EQ(form->AvailableBlocksDatLabel->text(), "300");
  expectNormalPointerAndPaging();
  EXPECT_TRUE(form->FilterButton->isEnabled());

  // Every row shows its block's summary texts.
  const std::vector<BlockRecord> blocks = MakeSampleBlocks(options);
  for (int r = 1; r <= 20; ++r) {
    const ContentRow expected = ContentRowTexts(summaryOf(blocks[static_cast<size_t>(300 - r)]));
    for (int c = 0; c < kContentColumnCount; ++c)
      EXPECT_EQ(grid->cell(c, r), expected.cells[static_cast<size_t>(c)]) << "row " << r << " column " << c;
  }
}

TEST_F(ContentPageTest, TheMenuImportsLikeTheToolButtonAndCancelChangesNothing) {
  prompter.fileAnswers.push_back(write("a.dat", {30, 1, 0}));
  form->FromFile1->trigger();
  EXPECT_EQ(rows(), numbers(29, 10));
  prompter.fileAnswers.push_back(std::nullopt);
  form->FileOpenSpeedButton->click();
  EXPECT_EQ(rows(), numbers(29, 10));
  EXPECT_EQ(shown(), 29);
  EXPECT_EQ(form->SourceDatLabel->text(), "a.dat");
}

TEST_F(ContentPageTest, PagesBothWaysAcrossTheWrapAndStopsAtTheEnds) {
  import(write("wrap.dat", {60, 5, 2040}));  // 2040..2047, 0..51
  ASSERT_EQ(rows(), numbers(51, 32));

  form->PrevPageButton->click();
  EXPECT_EQ(rows(), numbers(31, 12));
  EXPECT_EQ(selected(), 1);
  EXPECT_EQ(shown(), 31);
  form->PrevPageButton->click();
  EXPECT_EQ(rows(), numbers(11, 2040));
  EXPECT_EQ(shown(), 11);
  form->PrevPageButton->click();  // the oldest block is shown: nothing changes
  EXPECT_EQ(rows(), numbers(11, 2040));
  EXPECT_EQ(selected(), 1);
  EXPECT_EQ(shown(), 11);
  expectNormalPointerAndPaging();

  form->NextPageButton->click();
  EXPECT_EQ(rows(), numbers(31, 12));
  EXPECT_EQ(selected(), 20);  // the block right after the old page's top
  EXPECT_EQ(shown(), 12);
  form->NextPageButton->click();
  EXPECT_EQ(rows(), numbers(51, 32));
  EXPECT_EQ(shown(), 32);
  form->NextPageButton->click();  // the newest block is shown
  EXPECT_EQ(rows(), numbers(51, 32));
  EXPECT_EQ(shown(), 32);
  expectNormalPointerAndPaging();
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(ContentPageTest, APageWhoseTopRowIs2047ContinuesAtBlock0) {
  import(write("top.dat", {40, 2, 2028}));  // 2028..2047, 0..19
  ASSERT_EQ(rows(), numbers(19, 0));
  form->PrevPageButton->click();
  ASSERT_EQ(rows(), numbers(2047, 2028));
  form->NextPageButton->click();
  EXPECT_EQ(rows(), numbers(19, 0));
  EXPECT_EQ(shown(), 0);
}

TEST_F(ContentPageTest, AFullMemoryListsItsLastRecordFirst) {
  import(write("full.dat", {2048, 3, 6}));  // last record: block 5
  EXPECT_EQ(rows(), numbers(5, 2034));
  EXPECT_EQ(shown(), 5);
  EXPECT_EQ(form->AvailableBlocksDatLabel->text(), "2048");
}

TEST_F(ContentPageTest, ThreeBlocksHaveNoOtherPageAndRefuseTheirEmptyRows) {
  import(write("three.dat", {3, 4, 10}));
  ASSERT_EQ(rows(), (std::vector<int>{12, 11, 10}));
  EXPECT_EQ(shown(), 12);
  form->PrevPageButton->click();
  form->NextPageButton->click();
  EXPECT_EQ(rows(), (std::vector<int>{12, 11, 10}));
  EXPECT_EQ(shown(), 12);

  activate();
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rowCenter(2));
  EXPECT_EQ(selected(), 2);
  EXPECT_EQ(shown(), 11);
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rowCenter(5));
  EXPECT_EQ(selected(), 2);
  EXPECT_EQ(shown(), 11);
  grid->setCurrentCell(6, 0);  // the grid's own keyboard moves are refused as well
  EXPECT_EQ(selected(), 2);

  key(Qt::Key_Down);
  key(Qt::Key_Down);  // the bottom of the list: no block 9, nothing changes
  EXPECT_EQ(selected(), 3);
  EXPECT_EQ(shown(), 10);
  key(Qt::Key_End);
  EXPECT_EQ(selected(), 1);
  key(Qt::Key_Home);  // the oldest block shown
  EXPECT_EQ(selected(), 3);
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(ContentPageTest, KeysAndWheelMoveTheSelectionAndTurnPages) {
  import(write("keys.dat", {300, 7, 0}));
  activate();
  key(Qt::Key_Down);
  EXPECT_EQ(selected(), 2);
  EXPECT_EQ(shown(), 298);
  key(Qt::Key_Home);
  EXPECT_EQ(selected(), 20);
  EXPECT_EQ(shown(), 280);
  key(Qt::Key_Down);  // row 20: the older page, its top row
  EXPECT_EQ(rows(), numbers(279, 260));
  EXPECT_EQ(selected(), 1);
  EXPECT_EQ(shown(), 279);
  key(Qt::Key_Up);  // row 1: the newer page, its bottom row
  EXPECT_EQ(rows(), numbers(299, 280));
  EXPECT_EQ(selected(), 20);
  EXPECT_EQ(shown(), 280);

  wheel(120);  // away from the user: next (newer) item
  EXPECT_EQ(selected(), 19);
  EXPECT_EQ(shown(), 281);
  wheel(-120);
  wheel(-120);
  EXPECT_EQ(rows(), numbers(279, 260));
  EXPECT_EQ(selected(), 1);

  key(Qt::Key_PageDown);
  EXPECT_EQ(rows(), numbers(259, 240));
  key(Qt::Key_PageUp);
  EXPECT_EQ(rows(), numbers(279, 260));
  key(Qt::Key_End);
  EXPECT_EQ(selected(), 1);
  EXPECT_EQ(shown(), 279);
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(ContentPageTest, DoubleClickOnABlockShowsTheChart) {
  import(write("chart.dat", {5, 1, 0}));
  activate();
  // A real double-click is a click followed by the double-click event.
  auto doubleClick = [&](int row) {
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rowCenter(row));
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, rowCenter(row));
  };
  doubleClick(8);  // an empty row
  EXPECT_EQ(form->PageControl->currentWidget(), form->ContentTabSheet);
  doubleClick(3);
  EXPECT_EQ(form->PageControl->currentWidget(), form->ChartTabSheet);
  EXPECT_EQ(shown(), 2);
}

TEST_F(ContentPageTest, SearchByBlockNumberPagesInsideTheRange) {
  import(write("numbers.dat", {300, 8, 0}));
  search([](TSearchForm& f) {
    type(f.FromCSpinEdit, QStringLiteral("10"));
    type(f.UntilCSpinEdit, QStringLiteral("50"));
  });
  ASSERT_EQ(rows(), numbers(50, 31));
  EXPECT_EQ(shown(), 299);  // the search shows no block by itself
  EXPECT_EQ(selected(), -1);

  form->PrevPageButton->click();
  EXPECT_EQ(rows(), numbers(30, 11));
  form->PrevPageButton->click();
  EXPECT_EQ(rows(), std::vector<int>{10});
  form->PrevPageButton->click();  // the From number is shown
  EXPECT_EQ(rows(), std::vector<int>{10});
  form->NextPageButton->click();
  EXPECT_EQ(rows(), numbers(30, 11));
  EXPECT_EQ(selected(), 20);
  form->NextPageButton->click();
  EXPECT_EQ(rows(), numbers(50, 31));
  form->NextPageButton->click();  // the To number is shown
  EXPECT_EQ(rows(), numbers(50, 31));
  expectNormalPointerAndPaging();

  // The window shows the numbers typed, whatever the paging did.
  prompter.modalHandlers[QStringLiteral("SearchForm")] = [](QObject& w) {
    auto& f = static_cast<TSearchForm&>(w);
    EXPECT_EQ(f.FromCSpinEdit->text(), "10");
    EXPECT_EQ(f.UntilCSpinEdit->text(), "50");
    EXPECT_TRUE(f.IndexCheckBox->isChecked());
    return int{mrCancel};
  };
  form->FilterButton->click();
  EXPECT_EQ(prompter.modalWindows.size(), 2);
}

TEST_F(ContentPageTest, SearchByDateExcludesBothBounds) {
  const SampleDataOptions options{300, 12, 0};
  const std::vector<BlockRecord> blocks = MakeSampleBlocks(options);
  import(write("dates.dat", options));
  // Bounds at the minutes of blocks 150 and 120, typed into the date fields.
  const QString from = SearchDateText(blocks[120].DateTime), to = SearchDateText(blocks[150].DateTime);
  ASSERT_FALSE(blocks[120].ErrorCodes & 0x10);
  ASSERT_FALSE(blocks[150].ErrorCodes & 0x10);
  search([&](TSearchForm& f) {
    f.TimeCheckBox->setChecked(true);
    type(f.FromEdit, from);
    type(f.UntilEdit, to);
  });
  std::vector<int> expected;
  for (int n = 299; n >= 0 && expected.size() < 20; --n) {
    const BlockRecord& b = blocks[static_cast<size_t>(n)];
    if (TNurvoDataBlock::CompareDateTime(b.DateTime, blocks[120].DateTime) == 1 &&
        TNurvoDataBlock::CompareDateTime(b.DateTime, blocks[150].DateTime) == -1)
      expected.push_back(n);
  }
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(rows(), expected);
  EXPECT_LT(expected.front(), 150);
  EXPECT_GT(expected.back(), 120);
}

TEST_F(ContentPageTest, SearchByDosimeterWithALowerCaseKey) {
  const SampleDataOptions options{300, 13, 0};
  const std::vector<BlockRecord> blocks = MakeSampleBlocks(options);
  import(write("dosimeters.dat", options));
  const QString key = QString::fromLatin1(blocks[200].BulbID, 5);
  search([&](TSearchForm& f) { type(f.KeyEdit, key.toLower()); });
  std::vector<int> expected;
  for (int n = 299; n >= 0 && expected.size() < 20; --n)
    if (std::memcmp(blocks[static_cast<size_t>(n)].BulbID, blocks[200].BulbID, 5) == 0) expected.push_back(n);
  EXPECT_EQ(rows(), expected);
  for (int r = 1; r <= static_cast<int>(expected.size()); ++r) EXPECT_EQ(grid->cell(2, r), key);

  // A new file lists the first page of the search in force.
  const SampleDataOptions other{100, 13, 0};
  import(write("other.dat", other));
  for (int r = 1; r <= static_cast<int>(rows().size()); ++r) EXPECT_EQ(grid->cell(2, r), key);
}

TEST_F(ContentPageTest, TheSearchKeepsTheShownBlockAndTheLabels) {
  import(write("keep.dat", {300, 14, 0}));
  form->PrevPageButton->click();
  ASSERT_EQ(shown(), 279);
  BlockRecord before;
  std::memcpy(&before, &form->DataBlock->Record, sizeof before);
  search([](TSearchForm& f) {
    type(f.FromCSpinEdit, QStringLiteral("100"));
    type(f.UntilCSpinEdit, QStringLiteral("130"));
  });
  ASSERT_EQ(rows(), numbers(130, 111));
  // The re-count cleared the data object; the block on display is still the one worked on.
  EXPECT_EQ(std::memcmp(&before, &form->DataBlock->Record, sizeof before), 0);
  EXPECT_TRUE(form->DataBlock->IsLoaded());
  EXPECT_EQ(form->SourceDatLabel->text(), "keep.dat");
  EXPECT_EQ(form->AvailableBlocksDatLabel->text(), "300");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  activate();
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rowCenter(4));
  EXPECT_EQ(shown(), 127);
}

TEST_F(ContentPageTest, TheSearchWindowsMessagesAndCancel) {
  import(write("msg.dat", {50, 15, 0}));
  const std::vector<int> before = rows();
  int shownTimes = 0;
  prompter.modalHandlers[QStringLiteral("SearchForm")] = [&](QObject& w) {
    auto& f = static_cast<TSearchForm&>(w);
    ++shownTimes;
    // First use: the search starts at the newest block and covers this year.
    EXPECT_EQ(f.UntilCSpinEdit->text(), "49");
    EXPECT_EQ(f.FromCSpinEdit->text(), "0");
    EXPECT_EQ(f.FromEdit->text().mid(4), QStringLiteral(".01.01 00:00"));
    type(f.FromEdit, QStringLiteral("2006.02.30 10:00"));
    f.OkButton->click();
    type(f.FromEdit, QStringLiteral("2006.01.01 00:00"));
    type(f.UntilEdit, QStringLiteral("2006.13.01 10:00"));
    f.OkButton->click();
    return int{mrCancel};  // the operator gives up
  };
  form->FilterButton->click();
  EXPECT_EQ(shownTimes, 1);
  EXPECT_EQ(prompter.texts(), QStringList({"Invalid time. The expected format: 2006.06.24 15:30",
                                           "Invalid time. The expected format: 2005.06.24 15:30"}));
  EXPECT_EQ(rows(), before);
  EXPECT_EQ(int{form->SearchForm().Request.Flags}, 0);
}

TEST_F(ContentPageTest, AnEmptyResultAndNextPageOnAnEmptyList) {
  import(write("empty.dat", {40, 16, 0}));
  search([](TSearchForm& f) { type(f.KeyEdit, QStringLiteral("ZZZZZ")); });
  EXPECT_TRUE(rows().empty());
  form->NextPageButton->click();
  form->PrevPageButton->click();
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(shown(), 39);
  expectNormalPointerAndPaging();
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(ContentPageTest, ADayTheCalendarRejectsIsShownAsError) {
  std::vector<BlockRecord> blocks = MakeSampleBlocks({5, 17, 0});
  blocks[3].ErrorCodes = 0;
  blocks[3].DateTime[1] = 2;
  blocks[3].DateTime[2] = 30;
  import(writeBlocks("feb30.dat", blocks));
  EXPECT_EQ(prompter.texts(), QStringList{"Date error"});
  EXPECT_EQ(grid->cell(1, 2), "Error");
  EXPECT_EQ(rows(), numbers(4, 0));
}

TEST_F(ContentPageTest, TheErrorCodesColumnWidensForLongCodes) {
  std::vector<BlockRecord> blocks = MakeSampleBlocks({3, 18, 0});
  blocks[1].ErrorCodes = 0xFF;
  grid->setColWidth(8, 20);
  import(writeBlocks("flags.dat", blocks));
  const QString codes = grid->cell(8, 2);
  EXPECT_EQ(codes, "EBSE EBBG EBHE EBOV EBCK EBST DBCH ");
  EXPECT_EQ(grid->colWidth(8), 8 * codes.size());
}

TEST_F(ContentPageTest, TheDateColumnShowsItsTimeUncut) {
  grid->setColWidth(1, 10);
  import(write("narrow.dat", {30, 21, 0}));
  EXPECT_GT(grid->colWidth(1), grid->fontMetrics().horizontalAdvance(grid->cell(1, 1)));
  const int width = grid->colWidth(1);
  grid->setColWidth(1, width + 50);  // the operator's wider column stays
  form->PrevPageButton->click();
  EXPECT_EQ(grid->colWidth(1), width + 50);
}

TEST_F(ContentPageTest, AReadFailureIsReportedAndTheShownBlockStays) {
  const QString path = write("vanish.dat", {30, 19, 0});
  import(path);
  ASSERT_EQ(shown(), 29);
  ASSERT_TRUE(QFile::remove(path));
  activate();
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rowCenter(3));
  EXPECT_EQ(prompter.texts(), QStringList{"File open error"});
  EXPECT_EQ(shown(), 29);
  EXPECT_TRUE(form->DataBlock->IsLoaded());
  EXPECT_TRUE(grid->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ContentPageTest, AFileThatCannotBeImportedLeavesAnEmptyListAndTheShownBlock) {
  import(write("good.dat", {30, 20, 0}));
  import(dir.filePath(QStringLiteral("missing.dat")));
  EXPECT_EQ(prompter.texts(), QStringList{"File open error"});
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(shown(), 29);
  EXPECT_EQ(form->SourceDatLabel->text(), "good.dat");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // An empty file has no newest block to read.
  prompter.clear();
  QFile empty(dir.filePath(QStringLiteral("empty.dat")));
  ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
  empty.close();
  import(empty.fileName());
  EXPECT_EQ(prompter.texts(), QStringList{"Source file error"});
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(form->AvailableBlocksDatLabel->text(), "0");
}

TEST_F(ContentPageTest, AFileGoneBeforeAPageTurnIsReportedAndTheListStays) {
  const QString path = write("gone.dat", {60, 3, 0});
  import(path);
  ASSERT_EQ(rows(), numbers(59, 40));
  ASSERT_TRUE(QFile::remove(path));
  form->PrevPageButton->click();
  EXPECT_EQ(prompter.texts(), QStringList{"File open error"});
  EXPECT_EQ(rows(), numbers(59, 40));
  EXPECT_EQ(shown(), 59);
  expectNormalPointerAndPaging();
}

TEST_F(ContentPageTest, RightClickOnTheBackgroundShowsTheKeyList) {
  activate();
  QTest::mouseClick(form->UpperPanel, Qt::RightButton, {}, QPoint(2, 2));
  EXPECT_EQ(prompter.modalWindows, QStringList{"NavForm"});
  QTest::mouseClick(form->UpperPanel, Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_EQ(prompter.modalWindows.size(), 1);
}

}  // namespace
