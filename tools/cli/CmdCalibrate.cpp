// quelm-cli calibrate: the calibration window's job from data files or
// the dose archive, the delivered dose on the command line or in a dose
// file; prints the batch and writes what is asked for: the batch table, the
// default tables, the certificate and the reader's look-up entries. Every
// run is kept in the dose archive (--db, else the configuration's, else the
// default file) unless --no-archive says otherwise.
#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>

#include "Cli.h"
#include "archive/ArchiveLocation.h"
#include "base/ErrorCodes.h"
#include "base/ServiceLevel.h"
#include "calibration/CalibrationArchive.h"
#include "calibration/CalibrationJob.h"
#include "calibration/CertificatePainter.h"
#include "calibration/ReadoutSource.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("calibrate");

// Prints what an operation told: its notes on standard output, what failed
// on standard error, each look-up entry's own texts as the dpt command
// prints them. kExitOk when it was done.
int printOutcome(CliIO& io, const CalibrationOutcome& o) {
  for (const CalibReport& r : o.reports) {
    if (r.code != 0) {
      failure(io, r.code, r.context);
    } else if (calibTextEntry(r.text).kind == MessageKind::Information) {
      io.out << calibText(r.text, r.args) << Qt::endl;
    } else {
      fail(io, (o.kind == CalibrationOutcome::kDone ? QStringLiteral("note: ") : QString()) +
                   calibText(r.text, r.args));
    }
  }
  for (const auto& [id, outcome] : o.entries) printParamOutcome(io, outcome, id);
  switch (o.kind) {
    case CalibrationOutcome::kDone:
      return kExitOk;
    case CalibrationOutcome::kRefused:
    case CalibrationOutcome::kNothing:
    case CalibrationOutcome::kFailed:
    case CalibrationOutcome::kStopped:
      break;
  }
  return kExitFailure;
}

std::optional<double> number(Args& args, const QString& name, const std::optional<QString>& text) {
  if (!text) return std::nullopt;
  // Scripts write a decimal point, whatever the user's settings.
  bool ok = false;
  const double v = text->toDouble(&ok);
  if (ok && std::isfinite(v) && v > 0) return v;
  args.fail(QStringLiteral("%1 must be a number above 0 such as 1000 or 2.5, not \"%2\"").arg(name, *text));
  return std::nullopt;
}

