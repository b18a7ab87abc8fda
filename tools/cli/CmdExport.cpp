// quelm-cli export FILE.dat BLOCK [OUT.txt]: one block as the window's text
// export writes it.
#include "Cli.h"
#include "evaluation/BlockExport.h"
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

  TNurvoDataBlock block(nullptr);
  block.FileName = words.at(0);
  if (const int rc = block.ReadFileBlock(static_cast<uint32_t>(*number))) return failure(io, rc, words.at(0));
  const QString out = words.size() == 3 ? words.at(2) : ProposedExportName(static_cast<uint16_t>(*number));
  if (const int rc = ExportBlockText(block.Record, out, words.at(0))) return failure(io, rc, command);
  io.out << "Block " << *number << " written to " << out << Qt::endl;
  return kExitOk;
}

const CommandRegistrar registrar({"export", "export FILE.dat BLOCK [OUT.txt]",
                                  "one block as a text file (default name QuelmBLOCK.txt)", run});

}  // namespace
}  // namespace quelm::cli
