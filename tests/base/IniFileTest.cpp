#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>

#include "ScriptedPrompter.h"
#include "WriteLimit.h"
#include "base/DataFiles.h"
#include "base/IniFile.h"
#include "base/UserLocale.h"

using quelm::IniFile;

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  QString write(const QByteArray& content) {
    QFile f(path());
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    return path();
  }
  QByteArray read() const {
    QFile f(path());
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << qPrintable(path());
    return f.readAll();
  }
  QString path() const { return dir_.filePath(QStringLiteral("quelm.INI")); }
  void TearDown() override { quelm::setUserLocale(quelm::UserLocale{}); }

  QTemporaryDir dir_;
};

TEST_F(IniFileTest, NamesAreCaseInsensitiveAndTheFirstMatchWins) {
  write("[Screen]\r\nLeft=20\r\nleft=30\r\n[screen]\r\nTop=99\r\n");
  IniFile ini(path());
  EXPECT_EQ(ini.status(), IniFile::LoadStatus::Loaded);
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("SCREEN"), QStringLiteral("LEFT"), 10), 20);
  // The second [screen] section is never consulted.
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Screen"), QStringLiteral("Top"), 10), 10);
}

TEST_F(IniFileTest, IntegersDecimalOrHexAndDefaultsForAnythingElse) {
  write("[S]\nA=  42  \nB=0x1F\nC=-7\nD=12abc\nE=\nF=0xFFFFFFFF\nG=99999999999\nH=\"15\"\nI=0x\n");
  IniFile ini(path());
  const QString s = QStringLiteral("S");
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("A"), 1), 42);
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("B"), 1), 31);
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("C"), 1), -7);
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("D"), 1), 1);
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("E"), 1), 1);
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("F"), 1), -1);
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("G"), 1), 1);
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("H"), 1), 15);
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("I"), 1), 1);
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("Missing"), 5), 5);
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Nope"), QStringLiteral("A"), 6), 6);
}

TEST_F(IniFileTest, StringsLoseBlanksAndOnePairOfQuotes) {
  write("[S]\nA=  hello world  \nB=\"  quoted  \"\nC=''x''\nD=\"unbalanced\nE='mixed\"\n");
  IniFile ini(path());
  const QString s = QStringLiteral("S");
  EXPECT_EQ(ini.ReadString(s, QStringLiteral("A"), {}), QStringLiteral("hello world"));
  EXPECT_EQ(ini.ReadString(s, QStringLiteral("B"), {}), QStringLiteral("  quoted  "));
  EXPECT_EQ(ini.ReadString(s, QStringLiteral("C"), {}), QStringLiteral("'x'"));
  EXPECT_EQ(ini.ReadString(s, QStringLiteral("D"), {}), QStringLiteral("\"unbalanced"));
  EXPECT_EQ(ini.ReadString(s, QStringLiteral("E"), {}), QStringLiteral("'mixed\""));
  EXPECT_EQ(ini.ReadString(s, QStringLiteral("X"), QStringLiteral("  default  ")),
            QStringLiteral("  default"));
}

TEST_F(IniFileTest, ValuesAreCutAt2047Characters) {
  write("[S]\nLong=" + QByteArray(3000, 'x') + "\n");
  IniFile ini(path());
  EXPECT_EQ(ini.ReadString(QStringLiteral("S"), QStringLiteral("Long"), {}).size(), 2047);
}

TEST_F(IniFileTest, ReadsLfAndCrLfAndWritesCrLf) {
  write("[A]\nx=1\r\ny=2\n");
  IniFile ini(path());
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("A"), QStringLiteral("x"), 0), 1);
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("A"), QStringLiteral("y"), 0), 2);
  ini.WriteInteger(QStringLiteral("A"), QStringLiteral("y"), 3);
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(read(), QByteArray("[A]\r\nx=1\r\ny=3\r\n"));
}

