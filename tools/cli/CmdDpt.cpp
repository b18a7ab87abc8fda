// quelm-cli dpt read|write and lut list: the dosimeter parameter tables
// between the reader and .dpt files, and the reader's look-up directory,
// with the window's limits, messages and service-level rule.
#include <algorithm>

#include "Cli.h"
#include "base/Config.h"
#include "base/ErrorCodes.h"
#include "parameters/DosimeterTables.h"
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

const QString kNoOwnTable =
    QStringLiteral("the reader refused the dosimeter's own table (no dosimeter in it?)");

int read(DosimeterTables& t, const QString& path, CliIO& io) {
  switch (t.Source) {
    case TableSource::Default:
      if (const int rc = t.ReadDefault()) return failure(io, rc, QStringLiteral("reading the default table"));
      if (t.Edits.text("KTYPE") != QString(QChar(uint8_t(t.Table.Record.KTYPE))))
        io.err << "quelm-cli: note: the reader answered with the table of type "
               << QString(QChar(uint8_t(t.Table.Record.KTYPE))) << Qt::endl;
      break;
    case TableSource::LookUp:
      if (const int rc = t.ReadLookup(); rc == kErrReaderRefused)
        return fail(io, QStringLiteral("The required key S/N has not been found!"));
      else if (rc)
        return failure(io, rc, QStringLiteral("reading the look-up entry"));
      break;
    case TableSource::Dosimeter: {
      const DosimeterTables::OwnRead r = t.ReadOwn();
      if (!r.ownRead && r.code == kErrReaderRefused) return fail(io, kNoOwnTable);
      if (r.code) return failure(io, r.code, QStringLiteral("reading the dosimeter's table"));
      if (r.typeMismatch)
        io.err << "quelm-cli: note: There isn't valid default bulb parameter table for this key." << Qt::endl;
      break;
    }
  }
  t.DataRefresh();
  const bool own = t.Source == TableSource::Dosimeter;
  const QByteArray before = snapshot(own ? t.Own.bytes() : t.Table.bytes());
  CollectFailure f;
  const int rc = t.Save(path, &f);
  if (rc == -1) return fail(io, f.message);
  if (rc != 0) return kExitFailure;  // the file's message has been shown
  noteLimited(io, own ? ownBulbParamFields() : bulbParamFields(), bytesOf(before),
              own ? t.Own.bytes() : t.Table.bytes());
  io.out << "Saved to " << path << Qt::endl;
  return kExitOk;
}

int write(DosimeterTables& t, const QString& path, bool overwrite, CliIO& io) {
  if (!serviceLevel(io))
    return fail(io, QStringLiteral("writing dosimeter tables needs the service level (configuration file %1)")
                        .arg(io.configPath));
  const QString section = t.Source == TableSource::Default     ? kDefaultKeySection
                          : t.Source == TableSource::Dosimeter ? kIndividualKeySection
                                                               : kLookupKeySection;
  if (const int rc = checkParameterFile(io, path, section, t.CheckFile(path))) return rc;

  if (t.Source == TableSource::LookUp) {
    t.Table.ReadLUTFileBlock(path);
    t.DataRefresh();
    using W = DosimeterTables::LookupWrite;
    const W w = t.WriteLookup([overwrite] { return overwrite; }, LimitPolicy::Refuse);
    const QString id = t.Edits.text("KTYPE") + t.Edits.text("KSN");
    switch (w.outcome) {
      case W::Written:
        io.out << "Look-up entry " << id << " written" << Qt::endl;
        return kExitOk;
      case W::NotConverted:
        return fail(io, w.conversion.message + QStringLiteral("; nothing was sent"));
      case W::Declined:
        return fail(
            io,
            QStringLiteral("The given serial number exist. Give --overwrite to replace entry %1.").arg(id),
            kExitUsage);
      case W::DeletedNotRewritten:
      case W::Failed:
        if (const QString m = DosimeterTables::LookupWriteMessage(w, id); !m.isEmpty()) {
          fail(io, m);
          // "Memory is full!" is all a refused write means.
          if (w.outcome == W::Failed && w.step == W::Write) return kExitFailure;
        }
        return failure(io, w.code);
    }
  }
  t.Load(path);
  const CollectFailure f = t.Source == TableSource::Default ? t.DefaultDataCollect(LimitPolicy::Refuse)
                                                            : t.KeyDataCollect(LimitPolicy::Refuse);
  if (f) return fail(io, f.message + QStringLiteral("; nothing was sent"));
  const int rc = t.Source == TableSource::Default ? t.WriteDefault() : t.WriteOwn();
  if (rc == kErrReaderRefused && t.Source == TableSource::Dosimeter) return fail(io, kNoOwnTable);
  if (rc) return failure(io, rc, QStringLiteral("writing the table"));
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
  int exitCode = kExitOk;
  const std::unique_ptr<ReaderSession> session = openReader(args, io, kDpt, &exitCode);
  if (!session) return exitCode;
  const QStringList words = args.positional();
  if (!args.ok()) return usageError(io, kDpt, args.error());
  if (words.size() != 2 || (words[0] != QStringLiteral("read") && words[0] != QStringLiteral("write")))
    return usageError(io, kDpt, QStringLiteral("read ... OUT.dpt or write IN.dpt ... is needed"));
  const int kinds =
      int(own) + int(isRead ? lut.has_value() : lutFlag) + int(isRead ? def.has_value() : defFlag);
  if (kinds != 1) return usageError(io, kDpt, QStringLiteral("one of --default, --lut and --own is needed"));

  DosimeterTables t;
  t.Source = own                                    ? TableSource::Dosimeter
             : (isRead ? lut.has_value() : lutFlag) ? TableSource::LookUp
                                                    : TableSource::Default;
  if (!isRead) {
    if (!yes)
      return fail(io, QStringLiteral("writing overwrites a table in the reader; give --yes to do so"),
                  kExitUsage);
    return write(t, words[1], overwrite, io);
  }
  if (t.Source == TableSource::Default) {
    QString type = *def;
    if (!acceptKeyType(type))
      return usageError(io, kDpt, QStringLiteral("--default takes a type letter A..Z"));
    t.Edits.setText("KTYPE", type);
  } else if (t.Source == TableSource::LookUp) {
    QString type = lut->at(0), serial = lut->at(1);
    if (!acceptKeyType(type) || !acceptKeyTypeSN(type, serial) || serial.size() != 4)
      return usageError(io, kDpt, QStringLiteral("--lut takes a type letter A..Z and four digits"));
    t.Edits.setText("KTYPE", type);
    t.Edits.setText("KSN", serial);
  }
  if (t.Source != TableSource::Dosimeter) {
    if (const CollectFailure f = t.TakeIdentifier(true)) return fail(io, f.message);
  }
  return checkOutputFile(io, words[1]) ? kExitFailure : read(t, words[1], io);
}

int runLut(Args& args, CliIO& io) {
  int exitCode = kExitOk;
  const std::unique_ptr<ReaderSession> session = openReader(args, io, kLut, &exitCode);
  if (!session) return exitCode;
  const QStringList words = args.positional();
  if (!args.ok()) return usageError(io, kLut, args.error());
  if (words != QStringList{QStringLiteral("list")})
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
