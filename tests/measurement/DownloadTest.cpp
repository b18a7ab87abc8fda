// The download workflow as a core object against the simulated reader's
// model, exchanged in process (fast and exact), and against data files.
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "ReaderModel.h"
#include "TestEnv.h"
#include "base/DataFiles.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "link/CommandChannel.h"
#include "link/Frame.h"
#include "measurement/Download.h"
#include "measurement/NurvoDataBlock.h"
#include "measurement/TextList.h"
#include "sample-data/SampleData.h"

using namespace quelm;

namespace {

using Bytes = std::vector<uint8_t>;

// The reader model as the program's command channel: each command frame
// goes to the model, its reply frame is classified as the link does.
// intercept may answer a command itself (a code, or reply data).
class ModelChannel final : public TCommandChannel {
 public:
  explicit ModelChannel(sim::TReaderModel* model) : model_(model) { SetCommandChannel(this); }
  void setModel(sim::TReaderModel* model) { model_ = model; }
  ~ModelChannel() override { SetCommandChannel(nullptr); }

  std::function<std::optional<int>(const Bytes& payload)> intercept;
  // Reply data (after the letter) to send instead of the model's.
  std::function<std::optional<Bytes>(const Bytes& payload)> fakeData;
  std::vector<Bytes> sent;

  int SendCOMCmd(uint8_t* payload, uint16_t length, uint16_t* out) override {
    sent.emplace_back(payload, payload + length);
    if (intercept)
      if (const auto code = intercept(sent.back())) return *code;
    uint8_t frame[kTrmFrameSize];
    const int n =
        BuildFrame(frame, static_cast<uint8_t>(kControlInformation | (seq_++ & 0x0F)), payload, length);
    Bytes reply;
    for (const sim::Emission& e : model_->Feed(frame, static_cast<size_t>(n)))
      reply.insert(reply.end(), e.bytes.begin(), e.bytes.end());
    if (const auto data = fakeData ? fakeData(sent.back()) : std::nullopt) {
      Bytes letterAndData{payload[1]};
      letterAndData.insert(letterAndData.end(), data->begin(), data->end());
      reply.assign(letterAndData.size() + kFrameOverhead, 0);
      BuildFrame(reply.data(), frame[5], letterAndData.data(), static_cast<int>(letterAndData.size()));
    }
    if (reply.empty()) return -204;
    count_ = static_cast<uint16_t>(std::min<size_t>(reply.size(), sizeof rcv_));
    std::memcpy(rcv_, reply.data(), count_);
    if (out) *out = static_cast<uint16_t>(count_ - 10);
    return ClassifyReply(rcv_, count_, frameLengthField(rcv_), true, payload, length, true).code;
  }
  const uint8_t* RcvFrame() const override { return rcv_; }
  uint16_t RcvCount() const override { return count_; }

  // The block numbers of the ".Y" commands, and the ".K2" acknowledgements.
  std::vector<int> reads() const { return numbersOf('Y', 2); }
  std::vector<int> acks() const { return numbersOf('K', 3, '2'); }

 private:
  std::vector<int> numbersOf(uint8_t letter, int at, uint8_t sub = 0) const {
    std::vector<int> v;
    for (const Bytes& p : sent)
      if (p.size() > static_cast<size_t>(at + 1) && p[1] == letter && (!sub || p[2] == sub))
        v.push_back(p[at] | (p[at + 1] << 8));
    return v;
  }
  sim::TReaderModel* model_;
  uint8_t rcv_[kRcvFrameSize] = {};
  uint16_t count_ = 0;
  int seq_ = 0;
};

std::vector<BlockRecord> fileRecords(const QString& path) {
  QFile f(path);
  std::vector<BlockRecord> v;
  if (!f.open(QIODevice::ReadOnly)) return v;
  const QByteArray all = f.readAll();
  EXPECT_EQ(all.size() % 512, 0) << "whole records only";
  v.resize(static_cast<size_t>(all.size() / 512));
  std::memcpy(v.data(), all.constData(), v.size() * 512);
  return v;
}

int lineCount(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? static_cast<int>(f.readAll().count("\r\n")) : -1;
}

// What a download from the reader stores: the record with bytes 0 and 511 zeroed.
BlockRecord asDownloaded(BlockRecord r) {
  auto* b = reinterpret_cast<uint8_t*>(&r);
  b[0] = 0;
  b[511] = 0;
  return r;
}

void expectRecords(const std::vector<BlockRecord>& actual, const std::vector<BlockRecord>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i)
    EXPECT_EQ(std::memcmp(&actual[i], &expected[i], 512), 0) << "record " << i;
}

