#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "ScriptedPrompter.h"
#include "TestEnv.h"
#include "WriteLimit.h"
#include "base/Diag.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

namespace {

BlockRecord makeBlock(uint16_t number, uint8_t tag) {
  BlockRecord r;
  std::memset(&r, 0, sizeof r);
  r.Lead = tag;
  r.BlockNumber = number;
  r.Reserved503[8] = tag;  // last byte of the record
  return r;
}

std::vector<uint8_t> bytesOf(const std::vector<BlockRecord>& blocks) {
  std::vector<uint8_t> out(blocks.size() * sizeof(BlockRecord));
  if (!blocks.empty()) std::memcpy(out.data(), blocks.data(), out.size());
  return out;
}

bool isZero(const BlockRecord& r) {
  static const BlockRecord zero{};
  return std::memcmp(&r, &zero, sizeof r) == 0;
}

class DataFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }

  QString path(const QString& name) const { return dir.filePath(name); }
  QString write(const QString& name, const std::vector<uint8_t>& bytes) {
    const QString p = path(name);
    quelm::test::WriteFile(
        p, QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    return p;
  }
  static qint64 sizeOf(const QString& p) { return QFileInfo(p).size(); }

  quelm::test::DiagScope quiet;
  quelm::test::LogCapture capture;
  QStringList& log = capture.lines;
  QTemporaryDir dir;
  TNurvoDataBlock block{nullptr};
};

// --- Counting blocks --------------------------------------------------------

TEST_F(DataFileTest, SkimCountsRecordStartsAndReadsTheNewestNumber) {
  std::vector<uint8_t> bytes(1000, 0x5A);
  bytes[513] = 0x34;
  bytes[514] = 0x12;
  const QString p = write("a.dat", bytes);
  std::memset(&block.Record, 0x77, sizeof block.Record);

  EXPECT_EQ(block.SkimFile(p), 0);
  EXPECT_EQ(block.ValidBlocks, 2u);
  EXPECT_EQ(block.LastBlock, 0x1234u);
  EXPECT_EQ(block.BlockIndex, 1u);
  EXPECT_EQ(block.Source, SourceFile);
  EXPECT_EQ(block.FileName, p);
  EXPECT_TRUE(isZero(block.Record));
  EXPECT_EQ(block.FileHandle, nullptr);
}

TEST_F(DataFileTest, SkimOfAPartialLastRecordTooShortForItsNumberGivesLastBlockZero) {
  // 1024 + n bytes: a third block begins; its number needs bytes 1025 and 1026.
  for (const int tail : {1, 2, 3}) {
    std::vector<uint8_t> bytes(1024 + tail, 0x01);
    const QString p = write("t.dat", bytes);
    block.LastBlock = 99;
    EXPECT_EQ(block.SkimFile(p), 0);
    EXPECT_EQ(block.ValidBlocks, 3u);
    EXPECT_EQ(block.BlockIndex, 2u);
    EXPECT_EQ(block.LastBlock, tail == 3 ? 0x0101u : 0u) << tail;
  }
}

TEST_F(DataFileTest, EmptyFileHasNoBlocksAndNoBlockCanBeRead) {
  const QString p = write("empty.dat", {});
  block.LastBlock = 99;
  block.BlockIndex = 5;
  EXPECT_EQ(block.SkimFile(p), 0);
  EXPECT_EQ(block.ValidBlocks, 0u);
  EXPECT_EQ(block.LastBlock, 0u);
  EXPECT_EQ(block.BlockIndex, 0u);

  block.State = Loaded | EvalEdited | RangeFault;
  std::memset(&block.Record, 0x77, sizeof block.Record);
  EXPECT_EQ(block.ReadFileBlock(0), -214);
  EXPECT_TRUE(isZero(block.Record));
  EXPECT_EQ(block.State, uint32_t{RangeFault});
  EXPECT_EQ(block.FileHandle, nullptr);
}

// --- Reading by number ------------------------------------------------------

