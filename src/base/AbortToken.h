#pragma once
// A stop asked of one running job. The job owns its token: an Abort pressed
// in one window, or a Ctrl+C given to one command, stops that job and no
// other, and a request left over from a finished run is dropped when the
// next run starts.

#include <utility>

namespace quelm {

class AbortToken {
 public:
  void request() { requested_ = true; }
  bool requested() const { return requested_; }
  // Whether a stop was asked for, forgetting it: one request ends one run.
  bool take() { return std::exchange(requested_, false); }
  void clear() { requested_ = false; }

 private:
  bool requested_ = false;
};

}  // namespace quelm