void writeRecords(const QString& path, const std::vector<BlockRecord>& records, int cutOff = 0) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  const auto bytes = static_cast<qint64>(records.size() * 512) - cutOff;
  ASSERT_EQ(f.write(reinterpret_cast<const char*>(records.data()), bytes), bytes);
}

// How often a file is opened, by anyone: the kernel queues one inotify event
// per open, read after the work is done. Closes are watched too: the kernel
// merges an event into an identical one just before it.
class OpenCount {
 public:
  explicit OpenCount(const QString& path) : fd_(inotify_init1(IN_NONBLOCK)) {
    EXPECT_GE(inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_OPEN | IN_CLOSE), 0);
  }
  ~OpenCount() { ::close(fd_); }
  int take() {
    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;)
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        opens += (e->mask & IN_OPEN) != 0;
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
    return opens;
  }

 private:
  int fd_;
};

constexpr int kTitleAndHeaderLines = 9;  // rule, title, blank, name, date, 4 header lines

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }

  // A new reader holding count sample blocks numbered from first on.
  void loadReader(int first, int count, int unsaved = -1) {
    reader = std::make_unique<sim::TReaderModel>();
    channel.setModel(reader.get());
    if (count > 0) reader->LoadBlocks(MakeSampleBlocks({count, 3, first}));
    reader->SetUnsaved(unsaved);
  }
  // The reader's blocks from..to (wrapping) as a download stores them.
  std::vector<BlockRecord> readerBlocks(int from, int to) const {
    std::vector<BlockRecord> v;
    for (int n = from;; n = (n + 1) % 2048) {
      v.push_back(asDownloaded(reader->Block(n)));
      if (n == to) break;
    }
    return v;
  }

  test::DiagScope quiet;
  QTemporaryDir dir;
  test::WorkDirScope workDir{dir};
  test::TextClockScope clock{QDateTime(QDate(2024, 3, 1), QTime(8, 0))};
  std::unique_ptr<sim::TReaderModel> reader = std::make_unique<sim::TReaderModel>();
  ModelChannel channel{reader.get()};
  DownloadJob job;
};

TEST_F(DownloadTest, FromTheReaderByEachTypeWithItsCorrections) {
  struct Case {
    const char* name;
    int first, count, type;
    const char* from;  // typed range (by number)
    const char* to;
    int dateOfBlock;           // by date: the read-out time of this block (or the next dated one)
    int expectFrom, expectTo;  // expectFrom -1: the dated block
  };
  const Case cases[] = {
      {"unsaved, wrapped", 2040, 14, kDownloadUnsaved, "", "", -1, 2040, 5},
      {"unsaved, whole memory", 0, 2048, kDownloadUnsaved, "", "", -1, 0, 2047},
      {"one block by number", 0, 300, kDownloadByNumber, "7", "7", -1, 7, 7},
      {"numbers beyond the newest", 0, 101, kDownloadByNumber, "3000", "3000", -1, 0, 100},
      {"a typed wrapped range", 2040, 14, kDownloadByNumber, "2042", "3", -1, 2042, 3},
      {"by date", 0, 300, kDownloadByDate, "", "", 50, -1, 299},
      {"a From after To where nothing wrapped", 0, 300, kDownloadByNumber, "298", "2", -1, 0, 2},
      {"by date from before the wrap", 200, 1949, kDownloadByDate, "", "", 250, -1, 100},
  };
  EXPECT_TRUE(job.State().controls.rangeGrey) << "nothing chosen yet: the range is greyed";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    loadReader(c.first, c.count);
    channel.sent.clear();
    int from = c.expectFrom;
    job.SetStorageName(QStringLiteral("run%1").arg(&c - cases));
    ASSERT_EQ(job.SelectType(c.type).kind, DownloadResult::kNone);
    EXPECT_EQ(job.State().controls.rangeGrey, c.type == kDownloadByDate) << "black only where it counts";
    if (c.type == kDownloadByNumber) job.SetRangeTexts(QLatin1String(c.from), QLatin1String(c.to));
    if (c.type == kDownloadByDate) {
      int dated = c.dateOfBlock;
      while (reader->Block(dated).ErrorCodes & 0x10) ++dated;
      if (from < 0) from = dated;
      const uint8_t* d = reader->Block(dated).DateTime;
      for (int f = 0; f < kDateFieldCount; ++f)
        job.SetDateText(static_cast<DateField>(f), QString::number(f == kYear ? d[0] + 1900 : d[f]));
    }
    // While the loop runs only Abort can be used.
    int gaugeMax = -1;
    job.onChanged = [&] {
      const DownloadState& s = job.State();
      if (!s.running || s.actualBlock.isEmpty()) return;
      gaugeMax = s.gaugeMax;
      EXPECT_FALSE(s.controls.typeList || s.controls.sourceChoice || s.controls.storage || s.controls.range ||
                   s.controls.start);
      EXPECT_TRUE(s.controls.abort);
    };
    const DownloadResult r = job.Start();
    job.onChanged = nullptr;
    ASSERT_EQ(r.kind, DownloadResult::kCompleted) << r.code;
    EXPECT_EQ(r.message, "Process completed");
    const int expected = DownloadBlockCount(from, c.expectTo);
    EXPECT_EQ(r.blocks, expected);
    EXPECT_EQ(gaugeMax, expected - 1);
    expectRecords(fileRecords(job.State().storageName), readerBlocks(from, c.expectTo));
    EXPECT_EQ(lineCount(ChangeFileExt(job.State().storageName, ".lst")), kTitleAndHeaderLines + expected);
    EXPECT_EQ(channel.acks(), c.type == kDownloadUnsaved ? std::vector<int>{c.expectTo} : std::vector<int>{});
    // A reader download ends in the reset window.
    EXPECT_EQ(job.State().type, kDownloadNotSelected);
    EXPECT_FALSE(job.State().controls.start || job.State().controls.abort);
    EXPECT_TRUE(job.State().controls.typeList);
  }
}

