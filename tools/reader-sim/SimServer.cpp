#include "SimServer.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QEventLoop>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <future>

namespace quelm::sim {

TReaderSimServer::TReaderSimServer(TReaderModel& model, QObject* parent) : QObject(parent), Model(model) {
  Clock.start();
  SendTimer.setSingleShot(true);
  SendTimer.setTimerType(Qt::PreciseTimer);
  connect(&SendTimer, &QTimer::timeout, this, &TReaderSimServer::SendDue);
}

TReaderSimServer::~TReaderSimServer() { Close(); }

void TReaderSimServer::Close() {
  Notifier.reset();
  SendTimer.stop();
  Queue.clear();
  if (SlaveKeeper >= 0) ::close(SlaveKeeper);
  if (Master >= 0) ::close(Master);
  SlaveKeeper = Master = -1;
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
  const uint32_t baud = Model.Faults().lineBaud;
  uint8_t buf[4096];
  for (;;) {
    const ssize_t n = ::read(Master, buf, sizeof buf);
    if (n <= 0) break;
    // On a paced line the request is whole only once its last byte has
    // crossed it; the reply cannot start before.
    qint64 from = NowUs();
    if (baud != 0) {
      InputDoneAt = std::max(InputDoneAt, from) + static_cast<qint64>(n) * 10'000'000 / baud;
      from = InputDoneAt;
    }
    Schedule(Model.Feed(buf, static_cast<size_t>(n)), from);
    if (Model.Vanished()) {
      // As if the adapter were pulled: the host's device hangs up and its
      // node disappears.
      Close();
      emit Vanished();
      return;
    }
  }
}

void TReaderSimServer::Schedule(const std::vector<Emission>& emissions, qint64 fromUs) {
  const uint32_t baud = Model.Faults().lineBaud;
  qint64 t = fromUs;
  for (const Emission& e : emissions) {
    t = std::max(t + e.delayMs * qint64{1000}, LineFreeAt);
    if (baud == 0) {
      Queue.push_back({t, e.bytes});
      LineFreeAt = t;
      continue;
    }
    // One piece per 10 ms of line time (a byte takes 10 bit times); a piece
    // is there when its last byte is.
    const size_t piece = std::max<size_t>(1, baud / 1000);
    for (size_t at = 0; at < e.bytes.size(); at += piece) {
      const size_t end = std::min(e.bytes.size(), at + piece);
      const qint64 due = t + static_cast<qint64>(end) * 10'000'000 / baud;
      Queue.push_back({due, std::vector<uint8_t>(e.bytes.begin() + static_cast<long>(at),
                                                 e.bytes.begin() + static_cast<long>(end))});
    }
    t += static_cast<qint64>(e.bytes.size()) * 10'000'000 / baud;
    LineFreeAt = t;
  }
  SendDue();
}

void TReaderSimServer::SendDue() {
  const qint64 now = NowUs();
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
  if (!Queue.empty())
    SendTimer.start(static_cast<int>(std::max<qint64>(0, (Queue.front().due - now + 999) / 1000)));
}

TReaderSimThread::TReaderSimThread(FaultOptions faults, std::function<void(TReaderModel&)> setUp)
    : Faults(faults), SetUp(std::move(setUp)) {}

TReaderSimThread::~TReaderSimThread() { Stop(); }

int TReaderSimThread::Open() {
  std::promise<int> opened;
  std::future<int> result = opened.get_future();
  Thread.reset(QThread::create([this, &opened] {
    TReaderModel model(Faults);
    if (SetUp) SetUp(model);
    TReaderSimServer server(model);
    QEventLoop loop;
    const int e = server.Open();
    Slave = server.SlavePath();
    Loop = e == 0 ? &loop : nullptr;
    opened.set_value(e);
    if (e == 0) loop.exec();
    Sent = server.BytesSent();
    for (const std::vector<uint8_t>& r : model.Requests) Received += static_cast<qint64>(r.size());
  }));
  Thread->start();
  const int e = result.get();
  if (e != 0) Stop();
  return e;
}

void TReaderSimThread::Stop() {
  if (!Thread) return;
  if (Loop) QMetaObject::invokeMethod(Loop, "quit", Qt::QueuedConnection);
  Thread->wait();
  Thread.reset();
  Loop = nullptr;
}

}  // namespace quelm::sim
