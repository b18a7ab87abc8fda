// quelm-cli reader-params read|write: the reader parameter table between
// the reader and a .rpt file, with the window's rules.
#include <QFileInfo>

#include "Cli.h"
#include "base/Config.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
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
  if (const CollectFailure f = table.DataCollect()) {
    io.err << "quelm-cli: " << f.message << Qt::endl;
    return kExitFailure;
  }
  const auto before = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&asRead), sizeof asRead);
  for (const ParamField& f : deviceParamFields()) {
    const QString was = paramEditText(f, before), now = paramEditText(f, table.Block.bytes());
    if (was != now)
      io.err << "quelm-cli: note: " << f.key << " " << was << " is outside the window's limits; saved as "
             << now << Qt::endl;
  }
  if (table.Save(path) != 0) return kExitFailure;  // the file's message has been shown
  io.out << "Reader Parameter Table saved to " << path << Qt::endl;
  return kExitOk;
}

int write(const QString& path, CliIO& io) {
  if (!serviceLevel(io)) {
    io.err << "quelm-cli: writing the reader parameter table needs the service level "
              "(configuration file "
           << io.configPath << ")" << Qt::endl;
    return kExitFailure;
  }
  // A misspelt name would otherwise send the file defaults to the reader.
  if (!QFileInfo(path).isFile()) return failure(io, kErrFileOpen, path);
  if (!IniFile(path).SectionExists(kReaderParamSection)) {
    io.err << "quelm-cli: " << path << " holds no [" << kReaderParamSection << "] section" << Qt::endl;
    return kExitFailure;
  }
  ReaderParamTable table;
  table.MaxPostHeating = configuredMaxPostHeating(io);
  table.Load(path);
  if (const CollectFailure f = table.DataCollect(LimitPolicy::Refuse)) {
    io.err << "quelm-cli: " << f.message << "; nothing was sent" << Qt::endl;
    return kExitFailure;
  }
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
  if (words[0] == QStringLiteral("read")) return read(words[1], io);
  if (!yes) {
    io.err << "quelm-cli: writing overwrites the reader's parameter table; give --yes to do so" << Qt::endl;
    return kExitUsage;
  }
  return write(words[1], io);
}

const CommandRegistrar registrar(
    {"reader-params", "reader-params (read OUT.rpt | write IN.rpt --yes) --port COMn|DEVICE [--baud RATE]",
     "the reader parameter table from the reader into a file, or from a file to the reader (service level)",
     run});

}  // namespace
}  // namespace quelm::cli
