#include <gtest/gtest.h>

#include <QStringList>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

#include "link/CommandChannel.h"
#include "measurement/NurvoDataBlock.h"
#include "base/Diag.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A reader on a script: each exchange records the payload, runs `during`
// (the moment the real link would be waiting), then answers with the next
// scripted reply. Replies are written into a persistent receive buffer the
// way the link does: frame header, echoed letter at offset 6, data from
// offset 7, two check-sum bytes; bytes beyond a reply keep what the buffer
// held before.
class FakeChannel final : public TCommandChannel {
 public:
  struct Reply {
    int code = 0;
    Bytes data;
  };

  explicit FakeChannel(size_t bufferSize = kRcvFrameSize) : frame_(bufferSize, 0xCC) {
    SetCommandChannel(this);
  }
  ~FakeChannel() override { SetCommandChannel(nullptr); }

  void reply(Bytes data) { replies.push_back({0, std::move(data)}); }
  void fail(int code) { replies.push_back({code, {}}); }

  int SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out) override {
    sent.emplace_back(payload, payload + length);
    if (during) during();
    if (replies.empty()) return -204;
    const Reply r = replies.front();
    replies.pop_front();
    if (r.code != 0) return r.code;
    Bytes f = {0xA1, 0x16, 0xFC, 0, 0, 0x80, length > 1 ? payload[1] : uint8_t{0}};
    f.insert(f.end(), r.data.begin(), r.data.end());
    f.push_back(0x12);
    f.push_back(0x34);
    f[3] = static_cast<uint8_t>(f.size());
    f[4] = static_cast<uint8_t>(f.size() >> 8);
    for (size_t i = 0; i < f.size() && i < frame_.size(); ++i) frame_[i] = f[i];
    count_ = static_cast<uint16_t>(std::min(f.size(), frame_.size()));
    if (out) *out = static_cast<uint16_t>(count_ - 10);
    return 0;
  }
  const uint8_t* RcvFrame() const override { return frame_.data(); }
  int RcvFrameSize() const override { return static_cast<int>(frame_.size()); }
  uint16_t RcvCount() const override { return count_; }

  std::deque<Reply> replies;
  std::vector<Bytes> sent;
  std::function<void()> during;

 private:
  Bytes frame_;
  uint16_t count_ = 0;
};

Bytes u16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes ascii(const char* s) { return Bytes(s, s + std::strlen(s)); }

class ReaderCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiagFlags = 0;
    quelm::setLogSink([this](const QString& line) { log << line; });
  }
  void TearDown() override {
    DiagFlags = 0;
    quelm::setLogSink({});
  }

  QStringList log;
  TNurvoDataBlock block{nullptr};
};

// --- Counting the reader's blocks --------------------------------------------

TEST_F(ReaderCommandsTest, SkimMakesTheReaderTheSourceAndCountsItsBlocks) {
  FakeChannel reader;
  reader.reply(u16(564));
  reader.reply(u16(300));
  block.FileName = "old.dat";
  block.Source = SourceFile;
  block.State = EvalEdited;
  std::memset(&block.Record, 0x55, sizeof block.Record);

  EXPECT_EQ(block.SkimCOM(), 0);
  EXPECT_EQ(reader.sent, (std::vector<Bytes>{ascii(".G#"), ascii(".F#")}));
  EXPECT_EQ(block.ValidBlocks, 564u);
  EXPECT_EQ(block.BlockIndex, 563u);
  EXPECT_EQ(block.LastBlock, 299u);
  EXPECT_EQ(block.Source, SourceReader);
  EXPECT_TRUE(block.FileName.isEmpty());
  EXPECT_EQ(block.FileHandle, nullptr);
  EXPECT_EQ(block.State, uint32_t{Loaded | EvalEdited});
  const BlockRecord zero{};
  EXPECT_EQ(std::memcmp(&block.Record, &zero, sizeof zero), 0);
}

TEST_F(ReaderCommandsTest, AnEmptyReaderIsNotAskedForItsNewestBlock) {
  FakeChannel reader;
  reader.reply(u16(0));
  block.LastBlock = 77;
  block.BlockIndex = 88;
  EXPECT_EQ(block.SkimCOM(), 0);
  EXPECT_EQ(reader.sent, (std::vector<Bytes>{ascii(".G#")}));
  EXPECT_EQ(block.ValidBlocks, 0u);
  EXPECT_EQ(block.LastBlock, 77u);
  EXPECT_EQ(block.BlockIndex, 88u);
  EXPECT_TRUE(block.IsLoaded());
}

TEST_F(ReaderCommandsTest, NewestBlockZeroGivesAllBitsSet) {
  FakeChannel reader;
  reader.reply(u16(1));
  reader.reply(u16(0));
  EXPECT_EQ(block.SkimCOM(), 0);
  EXPECT_EQ(block.LastBlock, 0xFFFFFFFFu);
  EXPECT_EQ(block.BlockIndex, 0u);
}

