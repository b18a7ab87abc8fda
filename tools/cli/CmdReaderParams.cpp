// quelm-cli reader-params read|write: the reader parameter table between
// the reader and a .rpt file, through the window's own job.

#include "Cli.h"
#include "base/Config.h"
#include "base/ServiceLevel.h"
#include "parameters/ReaderParamJob.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("reader-params");

// The job with the configuration's POSTH bound and `path` for every file
// question.
void setUp(ReaderParamJob& job, const QString& path, const CliIO& io) {
  AppConfig config;
  ReadConfig(io.configPath, config);
  job.maxPostHeating = [bound = config.MaxPostHeating] { return bound; };
  job.chooseFile = [path](FileMode) { return std::optional<QString>(path); };
}

// What the window's Save writes after a Read: the edits taken with their
// limits. Values the limits changed are named, so that nothing changes
// unseen.
int read(const QString& path, CliIO& io) {
  ReaderParamJob job;
  setUp(job, path, io);
  if (const ParamOutcome o = job.ReadCOMData(); o.kind != ParamOutcome::kDone)
    return printParamOutcome(io, o, QStringLiteral("reading the reader's table"));
  const DeviceParamRecord asRead = job.Block.Record;
  if (const ParamOutcome o = job.Save(); o.kind != ParamOutcome::kDone) return printParamOutcome(io, o, path);
  noteLimited(io, deviceParamFields(),
              std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&asRead), sizeof asRead),
              job.Block.bytes());
  io.out << "Reader Parameter Table saved to " << path << Qt::endl;
  return kExitOk;
}

// The file as written, refused rather than limited, with the window's
// question answered by --yes; the reader's reserved byte is kept.
int write(const QString& path, CliIO& io) {
  if (!serviceLevel())
    return refuseBelowServiceLevel(io, QStringLiteral("writing the reader parameter table"));
  ReaderParamJob job;
  setUp(job, path, io);
  if (const int rc = checkParameterFile(io, path, kReaderParamSection, job.CheckFile(path))) return rc;
  job.confirmWrite = [] { return true; };
  job.Policy = LimitPolicy::Refuse;
  job.ReservedFromReader = true;
  ParamOutcome o = job.Load();
  if (o.kind == ParamOutcome::kDone) o = job.WriteCOMData();
  if (o.kind != ParamOutcome::kDone)
    return printParamOutcome(io, o, QStringLiteral("writing the reader's table"),
                             QStringLiteral("; nothing was sent"));
  io.out << "Reader Parameter Table written from " << path << Qt::endl;
  return kExitOk;
}

int run(Args& args, CliIO& io) {
  const bool yes = args.flag(QStringLiteral("--yes"));
  const OpenedReader reader = openReader(args, io, kCommand);
  if (!reader.session) return reader.exitCode;
  const QStringList& words = reader.words;
  if (!isReadOrWrite(words))
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
