// quelm-cli update PROGRAM.bin --port P: loads new software into the
// reader. The operator starts it, then switches the reader on into its
// loader; Ctrl+C aborts as the window's "Abort" does.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>
#include <memory>

#include "Cli.h"
#include "service/SoftwareUpdate.h"

namespace quelm::cli {
namespace {

volatile std::sig_atomic_t g_interruptFd = -1;

void onInterrupt(int) {
  const char c = 1;
  if (g_interruptFd >= 0) {
    [[maybe_unused]] const ssize_t w = ::write(g_interruptFd, &c, 1);
  }
}

// While it lives, SIGINT does not end the program but aborts the update:
// the handler only writes a byte, which wakes the update's wait.
class InterruptAborts {
 public:
  explicit InterruptAborts(TSoftwareUpdate& update) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, &update] {
      char buf[16];
      while (::read(fds_[0], buf, sizeof buf) > 0) {
      }
      update.Abort();
    });
    g_interruptFd = fds_[1];
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    installed_ = ::sigaction(SIGINT, &sa, &previous_) == 0;
  }
  ~InterruptAborts() {
    if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
    g_interruptFd = -1;
    notifier_.reset();
    for (const int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  InterruptAborts(const InterruptAborts&) = delete;
  InterruptAborts& operator=(const InterruptAborts&) = delete;

 private:
  int fds_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  struct sigaction previous_ {};
  bool installed_ = false;
};

int run(Args& args, CliIO& io) {
  const QString command = QStringLiteral("update");
  if (!serviceLevel(io)) {
    io.err << "quelm-cli: update needs the service level, which the configuration file " << io.configPath
           << " does not switch on" << Qt::endl;
    return kExitFailure;
  }
  int exitCode = kExitOk;
  const auto session = openReader(args, io, command, &exitCode);
  if (!session) return exitCode;
  const QStringList files = args.positional();
  if (!args.ok()) return usageError(io, command, args.error());
  if (files.size() != 1) return usageError(io, command, QStringLiteral("one program file is needed"));

  TSoftwareUpdate update(session->link());
  bool barOpen = false;
  update.OnStatus = [&](const QString& text) {
    if (text.isEmpty()) return;
    if (barOpen) io.err << "\n";
    barOpen = false;
    io.err << text << Qt::endl;
  };
  update.OnProgress = [&](int position, int /*maximum*/) {
    const int blocks = update.Blocks();
    if (position <= 0 || blocks <= 0) return;
    if (!io.errIsTerminal) {
      io.err << "block " << position << " of " << blocks << Qt::endl;
      return;
    }
    constexpr int kWidth = 40;
    const int filled = position * kWidth / blocks;
    io.err << "\r[" << QString(filled, QLatin1Char('#')) << QString(kWidth - filled, QLatin1Char('.')) << "] "
           << position << "/" << blocks << Qt::flush;
    barOpen = true;
  };
  int rc = 0;
  {
    InterruptAborts interrupt(update);
    rc = update.Download(files.first());
  }
  if (barOpen) io.err << Qt::endl;
  if (rc != 0) return failure(io, rc);
  io.out << "Download ready" << Qt::endl;
  return kExitOk;
}

const CommandRegistrar registrar({"update", "update PROGRAM.bin --port P [--baud B]",
                                  "load new software into the reader (service level): start it, then switch "
                                  "the reader on; Ctrl+C aborts",
                                  run});

}  // namespace
}  // namespace quelm::cli
