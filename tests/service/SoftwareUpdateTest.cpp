// The software update end to end against the simulated reader's loader:
// blocks, padding, refusals, loader faults, and the operator ending a wait.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>
#include <QTimer>

#include "ScriptedPrompter.h"
#include "SimReader.h"
#include "base/ErrorCodes.h"
#include "service/SoftwareUpdate.h"

using namespace quelm;
using namespace quelm::test;

namespace {

struct Sent {
  uint8_t command;
  uint16_t address;
  bool operator==(const Sent&) const = default;
};

class SoftwareUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(reader.ok); }

  QString program(const Bytes& bytes) {
    const QString path = dir.filePath(QStringLiteral("p%1.bin").arg(files++));
    EXPECT_TRUE(writeFile(path, bytes));
    return path;
  }
  std::vector<Sent> sent() {
    std::vector<Sent> v;
    for (const sim::LoaderRequest& r : reader.loader().requests) v.push_back({r.command, r.address});
    return v;
  }
  // Start, the blocks at their addresses, finish.
  static std::vector<Sent> whole(int blocks) {
    std::vector<Sent> v{{1, 0}};
    for (int i = 0; i < blocks; ++i) v.push_back({2, static_cast<uint16_t>(i * 1024)});
    v.push_back({3, 0});
    return v;
  }
  int download(const QString& path) {
    const int rc = update.Download(path);
    EXPECT_FALSE(reader.link.COMPortDrv.Connected());
    EXPECT_EQ(reader.link.LoaderMode, 0u);
    EXPECT_FALSE(reader.link.ExchangeRunning());
    return rc;
  }

  SimReader reader;
  SoftwareUpdate update{reader.link};
  QTemporaryDir dir;
  int files = 0;
  QStringList statuses;
  std::vector<std::pair<int, int>> progress;
};

TEST_F(SoftwareUpdateTest, AProgramGoesOutInBlocksPaddedWithErasedFlash) {
  update.onStatus = [this](const QString& t) { statuses << t; };
  update.onProgress = [this](int position, int maximum) { progress.push_back({position, maximum}); };
  const Bytes file = programBytes(3000);
  reader.loader().saveTo = dir.filePath(QStringLiteral("received.bin"));
  reader.switchOnWhenAwaited();
  ASSERT_EQ(download(program(file)), 0);
  EXPECT_EQ(sent(), whole(3));
  EXPECT_EQ(reader.loader().Image(), padded(file));
  QFile saved(reader.loader().saveTo);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray image = saved.readAll();
  EXPECT_EQ(Bytes(image.begin(), image.end()), padded(file));
  EXPECT_EQ(statuses, (QStringList{SoftwareUpdate::kWaitingText, SoftwareUpdate::kDownloadingText}));
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 64}, {1, 64}, {2, 64}, {3, 64}, {0, 64}}));
  EXPECT_EQ(update.Blocks(), 3);
}

// A port that does not close cleanly after the finish does not undo the
// update: it is returned beside the success, for the front end to tell; the
// update itself shows only what the port says of its device.
TEST_F(SoftwareUpdateTest, APortThatWillNotCloseAfterTheFinishIsToldApart) {
  ScriptedPrompter prompter;
  reader.link.COMPortDrv.SetDevice(std::make_unique<FailingCloseDevice>());
  reader.switchOnWhenAwaited();
  ASSERT_EQ(download(program(programBytes(1500))), 0);
  EXPECT_EQ(update.CloseFailure(), kErrComDisconnect);
  EXPECT_EQ(sent(), whole(2));
  EXPECT_FALSE(prompter.texts().contains("COM port disconnection error"))
      << prompter.texts().join('|').toStdString();
  reader.link.COMPortDrv.SetDevice(makePosixSerialDevice());
  reader.switchOnWhenAwaited();
  ASSERT_EQ(download(program(programBytes(1500))), 0);
  EXPECT_EQ(update.CloseFailure(), 0);
}

