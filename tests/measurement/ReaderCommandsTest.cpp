#include <gtest/gtest.h>

#include <QStringList>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>
#include "TestEnv.h"

#include "base/Diag.h"
#include "link/CommandChannel.h"
#include "measurement/NurvoDataBlock.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A reader on a script: each exchange records the payload, runs `during`
// (the moment the real link would be waiting), then answers with the next
// scripted reply the way the link leaves it: the frame in a persistent
// receive buffer (bytes beyond a reply keep what the buffer held before),
// a refusal as 'P' in the caller's payload.
class FakeChannel final : public TCommandChannel {
 public:
  struct Reply {
    int code = 0;
    Bytes data;
    uint8_t letter = 0;      // 0: the request's letter; 'P': refused
    uint8_t control = 0x80;  // 0x00: a bare acknowledgement
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
    Bytes f = {0xA1, 0x16, 0xFC, 0, 0, r.control};
    if (r.control & 0x80) {
      f.push_back(r.letter ? r.letter : payload[1]);
      f.insert(f.end(), r.data.begin(), r.data.end());
    }
    f.push_back(0x12);
    f.push_back(0x34);
    f[3] = static_cast<uint8_t>(f.size());
    f[4] = static_cast<uint8_t>(f.size() >> 8);
    for (size_t i = 0; i < f.size() && i < frame_.size(); ++i) frame_[i] = f[i];
    count_ = static_cast<uint16_t>(std::min(f.size(), frame_.size()));
    if (out) *out = static_cast<uint16_t>(std::max<int>(0, count_ - 10));
    if (r.letter == 'P') payload[1] = 'P';
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
// A ".K0#"/".K1" reply: an unused byte, then the block number.
Bytes blockAnswer(uint16_t number) {
  return {0xAA, static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8)};
}
// A ".Y" reply: the record of block `number`, every other byte patterned.
Bytes record(uint16_t number) {
  Bytes r(512);
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>(0x80 | i);
  r[1] = static_cast<uint8_t>(number);
  r[2] = static_cast<uint8_t>(number >> 8);
  return r;
}
// A ".U" reply: the count and 20 summaries of blocks first, first - 1, ...
Bytes page(uint8_t count, uint16_t first = 100) {
  Bytes p(561);
  for (size_t i = 1; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i * 13);
  p[0] = count;
  for (int i = 0; i < 20; ++i) {
    p[1 + 28 * i + 1] = static_cast<uint8_t>(first - i);
    p[1 + 28 * i + 2] = static_cast<uint8_t>((first - i) >> 8);
  }
  return p;
}

class ReaderCommandsTest : public ::testing::Test {
 protected:
  // Runs every block command once with a valid reply each.
  void scriptEveryCommand(FakeChannel& reader) {
    for (Bytes r : {u16(564), u16(300), blockAnswer(7), Bytes{}, blockAnswer(250), record(1), page(3)})
      reader.reply(r);
  }
  int runEveryCommand(int* count = nullptr) {
    SearchRequest r{};
    int ignored = 0;
    int rc = block.SkimCOM();
    rc = rc ? rc : block.GetLastUnsavedCOMBlock();
    rc = rc ? rc : block.AckLastUnsavedCOMBlock(1);
    rc = rc ? rc : block.GetDateCOMBlock(1, 2, 3, 4, 5);
    rc = rc ? rc : block.ReadCOMBlock(1);
    return rc ? rc : block.SearchCOMBlocks(r, 20, count ? count : &ignored);
  }

