// quelm-cli export FILE.dat BLOCK [OUT.txt]: one block as the window's text
// export writes it.
#include "ContentSession.h"
#include "evaluation/BlockExport.h"
#include "evaluation/ContentSource.h"
#include "measurement/NurvoDataBlock.h"

namespace quelm::cli {
namespace {

int run(Args& args, CliIO& io) {
  const QString command = QStringLiteral("export");
  const QStringList words = args.positional();
  if (args.ok() && (words.size() < 2 || words.size() > 3))
    args.fail(QStringLiteral("a data file and a block number are needed"));
  const auto number = args.ok() ? args.integer(words.at(1), QStringLiteral("BLOCK"), 0, 2047) : std::nullopt;
  if (!args.ok()) return usageError(io, command, args.error());

  // Read as the content list reads it: a block of a file that ends in a
  // cut-off record is written all the same, and the command fails after it.
  DataFileSource source(words.at(0));
  TNurvoDataBlock block(nullptr);
  int rc = source.Skim(block);
  if (rc == 0) rc = source.ReadBlock(block, static_cast<uint32_t>(*number));
  if (rc != 0) return failure(io, rc, words.at(0));
  const QString out = words.size() == 3 ? words.at(2) : ProposedExportName(static_cast<uint16_t>(*number));
  if (const int written = ExportBlockText(block.Record, out, words.at(0)))
    return EndAfterCut(io, words.at(0), source.LeftOut(), failure(io, written, command));
  io.out << "Block " << *number << " written to " << out << Qt::endl;
  return EndAfterCut(io, words.at(0), source.LeftOut(), kExitOk);
}

const CommandRegistrar registrar({"export", "export FILE.dat BLOCK [OUT.txt]",
                                  "one block as a text file (default name QuelmBLOCK.txt)", run});

}  // namespace
}  // namespace quelm::cli
