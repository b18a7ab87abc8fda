// quelm-cli service log|clock --port P: the reader's error log and clock,
// read as the service window reads them.
#include "Cli.h"
#include "service/ServiceCommands.h"

namespace quelm::cli {
namespace {

int run(Args& args, CliIO& io) {
  const QString command = QStringLiteral("service");
  const OpenedReader reader = openReader(args, io, command, ReaderAccess::ServiceLevel);
  if (!reader.session) return reader.exitCode;
  const QString what = reader.words.size() == 1 ? reader.words.first() : QString();
  if (what == QStringLiteral("log")) {
    uint8_t log[kErrorLogBytes] = {};
    if (const int rc = ReadErrorLog(log)) return failure(io, rc);
    for (const QString& line : FormatErrorLog(log)) io.out << line << "\n";
    return kExitOk;
  }
  if (what == QStringLiteral("clock")) {
    uint8_t clock[kClockBytes] = {};
    if (const int rc = ReadClock(clock)) return failure(io, rc);
    io.out << FormatClock(clock) << "\n";
    return kExitOk;
  }
  return usageError(io, command, QStringLiteral("say log or clock"));
}

const CommandRegistrar registrar({"service", "service log|clock --port P [--baud B]",
                                  "print the reader's error log or its clock (service level)", run});

}  // namespace
}  // namespace quelm::cli
