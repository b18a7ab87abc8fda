// What a script must be able to trust: no source is overwritten under
// another name, only plain files are read or written (nothing waits for a
// pipe), a failure to write the output or a date out of range is no success,
// a file error says which file and why, one command owns the reader's line,
// and a signal stops a download after a whole block.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <vector>

#include "CliDriver.h"
#include "Golden.h"
#include "ReaderModel.h"
#include "SimServer.h"
#include "TestEnv.h"
#include "base/Config.h"
#include "base/IniFile.h"
#include "sample-data/SampleData.h"

using quelm::test::ReadFile;
using quelm::test::runCli;

namespace {

class CliSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(WriteSampleDataFile("src.dat", {14, 3, 2040}), 0);
    source = ReadFile("src.dat");
    model.LoadBlocks(MakeSampleBlocks({20, 3, 0}));
    ASSERT_EQ(server.Open(), 0);
    port = server.SlavePath();
    quelm::IniFile ini(config);
    ini.WriteInteger("Safety restrictions", "Professional", quelm::kServiceLevelKey);
    ASSERT_TRUE(ini.UpdateFile());
  }
  void TearDown() override {
    for (const int fd : held) ::close(fd);
  }
  // A pipe that someone holds open, so that no open of it would block.
  void pipe(const char* name) {
    ASSERT_EQ(::mkfifo(name, 0600), 0);
    held.push_back(::open(name, O_RDWR | O_NONBLOCK));
  }

  QTemporaryDir dir;
  quelm::test::WorkDirScope workDir{dir};
  QByteArray source;
  quelm::sim::TReaderModel model;
  quelm::sim::TReaderSimServer server{model};
  QString port;
  QString config = dir.filePath("service.INI");
  std::vector<int> held;
};

struct Case {
  QStringList args;
  int code;
  const char* inErr;
};

TEST_F(CliSafetyTest, NoTargetIsTheSourceUnderAnotherName) {
  ASSERT_EQ(::link("src.dat", "hard.dat"), 0);
  ASSERT_EQ(::symlink("src.dat", "soft.dat"), 0);
  ASSERT_EQ(::link("src.dat", "lists.lst"), 0);
  quelm::test::WriteFile("doses.csv", "A0001,100\n");
  ASSERT_EQ(::link("doses.csv", "hard.csv"), 0);
  const Case cases[] = {
      {{"download", "--from-file", "src.dat", "--out", "hard", "--overwrite"}, 2, "file name is equivalent"},
      {{"download", "--from-file", "hard.dat", "--out", "soft", "--append"}, 2, "file name is equivalent"},
      {{"download", "--from-file", "src.dat", "--out", "lists"}, 2, "file name is equivalent"},
      {{"export", "src.dat", "2041", "hard.dat"},
       1,
       "export: File open error (-107): hard.dat: the data file the block is read from"},
      {{"list", "src.dat", "--lst", "hard.dat"},
       1,
       "File open error (-107): hard.dat: the same file as src.dat"},
      {{"list", "soft.dat", "--lst", "src.dat"}, 1, "src.dat: the same file as soft.dat"},
      {{"calibrate", "src.dat", "--dose", "100", "--no-archive", "--csv", "soft.dat"},
       1,
       "the same file as src.dat"},
      {{"calibrate", "src.dat", "--doses", "hard.csv", "--no-archive", "--dpt", "out.dpt", "--csv",
        "doses.csv"},
       1,
       "doses.csv: the same file as hard.csv"},
      {{"calibrate", "src.dat", "--dose", "100", "--no-archive", "--csv", "out.csv", "--dpt", "out.csv"},
       1,
       "out.csv: the same file as out.csv"},
  };
  for (const Case& c : cases) {
    const auto r = runCli(c.args);
    EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(c.inErr)) << r.err.toStdString();
    EXPECT_EQ(ReadFile("src.dat"), source) << c.args.join(' ').toStdString();
  }
}

