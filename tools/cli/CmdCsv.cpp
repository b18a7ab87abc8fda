// quelm-cli csv FILE.dat: every block record of a data file as one
// comma-separated row, in the order of the file (oldest first).
#include <utility>

#include "Cli.h"
#include "ContentSession.h"
#include "base/ErrorCodes.h"
#include "evaluation/BlockCsv.h"
#include "measurement/BlockRecord.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("csv");

int run(Args& args, CliIO& io) {
  const QStringList files = args.positional();
  if (!args.ok()) return usageError(io, kCommand, args.error());
  if (files.size() != 1) return usageError(io, kCommand, QStringLiteral("one data file is needed"));
  const QString& name = files.first();

  // Spreadsheets expect CRLF line ends. The header goes out only for a
  // file that opens.
  bool headed = false;
  QString cut;
  const int rc = ReadWholeRecords(
      io, name,
      [&](const BlockRecord& r) {
        if (!std::exchange(headed, true)) io.out << BlockCsvHeader() << "\r\n";
        io.out << BlockCsvRow(r) << "\r\n";
      },
      &cut);
  if (!headed && rc == kExitOk) io.out << BlockCsvHeader() << "\r\n";
  io.out.flush();
  if (rc != kExitOk) return rc;
  // A cut-off record is said as every command says it, after the whole
  // records, rather than ending as if the file had been exported whole.
  return EndAfterCut(io, name, cut, kExitOk);
}

const CommandRegistrar registrar({"csv", "csv FILE.dat",
                                  "every block of a data file as a comma-separated row (RFC 4180) for "
                                  "spreadsheets: number, ISO date and time, dosimeter, device, reader "
                                  "temperature, error codes, measured dose uSv, exposure h, dose rate uSv/h, "
                                  "evaluation start and length, normalisation factor",
                                  run});

}  // namespace
}  // namespace quelm::cli
