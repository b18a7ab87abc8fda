#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstring>
#include <vector>

#include "evaluation/ContentList.h"
#include "evaluation/ContentSource.h"
#include "link/CommandChannel.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

using namespace quelm;

namespace {

// A page as the list shows it: block numbers, newest first.
std::vector<int> shownPage(const TNurvoDataBlock& data, int n, bool forward) {
  std::vector<int> rows(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    rows[static_cast<size_t>(PageRowOfSummary(i, n, forward) - 1)] = data.Summaries[i].BlockNumber;
  return rows;
}

std::vector<int> numbers(int from, int downTo) {
  std::vector<int> v;
  for (int n = from;; n = PrevBlockNumber(static_cast<uint32_t>(n))) {
    v.push_back(n);
    if (n == downTo) break;
  }
  return v;
}

class DataFileSourceTest : public ::testing::Test {
 protected:
  QString write(const char* name, SampleDataOptions o) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    EXPECT_EQ(WriteSampleDataFile(path, o), 0);
    return path;
  }
  // Turns pages the way the list does and returns the page shown afterwards
  // (empty when nothing was found and the list stays as it was).
  std::vector<int> turn(DataFileSource& source, const PageTurn& t) {
    request = t.keep;
    if (!t.search) return {};
    int n = 0;
    source.SearchPage(data, t.request, 0, 0, &n);
    return shownPage(data, n, t.request.Flags & kSearchForward);
  }

  QTemporaryDir dir;
  TNurvoDataBlock data{nullptr};
  SearchRequest request{};
};

TEST_F(DataFileSourceTest, NamesTheFileAndCountsIt) {
  const QString path = write("doses.dat", {45, 3, 0});
  DataFileSource source(path);
  EXPECT_EQ(source.Label(), "doses.dat");
  EXPECT_EQ(source.Hint(), QFileInfo(path).absoluteFilePath());
  ASSERT_EQ(source.Skim(data), 0);
  EXPECT_EQ(data.ValidBlocks, 45u);
  EXPECT_EQ(data.LastBlock, 44u);
  EXPECT_EQ(source.SkimContext(-107), QStringLiteral("SkimFile(%1): -107").arg(path));
  EXPECT_EQ(source.ReadContext(QStringLiteral("3"), -214),
            QStringLiteral("ReadFileBlock(%1): BlockIndex: 3: -214").arg(path));
  EXPECT_TRUE(source.Reportable(-107));
}

TEST_F(DataFileSourceTest, AMissingFileIsAFileOpenError) {
  DataFileSource source(dir.filePath(QStringLiteral("gone.dat")));
  EXPECT_EQ(source.Skim(data), -107);
  int n = 5;
  EXPECT_EQ(source.SearchPage(data, request, 0, 0, &n), -107);
  EXPECT_EQ(source.ReadBlock(data, 0), -107);
}

TEST_F(DataFileSourceTest, WorksOnItsOwnFileWhateverTheDataObjectWasPointedAt) {
  DataFileSource listed(write("listed.dat", {30, 1, 100}));
  DataFileSource other(write("other.dat", {30, 1, 500}));
  ASSERT_EQ(listed.Skim(data), 0);
  ASSERT_EQ(other.Skim(data), 0);
  ASSERT_EQ(listed.ReadBlock(data, 110), 0);
  EXPECT_EQ(int{data.Record.BlockNumber}, 110);
  int n = 0;
  request.StartBlock = 129;
  listed.SearchPage(data, request, 0, 0, &n);
  EXPECT_EQ(n, 20);
  EXPECT_EQ(int{data.Summaries[0].BlockNumber}, 129);
}

TEST_F(DataFileSourceTest, PagesBothWaysAcrossTheWrap) {
  // 2040..2047, 0..51: the newest page is 51..32.
  DataFileSource source(write("wrap.dat", {60, 5, 2040}));
  ASSERT_EQ(source.Skim(data), 0);
  request.StartBlock = static_cast<uint16_t>(data.LastBlock);
  int n = 0;
  source.SearchPage(data, request, 0, 0, &n);
  std::vector<int> page = shownPage(data, n, false);
  EXPECT_EQ(page, numbers(51, 32));

  page = turn(source, PlanPrevPage(request, static_cast<uint32_t>(page.back()), 0));
  EXPECT_EQ(page, numbers(31, 12));
  page = turn(source, PlanPrevPage(request, static_cast<uint32_t>(page.back()), 0));
  EXPECT_EQ(page, numbers(11, 2040));
  // The oldest block is shown: nothing older.
  EXPECT_TRUE(turn(source, PlanPrevPage(request, static_cast<uint32_t>(page.back()), 0)).empty());

  page = turn(source, PlanNextPage(request, static_cast<uint32_t>(page.front()), 0, 0));
  EXPECT_EQ(page, numbers(31, 12));
  page = turn(source, PlanNextPage(request, static_cast<uint32_t>(page.front()), 0, 0));
  EXPECT_EQ(page, numbers(51, 32));
  // The newest block is shown: nothing newer.
  EXPECT_TRUE(turn(source, PlanNextPage(request, static_cast<uint32_t>(page.front()), 0, 0)).empty());
}

TEST_F(DataFileSourceTest, APageWhoseTopIs2047ContinuesAt0) {
  DataFileSource source(write("top2047.dat", {40, 2, 2028}));  // 2028..2047, 0..19
  ASSERT_EQ(source.Skim(data), 0);
  const std::vector<int> page = turn(source, PlanPrevPage(request, 0u, 0));
  ASSERT_EQ(page, numbers(2047, 2028));
  EXPECT_EQ(turn(source, PlanNextPage(request, 2047u, 0, 0)), numbers(19, 0));
}

TEST_F(DataFileSourceTest, AFullMemoryListsAcrossTheWrapFromItsLastRecord) {
  // Every number once, ascending, the last record block 5.
  DataFileSource source(write("full.dat", {2048, 9, 6}));
  ASSERT_EQ(source.Skim(data), 0);
  ASSERT_EQ(data.LastBlock, 5u);
  request.StartBlock = 5;
  int n = 0;
  source.SearchPage(data, request, 0, 0, &n);
  EXPECT_EQ(shownPage(data, n, false), numbers(5, 2034));
}

TEST_F(DataFileSourceTest, ThreeBlocksHaveNeitherAnOlderNorANewerPage) {
  DataFileSource source(write("three.dat", {3, 4, 10}));
  ASSERT_EQ(source.Skim(data), 0);
  request.StartBlock = static_cast<uint16_t>(data.LastBlock);
  int n = 0;
  source.SearchPage(data, request, 0, 0, &n);
  EXPECT_EQ(shownPage(data, n, false), (std::vector<int>{12, 11, 10}));
  EXPECT_TRUE(turn(source, PlanPrevPage(request, 10u, 0)).empty());
  EXPECT_TRUE(turn(source, PlanNextPage(request, 12u, 0, 0)).empty());
}

// A reader that answers every exchange with the same ".U" reply, or fails.
class PageChannel final : public TCommandChannel {
 public:
  PageChannel() { SetCommandChannel(this); }
  ~PageChannel() override { SetCommandChannel(nullptr); }
  int SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out) override {
    sent.emplace_back(payload, payload + length);
    if (code != 0) return code;
    // Frame header, echoed letter, count, 20 summaries, check sum.
    const uint8_t header[] = {0xA1, 0x16, 0xFC, 570 & 0xFF, 570 >> 8, 0x80, 'U'};
    std::memcpy(frame, header, sizeof header);
    frame[7] = replyCount;
    if (out) *out = 561;
    return 0;
  }
  const uint8_t* RcvFrame() const override { return frame; }
  uint16_t RcvCount() const override { return 570; }

