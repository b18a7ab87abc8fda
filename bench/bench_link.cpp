// Link timings: the check sum, a block read against the simulated reader,
// and the CPU the program spends while it waits for a reply that never
// comes (must stay under 5 % of the wall time: the wait sleeps).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ReaderModel.h"
#include "SimServer.h"
#include "base/IniFile.h"
#include "base/Prompter.h"
#include "link/Frame.h"
#include "link/FrameLink.h"
#include "sample-data/SampleData.h"

namespace {

double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

QString writeIni(const QTemporaryDir& dir, const QString& device) {
  const QString path = dir.filePath(QStringLiteral("quelm.INI"));
  quelm::IniFile ini(path);
  ini.WriteString(QStringLiteral("Serial port settings"), QStringLiteral("COM1"), device);
  ini.UpdateFile();
  return path;
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
  link.COMPortDrv.IniFileName = writeIni(dir, server.SlavePath());
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
  link.COMPortDrv.IniFileName = writeIni(dir, slave);
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