TEST_F(ReaderCommandsTest, WithoutThePortFiveBlocksAreAssumed) {
  FakeChannel reader;
  reader.reply(u16(12));
  reader.reply(u16(40));
  DiagFlags = quelm::kDiagNoPort;
  EXPECT_EQ(block.SkimCOM(), 0);
  EXPECT_EQ(block.ValidBlocks, 5u);
  EXPECT_EQ(block.BlockIndex, 4u);
  EXPECT_EQ(block.LastBlock, 39u);
}

// --- Wire bytes -------------------------------------------------------------------

TEST_F(ReaderCommandsTest, CommandsCarryTheirArgumentsAsRawBytes) {
  FakeChannel reader;
  for (int i = 0; i < 5; ++i) reader.reply(Bytes(520, 0));
  EXPECT_EQ(block.ReadCOMBlock(300), 0);
  EXPECT_EQ(block.AckLastUnsavedCOMBlock(2047), 0);
  EXPECT_EQ(block.GetDateCOMBlock(106, 6, 24, 15, 30), 0);
  EXPECT_EQ(block.GetLastUnsavedCOMBlock(), 0);
  EXPECT_EQ(block.AckLastUnsavedCOMBlock(0x12345), 0);  // only the low 16 bits travel

  const std::vector<Bytes> expected = {
      {0x2E, 0x59, 0x2C, 0x01, 0x23},
      {0x2E, 0x4B, 0x32, 0xFF, 0x07, 0x23},
      {0x2E, 0x4B, 0x31, 0x6A, 0x06, 0x18, 0x0F, 0x1E, 0x23},
      {0x2E, 0x4B, 0x30, 0x23},
      {0x2E, 0x4B, 0x32, 0x45, 0x23, 0x23},
  };
  EXPECT_EQ(reader.sent, expected);
  EXPECT_EQ(block.LastUnsaved, 0x12345u);
}

TEST_F(ReaderCommandsTest, SearchSendsTheRequestByteForByte) {
  FakeChannel reader;
  reader.reply(Bytes(561, 0));
  SearchRequest r;
  auto* raw = reinterpret_cast<uint8_t*>(&r);
  for (size_t i = 0; i < sizeof r; ++i) raw[i] = static_cast<uint8_t>(0x40 + i);
  int count = -1;
  EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), 0);
  ASSERT_EQ(reader.sent.size(), 1u);
  Bytes expected = {'.', 'U'};
  expected.insert(expected.end(), raw, raw + 20);
  expected.push_back('#');
  EXPECT_EQ(reader.sent[0], expected);

  // A length beyond the request never sends more than the request.
  reader.reply(Bytes(561, 0));
  EXPECT_EQ(block.SearchCOMBlocks(r, 400, &count), 0);
  EXPECT_EQ(reader.sent[1], expected);
}

// --- Replies --------------------------------------------------------------------

TEST_F(ReaderCommandsTest, UnsavedAndByDateReadBytesOneAndTwo) {
  FakeChannel reader;
  reader.reply({0xAA, 0x34, 0x12});
  reader.reply({0xBB, 0xFA, 0x00});
  block.FileName = "x.dat";
  std::memset(&block.Record, 0x55, sizeof block.Record);
  EXPECT_EQ(block.GetLastUnsavedCOMBlock(), 0);
  EXPECT_EQ(block.LastUnsaved, 0x1234u);
  EXPECT_EQ(block.Source, SourceReader);
  EXPECT_TRUE(block.FileName.isEmpty());

  block.FileName = "y.dat";
  EXPECT_EQ(block.GetDateCOMBlock(106, 1, 2, 3, 4), 0);
  EXPECT_EQ(block.ByDate, 250u);
  EXPECT_TRUE(block.FileName.isEmpty());
  EXPECT_EQ(block.Record.Lead, 0x55);  // the record is not touched
  EXPECT_EQ(block.Record.Reserved503[8], 0x55);
  EXPECT_FALSE(block.IsLoaded());
}

TEST_F(ReaderCommandsTest, ReadBlockTakes511BytesAndZeroesTheEnds) {
  FakeChannel reader;
  Bytes data(512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x80 | i);
  reader.reply(data);
  block.FileName = "kept.dat";
  block.State = EvalEdited;
  EXPECT_EQ(block.ReadCOMBlock(5), 0);
  const auto* raw = reinterpret_cast<const uint8_t*>(&block.Record);
  EXPECT_EQ(raw[0], 0);
  EXPECT_EQ(raw[511], 0);
  EXPECT_EQ(std::memcmp(raw + 1, data.data() + 1, 510), 0);
  EXPECT_EQ(block.State, uint32_t{Loaded});
  EXPECT_EQ(block.BlockIndex, 5u);
  EXPECT_EQ(block.Source, SourceReader);
  EXPECT_EQ(block.FileName, "kept.dat");
}

