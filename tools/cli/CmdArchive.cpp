// quelm-cli archive: the dose archive from scripts: importing data files,
// persons and wear periods, a person's or dosimeter's history, totals,
// alerts, reports and the check of what is stored. Every rule is the
// archive core's; this file only reads the command line and prints.
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <climits>
#include <cmath>
#include <span>

#include "Cli.h"
#include "archive/Archive.h"
#include "archive/ArchiveImportJob.h"
#include "archive/ArchiveReport.h"
#include "archive/ArchiveSignoff.h"
#include "archive/ArchiveText.h"
#include "archive/ControlChartPainter.h"
#include "archive/ReportPainter.h"
#include "base/CsvText.h"
#include "base/ErrorCodes.h"

namespace quelm::cli {
namespace {

const QString kCommand = QStringLiteral("archive");

QString archiveContext(const ArchiveLocation& location, const QString& detail) {
  return detail.isEmpty() ? location.displayText() : location.displayText() + QStringLiteral(": ") + detail;
}

enum class Access { Read, Write };

// What every subcommand gets: the command line after its name, the
// archive named by --db (else by the configuration file, else the default
// file), and whether it only reads.
struct Context {
  Args& args;
  CliIO& io;
  std::optional<QString> db;
};

// The archive, opened for reading only or for writing; nothing after
// printing why. Only a writing open upgrades an older archive, and says so.
std::unique_ptr<DoseArchive> openArchive(Context& c, Access access, int* exitCode) {
  const ArchiveSettings settings = ReadArchiveSettings(c.io.configPath);
  ArchiveLocation location;
  QString error;
  if (ParseArchiveLocation(c.db.value_or(settings.database), &location, &error)) {
    *exitCode = usageError(c.io, kCommand, error);
    return nullptr;
  }
  int code = kOk;
  QString detail;
  ArchiveOptions options;
  options.readOnly = access == Access::Read;
  auto archive = DoseArchive::open(location, options, &code, &detail);
  if (!archive) {
    *exitCode = failure(c.io, code, archiveContext(location, detail));
    return nullptr;
  }
  archive->setRecomputeTolerance(settings.recomputeTolerance);
  archive->setControlTolerance(settings.controlTolerance);
  if (!archive->upgradeNote().isEmpty())
    c.io.err << "quelm-cli: " << UpgradedLine(location.displayText(), archive->upgradeNote()) << Qt::endl;
  return archive;
}

int archiveFailure(CliIO& io, const DoseArchive& archive, int code) {
  return failure(io, code, archiveContext(archive.location(), archive.errorDetail()));
}

// --name DATE, checked; the command line fails when it is there but no date.
std::optional<QDateTime> dateOption(Args& args, const QString& name, bool upperBound) {
  const std::optional<QString> text = args.value(name);
  if (!text) return std::nullopt;
  const std::optional<QDateTime> time = ParseArchiveTime(*text, upperBound);
  if (!time) args.fail(QStringLiteral("%1 takes %2, not \"%3\"").arg(name, ArchiveTimeHint(), *text));
  return time;
}

// A --dosimeter ID, checked unless the command line failed already.
void checkDosimeter(Args& args, const std::optional<QString>& dosimeter) {
  if (dosimeter && args.ok())
    if (const QString e = DosimeterIdError(*dosimeter); !e.isEmpty()) args.fail(e);
}

// The person a word names: an id, or a name exactly one person has. An
// unknown or ambiguous word is a usage error that names the candidates.
// Returns the exit code: kExitOk with the person found.
int person(Context& c, DoseArchive& archive, const QString& text, Person* found) {
  PersonLookup lookup;
  if (const int rc = archive.findPerson(text, &lookup)) return archiveFailure(c.io, archive, rc);
  if (lookup.outcome == PersonLookup::Found) {
    *found = lookup.person;
    return kExitOk;
  }
  QStringList who;
  for (const Person& p : lookup.candidates) who << PersonText(p);
  const QString said = QLatin1Char('"') + PlainField(text.simplified()) + QLatin1Char('"');
  return fail(c.io,
              lookup.outcome == PersonLookup::Ambiguous
                  ? QStringLiteral("archive: %1 is more than one person: %2; give the id")
                        .arg(said, who.join(QStringLiteral(", ")))
                  : QStringLiteral("archive: no person has the id or name %1%2")
                        .arg(said, who.isEmpty() ? QString()
                                                 : QStringLiteral(" (perhaps: ") +
                                                       who.join(QStringLiteral(", ")) + QLatin1Char(')')),
              kExitUsage);
}

// The id of the person --person names; left empty without the option.
// Returns the exit code, as person() does.
int personOption(Context& c, DoseArchive& archive, const std::optional<QString>& who, QString* id) {
  if (!who) return kExitOk;
  Person p;
  const int rc = person(c, archive, *who, &p);
  if (rc == kExitOk) *id = p.id;
  return rc;
}

// Runs `body` on the archive once the command line is sound and the archive
// is open; else prints the usage error or why the archive does not open.
// Returns the exit code.
template <typename Body>
int withArchive(Context& c, Access access, Body body) {
  if (!c.args.ok()) return usageError(c.io, kCommand, c.args.error());
  int exitCode = kExitOk;
  const std::unique_ptr<DoseArchive> archive = openArchive(c, access, &exitCode);
  return archive ? body(*archive) : exitCode;
}

// A table on standard output: the header's line (its columns as commas
// for CSV, tabs in the text form), then each row as it is given, sent out
// at once: a long list is never held, and a failed write is seen at the row
// it failed on. Nothing is printed before the first row or the end, so that
// a list that cannot be read prints nothing.
class TablePrinter {
 public:
  TablePrinter(CliIO& io, bool csv, const QString& csvHeader)
      : io_(io),
        end_(csv ? "\r\n" : "\n"),
        header_(csv ? csvHeader : QString(csvHeader).replace(QLatin1Char(','), QLatin1Char('\t'))) {}
  // False once the output failed: reading further rows is of no use.
  bool row(const QString& line) {
    header();
    io_.out << line << end_;
    io_.out.flush();
    return io_.out.status() == QTextStream::Ok;
  }
  // The header of a list without rows.
  void finish() {
    header();
    io_.out.flush();
  }

