// The command line against the simulated reader on a pseudo-terminal,
// served on this thread's event loop while the command's link waits.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "CliDriver.h"
#include "ReaderModel.h"
#include "SimServer.h"
#include "sample-data/SampleData.h"

namespace {

using quelm::test::runCli;

TEST(CliReader, ListsAndShowsTheReadersBlocksWithTheTextsOfTheSameBlocksInAFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("same.dat"));
  SampleDataOptions options;
  options.blocks = 45;
  options.firstNumber = 2040;
  ASSERT_EQ(WriteSampleDataFile(path, options), 0);
  quelm::sim::TReaderModel model;
  model.LoadBlocks(MakeSampleBlocks(options));
  quelm::sim::TReaderSimServer server(model);
  ASSERT_EQ(server.Open(), 0);
  const QString port = server.SlavePath();

  const QStringList commands[] = {
      {"list", "--pages", "2"},
      {"list", "--number", "2045", "3"},
      {"show", "36", "2041"},
  };
  for (const QStringList& c : commands) {
    const auto fromFile = runCli(QStringList{c.first(), path} + c.mid(1));
    const auto fromReader = runCli(QStringList{c.first(), "--port", port} + c.mid(1));
    EXPECT_EQ(fromReader.code, 0) << c.join(' ').toStdString() << ": " << fromReader.err.toStdString();
    EXPECT_FALSE(fromReader.out.isEmpty());
    EXPECT_EQ(fromReader.out, fromFile.out) << c.join(' ').toStdString();
  }
}

TEST(CliReader, AnAbsentReaderIsAFailureWithTheLinksCode) {
  const auto r = runCli({"list", "--port", "/nonexistent/tty"});
  EXPECT_EQ(r.code, 1);
  // The port's own message comes first; the command's line ends the output.
  EXPECT_TRUE(
      r.err.endsWith("\nquelm-cli: /nonexistent/tty: COM connect. error (not avail./already/can't connect) "
                     "(-201)\n"))
      << r.err.toStdString();
  EXPECT_TRUE(r.out.isEmpty());
}

}  // namespace
