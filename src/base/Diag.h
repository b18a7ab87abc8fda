#pragma once
// The global flag word and the diagnostic trace.

#include <QString>
#include <cstdint>
#include <functional>

// Bits 0x04..0x80 switch diagnostic outputs, 0x200/0x400 hold the service
// level (read and set only through base/ServiceLevel.h).
extern uint32_t DiagFlags;

namespace quelm {
inline constexpr uint32_t kDiagBox = 0x04;        // error trace lines in a plain box
inline constexpr uint32_t kDiagLog = 0x08;        // every trace line to the log window
inline constexpr uint32_t kDiagMonitor = 0x10;    // frame monitor, link errors in a box
inline constexpr uint32_t kDiagIndexDump = 0x20;  // frame dumps with byte indices
inline constexpr uint32_t kDiagSteps = 0x40;      // SendCOMCmd shows every step
inline constexpr uint32_t kDiagNoPort = 0x80;     // link does not touch the port
inline constexpr uint32_t kServiceLevelBits = 0x200 | 0x400;

// The mask compiled into the program (0 in the delivered build).
inline constexpr uint32_t kBuildDiagMask = QUELM_DIAG_MASK;

// Where LogTrace lines go; the log window installs itself here. Until then
// (and after it is gone) trace lines are dropped.
using LogSink = std::function<void(const QString&)>;
void setLogSink(LogSink sink);

// One traced operation: the working line of the trace convention.
class TraceLine {
 public:
  // Builds the working line from prefix and entry detail and logs it (bit 0x08).
  explicit TraceLine(const QString& prefixAndDetail);

  QString& text() { return line_; }
  const QString& text() const { return line_; }
  TraceLine& operator<<(const QString& s) {
    line_ += s;
    return *this;
  }

  // Appends the error token, shows the line in a plain box when any bit of
  // boxMask is set in DiagFlags, logs it when bit 0x08 is set.
  void fail(const QString& token, uint32_t boxMask = kDiagBox);
  // Logs the line followed by detail and "ok" when bit 0x08 is set.
  void ok(const QString& detail = QString());

 private:
  QString line_;
};

}  // namespace quelm

// Appends one line to the log window when bit 0x08 of DiagFlags is set.
void LogTrace(const QString& line);
