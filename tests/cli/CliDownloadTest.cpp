// quelm-cli download and export: what they refuse, what they write, and how
// a failing reader ends a download.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "CliDriver.h"
#include "Golden.h"
#include "ReaderModel.h"
#include "SimServer.h"
#include "TestEnv.h"
#include "evaluation/BlockExport.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

using quelm::test::ReadFile;

namespace {

using quelm::test::runCli;

class CliDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(WriteSampleDataFile("src.dat", {14, 3, 2040}), 0);
  }
  QTemporaryDir dir;
  quelm::test::WorkDirScope workDir{dir};
};

TEST_F(CliDownloadTest, WrongOrMissingChoicesAreUsageErrors) {
  ASSERT_EQ(WriteSampleDataFile("taken.dat", {1, 3, 0}), 0);
  const struct {
    QStringList args;
    const char* inErr;
  } cases[] = {
      {{"download", "--unsaved", "--out", "x"}, "--port is needed"},
      {{"download", "--port", "/dev/null", "--unsaved"}, "--out STORAGE.dat is needed"},
      {{"download", "--port", "/dev/null", "--unsaved", "--number", "1", "2", "--out", "x"},
       "choose one of --unsaved"},
      {{"download", "--port", "/dev/null", "--since", "yesterday", "--out", "x"},
       "--since must be a date and time \"YYYY.MM.DD HH:MM\", not \"yesterday\""},
      {{"download", "--from-file", "src.dat", "--unsaved", "--out", "x"}, "not --unsaved or --since"},
      {{"download", "--from-file", "src.dat", "--number", "1", "2", "--port", "COM1", "--out", "x"},
       "--port and --baud"},
      {{"download", "--from-file", "src.dat", "--number", "1", "2", "--out", "x", "--new", "--append"},
       "choose one of"},
      {{"download", "--from-file", "src.dat", "--number", "1", "2", "--out", "taken"},
       "taken.dat exists: choose"},
      {{"download", "--from-file", "src.dat", "--number", "x1", "2", "--out", "y"},
       "'x1' is not a valid integer"},
      {{"download", "--from-file", "src.dat", "--number", "1", "2", "--out", "src", "--overwrite"},
       "file name is equivalent"},
      {{"export", "src.dat"}, "a data file and a block number are needed"},
      {{"export", "src.dat", "3000"}, "BLOCK must be a whole number from 0 to 2047"},
  };
  for (const auto& c : cases) {
    const auto r = runCli(c.args);
    EXPECT_EQ(r.code, 2) << c.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.inErr))) << r.err.toStdString();
  }
  EXPECT_EQ(ReadFile("taken.dat").size(), 512) << "a refused download writes nothing";
  EXPECT_EQ(ReadFile("src.dat").size(), 14 * 512);
  EXPECT_FALSE(QFile::exists("y.dat") || QFile::exists("x.dat"));
}

