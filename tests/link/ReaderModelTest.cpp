// The reader model as plain code: frame level, block commands over the
// 2048-slot memory, and the fault injection.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstring>

#include "ReaderModel.h"
#include "link/Frame.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

using namespace quelm;
using namespace quelm::sim;

namespace {

std::vector<uint8_t> request(uint8_t control, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> f(payload.size() + 8);
  BuildFrame(f.data(), control, payload.data(), static_cast<int>(payload.size()));
  return f;
}

std::vector<uint8_t> joined(const std::vector<Emission>& e) {
  std::vector<uint8_t> out;
  for (const Emission& x : e) out.insert(out.end(), x.bytes.begin(), x.bytes.end());
  return out;
}

struct Reply {
  bool present = false;
  bool crcOk = false;
  uint8_t control = 0;
  std::vector<uint8_t> payload;
  uint32_t u16(size_t at) const { return payload[at] | (payload[at + 1] << 8); }
};

Reply ask(TReaderModel& m, const std::vector<uint8_t>& payload, uint8_t control = 0x80) {
  const std::vector<uint8_t> req = request(control, payload);
  const std::vector<uint8_t> out = joined(m.Feed(req.data(), req.size()));
  Reply r;
  if (out.size() < 8) return r;
  r.present = true;
  const int n = static_cast<int>(out.size());
  r.crcOk = FrameCRC16(out.data(), n - 2) == ((out[n - 2] << 8) | out[n - 1]);
  r.control = out[5];
  r.payload.assign(out.begin() + 6, out.end() - 2);
  return r;
}

TReaderModel withBlocks(int count, int first = 0, uint64_t seed = 1) {
  TReaderModel m;
  SampleDataOptions s;
  s.blocks = count;
  s.firstNumber = first;
  s.seed = seed;
  m.LoadBlocks(MakeSampleBlocks(s));
  return m;
}

}  // namespace

TEST(ReaderModel, AcknowledgesResetsAndRejectsDamagedOrUnknownRequests) {
  TReaderModel m = withBlocks(3);
  const Reply ack = ask(m, {}, 0x00);
  EXPECT_TRUE(ack.present && ack.crcOk);
  EXPECT_EQ(ack.control, 0x00);

  std::vector<uint8_t> bad = request(0x80, {'.', 'G', '#'});
  bad[7] ^= 1;
  const Reply rej = joined(m.Feed(bad.data(), bad.size())).empty() ? Reply{} : ask(m, {'.', '?', '#'});
  EXPECT_EQ(rej.control, 0x70);
  EXPECT_EQ(ask(m, {'.', 'G'}).control, 0x70) << "unterminated";
  ASSERT_EQ(m.Requests.size(), 4u);
}

TEST(ReaderModel, FindsFramesInNoiseAndAcrossFeeds) {
  TReaderModel m = withBlocks(3);
  std::vector<uint8_t> stream = {0x00, 0xA1, 0x16, 0x99};
  const std::vector<uint8_t> g = request(0x85, {'.', 'G', '#'});
  stream.insert(stream.end(), g.begin(), g.end());
  EXPECT_TRUE(m.Feed(stream.data(), 7).empty());
  const std::vector<uint8_t> out = joined(m.Feed(stream.data() + 7, stream.size() - 7));
  ASSERT_EQ(out.size(), 11u);
  EXPECT_EQ(out[5], 0x85) << "information, ID 0, the request's number";
  EXPECT_EQ(out[6], 'G');
  EXPECT_EQ(out[7], 3);
}

TEST(ReaderModel, CountsAndNewestBlockAcrossTheWrap) {
  TReaderModel m = withBlocks(100, 2000);
  EXPECT_EQ(ask(m, {'.', 'G', '#'}).u16(1), 100u);
  EXPECT_EQ(ask(m, {'.', 'F', '#'}).u16(1), 52u);

  TReaderModel full = withBlocks(48, 2000);  // newest is 2047
  EXPECT_EQ(ask(full, {'.', 'F', '#'}).u16(1), 2048u) << "newest = reply - 1 must hold";

  TReaderModel empty = withBlocks(0);
  EXPECT_EQ(ask(empty, {'.', 'G', '#'}).u16(1), 0u);
}