  int code = 0;
  uint8_t replyCount = 0;
  uint8_t frame[kRcvFrameSize] = {};
  std::vector<std::vector<uint8_t>> sent;
};

TEST(ReaderSourceTest, NamesTheSerialPortAndHidesOnlyTheCancelledPortChoice) {
  ReaderSource source;
  EXPECT_EQ(source.Label(), "Serial port");
  EXPECT_EQ(source.ReadContext(QStringLiteral("4"), -205), "ReadCOMBlock(): BlockIndex: 4: -205");
  EXPECT_FALSE(source.Reportable(0));
  EXPECT_FALSE(source.Reportable(-100));
  EXPECT_TRUE(source.Reportable(-204));
  EXPECT_TRUE(source.Reportable(-201));
}

TEST(ReaderSourceTest, SendsTheRequestAsItStandsAndCountsOnlyWhatTheReaderFound) {
  PageChannel reader;
  TNurvoDataBlock data(nullptr);
  SearchRequest request;
  std::memset(&request, 0, sizeof request);
  request.Flags = kSearchByNumber;
  request.StartBlock = 50;
  request.FromBlock = 10;
  ReaderSource source;
  int n = -1;
  reader.replyCount = 7;
  EXPECT_EQ(source.SearchPage(data, request, 300, 200, &n), 0);
  EXPECT_EQ(n, 7);
  ASSERT_EQ(reader.sent.size(), 1u);
  std::vector<uint8_t> expected = {'.', 'U'};
  const auto* raw = reinterpret_cast<const uint8_t*>(&request);
  expected.insert(expected.end(), raw, raw + sizeof request);
  expected.push_back('#');
  EXPECT_EQ(reader.sent[0], expected) << "the list's limits are not the reader's business";

  reader.replyCount = 200;  // more rows than a page has: not a page at all
  EXPECT_EQ(source.SearchPage(data, request, 0, 0, &n), -209);
  EXPECT_EQ(n, 0);

  // A failed exchange lists nothing, whatever the page table still holds.
  reader.code = -206;
  EXPECT_EQ(source.SearchPage(data, request, 0, 0, &n), -206);
  EXPECT_EQ(n, 0);
}

}  // namespace