TEST_F(IniFileTest, WritingReplacesInPlaceAddsMissingAndKeepsEverythingElse) {
  write(
      "; made by hand\r\n[Screen]\r\nLEFT=5\r\nWidth=100\r\n\r\n[Serial port settings]\r\n"
      "COM1=/dev/ttyUSB0\r\nPortNumber=3\r\n\r\n[Other]\r\nkeep=me\r\n");
  IniFile ini(path());
  ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("Left"), 15);
  ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("Top"), 20);
  ini.WriteInteger(QStringLiteral("Serial port settings"), QStringLiteral("BaudRate"), 9);
  ini.WriteInteger(QStringLiteral("Reader Parameters"), QStringLiteral("MaxPostHeating"), 50);
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(read(),
            QByteArray("; made by hand\r\n[Screen]\r\nLeft=15\r\nWidth=100\r\nTop=20\r\n\r\n"
                       "[Serial port settings]\r\nCOM1=/dev/ttyUSB0\r\nPortNumber=3\r\nBaudRate=9\r\n\r\n"
                       "[Other]\r\nkeep=me\r\n\r\n[Reader Parameters]\r\nMaxPostHeating=50\r\n"));
}

TEST_F(IniFileTest, MissingFileIsCreatedOnWrite) {
  IniFile ini(path());
  EXPECT_EQ(ini.status(), IniFile::LoadStatus::Missing);
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Screen"), QStringLiteral("Left"), 10), 10);
  ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("Left"), 10);
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(read(), QByteArray("[Screen]\r\nLeft=10\r\n"));
}

TEST_F(IniFileTest, RealsAsWidenedSinglesWithTheUserSeparator) {
  IniFile ini(path());
  ini.WriteFloat(QStringLiteral("P"), QStringLiteral("DTFA"), 0.1f);
  ini.WriteFloat(QStringLiteral("P"), QStringLiteral("Whole"), 250.0f);
  quelm::UserLocale comma;
  comma.decimalSeparator = QLatin1Char(',');
  quelm::setUserLocale(comma);
  ini.WriteFloat(QStringLiteral("P"), QStringLiteral("Comma"), 2.5f);
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(read(), QByteArray("[P]\r\nDTFA=0.100000001490116\r\nWhole=250\r\nComma=2,5\r\n"));
  IniFile again(path());
  EXPECT_DOUBLE_EQ(again.ReadFloat(QStringLiteral("P"), QStringLiteral("Comma"), 0), 2.5);
  EXPECT_DOUBLE_EQ(again.ReadFloat(QStringLiteral("P"), QStringLiteral("Missing"), 7), 7);
}

// The configuration file is shared by every user of the machine: a real in
// it reads the same whatever the reading user's separator.
TEST_F(IniFileTest, RealsReadWithAPointWhateverTheUsersSeparator) {
  write(
      "[S]\nA=20.5\nB=0.5\nC=20,5\nD= -1.5e2 \nE=1.000,5\nF=1,000.5\nG=1,2,3\nH=20;5\nI=1e999\nJ=nan\nK=\n");
  const struct {
    const char* key;
    double value;  // -7: not a number, the default
  } rows[] = {{"A", 20.5}, {"B", 0.5}, {"C", 20.5}, {"D", -150}, {"E", -7}, {"F", -7},
              {"G", -7},   {"H", -7},  {"I", -7},   {"J", -7},   {"K", -7}};
  for (const QChar separator : {QLatin1Char('.'), QLatin1Char(',')}) {
    quelm::UserLocale l;
    l.decimalSeparator = separator;
    quelm::setUserLocale(l);
    const IniFile ini(path());
    for (const auto& r : rows)
      EXPECT_DOUBLE_EQ(ini.ReadFloat(QStringLiteral("S"), QLatin1String(r.key), -7), r.value)
          << r.key << " with '" << separator.toLatin1() << "'";
  }
}

TEST_F(IniFileTest, KeysOfASectionInFileOrder) {
  write("[A]\nz=1\n; c=3\ny=2\n[B]\nw=0\n");
  IniFile ini(path());
  EXPECT_EQ(ini.ReadSection(QStringLiteral("a")), (QStringList{"z", "y"}));
  EXPECT_TRUE(ini.ReadSection(QStringLiteral("none")).isEmpty());
}

TEST_F(IniFileTest, NonUtf8BytesSurviveARewrite) {
  write("[S]\r\nName=M\xfcller\r\nN=1\r\n");
  IniFile ini(path());
  ini.WriteInteger(QStringLiteral("S"), QStringLiteral("N"), 2);
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(read(), QByteArray("[S]\r\nName=M\xfcller\r\nN=2\r\n"));
}

