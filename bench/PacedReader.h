#pragma once
// What the link timings and the analysis timings share: a simulated reader
// paced at the line rate with the program's link to it, the line time of
// what crossed it, and how a goal is printed.

#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <cstdio>

#include "ReaderModel.h"
#include "SimServer.h"
#include "base/IniFile.h"
#include "link/CommandChannel.h"
#include "link/FrameLink.h"
#include "measurement/NurvoDataBlock.h"
#include "sample-data/SampleData.h"

namespace quelm::bench {

// A configuration file in dir that maps COM1 to device.
inline QString WriteIni(const QTemporaryDir& dir, const QString& device) {
  const QString path = dir.filePath(QStringLiteral("quelm.INI"));
  quelm::IniFile ini(path);
  ini.WriteString(QStringLiteral("Serial port settings"), QStringLiteral("COM1"), device);
  ini.UpdateFile();
  return path;
}

// A reader on its own thread, paced at the line rate, and the program's link
// to it as the program's command channel.
struct PacedReader {
  quelm::sim::TReaderSimThread sim;
  QTemporaryDir dir;
  TFrameLink link;
  TNurvoDataBlock data{nullptr};
  PacedReader(uint32_t baud, int latencyMs)
      : sim(faults(baud, latencyMs), [](quelm::sim::TReaderModel& m) {
          m.LoadBlocks(MakeSampleBlocks({300, 1, 0}));
        }) {
    ok = sim.Open() == 0;
    link.COMPortDrv.IniFileName = WriteIni(dir, sim.SlavePath());
    link.COMPortDrv.SetPortNumber(pnCOM1);
    link.COMPortDrv.SetBaudRate(baud == 19200 ? br19200 : br115200);
    SetCommandChannel(&link.Channel());
  }
  ~PacedReader() { SetCommandChannel(nullptr); }
  // Line time of everything that crossed the line in both directions.
  double wireSeconds(uint32_t baud) {
    sim.Stop();
    return static_cast<double>(sim.BytesSent() + sim.BytesReceived()) * 10.0 / baud;
  }
  static quelm::sim::FaultOptions faults(uint32_t baud, int latencyMs) {
    quelm::sim::FaultOptions f;
    f.lineBaud = baud;
    f.delayMs = latencyMs;
    return f;
  }
  bool ok = false;
};

// The line time of one block read (".Y" and its reply) at baud, as the
// reads above measure it; 0 when no pseudo-terminal could be had.
inline double BlockWireSeconds(uint32_t baud) {
  PacedReader r(baud, 0);
  if (!r.ok) return 0;
  r.link.ResetPending = false;  // the first exchange's reset frame is no part of a read
  if (r.data.ReadCOMBlock(0) != 0) return 0;
  return r.wireSeconds(baud);
}

inline void ReportGoal(benchmark::State& state, const char* what, double ratio, double goal) {
  state.counters["ratio"] = ratio;
  state.counters["goal"] = goal;
  std::printf("%s: %.3f x (goal <= %.2f x)%s\n", what, ratio, goal, ratio <= goal ? "" : "  MISSED");
  if (ratio > goal) state.SkipWithError("the goal was missed");
}

}  // namespace quelm::bench
