#include "base/Diag.h"

#include "base/Prompter.h"

uint32_t DiagFlags = 0;

namespace quelm {
namespace {
LogSink& sink() {
  static LogSink s;
  return s;
}
}  // namespace

void setLogSink(LogSink s) { sink() = std::move(s); }

TraceLine::TraceLine(const QString& prefixAndDetail) : line_(prefixAndDetail) { LogTrace(line_); }

void TraceLine::fail(const QString& token, uint32_t boxMask) {
  line_ += token;
  if (DiagFlags & boxMask) showMessage(MessageKind::Plain, QString(), line_);
  LogTrace(line_);
}

void TraceLine::ok(const QString& detail) {
  if (DiagFlags & kDiagLog) LogTrace(line_ + detail + QStringLiteral("ok"));
}

}  // namespace quelm

void LogTrace(const QString& line) {
  if (!(DiagFlags & quelm::kDiagLog)) return;
  if (auto& s = quelm::sink()) s(line);
}
