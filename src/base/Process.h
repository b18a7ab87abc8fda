#pragma once
// What the whole process needs before it writes any file.

namespace quelm {

// Under a file-size limit (ulimit -f) a write beyond it raises SIGXFSZ,
// which ends the process by default: the operator would lose the session and
// the configuration would never be saved. Ignored, the write fails like a
// full disk and the caller reports it; what was written before stays.
void IgnoreFileSizeSignal();

}  // namespace quelm
