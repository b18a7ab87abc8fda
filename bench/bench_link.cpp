// Link timings: the check sum, a block read against the simulated reader,
// the CPU the program spends while it waits for a reply that never comes
// (must stay under 5 % of the wall time: the wait sleeps), and how closely
// the exchanges keep up with a paced line (the goals are printed with each
// measured ratio).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "PacedReader.h"
#include "ReaderModel.h"
#include "SimServer.h"
#include "base/IniFile.h"
#include "base/Prompter.h"
#include "link/CommandChannel.h"
#include "link/Frame.h"
#include "link/FrameLink.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

namespace {

double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

static void BM_FrameCRC16(benchmark::State& state) {
  std::vector<uint8_t> frame(570, 0x5A);
  for (auto _ : state) benchmark::DoNotOptimize(FrameCRC16(frame.data(), static_cast<int>(frame.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 570);
}
BENCHMARK(BM_FrameCRC16);

// One ".Y" exchange (reset frame first time, then 521-byte replies).
static void BM_ReadBlockFromSimulatedReader(benchmark::State& state) {
  quelm::sim::TReaderModel model;
  model.LoadBlocks(MakeSampleBlocks({300, 1, 0}));
  quelm::sim::TReaderSimServer server(model);
  if (server.Open() != 0) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  QTemporaryDir dir;
  TFrameLink link;
  link.COMPortDrv.IniFileName = quelm::bench::WriteIni(dir, server.SlavePath());
  link.COMPortDrv.SetPortNumber(pnCOM1);
  for (auto _ : state) {
    uint8_t y[] = {'.', 'Y', 42, 0, '#'};
    if (link.SendCOMCmd(y, 5) != 0) state.SkipWithError("exchange failed");
  }
}
BENCHMARK(BM_ReadBlockFromSimulatedReader)->Unit(benchmark::kMillisecond)->Iterations(20);

// No reader: the reset frame waits its four one-second ticks for nothing.
static void BM_WaitForAbsentReaderCpuShare(benchmark::State& state) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  const QString slave = QString::fromLocal8Bit(ptsname(master));
  const int keeper = ::open(ptsname(master), O_RDWR | O_NOCTTY);
  QTemporaryDir dir;
  TFrameLink link;
  link.COMPortDrv.IniFileName = quelm::bench::WriteIni(dir, slave);
  link.COMPortDrv.SetPortNumber(pnCOM1);
  double share = 0;
  for (auto _ : state) {
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = processCpuSeconds();
    uint8_t g[] = {'.', 'G', '#'};
    const int rc = link.SendCOMCmd(g, 3);
    const double cpu = processCpuSeconds() - cpu0;
    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    share = 100.0 * cpu / seconds;
    state.counters["wall_s"] = seconds;
    state.counters["cpu_s"] = cpu;
    state.counters["cpu_pct"] = share;
    if (rc != quelm::kErrNothingReceived) state.SkipWithError("expected -204 (nothing received)");
  }
  if (share >= 5.0) state.SkipWithError("the wait used 5 % of the CPU or more");
  ::close(keeper);
  ::close(master);
}
BENCHMARK(BM_WaitForAbsentReaderCpuShare)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// 100 blocks read one by one (".Y"), 12 ms of reader latency per reply: the
// wall time against line time plus latency.
static void BM_ReadHundredBlocksPaced(benchmark::State& state) {
  const auto baud = static_cast<uint32_t>(state.range(0));
  constexpr int kLatencyMs = 12;
  constexpr int kBlocks = 100;
  for (auto _ : state) {
    quelm::bench::PacedReader r(baud, kLatencyMs);
    if (!r.ok) return state.SkipWithError("no pseudo-terminal");
    // The reset frame that begins the first exchange after start is not part
    // of the reads.
    r.link.ResetPending = false;
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < kBlocks; ++i)
      if (r.data.ReadCOMBlock(static_cast<uint32_t>(i)) != 0) return state.SkipWithError("a read failed");
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double ideal = r.wireSeconds(baud) + kBlocks * kLatencyMs / 1000.0;
    state.SetIterationTime(seconds);
    quelm::bench::ReportGoal(
        state, baud == 19200 ? "100 block reads at 19200 baud" : "100 block reads at 115200 baud",
        seconds / ideal, baud == 19200 ? 1.05 : 1.15);
  }
}
BENCHMARK(BM_ReadHundredBlocksPaced)
    ->Arg(19200)
    ->Arg(115200)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();

// "Import from Quelm" as the content list does it at 115200 baud: reset frame,
// block count, newest block, the newest page and the newest block.
static void BM_NewestPageImportPaced(benchmark::State& state) {
  constexpr uint32_t kBaud = 115200;
  for (auto _ : state) {
    quelm::bench::PacedReader r(kBaud, 0);
    if (!r.ok) return state.SkipWithError("no pseudo-terminal");
    QElapsedTimer wall;
    wall.start();
    SearchRequest q;
    std::memset(&q, 0, sizeof q);
    int n = 0;
    if (r.data.SkimCOM() != 0) return state.SkipWithError("the count failed");
    q.StartBlock = static_cast<uint16_t>(r.data.LastBlock);
    q.FromBlock = static_cast<uint16_t>(r.data.LastBlock + 1);
    if (r.data.SearchCOMBlocks(q, sizeof q, &n) != 0 || n != 20)
      return state.SkipWithError("the page failed");
    if (r.data.ReadCOMBlock(r.data.LastBlock) != 0) return state.SkipWithError("the block failed");
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    state.SetIterationTime(seconds);
    quelm::bench::ReportGoal(state, "newest-page import at 115200 baud", seconds / r.wireSeconds(kBaud), 1.3);
  }
}
BENCHMARK(BM_NewestPageImportPaced)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
