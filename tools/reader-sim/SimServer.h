#pragma once
// Serves a TReaderModel on the master side of a pseudo-terminal: host bytes
// from the program go to the model, its replies go back on the line at the
// times the model and the pacing ask for. Runs on the Qt event loop, so a
// test can serve the program in its own thread.

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QThread>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "ReaderModel.h"

namespace quelm::sim {

class TReaderSimServer : public QObject {
  Q_OBJECT
 public:
  explicit TReaderSimServer(TReaderModel& model, QObject* parent = nullptr);
  ~TReaderSimServer() override;

  // Creates the pseudo-terminal. Returns 0 or an errno value.
  int Open();
  // The path the program opens (e.g. /dev/pts/7).
  QString SlavePath() const { return Slave; }
  // Bytes written to the line so far, and replies not yet fully written.
  qint64 BytesSent() const { return Sent; }
  bool Idle() const { return Queue.empty(); }
  // Puts bytes on the line that no request asked for (the loader's
  // announcement when the reader is switched on).
  void Emit(const std::vector<Emission>& emissions) { Schedule(emissions, NowUs()); }

 signals:
  // The reader has vanished and its line is closed.
  void Vanished();

 private:
  void OnReadable();
  void SendDue();
  void Schedule(const std::vector<Emission>& emissions, qint64 fromUs);
  void Close();
  qint64 NowUs() const { return Clock.nsecsElapsed() / 1000; }

  // Times in microseconds of Clock.
  struct Piece {
    qint64 due;
    std::vector<uint8_t> bytes;
  };
  TReaderModel& Model;
  int Master = -1;
  // Kept open for the server's whole life: the program closes its side
  // after every exchange, and the last close of the slave would hang the
  // line up (master reads then fail with EIO).
  int SlaveKeeper = -1;
  QString Slave;
  std::unique_ptr<QSocketNotifier> Notifier;
  QTimer SendTimer;
  QElapsedTimer Clock;
  std::deque<Piece> Queue;
  qint64 LineFreeAt = 0;   // our side of the line is busy until then
  qint64 InputDoneAt = 0;  // the host's bytes so far have crossed the line
  qint64 Sent = 0;
};

// A simulated reader served from a thread of its own, the way a separate
// device answers while the program is busy: for timings and fault soaks.
class TReaderSimThread {
 public:
  // setUp prepares the model (its memory) in the serving thread.
  TReaderSimThread(FaultOptions faults, std::function<void(TReaderModel&)> setUp);
  ~TReaderSimThread();
  TReaderSimThread(const TReaderSimThread&) = delete;
  TReaderSimThread& operator=(const TReaderSimThread&) = delete;

  // Starts serving. Returns 0 or an errno value.
  int Open();
  QString SlavePath() const { return Slave; }
  // Stops serving; then the totals below hold.
  void Stop();
  qint64 BytesSent() const { return Sent; }
  qint64 BytesReceived() const { return Received; }

 private:
  FaultOptions Faults;
  std::function<void(TReaderModel&)> SetUp;
  std::unique_ptr<QThread> Thread;
  QObject* Loop = nullptr;  // the serving thread's event loop
  QString Slave;
  qint64 Sent = 0;
  qint64 Received = 0;
};

}  // namespace quelm::sim