TEST_F(DownloadTest, AnExistingStorageFileIsAppendedOverwrittenOrJoinedByANewOne) {
  loadReader(0, 30);
  struct Case {
    int choice;
    int storageRecords;  // old ones kept + new ones
    bool second;
  };
  for (const Case c : {Case{kChoiceAppend, 2 + 5, false}, Case{kChoiceOverwrite, 5, false},
                       Case{kChoiceAppendNew, 2 + 5, true}, Case{kChoiceCancel, 2, false}}) {
    SCOPED_TRACE(c.choice);
    const QString caseDir = dir.filePath(QStringLiteral("case%1").arg(c.choice));
    QDir().mkpath(caseDir);
    QDir::setCurrent(caseDir);
    for (const char* name : {"Run.dat", "Run1.dat", "Run2.dat"})
      ASSERT_EQ(WriteSampleDataFile(name, {2, 9, 500}), 0);
    job.SetContentList(true);
    job.SetDetailedText(true);
    job.SetStorageName(QStringLiteral("Run"));
    QString asked;
    job.askExistingFile = [&](const QString& name) {
      asked = name;
      return c.choice;
    };
    ASSERT_EQ(job.SelectType(kDownloadByNumber).kind, DownloadResult::kNone);
    job.SetRangeTexts("20", "24");
    const DownloadResult r = job.Start();
    EXPECT_EQ(asked, "Run.dat");
    EXPECT_EQ(r.kind, c.choice == kChoiceCancel ? DownloadResult::kNone : DownloadResult::kCompleted);
    const std::vector<BlockRecord> stored = fileRecords("Run.dat");
    ASSERT_EQ(static_cast<int>(stored.size()), c.storageRecords);
    if (c.choice != kChoiceCancel) expectRecords({stored.end() - 5, stored.end()}, readerBlocks(20, 24));
    if (c.second) expectRecords(fileRecords("Run3.dat"), readerBlocks(20, 24));
    EXPECT_EQ(QFile::exists("Run3.dat"), c.second);
    EXPECT_FALSE(QFile::exists("Run.lst") || QFile::exists("Run.txt"));
    // The check boxes end unchecked once the question was answered.
    EXPECT_EQ(job.State().contentList, c.choice == kChoiceCancel);
    EXPECT_FALSE(job.State().running);
  }
}

TEST_F(DownloadTest, AbortCompletesTheBlockInHandAndAnEarlierRequestDoesNotCount) {
  loadReader(0, 40);
  job.RequestAbort();  // nothing runs: dropped by the next Start
  ASSERT_EQ(job.SelectType(kDownloadUnsaved).kind, DownloadResult::kNone);
  channel.intercept = [&](const Bytes& p) -> std::optional<int> {
    if (p[1] == 'Y' && channel.reads().size() == 3) job.RequestAbort();
    return std::nullopt;
  };
  job.SetStorageName("abort");
  const DownloadResult r = job.Start();
  EXPECT_EQ(r.kind, DownloadResult::kAborted);
  EXPECT_EQ(r.message, "User aborted");
  EXPECT_EQ(r.blocks, 3);
  expectRecords(fileRecords("abort.dat"), readerBlocks(0, 2));
  EXPECT_TRUE(channel.acks().empty()) << "an aborted download saves nothing on the reader";
  EXPECT_EQ(job.State().type, kDownloadNotSelected);
}