TEST(ReaderModel, UnsavedPointerFollowsAcknowledgements) {
  TReaderModel m = withBlocks(30, 2040);  // 2040..2047, 0..21
  EXPECT_EQ(ask(m, {'.', 'K', '0', '#'}).u16(2), 2040u);
  m.SetUnsaved(5);
  EXPECT_EQ(ask(m, {'.', 'K', '0', '#'}).u16(2), 17u);
  EXPECT_TRUE(ask(m, {'.', 'K', '2', 0xFF, 0x07, '#'}).present);  // 2047 saved
  EXPECT_EQ(ask(m, {'.', 'K', '0', '#'}).u16(2), 0u);
  ask(m, {'.', 'K', '2', 21, 0, '#'});  // the newest
  EXPECT_EQ(ask(m, {'.', 'K', '0', '#'}).u16(2), 0xFFFFu);
}

TEST(ReaderModel, FirstBlockAtOrAfterADate) {
  TReaderModel m = withBlocks(50);
  const BlockRecord& b = m.Block(20);
  std::vector<uint8_t> k1 = {'.', 'K', '1'};
  k1.insert(k1.end(), b.DateTime, b.DateTime + 5);
  k1.push_back('#');
  const Reply r = ask(m, k1);
  // The sample blocks are in time order; block 20 or an earlier one with the
  // same minute is the answer, never a later one.
  EXPECT_LE(r.u16(2), 20u);
  const uint32_t found = r.u16(2);
  EXPECT_GE(std::memcmp(m.Block(static_cast<int>(found)).DateTime, b.DateTime, 5), 0);

  const std::vector<uint8_t> future = {'.', 'K', '1', 250, 1, 1, 0, 0, '#'};
  EXPECT_EQ(ask(m, future).u16(2), 0u);
}

TEST(ReaderModel, ReadsBlocksWithZeroedEndBytesAndEmptySlotsAsEmptyRecords) {
  std::vector<BlockRecord> blocks = MakeSampleBlocks({5, 3, 0});
  blocks[2].Lead = 0x77;
  blocks[2].Reserved503[8] = 0x66;
  TReaderModel m;
  m.LoadBlocks(blocks);
  const Reply y = ask(m, {'.', 'Y', 2, 0, '#'});
  ASSERT_EQ(y.payload.size(), 513u);
  EXPECT_EQ(y.payload[0], 'Y');
  EXPECT_EQ(y.payload[1], 0) << "lead byte";
  EXPECT_EQ(y.payload[512], 0) << "byte 511";
  EXPECT_EQ(std::memcmp(y.payload.data() + 2, reinterpret_cast<const uint8_t*>(&blocks[2]) + 1, 510), 0);

  const Reply none = ask(m, {'.', 'Y', 0x2C, 0x01, '#'});  // 300
  ASSERT_EQ(none.payload.size(), 513u);
  EXPECT_EQ(none.payload[2] | (none.payload[3] << 8), 300);
  EXPECT_EQ(none.payload[100], 0);
}

namespace {

Reply search(TReaderModel& m, const SearchRequest& q) {
  std::vector<uint8_t> u = {'.', 'U'};
  const auto* qb = reinterpret_cast<const uint8_t*>(&q);
  u.insert(u.end(), qb, qb + sizeof q);
  u.push_back('#');
  return ask(m, u);
}

SearchRequest requestFrom(int start, int from, uint8_t flags) {
  SearchRequest q;
  std::memset(&q, 0, sizeof q);
  q.Flags = flags;
  q.StartBlock = static_cast<uint16_t>(start);
  q.FromBlock = static_cast<uint16_t>(from);
  return q;
}

}  // namespace

TEST(ReaderModel, SearchAnswersACountAndTwentySummaries) {
  TReaderModel m = withBlocks(30);
  const Reply r = search(m, requestFrom(29, 30, 0));
  ASSERT_EQ(r.payload.size(), 2u + 560u);
  EXPECT_EQ(r.payload[1], 20);
  BlockSummary s[20];
  std::memcpy(s, r.payload.data() + 2, sizeof s);
  EXPECT_EQ(int{s[0].BlockNumber}, 29);
  EXPECT_EQ(int{s[19].BlockNumber}, 10);
  EXPECT_EQ(float{s[3].MeasuredDose}, float{m.Block(26).MeasuredDose});
}