TEST_F(ReaderCommandsTest, SearchTakesTheCountAndAllTwentySlots) {
  FakeChannel reader;
  Bytes data(561);
  data[0] = 3;
  for (size_t i = 1; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
  reader.reply(data);
  data[0] = 25;
  reader.reply(data);
  int count = -1;
  SearchRequest r{};
  EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::memcmp(block.Summaries, data.data() + 1, sizeof block.Summaries), 0);
  EXPECT_TRUE(block.IsLoaded());
  EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), 0);
  EXPECT_EQ(count, 20);
}

TEST_F(ReaderCommandsTest, AnEmptySearchReplyLeavesThePageAlone) {
  FakeChannel reader;
  reader.reply({7});  // data length (frame length - 10) 0
  std::memset(block.Summaries, 0xEE, sizeof block.Summaries);
  int count = -1;
  SearchRequest r{};
  EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), 0);
  EXPECT_EQ(count, 0);
  const auto* s = reinterpret_cast<const uint8_t*>(block.Summaries);
  for (size_t i = 0; i < sizeof block.Summaries; ++i) ASSERT_EQ(s[i], 0xEE) << i;
  EXPECT_TRUE(block.IsLoaded());
}

TEST_F(ReaderCommandsTest, ShortRepliesNeverReadOutsideTheReceiveBuffer) {
  // A receive buffer of only 20 bytes: the reads that reach beyond it (a
  // block, a page) get zeros there instead of touching foreign memory.
  FakeChannel reader(20);
  Bytes data(520);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i + 1);
  reader.reply(data);
  EXPECT_EQ(block.ReadCOMBlock(9), 0);
  const auto* raw = reinterpret_cast<const uint8_t*>(&block.Record);
  for (int i = 1; i < 13; ++i) EXPECT_EQ(raw[i], i + 1) << i;
  for (int i = 13; i < 512; ++i) ASSERT_EQ(raw[i], 0) << i;

  reader.reply(data);
  int count = -1;
  SearchRequest r{};
  EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), 0);
  EXPECT_EQ(count, 1);
  const auto* s = reinterpret_cast<const uint8_t*>(block.Summaries);
  EXPECT_EQ(s[0], 2);
  EXPECT_EQ(s[11], 13);
  EXPECT_EQ(s[12], 0);
  EXPECT_EQ(s[559], 0);
}

// --- Busy -----------------------------------------------------------------------

TEST_F(ReaderCommandsTest, BusyIsSetWhileACommandWaitsAndClearedAfter) {
  FakeChannel reader;
  std::vector<bool> busy;
  reader.during = [&] { busy.push_back(block.State & Busy); };
  for (int i = 0; i < 7; ++i) reader.reply(Bytes(561, 1));
  SearchRequest r{};
  int count;
  EXPECT_EQ(block.SkimCOM(), 0);  // two exchanges
  EXPECT_EQ(block.GetLastUnsavedCOMBlock(), 0);
  EXPECT_EQ(block.AckLastUnsavedCOMBlock(1), 0);
  EXPECT_EQ(block.GetDateCOMBlock(1, 2, 3, 4, 5), 0);
  EXPECT_EQ(block.ReadCOMBlock(1), 0);
  EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), 0);
  EXPECT_EQ(busy, (std::vector<bool>{true, true, true, true, true, true, false}));
  EXPECT_FALSE(block.State & Busy);
}

TEST_F(ReaderCommandsTest, ACommandNestedInAnotherKeepsTheOuterBusy) {
  FakeChannel reader;
  reader.reply(Bytes(520, 1));
  reader.reply(Bytes(520, 2));
  bool busyAfterInner = false;
  reader.during = [&] {
    if (reader.sent.size() != 1) return;
    EXPECT_EQ(block.GetLastUnsavedCOMBlock(), 0);  // operator input during the wait
    busyAfterInner = block.State & Busy;
  };
  EXPECT_EQ(block.ReadCOMBlock(3), 0);
  EXPECT_TRUE(busyAfterInner);
  EXPECT_FALSE(block.State & Busy);
}

// --- Failures ---------------------------------------------------------------------