TEST_F(DataFileTest, ReadFindsTheFirstOccurrenceOfADuplicatedNumber) {
  const QString p =
      write("dup.dat", bytesOf({makeBlock(5, 1), makeBlock(7, 2), makeBlock(9, 3), makeBlock(7, 4)}));
  block.FileName = p;
  block.State = EvalEdited;
  EXPECT_EQ(block.ReadFileBlock(7), 0);
  EXPECT_EQ(block.Record.Lead, 2);
  EXPECT_EQ(block.Record.Reserved503[8], 2);
  EXPECT_EQ(block.State, uint32_t{Loaded});
  EXPECT_EQ(block.BlockIndex, 7u);
  EXPECT_EQ(block.Source, SourceFile);
  EXPECT_EQ(block.FileHandle, nullptr);

  // A listed row's record is read as long as it still carries the number.
  const struct {
    int64_t record;
    int lead;
  } rows[] = {{3, 4}, {1, 2}, {2, 2} /* holds 9 now */, {8, 2} /* beyond the file */};
  for (const auto& row : rows) {
    EXPECT_EQ(block.ReadFileBlock(7, row.record), 0) << row.record;
    EXPECT_EQ(block.Record.Lead, row.lead) << row.record;
  }
}

TEST_F(DataFileTest, NumbersBeyondSixteenBitsNeverMatch) {
  // 70000 & 0xFFFF = 4464 is in the file, but block numbers are 16-bit.
  const QString p = write("n.dat", bytesOf({makeBlock(1, 1), makeBlock(4464, 2)}));
  block.FileName = p;
  block.State = Loaded;
  EXPECT_EQ(block.ReadFileBlock(70000), -214);
  EXPECT_TRUE(isZero(block.Record));
  EXPECT_FALSE(block.IsLoaded());
  EXPECT_EQ(block.BlockIndex, 70000u);
  EXPECT_EQ(block.ReadFileBlock(4464), 0);
  EXPECT_EQ(block.Record.Lead, 2);
}

TEST_F(DataFileTest, ATrailingPartialRecordCountsButCannotBeRead) {
  std::vector<uint8_t> bytes = bytesOf({makeBlock(10, 1), makeBlock(11, 2), makeBlock(42, 3)});
  bytes.resize(2 * 512 + 300);  // the third record is cut off
  const QString p = write("cut.dat", bytes);
  EXPECT_EQ(block.SkimFile(p), 0);
  EXPECT_EQ(block.ValidBlocks, 3u);
  EXPECT_EQ(block.LastBlock, 42u);

  EXPECT_EQ(block.ReadFileBlock(42), -214);
  EXPECT_TRUE(isZero(block.Record));
  EXPECT_FALSE(block.IsLoaded());
  EXPECT_EQ(block.FileHandle, nullptr);

  // Paging forward runs into it: two summaries, and the record keeps the last
  // whole block read.
  SearchRequest request{};
  request.Flags = kSearchForward;
  request.StartBlock = 10;
  int count = -5;
  EXPECT_EQ(block.SearchFileBlocks(request, 20, 2047, 0, &count), -1);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(int{block.Summaries[1].BlockNumber}, 11);
  EXPECT_EQ(block.Record.Lead, 2);
  EXPECT_EQ(block.FileHandle, nullptr);
}

TEST_F(DataFileTest, RandomBytesAreReadAsWhateverRecordsTheyHold) {
  std::vector<uint8_t> bytes(3 * 512 + 77);
  uint32_t x = 12345;
  for (auto& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  const QString p = write("noise.dat", bytes);
  EXPECT_EQ(block.SkimFile(p), 0);
  EXPECT_EQ(block.ValidBlocks, 4u);
  uint16_t first;
  std::memcpy(&first, bytes.data() + 1, 2);
  EXPECT_EQ(block.ReadFileBlock(first), 0);
  EXPECT_EQ(std::memcmp(&block.Record, bytes.data(), 512), 0);
  EXPECT_EQ(block.LastBlock, uint32_t(bytes[3 * 512 + 1] | bytes[3 * 512 + 2] << 8));
}

// --- What is not a data file ------------------------------------------------

TEST_F(DataFileTest, MissingFilesDirectoriesAndDevicesCannotBeOpened) {
  SearchRequest request{};
  request.Flags = kSearchByDate;
  for (const QString& p : {path("missing.dat"), dir.path(), QStringLiteral("/dev/zero"), QString()}) {
    block.ValidBlocks = 9;
    EXPECT_EQ(block.SkimFile(p), -107) << p.toStdString();
    EXPECT_EQ(block.FileName, p);
    EXPECT_EQ(block.Source, SourceFile);
    EXPECT_EQ(block.ValidBlocks, 0u);
    EXPECT_EQ(block.ReadFileBlock(1), -107);
    int count = -5;
    EXPECT_EQ(block.SearchFileBlocks(request, 20, 0, 0, &count), -107);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(block.FileHandle, nullptr);
  }
}

TEST_F(DataFileTest, UnreadableFileCannotBeOpened) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  const QString p = write("locked.dat", bytesOf({makeBlock(1, 1)}));
  ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), 0), 0);
  EXPECT_EQ(block.SkimFile(p), -107);
  EXPECT_EQ(block.ReadFileBlock(1), -107);
}

