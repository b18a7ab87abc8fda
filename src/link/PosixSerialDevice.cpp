// termios2 (not <termios.h>) so that every rate of the reader's list,
// including 14400, 56000, 128000 and 256000, can be set exactly (BOTHER).
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "link/SerialDevice.h"

namespace quelm {
namespace {

class PosixSerialDevice final : public SerialDevice {
 public:
  ~PosixSerialDevice() override {
    if (fd_ >= 0) close();
  }

  int open(const QByteArray& path) override {
    if (fd_ >= 0) return EBUSY;
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    // TIOCEXCL keeps other (non-root) openers out; root ignores it, so an
    // advisory lock that every cooperating program honours comes first.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      ::close(fd);
      return e == EWOULDBLOCK ? EBUSY : e;
    }
    ::ioctl(fd, TIOCEXCL);  // a non-tty fails later, with a clearer step
    fd_ = fd;
    return 0;
  }

  int close() override {
    if (fd_ < 0) return 0;
    // The exclusive flag outlives this descriptor while anyone else keeps the
    // tty open (the simulated reader does); clear it so we can reopen.
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    const int rc = ::close(fd_);
    // Linux releases the descriptor even when close reports an error, so it
    // must never be used again.
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }

  bool isOpen() const override { return fd_ >= 0; }
  int descriptor() const override { return fd_; }

  int setLine(const LineSettings& s) override {
    if (s.baud == 0 || s.dataBits < 5 || s.dataBits > 8 || s.parity < 0 || s.parity > 4) return EINVAL;
    // One and a half stop bits exist on a UART only with 5-bit characters,
    // where CSTOPB gives them; anything else cannot be honoured.
    if (s.stopBits == 1 && s.dataBits != 5) return EINVAL;
    termios2 t{};
    if (::ioctl(fd_, TCGETS2, &t) != 0) return errno;
    t.c_iflag = s.xonXoff ? (IXON | IXOFF) : 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    tcflag_t c = CREAD | CLOCAL | BOTHER;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    c |= sizes[s.dataBits - 5];
    if (s.stopBits != 0) c |= CSTOPB;
    switch (s.parity) {
      case 1:
        c |= PARENB | PARODD;
        break;
      case 2:
        c |= PARENB;
        break;
      case 3:
        c |= PARENB | PARODD | CMSPAR;
        break;
      case 4:
        c |= PARENB | CMSPAR;
        break;
      default:
        break;
    }
    if (s.rtsCts) c |= CRTSCTS;
    t.c_cflag = c;
    t.c_ispeed = s.baud;
    t.c_ospeed = s.baud;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    if (::ioctl(fd_, TCSETS2, &t) != 0) return errno;
    return 0;
  }

  int setImmediateReads() override {
    termios2 t{};
    if (::ioctl(fd_, TCGETS2, &t) != 0) return errno;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return ::ioctl(fd_, TCSETS2, &t) == 0 ? 0 : errno;
  }

  int flush(bool in, bool out) override {
    if (!in && !out) return 0;
    const int which = in && out ? TCIOFLUSH : (in ? TCIFLUSH : TCOFLUSH);
    return ::ioctl(fd_, TCFLSH, which) == 0 ? 0 : errno;
  }

  int setModemLine(ModemLine line, bool on) override {
    const int bit = line == kLineDTR ? TIOCM_DTR : TIOCM_RTS;
    if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return 0;
    return errno == ENOTTY ? 0 : errno;
  }

  int modemStatus(bool* anyLineOn, bool* present) override {
    int bits = 0;
    if (::ioctl(fd_, TIOCMGET, &bits) != 0) {
      if (errno != ENOTTY) return errno;
      *present = false;
      *anyLineOn = false;
      return 0;
    }
    *present = true;
    *anyLineOn = (bits & (TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR)) != 0;
    return 0;
  }

  int outQueued(uint32_t* bytes) override {
    int n = 0;
    if (::ioctl(fd_, TIOCOUTQ, &n) != 0) return errno;
    *bytes = n > 0 ? static_cast<uint32_t>(n) : 0;
    return 0;
  }

  int inWaiting(uint32_t* bytes) override {
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) != 0) return errno;
    *bytes = n > 0 ? static_cast<uint32_t>(n) : 0;
    return 0;
  }

  int read(uint8_t* buffer, uint32_t n, uint32_t* got) override {
    *got = 0;
    const ssize_t r = ::read(fd_, buffer, n);
    if (r < 0) return errno == EAGAIN || errno == EINTR ? 0 : errno;
    *got = static_cast<uint32_t>(r);
    return 0;
  }

  int write(const uint8_t* data, uint32_t n, uint32_t* put) override {
    *put = 0;
    const ssize_t r = ::write(fd_, data, n);
    if (r < 0) return errno == EAGAIN || errno == EINTR ? 0 : errno;
    *put = static_cast<uint32_t>(r);
    return 0;
  }

  void waitReadable(int ms) override { waitFor(POLLIN, ms); }
  void waitWritable(int ms) override { waitFor(POLLOUT, ms); }
  void pause(int ms) override {
    if (ms > 0) ::poll(nullptr, 0, ms);
  }

 private:
  void waitFor(short events, int ms) {
    if (ms <= 0) return;
    pollfd p{fd_, events, 0};
    const int r = ::poll(&p, 1, ms);
    // A hung-up line reports POLLHUP at once for ever; sleep out the time
    // instead of returning straight into the caller's loop.
    if (r > 0 && !(p.revents & events)) pause(ms);
  }

  int fd_ = -1;
};

}  // namespace

std::unique_ptr<SerialDevice> makePosixSerialDevice() { return std::make_unique<PosixSerialDevice>(); }

}  // namespace quelm