TEST_F(SoftwareUpdateTest, NoBlockIsSentThatHoldsNoByteOfTheFile) {
  for (const int size : {1, 2048, 65536}) {
    const Bytes file = programBytes(size);
    reader.switchOnWhenAwaited();
    ASSERT_EQ(download(program(file)), 0) << size;
    EXPECT_EQ(sent(), whole((size + 1023) / 1024)) << size;
    EXPECT_EQ(reader.loader().Image(), padded(file)) << size;
  }
  EXPECT_EQ(sent()[64].address, 0xFC00);
}

TEST_F(SoftwareUpdateTest, AFileTheLoaderCannotTakeWholeIsRefusedBeforeAnythingIsSent) {
  struct Case {
    QString path;
    int code;
  };
  const Case cases[] = {
      {program({}), kErrProgramEmpty},
      {program(programBytes(65537)), kErrProgramTooLarge},
      {program(programBytes(100000)), kErrProgramTooLarge},
      {dir.filePath(QStringLiteral("missing.bin")), kErrFileOpen},
  };
  for (const Case& c : cases) EXPECT_EQ(download(c.path), c.code) << c.path.toStdString();
  EXPECT_TRUE(reader.model.Requests.empty());
  EXPECT_TRUE(reader.loader().requests.empty());
  EXPECT_EQ(reader.link.LoaderWaiting, 0u) << "no wait began";
}

TEST_F(SoftwareUpdateTest, AWrongStatusOrAnAbortEndItWithoutTheFinishAndAFileChangedMeanwhileIsNotSent) {
  reader.loader().wrongStatusAt = 3;  // start, block 0, then block 1
  reader.switchOnWhenAwaited();
  EXPECT_EQ(download(program(programBytes(3000))), kErrLoaderStatus);
  EXPECT_EQ(sent(), (std::vector<Sent>{{1, 0}, {2, 0}, {2, 0x400}}));

  // What was checked goes out: the file rewritten while the reader is
  // awaited, or cut short after block 0, changes nothing that is sent.
  reader.loader().wrongStatusAt = 0;
  const Bytes chosen = programBytes(3000);
  const QString path = program(chosen);
  update.onStatus = [&](const QString& text) {
    if (text == SoftwareUpdate::kWaitingText) {
      EXPECT_TRUE(writeFile(path, Bytes(5000, 0x5A)));
    }
  };
  update.onProgress = [&](int position, int) {
    if (position == 1) QFile::resize(path, 1500);
  };
  reader.switchOnWhenAwaited();
  EXPECT_EQ(download(path), 0);
  EXPECT_EQ(sent(), whole(3));
  EXPECT_EQ(reader.loader().Image(), padded(chosen));
  update.onStatus = nullptr;

  // An Abort taken while a block goes out ends the wait for its reply.
  update.onProgress = [&](int position, int) {
    if (position == 1) update.Abort();
  };
  reader.switchOnWhenAwaited();
  EXPECT_EQ(download(program(programBytes(3000))), kErrUserAbort);
  QElapsedTimer t;  // the block went out; let the reader take it
  for (t.start(); sent().size() < 2 && t.elapsed() < 2000;)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(sent(), (std::vector<Sent>{{1, 0}, {2, 0}}));
}

TEST_F(SoftwareUpdateTest, AReplyWithStrayBytesBehindItIsTaken) {
  reader.loader().strayBytes = 1;
  reader.switchOnWhenAwaited();
  ASSERT_EQ(download(program(programBytes(1500))), 0);
  EXPECT_EQ(sent(), whole(2));
}