  quelm::test::DiagScope quiet;
  quelm::test::LogCapture capture;
  QStringList& log = capture.lines;
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
  reader.reply(record(300));
  reader.reply({});
  reader.reply(blockAnswer(0));
  reader.reply(blockAnswer(0xFFFF));
  reader.reply({});
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
  reader.reply(page(0));
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
  reader.reply(page(0));
  EXPECT_EQ(block.SearchCOMBlocks(r, 400, &count), 0);
  EXPECT_EQ(reader.sent[1], expected);
}

// --- Replies --------------------------------------------------------------------

TEST_F(ReaderCommandsTest, UnsavedAndByDateReadBytesOneAndTwo) {
  FakeChannel reader;
  reader.reply(blockAnswer(0x0734));
  reader.reply(blockAnswer(250));
  block.FileName = "x.dat";
  std::memset(&block.Record, 0x55, sizeof block.Record);
  EXPECT_EQ(block.GetLastUnsavedCOMBlock(), 0);
  EXPECT_EQ(block.LastUnsaved, 0x0734u);
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
  const Bytes data = record(5);
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

TEST_F(ReaderCommandsTest, SearchTakesTheCountAndAllTwentySlotsOrAnEmptyPage) {
  FakeChannel reader;
  const Bytes data = page(3);
  reader.reply(data);
  int count = -1;
  SearchRequest r{};
  EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::memcmp(block.Summaries, data.data() + 1, sizeof block.Summaries), 0);
  EXPECT_TRUE(block.IsLoaded());

  // The reader's reply without data is an empty page; the table stays.
  reader.reply({});
  EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(std::memcmp(block.Summaries, data.data() + 1, sizeof block.Summaries), 0);

  // A page of exactly its summaries: the slots behind are cleared.
  Bytes two = page(2);
  two.resize(1 + 2 * 28);
  reader.reply(two);
  EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(int{block.Summaries[1].BlockNumber}, 99);
  EXPECT_EQ(int{block.Summaries[2].BlockNumber}, 0);
}

// What a reply must be before a command stores anything from it: the
// reader's refusal, replies too short, too long or of another request, and
// bare acknowledgements where data are needed all fail, and the command's
// result stays as it was.
TEST_F(ReaderCommandsTest, RepliesThatCannotAnswerTheCommandStoreNothing) {
  enum Command { Skim, Unsaved, ByDate, Read, Search, Saved };
  const FakeChannel::Reply refused{0, {'-'}, 'P'};
  const FakeChannel::Reply ack{0, {}, 0, 0x00};
  Bytes shortPage = page(5);
  shortPage.resize(1 + 4 * 28);
  Bytes farBlock = page(20);
  farBlock[1 + 28 * 19 + 2] = 0x08;  // the last summary's number above 2047
  struct Case {
    const char* what;
    Command command;
    FakeChannel::Reply reply;
    int code;
  };
  const Case cases[] = {
      {"count refused", Skim, refused, -210},
      {"count short", Skim, {0, {7}}, -205},
      {"count beyond the memory", Skim, {0, u16(2049)}, -209},
      {"count acknowledged", Skim, ack, -205},
      {"unsaved refused", Unsaved, refused, -210},
      {"unsaved short", Unsaved, {0, {0, 7}}, -205},
      {"unsaved beyond 2047", Unsaved, {0, blockAnswer(2048)}, -209},
      {"by date beyond 2047", ByDate, {0, blockAnswer(0x7B00)}, -209},
      {"by date acknowledged", ByDate, ack, -205},
      {"block refused", Read, refused, -210},
      {"block short", Read, {0, Bytes(511, 9)}, -205},
      {"block too long", Read, {0, Bytes(513, 9)}, -205},
      {"block of another number", Read, {0, record(10)}, -209},
      {"block acknowledged", Read, ack, -205},
      {"page refused", Search, refused, -210},
      {"page short of its count", Search, {0, shortPage}, -205},
      {"page of 21", Search, {0, page(21)}, -209},
      {"page with a block beyond 2047", Search, {0, farBlock}, -209},
      {"page too long", Search, {0, Bytes(562, 0)}, -205},
      {"page acknowledged", Search, ack, -205},
      {"saved refused", Saved, refused, -210},
  };
  for (const Case& c : cases) {
    FakeChannel reader;
    reader.replies.push_back(c.reply);
    block.ValidBlocks = block.LastUnsaved = block.ByDate = 1234;
    std::memset(block.Summaries, 0xEE, sizeof block.Summaries);
    SearchRequest request{};
    int count = -1;
    const int rc = c.command == Skim      ? block.SkimCOM()
                   : c.command == Unsaved ? block.GetLastUnsavedCOMBlock()
                   : c.command == ByDate  ? block.GetDateCOMBlock(1, 2, 3, 4, 5)
                   : c.command == Read    ? block.ReadCOMBlock(9)
                   : c.command == Search  ? block.SearchCOMBlocks(request, 20, &count)
                                          : block.AckLastUnsavedCOMBlock(9);
    EXPECT_EQ(rc, c.code) << c.what;
    EXPECT_EQ(block.ValidBlocks, c.command == Skim ? 0u : 1234u) << c.what;
    EXPECT_EQ(block.LastUnsaved, c.command == Saved ? 9u : 1234u) << c.what;
    EXPECT_EQ(block.ByDate, 1234u) << c.what;
    EXPECT_EQ(block.Summaries[0].Lead, 0xEE) << c.what;
    EXPECT_LE(count, 0) << c.what;
    EXPECT_FALSE(block.State & Busy) << c.what;
    if (c.command == Read) {
      EXPECT_FALSE(block.IsLoaded()) << c.what;
    }
  }
}

TEST_F(ReaderCommandsTest, ShortRepliesNeverReadOutsideTheReceiveBuffer) {
  // A receive buffer of only 20 bytes holds no whole block or page: the
  // commands refuse the reply instead of reading beyond it.
  FakeChannel reader(20);
  reader.reply(record(9));
  EXPECT_EQ(block.ReadCOMBlock(9), -205);
  const BlockRecord zero{};
  EXPECT_EQ(std::memcmp(&block.Record, &zero, sizeof zero), 0);
  reader.reply(page(1));
  int count = -1;
  SearchRequest r{};
  EXPECT_EQ(block.SearchCOMBlocks(r, 20, &count), -205);
  EXPECT_EQ(count, 0);
}

// --- Busy -----------------------------------------------------------------------

TEST_F(ReaderCommandsTest, BusyIsSetWhileACommandWaitsAndClearedAfter) {
  FakeChannel reader;
  std::vector<bool> busy;
  reader.during = [&] { busy.push_back(block.State & Busy); };
  scriptEveryCommand(reader);
  EXPECT_EQ(runEveryCommand(), 0);
  EXPECT_EQ(busy, (std::vector<bool>{true, true, true, true, true, true, false}));
  EXPECT_FALSE(block.State & Busy);
}

TEST_F(ReaderCommandsTest, ACommandNestedInAnotherKeepsTheOuterBusy) {
  FakeChannel reader;
  reader.reply(blockAnswer(2));  // the inner command is answered first
  reader.reply(record(3));
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
  scriptEveryCommand(reader);
  DiagFlags = quelm::kDiagLog;
  EXPECT_EQ(runEveryCommand(), 0);
  const QStringList expected = {
      "TNurvoDataBlock::SkimCOM(): ",
      "TNurvoDataBlock::SkimCOM(): ValidBlocks=564: ok",
      "TNurvoDataBlock::GetLastUnsavedCOMBlock(): ",
      "TNurvoDataBlock::GetLastUnsavedCOMBlock(): LastUnsaved=7: (BlockIndex=LastUnsaved--): ok",
      "TNurvoDataBlock::AckLastUnsavedCOMBlock(): ",
      "TNurvoDataBlock::AckLastUnsavedCOMBlock(): LastUnsaved=1: (BlockIndex=LastUnsaved--): ok",
      "TNurvoDataBlock::GetDateCOMBlock(): ",
      "TNurvoDataBlock::GetDateCOMBlock(): ByDate=250: (BlockIndex=ByDate--): ok",
      "TNurvoDataBlock::ReadCOMBlock(): ",
      "TNurvoDataBlock::ReadCOMBlock(): BlockIndex=1: ok",
  };
  EXPECT_EQ(log, expected);
}

}  // namespace