TEST_F(CliSafetyTest, OnlyPlainFilesAreUsedAndTheReaderIsAskedNothingBeforeThat) {
  for (const char* name : {"pipe.dat", "piped.txt", "pipe.bin", "pipe.rpt", "pipe.lst", "pipe.txt"})
    pipe(name);
  ASSERT_EQ(::mkdir("folder.dat", 0700), 0);
  const Case cases[] = {
      {{"download", "--port", port, "--unsaved", "--out", "pipe", "--append"},
       1,
       "pipe.dat: not a regular file"},
      {{"download", "--port", port, "--unsaved", "--out", "folder", "--overwrite"},
       1,
       "download: File open error (-107): folder.dat: not a regular file"},
      {{"download", "--port", port, "--unsaved", "--out", "piped"}, 1, "piped.txt: not a regular file"},
      {{"download", "--from-file", "pipe.dat", "--out", "copy"}, 1, "(-107): pipe.dat: not a regular file"},
      {{"export", "src.dat", "2041", "pipe.txt"}, 1, "(-107): pipe.txt: not a regular file"},
      {{"list", "--port", port, "--lst", "pipe.lst"}, 1, "(-107): pipe.lst: not a regular file"},
      {{"reader-params", "read", "pipe.rpt", "--port", port}, 1, "(-107): pipe.rpt: not a regular file"},
      {{"update", "pipe.bin", "--port", port},
       1,
       "update: File open error (-107): pipe.bin: not a regular file"},
  };
  for (const Case& c : cases) {
    const auto r = runCli(c.args, config);
    EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(c.inErr)) << r.err.toStdString();
  }
  EXPECT_TRUE(model.Requests.empty()) << model.Requests.size() << " request(s) reached the reader";
  EXPECT_FALSE(QFile::exists("copy.dat") || QFile::exists("piped.dat"));
}

// The process's own memory is a plain file whose first read fails: it is
// no empty data file.
TEST_F(CliSafetyTest, AFileThatCannotBeReadToItsEndIsAFailureNotAShorterFile) {
  const QString unreadable = QStringLiteral("/proc/self/mem");
  if (::access("/proc/self/mem", R_OK) != 0) GTEST_SKIP() << "no /proc";
  for (const QStringList& args : {QStringList{"info", unreadable}, QStringList{"list", unreadable},
                                  QStringList{"download", "--from-file", unreadable, "--out", "copy"}}) {
    const auto r = runCli(args);
    EXPECT_EQ(r.code, 1) << args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains("File read error (-109)") && r.err.contains(unreadable)) << r.err.toStdString();
  }
  EXPECT_FALSE(QFile::exists("copy.dat"));
}

TEST_F(CliSafetyTest, OutputThatCannotBeWrittenIsAFailure) {
  const QStringList commands[] = {
      {"csv", "src.dat"},
      {"list", "src.dat"},
      {"info", "src.dat"},
      {"show", "src.dat", "2041"},
      {"evaluate", "src.dat", "2041"},
      {"lut", "list", "--port", port},
      {"service", "log", "--port", port},
  };
  for (const QStringList& c : commands) {
    QFile full("/dev/full");
    ASSERT_TRUE(full.open(QIODevice::WriteOnly));
    const auto r = runCli(c, config, &full);
    EXPECT_EQ(r.code, 1) << c.join(' ').toStdString() << ": " << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("quelm-cli: cannot write the output: No space left on device"))
        << r.err.toStdString();
  }
}

TEST_F(CliSafetyTest, ADateOutOfTheWindowsLimitsIsAUsageErrorAndNothingIsSent) {
  const Case cases[] = {
      {{"download", "--port", port, "--since", "1850.13.45 99:99", "--out", "d"},
       2,
       "--since must be a date and time \"YYYY.MM.DD HH:MM\", not \"1850.13.45 99:99\" (The year must be "
       "from 2000 to 2100, not 1850)"},
      // No calendar date reaches the reader, and both commands read a date alike.
      {{"download", "--port", port, "--since", "2024.02.31 00:00", "--out", "d"},
       2,
       "(The day must be from 1 to 29, not 31)"},
      {{"list", "--port", port, "--after", "2024.02.31 00:00"}, 2, "(The day must be from 1 to 29, not 31)"},
      {{"download", "--port", port, "--since", "2156.01.01 00:00", "--out", "d"}, 2, "not 2156"},
      {{"download", "--port", port, "--since", "2024.13.01 00:00", "--out", "d"},
       2,
       "The month must be from 1 to 12, not 13"},
      {{"download", "--port", port, "--since", "2024.01.01 25:00", "--out", "d"}, 2, "not 25"},
      {{"list", "--port", port, "--after", "1850.01.01 00:00"}, 2, "--after must be a date"},
      // A typo is refused, never cut to the form.
      {{"download", "--port", port, "--since", "2006.01.15 00:00 tomorrow", "--out", "d"}, 2, "--since must be"},
      {{"list", "--port", port, "--before", "2006.01.20 08:00:59"}, 2, "--before must be a date"},
      {{"list", "--port", port, "--after", "2006-01-20 08:00"}, 2, "--after must be a date"},
  };
  for (const Case& c : cases) {
    const auto r = runCli(c.args);
    EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(c.inErr)) << r.err.toStdString();
  }
  EXPECT_TRUE(model.Requests.empty());
}

