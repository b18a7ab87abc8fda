// quelm-cli show: the header and the evaluation panel of blocks, with the
// window's captions and texts.
#include "ContentSession.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("show");

int run(Args& args, CliIO& io) {
  ContentSession session;
  int exitCode = kExitUsage;
  if (!session.TakeReader(args, io, kCommand, true, &exitCode)) return exitCode;
  QStringList words = args.positional();
  if (!args.ok()) return usageError(io, kCommand, args.error());
  std::vector<uint32_t> numbers;
  if (!session.TakeBlocks(args, words, io, kCommand, false,
                          QStringLiteral("at least one block number is needed"), &numbers, &exitCode))
    return exitCode;
  // A block that cannot be read is reported and the others are still shown.
  int result = kExitOk;
  bool first = true;
  for (const uint32_t number : numbers) {
    if (session.Show(io, number) != kExitOk) {
      result = kExitFailure;
      continue;
    }
    if (!first) io.out << '\n';
    first = false;
    const DetailModel& detail = session.Detail();
    for (const QString& line : detail.HeaderLines() + detail.EvaluationLines()) io.out << line << '\n';
    io.out.flush();
  }
  return session.Finish(io, result);
}

const CommandRegistrar registrar({"show", "show (FILE.dat | --port COMn|DEVICE [--baud RATE]) BLOCK...",
                                  "the header and the evaluation panel of each block as \"Caption: value\" "
                                  "lines, a blank line between blocks",
                                  run});

}  // namespace
}  // namespace quelm::cli