TEST_F(DataFileTest, APipeIsNoDataFileAndDoesNotBlock) {
  const QString p = path("pipe");
  ASSERT_EQ(::mkfifo(QFile::encodeName(p).constData(), 0600), 0);
  DiagFlags = quelm::kDiagLog;
  EXPECT_EQ(block.SkimFile(p), -107);
  EXPECT_EQ(log.last(), "TNurvoDataBlock::SkimFile(): filename=" + p + ": ERR_FOPEN");
  EXPECT_EQ(block.WriteFileBlock(p, 1), -107) << "nothing is written into it either";
  EXPECT_EQ(block.ValidBlocks, 0u);
  EXPECT_EQ(block.ReadFileBlock(1), -107);
  SearchRequest request{};
  int count = -5;
  EXPECT_EQ(block.SearchFileBlocks(request, 20, 0, 0, &count), -107);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(block.FileHandle, nullptr);
}

// --- Writing ----------------------------------------------------------------

TEST_F(DataFileTest, WriteTruncatesOrAppendsExactlyOneRecord) {
  const QString p = write("w.dat", bytesOf({makeBlock(1, 1), makeBlock(2, 2), makeBlock(3, 3)}));
  block.Record = makeBlock(77, 9);
  EXPECT_EQ(block.WriteFileBlock(p, 0), 0);
  EXPECT_EQ(sizeOf(p), 512);
  EXPECT_EQ(block.WriteFileBlock(p, 1), 0);
  EXPECT_EQ(sizeOf(p), 1024);
  EXPECT_EQ(block.FileHandle, nullptr);

  QFile f(p);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray all = f.readAll();
  EXPECT_EQ(std::memcmp(all.constData(), &block.Record, 512), 0);
  EXPECT_EQ(std::memcmp(all.constData() + 512, &block.Record, 512), 0);

  // A new name is created in either mode.
  EXPECT_EQ(block.WriteFileBlock(path("new1.dat"), 1), 0);
  EXPECT_EQ(sizeOf(path("new1.dat")), 512);
  EXPECT_EQ(block.WriteFileBlock(path("no/such/dir.dat"), 1), -107);
  EXPECT_EQ(block.WriteFileBlock(dir.path(), 0), -107);
}

TEST_F(DataFileTest, AFailedWriteReportsItself) {
  DiagFlags = quelm::kDiagLog;
  const QString p = path("full.dat");
  {
    quelm::test::WriteLimit limit(16);
    EXPECT_EQ(block.WriteFileBlock(p, 0), -110);
    EXPECT_EQ(log.last(), "TNurvoDataBlock::WriteFileBlock(): filename=" + p + ": ERR_FWRITE");
    EXPECT_EQ(sizeOf(p), 0) << "no cut-off record for a later append to follow";
    EXPECT_EQ(block.WriteFileBlock(p, 1), -110);
    EXPECT_EQ(sizeOf(p), 0);
  }
  EXPECT_EQ(block.FileHandle, nullptr);
}

