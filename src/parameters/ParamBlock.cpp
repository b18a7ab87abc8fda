#include "parameters/ParamBlock.h"

#include <algorithm>

#include "base/Diag.h"

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

}  // namespace quelm