// The reader filters its memory exactly as the program searches a data file
// holding the same blocks.
TEST(ReaderModel, SearchesWithTheDataFileSemantics) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("same.dat"));
  const SampleDataOptions options{400, 5, 1900};  // 1900..2047, 0..251
  ASSERT_EQ(WriteSampleDataFile(path, options), 0);
  TReaderModel m;
  m.LoadBlocks(MakeSampleBlocks(options));
  const std::vector<BlockRecord> blocks = MakeSampleBlocks(options);

  std::vector<SearchRequest> requests;
  requests.push_back(requestFrom(251, 252, 0));                                   // first page
  requests.push_back(requestFrom(5, 0, 0));                                       // across the wrap backward
  requests.push_back(requestFrom(2040, 0, kSearchForward));                       // forward across 2047
  requests.push_back(requestFrom(120, 100, kSearchByNumber));                     // number range
  requests.push_back(requestFrom(2045, 2030, kSearchByNumber | kSearchForward));  // forward number range
  SearchRequest byDosimeter = requestFrom(251, 0, kSearchByDosimeter);
  std::memcpy(byDosimeter.Dosimeter, blocks[300].BulbID, 5);
  requests.push_back(byDosimeter);
  SearchRequest byDate = requestFrom(251, 0, kSearchByDate);
  std::memcpy(byDate.DateFrom, blocks[100].DateTime, 5);
  std::memcpy(byDate.DateTo, blocks[250].DateTime, 5);
  requests.push_back(byDate);
  SearchRequest none = requestFrom(251, 0, kSearchByDosimeter);
  std::memcpy(none.Dosimeter, "Z0000", 5);
  requests.push_back(none);

  for (size_t i = 0; i < requests.size(); ++i) {
    TNurvoDataBlock file(nullptr);
    file.FileName = path;
    int count = 0;
    const uint32_t upper = 251;
    file.SearchFileBlocks(requests[i], 20, upper, requests[i].FromBlock, &count);
    const Reply r = search(m, requests[i]);
    ASSERT_EQ(r.payload.size(), 562u);
    EXPECT_EQ(r.payload[1], std::max(count, 0)) << "request " << i;
    EXPECT_EQ(std::memcmp(r.payload.data() + 2, file.Summaries, 560), 0) << "request " << i;
  }
}

TEST(ReaderModel, APageEndsWhereTheMemoryHoldsNoBlock) {
  TReaderModel m = withBlocks(50, 2030);  // 2030..2047, 0..31; slots 32..2029 empty
  BlockSummary s[20];
  const Reply back = search(m, requestFrom(2039, 0, 0));
  ASSERT_EQ(back.payload.size(), 562u);
  EXPECT_EQ(back.payload[1], 10);
  std::memcpy(s, back.payload.data() + 2, sizeof s);
  EXPECT_EQ(int{s[0].BlockNumber}, 2039);
  EXPECT_EQ(int{s[9].BlockNumber}, 2030);
  const auto* rest = reinterpret_cast<const uint8_t*>(&s[10]);
  for (size_t i = 0; i < 10 * sizeof(BlockSummary); ++i) ASSERT_EQ(rest[i], 0) << i;

  const Reply forward = search(m, requestFrom(20, 0, kSearchForward));
  EXPECT_EQ(forward.payload[1], 12);
  std::memcpy(s, forward.payload.data() + 2, sizeof s);
  EXPECT_EQ(int{s[11].BlockNumber}, 31);
  EXPECT_EQ(int{s[12].BlockNumber}, 0);
  EXPECT_EQ(search(m, requestFrom(32, 0, kSearchForward)).payload[1], 0);
}

