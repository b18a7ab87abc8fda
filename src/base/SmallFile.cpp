#include "base/SmallFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>

namespace quelm {

SmallFileResult ReadSmallFile(const QString& path, qsizetype maxBytes, QByteArray* bytes) {
  const QByteArray name = QFile::encodeName(path);
  if (name.isEmpty()) return SmallFileResult::Missing;
  const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0)
    return errno == ENOENT || errno == ENOTDIR ? SmallFileResult::Missing : SmallFileResult::Unreadable;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxBytes) {
    ::close(fd);
    return SmallFileResult::Unreadable;
  }
  // Read to the end, never past the limit, even if the file grows meanwhile.
  bytes->resize(static_cast<qsizetype>(st.st_size) + 1);
  qsizetype got = 0;
  for (;;) {
    if (got == bytes->size()) {
      if (got > maxBytes) break;
      bytes->resize(std::min<qsizetype>(got * 2, maxBytes + 1));
    }
    const ssize_t n = ::read(fd, bytes->data() + got, static_cast<size_t>(bytes->size() - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return SmallFileResult::Unreadable;
    }
    if (n == 0) break;
    got += n;
  }
  ::close(fd);
  if (got > maxBytes) return SmallFileResult::Unreadable;
  bytes->resize(got);
  return SmallFileResult::Read;
}

}  // namespace quelm
