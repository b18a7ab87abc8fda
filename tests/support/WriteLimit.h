#pragma once
// Makes every write beyond a few bytes fail for the lifetime of the object,
// even for root: the way to test "the file cannot be written" that does not
// depend on permissions.

#include <sys/resource.h>

#include <csignal>

namespace quelm::test {

class WriteLimit {
 public:
  explicit WriteLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    savedSignal_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~WriteLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, savedSignal_);
  }
  WriteLimit(const WriteLimit&) = delete;
  WriteLimit& operator=(const WriteLimit&) = delete;

 private:
  rlimit saved_{};
  void (*savedSignal_)(int) = SIG_DFL;
};

}  // namespace quelm::test
