// quelm-cli download: the download window's workflow from the command line,
// with the same files. The operator's decisions are options; an existing
// storage file without one is refused rather than guessed at.
#include <QFileInfo>

#include "Cli.h"
#include "archive/DownloadArchiver.h"
#include "base/DateText.h"
#include "measurement/Download.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("download");

// Progress on standard error: one bar redrawn on a terminal, a line per
// block otherwise (logs of scheduled jobs).
class Progress {
 public:
  Progress(CliIO& io, const DownloadJob& job) : io_(io), job_(job) {}
  void update() {
    const DownloadState& s = job_.State();
    if (!s.running || s.actualBlock.isEmpty() || s.actualBlock == shown_) return;
    shown_ = s.actualBlock;
    const int total = s.gaugeMax + 1, done = s.gaugeProgress + 1;
    if (io_.errIsTerminal) {
      constexpr int kWidth = 30;
      const int filled = total > 0 ? done * kWidth / total : kWidth;
      io_.err << "\r[" << QString(filled, QLatin1Char('#')) << QString(kWidth - filled, QLatin1Char(' '))
              << "] " << done << "/" << total << " block " << s.actualBlock << Qt::flush;
      bar_ = true;
    } else {
      io_.err << "block " << s.actualBlock << " (" << done << "/" << total << ")" << Qt::endl;
    }
  }
  void end() {
    if (bar_) io_.err << Qt::endl;
    bar_ = false;
  }

 private:
  CliIO& io_;
  const DownloadJob& job_;
  QString shown_;
  bool bar_ = false;
};

// What a download that did not complete left in the storage file: the
// blocks written so far, or, after an overwrite, the old file untouched.
void printKept(CliIO& io, const DownloadJob& job, const DownloadResult& r) {
  const QString& storage = job.State().storageName;
  if (r.storageUnchanged)
    io.err << "quelm-cli: " << storage << " was left as it was" << Qt::endl;
  else
    io.err << "quelm-cli: " << r.blocks << " block(s) written to " << storage << " are kept" << Qt::endl;
}

int report(CliIO& io, const DownloadJob& job, const DownloadResult& r) {
  const DownloadState& s = job.State();
  switch (r.kind) {
    case DownloadResult::kCompleted:
      io.out << "Downloaded " << r.blocks << " block(s) " << r.from << ".." << r.to << " to " << s.storageName
             << "\n";
      if (!r.secondFile.isEmpty()) io.out << "Also appended to " << r.secondFile << "\n";
      if (s.contentList) io.out << "Content list: " << s.contentListName << "\n";
      if (s.detailedText) io.out << "Detailed text list: " << s.detailedTextName << "\n";
      if (r.acknowledged) io.out << "Acknowledged to the reader: " << r.to << "\n";
      io.out.flush();
      return kExitOk;
    case DownloadResult::kNothingToDo:
      io.out << r.message << Qt::endl;
      return kExitOk;
    case DownloadResult::kAborted:
      io.err << "quelm-cli: " << r.message << Qt::endl;
      printKept(io, job, r);
      return kExitFailure;
    case DownloadResult::kRefused:
      return usageError(io, kCommand, r.message);
    case DownloadResult::kFailure:
      failure(io, r.code, kCommand);
      if (r.blocks > 0 || r.storageUnchanged) printKept(io, job, r);
      return kExitFailure;
    case DownloadResult::kNone:
      break;
  }
  return usageError(io, kCommand, QStringLiteral("nothing was downloaded"));
}

// What a download wrote whole goes into the dose archive, even when the
// reader's acknowledgement then failed (the exit status stays 1). A failure
// there turns the exit status to 1 but keeps the data file and the
// reader's acknowledgement: the data file is the primary record.
int archiveDownload(CliIO& io, DownloadArchiver& archiver, const DownloadResult& r, const QString& source,
                    const std::optional<QString>& db, int exitCode) {
  ArchiveSettings settings = ReadArchiveSettings(io.configPath);
  if (db) settings.database = *db;
  const DownloadArchiveOutcome o = archiver.finish(r, settings, source);
  if (!o.ran) return exitCode;
  for (const QString& line : o.lines) io.out << line << "\n";
  io.out.flush();
  if (o.code == kExitOk) return exitCode;
  const QString where = o.where.isEmpty()    ? o.detail
                        : o.detail.isEmpty() ? o.where
                                             : o.where + ": " + o.detail;
  failure(io, o.code, QStringLiteral("dose archive ") + where);
  io.err << "quelm-cli: the data file is kept; 'quelm-cli archive import' archives it later" << Qt::endl;
  return kExitFailure;
}