 private:
  void header() {
    if (headerDone_) return;
    io_.out << header_ << end_;
    headerDone_ = true;
  }
  CliIO& io_;
  const char* end_;
  QString header_;
  bool headerDone_ = false;
};

// Rows made for CSV or for text under the header's columns.
void printTable(CliIO& io, bool csv, const QString& csvHeader, const QStringList& rows) {
  TablePrinter printer(io, csv, csvHeader);
  for (const QString& r : rows)
    if (!printer.row(r)) return;
  printer.finish();
}

// A list as CSV (the header's columns) or tab-separated text (the same
// columns, each row in the text form).
template <typename Item, typename CsvRow, typename TextRow>
void printList(CliIO& io, bool csv, const QString& csvHeader, const std::vector<Item>& items, CsvRow csvRow,
               TextRow textRow) {
  TablePrinter printer(io, csv, csvHeader);
  for (const Item& item : items)
    if (!printer.row(csv ? csvRow(item) : textRow(item))) return;
  printer.finish();
}

void printReadouts(CliIO& io, const std::vector<ReadoutRow>& rows, bool csv) {
  printList(io, csv, ReadoutCsvHeader(), rows, ReadoutCsvRow, ReadoutTextRow);
}

// Text in a PDF needs fonts, which only a GUI application (offscreen) has.
bool hasGraphics() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

int noGraphics(Context& c, const QString& what) {
  return fail(
      c.io,
      QStringLiteral("archive %1 needs the program's graphics libraries (no GUI application)").arg(what));
}

bool noMoreWords(Context& c, const QString& what) {
  if (!c.args.positional().isEmpty())
    c.args.fail(QStringLiteral("archive %1 takes no other arguments").arg(what));
  return c.args.ok();
}

// --- Writing commands ----------------------------------------------------------------

int runImport(Context& c) {
  const QStringList files = c.args.positional();
  if (c.args.ok() && files.isEmpty()) c.args.fail(QStringLiteral("archive import needs data files"));
  return withArchive(c, Access::Write, [&](DoseArchive& archive) -> int {
    int exitCode = kExitOk;
    ArchiveImportJob job(files);
    job.onFileDone = [&](const ArchiveFileOutcome& o) {
      for (const QString& line : o.lines) c.io.out << line << "\n";
      c.io.out.flush();
      if (o.code) exitCode = failure(c.io, o.code, archiveContext(archive.location(), o.detail));
    };
    job.Run(archive);
    return exitCode;
  });
}

int runAssign(Context& c) {
  const std::optional<QDateTime> from = dateOption(c.args, QStringLiteral("--from"), false);
  const std::optional<QDateTime> to = dateOption(c.args, QStringLiteral("--to"), true);
  const QStringList words = c.args.positional();
  if (words.size() != 2) c.args.fail(QStringLiteral("archive assign needs a DOSIMETER and a PERSON"));
  if (!from && c.args.ok()) c.args.fail(QStringLiteral("--from DATE is needed"));
  if (c.args.ok())
    if (const QString e = WearPeriodError({words[0], {}, *from, to}); !e.isEmpty()) c.args.fail(e);
  if (c.args.ok())
    if (const QString e = PersonNameError(words[1]); !e.isEmpty()) c.args.fail(e);
  return withArchive(c, Access::Write, [&](DoseArchive& archive) -> int {
    WearPeriod stored;
    std::optional<Person> created;
    if (const int rc = archive.assign(words[0], words[1], *from, to, &stored, &created))
      return rc == kErrArchiveAmbiguousPerson
                 ? fail(c.io, QStringLiteral("archive: ") + archive.errorDetail(), kExitUsage)
                 : archiveFailure(c.io, archive, rc);
    if (created) c.io.out << NewPersonLine(*created) << "\n";
    c.io.out << PeriodLine(stored) << Qt::endl;
    return kExitOk;
  });
}

int runEnd(Context& c) {
  const std::optional<QDateTime> at = dateOption(c.args, QStringLiteral("--at"), true);
  const QStringList words = c.args.positional();
  if (words.size() != 1) c.args.fail(QStringLiteral("archive end needs the DOSIMETER"));
  if (!at && c.args.ok()) c.args.fail(QStringLiteral("--at DATE is needed: the period's last day"));
  if (c.args.ok())
    if (const QString e = DosimeterIdError(words[0]); !e.isEmpty()) c.args.fail(e);
  return withArchive(c, Access::Write, [&](DoseArchive& archive) -> int {
    WearPeriod ended;
    if (const int rc = archive.endPeriod(words[0], *at, &ended)) return archiveFailure(c.io, archive, rc);
    c.io.out << PeriodLine(ended) << Qt::endl;
    return kExitOk;
  });
}

int runPerson(Context& c) {
  const QStringList words = c.args.positional();
  const QString what = words.value(0);
  if (what != QLatin1String("add") && what != QLatin1String("rename"))
    c.args.fail(QStringLiteral("archive person takes add ID NAME or rename ID NAME"));
  else if (words.size() != 3)
    c.args.fail(
        QStringLiteral("archive person %1 needs an ID and a NAME (quoted when it has blanks)").arg(what));
  if (c.args.ok())
    for (const QString& e :
         {what == QLatin1String("add") ? PersonIdError(words[1]) : QString(), PersonNameError(words[2])})
      if (!e.isEmpty()) c.args.fail(e);
  return withArchive(c, Access::Write, [&](DoseArchive& archive) -> int {
    const Person p{words[1].trimmed(), words[2].simplified()};
    const int rc = what == QLatin1String("add") ? archive.addPerson(p) : archive.renamePerson(p.id, p.name);
    if (rc) return archiveFailure(c.io, archive, rc);
    PersonLookup stored;
    archive.findPerson(p.id, &stored);
    c.io.out << (what == QLatin1String("add")
                     ? NewPersonLine(stored.person)
                     : QStringLiteral("Renamed: ") + PlainField(PersonText(stored.person)))
             << Qt::endl;
    return kExitOk;
  });
}

int runPeriodsImport(Context& c, const QString& path) {
  if (!noMoreWords(c, QStringLiteral("periods import"))) return usageError(c.io, kCommand, c.args.error());
  QFile file(path);
  if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
    return failure(c.io, kErrFileOpen,
                   path + QStringLiteral(": ") +
                       (file.errorString().isEmpty() ? QStringLiteral("no plain file") : file.errorString()));
  std::vector<WearerListRow> rows;
  QString error;
  if (!ParseWearerList(file.readAll(), &rows, &error))
    return failure(c.io, kErrArchiveInput, path + QStringLiteral(": ") + error);
  return withArchive(c, Access::Write, [&](DoseArchive& archive) -> int {
    WearerListResult result;
    if (const int rc = archive.importWearerList(rows, &result, QFileInfo(path).absoluteFilePath()))
      return failure(c.io, rc, path + QStringLiteral(": ") + archive.errorDetail());
    c.io.out << PlainField(path) << ": " << WearerListLine(result) << Qt::endl;
    return kExitOk;
  });
}

int runUpgrade(Context& c) {
  noMoreWords(c, QStringLiteral("upgrade"));
  return withArchive(c, Access::Write, [&](DoseArchive& archive) -> int {
    c.io.out << archive.location().displayText() << ": schema version " << archive.schemaVersion()
             << Qt::endl;
    return kExitOk;
  });
}

// --- Reading commands ----------------------------------------------------------------

// A reading command that prints one of the archive's lists, as text or
// with --csv, once the rest of its command line is read, each row as the
// archive hands it over; `read` gets the id of the person `who` names
// (empty without one) and a function to hand each item to, which returns
// false once the output failed. A failure after the first rows still
// fails the command.
template <typename Item, typename Read, typename CsvRow, typename TextRow>
int runStreamedListing(Context& c, const QString& what, const std::optional<QString>& who, Read read,
                       const QString& csvHeader, CsvRow csvRow, TextRow textRow) {
  const bool csv = c.args.flag(QStringLiteral("--csv"));
  noMoreWords(c, what);
  return withArchive(c, Access::Read, [&](DoseArchive& archive) -> int {
    QString personId;
    if (const int rc = personOption(c, archive, who, &personId)) return rc;
    TablePrinter printer(c.io, csv, csvHeader);
    const std::function<bool(const Item&)> row = [&](const Item& item) {
      return printer.row(csv ? csvRow(item) : textRow(item));
    };
    if (const int rc = read(archive, personId, row)) return archiveFailure(c.io, archive, rc);
    printer.finish();
    return kExitOk;
  });
}

// The same for a list the archive gives whole: `fetch` fills a vector.
template <typename Item, typename Fetch, typename CsvRow, typename TextRow>
int runListing(Context& c, const QString& what, const std::optional<QString>& who, Fetch fetch,
               const QString& csvHeader, CsvRow csvRow, TextRow textRow) {
  const auto read = [&fetch](DoseArchive& archive, const QString& personId,
                             const std::function<bool(const Item&)>& row) -> int {
    std::vector<Item> items;
    if (const int rc = fetch(archive, personId, &items)) return rc;
    for (const Item& item : items)
      if (!row(item)) break;
    return kOk;
  };
  return runStreamedListing<Item>(c, what, who, read, csvHeader, csvRow, textRow);
}

// What runListing fetches for a query of one person's or of all.
template <typename Query, typename Item>
auto withPerson(Query query, int (DoseArchive::*fetch)(const Query&, std::vector<Item>*)) {
  return [query, fetch](DoseArchive& archive, const QString& personId, std::vector<Item>* list) mutable {
    query.personId = personId;
    return (archive.*fetch)(query, list);
  };
}

// What runListing fetches for a list of everything, of nobody in particular.
template <typename Item>
auto all(int (DoseArchive::*fetch)(std::vector<Item>*)) {
  return [fetch](DoseArchive& archive, const QString&, std::vector<Item>* list) {
    return (archive.*fetch)(list);
  };
}

int runPersons(Context& c) {
  return runListing<Person>(c, QStringLiteral("persons"), std::nullopt, all(&DoseArchive::persons),
                            PersonCsvHeader(), PersonCsvRow, PersonTextRow);
}

int runPeriods(Context& c) {
  const QStringList words = c.args.remaining();
  if (words.value(0) == QLatin1String("import")) {
    if (words.size() != 2) {
      c.args.fail(QStringLiteral("archive periods import needs one FILE.csv"));
      return usageError(c.io, kCommand, c.args.error());
    }
    Args rest{{}};
    Context inner{rest, c.io, c.db};
    return runPeriodsImport(inner, words[1]);
  }
  const std::optional<QString> dosimeter = c.args.value(QStringLiteral("--dosimeter"));
  const std::optional<QString> who = c.args.value(QStringLiteral("--person"));
  if (dosimeter && who) c.args.fail(QStringLiteral("choose at most one of --dosimeter ID and --person P"));
  checkDosimeter(c.args, dosimeter);
  return runListing<WearPeriod>(
      c, QStringLiteral("periods"), who,
      withPerson(PeriodQuery{dosimeter.value_or(QString()), {}}, &DoseArchive::periods), PeriodCsvHeader(),
      PeriodCsvRow, PeriodTextRow);
}

int runHistory(Context& c) {
  HistoryQuery query;
  const std::optional<QString> dosimeter = c.args.value(QStringLiteral("--dosimeter"));
  const std::optional<QString> who = c.args.value(QStringLiteral("--person"));
  query.from = dateOption(c.args, QStringLiteral("--from"), false);
  query.to = dateOption(c.args, QStringLiteral("--to"), true);
  if (dosimeter.has_value() == who.has_value())
    c.args.fail(QStringLiteral("choose one of --dosimeter ID and --person P"));
  checkDosimeter(c.args, dosimeter);
  query.dosimeter = dosimeter.value_or(QString());
  return runListing<ReadoutRow>(c, QStringLiteral("history"), who, withPerson(query, &DoseArchive::history),
                                ReadoutCsvHeader(), ReadoutCsvRow, ReadoutTextRow);
}

int runTotals(Context& c) {
  const std::optional<QString> who = c.args.value(QStringLiteral("--person"));
  const std::optional<QDateTime> at = dateOption(c.args, QStringLiteral("--at"), true);
  const bool csv = c.args.flag(QStringLiteral("--csv"));
  noMoreWords(c, QStringLiteral("totals"));
  return withArchive(c, Access::Read, [&](DoseArchive& archive) -> int {
    QString personId;
    if (const int rc = personOption(c, archive, who, &personId)) return rc;
    const QDateTime when = at.value_or(ArchiveNow());
    std::vector<PersonTotals> totals;
    if (const int rc = archive.totals(personId, when, &totals)) return archiveFailure(c.io, archive, rc);
    const double limit = ReadArchiveSettings(c.io.configPath).annualLimit;
    const auto csvRow = [limit](const PersonTotals& t) { return TotalsCsvRow(t, limit); };
    const auto textRow = [limit](const PersonTotals& t) { return TotalsTextRow(t, limit); };
    if (!csv) {
      c.io.out << "Totals up to " << ArchiveTimeText(when) << " (quarter from "
               << ArchiveTimeText(QuarterStart(when)) << ", year from " << ArchiveTimeText(YearStart(when))
               << ")\n";
      for (const ReportPeriod& p : {QuarterOf(when), YearOf(when)}) {
        int open = 0;
        if (const int rc = archive.openReviewCount(p, &open)) return archiveFailure(c.io, archive, rc);
        if (open) c.io.out << open << " read-outs of " << p.label << " await review\n";
      }
    }
    printList(c.io, csv, TotalsCsvHeader(), totals, csvRow, textRow);
    return kExitOk;
  });
}

int runAlerts(Context& c) {
  const std::optional<QDateTime> from = dateOption(c.args, QStringLiteral("--from"), false);
  const std::optional<QString> levelText = c.args.value(QStringLiteral("--level"));
  const bool csv = c.args.flag(QStringLiteral("--csv"));
  double level = ReadArchiveSettings(c.io.configPath).notificationLevel;
  if (levelText) {
    bool ok = false;
    level = levelText->toDouble(&ok);
    if (!ok || !(level > 0) || !std::isfinite(level))
      c.args.fail(QStringLiteral("--level takes a dose in uSv above 0, not \"%1\"").arg(*levelText));
  }
  noMoreWords(c, QStringLiteral("alerts"));
  return withArchive(c, Access::Read, [&](DoseArchive& archive) -> int {
    std::vector<ReadoutRow> rows;
    if (const int rc = archive.alerts(from, level, &rows)) return archiveFailure(c.io, archive, rc);
    printReadouts(c.io, rows, csv);
    return kExitOk;
  });
}

int runCheck(Context& c) {
  noMoreWords(c, QStringLiteral("check"));
  return withArchive(c, Access::Read, [&](DoseArchive& archive) -> int {
    CheckReport report;
    if (const int rc = archive.check(&report)) return archiveFailure(c.io, archive, rc);
    for (const QString& fault : report.faults) c.io.out << PlainField(fault) << "\n";
    if (report.setAside)
      c.io.out << report.setAside << " records that are no read-outs were set aside by an upgrade;"
               << " they are kept in the table refused_readouts\n";
    c.io.out << report.readouts << " read-outs, " << report.conflicts << " conflicts, " << report.persons
             << " persons, " << report.periods << " wear periods checked: "
             << (report.faults.isEmpty() ? QStringLiteral("no faults")
                                         : QString::number(report.faults.size()) + QStringLiteral(" faults"))
             << Qt::endl;
    if (!report.faults.isEmpty()) return failure(c.io, kErrArchiveFaults, archive.location().displayText());
    return kExitOk;
  });
}

// A period option (2026Q3 or 2026), checked.
std::optional<ReportPeriod> periodOption(Args& args, const QString& name, bool needed) {
  const std::optional<QString> text = args.value(name);
  if (!text) {
    if (needed) args.fail(QStringLiteral("%1 2026Q3 or %1 2026 is needed").arg(name));
    return std::nullopt;
  }
  const std::optional<ReportPeriod> period = ParseReportPeriod(*text);
  if (!period)
    args.fail(QStringLiteral("%1 takes a quarter (2026Q3) or a year (2026), not \"%2\"").arg(name, *text));
  return period;
}

// A PDF written over the archive's own file would replace the dose record.
int checkPdfOutput(Context& c, const DoseArchive& archive, const QString& pdf) {
  return checkOutputFile(c.io, pdf, archive.location().files());
}

// The stored bytes of a signed document, exactly.
int runSignedReport(Context& c, const ReportPeriod& period, const std::optional<QString>& who,
                    const QString& pdf) {
  return withArchive(c, Access::Read, [&](DoseArchive& archive) -> int {
    if (const int rc = checkPdfOutput(c, archive, pdf)) return rc;
    QString personId;
    if (const int rc = personOption(c, archive, who, &personId)) return rc;
    QByteArray bytes;
    if (const int rc = archive.signedDocument(period.label, personId, &bytes))
      return archiveFailure(c.io, archive, rc);
    QString detail;
    if (const int rc = WritePdfFile(bytes, pdf, &detail)) return failure(c.io, rc, detail);
    c.io.out << pdf << ": the signed document of " << period.label << ", " << bytes.size() << " bytes"
             << Qt::endl;
    return kExitOk;
  });
}

int runReport(Context& c) {
  const std::optional<QString> who = c.args.value(QStringLiteral("--person"));
  const bool all = c.args.flag(QStringLiteral("--all"));
  const std::optional<ReportPeriod> signedPeriod = periodOption(c.args, QStringLiteral("--signed"), false);
  const std::optional<QString> periodText = c.args.value(QStringLiteral("--period"));
  const std::optional<QString> pdf = c.args.value(QStringLiteral("--pdf"));
  if (who.has_value() == all) c.args.fail(QStringLiteral("choose one of --person P and --all"));
  if (signedPeriod) {
    if (periodText) c.args.fail(QStringLiteral("--signed names the period; --period is for a new report"));
    if (!pdf || pdf->isEmpty()) c.args.fail(QStringLiteral("--pdf OUT.pdf is needed"));
    if (!noMoreWords(c, QStringLiteral("report"))) return usageError(c.io, kCommand, c.args.error());
    return runSignedReport(c, *signedPeriod, who, *pdf);
  }
  std::optional<ReportPeriod> period;
  if (!periodText)
    c.args.fail(QStringLiteral("--period 2026Q3 or --period 2026 is needed"));
  else if (!(period = ParseReportPeriod(*periodText)))
    c.args.fail(
        QStringLiteral("--period takes a quarter (2026Q3) or a year (2026), not \"%1\"").arg(*periodText));
  if (!pdf || pdf->isEmpty()) c.args.fail(QStringLiteral("--pdf OUT.pdf is needed"));
  if (!noMoreWords(c, QStringLiteral("report"))) return usageError(c.io, kCommand, c.args.error());
  if (!hasGraphics()) return noGraphics(c, QStringLiteral("report"));
  return withArchive(c, Access::Read, [&](DoseArchive& archive) -> int {
    if (const int rc = checkPdfOutput(c, archive, *pdf)) return rc;
    const ArchiveSettings settings = ReadArchiveSettings(c.io.configPath);
    ReportDocument document;
    int rc = kOk;
    if (all) {
      rc = BuildSummaryReport(archive, *period, settings, ArchiveNow(), &document);
    } else {
      Person p;
      if (const int exitCode = person(c, archive, *who, &p)) return exitCode;
      rc = BuildPersonReport(archive, p.id, *period, settings, ArchiveNow(), &document);
    }
    if (rc) return archiveFailure(c.io, archive, rc);
    QString detail;
    if (const int wrc = WriteReportPdf(document, *pdf, &detail)) return failure(c.io, wrc, detail);
    c.io.out << *pdf << ": " << PaginateReport(document).size() << " pages, " << document.rows.size()
             << " rows" << Qt::endl;
    return kExitOk;
  });
}

// --- Review, sign-off, change log ----------------------------------------------

int runReview(Context& c) {
  const std::optional<ReportPeriod> period = periodOption(c.args, QStringLiteral("--period"), false);
  return runListing<ReadoutRow>(
      c, QStringLiteral("review"), std::nullopt,
      [&period](DoseArchive& a, const QString&, std::vector<ReadoutRow>* list) {
        return a.review(period, list);
      },
      ReviewCsvHeader(), ReviewCsvRow, ReviewTextRow);
}

int runResolve(Context& c) {
  const bool accept = c.args.flag(QStringLiteral("--accept"));
  const bool exclude = c.args.flag(QStringLiteral("--exclude"));
  const std::optional<QStringList> window = c.args.values(QStringLiteral("--reevaluate"), 3);
  const std::optional<QString> reason = c.args.value(QStringLiteral("--reason"));
  const QStringList words = c.args.positional();
  if (int{accept} + int{exclude} + int{window.has_value()} != 1)
    c.args.fail(QStringLiteral("choose one of --accept, --reevaluate START LENGTH NORM and --exclude"));
  if (!reason || reason->trimmed().isEmpty()) c.args.fail(QStringLiteral("--reason TEXT is needed: why"));
  if (words.size() != 1)
    c.args.fail(QStringLiteral("archive resolve needs the READOUT (its id in history or review)"));
  const std::optional<long long> id =
      words.size() == 1 ? c.args.integer(words[0], QStringLiteral("READOUT"), 1, LLONG_MAX) : std::nullopt;
  std::optional<EvaluationWindow> evaluation;
  if (window && c.args.ok()) {
    const auto start = c.args.integer((*window)[0], QStringLiteral("START"), 0, 99);
    const auto length = c.args.integer((*window)[1], QStringLiteral("LENGTH"), 1, 100);
    bool ok = false;
    const double norm = (*window)[2].toDouble(&ok);
    if (start && length) evaluation = EvaluationWindow{int(*start), int(*length), norm};
    if (!ok) c.args.fail(QStringLiteral("NORM takes a number, not \"%1\"").arg((*window)[2]));
    if (evaluation && c.args.ok())
      if (const QString e = EvaluationWindowError(*evaluation); !e.isEmpty()) c.args.fail(e);
  }
  // A failed option leaves the id or the reason unset; either way it is a usage error.
  if (!c.args.ok() || !id || !reason) return usageError(c.io, kCommand, c.args.error());
  return withArchive(c, Access::Write, [&](DoseArchive& archive) -> int {
    const Resolution action = accept    ? Resolution::Accept
                              : exclude ? Resolution::Exclude
                                        : Resolution::Reevaluate;
    ResolveOutcome outcome;
    if (const int rc = archive.resolve(*id, action, *reason, evaluation, &outcome))
      return archiveFailure(c.io, archive, rc);
    c.io.out << ResolvedLine(*id, outcome, action) << Qt::endl;
    return kExitOk;
  });
}

int runNotional(Context& c) {
  const std::optional<ReportPeriod> period = periodOption(c.args, QStringLiteral("--period"), true);
  const std::optional<QString> doseText = c.args.value(QStringLiteral("--dose"));
  const std::optional<QString> reason = c.args.value(QStringLiteral("--reason"));
  const QStringList words = c.args.positional();
  if (words.size() != 1) c.args.fail(QStringLiteral("archive notional needs the PERSON"));
  double dose = 0;
  bool ok = false;
  if (doseText) dose = doseText->toDouble(&ok);
  if (!doseText || !ok || !std::isfinite(dose) || dose < 0)
    c.args.fail(QStringLiteral("--dose takes a dose in uSv, 0 or more"));
  if (!reason || reason->trimmed().isEmpty()) c.args.fail(QStringLiteral("--reason TEXT is needed: why"));
  return withArchive(c, Access::Write, [&](DoseArchive& archive) -> int {
    Person p;
    if (const int exitCode = person(c, archive, words[0], &p)) return exitCode;
    if (const int rc = archive.addNotionalDose(p.id, *period, dose, *reason))
      return archiveFailure(c.io, archive, rc);
    c.io.out << "Notional dose of " << PlainField(PersonText(p)) << " for " << period->label << ": "
             << ArchiveNumber(dose) << " µSv" << Qt::endl;
    return kExitOk;
  });
}

int runSign(Context& c) {
  const std::optional<ReportPeriod> period = periodOption(c.args, QStringLiteral("--period"), true);
  const std::optional<QString> by = c.args.value(QStringLiteral("--by"));
  const bool withOpen = c.args.flag(QStringLiteral("--with-open-items"));
  if (!by || by->trimmed().isEmpty()) c.args.fail(QStringLiteral("--by NAME is needed: who signs"));
  if (!noMoreWords(c, QStringLiteral("sign"))) return usageError(c.io, kCommand, c.args.error());
  if (!hasGraphics()) return noGraphics(c, QStringLiteral("sign"));
  return withArchive(c, Access::Write, [&](DoseArchive& archive) -> int {
    SignoffOutcome outcome;
    QString detail;
    if (const int rc = SignPeriod(archive, *period, *by, withOpen, ReadArchiveSettings(c.io.configPath),
                                  ArchiveNow(), &outcome, &detail))
      return failure(c.io, rc, archiveContext(archive.location(), detail));
    c.io.out << SignoffLine(outcome) << Qt::endl;
    return kExitOk;
  });
}

int runSigned(Context& c) {
  return runListing<Signoff>(c, QStringLiteral("signed"), std::nullopt, all(&DoseArchive::signoffs),
                             SignedCsvHeader(), SignedCsvRow, SignedTextRow);
}

int runLog(Context& c) {
  LogQuery query;
  query.from = dateOption(c.args, QStringLiteral("--from"), false);
  query.to = dateOption(c.args, QStringLiteral("--to"), true);
  const std::optional<QString> who = c.args.value(QStringLiteral("--person"));
  // Read and printed a page at a time: the log grows for as long as the
  // archive is kept.
  const auto read = [query](DoseArchive& archive, const QString& personId,
                            const std::function<bool(const LogEntry&)>& row) mutable {
    query.personId = personId;
    return archive.changeLog(query, row);
  };
  return runStreamedListing<LogEntry>(c, QStringLiteral("log"), who, read, LogCsvHeader(), LogCsvRow,
                                      LogTextRow);
}

// --- Calibration runs and control dosimeters ---------------------------------

int runCalibrations(Context& c) {
  const std::optional<QString> dosimeter = c.args.value(QStringLiteral("--dosimeter"));
  const bool csv = c.args.flag(QStringLiteral("--csv"));
  checkDosimeter(c.args, dosimeter);
  noMoreWords(c, QStringLiteral("calibrations"));
  return withArchive(c, Access::Read, [&](DoseArchive& archive) -> int {
    QStringList lines;
    if (dosimeter) {
      std::vector<FactorHistoryEntry> history;
      if (const int rc = archive.factorHistory(*dosimeter, &history))
        return archiveFailure(c.io, archive, rc);
      for (const FactorHistoryEntry& e : history) lines << FactorHistoryRow(e, csv);
      printTable(c.io, csv, FactorHistoryCsvHeader(), lines);
      return kExitOk;
    }
    std::vector<CalibrationRecord> runs;
    if (const int rc = archive.calibrations(&runs)) return archiveFailure(c.io, archive, rc);
    for (const CalibrationRecord& r : runs) lines << CalibrationRunRows(r, csv);
    printTable(c.io, csv, CalibrationRunCsvHeader(), lines);
    return kExitOk;
  });
}

int runControlMark(Context& c) {
  const std::optional<QString> knownText = c.args.value(QStringLiteral("--known"));
  const std::optional<QDateTime> from = dateOption(c.args, QStringLiteral("--from"), false);
  const QStringList words = c.args.positional();
  if (words.size() != 1) c.args.fail(QStringLiteral("archive controls mark needs the DOSIMETER"));
  bool ok = false;
  const double known = knownText ? knownText->toDouble(&ok) : 0;
  if (!knownText || !ok)
    c.args.fail(QStringLiteral(
        "--known USV is needed: the control's known dose per read-out (0 for a background control)"));
  if (c.args.ok())
    if (const QString e = ControlMarkError({words[0], known, from.value_or(ArchiveNow()), QString()});
        !e.isEmpty())
      c.args.fail(e);
  return withArchive(c, Access::Write, [&](DoseArchive& archive) -> int {
    ControlMark stored;
    if (const int rc = archive.markControl(words[0], known, from, &stored))
      return archiveFailure(c.io, archive, rc);
    c.io.out << ControlMarkLine(stored) << Qt::endl;
    return kExitOk;
  });
}

// The stored batches, those of the period when one is given.
// Returns the exit code.
int controlBatches(Context& c, DoseArchive& archive, const std::optional<ReportPeriod>& period,
                   std::vector<ControlBatch>* batches) {
  if (const int rc = archive.controlBatches(batches)) return archiveFailure(c.io, archive, rc);
  if (period) {
    const QString from = period->from.toString(QStringLiteral("yyyy-MM-dd")),
                  to = period->to.toString(QStringLiteral("yyyy-MM-dd"));
    std::erase_if(*batches, [&](const ControlBatch& b) { return b.day < from || b.day > to; });
  }
  return kExitOk;
}

int runControlList(Context& c) {
  const std::optional<ReportPeriod> period = periodOption(c.args, QStringLiteral("--period"), false);
  const bool csv = c.args.flag(QStringLiteral("--csv"));
  noMoreWords(c, QStringLiteral("controls list"));
  return withArchive(c, Access::Read, [&](DoseArchive& archive) -> int {
    std::vector<ControlBatch> batches;
    if (const int exitCode = controlBatches(c, archive, period, &batches)) return exitCode;
    QStringList lines;
    for (const ControlBatch& b : batches) lines << ControlBatchRows(b, archive.controlTolerance(), csv);
    printTable(c.io, csv, ControlBatchCsvHeader(), lines);
    return kExitOk;
  });
}

int runControlMarked(Context& c) {
  const bool csv = c.args.flag(QStringLiteral("--csv"));
  noMoreWords(c, QStringLiteral("controls marked"));
  return withArchive(c, Access::Read, [&](DoseArchive& archive) -> int {
    std::vector<ControlMark> marks;
    if (const int rc = archive.controlMarks(&marks)) return archiveFailure(c.io, archive, rc);
    QStringList lines;
    for (const ControlMark& m : marks) lines << ControlMarkRow(m, csv);
    printTable(c.io, csv, ControlMarkCsvHeader(), lines);
    return kExitOk;
  });
}

int runControlChart(Context& c) {
  const std::optional<ReportPeriod> period = periodOption(c.args, QStringLiteral("--period"), false);
  const std::optional<QString> pdf = c.args.value(QStringLiteral("--pdf"));
  if (!pdf || pdf->isEmpty()) c.args.fail(QStringLiteral("--pdf OUT.pdf is needed"));
  if (!noMoreWords(c, QStringLiteral("controls chart"))) return usageError(c.io, kCommand, c.args.error());
  if (!hasGraphics()) return noGraphics(c, QStringLiteral("controls chart"));
  return withArchive(c, Access::Read, [&](DoseArchive& archive) -> int {
    if (const int rc = checkPdfOutput(c, archive, *pdf)) return rc;
    std::vector<ControlBatch> batches;
    if (const int exitCode = controlBatches(c, archive, period, &batches)) return exitCode;
    const ControlChartData chart = MakeControlChart(batches, archive.controlTolerance(), period);
    const QStringList heading = {
        QStringLiteral("Dose archive: %1").arg(archive.location().displayText()),
        period ? QStringLiteral("Period: %1, %2 to %3")
                     .arg(period->label, LocalDateText(period->from), LocalDateText(period->to))
               : QStringLiteral("The last %1 batches of each kind").arg(3 * kControlBaseline),
        QStringLiteral("Printed ") + LocalTimeText(ArchiveTimeText(ArchiveNow()))};
    QString detail;
    if (const int rc = WriteControlChartPdf(chart, heading, *pdf, &detail)) return failure(c.io, rc, detail);
    int points = 0, out = 0;
    for (const ControlSeries& s : chart.series)
      for (const ControlChartPoint& p : s.points) {
        ++points;
        out += p.out;
      }
    c.io.out << *pdf << ": " << points << " batch figures, " << out << " out of limits" << Qt::endl;
    return kExitOk;
  });
}

struct Subcommand {
  const char* name;
  int (*run)(Context&);
};

// Runs the subcommand the words begin with on the words after it, once the
// words before were sound; nothing when no subcommand has that name.
std::optional<int> runSubcommand(std::span<const Subcommand> table, const QStringList& words, Context& c) {
  for (const Subcommand& s : table)
    if (words.value(0) == QLatin1String(s.name)) {
      if (!c.args.ok()) return usageError(c.io, kCommand, c.args.error());
      Args rest(words.mid(1));
      Context inner{rest, c.io, c.db};
      return s.run(inner);
    }
  return std::nullopt;
}

int runControls(Context& c) {
  const Subcommand kControlCommands[] = {{"mark", runControlMark},
                                         {"chart", runControlChart},
                                         {"list", runControlList},
                                         {"marked", runControlMarked}};
  if (const std::optional<int> exitCode = runSubcommand(kControlCommands, c.args.remaining(), c))
    return *exitCode;
  return usageError(
      c.io, kCommand,
      QStringLiteral("archive controls takes mark ID --known USV [--from DATE], chart --pdf OUT.pdf "
                     "[--period P], list [--period P] [--csv] or marked [--csv]"));
}

int run(Args& args, CliIO& io) {
  const std::optional<QString> db = args.value(QStringLiteral("--db"));
  // An unset variable in a script gives "--db ''": that is no archive, and
  // never the default one.
  if (db && db->trimmed().isEmpty())
    return usageError(io, kCommand,
                      QStringLiteral("--db needs an archive (a file or a postgresql:// address)"));
  const QStringList& words = args.remaining();
  const QString sub = words.isEmpty() ? QString() : words.first();
  const Subcommand kSubcommands[] = {{"import", runImport},
                                     {"assign", runAssign},
                                     {"end", runEnd},
                                     {"person", runPerson},
                                     {"persons", runPersons},
                                     {"periods", runPeriods},
                                     {"history", runHistory},
                                     {"totals", runTotals},
                                     {"alerts", runAlerts},
                                     {"check", runCheck},
                                     {"report", runReport},
                                     {"upgrade", runUpgrade},
                                     {"review", runReview},
                                     {"resolve", runResolve},
                                     {"notional", runNotional},
                                     {"sign", runSign},
                                     {"signed", runSigned},
                                     {"log", runLog},
                                     {"calibrations", runCalibrations},
                                     {"controls", runControls}};
  Context c{args, io, db};
  if (const std::optional<int> exitCode = runSubcommand(kSubcommands, words, c)) return *exitCode;
  return usageError(io, kCommand,
                    sub.isEmpty() ? QStringLiteral("archive needs what to do")
                                  : QStringLiteral("unknown archive command \"%1\"").arg(sub));
}

const CommandRegistrar registrar(
    {"archive",
     "archive [--db URL] import FILE.dat... | assign DOSIMETER PERSON --from DATE [--to DATE] | "
     "end DOSIMETER --at DATE | person add ID NAME | person rename ID NAME | persons [--csv] | "
     "periods [--dosimeter ID | --person P] [--csv] | periods import FILE.csv | "
     "history (--dosimeter ID | --person P) [--from DATE] [--to DATE] [--csv] | "
     "totals [--person P] [--at DATE] [--csv] | alerts [--from DATE] [--level USV] [--csv] | check | "
     "report (--person P | --all) (--period 2026Q3|2026 | --signed 2026Q3|2026) --pdf OUT.pdf | upgrade | "
     "review [--period P] [--csv] | resolve READOUT (--accept | --reevaluate START LENGTH NORM | --exclude) "
     "--reason TEXT | notional PERSON --period P --dose USV --reason TEXT | "
     "sign --period P --by NAME [--with-open-items] | signed [--csv] | "
     "log [--from DATE] [--to DATE] [--person P] [--csv] | calibrations [--dosimeter ID] [--csv] | "
     "controls mark ID --known USV [--from DATE] | controls chart --pdf OUT.pdf [--period P] | "
     "controls list [--period P] [--csv] | controls marked [--csv]",
     "the dose archive: import data files (each read-out once; records that are no read-outs refused), "
     "persons (an id and a name), wear periods of dosimeters (assigned, ended, or imported from a wearer "
     "list person_id,name,dosimeter,from,to in UTF-8), a dosimeter's or person's read-outs with the dose of "
     "record (the reader's), quarter-to-date, year-to-date and lifetime totals, read-outs at or above a "
     "level, the check of what is stored, and a person's dose report or the service summary of a quarter or "
     "a year as PDF. The review list (error flags, no dose, unassigned, conflicts, a recomputed dose beyond "
     "[Dose archive] RecomputeTolerance) is resolved with a reason: accept, adopt a re-evaluation, or "
     "exclude; a notional dose stands for a lost dosimeter. sign stores a period's reports with their "
     "SHA-256; a report of a period changed since is a corrected report; report --signed writes the stored "
     "bytes back. Every change is in the change log (log), whose rows are never changed and are chained by "
     "SHA-256 (check). calibrations lists the calibration runs kept, or a dosimeter's factors with the "
     "factor in force at each of its read-outs. A control dosimeter has a known dose per read-out (0: a "
     "background control); each reader's day is a batch, held against the 20 batches before it: one beyond "
     "3 SD (or [Dose archive] ControlTolerance, percent) puts its read-outs on the review list. P is a "
     "person's id or a name exactly one person has. A read-out belongs to the wear period of its dosimeter "
     "that began last at or before it. Reading commands open the archive for reading only; a writing "
     "command upgrades an older archive (upgrade does only that). URL: sqlite:PATH, a path, or "
     "postgresql://user@host[:port]/dbname, the password best in ~/.pgpass or PGPASSWORD, never in a "
     "script; by default [Dose archive] Database of the configuration file, else quelm/archive.sqlite in "
     "the user's data folder. Dates: YYYY-MM-DD or \"YYYY-MM-DD HH:MM\" in the reader's time, for log in "
     "UTC as it lists its times; a date alone as an upper bound takes in the whole day",
     run});

}  // namespace
}  // namespace quelm::cli
