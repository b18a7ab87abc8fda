// quelm-cli csv FILE.dat: every block record of a data file as one
// comma-separated row, in the order of the file (oldest first).
#include "Cli.h"
#include "ContentSession.h"
#include "base/ErrorCodes.h"
#include "evaluation/BlockCsv.h"
#include "measurement/BlockRecord.h"
#include "measurement/DataFileReader.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("csv");

int run(Args& args, CliIO& io) {
  const QStringList files = args.positional();
  if (!args.ok()) return usageError(io, kCommand, args.error());
  if (files.size() != 1) return usageError(io, kCommand, QStringLiteral("one data file is needed"));
  const QString& name = files.first();

  DataFileReader file;
  if (const int rc = file.open(name)) return failure(io, rc, name);
  const uint64_t size = file.size();
  // Spreadsheets expect CRLF line ends.
  io.out << BlockCsvHeader() << "\r\n";
  BlockRecord r;
  uint64_t k = 0;
  for (; (k + 1) * sizeof r <= size; ++k) {
    if (!file.readAt(k * sizeof r, &r, sizeof r)) break;
    io.out << BlockCsvRow(r) << "\r\n";
  }
  const int readError = file.readError();
  file.close();
  io.out.flush();
  if ((k + 1) * sizeof r <= size)  // a whole record that could not be read
    return failure(io, readError ? readError : kErrFileRead, QStringLiteral("%1: record %2").arg(name).arg(k));
  // A record cut short (a download that was interrupted) is no block: said
  // as every command says it, after the whole records, rather than ending
  // as if the file had been exported whole.
  const QString cut = k * sizeof r < size ? CutOffRecordNote(name, size - k * sizeof r, k) : QString();
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
