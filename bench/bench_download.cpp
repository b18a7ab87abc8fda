// The download against the simulated reader paced at the line rate with a
// 12 ms reader latency: 100 blocks with the content and detailed lists,
// compared with what the line itself needs (every reply's bytes at the
// baud rate plus the latency of every exchange). Goals: 1.08 at 19200 baud,
// 1.2 at 115200. And a download from a full data file (2048 blocks, with
// both lists): the source opened once, the whole copy within a second.
// Run: build/bench/quelm_bench --benchmark_filter=Download
#include <sys/inotify.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "ReaderModel.h"
#include "SimServer.h"
#include "base/IniFile.h"
#include "link/CommandChannel.h"
#include "link/FrameLink.h"
#include "measurement/Download.h"
#include "sample-data/SampleData.h"

namespace {

constexpr int kBlocks = 100;
constexpr int kLatencyMs = 12;

void downloadAtLineRate(benchmark::State& state, uint32_t baud, double goal) {
  for (auto _ : state) {
    quelm::sim::FaultOptions line;
    line.lineBaud = baud;
    line.delayMs = kLatencyMs;
    quelm::sim::TReaderModel model(line);
    model.LoadBlocks(MakeSampleBlocks({kBlocks, 1, 0}));
    quelm::sim::TReaderSimServer server(model);
    QTemporaryDir dir;
    if (server.Open() != 0 || !dir.isValid()) {
      state.SkipWithError("no pseudo-terminal");
      return;
    }
    quelm::IniFile ini(dir.filePath(QStringLiteral("quelm.INI")));
    ini.WriteString(QStringLiteral("Serial port settings"), QStringLiteral("COM1"), server.SlavePath());
    ini.UpdateFile();
    TFrameLink link;
    link.COMPortDrv.IniFileName = dir.filePath(QStringLiteral("quelm.INI"));
    link.COMPortDrv.SetPortNumber(pnCOM1);
    link.COMPortDrv.SetBaudRate(baud == 115200 ? br115200 : br19200);
    SetCommandChannel(&link.Channel());

    quelm::DownloadJob job;
    job.SetStorageName(dir.filePath(QStringLiteral("run")));
    QElapsedTimer wall;
    wall.start();
    quelm::DownloadResult r = job.SelectType(quelm::kDownloadUnsaved);
    if (r.kind == quelm::DownloadResult::kNone) r = job.Start();
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    SetCommandChannel(nullptr);
    if (r.kind != quelm::DownloadResult::kCompleted || r.blocks != kBlocks) {
      state.SkipWithError("download failed");
      return;
    }
    // What the line needs: the reader's bytes at the baud rate (10 bits a
    // byte) and its latency before every reply.
    const double exchanges = static_cast<double>(model.Requests.size());
    const double line_s =
        static_cast<double>(server.BytesSent()) * 10.0 / baud + exchanges * kLatencyMs / 1000.0;
    const double ratio = seconds / line_s;
    state.SetIterationTime(seconds);
    state.counters["wall_s"] = seconds;
    state.counters["line_s"] = line_s;
    state.counters["ratio"] = ratio;
    state.counters["goal"] = goal;
    std::printf("download of %d blocks at %u baud: %.2f s, line %.2f s, ratio %.3f (goal %.2f)\n", kBlocks,
                baud, seconds, line_s, ratio, goal);
  }
}

}  // namespace

// A full data file copied by a file download; the source's opens are
// counted by inotify (one event per open, read after the download; closes
// are watched too, or the kernel would merge successive opens into one).
static void BM_DownloadFullFile(benchmark::State& state) {
  constexpr double kGoalSeconds = 1.0;
  for (auto _ : state) {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("full.dat"));
    if (!dir.isValid() || WriteSampleDataFile(source, {2048, 1, 0}) != 0) {
      state.SkipWithError("no data file");
      return;
    }
    const int watch = inotify_init1(IN_NONBLOCK);
    inotify_add_watch(watch, QFile::encodeName(source).constData(), IN_OPEN | IN_CLOSE);
    quelm::DownloadJob job;
    job.SetStorageName(dir.filePath(QStringLiteral("copy")));
    job.ChooseFile();
    QElapsedTimer wall;
    wall.start();
    quelm::DownloadResult r = job.SkimSource(source);
    if (r.kind == quelm::DownloadResult::kNone) r = job.Start();
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    int opens = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
      for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(sizeof(inotify_event)))
        opens += (reinterpret_cast<const inotify_event*>(events + at)->mask & IN_OPEN) != 0;
    ::close(watch);
    if (r.kind != quelm::DownloadResult::kCompleted || r.blocks != 2048) {
      state.SkipWithError("download failed");
      return;
    }
    state.SetIterationTime(seconds);
    state.counters["wall_s"] = seconds;
    state.counters["source_opens"] = opens;
    state.counters["ratio"] = seconds / kGoalSeconds;
    std::printf(
        "download of a full data file (2048 blocks): %.3f s, source opened %d times (skim and "
        "copy), ratio %.3f (goal %.2f s)\n",
        seconds, opens, seconds / kGoalSeconds, kGoalSeconds);
  }
}
BENCHMARK(BM_DownloadFullFile)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

static void BM_Download100Blocks19200(benchmark::State& state) { downloadAtLineRate(state, 19200, 1.08); }
BENCHMARK(BM_Download100Blocks19200)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

static void BM_Download100Blocks115200(benchmark::State& state) { downloadAtLineRate(state, 115200, 1.2); }
BENCHMARK(BM_Download100Blocks115200)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();