TEST_F(CliSafetyTest, AFileErrorNamesTheFileAndAnUnusableConfigurationIsSaidOnce) {
  auto r = runCli({"download", "--from-file", "src.dat", "--out", "none/night", "--no-lst", "--no-txt"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains(
      "quelm-cli: download: File open error (-107): none/night.dat: No such file or directory\n"))
      << r.err.toStdString();

  pipe("pipe.INI");
  ASSERT_EQ(::mkdir("folder.INI", 0700), 0);
  quelm::test::WriteFile(dir.filePath("big.INI"), QByteArray(quelm::IniFile::kMaxFileSize + 1, ' '));
  // The program's own file, or the one --config names instead.
  for (const char* name : {"pipe.INI", "folder.INI", "big.INI"})
    for (const bool given : {false, true}) {
      const QString path = dir.filePath(name);
      r = given ? runCli({"info", "src.dat", "--config", path}) : runCli({"info", "src.dat"}, path);
      EXPECT_EQ(r.code, 0);
      EXPECT_EQ(r.err.count("warning"), 1) << r.err.toStdString();
      EXPECT_TRUE(r.err.startsWith("quelm-cli: warning: the configuration file " + path + " is not used ("))
          << r.err.toStdString();
    }
}

// The real program, with standard output or standard error on a pipe whose
// reader has gone: the download is archived all the same, and only lost
// results are a failure.
TEST_F(CliSafetyTest, AClosedPipeEndsNothingHalfwayAndLostResultsAreAFailure) {
  const struct {
    int closed;  // the standard stream on the pipe; the other goes to a file
    const char* out;
    const char* db;
    int code;
    const char* inOther;
  } cases[] = {
      {STDOUT_FILENO, "out", "out.sqlite", 1, "quelm-cli: cannot write the output: "},
      {STDERR_FILENO, "err", "err.sqlite", 0, "Downloaded 14 block(s)"},
  };
  for (const auto& c : cases) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    const QByteArray other = dir.filePath("other.txt").toLocal8Bit();
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, fds[1], c.closed);
    posix_spawn_file_actions_addopen(&files, c.closed == STDOUT_FILENO ? STDERR_FILENO : STDOUT_FILENO,
                                     other.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addclose(&files, fds[1]);
    QList<QByteArray> words;
    for (const QString& w : QStringList{QUELM_CLI, "download", "--from-file", "src.dat", "--out", c.out,
                                        "--db", c.db, "--config", "none.INI"})
      words << w.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, QUELM_CLI, &files, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    ::close(fds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), c.code);
    EXPECT_TRUE(QString::fromUtf8(ReadFile("other.txt")).contains(c.inOther))
        << ReadFile("other.txt").constData();
    EXPECT_EQ(ReadFile(QString::fromLatin1(c.out) + ".dat"), source);
    const auto again = runCli({"archive", "--db", c.db, "import", "src.dat"});
    EXPECT_EQ(again.out, "src.dat: 0 added, 14 already archived, 0 conflicting, 0 refused\n")
        << again.err.toStdString();
  }
}

// The command's standard error is tapped: at the progress line of block 3 a
// second program asks for the same line, or the download gets SIGTERM.
TEST_F(CliSafetyTest, ADownloadHoldsTheLineAndASignalEndsItAfterAWholeBlock) {
  quelm::test::CliRun second;
  bool asked = false;
  auto r = runCli({"download", "--port", port, "--number", "0", "9", "--out", "held"}, QString(), nullptr,
                  [&](const QString& err) {
                    if (asked || !err.contains("block 3 (")) return;
                    asked = true;
                    second = runCli({"reader-params", "read", "second.rpt", "--port", port});
                  });
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(ReadFile("held.dat").size(), 10 * 512);
  EXPECT_EQ(second.code, 1);
  EXPECT_TRUE(second.err.contains("COM connect. error (not avail./already/can't connect) (-201)"))
      << second.err.toStdString();
  EXPECT_FALSE(QFile::exists("second.rpt"));
  EXPECT_EQ(runCli({"reader-params", "read", "after.rpt", "--port", port}).code, 0) << "free again";

  bool sent = false;
  r = runCli({"download", "--port", port, "--number", "0", "9", "--out", "stopped"}, QString(), nullptr,
             [&](const QString& err) {
               if (sent || !err.contains("block 3 (")) return;
               sent = true;
               std::raise(SIGTERM);
             });
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("User aborted")) << r.err.toStdString();
  EXPECT_EQ(ReadFile("stopped.dat").size(), 3 * 512) << "the blocks before the signal, whole";
}

}  // namespace
