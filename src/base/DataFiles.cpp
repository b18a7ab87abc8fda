#include "base/DataFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
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

std::function<int(const QString&)>& syncHook() {
  static std::function<int(const QString&)> hook;
  return hook;
}

// 0, or the errno value of the failed flush.
int flushDescriptor(int fd, const QString& name) {
  if (syncHook())
    if (const int error = syncHook()(name)) return error;
  while (::fsync(fd) != 0)
    if (errno != EINTR) return errno;
  return 0;
}

// Writes all bytes at the descriptor's position: 0, or the errno value of
// the write that failed (a write that takes nothing counts as a full disk).
int writeAll(int fd, const QByteArray& bytes) {
  for (qsizetype at = 0; at < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.constData() + at, static_cast<size_t>(bytes.size() - at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    at += n;
  }
  return 0;
}

// Rewrites an existing plain file in place, for a folder that refuses new
// files. The room for a longer content is claimed before the first old byte
// is overwritten, so that a full disk or a file-size limit fails while the
// old content is still whole.
int rewriteInPlace(const QString& name, const QByteArray& bytes) {
  int code = 0;
  const int fd = openPlain(name, O_WRONLY, &code);
  if (fd < 0) return code;
  struct stat st;
  const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : 0;
  const off_t size = static_cast<off_t>(bytes.size());
  if (size > before)
    if (const int error = ::posix_fallocate(fd, before, size - before)) {
      if (::ftruncate(fd, before) != 0) {
        // The claim failed before anything was written; the old content is whole.
      }
      ::close(fd);
      return noteFileFailure(kErrFileWrite, name, error);
    }
  int error = 0;
  for (off_t at = 0; error == 0 && at < size;) {
    const ssize_t n = ::pwrite(fd, bytes.constData() + at, static_cast<size_t>(size - at), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      error = n < 0 ? errno : ENOSPC;
    else
      at += n;
  }
  if (error != 0) {
    ::close(fd);
    return noteFileFailure(kErrFileWrite, name, error);
  }
  if (::ftruncate(fd, size) != 0) error = errno;
  if (error == 0) error = flushDescriptor(fd, name);
  if (::close(fd) != 0 && error == 0) error = errno;
  return error == 0 ? 0 : noteFileFailure(kErrFileClose, name, error);
}

// The whole content written beside the file, flushed and renamed over it.
int replaceWhole(const QString& name, const QByteArray& bytes) {
  if (fileKind(name) == FileKind::Other) return noteFileFailure(kErrFileOpen, name, notRegularReason());
  // Unbuffered, and written here: a buffered QSaveFile can commit a short
  // write (disk full) as if it were complete.
  QSaveFile file(name);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    if (fileKind(name) == FileKind::Regular) return rewriteInPlace(name, bytes);
    // A missing folder is told as such, not as the scratch file's failure.
    if (!QFileInfo(canonicalName(name)).dir().exists()) return noteFileFailure(kErrFileOpen, name, ENOENT);
    return noteFileFailure(kErrFileOpen, name, file.errorString());
  }
  int code = kErrFileWrite;
  int error = writeAll(file.handle(), bytes);
  if (error == 0) {
    code = kErrFileClose;
    error = flushDescriptor(file.handle(), name);
  }
  if (error != 0) {
    file.cancelWriting();
    return noteFileFailure(code, name, error);
  }
  if (!file.commit()) return noteFileFailure(kErrFileClose, name, file.errorString());
  return 0;
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
  if (mode == WriteMode::Replace) return replaceWhole(name, bytes);
  int code = 0;
  const int fd = openPlain(name, O_WRONLY | O_CREAT | O_APPEND, &code);
  if (fd < 0) return code;
  struct stat st;
  const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : 0;
  if (const int error = writeAll(fd, bytes)) {
    // Cut back to what was there: a cut-off record would shift every record
    // appended after it.
    if (::ftruncate(fd, before) != 0) {
      // Nothing more can be done; the write failure is what gets reported.
    }
    ::close(fd);
    return noteFileFailure(kErrFileWrite, name, error);
  }
  if (::close(fd) != 0) return noteFileFailure(kErrFileClose, name, errno);
  return 0;
}

int syncDataFile(const QString& name) {
  const QByteArray path = QFile::encodeName(name);
  const int fd = path.isEmpty() ? -1 : ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return noteFileFailure(kErrFileClose, name, path.isEmpty() ? ENOENT : errno);
  const int error = flushDescriptor(fd, name);
  ::close(fd);
  if (error != 0) return noteFileFailure(kErrFileClose, name, error);
  // The folder's entry for the name: without it a new file may be gone
  // after a power cut, content and all.
  const QString folder = QFileInfo(canonicalName(name)).absolutePath();
  const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return noteFileFailure(kErrFileClose, folder, errno);
  const int dirError = flushDescriptor(dirFd, folder);
  ::close(dirFd);
  // Some file systems cannot flush a folder (EINVAL); their entries are
  // as safe as they can be made.
  if (dirError != 0 && dirError != EINVAL) return noteFileFailure(kErrFileClose, folder, dirError);
  return 0;
}

void setFileSyncHook(std::function<int(const QString& name)> hook) { syncHook() = std::move(hook); }

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