TEST_F(DownloadTest, AFailureKeepsTheWrittenBlocksWholeAndIsNotAcknowledged) {
  loadReader(0, 40);
  ASSERT_EQ(job.SelectType(kDownloadUnsaved).kind, DownloadResult::kNone);
  channel.intercept = [&](const Bytes& p) -> std::optional<int> {
    if (p[1] == 'Y' && p[2] == 17) return -205;
    return std::nullopt;
  };
  job.SetStorageName("partial");
  const DownloadResult r = job.Start();
  EXPECT_EQ(r.kind, DownloadResult::kFailure);
  EXPECT_EQ(r.code, -205);
  EXPECT_EQ(r.blocks, 17);
  expectRecords(fileRecords("partial.dat"), readerBlocks(0, 16));
  EXPECT_TRUE(channel.acks().empty());
}

TEST_F(DownloadTest, ImpossibleBoundsAndEmptyReadersDownloadNothing) {
  loadReader(0, 20, 0);
  EXPECT_EQ(job.SelectType(kDownloadUnsaved).message, "There are no unsaved blocks");
  EXPECT_EQ(job.State().type, kDownloadNotSelected);

  // ".F#" answering 0 while blocks exist: no newest block to run towards.
  channel.fakeData = [](const Bytes& p) -> std::optional<Bytes> {
    if (p[1] == 'F') return Bytes{0, 0};
    return std::nullopt;
  };
  const DownloadResult bad = job.SelectType(kDownloadByNumber);
  EXPECT_EQ(bad.kind, DownloadResult::kFailure);
  EXPECT_FALSE(job.State().controls.start);
  EXPECT_EQ(job.Start().kind, DownloadResult::kNone);

  channel.fakeData = nullptr;
  loadReader(0, 0);
  EXPECT_EQ(job.SelectType(kDownloadByNumber).message, "No valid blocks");
  EXPECT_FALSE(QFile::exists(".dat"));
}

TEST_F(DownloadTest, TypedEntriesThatAreNoNumbersOrOutOfTheDateLimitsStopBeforeAnythingIsAsked) {
  loadReader(0, 20);
  ASSERT_EQ(WriteSampleDataFile("kept.dat", {1, 1, 0}), 0);
  job.SetStorageName("kept");
  bool asked = false;
  job.askExistingFile = [&](const QString&) {
    asked = true;
    return int{kChoiceOverwrite};
  };
  job.SelectType(kDownloadByNumber);
  job.SetRangeTexts("1x", "5");
  DownloadResult r = job.Start();
  EXPECT_EQ(r.kind, DownloadResult::kRefused);
  EXPECT_EQ(r.message, "'1x' is not a valid integer value");
  job.SelectType(kDownloadByDate);
  job.Activate(QDate(2024, 5, 6));
  EXPECT_EQ(job.State().dateTexts[kYear], "2024");
  job.SetDateText(kMinute, "");
  EXPECT_EQ(job.Start().kind, DownloadResult::kRefused);
  // Typed into the window's edits: a month of 13 would reach the reader as it is.
  job.SetDateText(kMinute, "0");
  job.SetDateText(kMonth, "13");
  r = job.Start();
  EXPECT_EQ(r.kind, DownloadResult::kRefused);
  EXPECT_EQ(r.message, "The month must be from 1 to 12, not 13");
  // Each edit within its limits, but no day of the calendar.
  job.SetDateText(kMonth, "2");
  job.SetDateText(kDay, "31");
  const size_t sent = channel.sent.size();
  r = job.Start();
  EXPECT_EQ(r.kind, DownloadResult::kRefused);
  EXPECT_EQ(r.message, "The day must be from 1 to 29, not 31");
  EXPECT_EQ(channel.sent.size(), sent) << "the reader is asked nothing";
  EXPECT_FALSE(asked);
  EXPECT_EQ(fileRecords("kept.dat").size(), 1u);
}

// --- From a data file ---------------------------------------------------------

