#include "LinkTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <cstdlib>

#include "base/IniFile.h"

namespace quelm::test {

TestPty::TestPty() {
  const int m = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (m < 0) return;
  char name[128];
  if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0) {
    ::close(m);
    return;
  }
  ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
  keeper_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios t{};
  if (keeper_ >= 0 && ::tcgetattr(keeper_, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(keeper_, TCSANOW, &t);
  }
  master_ = m;
  slave_ = QString::fromLocal8Bit(name);
}

TestPty::~TestPty() { hangUp(); }

void TestPty::hangUp() {
  if (keeper_ >= 0) ::close(keeper_);
  if (master_ >= 0) ::close(master_);
  keeper_ = master_ = -1;
}

void TestPty::write(const std::vector<uint8_t>& bytes) const {
  size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t w = ::write(master_, bytes.data() + at, bytes.size() - at);
    if (w > 0) {
      at += static_cast<size_t>(w);
    } else {
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
}

std::vector<uint8_t> TestPty::read(size_t atLeast, int ms) const {
  std::vector<uint8_t> out;
  QElapsedTimer t;
  t.start();
  for (;;) {
    uint8_t buf[4096];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0) {
      out.insert(out.end(), buf, buf + n);
      continue;
    }
    const qint64 left = ms - t.elapsed();
    if (out.size() >= atLeast || left <= 0) break;
    pollfd p{master_, POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
  return out;
}

TestIni::TestIni() : path_(dir_.filePath(QStringLiteral("quelm.INI"))) {}

void TestIni::map(int port, const QString& device) {
  IniFile ini(path_);
  ini.WriteString(QStringLiteral("Serial port settings"), QStringLiteral("COM%1").arg(port), device);
  ini.UpdateFile();
}

}  // namespace quelm::test