int run(Args& args, CliIO& io) {
  const bool noArchive = args.flag(QStringLiteral("--no-archive"));
  const std::optional<QString> db = args.value(QStringLiteral("--db"));
  const std::optional<QString> sourceFile = args.value(QStringLiteral("--from-file"));
  const bool unsaved = args.flag(QStringLiteral("--unsaved"));
  const std::optional<QStringList> number = args.values(QStringLiteral("--number"), 2);
  const std::optional<QString> since = args.value(QStringLiteral("--since"));
  const std::optional<QString> out = args.value(QStringLiteral("--out"));
  const bool noLst = args.flag(QStringLiteral("--no-lst"));
  const bool noTxt = args.flag(QStringLiteral("--no-txt"));
  int choices = 0;
  int choice = kChoiceCancel;
  const struct {
    const char* option;
    int choice;
  } kChoices[] = {
      {"--append", kChoiceAppend}, {"--overwrite", kChoiceOverwrite}, {"--new", kChoiceAppendNew}};
  for (const auto& c : kChoices)
    if (args.flag(QLatin1String(c.option))) {
      ++choices;
      choice = c.choice;
    }

  std::unique_ptr<ReaderSession> session;
  // The archive names the reader's port as where a read-out came from.
  const int portAt = args.remaining().indexOf(QStringLiteral("--port"));
  const QString port = portAt >= 0 ? args.remaining().value(portAt + 1) : QString();
  if (!sourceFile) {
    int exitCode = kExitOk;
    if (!args.ok()) return usageError(io, kCommand, args.error());
    session = openReader(args, io, kCommand, &exitCode);
    if (!session) return exitCode;
  } else if (args.value(QStringLiteral("--port")) || args.value(QStringLiteral("--baud"))) {
    args.fail(QStringLiteral("--from-file reads a data file; --port and --baud are for the reader"));
  }
  args.positional();
  const int types = int{unsaved} + int{number.has_value()} + int{since.has_value()};
  if (!out) args.fail(QStringLiteral("--out STORAGE.dat is needed"));
  if (choices > 1) args.fail(QStringLiteral("choose one of --append, --overwrite and --new"));
  if (sourceFile && (unsaved || since))
    args.fail(QStringLiteral("a download from a file takes --number FROM TO, not --unsaved or --since"));
  if (!sourceFile && types != 1) args.fail(QStringLiteral("choose one of --unsaved, --number and --since"));
  std::array<QString, kDateFieldCount> date;
  QString error;
  if (since) {
    // Read as `list --after` reads a date: nothing out of the limits or the
    // form reaches the reader.
    QString why;
    if (const auto fields = ParseExactDateText(*since, &why))
      for (int i = 0; i < kDateFieldCount; ++i) date[i] = QString::number((*fields)[i]);
    else
      args.fail(DateTextRefusal(QStringLiteral("--since"), *since, why));
  }
  if (db && noArchive) args.fail(QStringLiteral("--db names the archive that --no-archive skips"));
  // An unset variable in a script gives "--db ''": no archive, never the default one.
  if (db && db->trimmed().isEmpty())
    args.fail(QStringLiteral("--db needs an archive (a file or a postgresql:// address)"));
  if (ArchiveLocation location; db && ParseArchiveLocation(*db, &location, &error)) args.fail(error);
  if (!args.ok()) return usageError(io, kCommand, args.error());

  DownloadJob job;
  std::optional<DownloadArchiver> archiver;
  if (!noArchive) archiver.emplace(job);
  job.SetContentList(!noLst);
  job.SetDetailedText(!noTxt);
  job.SetStorageName(*out);
  if (sourceFile) {
    job.ChooseFile();
    job.SetSourceName(*sourceFile);
  }
  // What would be written is checked before the reader is asked for anything.
  if (DownloadResult r = job.CheckFiles(); r.kind != DownloadResult::kNone) return report(io, job, r);
  if (QFileInfo::exists(job.State().storageName) && choices == 0)
    return usageError(
        io, kCommand,
        QStringLiteral("%1 exists: choose --append, --overwrite or --new").arg(job.State().storageName));
  job.askExistingFile = [choice](const QString&) { return choice; };

  DownloadResult r;
  if (sourceFile) {
    job.ChooseFile();
    r = job.SkimSource(*sourceFile);
  } else {
    job.ChooseReader();
    r = job.SelectType(unsaved ? kDownloadUnsaved : number ? kDownloadByNumber : kDownloadByDate);
  }
  if (r.kind != DownloadResult::kNone) return report(io, job, r);
  // Without --number a file is copied whole, as the window presets it.
  if (number) job.SetRangeTexts(number->at(0), number->at(1));
  for (int i = 0; since && i < kDateFieldCount; ++i) job.SetDateText(static_cast<DateField>(i), date[i]);

  Progress progress(io, job);
  const InterruptScope interrupt([&job] { job.RequestAbort(); });
  job.onChanged = [&] { progress.update(); };
  r = job.Start();
  job.onChanged = nullptr;
  progress.end();
  const int exitCode = report(io, job, r);
  if (!archiver) return exitCode;
  return archiveDownload(io, *archiver, r, sourceFile ? *sourceFile : port, db, exitCode);
}

const CommandRegistrar registrar(
    {"download",
     "download (--port COMn|DEVICE [--baud RATE] (--unsaved | --number FROM TO | --since \"YYYY.MM.DD "
     "HH:MM\") "
     "| --from-file SOURCE.dat [--number FROM TO]) --out STORAGE.dat [--no-lst] [--no-txt] "
     "[--append | --overwrite | --new] [--no-archive | --db URL]",
     "blocks from the reader or a data file into a data file, with its content list (.lst) and detailed text "
     "list (.txt); an existing STORAGE.dat needs --append, --overwrite or --new. A complete download is "
     "archived in the dose archive (see archive) unless --no-archive is given",
     run});

}  // namespace
}  // namespace quelm::cli