TEST_F(ReaderCommandsTest, LinkFailuresPassThroughWithBusyClearedAndTraced) {
  DiagFlags = quelm::kDiagLog;
  SearchRequest r{};
  int count = -1;
  for (const int code : {-205, -207, -100, -7}) {
    FakeChannel reader;
    for (int i = 0; i < 7; ++i) reader.fail(code);
    log.clear();
    EXPECT_EQ(block.SkimCOM(), code);
    EXPECT_EQ(block.GetLastUnsavedCOMBlock(), code);
    EXPECT_EQ(block.AckLastUnsavedCOMBlock(12), code);
    EXPECT_EQ(block.GetDateCOMBlock(1, 2, 3, 4, 5), code);
    EXPECT_EQ(block.ReadCOMBlock(9), code);
    EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), code);
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(block.State & Busy);
    EXPECT_FALSE(block.IsLoaded());
    const QStringList expected = {
        "TNurvoDataBlock::SkimCOM(): ",
        "TNurvoDataBlock::SkimCOM(): ERR_SENDCOMCMD",
        "TNurvoDataBlock::GetLastUnsavedCOMBlock(): ",
        "TNurvoDataBlock::GetLastUnsavedCOMBlock(): ERR_SENDCOMCMD",
        "TNurvoDataBlock::AckLastUnsavedCOMBlock(): ",
        "TNurvoDataBlock::AckLastUnsavedCOMBlock(): ERR_SENDCOMCMD",
        "TNurvoDataBlock::GetDateCOMBlock(): ",
        "TNurvoDataBlock::GetDateCOMBlock(): ERR_SENDCOMCMD",
        "TNurvoDataBlock::ReadCOMBlock(): ",
        "TNurvoDataBlock::ReadCOMBlock(): ERR_SENDCOMCMD",
        "ERR_SENDCOMCMD",
    };
    EXPECT_EQ(log, expected);
  }
  // What the commands changed before the exchange stays changed.
  EXPECT_EQ(block.Source, SourceReader);
  EXPECT_EQ(block.LastUnsaved, 12u);
  EXPECT_EQ(block.BlockIndex, 9u);
}

TEST_F(ReaderCommandsTest, AFailedNewestBlockQueryKeepsTheCount) {
  FakeChannel reader;
  reader.reply(u16(40));
  reader.fail(-206);
  block.LastBlock = 3;
  EXPECT_EQ(block.SkimCOM(), -206);
  EXPECT_EQ(block.ValidBlocks, 40u);
  EXPECT_EQ(block.BlockIndex, 39u);
  EXPECT_EQ(block.LastBlock, 3u);
  EXPECT_FALSE(block.IsLoaded());
}

TEST_F(ReaderCommandsTest, WithoutALinkEveryCommandGivesNullptrError) {
  ASSERT_EQ(CommandChannel(), nullptr);
  DiagFlags = quelm::kDiagLog;
  SearchRequest r{};
  int count = -1;
  EXPECT_EQ(block.SkimCOM(), -102);
  EXPECT_EQ(block.ReadCOMBlock(1), -102);
  EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), -102);
  EXPECT_EQ(count, 0);
  EXPECT_FALSE(block.State & Busy);
  EXPECT_EQ(log.value(1), "TNurvoDataBlock::SkimCOM(): ERR_NULLPTR");
  EXPECT_EQ(log.last(), "ERR_NULLPTR");
}

TEST_F(ReaderCommandsTest, SuccessLinesNameWhatWasStored) {
  FakeChannel reader;
  reader.reply(u16(564));
  reader.reply(u16(300));
  reader.reply({0, 0x34, 0x12});
  reader.reply({});
  reader.reply({0, 250, 0});
  reader.reply(Bytes(512, 0));
  DiagFlags = quelm::kDiagLog;
  EXPECT_EQ(block.SkimCOM(), 0);
  EXPECT_EQ(block.GetLastUnsavedCOMBlock(), 0);
  EXPECT_EQ(block.AckLastUnsavedCOMBlock(2047), 0);
  EXPECT_EQ(block.GetDateCOMBlock(106, 6, 24, 15, 30), 0);
  EXPECT_EQ(block.ReadCOMBlock(300), 0);
  const QStringList expected = {
      "TNurvoDataBlock::SkimCOM(): ",
      "TNurvoDataBlock::SkimCOM(): ValidBlocks=564: ok",
      "TNurvoDataBlock::GetLastUnsavedCOMBlock(): ",
      "TNurvoDataBlock::GetLastUnsavedCOMBlock(): LastUnsaved=4660: (BlockIndex=LastUnsaved--): ok",
      "TNurvoDataBlock::AckLastUnsavedCOMBlock(): ",
      "TNurvoDataBlock::AckLastUnsavedCOMBlock(): LastUnsaved=2047: (BlockIndex=LastUnsaved--): ok",
      "TNurvoDataBlock::GetDateCOMBlock(): ",
      "TNurvoDataBlock::GetDateCOMBlock(): ByDate=250: (BlockIndex=ByDate--): ok",
      "TNurvoDataBlock::ReadCOMBlock(): ",
      "TNurvoDataBlock::ReadCOMBlock(): BlockIndex=300: ok",
  };
  EXPECT_EQ(log, expected);
}

}  // namespace