TEST(ReaderModel, LoadsItsMemoryFromADataFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("m.dat"));
  ASSERT_EQ(WriteSampleDataFile(path, {12, 9, 2046}), 0);
  TReaderModel m;
  ASSERT_EQ(m.LoadMemoryFile(path), 0);
  EXPECT_EQ(m.BlockCount(), 12);
  EXPECT_EQ(m.NewestBlock(), 9);
  EXPECT_TRUE(m.HasBlock(2047));
  EXPECT_FALSE(m.HasBlock(10));
  EXPECT_EQ(m.LoadMemoryFile(dir.filePath(QStringLiteral("absent.dat"))), -107);
}

TEST(ReaderModel, FaultsFireByCountOrByASeededDraw) {
  FaultOptions f;
  f.crc.every = 3;
  f.refuse.every = 2;
  TReaderModel m(f);
  m.LoadBlocks(MakeSampleBlocks({3, 1, 0}));
  std::vector<Reply> r;
  for (int i = 0; i < 6; ++i) r.push_back(ask(m, {'.', 'G', '#'}));
  EXPECT_TRUE(r[0].crcOk && r[0].payload[0] == 'G');
  EXPECT_EQ(r[1].payload[0], 'P');
  EXPECT_FALSE(r[2].crcOk);
  EXPECT_EQ(r[3].payload, std::vector<uint8_t>({'P', 'G', '-'}));
  EXPECT_FALSE(r[5].crcOk);
  EXPECT_EQ(r[5].payload[0], 'P');

  FaultOptions p;
  p.drop.probability = 0.3;
  p.busy.probability = 0.3;
  p.seed = 42;
  const auto pattern = [&] {
    TReaderModel x(p);
    x.LoadBlocks(MakeSampleBlocks({3, 1, 0}));
    std::string s;
    for (int i = 0; i < 40; ++i) {
      const Reply y = ask(x, {'.', 'G', '#'});
      s += !y.present ? 'D' : (y.control == 0x20 ? 'B' : '.');
    }
    return s;
  };
  const std::string a = pattern();
  EXPECT_EQ(a, pattern());
  EXPECT_NE(a.find('D'), std::string::npos);
  EXPECT_NE(a.find('B'), std::string::npos);
  EXPECT_NE(a.find('.'), std::string::npos);
}

TEST(ReaderModel, TransmitsWithNoiseInDelayedPieces) {
  FaultOptions f;
  f.garbage = 4;
  f.chunkSize = 5;
  f.chunkDelayMs = 7;
  f.delayMs = 30;
  TReaderModel m(f);
  const std::vector<uint8_t> req = request(0x80, {'.', 'G', '#'});
  const std::vector<Emission> e = m.Feed(req.data(), req.size());
  ASSERT_EQ(e.size(), 3u);  // 4 + 11 bytes in pieces of 5
  EXPECT_EQ(e[0].delayMs, 30);
  EXPECT_EQ(e[1].delayMs, 7);
  const std::vector<uint8_t> all = joined(e);
  EXPECT_EQ(std::count(all.begin(), all.begin() + 4, 0xA1), 0) << "noise never holds a sync byte";
  EXPECT_EQ(all[4], 0xA1);
}

TEST(ReaderModel, LateRepliesWaitTheirTimeAndAVanishedReaderTakesNothingMore) {
  FaultOptions f;
  f.late.every = 2;
  f.lateMs = 4500;
  f.delayMs = 12;
  f.vanishAfter = 4;
  TReaderModel m(f);
  m.LoadBlocks(MakeSampleBlocks({3, 1, 0}));
  std::vector<int> delays;
  for (int i = 0; i < 5; ++i) {
    const std::vector<uint8_t> req = request(0x80, {'.', 'G', '#'});
    const std::vector<Emission> e = m.Feed(req.data(), req.size());
    delays.push_back(e.empty() ? -1 : e[0].delayMs);
  }
  EXPECT_EQ(delays, std::vector<int>({12, 4500, 12, -1, -1})) << "the 4th frame is taken, never answered";
  EXPECT_TRUE(m.Vanished());
  const std::vector<uint8_t> reset = request(0x00, {});
  EXPECT_TRUE(m.Feed(reset.data(), reset.size()).empty());
  EXPECT_EQ(m.Requests.size(), 4u);
}
