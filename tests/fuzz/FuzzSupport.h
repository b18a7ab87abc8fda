#pragma once
// Shared by the fuzz targets: a file that lives in memory, reachable by path.

#include <sys/mman.h>
#include <unistd.h>

#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace quelm::fuzz {

// Aborts with a message: a broken invariant is a finding like a crash.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}
inline void require(bool ok, const char* what) {
  if (!ok) fail(what);
}

class MemoryFile {
 public:
  MemoryFile() : fd_(::memfd_create("quelm-fuzz", MFD_CLOEXEC)) { require(fd_ >= 0, "memfd_create"); }
  ~MemoryFile() { ::close(fd_); }
  QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(fd_); }
  void assign(const uint8_t* data, size_t size) const {
    require(::ftruncate(fd_, 0) == 0, "ftruncate");
    require(size == 0 || ::pwrite(fd_, data, size, 0) == static_cast<ssize_t>(size), "pwrite");
  }
  off_t size() const { return ::lseek(fd_, 0, SEEK_END); }

 private:
  int fd_;
};

}  // namespace quelm::fuzz
