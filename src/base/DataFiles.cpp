#include "base/DataFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/ErrorCodes.h"

namespace quelm {
namespace {

FileFailure& noted() {
  static FileFailure failure;
  return failure;
}

// An existing file's canonical path; for one that does not exist yet, its
// name in the canonical form of its folder.
QString canonicalName(const QString& name) {
  QFileInfo info(name);
  // A link whose target does not exist yet names that target: a write
  // through it creates the target.
  for (int hops = 0; hops < 40 && info.isSymLink() && !info.exists(); ++hops)
    info = QFileInfo(info.symLinkTarget());
  const QString canonical = info.canonicalFilePath();
  if (!canonical.isEmpty()) return canonical;
  const QString dir = QFileInfo(info.absolutePath()).canonicalFilePath();
  return QDir::cleanPath((dir.isEmpty() ? info.absolutePath() : dir) + QLatin1Char('/') + info.fileName());
}

// Opens without waiting (a pipe without a peer, a terminal's carrier) and
// keeps the descriptor only when it is a plain file.
int openPlain(const QString& name, int flags, int* code) {
  const QByteArray path = QFile::encodeName(name);
  if (path.isEmpty()) {
    *code = noteFileFailure(kErrFileOpen, name, ENOENT);
    return -1;
  }
  const int fd = ::open(path.constData(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) {
    *code = noteFileFailure(kErrFileOpen, name, errno);
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    *code = noteFileFailure(kErrFileOpen, name, error);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    *code = noteFileFailure(kErrFileOpen, name, notRegularReason());
    return -1;
  }
  // A plain file never waits; reads and writes go on as usual.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

FileKind fileKind(const QString& name) {
  struct stat st;
  const QByteArray path = QFile::encodeName(name);
  if (path.isEmpty() || ::stat(path.constData(), &st) != 0) return FileKind::Missing;
  return S_ISREG(st.st_mode) ? FileKind::Regular : FileKind::Other;
}

std::optional<FileIdentity> fileIdentity(const QString& name) {
  struct stat st;
  const QByteArray path = QFile::encodeName(name);
  if (path.isEmpty() || ::stat(path.constData(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

bool SameFile(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty()) return false;
  const auto ia = fileIdentity(a), ib = fileIdentity(b);
  if (ia && ib) return *ia == *ib;
  return canonicalName(a) == canonicalName(b);
}

int refuseSameFile(const QString& output, const QStringList& kept) {
  for (const QString& k : kept)
    if (SameFile(output, k)) return noteFileFailure(kErrFileOpen, output, QStringLiteral("the same file as %1").arg(k));
  return kOk;
}

int openDataFileForReading(const QString& name) {
  int code = 0;
  return openPlain(name, O_RDONLY, &code);
}

int writeDataFile(const QString& name, const QByteArray& bytes, WriteMode mode) {
  int code = 0;
  const bool append = mode == WriteMode::Append;
  // Not O_TRUNC: whatever is under the name is cut only once it is known to
  // be a plain file.
  const int fd = openPlain(name, O_WRONLY | O_CREAT | (append ? O_APPEND : 0), &code);
  if (fd < 0) return code;
  struct stat st;
  const off_t before = append && ::fstat(fd, &st) == 0 ? st.st_size : 0;
  if (!append && ::ftruncate(fd, 0) != 0) {
    const int error = errno;
    ::close(fd);
    return noteFileFailure(kErrFileOpen, name, error);
  }
  qsizetype at = 0;
  int error = 0;
  while (at < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.constData() + at, static_cast<size_t>(bytes.size() - at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    at += n;
  }
  if (error != 0) {
    // Cut back to what was there (nothing, when overwriting): a cut-off
    // record would shift every record appended after it.
    if (::ftruncate(fd, before) != 0) {
      // Nothing more can be done; the write failure is what gets reported.
    }
    ::close(fd);
    return noteFileFailure(kErrFileWrite, name, error);
  }
  if (::close(fd) != 0) return noteFileFailure(kErrFileClose, name, errno);
  return 0;
}

int noteFileFailure(int code, const QString& name, int error) {
  return noteFileFailure(code, name, QString::fromLocal8Bit(std::strerror(error)));
}

int noteFileFailure(int code, const QString& name, const QString& reason) {
  noted() = FileFailure{name, reason};
  return code;
}

FileFailure takeFileFailure() { return std::exchange(noted(), FileFailure{}); }

bool isFileCode(int code) {
  return code == kErrFileOpen || code == kErrFileRead || code == kErrFileWrite || code == kErrFileClose;
}

QString notRegularReason() { return QStringLiteral("not a regular file"); }

}  // namespace quelm
