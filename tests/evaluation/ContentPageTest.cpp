// The Content page of the main window: what reaches the content model from
// the tool buttons, the menu, the keys, the wheel, the mouse on the grid and
// the (scripted) search window, and how the grid and labels show it. What
// the model does with it is tested on the model itself.
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

#include "BlockPages.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "base/StringGrid.h"
#include "evaluation/ContentList.h"
#include "evaluation/ContentModel.h"
#include "evaluation/DetailView.h"
#include "evaluation/SearchCriteria.h"
#include "evaluation/SearchForm.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"
#include "shell/PgcForm.h"

using namespace quelm;
using namespace quelm::test;

namespace {

class ContentPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    form = std::make_unique<TPgcForm>();
    grid = form->BlockStringGrid;
  }

  QString write(const char* name, const SampleDataOptions& o) { return WriteSample(dir, name, o); }
  QString writeBlocks(const char* name, const std::vector<BlockRecord>& b) {
    return WriteBlocks(dir, name, b);
  }
  void import(const QString& path) {
    prompter.fileAnswers.push_back(path);
    form->FileOpenSpeedButton->click();
  }
  // Runs the search; `fill` works the search window as the operator would.
  void search(const std::function<void(TSearchForm&)>& fill) {
    prompter.modalHandlers[QStringLiteral("SearchForm")] = [fill](QObject& w) {
      auto& f = static_cast<TSearchForm&>(w);
      fill(f);
      f.OkButton->click();
      return f.Accepted ? int{mrOk} : int{mrCancel};
    };
    form->FilterButton->click();
  }
  // Replaces an edit's text by typing.
  static void type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
  }

  // Block numbers of the filled rows, top to bottom.
  std::vector<int> rows() const {
    std::vector<int> v;
    for (int r = 1; r <= 20 && !grid->cell(0, r).isEmpty(); ++r) v.push_back(grid->cell(0, r).toInt());
    return v;
  }
  int selected() const { return grid->selectedRow(); }
  int shown() const { return form->DataBlock->Record.BlockNumber; }
  void activate() {
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }
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
    EXPECT_TRUE(form->Content().PagingEnabled());
    EXPECT_TRUE(form->NextPageButton->isEnabled());
    EXPECT_TRUE(form->PrevPageButton->isEnabled());
  }

  DiagScope quiet;
  ScriptedPrompter prompter;
  QTemporaryDir dir;
  ConfigScope config{dir};
  std::unique_ptr<TPgcForm> form;
  StringGrid* grid = nullptr;
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
  EXPECT_EQ(rows(), NumbersDown(299, 280));
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
    const ContentRow expected = ContentRowTexts(SummaryOf(blocks[static_cast<size_t>(300 - r)]));
    for (int c = 0; c < kContentColumnCount; ++c)
      EXPECT_EQ(grid->cell(c, r), expected.cells[static_cast<size_t>(c)]) << "row " << r << " column " << c;
  }
}

TEST_F(ContentPageTest, TheMenuImportsLikeTheToolButtonAndCancelChangesNothing) {
  prompter.fileAnswers.push_back(write("a.dat", {30, 1, 0}));
  form->FromFile1->trigger();
  EXPECT_EQ(rows(), NumbersDown(29, 10));
  prompter.fileAnswers.push_back(std::nullopt);
  form->FileOpenSpeedButton->click();
  EXPECT_EQ(rows(), NumbersDown(29, 10));
  EXPECT_EQ(shown(), 29);
  EXPECT_EQ(form->SourceDatLabel->text(), "a.dat");
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
  EXPECT_EQ(rows(), NumbersDown(279, 260));
  EXPECT_EQ(selected(), 1);
  EXPECT_EQ(shown(), 279);
  key(Qt::Key_Up);  // row 1: the newer page, its bottom row
  EXPECT_EQ(rows(), NumbersDown(299, 280));
  EXPECT_EQ(selected(), 20);
  EXPECT_EQ(shown(), 280);

  wheel(120);  // away from the user: next (newer) item
  EXPECT_EQ(selected(), 19);
  EXPECT_EQ(shown(), 281);
  wheel(-120);
  wheel(-120);
  EXPECT_EQ(rows(), NumbersDown(279, 260));
  EXPECT_EQ(selected(), 1);

  key(Qt::Key_PageDown);
  EXPECT_EQ(rows(), NumbersDown(259, 240));
  key(Qt::Key_PageUp);
  EXPECT_EQ(rows(), NumbersDown(279, 260));
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

TEST_F(ContentPageTest, TheSearchWindowsNumbersListTheirRangeAndShowAgain) {
  import(write("numbers.dat", {300, 8, 0}));
  search([](TSearchForm& f) {
    type(f.FromCSpinEdit, QStringLiteral("10"));
    type(f.UntilCSpinEdit, QStringLiteral("50"));
  });
  ASSERT_EQ(rows(), NumbersDown(50, 31));
  EXPECT_EQ(shown(), 299);  // the search shows no block by itself
  EXPECT_EQ(selected(), -1);
  form->PrevPageButton->click();
  EXPECT_EQ(rows(), NumbersDown(30, 11));
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
  EXPECT_EQ(rows(), NumbersDown(30, 11));
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
  EXPECT_EQ(int{form->Content().Search().Request.Flags}, 0);
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

// The model returns its failures; the window shows each as one box, and a
// cancel as none.
TEST_F(ContentPageTest, EachFailedCommandIsOneBoxAndACancelNone) {
  const QString path = write("gone.dat", {30, 19, 0});
  import(path);
  ASSERT_TRUE(QFile::remove(path));
  QFile empty(dir.filePath(QStringLiteral("empty.dat")));
  ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
  empty.close();
  activate();
  const struct {
    const char* what;
    std::function<void()> act;
    QStringList boxes;
  } steps[] = {
      {"Down", [&] { key(Qt::Key_Down); }, {"File open error"}},
      {"previous page", [&] { form->PrevPageButton->click(); }, {"File open error"}},
      {"search", [&] { form->FilterButton->click(); }, {"File open error"}},
      {"missing file", [&] { import(dir.filePath(QStringLiteral("none.dat"))); }, {"File open error"}},
      {"empty file", [&] { import(empty.fileName()); }, {"Source file error"}},
      {"cancelled",
       [&] {
         prompter.fileAnswers.push_back(std::nullopt);
         form->FileOpenSpeedButton->click();
       },
       {}},
  };
  for (const auto& step : steps) {
    prompter.clear();
    step.act();
    EXPECT_EQ(prompter.texts(), step.boxes) << step.what;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << step.what;
  }
}

TEST_F(ContentPageTest, RightClickOnTheBackgroundShowsTheKeyList) {
  activate();
  QTest::mouseClick(form->UpperPanel, Qt::RightButton, {}, QPoint(2, 2));
  EXPECT_EQ(prompter.modalWindows, QStringList{"NavForm"});
  QTest::mouseClick(form->UpperPanel, Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_EQ(prompter.modalWindows.size(), 1);
}

}  // namespace
