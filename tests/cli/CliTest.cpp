#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <csignal>

#include "CliDriver.h"
#include "sample-data/SampleData.h"

namespace {

using quelm::test::runCli;

TEST(CliFrame, UsageErrorsExitTwoWithTheUsageAndHelpExitsZero) {
  struct Case {
    QStringList args;
    int code;
    const char* inErr;
  };
  const Case cases[] = {
      {{}, 2, "usage: quelm-cli COMMAND"},
      {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
      {{"info"}, 2, "usage: quelm-cli info FILE.dat"},
      {{"info", "a.dat", "b.dat"}, 2, "one data file is needed"},
      {{"info", "--bogus", "a.dat"}, 2, "unknown option --bogus"},
      {{"--config"}, 2, "--config needs a file"},
  };
  for (const Case& c : cases) {
    const auto r = runCli(c.args);
    EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.inErr))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
  }
  const auto help = runCli({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_TRUE(help.out.contains("info FILE.dat"));
  EXPECT_EQ(runCli({"info", "--help"}).code, 0);
}

TEST(CliFrame, FailuresGiveTheCodeTableMessageWithTheCodeAndExitOne) {
  std::signal(SIGXFSZ, SIG_DFL);
  const auto r = runCli({"info", "/nonexistent/file.dat"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("File open error (-107)")) << r.err.toStdString();
  EXPECT_EQ(std::signal(SIGXFSZ, SIG_DFL), SIG_IGN) << "a file-size limit fails writes, not the program";
}

TEST(CliInfo, CountsBlocksAndNamesTheNewestAndTheDateSpan) {
  QTemporaryDir dir;
  const QString path = dir.filePath("run.dat");
  SampleDataOptions options;
  options.blocks = 30;
  options.firstNumber = 2040;  // wraps: the newest is 21
  ASSERT_EQ(WriteSampleDataFile(path, options), 0);

  const auto r = runCli({"info", path});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.startsWith("Blocks: 30\nNewestBlock: 21\nFirstDate: ")) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("\nLastDate: "));
}

}  // namespace