TEST_F(DataFileTest, AnAppendThatDoesNotFitLeavesNoPartialRecord) {
  const QString p = write("full.dat", bytesOf({makeBlock(1, 1), makeBlock(2, 2)}));
  // Let the file grow by only 100 bytes: the record is half written, then
  // refused. A partial record would shift every block appended after it.
  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1024 + 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  block.Record = makeBlock(3, 3);
  const int rc = block.WriteFileBlock(p, 1);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(rc, -110);
  EXPECT_EQ(sizeOf(p), 1024);
  EXPECT_EQ(block.WriteFileBlock(p, 1), 0);
  EXPECT_EQ(block.SkimFile(p), 0);
  EXPECT_EQ(block.ValidBlocks, 3u);
  EXPECT_EQ(block.LastBlock, 3u);
}

// --- Decoding and summaries -------------------------------------------------

TEST_F(DataFileTest, DecodeChannelsFlagsBadRangesAndKeepsTheirOldRange) {
  block.Record.RawValues[0] = 0x4FFF;
  block.Record.RawValues[1] = 0x5000;
  block.Record.RawValues[2] = 0x8123;
  block.Record.RawValues[3] = 0x1ABC;
  block.Ranges[1] = 3;
  block.Ranges[2] = 2;
  EXPECT_EQ(block.DecodeChannels(), 106);
  EXPECT_EQ(block.Values[0], 4095u * 262144u);
  EXPECT_EQ(block.Ranges[0], 4u);
  EXPECT_EQ(block.Values[1], 0u);
  EXPECT_EQ(block.Ranges[1], 3u);
  EXPECT_EQ(block.Values[2], 0x123u);
  EXPECT_EQ(block.Ranges[2], 2u);
  EXPECT_EQ(block.Values[3], 0xABCu * 32);
  EXPECT_EQ(block.Ranges[3], 1u);
  EXPECT_TRUE(block.State & RangeFault);

  // A clean block does not clear the fault: the main window does after
  // reporting it.
  for (int i = 0; i < kRawValueCount; ++i) block.Record.RawValues[i] = 0x0001;
  EXPECT_EQ(block.DecodeChannels(), 106);
  EXPECT_TRUE(block.State & RangeFault);
  EXPECT_EQ(block.Ranges[1], 0u);
}

TEST_F(DataFileTest, StoreSummaryCopiesTheHeaderAndLeavesByte8) {
  auto* raw = reinterpret_cast<uint8_t*>(&block.Record);
  for (int i = 0; i < 512; ++i) raw[i] = static_cast<uint8_t>(i * 7 + 1);
  std::memset(block.Summaries, 0xEE, sizeof block.Summaries);
  block.StoreSummary(3);
  const auto* s = reinterpret_cast<const uint8_t*>(&block.Summaries[3]);
  for (int i = 0; i < 22; ++i) EXPECT_EQ(s[i], i == 8 ? 0xEE : raw[i]) << i;
  EXPECT_EQ(std::memcmp(s + 22, raw + 498, 4), 0);
  EXPECT_EQ(std::memcmp(s + 26, raw + 478, 2), 0);
  for (int slot : {0, 1, 2, 4, 19}) {
    const auto* other = reinterpret_cast<const uint8_t*>(&block.Summaries[slot]);
    for (size_t i = 0; i < sizeof(BlockSummary); ++i) ASSERT_EQ(other[i], 0xEE);
  }
  block.StoreSummary(20);  // out of the page: ignored
  block.StoreSummary(-1);
}