TEST_F(DownloadTest, FromAFileAWrappedRangeIsCopiedWholeAndAMissingNumberStops) {
  ASSERT_EQ(WriteSampleDataFile("wrapped.dat", {14, 5, 2040}), 0);
  job.ChooseFile();
  EXPECT_FALSE(job.State().controls.start) << "nothing to copy before a source is read";
  ASSERT_EQ(job.SkimSource("wrapped.dat").kind, DownloadResult::kNone);
  EXPECT_EQ(job.State().fromText, "2040");
  EXPECT_EQ(job.State().toText, "5");
  job.SetStorageName("copy");
  DownloadResult r = job.Start();
  ASSERT_EQ(r.kind, DownloadResult::kCompleted) << r.code;
  EXPECT_EQ(r.blocks, 14);
  expectRecords(fileRecords("copy.dat"), fileRecords("wrapped.dat"));
  // The detailed list of a file download: a number line and CSV values per block.
  EXPECT_EQ(lineCount("copy.txt"), 5 + 14 * (3 + 1 + 106));
  EXPECT_TRUE(job.State().controls.abort);
  EXPECT_FALSE(job.State().controls.start);

  // A source without block 15: the blocks before it stay.
  std::vector<BlockRecord> gap = MakeSampleBlocks({10, 5, 10});
  gap.erase(gap.begin() + 5);
  QFile f("gap.dat");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(reinterpret_cast<const char*>(gap.data()), static_cast<qint64>(gap.size() * 512));
  f.close();
  job.Reset();
  job.ChooseFile();
  ASSERT_EQ(job.SkimSource("gap.dat").kind, DownloadResult::kNone);
  job.SetRangeTexts("10", "19");
  job.SetStorageName("gapcopy");
  r = job.Start();
  EXPECT_EQ(r.kind, DownloadResult::kFailure);
  EXPECT_EQ(r.code, -214);
  expectRecords(fileRecords("gapcopy.dat"), {gap.begin(), gap.begin() + 5});
}

TEST_F(DownloadTest, AFileOfMoreBlocksThanAReaderHoldsIsCopiedWholeInFileOrderFromOneRead) {
  // Block numbers 0..2047, 0..2047, 0..903: every number held two or three times.
  const std::vector<BlockRecord> source = MakeSampleBlocks({5000, 5, 0});
  writeRecords("big.dat", source);
  std::vector<BlockRecord> archived;
  job.onBlockWritten = [&](const BlockRecord& r) { archived.push_back(r); };
  job.ChooseFile();
  ASSERT_EQ(job.SkimSource("big.dat").kind, DownloadResult::kNone);
  job.SetStorageName("copy");
  job.SetDetailedText(false);
  OpenCount opens("big.dat");
  const DownloadResult r = job.Start();
  ASSERT_EQ(r.kind, DownloadResult::kCompleted) << r.code << " " << takeReportNote(r.code).toStdString();
  EXPECT_EQ(r.blocks, 5000);
  EXPECT_EQ(r.from, 0);
  EXPECT_EQ(r.to, 903);
  EXPECT_EQ(job.State().gaugeMax, 4999);
  expectRecords(fileRecords("copy.dat"), source);
  expectRecords(archived, source);
  EXPECT_EQ(lineCount("copy.lst"), kTitleAndHeaderLines + 5000);
  EXPECT_EQ(opens.take(), 1) << "the source is read once";

  // A range names one block per number, as a reader holds it: in this file
  // it cannot tell which copy is meant.
  archived.clear();
  job.ChooseFile();
  ASSERT_EQ(job.SkimSource("big.dat").kind, DownloadResult::kNone);
  job.SetStorageName("part");
  job.SetRangeTexts("2000", "10");
  const DownloadResult range = job.Start();
  EXPECT_EQ(range.kind, DownloadResult::kFailure);
  EXPECT_EQ(range.code, kErrSourceFile);
  EXPECT_EQ(takeReportNote(kErrSourceFile),
            "big.dat: it holds block 2000 2 times (records 2000, 4048); a range names one block per number: "
            "copy the whole file");
  EXPECT_FALSE(QFile::exists("part.dat") || QFile::exists("part.lst"));
  EXPECT_TRUE(archived.empty());
}

TEST_F(DownloadTest, AWholeFileWithARecordNoReaderSendsIsRefusedBeforeAnythingIsWritten) {
  std::vector<BlockRecord> numbered = MakeSampleBlocks({6, 5, 0});
  numbered[2].BlockNumber = 2048;
  const struct {
    std::vector<BlockRecord> records;
    int cutOff;
    const char* note;
  } cases[] = {
      {numbered, 0, "src.dat: record 2 is numbered 2048; a reader numbers its blocks 0 to 2047"},
      {MakeSampleBlocks({6, 5, 0}), 100, "src.dat: it ends in a cut-off record of 412 bytes after record 4"},
  };
  for (const auto& c : cases) {
    writeRecords("src.dat", c.records, c.cutOff);
    // The last record is numbered 5 (or 2048 when cut off after its number).
    job.ChooseFile();
    ASSERT_EQ(job.SkimSource("src.dat").kind, DownloadResult::kNone) << c.note;
    job.SetStorageName("copy");
    const DownloadResult r = job.Start();
    EXPECT_EQ(r.code, kErrSourceFile) << c.note;
    EXPECT_EQ(takeReportNote(kErrSourceFile), c.note);
    EXPECT_FALSE(QFile::exists("copy.dat") || QFile::exists("copy.lst")) << c.note;
    // A range of what the file holds whole is still a download.
    job.SetRangeTexts("3", "4");
    EXPECT_EQ(job.Start().blocks, 2) << c.note;
    for (const char* name : {"copy.dat", "copy.lst", "copy.txt"}) ASSERT_TRUE(QFile::remove(name));
  }
}

