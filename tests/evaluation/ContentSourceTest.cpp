// The two sources of the content list on their own: the data file source
// keeps to its own file, the reader source sends the request as it stands.
// Paging through either is tested on the content model.
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

class DataFileSourceTest : public ::testing::Test {
 protected:
  QString write(const char* name, SampleDataOptions o) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    EXPECT_EQ(WriteSampleDataFile(path, o), 0);
    return path;
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

// A reader that answers every exchange with the same ".U" reply, or fails.
class PageChannel final : public TCommandChannel {
 public:
  PageChannel() { SetCommandChannel(this); }
  ~PageChannel() override { SetCommandChannel(nullptr); }
  int SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out) override {
    sent.emplace_back(payload, payload + length);
    if (code != 0) return code;
    // Frame header (length, information frame), echoed letter, count, 20
    // summaries of block 0, check sum.
    frame[3] = kFrameLength & 0xFF;
    frame[4] = kFrameLength >> 8;
    frame[5] = 0x80;
    frame[6] = 'U';
    frame[7] = replyCount;
    if (out) *out = 561;
    return 0;
  }
  const uint8_t* RcvFrame() const override { return frame; }
  uint16_t RcvCount() const override { return kFrameLength; }
  static constexpr int kFrameLength = 7 + 1 + 560 + 2;

  int code = 0;
  uint8_t replyCount = 0;
  uint8_t frame[kRcvFrameSize] = {};
  std::vector<std::vector<uint8_t>> sent;
};

TEST(ReaderSourceTest, NamesTheSerialPortAndWhatFailed) {
  ReaderSource source;
  EXPECT_EQ(source.Label(), "Serial port");
  EXPECT_EQ(source.ReadContext(QStringLiteral("4"), -205), "ReadCOMBlock(): BlockIndex: 4: -205");
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

  // A count beyond a page cannot be the reader's answer: nothing is listed.
  reader.replyCount = 200;
  EXPECT_EQ(source.SearchPage(data, request, 0, 0, &n), -209);
  EXPECT_EQ(n, 0);

  // A failed exchange lists nothing, whatever the page table still holds.
  reader.code = -206;
  EXPECT_EQ(source.SearchPage(data, request, 0, 0, &n), -206);
  EXPECT_EQ(n, 0);
}

}  // namespace