TEST_F(DataFileTest, DateBoundsAreExclusiveAndBytesCompareUnsigned) {
  const uint8_t a[5] = {106, 6, 24, 15, 30};
  const uint8_t later[5] = {106, 6, 24, 15, 31};
  const uint8_t far[5] = {200, 1, 1, 0, 0};
  EXPECT_EQ(TNurvoDataBlock::CompareDateTime(a, a), 0);
  EXPECT_EQ(TNurvoDataBlock::CompareDateTime(later, a), 1);
  EXPECT_EQ(TNurvoDataBlock::CompareDateTime(a, later), -1);
  EXPECT_EQ(TNurvoDataBlock::CompareDateTime(far, a), 1);

  std::memcpy(block.Record.DateTime, a, 5);
  SearchRequest r{};
  EXPECT_EQ(block.MatchDate(r), 0);  // no date criterion
  r.Flags = kSearchByDate;
  const uint8_t before[5] = {106, 6, 24, 15, 29};
  std::memcpy(r.DateFrom, before, 5);
  std::memcpy(r.DateTo, later, 5);
  EXPECT_EQ(block.MatchDate(r), 0);
  std::memcpy(r.DateFrom, a, 5);
  EXPECT_EQ(block.MatchDate(r), -1);
  std::memcpy(r.DateFrom, before, 5);
  std::memcpy(r.DateTo, a, 5);
  EXPECT_EQ(block.MatchDate(r), -1);

  std::memcpy(block.Record.BulbID, "A0012", 5);
  EXPECT_EQ(block.MatchDosimeter(r), 0);  // no dosimeter criterion
  r.Flags = kSearchByDosimeter;
  std::memcpy(r.Dosimeter, "A0012", 5);
  EXPECT_EQ(block.MatchDosimeter(r), 0);
  std::memcpy(r.Dosimeter, "A0013", 5);
  EXPECT_EQ(block.MatchDosimeter(r), -1);
}

// --- Searching ----------------------------------------------------------------

