// The content model without a window, over generated data files: import,
// paging across the wrap, item navigation, selection, search, and what a
// failure leaves behind.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BlockPages.h"
#include "QStringPrinter.h"
#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "base/DateText.h"
#include "base/ErrorCodes.h"
#include "evaluation/ContentModel.h"
#include "evaluation/DetailModel.h"
#include "evaluation/SearchCriteria.h"
#include "link/CommandChannel.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

using namespace quelm;
using namespace quelm::test;

namespace {

class ContentModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    content.hooks.busy = [this](bool running) { busyChanges.push_back(running); };
  }
  QString write(const char* name, const SampleDataOptions& o) { return WriteSample(dir, name, o); }
  QString writeBlocks(const char* name, const std::vector<BlockRecord>& b) {
    return WriteBlocks(dir, name, b);
  }
  std::vector<int> rows() const {
    std::vector<int> v;
    for (int r = 1; r <= content.FilledRows(); ++r) v.push_back(content.RowSummary(r).BlockNumber);
    return v;
  }
  int shown() const { return detail.ShownRecord().BlockNumber; }
  // Criteria as the search window leaves them at Ok.
  int search(uint8_t flags, uint16_t from, uint16_t to, const char* dosimeter = "A0000",
             const uint8_t* dateFrom = nullptr, const uint8_t* dateTo = nullptr) {
    return content.Search([&](SearchState& s) {
      s.Request.Flags = flags;
      s.Request.FromBlock = s.LowerLimit = from;
      s.Request.StartBlock = s.UpperLimit = to;
      SetSearchDosimeter(s.Request, QString::fromLatin1(dosimeter));
      if (dateFrom) std::memcpy(s.Request.DateFrom, dateFrom, 5);
      if (dateTo) std::memcpy(s.Request.DateTo, dateTo, 5);
      return true;
    });
  }

  DiagScope quiet;
  ScriptedPrompter prompter;
  QTemporaryDir dir;
  std::unique_ptr<TNurvoDataBlock> data = std::make_unique<TNurvoDataBlock>(nullptr);
  DetailModel detail{data};
  ContentModel content{data, detail};
  std::vector<bool> busyChanges;
};

TEST_F(ContentModelTest, ImportListsTheNewestPageAndShowsTheNewestBlock) {
  const SampleDataOptions options{300, 11, 0};
  const QString path = write("doses.dat", options);
  ASSERT_EQ(content.ImportFile(path), 0);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  EXPECT_EQ(rows(), NumbersDown(299, 280));
  EXPECT_EQ(content.SelectedRow(), 1);
  EXPECT_EQ(shown(), 299);
  EXPECT_TRUE(detail.BlockShown());
  EXPECT_EQ(content.SourceLabel(), "doses.dat");
  EXPECT_EQ(content.SourceHint(), QFileInfo(path).absoluteFilePath());
  EXPECT_EQ(content.AvailableBlocks(), "300");
  EXPECT_TRUE(content.PagingEnabled());
  EXPECT_EQ(busyChanges, (std::vector<bool>{true, false}));
  const BlockRecord newest = MakeSampleBlocks(options).back();
  EXPECT_EQ(content.RowTexts(1).cells[2], QString::fromLatin1(newest.BulbID, 5));
  EXPECT_EQ(content.RowTexts(1).cells[0], "299");
}