int run(Args& args, CliIO& io) {
  const std::optional<QString> doseText = args.value(QStringLiteral("--dose"));
  const std::optional<QString> doseFile = args.value(QStringLiteral("--doses"));
  const std::optional<QString> note = args.value(QStringLiteral("--note"));
  const std::optional<QString> sdText = args.value(QStringLiteral("--outlier-sd"));
  const std::optional<QString> keep = args.value(QStringLiteral("--keep"));
  const std::optional<QString> csv = args.value(QStringLiteral("--csv"));
  const std::optional<QString> pdf = args.value(QStringLiteral("--pdf"));
  const std::optional<QString> dpt = args.value(QStringLiteral("--dpt"));
  const bool writeLut = args.flag(QStringLiteral("--write-lut"));
  const bool overwrite = args.flag(QStringLiteral("--overwrite"));
  const std::optional<QString> port = args.value(QStringLiteral("--port"));
  const std::optional<QString> baud = args.value(QStringLiteral("--baud"));
  const bool fromArchive = args.flag(QStringLiteral("--archive"));
  const std::optional<QString> dosimeterList = args.value(QStringLiteral("--dosimeters"));
  const std::optional<QString> fromText = args.value(QStringLiteral("--from"));
  const std::optional<QString> toText = args.value(QStringLiteral("--to"));
  const std::optional<QString> db = args.value(QStringLiteral("--db"));
  const bool noArchive = args.flag(QStringLiteral("--no-archive"));
  const std::optional<double> dose = number(args, QStringLiteral("--dose"), doseText);
  const std::optional<double> limit = number(args, QStringLiteral("--outlier-sd"), sdText);
  const QStringList files = args.positional();
  if (!args.ok()) return usageError(io, kCommand, args.error());
  // The read-outs: data files, or a list of dosimeters and a span of the archive.
  QStringList dosimeters;
  std::optional<QDateTime> from, to;
  if (fromArchive) {
    if (!files.isEmpty())
      return usageError(io, kCommand, QStringLiteral("data files or --archive, not both"));
    if (!dosimeterList || !fromText || !toText)
      return usageError(io, kCommand, QStringLiteral("--archive needs --dosimeters LIST --from DATE --to DATE"));
    if (const QString e = ParseDosimeterList(*dosimeterList, &dosimeters); !e.isEmpty())
      return usageError(io, kCommand, QStringLiteral("--dosimeters: ") + e);
    from = ParseArchiveTime(*fromText, false);
    to = ParseArchiveTime(*toText, true);
    for (const auto& [name, text, time] : {std::tuple{"--from", *fromText, from}, std::tuple{"--to", *toText, to}})
      if (!time)
        return usageError(io, kCommand,
                          QStringLiteral("%1 takes %2, not \"%3\"").arg(QLatin1String(name), ArchiveTimeHint(), text));
    if (*to < *from) return usageError(io, kCommand, QStringLiteral("--to lies before --from"));
  } else {
    if (dosimeterList || fromText || toText)
      return usageError(io, kCommand, QStringLiteral("--dosimeters, --from and --to go with --archive"));
    if (files.isEmpty()) return usageError(io, kCommand, QStringLiteral("at least one data file is needed"));
  }
  // An unset variable in a script gives "--db ''": that is no archive.
  if (db && db->trimmed().isEmpty())
    return usageError(io, kCommand, QStringLiteral("--db needs an archive (a file or a postgresql:// address)"));
  if (db && noArchive) return usageError(io, kCommand, QStringLiteral("--db names the archive that --no-archive skips"));
  if (fromArchive && noArchive)
    return usageError(io, kCommand, QStringLiteral("--archive reads the archive that --no-archive skips"));
  ArchiveLocation location;
  if (!noArchive) {
    QString error;
    if (ParseArchiveLocation(db.value_or(ReadArchiveSettings(io.configPath).database), &location, &error))
      return usageError(io, kCommand, error);
  }
  if (doseText.has_value() == doseFile.has_value())
    return usageError(io, kCommand, QStringLiteral("one of --dose USV and --doses FILE.csv is needed"));
  if (writeLut != port.has_value())
    return usageError(io, kCommand, QStringLiteral("--write-lut and --port go together"));
  if ((overwrite || baud) && !writeLut)
    return usageError(io, kCommand, QStringLiteral("--overwrite and --baud go with --write-lut"));
  for (const std::optional<QString>& out : {csv, pdf, dpt})
    if (out && out->isEmpty())
      return usageError(io, kCommand, QStringLiteral("an output file name is empty"));
  if (writeLut && !serviceLevel())
    return refuseBelowServiceLevel(io, QStringLiteral("writing look-up entries"));
  // Text in a PDF needs fonts, which only a GUI application (offscreen) has.
  if (pdf && !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    return fail(io, calibText(CalibText::NoPrinting) + QStringLiteral(" (no GUI application)"));
  // The line is taken before anything is written: a port that cannot be
  // used leaves no files of a run half done.
  std::unique_ptr<ReaderSession> session;
  if (writeLut) {
    QString error;
    session = ReaderSession::open(*port, baud.value_or(QString()), io, &error);
    if (!session) return usageError(io, kCommand, error);
  }

  CalibrationJob job;
  job.writePdf = WriteCertificatePdf;
  if (!noArchive)
    job.locateArchive = [location](ArchiveLocation* l, QString*) {
      *l = location;
      return int{kOk};
    };
  std::unique_ptr<ReadoutSource> source;
  if (fromArchive)
    source = std::make_unique<ArchiveReadouts>(location, dosimeters, *from, *to);
  else
    source = std::make_unique<DataFileReadouts>(files);
  if (const int rc = printOutcome(io, job.Load(*source))) return rc;
  if (limit)
    if (const int rc = printOutcome(io, job.SetOutlierSd(*limit))) return rc;
  if (note) job.SetNote(*note);
  if (const int rc = printOutcome(io, dose ? job.SetDose(*dose) : job.LoadDoseFile(*doseFile))) return rc;
  // Before anything is written: no output over what the run read, the
  // archive's own file, or another output.
  const std::optional<QString> outputs[] = {csv, pdf, dpt};
  for (size_t i = 0; i < std::size(outputs); ++i) {
    if (!outputs[i]) continue;
    QStringList others;
    for (size_t j = 0; j < i; ++j)
      if (outputs[j]) others << *outputs[j];
    if (checkOutputFile(io, *outputs[i], job.KeptFiles(others))) return kExitFailure;
  }
  const CalibrationRun& run = job.Run();
  // The operator's own decision on each outlier named.
  for (const QString& id : keep ? keep->split(QLatin1Char(','), Qt::SkipEmptyParts) : QStringList()) {
    int row = -1;
    for (size_t i = 0; i < run.rows.size(); ++i)
      if (run.rows[i].dosimeter == id.trimmed() && run.rows[i].outlier()) row = static_cast<int>(i);
    if (row < 0)
      return fail(io,
                  QStringLiteral("--keep %1: no outlier of this run has that dosimeter").arg(id.trimmed()),
                  kExitUsage);
    job.SetKept(row, true);
  }

  io.out << CalibrationTextHeader() << "\n";
  for (const CalibrationRow& row : run.rows) io.out << CalibrationTextRow(row, run.outlierSd) << "\n";
  for (const BatchFigures& b : run.batches) io.out << BatchLine(b) << "\n";
  io.out.flush();

  int exitCode = kExitOk;
  // A failure outweighs a decision left to the operator.
  const auto take = [&exitCode](int rc) {
    if (rc != kExitOk && exitCode != kExitFailure) exitCode = rc;
  };
  if (csv) take(printOutcome(io, job.WriteCsv(*csv)));
  if (dpt) take(printOutcome(io, job.WriteDpt(*dpt)));
  if (pdf) take(printOutcome(io, job.WriteCertificate(*pdf)));
  if (writeLut) {
    // The command line's answer to the look-up question is --overwrite.
    QStringList keptEntries;
    job.askLookupWrite = [overwrite](int) {
      return overwrite ? LookupChoice::Overwrite : LookupChoice::NewOnly;
    };
    const InterruptScope interrupt([&job] { job.RequestAbort(); });
    const CalibrationOutcome o = job.WriteLookup();
    for (const CalibReport& r : o.reports)
      if (r.text == CalibText::LookupKept) keptEntries << r.args.value(0);
    take(printOutcome(io, o));
    if (!keptEntries.isEmpty() && !overwrite)
      take(fail(io,
                QStringLiteral("the reader holds entries for %1; --overwrite replaces them")
                    .arg(keptEntries.join(QStringLiteral(", "))),
                kExitUsage));
  }
  // Every run is kept, whatever it wrote (the writes kept it already).
  if (!noArchive) take(printOutcome(io, job.KeepRun()));
  // A run in which no read-out got a factor calibrated nothing.
  if (std::none_of(run.rows.begin(), run.rows.end(),
                   [](const CalibrationRow& r) { return r.factor.has_value(); }))
    take(fail(io, QStringLiteral("no read-out got a factor")));
  return exitCode;
}

const CommandRegistrar registrar(
    {"calibrate",
     "calibrate (FILE.dat... | --archive --dosimeters LIST --from DATE --to DATE) (--dose USV | --doses FILE.csv) "
     "[--note TEXT] [--outlier-sd N] [--keep ID,...] [--csv OUT.csv] [--pdf OUT.pdf] [--dpt OUT.dpt] "
     "[--write-lut --port COMn|DEVICE [--baud RATE] [--overwrite]] [--db URL | --no-archive]",
     "each dosimeter's normalisation factor from a calibration irradiation to a known dose: the batch table, "
     "outliers beyond N SD (default 3) or flagged left out unless kept, the default tables, the certificate "
     "and the reader's look-up entries (service level). The read-outs come from data files or from the dose "
     "archive (LIST: ids and ranges such as A0001-A0100,B0007; the read-outs from DATE to DATE, YYYY-MM-DD). "
     "Every run is kept in the dose archive (--db, else [Dose archive] Database, else the default file; "
     "see archive calibrations) unless --no-archive is given",
     run});

}  // namespace
}  // namespace quelm::cli