TEST_F(DataFileTest, FilteredSearchSkipsBlocksExactlyAtEitherDateBound) {
  std::vector<BlockRecord> blocks;
  for (uint16_t n = 0; n < 5; ++n) {
    BlockRecord r = makeBlock(n, 0);
    const uint8_t d[5] = {106, 1, 1, 10, static_cast<uint8_t>(n)};
    std::memcpy(r.DateTime, d, 5);
    blocks.push_back(r);
  }
  block.FileName = write("dates.dat", bytesOf(blocks));
  SearchRequest r{};
  r.Flags = kSearchByDate | kSearchByNumber | kSearchForward;
  const uint8_t from[5] = {106, 1, 1, 10, 0}, to[5] = {106, 1, 1, 10, 4};
  std::memcpy(r.DateFrom, from, 5);
  std::memcpy(r.DateTo, to, 5);
  int count = 0;
  EXPECT_EQ(block.SearchFileBlocks(r, 20, 4, 0, &count), 0);
  ASSERT_EQ(count, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(int{block.Summaries[i].BlockNumber}, i + 1);
  EXPECT_EQ(block.BlockIndex, 4u);
  EXPECT_EQ(block.Source, SourceFile);
}

TEST_F(DataFileTest, BackwardPageFromTheFirstRecordOfASmallFileEndsAfterOneSummary) {
  block.FileName = write("small.dat", bytesOf({makeBlock(100, 1), makeBlock(101, 2), makeBlock(102, 3)}));
  SearchRequest r{};
  r.StartBlock = 100;
  int count = 0;
  EXPECT_EQ(block.SearchFileBlocks(r, 20, 0, 0, &count), -1);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(int{block.Summaries[0].BlockNumber}, 100);
  EXPECT_EQ(block.FileHandle, nullptr);
}

TEST_F(DataFileTest, PagesStepAcrossTheEndsOfTheReaderMemory) {
  // A full reader image, oldest block 1000: records hold 1000..2047, 0..999.
  SampleDataOptions o;
  o.blocks = 2048;
  o.firstNumber = 1000;
  ASSERT_EQ(WriteSampleDataFile(path("full.dat"), o), 0);
  block.FileName = path("full.dat");
  int count = 0;

  // Backward from record 0 continues with the record at the end of the
  // memory (record 2047, block 999).
  SearchRequest back{};
  back.StartBlock = 1000;
  EXPECT_EQ(block.SearchFileBlocks(back, 4, 0, 0, &count), 0);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(int{block.Summaries[0].BlockNumber}, 1000);
  EXPECT_EQ(int{block.Summaries[1].BlockNumber}, 999);
  EXPECT_EQ(int{block.Summaries[2].BlockNumber}, 998);
  EXPECT_EQ(int{block.Summaries[3].BlockNumber}, 997);

  // Forward from record 2047 continues with record 0.
  SearchRequest fwd{};
  fwd.Flags = kSearchForward;
  fwd.StartBlock = 998;
  EXPECT_EQ(block.SearchFileBlocks(fwd, 4, 0, 0, &count), 0);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(int{block.Summaries[1].BlockNumber}, 999);
  EXPECT_EQ(int{block.Summaries[2].BlockNumber}, 1000);
  EXPECT_EQ(int{block.Summaries[3].BlockNumber}, 1001);
  // The search read one block beyond the page.
  EXPECT_EQ(int{block.Record.BlockNumber}, 1002);
}

// Next to a record, pages go from record to record: round the reader's
// memory, or round the whole file when it holds more records than that.
TEST_F(DataFileTest, PagesNextToARecordStepRoundTheMemoryOrTheLongerFile) {
  struct Case {
    int records;
    uint8_t flags;
    int64_t nextTo;
    int rc;
    std::vector<int64_t> listed;
  };
  const Case cases[] = {
      {30, 0, 30, 0, {29, 28, 27}},  // the file's end: its last record first
      {30, 0, 1, -1, {0}},           // record 2047 is not in the file
      {30, kSearchForward, 28, -1, {29}},
      {2048, 0, 0, 0, {2047, 2046, 2045}},
      {2048, kSearchForward, 2046, 0, {2047, 0, 1}},
      {2060, kSearchForward, 2046, 0, {2047, 2048, 2049}},
      {2060, kSearchForward, 2058, 0, {2059, 0, 1}},
      {2060, 0, 1, 0, {0, 2059, 2058}},
  };
  for (const Case& c : cases) {
    SampleDataOptions o;
    o.blocks = c.records;
    block.FileName = path(QStringLiteral("ring%1.dat").arg(c.records));
    if (!QFile::exists(block.FileName)) {
      ASSERT_EQ(WriteSampleDataFile(block.FileName, o), 0);
    }
    SearchRequest r{};
    r.Flags = c.flags;
    int count = 0;
    const std::string where = std::to_string(c.records) + " records, next to " + std::to_string(c.nextTo);
    EXPECT_EQ(block.SearchFileBlocks(r, 3, 0, 0, &count, c.nextTo), c.rc) << where;
    EXPECT_EQ(std::vector<int64_t>(block.SummaryRecords, block.SummaryRecords + count), c.listed) << where;
    for (int i = 0; i < count; ++i)
      EXPECT_EQ(int64_t{block.Summaries[i].BlockNumber}, block.SummaryRecords[i] % 2048) << where;
  }
}

TEST_F(DataFileTest, ForwardNumberSearchFrom2047ContinuesAt0) {
  SampleDataOptions o;
  o.blocks = 20;
  o.firstNumber = 2040;
  ASSERT_EQ(WriteSampleDataFile(path("wrap.dat"), o), 0);
  block.FileName = path("wrap.dat");
  SearchRequest r{};
  r.Flags = kSearchByNumber | kSearchForward;
  r.StartBlock = 2046;
  int count = 0;
  EXPECT_EQ(block.SearchFileBlocks(r, 20, 3, 0, &count), 0);
  ASSERT_EQ(count, 6);
  const int expected[] = {2046, 2047, 0, 1, 2, 3};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(int{block.Summaries[i].BlockNumber}, expected[i]);

  // Backward, a missing number ends the page early.
  r.Flags = kSearchByNumber;
  r.StartBlock = 2041;
  EXPECT_EQ(block.SearchFileBlocks(r, 20, 0, 0, &count), -1);
  EXPECT_EQ(count, 2);
}

TEST_F(DataFileTest, FilteredSearchOverEveryNumberEndsAfterOneRound) {
  SampleDataOptions o;
  o.blocks = 2048;
  auto blocks = MakeSampleBlocks(o);
  for (const int k : {3, 500, 501, 1200, 2047}) std::memcpy(blocks[k].BulbID, "RARE1", 5);
  write("all.dat", bytesOf(blocks));
  const int expected = 5;

  block.FileName = path("all.dat");
  SearchRequest r{};
  r.Flags = kSearchByDosimeter;
  r.StartBlock = 700;
  std::memcpy(r.Dosimeter, "RARE1", 5);
  int count = -1;
  EXPECT_EQ(block.SearchFileBlocks(r, 20, 0, 0, &count), 0);
  EXPECT_EQ(count, expected);
  for (int i = 0; i < count; ++i) EXPECT_EQ(std::memcmp(block.Summaries[i].BulbID, "RARE1", 5), 0);
  EXPECT_EQ(block.BlockIndex, 700u);  // a whole round

  std::memcpy(r.Dosimeter, "NONE!", 5);
  EXPECT_EQ(block.SearchFileBlocks(r, 20, 0, 0, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(block.FileHandle, nullptr);
}

TEST_F(DataFileTest, PageSizeBeyondThePageTableIsCapped) {
  SampleDataOptions o;
  o.blocks = 40;
  ASSERT_EQ(WriteSampleDataFile(path("p.dat"), o), 0);
  block.FileName = path("p.dat");
  SearchRequest r{};
  r.StartBlock = 39;
  int count = 0;
  EXPECT_EQ(block.SearchFileBlocks(r, 500, 0, 0, &count), 0);
  EXPECT_EQ(count, kPageRows);
  r.Flags = kSearchByDate;
  std::memset(r.DateTo, 0xFF, 5);
  EXPECT_EQ(block.SearchFileBlocks(r, 500, 0, 0, &count), 0);
  EXPECT_EQ(count, kPageRows);
}

// --- Trace ------------------------------------------------------------------

TEST_F(DataFileTest, TraceLinesFollowTheConvention) {
  const QString p = write("tr.dat", bytesOf({makeBlock(4, 1), makeBlock(7, 2)}));
  DiagFlags = quelm::kDiagLog;
  block.BlockIndex = 12;

  EXPECT_EQ(block.SkimFile(p), 0);
  EXPECT_EQ(block.ReadFileBlock(7), 0);
  EXPECT_EQ(block.WriteFileBlock(path("out.dat"), 1), 0);
  EXPECT_EQ(block.SkimFile(path("nope.dat")), -107);
  block.FileName = path("nope.dat");
  EXPECT_EQ(block.ReadFileBlock(3), -107);
  SearchRequest r{};
  int count;
  EXPECT_EQ(block.SearchFileBlocks(r, 20, 0, 0, &count), -107);

  const QString skim = "TNurvoDataBlock::SkimFile(): filename=" + p + ": ";
  const QString read = "TNurvoDataBlock::ReadFileBlock(): FileName=" + p + ": ";
  const QString wr = "TNurvoDataBlock::WriteFileBlock(): filename=" + path("out.dat") + ": ";
  const QString skimBad = "TNurvoDataBlock::SkimFile(): filename=" + path("nope.dat") + ": ";
  const QString readBad = "TNurvoDataBlock::ReadFileBlock(): FileName=" + path("nope.dat") + ": ";
  const QStringList expected = {
      skim,    skim + " ValidBlocks=2: ok", read,        read + "BlockIndex=7: ok",
      wr,      wr + "BlockIndex=7: ok",     skimBad,     skimBad + "ERR_FOPEN",
      readBad, readBad + "ERR_FOPEN",       "ERR_FOPEN",
  };
  EXPECT_EQ(log, expected);
}

TEST_F(DataFileTest, NoTraceWithoutDiagnosticBitsAndBoxesWithBit04) {
  quelm::test::ScriptedPrompter prompter;
  EXPECT_EQ(block.SkimFile(path("nope.dat")), -107);
  EXPECT_TRUE(log.isEmpty());
  EXPECT_TRUE(prompter.messages.empty());

  DiagFlags = quelm::kDiagBox;
  EXPECT_EQ(block.SkimFile(path("nope.dat")), -107);
  SearchRequest r{};
  int count;
  EXPECT_EQ(block.SearchFileBlocks(r, 20, 0, 0, &count), -107);
  EXPECT_TRUE(log.isEmpty());
  ASSERT_EQ(prompter.messages.size(), 2u);
  EXPECT_EQ(prompter.messages[0].kind, quelm::MessageKind::Plain);
  EXPECT_EQ(prompter.messages[0].text,
            "TNurvoDataBlock::SkimFile(): filename=" + path("nope.dat") + ": ERR_FOPEN");
  EXPECT_EQ(prompter.messages[1].text, "ERR_FOPEN");
}

}  // namespace