// The list after each command, over files whose numbers wrap.
TEST_F(ContentModelTest, PagesAndItemsMoveAcrossTheWrapAndStopAtTheEnds) {
  enum Op { Import, Next, Prev, Up, Down, Home, End };
  struct Step {
    Op op;
    std::vector<int> rows;
    int selected, shown;
  };
  struct Case {
    SampleDataOptions file;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {{60, 5, 2040},  // 2040..2047, 0..51
       {{Import, NumbersDown(51, 32), 1, 51},
        {Prev, NumbersDown(31, 12), 1, 31},
        {Prev, NumbersDown(11, 2040), 1, 11},
        {Prev, NumbersDown(11, 2040), 1, 11},  // the oldest block is listed
        {Next, NumbersDown(31, 12), 20, 12},   // the block right after the old page's top
        {Next, NumbersDown(51, 32), 20, 32},
        {Next, NumbersDown(51, 32), 20, 32}}},  // the newest block is listed
      {{40, 2, 2028},                           // a page whose top row is 2047 continues at 0
       {{Import, NumbersDown(19, 0), 1, 19},
        {Prev, NumbersDown(2047, 2028), 1, 2047},
        {Next, NumbersDown(19, 0), 20, 0}}},
      {{2048, 3, 6}, {{Import, NumbersDown(5, 2034), 1, 5}}},  // a full memory whose last record is 5
      {{3, 4, 10},                                             // no other page; the short page's bottom
       {{Import, {12, 11, 10}, 1, 12},
        {Prev, {12, 11, 10}, 1, 12},
        {Next, {12, 11, 10}, 1, 12},
        {Down, {12, 11, 10}, 2, 11},
        {Down, {12, 11, 10}, 3, 10},
        {Down, {12, 11, 10}, 3, 10},
        {End, {12, 11, 10}, 1, 12},
        {Home, {12, 11, 10}, 3, 10}}},
      {{300, 7, 0},  // Up on row 1 and Down on row 20 turn the page
       {{Import, NumbersDown(299, 280), 1, 299},
        {Down, NumbersDown(299, 280), 2, 298},
        {Home, NumbersDown(299, 280), 20, 280},
        {Down, NumbersDown(279, 260), 1, 279},
        {Up, NumbersDown(299, 280), 20, 280},
        {Up, NumbersDown(299, 280), 19, 281},
        {End, NumbersDown(299, 280), 1, 299},
        {Up, NumbersDown(299, 280), 1, 299}}},
  };
  for (const Case& c : cases) {
    const QString path = write("pages.dat", c.file);
    int step = 0;
    for (const Step& s : c.steps) {
      switch (s.op) {
        case Import:
          content.ImportFile(path);
          break;
        case Next:
          content.NextPage();
          break;
        case Prev:
          content.PrevPage();
          break;
        case Up:
          content.NextItem();
          break;
        case Down:
          content.PrevItem();
          break;
        case Home:
          content.FirstBlock();
          break;
        case End:
          content.LastBlock();
          break;
      }
      const std::string where = std::to_string(c.file.blocks) + " blocks, step " + std::to_string(step++);
      EXPECT_EQ(rows(), s.rows) << where;
      EXPECT_EQ(content.SelectedRow(), s.selected) << where;
      EXPECT_EQ(shown(), s.shown) << where;
      EXPECT_TRUE(content.PagingEnabled()) << where;
    }
  }
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  EXPECT_FALSE(content.Busy());
}