TEST_F(DownloadTest, AFileNeverBecomesItsOwnStorageOrListAndOddNumbersAreRefused) {
  ASSERT_EQ(WriteSampleDataFile("run.dat", {6, 5, 0}), 0);
  ASSERT_EQ(WriteSampleDataFile("run.txt", {1, 5, 0}), 0);  // a source under a list's name
  job.askExistingFile = [](const QString&) { return int{kChoiceOverwrite}; };
  job.ChooseFile();
  for (const char* source : {"run.dat", "run.txt"}) {
    ASSERT_EQ(job.SkimSource(source).kind, DownloadResult::kNone);
    job.SetStorageName(QStringLiteral("./../%1/run").arg(QDir(dir.path()).dirName()));
    const DownloadResult r = job.Start();
    EXPECT_EQ(r.kind, DownloadResult::kRefused) << source;
    EXPECT_EQ(r.message, "Source and Download file name is equivalent");
  }
  EXPECT_EQ(fileRecords("run.dat").size(), 6u);
  ASSERT_EQ(job.SkimSource("run.dat").kind, DownloadResult::kNone);
  EXPECT_EQ(job.BrowseStorage("run.x").kind, DownloadResult::kRefused);
  ASSERT_EQ(::link("run.dat", "hard.dat"), 0);  // the same file under another name
  EXPECT_EQ(job.BrowseStorage("hard.x").kind, DownloadResult::kRefused);
  job.SetStorageName("other");
  EXPECT_EQ(job.BrowseSource(dir.filePath("run.dat")).kind, DownloadResult::kNone);
  job.SetStorageName("run");
  EXPECT_EQ(job.BrowseSource("run.dat").kind, DownloadResult::kRefused);
  EXPECT_TRUE(job.State().sourceName.isEmpty());

  // A last record numbered beyond the memory.
  std::vector<BlockRecord> odd = MakeSampleBlocks({2, 5, 0});
  odd[1].BlockNumber = 3000;
  QFile f("odd.dat");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(reinterpret_cast<const char*>(odd.data()), 1024);
  f.close();
  EXPECT_EQ(job.SkimSource("odd.dat").code, -214);
  EXPECT_FALSE(job.State().controls.start);
}

