#include "base/Process.h"

#include <csignal>

namespace quelm {

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace quelm