// Appended downloads repeat block numbers (a storage file past 2048
// read-outs, or blocks 0..39 followed by 25..54). Each row is its own
// record: the block shown for it, and the pages before and after it.
TEST_F(ContentModelTest, RepeatedNumbersAreShownAndPagedByTheRecordOfTheirRow) {
  // Number, read-out time and dosimeter: what tells two records apart.
  const auto key = [](const void* p) {
    const auto* b = static_cast<const char*>(p);
    return std::string(b + 1, 7) + std::string(b + 14, 5);
  };
  const auto shownKey = [&] { return key(&detail.ShownRecord()); };
  const auto join = [](std::vector<BlockRecord> a, const std::vector<BlockRecord>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    std::vector<BlockRecord> file;
    int row, record;  // the row of the first page and the record it lists
  };
  const Case cases[] = {
      {join(MakeSampleBlocks({40, 21, 0}), MakeSampleBlocks({30, 22, 25})), 16, 54},     // the newer 39
      {join(MakeSampleBlocks({2048, 23, 0}), MakeSampleBlocks({20, 24, 0})), 15, 2053},  // the newer 5
  };
  for (const Case& c : cases) {
    const std::string where = std::to_string(c.file.size()) + " records";
    const BlockRecord& listed = c.file[static_cast<size_t>(c.record)];
    ASSERT_NE(key(&listed), key(&c.file[static_cast<size_t>(listed.BlockNumber)])) << where;
    ASSERT_EQ(content.ImportFile(writeBlocks("appended.dat", c.file)), 0) << where;
    // The file's last record is its newest read-out.
    EXPECT_EQ(shownKey(), key(&c.file.back())) << where;
    EXPECT_EQ(key(&content.RowSummary(1)), key(&c.file.back())) << where;
    ASSERT_TRUE(content.Select(c.row).moved) << where;
    EXPECT_EQ(key(&content.RowSummary(c.row)), key(&listed)) << where;
    EXPECT_EQ(shownKey(), key(&listed)) << where;
  }

  // Every record once, in file order, paging down to the oldest and back up;
  // each page shows the record of its selected row.
  const std::vector<BlockRecord>& file = cases[0].file;
  ASSERT_EQ(content.ImportFile(writeBlocks("appended.dat", file)), 0);
  std::vector<std::string> down, up, want;
  const auto take = [&](std::vector<std::string>& into, bool oldestFirst) {
    std::vector<std::string> page;
    for (int r = 1; r <= content.FilledRows(); ++r) page.push_back(key(&content.RowSummary(r)));
    if (oldestFirst) std::reverse(page.begin(), page.end());
    into.insert(into.end(), page.begin(), page.end());
    EXPECT_EQ(shownKey(), key(&content.RowSummary(content.SelectedRow())));
  };
  take(down, false);
  while (content.PrevPage().moved) take(down, false);
  take(up, true);
  while (content.NextPage().moved) take(up, true);
  for (const BlockRecord& b : file) want.push_back(key(&b));
  EXPECT_EQ(up, want);
  std::reverse(want.begin(), want.end());
  EXPECT_EQ(down, want);
}

TEST_F(ContentModelTest, RowsWithoutABlockCannotBeSelectedAndNothingWhileBusy) {
  ASSERT_EQ(content.ImportFile(write("three.dat", {3, 4, 10})), 0);
  EXPECT_TRUE(content.Select(2).moved);
  EXPECT_EQ(shown(), 11);
  EXPECT_FALSE(content.Select(5).moved);
  EXPECT_FALSE(content.Select(0).moved);
  EXPECT_EQ(content.SelectedRow(), 2);
  EXPECT_EQ(shown(), 11);

  // Whatever arrives while a list operation runs (the reader lets events in
  // while it waits) changes nothing.
  int refused = 0;
  content.hooks.busy = [&](bool running) {
    if (!running) return;
    refused += !content.Select(1).moved;
    content.NextItem();
    content.PrevPage();
    EXPECT_EQ(content.ImportFile(QStringLiteral("elsewhere.dat")), 0);
  };
  content.Select(3);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(content.SelectedRow(), 3);
  EXPECT_EQ(shown(), 10);
  EXPECT_EQ(content.SourceLabel(), "three.dat");
}

TEST_F(ContentModelTest, SearchByNumberPagesInsideItsRangeAndKeepsTheShownBlock) {
  ASSERT_EQ(content.ImportFile(write("numbers.dat", {300, 8, 0})), 0);
  content.PrevPage();
  ASSERT_EQ(shown(), 279);
  const BlockRecord before = data->Record;
  ASSERT_EQ(search(kSearchByNumber, 10, 50), 0);
  EXPECT_EQ(rows(), NumbersDown(50, 31));
  EXPECT_EQ(content.SelectedRow(), 0);  // the search shows no block by itself
  // The re-count cleared the data object; the block on display is still the one worked on.
  EXPECT_EQ(std::memcmp(&before, &data->Record, sizeof before), 0);
  EXPECT_TRUE(data->State & Loaded);
  EXPECT_EQ(content.SourceLabel(), "numbers.dat");

  const std::vector<std::vector<int>> pages = {NumbersDown(30, 11), {10}, {10}};
  for (const auto& page : pages) {
    content.PrevPage();
    EXPECT_EQ(rows(), page);
  }
  content.NextPage();
  EXPECT_EQ(rows(), NumbersDown(30, 11));
  EXPECT_EQ(content.SelectedRow(), 20);
  content.NextPage();
  content.NextPage();  // the To number is listed
  EXPECT_EQ(rows(), NumbersDown(50, 31));
  // Paging keeps the numbers typed for the next showing of the search window.
  EXPECT_EQ(int{content.Search().Request.StartBlock}, 50);
  EXPECT_EQ(int{content.Search().Request.FromBlock}, 10);

  EXPECT_TRUE(content.Select(4).moved);
  EXPECT_EQ(shown(), 47);
}

