#include "parameters/ParamBlock.h"

#include <algorithm>

#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "link/ReaderCommand.h"

namespace quelm {

void traceClearedRecord(const QString& trace, std::span<uint8_t> record) {
  TraceLine line(trace);
  std::fill(record.begin(), record.end(), uint8_t{0});
  line.ok();
}

int readTracedSection(const QString& trace, const QString& name, const QString& section,
                      std::span<const ParamField> fields, std::span<uint8_t> record) {
  TraceLine line(trace + QStringLiteral("filename=") + name + QStringLiteral(": "));
  if (const int rc = readProfileSection(name, section, fields, record)) {
    line.fail(QStringLiteral("ERR_FOPEN"));
    return rc;
  }
  line.ok();
  return 0;
}

int readRecordFromReader(TraceLine& trace, std::span<uint8_t> request, bool traceRefusal,
                         std::span<uint8_t> record) {
  ReplyRule rule;
  rule.minData = rule.maxData = static_cast<int>(record.size());
  ReaderCommand cmd(&trace);
  const int rc = cmd.run(request.data(), static_cast<uint16_t>(request.size()), rule);
  if (rc == kErrReaderRefused && traceRefusal) trace.fail(QStringLiteral("ERR_SENDCOMCMD"));
  if (rc != 0) return rc;
  cmd.reply().copy(0, record.data(), record.size());
  trace.ok();
  return 0;
}

}  // namespace quelm
