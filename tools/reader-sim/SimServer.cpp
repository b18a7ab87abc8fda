#include "SimServer.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace quelm::sim {

TReaderSimServer::TReaderSimServer(TReaderModel& model, QObject* parent) : QObject(parent), Model(model) {
  Clock.start();
  SendTimer.setSingleShot(true);
  SendTimer.setTimerType(Qt::PreciseTimer);
  connect(&SendTimer, &QTimer::timeout, this, &TReaderSimServer::SendDue);
}

TReaderSimServer::~TReaderSimServer() {
  Notifier.reset();
  if (SlaveKeeper >= 0) ::close(SlaveKeeper);
  if (Master >= 0) ::close(Master);
}

int TReaderSimServer::Open() {
  Master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (Master < 0) return errno;
  // posix_openpt takes no other flags; the read loop must never block.
  if (::fcntl(Master, F_SETFL, ::fcntl(Master, F_GETFL) | O_NONBLOCK) != 0 ||
      ::fcntl(Master, F_SETFD, FD_CLOEXEC) != 0)
    return errno;
  if (::grantpt(Master) != 0 || ::unlockpt(Master) != 0) return errno;
  char name[128];
  if (::ptsname_r(Master, name, sizeof name) != 0) return errno;
  Slave = QString::fromLocal8Bit(name);
  SlaveKeeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (SlaveKeeper < 0) return errno;
  // Raw from the start: a cooked line would echo the replies back to us
  // before the program has set its own modes.
  termios t{};
  if (::tcgetattr(SlaveKeeper, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(SlaveKeeper, TCSANOW, &t);
  }
  Notifier = std::make_unique<QSocketNotifier>(Master, QSocketNotifier::Read);
  connect(Notifier.get(), &QSocketNotifier::activated, this, &TReaderSimServer::OnReadable);
  return 0;
}

void TReaderSimServer::OnReadable() {
  uint8_t buf[4096];
  for (;;) {
    const ssize_t n = ::read(Master, buf, sizeof buf);
    if (n <= 0) break;
    Schedule(Model.Feed(buf, static_cast<size_t>(n)));
  }
}

void TReaderSimServer::Schedule(const std::vector<Emission>& emissions) {
  const uint32_t baud = Model.Faults().lineBaud;
  qint64 t = Clock.elapsed();
  for (const Emission& e : emissions) {
    t = std::max(t + e.delayMs, LineFreeAt);
    if (baud == 0) {
      Queue.push_back({t, e.bytes});
      LineFreeAt = t;
      continue;
    }
    // One piece per 10 ms of line time; a byte takes 10 bit times.
    const size_t piece = std::max<size_t>(1, baud / 1000);
    for (size_t at = 0; at < e.bytes.size(); at += piece) {
      const qint64 due = t + static_cast<qint64>(at) * 10000 / baud;
      Queue.push_back({due, std::vector<uint8_t>(
                                e.bytes.begin() + static_cast<long>(at),
                                e.bytes.begin() + static_cast<long>(std::min(e.bytes.size(), at + piece)))});
    }
    t += static_cast<qint64>(e.bytes.size()) * 10000 / baud;
    LineFreeAt = t;
  }
  SendDue();
}

void TReaderSimServer::SendDue() {
  const qint64 now = Clock.elapsed();
  while (!Queue.empty() && Queue.front().due <= now) {
    const std::vector<uint8_t>& b = Queue.front().bytes;
    size_t at = 0;
    while (at < b.size()) {
      const ssize_t w = ::write(Master, b.data() + at, b.size() - at);
      // A full line means nobody reads the other side (the program has its
      // port closed); what it would flush on its next open is dropped here.
      if (w <= 0) break;
      at += static_cast<size_t>(w);
    }
    Sent += static_cast<qint64>(at);
    Queue.pop_front();
  }
  if (!Queue.empty()) SendTimer.start(static_cast<int>(std::max<qint64>(0, Queue.front().due - now)));
}

}  // namespace quelm::sim