TEST_F(ContentModelTest, SearchByDateExcludesBothBoundsAndByDosimeterMatchesAllFive) {
  const SampleDataOptions options{300, 12, 0};
  const std::vector<BlockRecord> blocks = MakeSampleBlocks(options);
  ASSERT_EQ(content.ImportFile(write("dates.dat", options)), 0);
  ASSERT_FALSE(blocks[120].ErrorCodes & 0x10);
  ASSERT_FALSE(blocks[150].ErrorCodes & 0x10);
  ASSERT_EQ(search(kSearchByDate, 0, 299, "A0000", blocks[120].DateTime, blocks[150].DateTime), 0);
  std::vector<int> expected = NewestBetween(blocks, blocks[120].DateTime, blocks[150].DateTime);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(rows(), expected);
  EXPECT_LT(expected.front(), 150);
  EXPECT_GT(expected.back(), 120);

  const std::string key(blocks[200].BulbID, 5);
  ASSERT_EQ(search(kSearchByDosimeter, 0, 299, key.c_str()), 0);
  EXPECT_EQ(rows(), NewestOf(blocks, key));
  // A new file lists the first page of the search in force.
  ASSERT_EQ(content.ImportFile(write("other.dat", {100, 12, 0})), 0);
  EXPECT_EQ(int{content.Search().Request.Flags}, kSearchByDosimeter);
  for (int r = 1; r <= content.FilledRows(); ++r)
    EXPECT_EQ(content.RowTexts(r).cells[2], QString::fromStdString(key));
}