// A failed write shows nothing (its caller reports it) and notes why.
TEST_F(IniFileTest, AFailedWriteLosesNothingAndNotesWhy) {
  const QByteArray before("[Screen]\r\nLeft=5\r\n");
  write(before);
  IniFile ini(path());
  ini.WriteString(QStringLiteral("Screen"), QStringLiteral("Note"), QString(1000, QLatin1Char('n')));
  // A file-size limit makes the disk "full" for this process, root included.
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 200;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  quelm::test::ScriptedPrompter p;
  const bool ok = ini.UpdateFile();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(p.messages.empty());
  const quelm::FileFailure why = quelm::takeFileFailure();
  EXPECT_EQ(why.name, path());
  EXPECT_EQ(why.reason, QString::fromLocal8Bit(std::strerror(EFBIG)))
      << "the system's reason, not the cancel";
  EXPECT_EQ(read(), before);
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{QStringLiteral("quelm.INI")});
}

TEST_F(IniFileTest, AnUnwritablePathFailsEvenForRoot) {
  const QString nowhere = dir_.filePath(QStringLiteral("no/such/dir/quelm.INI"));
  IniFile ini(nowhere);
  ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("Left"), 6);
  quelm::test::ScriptedPrompter p;
  EXPECT_FALSE(ini.UpdateFile());
  EXPECT_TRUE(p.messages.empty());
  const quelm::FileFailure why = quelm::takeFileFailure();
  EXPECT_EQ(why.name, nowhere);
  EXPECT_FALSE(why.reason.isEmpty());
}

TEST_F(IniFileTest, AnUnreadableFileIsToldApartFromAMissingOne) {
  // A directory in place of the file cannot be read by anybody.
  ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("quelm.INI")));
  IniFile ini(path());
  EXPECT_EQ(ini.status(), IniFile::LoadStatus::Unreadable);
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Screen"), QStringLiteral("Left"), 10), 10);
}

TEST_F(IniFileTest, AnythingButASmallPlainFileIsNotReadAndNeverHoldsTheProgram) {
  ASSERT_EQ(::mkfifo(QFile::encodeName(dir_.filePath(QStringLiteral("fifo.INI"))).constData(), 0600), 0);
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), dir_.filePath(QStringLiteral("zero.INI"))));
  ASSERT_TRUE(
      QFile::link(dir_.filePath(QStringLiteral("none")), dir_.filePath(QStringLiteral("dangling.INI"))));
  QFile big(dir_.filePath(QStringLiteral("big.INI")));
  ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(IniFile::kMaxFileSize + 1));
  big.close();
  const struct {
    const char* name;
    IniFile::LoadStatus status;
  } cases[] = {
      {"fifo.INI", IniFile::LoadStatus::Unreadable},   // would block the open for ever
      {"zero.INI", IniFile::LoadStatus::Unreadable},   // would be read until memory runs out
      {"big.INI", IniFile::LoadStatus::Unreadable},    // no profile is that large
      {"dangling.INI", IniFile::LoadStatus::Missing},  // nothing there: defaults, and a new file
  };
  for (const auto& c : cases) {
    const IniFile ini(dir_.filePath(QString::fromLatin1(c.name)));
    EXPECT_EQ(ini.status(), c.status) << c.name;
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("Screen"), QStringLiteral("Left"), 10), 10) << c.name;
  }
}

// Runs fn in a child process that, when we are root, has become nobody: for
// a folder that refuses new files to the user while his file stays writable.
int asNobody(const std::function<int()>& fn) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    ::_exit(fn());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(IniFileTest, InAFolderThatRefusesNewFilesTheFileItselfIsRewritten) {
  const QByteArray before("[Screen]\r\nLeft=5\r\n[Extra]\r\nA=1\r\n");
  write(before);
  ::chmod(QFile::encodeName(dir_.path()).constData(), 0555);
  ::chmod(QFile::encodeName(path()).constData(), 0666);
  const QString file = path();
  // A longer text than the limit allows fails and leaves the file whole;
  // within it, the file is rewritten in place.
  const int rc = asNobody([&] {
    IniFile tooLong(file);
    tooLong.WriteString(QStringLiteral("Screen"), QStringLiteral("Note"), QString(400, QLatin1Char('n')));
    {
      quelm::test::WriteLimit limit(200);
      if (tooLong.UpdateFile()) return 1;
    }
    IniFile ini(file);
    ini.WriteInteger(QStringLiteral("Screen"), QStringLiteral("Left"), 6);
    return ini.UpdateFile() ? 0 : 2;
  });
  ::chmod(QFile::encodeName(dir_.path()).constData(), 0700);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(read(), QByteArray("[Screen]\r\nLeft=6\r\n[Extra]\r\nA=1\r\n"));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{QStringLiteral("quelm.INI")});
}

}  // namespace
