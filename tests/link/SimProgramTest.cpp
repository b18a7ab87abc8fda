// quelm-reader-sim started the way a user starts it, with the program's
// link talking to it through the symbolic link it places.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "LinkTestSupport.h"
#include "ScriptedPrompter.h"
#include "link/FrameLink.h"
#include "base/IniFile.h"

using namespace quelm;

TEST(ReaderSimProgram, ServesTheLinkThroughItsSymbolicLinkUntilStopped) {
  test::ScriptedPrompter prompter;
  QTemporaryDir dir;
  const QString link = dir.filePath(QStringLiteral("reader"));
  QProcess sim;
  sim.start(QStringLiteral(QUELM_READER_SIM),
            {QStringLiteral("--blocks"), QStringLiteral("120"), QStringLiteral("--link"), link,
             QStringLiteral("--garbage"), QStringLiteral("3"), QStringLiteral("--chunk"),
             QStringLiteral("64"), QStringLiteral("--baud"), QStringLiteral("115200"),
             QStringLiteral("--crc-every"), QStringLiteral("4")});
  ASSERT_TRUE(sim.waitForStarted(5000));
  ASSERT_TRUE(sim.waitForReadyRead(5000));
  const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed();
  EXPECT_TRUE(device.startsWith(QStringLiteral("/dev/pts/"))) << device.toStdString();
  EXPECT_EQ(QFileInfo(link).symLinkTarget(), device);

  test::TestIni ini;
  ini.map(1, link);
  TFrameLink l;
  l.COMPortDrv.IniFileName = ini.path();
  l.COMPortDrv.SetPortNumber(pnCOM1);
  // Every 4th reply is damaged; the retry hides it.
  for (int i = 0; i < 6; ++i) {
    uint8_t g[] = {'.', 'G', '#'};
    ASSERT_EQ(l.SendCOMCmd(g, 3), 0) << i;
    EXPECT_EQ(l.RcvFrame[7] | (l.RcvFrame[8] << 8), 120);
  }
  uint8_t y[] = {'.', 'Y', 119, 0, '#'};
  uint16_t out = 0;
  ASSERT_EQ(l.SendCOMCmd(y, 5, &out), 0);
  EXPECT_EQ(out, 511);
  EXPECT_EQ(l.RcvFrame[8] | (l.RcvFrame[9] << 8), 119) << "block number of the record";
  EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(" | ").toStdString();

  sim.terminate();
  ASSERT_TRUE(sim.waitForFinished(5000));
  EXPECT_EQ(sim.exitCode(), 0);
  EXPECT_FALSE(QFileInfo::exists(link)) << "the link goes with the simulator";
  EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST(ReaderSimProgram, RefusesBadOptionsAndForeignFilesAtTheLinkPath) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("taken"));
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  QProcess sim;
  sim.start(QStringLiteral(QUELM_READER_SIM), {QStringLiteral("--link"), file});
  ASSERT_TRUE(sim.waitForFinished(5000));
  EXPECT_NE(sim.exitCode(), 0);
  EXPECT_TRUE(QFileInfo(file).isFile()) << "a real file is never replaced";

  sim.start(QStringLiteral(QUELM_READER_SIM), {QStringLiteral("--crc-prob"), QStringLiteral("2")});
  ASSERT_TRUE(sim.waitForFinished(5000));
  EXPECT_EQ(sim.exitCode(), 2);
}

TEST(ReaderSimProgram, SetsUpTheConfigurationFileAndKeepsItsOtherSettings) {
  QTemporaryDir dir;
  const QString iniPath = dir.filePath(QStringLiteral("quelm.INI"));
  QFile f(iniPath);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[Screen]\r\nLeft=33\r\n[Serial port settings]\r\nPortNumber=4\r\nCOM2=/dev/ttyUSB7\r\n");
  f.close();
  const QString link = dir.filePath(QStringLiteral("reader"));
  QProcess sim;
  sim.start(QStringLiteral(QUELM_READER_SIM),
            {QStringLiteral("--blocks"), QStringLiteral("3"), QStringLiteral("--link"), link,
             QStringLiteral("--ini"), iniPath});
  ASSERT_TRUE(sim.waitForReadyRead(5000));
  IniFile ini(iniPath);
  const QString s = QStringLiteral("Serial port settings");
  EXPECT_EQ(ini.ReadString(s, QStringLiteral("COM1"), QString()), link);
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("PortNumber"), -1), 1);
  EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("BaudRate"), -1), 9);
  EXPECT_EQ(ini.ReadString(s, QStringLiteral("COM2"), QString()), "/dev/ttyUSB7");
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Screen"), QStringLiteral("Left"), -1), 33);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_EQ(bytes.count("\r\n"), bytes.count('\n')) << "CR LF line ends";
  sim.terminate();
  EXPECT_TRUE(sim.waitForFinished(5000));
}

// The reader goes away in the middle of an exchange, once on its own
// (--vanish-after) and once killed: the exchange ends with the port's code,
// the port's messages come once, and the next exchange finds no device.
TEST(ReaderSimProgram, AReaderThatVanishesDuringAnExchangeIsReportedOnce) {
  for (const bool killed : {false, true}) {
    test::ScriptedPrompter prompter;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("reader"));
    QProcess sim;
    QStringList args = {QStringLiteral("--blocks"), QStringLiteral("10"), QStringLiteral("--link"), link};
    args << (killed ? QStringList{QStringLiteral("--delay"), QStringLiteral("3000")}
                    : QStringList{QStringLiteral("--vanish-after"), QStringLiteral("2")});
    sim.start(QStringLiteral(QUELM_READER_SIM), args);
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    test::TestIni ini;
    ini.map(1, link);
    TFrameLink l;
    l.COMPortDrv.IniFileName = ini.path();
    l.COMPortDrv.SetPortNumber(pnCOM1);
    l.ResetPending = killed;  // killed: while the reset frame waits
    uint8_t g[] = {'.', 'G', '#'};
    if (killed)
      QTimer::singleShot(300, [&] { sim.kill(); });
    else
      ASSERT_EQ(l.SendCOMCmd(g, 3), 0);
    EXPECT_EQ(l.SendCOMCmd(g, 3), -13) << killed;
    EXPECT_EQ(prompter.texts(), QStringList({"ERROR: TCOMPort::TimerWndProc(): ClearComError()",
                                             QString::fromLocal8Bit(std::strerror(EIO))}))
        << killed;
    // (It may have ended already, seen while the exchange let events run.)
    ASSERT_TRUE(sim.state() == QProcess::NotRunning || sim.waitForFinished(5000));
    if (!killed) {
      EXPECT_EQ(sim.exitCode(), 0);
    }
    prompter.clear();
    EXPECT_EQ(l.SendCOMCmd(g, 3), -201) << killed;
    EXPECT_EQ(prompter.messages.size(), 2u) << killed;
  }
}