TEST_F(ContentModelTest, ASearchGivenUpOrFindingNothingAndItsFirstUseDefaults) {
  ASSERT_EQ(content.ImportFile(write("empty.dat", {40, 16, 0})), 0);
  SearchState offered;
  EXPECT_EQ(content.Search([&](SearchState& s) {
    offered = s;
    return false;  // the operator gives up
  }),
            0);
  EXPECT_EQ(rows(), NumbersDown(39, 20));
  // First use: the search starts at the newest block and covers this year.
  EXPECT_TRUE(offered.Initialised);
  EXPECT_EQ(int{offered.Request.StartBlock}, 39);
  EXPECT_EQ(int{offered.Request.FromBlock}, 0);
  EXPECT_EQ(DateText(FromStamp(offered.Request.DateFrom)).mid(4), ".01.01 00:00");

  ASSERT_EQ(search(kSearchByDosimeter, 0, 39, "ZZZZZ"), 0);
  EXPECT_TRUE(rows().empty());
  content.NextPage();
  content.PrevPage();
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(shown(), 39);
  EXPECT_TRUE(content.PagingEnabled());
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(ContentModelTest, ADayTheCalendarRejectsIsListedAsErrorWithItsMessage) {
  std::vector<BlockRecord> blocks = MakeSampleBlocks({5, 17, 0});
  blocks[3].ErrorCodes = 0;
  blocks[3].DateTime[1] = 2;
  blocks[3].DateTime[2] = 30;
  ASSERT_EQ(content.ImportFile(writeBlocks("feb30.dat", blocks)), 0);
  EXPECT_EQ(prompter.texts(), QStringList{"Date error"});
  EXPECT_EQ(content.RowTexts(2).cells[1], "Error");
  EXPECT_EQ(rows(), NumbersDown(4, 0));
}

// Failures are returned, for the front end to report: the model shows no box.
TEST_F(ContentModelTest, FailuresAreReturnedAndLeaveTheListAndTheShownBlock) {
  const QString path = write("vanish.dat", {60, 19, 0});
  ASSERT_EQ(content.ImportFile(path), 0);
  EXPECT_EQ(content.ShowBlock(77), kErrSourceFile);  // a number the file does not hold
  EXPECT_EQ(shown(), 59);
  ASSERT_TRUE(QFile::remove(path));

  // A row whose block cannot be read, an item move, a page turn and a block
  // by its number.
  const ContentModel::Move select = content.Select(3);
  EXPECT_TRUE(select.moved);
  EXPECT_EQ(select.failure, kErrFileOpen);
  EXPECT_EQ(content.PrevItem().failure, kErrFileOpen);
  const ContentModel::Move older = content.PrevPage();
  EXPECT_FALSE(older.moved);
  EXPECT_EQ(older.failure, kErrFileOpen);
  EXPECT_EQ(content.ShowBlock(12), kErrFileOpen);
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  EXPECT_EQ(rows(), NumbersDown(59, 40));
  EXPECT_EQ(shown(), 59);
  EXPECT_EQ(int{data->Record.BlockNumber}, 59);
  EXPECT_TRUE(data->State & Loaded);
  EXPECT_TRUE(content.PagingEnabled());

  // A file that cannot be imported empties the list and keeps the rest.
  EXPECT_EQ(content.ImportFile(dir.filePath(QStringLiteral("missing.dat"))), -107);
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(shown(), 59);
  EXPECT_EQ(content.SourceLabel(), "vanish.dat");

  // An empty file has no newest block to read: nothing of the previous one stays on screen.
  QFile empty(dir.filePath(QStringLiteral("empty.dat")));
  ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
  empty.close();
  EXPECT_EQ(content.ImportFile(empty.fileName()), -214);
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(content.AvailableBlocks(), "0");
  EXPECT_EQ(shown(), 0);
  EXPECT_EQ(busyChanges.size() % 2, 0u);
  EXPECT_FALSE(content.Busy());
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
}

// A crash or a full disk while a record was appended leaves it cut off.
// The list, its pages and its searches keep to the whole records; the
// import then fails with the cut named, for the front end to tell.
TEST_F(ContentModelTest, AFileEndingInACutOffRecordListsItsWholeRecordsAndNamesTheCut) {
  struct Case {
    SampleDataOptions file;  // the last block is the one cut off
    int keep;                // of its 512 bytes
    int renumber;            // the cut block's number (-1: its own)
    std::vector<int> rows;   // the first page, then the page before it
    std::vector<int> older;
  };
  const Case cases[] = {
      {{31, 30, 0}, 100, -1, NumbersDown(29, 10), NumbersDown(9, 0)},
      {{31, 31, 0}, 2, -1, NumbersDown(29, 10), NumbersDown(9, 0)},   // too short to carry its number
      {{31, 32, 0}, 511, 5, NumbersDown(29, 10), NumbersDown(9, 0)},  // a number a whole record has
      {{61, 33, 2030}, 300, -1, NumbersDown(41, 22), NumbersDown(21, 2)},
  };
  for (const Case& c : cases) {
    std::vector<BlockRecord> blocks = MakeSampleBlocks(c.file);
    if (c.renumber >= 0) blocks.back().BlockNumber = static_cast<uint16_t>(c.renumber);
    const QString path = writeBlocks("cut.dat", blocks);
    const qint64 whole = static_cast<qint64>(blocks.size()) - 1;
    ASSERT_TRUE(QFile::resize(path, whole * 512 + c.keep));
    const std::string where = std::to_string(c.keep) + " bytes kept";

    EXPECT_EQ(content.ImportFile(path), kErrSourceFile) << where;
    EXPECT_EQ(takeReportNote(kErrSourceFile),
              QStringLiteral("%1: it ends in a cut-off record of %2 bytes after record %3")
                  .arg(path)
                  .arg(c.keep)
                  .arg(whole - 1))
        << where;
    EXPECT_EQ(rows(), c.rows) << where;
    EXPECT_EQ(content.SelectedRow(), 1) << where;
    EXPECT_EQ(std::memcmp(&detail.ShownRecord(), &blocks[static_cast<size_t>(whole - 1)], 512), 0) << where;
    EXPECT_EQ(content.AvailableBlocks(), QString::number(whole)) << where;
    EXPECT_TRUE(content.PagingEnabled()) << where;
    EXPECT_EQ(content.PrevPage().failure, 0) << where;
    EXPECT_EQ(rows(), c.older) << where;
    // A search starts at the newest whole record, and finds only whole ones.
    SearchState offered;
    content.Search([&](SearchState& s) {
      offered = s;
      return false;
    });
    EXPECT_EQ(int{offered.Request.StartBlock}, c.rows.front()) << where;
    content.Search().Initialised = false;
  }

  // With a search in force the import lists its first page of whole records.
  const std::vector<BlockRecord> blocks = MakeSampleBlocks({31, 30, 0});
  const QString path = writeBlocks("found.dat", blocks);
  ASSERT_TRUE(QFile::resize(path, 30 * 512 + 100));
  const std::string key(blocks[20].BulbID, 5);
  ASSERT_EQ(search(kSearchByDosimeter, 0, 2047, key.c_str()), 0);
  EXPECT_EQ(content.ImportFile(path), kErrSourceFile);
  EXPECT_EQ(rows(), NewestOf(std::vector<BlockRecord>(blocks.begin(), blocks.end() - 1), key));
  content.Search().Request.Flags = 0;

  // A file of nothing but a cut-off record holds no block.
  const QString alone = writeBlocks("alone.dat", {blocks.front()});
  ASSERT_TRUE(QFile::resize(alone, 100));
  EXPECT_EQ(content.ImportFile(alone), kErrSourceFile);
  EXPECT_TRUE(
      takeReportNote(kErrSourceFile).startsWith(alone + ": it ends in a cut-off record of 100 bytes"));
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(content.AvailableBlocks(), "0");
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
  EXPECT_FALSE(content.Busy());
}

// The reader as source: the import starts the link afresh and an empty
// reader is told, not listed.
class CountingChannel final : public TCommandChannel {
 public:
  CountingChannel() { SetCommandChannel(this); }
  ~CountingChannel() override { SetCommandChannel(nullptr); }
  int SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t*) override {
    sent.emplace_back(payload, payload + length);
    // ".G#" answered with a count of 0: frame header, letter, two data bytes, check sum.
    std::memset(frame, 0, sizeof frame);
    frame[3] = kFrameLength;
    frame[5] = 0x80;
    frame[6] = 'G';
    return 0;
  }
  const uint8_t* RcvFrame() const override { return frame; }
  uint16_t RcvCount() const override { return kFrameLength; }
  void ResetAtNextExchange() override { resets.push_back(sent.size()); }

  static constexpr int kFrameLength = 7 + 2 + 2;
  uint8_t frame[kRcvFrameSize] = {};
  std::vector<std::vector<uint8_t>> sent;
  std::vector<size_t> resets;  // exchanges made before each reset request
};

TEST_F(ContentModelTest, TheReaderImportStartsTheLinkAfreshAndAnEmptyReaderIsTold) {
  ASSERT_EQ(content.ImportFile(write("before.dat", {25, 2, 0})), 0);
  CountingChannel reader;
  EXPECT_EQ(content.ImportReader(), 0);
  EXPECT_EQ(reader.resets, std::vector<size_t>{0});
  EXPECT_EQ(reader.sent, (std::vector<std::vector<uint8_t>>{{'.', 'G', '#'}}));
  EXPECT_EQ(prompter.texts(), QStringList{"There is not Glow Data in the memory"});
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(content.SourceLabel(), "Serial port");
  EXPECT_EQ(content.AvailableBlocks(), "0");
  EXPECT_EQ(shown(), 24);  // the view keeps its block
  EXPECT_TRUE(data->State & Loaded);

  // A search re-counts the reader without a reset.
  reader.resets.clear();
  content.Search([](SearchState&) { return false; });
  EXPECT_TRUE(reader.resets.empty());
  EXPECT_EQ(reader.sent.size(), 2u);
}

}  // namespace
