// quelm-cli info FILE.dat: what a data file holds at a glance.
#include <cstring>

#include "ContentSession.h"
#include "evaluation/BlockFormat.h"
#include "evaluation/ContentSource.h"
#include "measurement/BlockRecord.h"
#include "measurement/DataFileReader.h"
#include "measurement/NurvoDataBlock.h"

namespace quelm::cli {
namespace {

QString stampText(const uint8_t s[5]) {
  return QStringLiteral("%1.%2.%3 %4:%5")
      .arg(1900 + s[0], 4, 10, QLatin1Char('0'))
      .arg(s[1], 2, 10, QLatin1Char('0'))
      .arg(s[2], 2, 10, QLatin1Char('0'))
      .arg(s[3], 2, 10, QLatin1Char('0'))
      .arg(s[4], 2, 10, QLatin1Char('0'));
}

int run(Args& args, CliIO& io) {
  const QStringList files = args.positional();
  if (!args.ok()) return usageError(io, QStringLiteral("info"), args.error());
  if (files.size() != 1)
    return usageError(io, QStringLiteral("info"), QStringLiteral("one data file is needed"));

  // Counted as the content list counts: a cut-off last record is no block,
  // and the command fails after the whole ones are told.
  DataFileSource source(files.first());
  TNurvoDataBlock block(nullptr);
  if (const int rc = source.Skim(block)) return failure(io, rc, files.first());
  io.out << "Blocks: " << block.ValidBlocks << "\n";
  if (block.ValidBlocks == 0) return EndAfterCut(io, files.first(), source.LeftOut(), kExitOk);
  io.out << "NewestBlock: " << block.LastBlock << "\n";

  // Earliest and latest read-out among the whole records whose date is
  // valid.
  DataFileReader file;
  if (const int rc = file.open(files.first())) return failure(io, rc < 0 ? rc : -107, files.first());
  bool any = false;
  uint8_t first[5] = {}, last[5] = {};
  BlockRecord r;
  for (uint64_t k = 0; file.readAt(k * sizeof r, &r, sizeof r); ++k) {
    if (r.ErrorCodes & kClockFault) continue;
    if (!any || TNurvoDataBlock::CompareDateTime(r.DateTime, first) < 0) std::memcpy(first, r.DateTime, 5);
    if (!any || TNurvoDataBlock::CompareDateTime(r.DateTime, last) > 0) std::memcpy(last, r.DateTime, 5);
    any = true;
  }
  file.close();
  if (any) io.out << "FirstDate: " << stampText(first) << "\nLastDate: " << stampText(last) << "\n";
  io.out.flush();
  return EndAfterCut(io, files.first(), source.LeftOut(), kExitOk);
}

const CommandRegistrar registrar({"info", "info FILE.dat",
                                  "blocks in a data file, the newest block number, the first and last date",
                                  run});

}  // namespace
}  // namespace quelm::cli
