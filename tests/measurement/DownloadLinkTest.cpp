// The download over the real link and a pseudo-terminal against the
// simulated reader misbehaving in each of its ways: a download either
// completes with every block exactly once or stops with a message, keeps
// what it wrote whole, and tells the reader only after a complete run.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <memory>
#include <ostream>

#include "ReaderModel.h"
#include "SimServer.h"
#include "base/Diag.h"
#include "base/IniFile.h"
#include "link/FrameLink.h"
#include "measurement/Download.h"
#include "sample-data/SampleData.h"

using namespace quelm;

namespace {

struct FaultCase {
  const char* name;
  sim::FaultOptions faults;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

sim::FaultOptions every(sim::FaultRule sim::FaultOptions::*rule, int n) {
  sim::FaultOptions f;
  f.*rule = sim::FaultRule{n, 0};
  return f;
}

// One case per way the simulated reader can misbehave; a new kind is one
// more line.
std::vector<FaultCase> faultCases() {
  sim::FaultOptions garbage, split, slow, vanish;
  garbage.garbage = 7;
  split.chunkSize = 64;
  split.chunkDelayMs = 2;
  slow.delayMs = 10;
  vanish.vanishAfter = 90;
  return {
      {"check sum damaged", every(&sim::FaultOptions::crc, 23)},
      {"busy", every(&sim::FaultOptions::busy, 29)},
      {"frame rejected", every(&sim::FaultOptions::reject, 31)},
      {"command refused", every(&sim::FaultOptions::refuse, 150)},
      {"refused as busy", every(&sim::FaultOptions::refuseBusy, 37)},
      {"wrong letter", every(&sim::FaultOptions::wrongLetter, 41)},
      {"reply lost", every(&sim::FaultOptions::drop, 120)},
      {"noise before replies", garbage},
      {"split replies", split},
      {"slow replies", slow},
      {"reply after the time-out", every(&sim::FaultOptions::late, 70)},
      {"reader gone", vanish},
  };
}

constexpr int kBlocks = 200;

class DownloadLinkTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(DownloadLinkTest, CompletesOnceOrStopsKeepingWhatWasWritten) {
  DiagFlags = 0;
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  sim::TReaderModel model(GetParam().faults);
  const std::vector<BlockRecord> blocks = MakeSampleBlocks({kBlocks, 11, 1900});  // wraps past 2047
  model.LoadBlocks(blocks);
  sim::TReaderSimServer server(model);
  ASSERT_EQ(server.Open(), 0);
  IniFile ini(dir.filePath("quelm.INI"));
  ini.WriteString("Serial port settings", "COM1", server.SlavePath());
  ASSERT_TRUE(ini.UpdateFile());
  TFrameLink link;
  link.COMPortDrv.IniFileName = dir.filePath("quelm.INI");
  link.COMPortDrv.SetPortNumber(pnCOM1);
  // The shortest poll the port allows: each exchange ends soon after its reply.
  link.COMPortDrv.SetPollDelay(5);
  SetCommandChannel(&link.Channel());

  DownloadJob job;
  job.SetStorageName(dir.filePath("run"));
  DownloadResult r = job.SelectType(kDownloadUnsaved);
  if (r.kind == DownloadResult::kNone) r = job.Start();
  SetCommandChannel(nullptr);

  QFile f(dir.filePath("run.dat"));
  const QByteArray stored = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  ASSERT_EQ(stored.size() % 512, 0) << "whole records only";
  const int n = static_cast<int>(stored.size() / 512);
  // A prefix of the reader's blocks, each exactly once and in order.
  for (int i = 0; i < n; ++i) {
    BlockRecord expected = blocks[static_cast<size_t>(i)];
    reinterpret_cast<uint8_t*>(&expected)[0] = 0;
    reinterpret_cast<uint8_t*>(&expected)[511] = 0;
    ASSERT_EQ(std::memcmp(stored.constData() + 512 * i, &expected, 512), 0) << "record " << i;
  }
  if (r.kind == DownloadResult::kCompleted) {
    EXPECT_EQ(n, kBlocks);
    EXPECT_EQ(model.FirstUnsaved(), -1) << "acknowledged after the complete run";
  } else {
    EXPECT_EQ(r.kind, DownloadResult::kFailure) << r.message.toStdString();
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(r.blocks, n);
    EXPECT_EQ(model.FirstUnsaved(), int{blocks.front().BlockNumber}) << "nothing acknowledged";
  }
}

INSTANTIATE_TEST_SUITE_P(FaultKinds, DownloadLinkTest, ::testing::ValuesIn(faultCases()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// The window's download holds the line as the command line's does: between
// two blocks no other program can open the reader's device, and a command
// another window sends while the download lets clicks through is refused
// rather than sent between two of its blocks.
TEST(DownloadLineTest, NoOtherProgramGetsTheLineBetweenTwoBlocks) {
  sim::TReaderModel model;
  model.LoadBlocks(MakeSampleBlocks({10, 3, 0}));
  sim::TReaderSimServer server(model);
  ASSERT_EQ(server.Open(), 0);
  TFrameLink link;
  link.COMPortDrv.DeviceOverride = server.SlavePath();
  link.COMPortDrv.SetPortNumber(pnCOM1);
  SetCommandChannel(&link.Channel());
  QTemporaryDir dir;
  DownloadJob job;
  job.SetStorageName(dir.filePath("run"));
  int other = 1, window = 1;
  size_t requestsBefore = 0, requestsAfter = 0;
  job.onChanged = [&] {
    if (job.State().actualBlock != QLatin1String("3") || other != 1) return;
    TCOMPort port;
    port.DeviceOverride = server.SlavePath();
    other = port.Connect();
    // A click in another window, handled among the download's events.
    requestsBefore = model.Requests.size();
    QMetaObject::invokeMethod(
        &link,
        [&] {
          uint8_t command[] = {'.', 'G', '#'};
          window = link.Channel().SendCOMCmd(command, sizeof command);
          requestsAfter = model.Requests.size();
        },
        Qt::QueuedConnection);
  };
  DownloadResult r = job.SelectType(kDownloadUnsaved);
  if (r.kind == DownloadResult::kNone) r = job.Start();
  SetCommandChannel(nullptr);
  EXPECT_EQ(r.kind, DownloadResult::kCompleted);
  EXPECT_EQ(other, -2) << "the device was free between two blocks";
  EXPECT_EQ(window, kErrExchangeRunning) << "another window's command went out mid-download";
  EXPECT_EQ(requestsAfter, requestsBefore);
  EXPECT_FALSE(link.COMPortDrv.Connected()) << "released when the download ended";
}

}  // namespace
