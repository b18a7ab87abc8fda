#pragma once
// Serves a TReaderModel on the master side of a pseudo-terminal: host bytes
// from the program go to the model, its replies go back on the line at the
// times the model and the pacing ask for. Runs on the Qt event loop, so a
// test can serve the program in its own thread.

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <deque>
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
  void Emit(const std::vector<Emission>& emissions) { Schedule(emissions); }

 private:
  void OnReadable();
  void SendDue();
  void Schedule(const std::vector<Emission>& emissions);

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
  qint64 LineFreeAt = 0;
  qint64 Sent = 0;
};

}  // namespace quelm::sim