// A list that is the storage file under another name (a link, made before
// or dangling until the first block) is refused before anything is asked.
TEST_F(DownloadTest, NoOutputIsAnotherOutputUnderAnotherName) {
  loadReader(0, 20, 5);
  const struct {
    const char* link;
    const char* target;
    bool storageExists;
  } cases[] = {{"s1.lst", "s1.dat", false},
               {"s2.txt", "s2.dat", false},
               {"s3.lst", "s3.dat", true},
               {"s4.txt", "s4.lst", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    const QString storage = QString::fromLatin1(c.target).left(2) + QStringLiteral(".dat");
    if (c.storageExists) ASSERT_EQ(WriteSampleDataFile(storage, {1, 5, 0}), 0);
    ASSERT_EQ(::symlink(c.target, c.link), 0);
    channel.sent.clear();
    job.SetStorageName(storage.left(2));
    ASSERT_EQ(job.SelectType(kDownloadUnsaved).kind, DownloadResult::kNone);
    job.askExistingFile = [](const QString&) { return int{kChoiceAppend}; };
    const DownloadResult r = job.Start();
    EXPECT_EQ(r.code, kErrFileOpen);
    EXPECT_EQ(channel.acks(), std::vector<int>{});
    EXPECT_EQ(QFileInfo(storage).size(), c.storageExists ? 512 : 0);
  }
}

// Every flush to the disk, seen from inside: the name flushed, how many
// acknowledgements the reader had been sent by then and the file's size on
// the disk. A flush whose name fails() is true fails with EIO.
class FlushWatch {
 public:
  explicit FlushWatch(const ModelChannel& channel) {
    setFileSyncHook([this, &channel](const QString& name) {
      flushes.emplace_back(QFileInfo(name).fileName(), channel.acks().size());
      sizes[QFileInfo(name).fileName()] = QFileInfo(name).size();
      return fails && fails(QFileInfo(name).fileName()) ? EIO : 0;
    });
  }
  ~FlushWatch() { setFileSyncHook(nullptr); }
  FlushWatch(const FlushWatch&) = delete;
  FlushWatch& operator=(const FlushWatch&) = delete;
  bool flushed(const QString& name) const {
    for (const auto& f : flushes)
      if (f.first == name) return true;
    return false;
  }
  std::function<bool(const QString&)> fails;
  std::vector<std::pair<QString, size_t>> flushes;  // name, acknowledgements sent before it
  std::map<QString, qint64> sizes;                  // name, its size at its last flush
};

TEST_F(DownloadTest, UnsavedBlocksAreAcknowledgedOnlyOnceTheyAreOnTheDisk) {
  const QString folder = QFileInfo(dir.path()).canonicalFilePath();
  const struct {
    const char* name;
    const char* failing;  // the file or folder whose flush fails, or none
    bool ackFails;        // the reader carries the acknowledgement out, its reply is wrong
  } cases[] = {{"flushed", nullptr, false},
               {"the storage file fails", "night.dat", false},
               {"its folder fails", "<folder>", false},
               {"the content list fails", "night.lst", false},
               {"the detailed text list fails", "night.txt", false},
               {"the acknowledgement fails", nullptr, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    loadReader(0, 12);
    channel.sent.clear();
    QFile::remove("night.dat");
    QFile::remove("night.lst");
    QFile::remove("night.txt");
    FlushWatch watch(channel);
    const QString failing = c.failing && c.failing == std::string("<folder>")
                                ? QFileInfo(folder).fileName()
                                : QString::fromLatin1(c.failing);
    // A list is flushed once as it is begun, before any block: what fails is
    // a flush of what the blocks wrote.
    watch.fails = [&](const QString& name) { return name == failing && QFileInfo::exists("night.dat"); };
    channel.intercept = [&](const Bytes& p) -> std::optional<int> {
      if (c.ackFails && p[1] == 'K' && p[2] == '2') reader->Script.push_back(sim::kFaultWrongLetter);
      return std::nullopt;
    };
    job.SetStorageName("night");
    ASSERT_EQ(job.SelectType(kDownloadUnsaved).kind, DownloadResult::kNone);
    takeFileFailure();
    const DownloadResult r = job.Start();
    channel.intercept = nullptr;
    EXPECT_TRUE(watch.flushed("night.dat"));
    for (const auto& f : watch.flushes)
      EXPECT_EQ(f.second, 0u) << "flushed after the acknowledgement: " << f.first.toStdString();
    // Whole on the disk whatever the reader then answers: that is what is archived.
    EXPECT_EQ(r.onDisk, !c.failing);
    if (c.ackFails) {
      EXPECT_EQ(r.kind, DownloadResult::kFailure);
      EXPECT_NE(r.code, 0);
      EXPECT_FALSE(r.acknowledged);
      EXPECT_EQ(r.blocks, 12);
      EXPECT_EQ(reader->FirstUnsaved(), -1) << "carried out all the same";
      continue;
    }
    if (!c.failing) {
      EXPECT_EQ(r.kind, DownloadResult::kCompleted);
      EXPECT_TRUE(r.acknowledged);
      EXPECT_TRUE(watch.flushed(QFileInfo(folder).fileName())) << "the new file's entry in its folder";
      EXPECT_EQ(channel.acks(), std::vector<int>{11});
      for (const char* name : {"night.dat", "night.lst", "night.txt"})
        EXPECT_EQ(watch.sizes[name], QFileInfo(name).size()) << name << " is on the disk whole";
      continue;
    }
    EXPECT_EQ(r.kind, DownloadResult::kFailure);
    EXPECT_EQ(r.code, kErrFileClose);
    EXPECT_FALSE(r.acknowledged);
    EXPECT_EQ(channel.acks(), std::vector<int>{}) << "no acknowledgement frame";
    EXPECT_EQ(takeFileFailure().reason, QString::fromLocal8Bit(std::strerror(EIO)));
    EXPECT_EQ(job.State().type, kDownloadNotSelected);
  }
}

// An overwritten storage file is replaced by a complete download alone:
// one that fails, on the line or at the flush, leaves it byte for byte and
// no scratch file beside it, and says so. An acknowledgement that fails
// comes after the replacement.
TEST_F(DownloadTest, AnOverwriteReplacesTheOldFileOnlyWhenItIsCompleteAndOnTheDisk) {
  const struct {
    const char* name;
    int failingRead;  // the block whose read fails, or -1
    bool flushFails;
    bool ackFails;
  } cases[] = {{"complete", -1, false, false},
               {"a block fails", 7, false, false},
               {"the flush fails", -1, true, false},
               {"the acknowledgement fails", -1, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    loadReader(0, 12);
    channel.sent.clear();
    ASSERT_EQ(WriteSampleDataFile("Run.dat", {20, 9, 500}), 0);
    ASSERT_TRUE(QFile::setPermissions("Run.dat", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QFile old("Run.dat");
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    const QByteArray before = old.readAll();
    old.close();
    channel.intercept = [&](const Bytes& p) -> std::optional<int> {
      if (p[1] == 'Y' && p[2] == c.failingRead) return -205;
      if (c.ackFails && p[1] == 'K' && p[2] == '2') return -205;
      return std::nullopt;
    };
    FlushWatch watch(channel);
    watch.fails = [&](const QString& name) { return c.flushFails && name.startsWith("Run.dat."); };
    job.SetStorageName("Run");
    job.askExistingFile = [](const QString&) { return int{kChoiceOverwrite}; };
    ASSERT_EQ(job.SelectType(kDownloadUnsaved).kind, DownloadResult::kNone);
    const DownloadResult r = job.Start();
    channel.intercept = nullptr;
    EXPECT_EQ(QDir().entryList(QDir::Files), QStringList{"Run.dat"});
    EXPECT_EQ(r.storageUnchanged, c.failingRead >= 0 || c.flushFails);
    if (c.failingRead < 0 && !c.flushFails) {
      EXPECT_EQ(r.kind, c.ackFails ? DownloadResult::kFailure : DownloadResult::kCompleted);
      expectRecords(fileRecords("Run.dat"), readerBlocks(0, 11));
      EXPECT_EQ(channel.acks(), std::vector<int>{11});
      EXPECT_EQ(QFile::permissions("Run.dat") & 0x7077,
                QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
      for (const auto& f : watch.flushes) EXPECT_EQ(f.second, 0u) << f.first.toStdString();
      continue;
    }
    EXPECT_EQ(r.kind, DownloadResult::kFailure);
    EXPECT_EQ(r.code, c.flushFails ? kErrFileClose : -205);
    QFile now("Run.dat");
    ASSERT_TRUE(now.open(QIODevice::ReadOnly));
    EXPECT_EQ(now.readAll(), before);
    EXPECT_EQ(channel.acks(), std::vector<int>{});
  }
}

TEST(DownloadRange, CorrectionsKeepWrappedRangesOfWhatTheSourceHolds) {
  const struct {
    long long from, to;
    uint32_t last, valid;
    int expectFrom, expectTo;
  } cases[] = {
      {3000, 3000, 100, 101, 0, 100},  {-8, 5, 5, 14, 0, 5},
      {2040, 5, 5, 14, 2040, 5},       {2030, 5, 5, 14, 0, 5},
      {2041, 2045, 5, 14, 2041, 2045}, {2045, 2041, 5, 14, 2045, 5},
      {7, 7, 299, 300, 7, 7},          {0, 2047, 2047, 2048, 0, 2047},
      {100, 50, 99, 100, 0, 50},       {298, 2, 299, 300, 0, 2},
      {100, 50, 251, 300, 0, 50},      {298, 2, 299, 2048, 0, 2},
      {300, 2, 299, 2048, 300, 2},
  };
  for (const auto& c : cases) {
    const BlockRange r = CorrectDownloadRange(c.from, c.to, c.last, c.valid);
    EXPECT_EQ(r.from, c.expectFrom) << c.from << ".." << c.to;
    EXPECT_EQ(r.to, c.expectTo) << c.from << ".." << c.to;
  }
  // By date: the dated block if the reader holds it, else the newest alone.
  const struct {
    uint32_t byDate, last, valid;
    int expectFrom, expectTo;
  } dated[] = {{50, 299, 300, 50, 299},
               {250, 100, 1949, 250, 100},
               {250, 100, 101, 100, 100},
               {3000, 100, 2048, 100, 100}};
  for (const auto& c : dated) {
    const BlockRange r = DateDownloadRange(c.byDate, c.last, c.valid);
    EXPECT_EQ(std::make_pair(r.from, r.to), std::make_pair(c.expectFrom, c.expectTo))
        << c.byDate << " " << c.valid;
  }
  EXPECT_EQ(DownloadBlockCount(2040, 5), 14);
  EXPECT_EQ(DownloadBlockCount(6, 5), 2048);
  EXPECT_EQ(ChangeFileExt("run", ".dat"), "run.dat");
  EXPECT_EQ(ChangeFileExt("a.b/run.x", ".lst"), "a.b/run.lst");
  EXPECT_EQ(ChangeFileExt("", ".dat"), ".dat");
}

}  // namespace
