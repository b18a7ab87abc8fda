// quelm-cli dpt read|write and lut list: the dosimeter parameter tables
// between the reader and .dpt files through the window's own job, and the
// reader's look-up directory.
#include <algorithm>

#include "Cli.h"
#include "base/Config.h"
#include "base/ErrorCodes.h"
#include "base/ServiceLevel.h"
#include "parameters/DosimeterTableJob.h"
#include "parameters/LookupTable.h"

namespace quelm::cli {
namespace {

const QString kDpt = QStringLiteral("dpt");
const QString kLut = QStringLiteral("lut");

std::span<const uint8_t> bytesOf(const QByteArray& b) {
  return {reinterpret_cast<const uint8_t*>(b.constData()), static_cast<size_t>(b.size())};
}

QByteArray snapshot(std::span<const uint8_t> record) {
  return QByteArray(reinterpret_cast<const char*>(record.data()), static_cast<qsizetype>(record.size()));
}

// The window's Read of the source, then its Save into `path`; values the
// window's limits changed on the way are named.
int read(DosimeterTableJob& t, const QString& path, CliIO& io) {
  const ParamOutcome o = t.Read();
  if (printParamOutcome(io, o, QStringLiteral("reading the table")) != kExitOk) return kExitFailure;
  const bool own = t.Source == TableSource::Dosimeter;
  const QByteArray before = snapshot(own ? t.Own.bytes() : t.Table.bytes());
  if (const ParamOutcome saved = t.Save(); saved.kind != ParamOutcome::kDone)
    return printParamOutcome(io, saved, path);
  noteLimited(io, own ? ownBulbParamFields() : bulbParamFields(), bytesOf(before),
              own ? t.Own.bytes() : t.Table.bytes());
  io.out << "Saved to " << path << Qt::endl;
  return kExitOk;
}

// The window's Write of the source's table from the file's section, with
// its questions answered by --yes and --overwrite; the reserved bytes of the
// table it replaces are kept.
int write(DosimeterTableJob& t, const QString& path, bool overwrite, CliIO& io) {
  if (const int rc = checkParameterFile(io, path, t.SourceSection(), t.CheckFile(path))) return rc;
  // Checked a moment ago, but a file changed since must not send defaults.
  if (const int rc = t.LoadSourceSection(path)) return failure(io, rc, path);
  t.Policy = LimitPolicy::Refuse;
  t.ReservedFromReader = true;
  t.confirm = [overwrite](ParamText question) { return question != ParamText::EntryExists || overwrite; };
  const QString id = t.Identifier();
  // Ctrl+C or SIGTERM stops the write at a safe point: never between an
  // entry's delete and its new write, which would leave the reader without it.
  ParamOutcome o;
  bool interrupted = false;
  {
    const InterruptScope interrupt([&t, &interrupted] {
      interrupted = true;
      t.RequestAbort();
    });
    o = t.Write();
  }
  if (o.kind == ParamOutcome::kNothing)
    return fail(io,
                paramText(ParamText::EntryExists) + QStringLiteral(" --overwrite replaces entry %1.").arg(id),
                kExitUsage);
  if (printParamOutcome(io, o, QStringLiteral("writing the table"), QStringLiteral("; nothing was sent"))) {
    if (std::any_of(o.reports.begin(), o.reports.end(),
                    [](const ParamReport& r) { return r.code == kErrUserAbort; }))
      fail(io, QStringLiteral("stopped before anything was written: the reader holds what it held"));
    return kExitFailure;
  }
  // A stop after the last safe point (the old entry already deleted, or the
  // table on its way) did not stop the write: it is done, and said so.
  if (interrupted)
    fail(io, QStringLiteral("note: the stop came too late to be taken: %1 was written whole").arg(id));
  if (t.Source == TableSource::LookUp)
    io.out << "Look-up entry " << id << " written" << Qt::endl;
  else
    io.out << "Written from " << path << Qt::endl;
  return kExitOk;
}

int runDpt(Args& args, CliIO& io) {
  const bool yes = args.flag(QStringLiteral("--yes"));
  const bool overwrite = args.flag(QStringLiteral("--overwrite"));
  const bool own = args.flag(QStringLiteral("--own"));
  // read takes --default TYPE and --lut TYPE SERIAL, write takes them bare.
  const QStringList& all = args.remaining();
  const auto verb = std::find_if(all.begin(), all.end(), [](const QString& w) {
    return w == QStringLiteral("read") || w == QStringLiteral("write");
  });
  const bool isRead = verb != all.end() && *verb == QStringLiteral("read");
  std::optional<QStringList> lut;
  std::optional<QString> def;
  bool lutFlag = false, defFlag = false;
  if (isRead) {
    lut = args.values(QStringLiteral("--lut"), 2);
    def = args.value(QStringLiteral("--default"));
  } else {
    lutFlag = args.flag(QStringLiteral("--lut"));
    defFlag = args.flag(QStringLiteral("--default"));
  }
  const OpenedReader reader = openReader(args, io, kDpt);
  if (!reader.session) return reader.exitCode;
  const QStringList& words = reader.words;
  if (!isReadOrWrite(words))
    return usageError(io, kDpt, QStringLiteral("read ... OUT.dpt or write IN.dpt ... is needed"));
  const int kinds =
      int(own) + int(isRead ? lut.has_value() : lutFlag) + int(isRead ? def.has_value() : defFlag);
  if (kinds != 1) return usageError(io, kDpt, QStringLiteral("one of --default, --lut and --own is needed"));

  if (!isRead && !yes)
    return fail(io, QStringLiteral("writing overwrites a table in the reader; give --yes to do so"),
                kExitUsage);
  if (!isRead && !serviceLevel())
    return refuseBelowServiceLevel(io, QStringLiteral("writing dosimeter tables"));
  DosimeterTableJob t;
  t.ChooseSource(own                                    ? TableSource::Dosimeter
                 : (isRead ? lut.has_value() : lutFlag) ? TableSource::LookUp
                                                        : TableSource::Default);
  t.chooseFile = [path = words[1]](FileMode) { return std::optional<QString>(path); };
  if (!isRead) return write(t, words[1], overwrite, io);
  // The entry dialogs' rules cut what they are given to fit; here the type
  // and serial must fit as typed, so that "Ax" never reads type A's table.
  if (t.Source == TableSource::Default) {
    QString type = *def;
    if (type.size() != 1 || !acceptKeyType(type))
      return usageError(io, kDpt, QStringLiteral("--default takes a type letter A..Z"));
    t.askType = [type] { return std::optional<QString>(type); };
  } else if (t.Source == TableSource::LookUp) {
    QString type = lut->at(0), serial = lut->at(1);
    if (type.size() != 1 || serial.size() != 4 || !acceptKeyType(type) || !acceptKeyTypeSN(type, serial))
      return usageError(io, kDpt, QStringLiteral("--lut takes a type letter A..Z and four digits"));
    t.askTypeAndSerial = [type, serial] { return std::optional(std::pair{type, serial}); };
  }
  return checkOutputFile(io, words[1]) ? kExitFailure : read(t, words[1], io);
}

int runLut(Args& args, CliIO& io) {
  const OpenedReader reader = openReader(args, io, kLut);
  if (!reader.session) return reader.exitCode;
  if (reader.words != QStringList{QStringLiteral("list")})
    return usageError(io, kLut, QStringLiteral("list is needed"));
  TBulbParamBlock commands;
  int code = 0;
  for (const LookupEntry& e : ReadLookupDirectory(commands, &code)) io.out << e.text << "\n";
  io.out.flush();
  return code ? failure(io, code, QStringLiteral("reading the look-up directory")) : kExitOk;
}

const CommandRegistrar dptRegistrar(
    {"dpt",
     "dpt (read (--default TYPE | --lut TYPE SERIAL | --own) OUT.dpt | write IN.dpt (--default | --lut | "
     "--own) "
     "--yes [--overwrite]) --port COMn|DEVICE [--baud RATE]",
     "a dosimeter parameter table from the reader into a file, or from a file to the reader (service level)",
     runDpt});
const CommandRegistrar lutRegistrar({"lut", "lut list --port COMn|DEVICE [--baud RATE]",
                                     "the reader's look-up directory, every page, sorted", runLut});

}  // namespace
}  // namespace quelm::cli
