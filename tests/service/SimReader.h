#pragma once
// The simulated reader on a pseudo-terminal, served on this thread's event
// loop while the program's link waits, with a link of its own installed as
// the program's command channel.

#include <QFile>
#include <QTimer>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "ForwardingDevice.h"
#include "ReaderModel.h"
#include "ReaderService.h"
#include "SimServer.h"
#include "base/Diag.h"
#include "link/CommandChannel.h"
#include "link/FrameLink.h"

namespace quelm::test {

using Bytes = std::vector<uint8_t>;

class SimReader {
 public:
  explicit SimReader(const sim::FaultOptions& faults = {}) : model(faults) {
    ok = server.Open() == 0;
    link.COMPortDrv.DeviceOverride = server.SlavePath();
    link.COMPortDrv.SetPortNumber(pnCOM1);
    SetCommandChannel(&link.Channel());
  }
  ~SimReader() { SetCommandChannel(nullptr); }

  // The payload of the last command frame the reader received.
  Bytes lastPayload() const {
    if (model.Requests.empty()) return {};
    const Bytes& f = model.Requests.back();
    return Bytes(f.begin() + 6, f.end() - 2);
  }
  // Every following exchange ends with the reader rejecting the frame.
  void rejectNext(int exchanges = 1) {
    for (int i = 0; i < 2 * exchanges; ++i) model.Script.push_back(sim::kFaultReject);
  }
  sim::LoaderState& loader() { return model.Service().loader; }

  // Runs act() once, as soon as the link waits for the loader with its port
  // open and `when` holds (the operator acting during the wait).
  template <typename When, typename Act>
  void duringLoaderWait(When when, Act act) {
    auto* t = new QTimer(&server);
    t->setInterval(5);
    QObject::connect(t, &QTimer::timeout, t, [this, t, when, act] {
      if (link.LoaderWaiting != 1 || !link.COMPortDrv.Connected() || !when()) return;
      t->deleteLater();
      t->stop();
      act();
    });
    t->start();
  }
  // The operator switches the reader on once the update waits for it.
  void switchOnWhenAwaited() {
    duringLoaderWait([] { return true; }, [this] { server.Emit(model.SwitchOnLoader()); });
  }

  sim::TReaderModel model;
  sim::TReaderSimServer server{model};
  TFrameLink link;
  bool ok = false;
};

// A program file of `size` bytes whose every byte tells its offset apart.
inline Bytes programBytes(int size) {
  Bytes b(static_cast<size_t>(size));
  for (int i = 0; i < size; ++i) b[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + i / 256);
  return b;
}

inline bool writeFile(const QString& path, const Bytes& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) &&
         f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) ==
             static_cast<qint64>(bytes.size());
}

// The system's device, whose close fails (EIO) after it has closed it: the
// port cannot be closed cleanly after the work.
class FailingCloseDevice final : public ForwardingDevice {
 public:
  int close() override {
    ForwardingDevice::close();
    return EIO;
  }
};

// The file as the loader must have received it: padded with erased flash
// to whole blocks.
inline Bytes padded(Bytes bytes) {
  bytes.resize((bytes.size() + 1023) / 1024 * 1024, 0xFF);
  return bytes;
}

}  // namespace quelm::test
