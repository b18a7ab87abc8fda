#pragma once
// Runs a piece of a test as a user without privileges, so that permission
// checks bite also where the suite runs as root (CI does): a child process
// drops to the user nobody when it is root and hands its result back.

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <functional>

namespace quelm::test {

// What fn returned in the child, or "child failed" when it could not run.
inline QByteArray runUnprivileged(const std::function<QByteArray()>& fn) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return "child failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    constexpr uid_t kNobody = 65534;
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
      ::_exit(1);
    const QByteArray result = fn();
    const bool written = ::write(pipeEnds[1], result.constData(), result.size()) == result.size();
    ::_exit(written ? 0 : 1);  // no atexit work of the test program in the child
  }
  ::close(pipeEnds[1]);
  QByteArray result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  ::close(pipeEnds[0]);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return "child failed";
  return result;
}

// A device node in dir that nobody without privileges may open (dir itself
// may be passed through); empty when it could not be made.
inline QString forbiddenDevice(const QTemporaryDir& dir) {
  const QString node = dir.filePath(QStringLiteral("ttyUSB9"));
  QFile file(node);
  const bool made = QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                          QFile::ExeGroup | QFile::ExeOther) &&
                    file.open(QIODevice::WriteOnly);
  file.close();
  return made && QFile::setPermissions(node, QFile::Permissions()) ? node : QString();
}

}  // namespace quelm::test