TEST_F(SoftwareUpdateTest, AbortExitOrTheProgramsEndEndAWaitThatWouldLastForever) {
  enum Act { kAbort, kExit, kQuit };  // Exit: the service window's
  struct Case {
    bool switchOn;  // the loader announces itself, then stays silent
    Act act;
    int code;
  };
  const Case cases[] = {
      {false, kAbort, kErrUserAbort}, {false, kExit, kErrLoaderInterrupted},
      {false, kQuit, kErrUserAbort},  // the main window closes: the program ends
      {true, kAbort, kErrUserAbort},  {true, kExit, kErrLoaderInterrupted},
  };
  reader.loader().silent = true;
  for (const Case& c : cases) {
    if (c.switchOn) reader.switchOnWhenAwaited();
    reader.duringLoaderWait([&] { return !c.switchOn || !reader.loader().requests.empty(); },
                            [&] {
                              if (c.act == kAbort) update.Abort();
                              if (c.act == kExit) reader.link.LoaderWaiting = 0;
                              if (c.act == kQuit) {
                                QEvent quit(QEvent::Quit);
                                QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
                              }
                            });
    EXPECT_EQ(download(program(programBytes(3000))), c.code);
    EXPECT_EQ(sent().size(), c.switchOn ? 1u : 0u) << "nothing follows the start";
  }
}

TEST_F(SoftwareUpdateTest, WhileItRunsNoExchangeAndNoSecondUpdateCanStart) {
  int exchange = 0, second = 0;
  reader.duringLoaderWait([] { return true; },
                          [&] {
                            uint8_t g[] = {'.', 'G', '#'};
                            exchange = reader.link.SendCOMCmd(g, 3);
                            second = update.Download(program(programBytes(10)));
                            update.Abort();
                          });
  EXPECT_EQ(download(program(programBytes(10))), kErrUserAbort);
  EXPECT_EQ(exchange, kErrExchangeRunning);
  EXPECT_EQ(second, kErrExchangeRunning);
  EXPECT_TRUE(reader.model.Requests.empty());
}

// A job holds the line between its commands (a download lets clicks
// through there): the update is refused before it touches the file or the
// port, and the job goes on over its port as it left it.
TEST_F(SoftwareUpdateTest, WhileAJobHoldsTheLineTheUpdateIsRefusedAndLeavesItsPortOpen) {
  LineHold hold(&reader.link.Channel());
  uint8_t g[] = {'.', 'G', '#'};
  ASSERT_EQ(reader.link.SendCOMCmd(g, 3), 0);
  ASSERT_TRUE(reader.link.COMPortDrv.Connected());
  // An update let through would wait for the switch-on on the job's port.
  reader.duringLoaderWait([] { return true; }, [&] { update.Abort(); });
  EXPECT_EQ(update.Download(program(programBytes(10))), kErrExchangeRunning);
  EXPECT_TRUE(reader.link.COMPortDrv.Connected());
  EXPECT_EQ(reader.link.LoaderMode, 0u);
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(reader.link.SendCOMCmd(g, 3), 0);
}

TEST(SoftwareUpdateGone, AReaderThatGoesAwayEndsTheUpdateAtOnceWithThePortsCode) {
  sim::FaultOptions faults;
  faults.vanishAfter = 4;  // start, blocks 0 and 1, then gone while block 2 goes out
  SimReader reader(faults);
  ASSERT_TRUE(reader.ok);
  SoftwareUpdate update(reader.link);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("p.bin"));
  ASSERT_TRUE(writeFile(path, programBytes(5000)));
  reader.switchOnWhenAwaited();
  // Stands in for the operator's Abort, were the wait to go on without a device.
  QTimer::singleShot(30000, [&] { update.Abort(); });
  EXPECT_EQ(update.Download(path), -13);
  std::vector<Sent> sent;
  for (const sim::LoaderRequest& r : reader.loader().requests) sent.push_back({r.command, r.address});
  EXPECT_EQ(sent, (std::vector<Sent>{{1, 0}, {2, 0}, {2, 0x400}, {2, 0x800}})) << "no finish";
  EXPECT_FALSE(reader.link.COMPortDrv.Connected());
}

}  // namespace
