// quelm-cli reader-params read|write: the reader parameter table between
// the reader and a .rpt file, with the window's rules.

#include "Cli.h"
#include "base/Config.h"
#include "base/ErrorCodes.h"
#include "parameters/ReaderParamTable.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("reader-params");

int32_t configuredMaxPostHeating(const CliIO& io) {
  AppConfig config;
  ReadConfig(io.configPath, config);
  return config.MaxPostHeating;
}

// What the window's Save writes after a Read: the edits taken with their
// limits. Values the limits changed are named, so that nothing changes
// unseen.
int read(const QString& path, CliIO& io) {
  ReaderParamTable table;
  table.MaxPostHeating = configuredMaxPostHeating(io);
  if (const int rc = table.ReadCOMData())
    return failure(io, rc, QStringLiteral("reading the reader's table"));
  const DeviceParamRecord asRead = table.Block.Record;
  if (const CollectFailure f = table.DataCollect()) return fail(io, f.message);
  noteLimited(io, deviceParamFields(),
              std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&asRead), sizeof asRead),
              table.Block.bytes());
  if (table.Save(path) != 0) return kExitFailure;  // the file's message has been shown
  io.out << "Reader Parameter Table saved to " << path << Qt::endl;
  return kExitOk;
}

int write(const QString& path, CliIO& io) {
  if (!serviceLevel(io))
    return fail(io, QStringLiteral("writing the reader parameter table needs the service level "
                                   "(configuration file %1)")
                        .arg(io.configPath));
  ReaderParamTable table;
  table.MaxPostHeating = configuredMaxPostHeating(io);
  if (const int rc = checkParameterFile(io, path, kReaderParamSection, table.CheckFile(path))) return rc;
  table.Load(path);
  if (const CollectFailure f = table.DataCollect(LimitPolicy::Refuse))
    return fail(io, f.message + QStringLiteral("; nothing was sent"));
  if (const int rc = table.Block.WriteCOMBlock())
    return failure(io, rc, QStringLiteral("writing the reader's table"));
  io.out << "Reader Parameter Table written from " << path << Qt::endl;
  return kExitOk;
}

int run(Args& args, CliIO& io) {
  const bool yes = args.flag(QStringLiteral("--yes"));
  int exitCode = kExitOk;
  const std::unique_ptr<ReaderSession> session = openReader(args, io, kCommand, &exitCode);
  if (!session) return exitCode;
  const QStringList words = args.positional();
  if (!args.ok()) return usageError(io, kCommand, args.error());
  if (words.size() != 2 || (words[0] != QStringLiteral("read") && words[0] != QStringLiteral("write")))
    return usageError(io, kCommand, QStringLiteral("read OUT.rpt or write IN.rpt is needed"));
  if (words[0] == QStringLiteral("read"))
    return checkOutputFile(io, words[1]) ? kExitFailure : read(words[1], io);
  if (!yes)
    return fail(io, QStringLiteral("writing overwrites the reader's parameter table; give --yes to do so"),
                kExitUsage);
  return write(words[1], io);
}

const CommandRegistrar registrar(
    {"reader-params", "reader-params (read OUT.rpt | write IN.rpt --yes) --port COMn|DEVICE [--baud RATE]",
     "the reader parameter table from the reader into a file, or from a file to the reader (service level)",
     run});

}  // namespace
}  // namespace quelm::cli