TEST_F(CliDownloadTest, AFileDownloadAndAnExportWriteWhatTheWindowWrites) {
  // Without --number the whole file, wrapped range and all.
  auto r = runCli({"download", "--from-file", "src.dat", "--out", "copy", "--no-archive"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(
      r.out,
      "Downloaded 14 block(s) 2040..5 to copy.dat\nContent list: copy.lst\nDetailed text list: copy.txt\n");
  EXPECT_EQ(ReadFile("copy.dat"), ReadFile("src.dat"));
  EXPECT_TRUE(ReadFile("copy.txt").contains("\r\nBL No=  2040  \r\n"));

  r = runCli({"download", "--from-file", "src.dat", "--number", "3", "4", "--out", "copy", "--append",
              "--no-archive"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, "Downloaded 2 block(s) 3..4 to copy.dat\n") << "no lists beside an existing file";
  EXPECT_EQ(ReadFile("copy.dat").size(), 16 * 512);

  r = runCli({"export", "src.dat", "2041"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  TNurvoDataBlock block(nullptr);
  block.FileName = "src.dat";
  ASSERT_EQ(block.ReadFileBlock(2041), 0);
  ASSERT_EQ(quelm::ExportBlockText(block.Record, "Quelm2041.expected"), 0);
  EXPECT_EQ(ReadFile("Quelm2041.txt").replace("Quelm2041.txt", "X"),
            ReadFile("Quelm2041.expected").replace("Quelm2041.expected", "X"));
  r = runCli({"export", "src.dat", "100", "x.txt"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("Source file error (-214)")) << r.err.toStdString();
}

TEST_F(CliDownloadTest, AFileOfMoreBlocksThanAReaderHoldsIsCopiedAndArchivedWhole) {
  // 5000 blocks: the numbers 0..2047 twice, then 0..903.
  ASSERT_EQ(WriteSampleDataFile("big.dat", {5000, 3, 0}), 0);
  auto r = runCli({"download", "--from-file", "big.dat", "--out", "copy", "--no-lst", "--no-txt", "--db",
                   dir.filePath("dose.sqlite")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.startsWith("Downloaded 5000 block(s) 0..903 to copy.dat\nArchived: 5000 added"))
      << r.out.toStdString();
  EXPECT_EQ(ReadFile("copy.dat"), ReadFile("big.dat"));

  // A range cannot tell which of the copies of its numbers is meant.
  r = runCli(
      {"download", "--from-file", "big.dat", "--number", "100", "200", "--out", "part", "--no-archive"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("Source file error (-214)")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("big.dat: it holds block 100 3 times (records 100, 2148, 4196)"))
      << r.err.toStdString();
  EXPECT_FALSE(QFile::exists("part.dat"));
}

TEST_F(CliDownloadTest, AReaderThatRefusesEndsTheDownloadKeepingTheBlocksUnacknowledged) {
  quelm::sim::FaultOptions faults;
  faults.refuse.every = 8;  // the 8th reply: ".G#", ".F#", ".K0#", then the 5th block
  quelm::sim::TReaderModel model(faults);
  model.LoadBlocks(MakeSampleBlocks({20, 3, 0}));
  quelm::sim::TReaderSimServer server(model);
  ASSERT_EQ(server.Open(), 0);
  const auto r = runCli({"download", "--port", server.SlavePath(), "--unsaved", "--out", "run"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("(-210)")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("4 block(s) written to run.dat are kept")) << r.err.toStdString();
  EXPECT_EQ(ReadFile("run.dat").size(), 4 * 512);
  EXPECT_EQ(model.FirstUnsaved(), 0);

  model.SetUnsaved(0);
  const auto none = runCli({"download", "--port", server.SlavePath(), "--unsaved", "--out", "none"});
  EXPECT_EQ(none.code, 0) << none.err.toStdString();
  EXPECT_EQ(none.out, "There are no unsaved blocks\n");
}

// A download written whole is archived whatever became of the reader's
// acknowledgement, which a reader may carry out though its reply is lost
// (the exit status still says it failed); an overwrite that fails leaves
// the old file and says so.
TEST_F(CliDownloadTest, AWholeDownloadIsArchivedWhateverTheAcknowledgementAndAFailedOverwriteSaysSo) {
  ASSERT_EQ(WriteSampleDataFile("old.dat", {3, 5, 100}), 0);
  const QByteArray old = ReadFile("old.dat");
  const struct {
    const char* name;
    uint8_t letter, byte;  // every request ".<letter><byte>..." gets the fault
    unsigned fault;
    const char* storage;
    const char* inErr;     // after the failure's own line
    const char* archived;  // in standard output, or nothing archived
    int firstUnsaved;      // the reader's, afterwards
  } cases[] = {
      {"acknowledgement refused", 'K', '2', quelm::sim::kFaultRefuse, "refused",
       "20 block(s) written to refused.dat are kept", "Archived: 20 added, 0 already archived\n", 0},
      {"acknowledgement carried out, its reply garbled", 'K', '2', quelm::sim::kFaultWrongLetter, "garbled",
       "20 block(s) written to garbled.dat are kept", "Archived: 20 added, 0 already archived\n", -1},
      {"an overwrite refused at its 5th block", 'Y', 4, quelm::sim::kFaultRefuse, "old",
       "old.dat was left as it was", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    quelm::sim::TReaderModel model;
    model.LoadBlocks(MakeSampleBlocks({20, 3, 0}));
    model.OnRequest = [&](const std::vector<uint8_t>& f) {
      if (f.size() > 8 && f[7] == c.letter && f[8] == c.byte) model.Script.push_back(c.fault);
    };
    quelm::sim::TReaderSimServer server(model);
    ASSERT_EQ(server.Open(), 0);
    const auto r = runCli({"download", "--port", server.SlavePath(), "--unsaved", "--out", c.storage,
                           "--overwrite", "--db", dir.filePath(QString::fromLatin1(c.storage) + ".sqlite")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("quelm-cli: download: ")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.inErr))) << r.err.toStdString();
    if (c.archived)
      EXPECT_TRUE(r.out.contains(QString::fromLatin1(c.archived))) << r.out.toStdString();
    else
      EXPECT_FALSE(r.out.contains("Archived")) << r.out.toStdString();
    EXPECT_EQ(model.FirstUnsaved(), c.firstUnsaved);
  }
  EXPECT_EQ(ReadFile("old.dat"), old);
}

}  // namespace
