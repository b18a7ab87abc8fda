#include "calibration/CalibrationJob.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "archive/ArchiveTime.h"
#include "base/Config.h"
#include "base/DataFiles.h"
#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/EventWait.h"
#include "base/IniFile.h"
#include "base/ServiceLevel.h"
#include "base/SmallFile.h"
#include "base/UserLocale.h"
#include "calibration/CalibrationArchive.h"
#include "calibration/ReadoutSource.h"
#include "link/CommandChannel.h"
#include "parameters/BulbParamBlock.h"
#include "parameters/DosimeterTableJob.h"

namespace quelm {
namespace {

const QString kTitle = QStringLiteral("Calibration");
// A dose file is a short list; anything larger is no such list.
constexpr qsizetype kMaxDoseFileBytes = 4 << 20;

// What decides how a read-out is evaluated besides the factor, in a table
// and in a read-out: where a table differs from the read-out, the factor
// would give another dose with it.
struct Evaluation {
  uint8_t start, length;
  float dtfa, dtfb, dlfa, dlfb, dlfn;
};
Evaluation evaluationOf(const BulbParamRecord& t) {
  return {t.EVASTART, t.EVALEN, t.DTFA, t.DTFB, t.DLFA, t.DLFB, t.DLFN};
}
Evaluation evaluationOf(const BlockRecord& r) {
  return {r.EVASTART, r.EVALEN, r.DTFA, r.DTFB, r.DLFA, r.DLFB, r.DLFN};
}
// The keys that differ; empty when none does.
QString difference(const Evaluation& a, const Evaluation& b) {
  QStringList keys;
  if (a.start != b.start) keys << QStringLiteral("EVASTART");
  if (a.length != b.length) keys << QStringLiteral("EVALEN");
  const std::pair<const char*, std::pair<float, float>> reals[] = {{"DTFA", {a.dtfa, b.dtfa}},
                                                                   {"DTFB", {a.dtfb, b.dtfb}},
                                                                   {"DLFA", {a.dlfa, b.dlfa}},
                                                                   {"DLFB", {a.dlfb, b.dlfb}},
                                                                   {"DLFN", {a.dlfn, b.dlfn}}};
  for (const auto& [key, values] : reals)
    if (!(values.first == values.second)) keys << QLatin1String(key);
  return keys.join(QStringLiteral(", "));
}

// The table fields a read-out carries, for a default table that has no
// file to start from.
void takeFromReadout(BulbParamRecord& t, const BlockRecord& r) {
  t.EVASTART = r.EVASTART;
  t.EVALEN = r.EVALEN;
  t.DTFA = r.DTFA;
  t.DTFB = r.DTFB;
  t.DLFA = r.DLFA;
  t.DLFB = r.DLFB;
  t.DLFN = r.DLFN;
  t.TS = r.SamplingSpeed;
}

// The source read on a thread of its own (a database connection is opened,
// used and closed there), waited for in the event loop as the archive
// window waits for its queries; without an application object, plainly.
// *held: how many read-outs the source holds; above the run's limit none is
// taken.
int fetchAside(ReadoutSource& source, std::vector<CalibrationReadout>* readouts, qint64* held,
               QString* context) {
  int rc = kOk;
  QCoreApplication* app = QCoreApplication::instance();
  bool done = false;  // on this thread only
  const std::unique_ptr<QThread> thread(QThread::create([&] {
    rc = source.FetchAtMost(kMaxCalibrationReadouts, readouts, held, context);
    if (app)
      QMetaObject::invokeMethod(
          app, [&done] { done = true; }, Qt::QueuedConnection);
  }));
  thread->setObjectName(QStringLiteral("Calibration read-outs"));
  thread->start();
  // The window paints meanwhile; clicks and keys wait for the answer.
  if (app) waitUntil([&] { return done; }, WaitInput::Excluded);
  thread->wait();
  return rc;
}

LookupChoice askThroughPrompter(int entries) {
  const CalibTextEntry& e = calibTextEntry(CalibText::LookupQuestion);
  const StandardButton b =
      showMessage(e.kind, kTitle, calibText(CalibText::LookupQuestion, {QString::number(entries)}),
                  Yes | No | Cancel, Cancel);
  return b == Yes ? LookupChoice::Overwrite : b == No ? LookupChoice::NewOnly : LookupChoice::Cancel;
}

}  // namespace

CalibrationJob::CalibrationJob() : serviceLevel_(serviceLevel()) {
  askLookupWrite = askThroughPrompter;
  whoIsCalibrating = operatingSystemUser;
  now = [] { return QDateTime::currentDateTime(); };
  run_.outlierSd = kDefaultOutlierSd;
  updateControls();
}

CalibrationJob::~CalibrationJob() = default;

void CalibrationJob::changed() {
  if (onChanged) onChanged();
}

void CalibrationJob::updateControls() {
  bool used = false;
  for (const CalibrationRow& row : run_.rows) used = used || row.used();
  const bool idle = !writing_ && !loading_;
  controls_.inputs = idle;
  controls_.keep = Ready() && idle;
  controls_.writeReports = Ready() && idle;
  controls_.writeDpt = controls_.writeReports && used;
  controls_.writeLookup = controls_.writeDpt && serviceLevel_ && readerAvailable_;
  controls_.abort = writing_;
}

CalibrationControls CalibrationJob::Controls() const {
  // The archive is the front end's to set at any time.
  CalibrationControls c = controls_;
  c.archive = static_cast<bool>(locateArchive);
  c.keepRun = c.writeReports && c.archive;
  return c;
}

QString ShowCalibrationOutcome(const CalibrationOutcome& o,
                               const std::function<void(const ListNotice&)>& showList) {
  QStringList notes, shown;
  MessageKind kind = MessageKind::Information;
  for (const CalibReport& r : o.reports) {
    if (r.code != 0) {
      if (!r.context.isEmpty()) explainNextReport(r.code, r.context);
      ReportFailure(r.code);
      continue;
    }
    const CalibTextEntry& e = calibTextEntry(r.text);
    if (e.kind == MessageKind::Information) {
      notes << calibText(r.text, r.args);
    } else {
      shown << calibText(r.text, r.args);
      if (kind != MessageKind::Error)
        kind = e.kind == MessageKind::Error ? MessageKind::Error : MessageKind::Warning;
    }
  }
  TraceLine trace(QStringLiteral("TCalibrationForm::WriteLookup(): "));
  for (const auto& [id, outcome] : o.entries)
    ShowParamOutcome(outcome, kTitle + QStringLiteral(": ") + id, trace);
  if (shown.size() > kMaxBoxLines && showList) {
    // A box with a line per entry of a large batch would outgrow the screen.
    ListNotice notice;
    notice.kind = kind;
    notice.title = QStringLiteral("%1: %2 messages").arg(kTitle).arg(shown.size());
    notice.columns = {{QStringLiteral("Message")}};
    for (const QString& line : shown) notice.rows.push_back({{line}, {}});
    showList(notice);
  } else if (!shown.isEmpty()) {
    showMessage(kind, kTitle, shown.join(QLatin1Char('\n')));
  }
  return notes.join(QStringLiteral("; "));
}

void CalibrationJob::recompute() {
  // Another input is another run: nothing is written of it yet.
  keptRun_.reset();
  run_.csvFile.clear();
  run_.pdfFile.clear();
  run_.dptFiles.clear();
  run_.lookup.clear();
  run_.user = whoIsCalibrating();
  run_.program = QStringLiteral("Quelm ") + programVersion();
  run_.computedAt = now();
  ++revision_;
  if (Ready()) {
    EvaluateCalibration(run_);
  } else {
    for (CalibrationRow& row : run_.rows) {
      row.factor.reset();
      row.ratio.reset();
      row.kept = row.beyondLimit = false;
    }
    run_.batches.clear();
  }
  updateControls();
  changed();
}

CalibrationOutcome CalibrationJob::notReady() const {
  CalibrationOutcome o;
  o.refuse(CalibText::NotReady);
  return o;
}

void CalibrationJob::SetReaderAvailable(bool available) {
  readerAvailable_ = available;
  updateControls();
  changed();
}

// --- Input ---------------------------------------------------------------------

CalibrationOutcome CalibrationJob::Load(ReadoutSource& source) {
  CalibrationOutcome o;
  if (writing_ || loading_) {
    o.kind = CalibrationOutcome::kNothing;
    return o;
  }
  std::vector<CalibrationReadout> readouts;
  qint64 held = 0;
  QString context;
  int rc = kOk;
  {
    BusyScope busy(onBusy);
    loading_ = true;
    updateControls();
    changed();
    rc = fetchAside(source, &readouts, &held, &context);
    loading_ = false;
    updateControls();
  }
  // Too many comes first: a source that only counted has not looked for
  // the dosimeters it misses.
  if (rc) {
    o.fail(rc, context);
  } else if (held > kMaxCalibrationReadouts) {
    o.refuse(CalibText::TooManyReadouts,
             {source.Description(), QString::number(held), QString::number(kMaxCalibrationReadouts)});
  } else if (const QStringList missing = source.Missing(); !missing.isEmpty()) {
    o.refuse(CalibText::MissingReadouts, {missing.join(QStringLiteral(", ")), source.Description()});
  } else if (readouts.empty()) {
    o.refuse(CalibText::NoReadouts, {source.Description()});
  }
  if (o.kind != CalibrationOutcome::kDone) {
    changed();  // the inputs are on again, the run as it was
    return o;
  }
  run_.source = source.Description();
  sourceFiles_ = source.Files();
  run_.rows = MakeCalibrationRows(readouts);
  recompute();
  return o;
}

CalibrationOutcome CalibrationJob::LoadFromArchive(const QString& dosimeterText, const QString& fromText,
                                                   const QString& toText) {
  CalibrationOutcome o;
  QStringList dosimeters;
  if (const QString e = ParseDosimeterList(dosimeterText, &dosimeters); !e.isEmpty()) {
    o.refuse(CalibText::ArchiveSpan, {e});
    return o;
  }
  const std::optional<QDateTime> from = ParseUserBound(fromText, false), to = ParseUserBound(toText, true);
  if (!from || !to) {
    o.refuse(CalibText::ArchiveSpan,
             {QStringLiteral("read from \"%1\" to \"%2\": dates such as %3 or %4")
                  .arg(fromText, toText, QDate(2026, 3, 2).toString(userLocale().shortDateFormat),
                       QStringLiteral("2026-03-02"))});
    return o;
  }
  if (*to < *from) {
    o.refuse(CalibText::ArchiveSpan, {QStringLiteral("the span ends before it begins")});
    return o;
  }
  ArchiveLocation location;
  if (!locate(o, &location)) return o;
  ArchiveReadouts source(location, dosimeters, *from, *to);
  return Load(source);
}

CalibrationOutcome CalibrationJob::SetDose(double usv) {
  CalibrationOutcome o;
  if (writing_) {
    o.kind = CalibrationOutcome::kNothing;
  } else if (!isDeliveredDose(usv)) {
    o.refuse(CalibText::BadDose, {QString::number(usv)});
  } else {
    run_.dose = DeliveredDose{};
    run_.dose.all = usv;
    doseFile_.clear();
    recompute();
  }
  return o;
}

CalibrationOutcome CalibrationJob::SetDoseText(const QString& text) {
  const std::optional<double> usv = parseUserFloat(text);
  if (!usv || !isDeliveredDose(*usv)) {
    CalibrationOutcome o;
    o.refuse(CalibText::BadDose, {text});
    ClearDose();
    return o;
  }
  return SetDose(*usv);
}

void CalibrationJob::ClearDose() {
  if (writing_ || !run_.dose.given()) return;
  run_.dose = DeliveredDose{};
  doseFile_.clear();
  recompute();
}

CalibrationOutcome CalibrationJob::LoadDoseFile(const QString& path) {
  CalibrationOutcome o;
  if (writing_) {
    o.kind = CalibrationOutcome::kNothing;
    return o;
  }
  QByteArray bytes;
  switch (ReadSmallFile(path, kMaxDoseFileBytes, &bytes)) {
    case SmallFileResult::Read:
      break;
    case SmallFileResult::Missing:
      o.fail(noteFileFailure(kErrFileOpen, path, ENOENT), path);
      return o;
    case SmallFileResult::Unreadable:
      o.fail(noteFileFailure(
                 kErrFileRead, path,
                 QStringLiteral("no plain file, unreadable or larger than %1 bytes").arg(kMaxDoseFileBytes)),
             path);
      return o;
  }
  std::map<QString, double> doses;
  if (const QString error = ParseDoseCsv(bytes, &doses); !error.isEmpty()) {
    o.refuse(CalibText::DoseFile, {path, error});
    return o;
  }
  run_.dose = DeliveredDose{};
  run_.dose.perDosimeter = std::move(doses);
  run_.dose.file = QFileInfo(path).fileName();
  doseFile_ = path;
  recompute();
  return o;
}

void CalibrationJob::SetNote(const QString& note) {
  if (writing_ || note == run_.note) return;
  run_.note = note;
  changed();
}

CalibrationOutcome CalibrationJob::SetOutlierSd(double limit) {
  CalibrationOutcome o;
  if (writing_) {
    o.kind = CalibrationOutcome::kNothing;
  } else if (!isOutlierLimit(limit)) {
    o.refuse(CalibText::BadOutlierSd, {QString::number(limit)});
  } else {
    run_.outlierSd = limit;
    recompute();
  }
  return o;
}

CalibrationOutcome CalibrationJob::SetOutlierSdText(const QString& text) {
  const std::optional<double> limit = parseUserFloat(text);
  if (!limit || !isOutlierLimit(*limit)) {
    CalibrationOutcome o;
    o.refuse(CalibText::BadOutlierSd, {text});
    return o;
  }
  return SetOutlierSd(*limit);
}

void CalibrationJob::SetKept(int row, bool kept) {
  if (writing_ || row < 0 || row >= static_cast<int>(run_.rows.size())) return;
  CalibrationRow& r = run_.rows[static_cast<size_t>(row)];
  if (!r.outlier() || r.kept == kept) return;
  r.kept = kept;
  ++revision_;
  keptRun_.reset();
  run_.csvFile.clear();
  run_.pdfFile.clear();
  run_.dptFiles.clear();
  run_.lookup.clear();
  UpdateBatchFigures(run_);
  updateControls();
  changed();
}

// --- Files -----------------------------------------------------------------------

QStringList CalibrationJob::KeptFiles(const QStringList& others) const {
  QStringList kept = sourceFiles_ + others;
  if (!doseFile_.isEmpty()) kept << doseFile_;
  ArchiveLocation location;
  QString detail;
  if (locateArchive && locateArchive(&location, &detail) == kOk) kept << location.files();
  return kept;
}

int CalibrationJob::refuseOutput(CalibrationOutcome& o, const QString& path, const QStringList& own) const {
  QStringList others = run_.dptFiles;
  others << run_.csvFile << run_.pdfFile;
  others.removeAll(QString());
  for (const QString& mine : own) others.removeAll(mine);
  const int rc = refuseSameFile(path, KeptFiles(others));
  if (rc) o.fail(rc, path);
  return rc;
}

CalibrationOutcome CalibrationJob::WriteCsv(const QString& path) {
  if (!controls_.writeReports) return notReady();
  CalibrationOutcome refused;
  if (refuseOutput(refused, path, {run_.csvFile})) return refused;
  BusyScope busy(onBusy);
  return reportWritten(writeDataFile(path, CalibrationCsv(run_), WriteMode::Replace), path, &run_.csvFile,
                       CalibText::CsvWritten);
}

CalibrationOutcome CalibrationJob::WriteCertificate(const QString& path) {
  if (!controls_.writeReports) return notReady();
  CalibrationOutcome o;
  if (!writePdf) {
    o.failWith(CalibText::NoPrinting);
    return o;
  }
  if (refuseOutput(o, path, {run_.pdfFile})) return o;
  BusyScope busy(onBusy);
  return reportWritten(writePdf(BuildCertificate(run_), path), path, &run_.pdfFile, CalibText::PdfWritten);
}

CalibrationOutcome CalibrationJob::reportWritten(int rc, const QString& path, QString* file,
                                                 CalibText written) {
  CalibrationOutcome o;
  if (rc) {
    o.fail(rc, path);
    return o;
  }
  *file = path;
  o.note(written, {path});
  keep(o);
  changed();
  return o;
}

std::vector<std::pair<QChar, QString>> CalibrationJob::DptFiles(const QString& path) const {
  std::vector<std::pair<QChar, QString>> files;
  for (const BatchFigures& b : run_.batches)
    if (b.mean) files.emplace_back(b.type, path);
  if (files.size() > 1) {
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QStringLiteral("dpt") : info.suffix();
    for (auto& [type, name] : files)
      name = info.dir().filePath(QStringLiteral("%1-%2.%3").arg(info.completeBaseName(), type, suffix));
  }
  return files;
}

CalibrationOutcome CalibrationJob::WriteDpt(const QString& path) {
  if (!controls_.writeDpt) {
    CalibrationOutcome o = notReady();
    if (controls_.writeReports) o.reports.back().text = CalibText::NoFactors;
    return o;
  }
  CalibrationOutcome o;
  const std::vector<std::pair<QChar, QString>> files = DptFiles(path);
  for (const auto& typeAndFile : files)
    if (refuseOutput(o, typeAndFile.second, run_.dptFiles)) return o;
  BusyScope busy(onBusy);
  for (const auto& [type, file] : files) {
    const BatchFigures& figures = *run_.batchOf(type);
    // One default factor serves read-outs evaluated alike only.
    const CalibrationRow* first = nullptr;
    bool mixed = false;
    for (const CalibrationRow& row : run_.rows) {
      if (!row.used() || row.type() != type) continue;
      if (!first) {
        first = &row;
      } else if (!difference(evaluationOf(first->readout.record), evaluationOf(row.readout.record))
                      .isEmpty()) {
        mixed = true;
      }
    }
    if (mixed) {
      o.failWith(CalibText::DptMixedTables, {QString(type)});
      continue;
    }
    TBulbParamBlock table;
    const bool hasTable =
        fileKind(file) == FileKind::Regular && IniFile(file).SectionExists(kDefaultKeySection);
    if (hasTable) {
      if (const int rc = table.ReadFileBlock(file)) {
        o.fail(rc, file);
        continue;
      }
      if (QChar(QLatin1Char(table.Record.KTYPE)) != type) {
        o.failWith(CalibText::DptOtherType, {file, QString(QLatin1Char(table.Record.KTYPE)), QString(type)});
        continue;
      }
      if (const QString diff = difference(evaluationOf(table.Record), evaluationOf(first->readout.record));
          !diff.isEmpty()) {
        o.failWith(CalibText::TableDiffers, {file, diff});
        continue;
      }
    } else {
      std::memset(&table.Record, 0, sizeof table.Record);
      table.Record.KTYPE = static_cast<char>(type.toLatin1());
      table.Record.ERRMASK = 255;
      takeFromReadout(table.Record, first->readout.record);
      o.note(CalibText::DptFromReadouts, {file, QString(type)});
    }
    table.Record.EVANORM = static_cast<float>(*figures.mean);
    if (const int rc = table.WriteFileBlock(file)) {
      o.fail(rc, file);
      continue;
    }
    run_.dptFiles << file;
    o.note(CalibText::DptWritten, {file, QString(type), FactorText(*figures.mean)});
  }
  if (!run_.dptFiles.isEmpty()) keep(o);
  changed();
  return o;
}

// --- The look-up entries ------------------------------------------------------------

CalibrationOutcome CalibrationJob::WriteLookup() {
  CalibrationOutcome o;
  if (!controls_.writeLookup) {
    if (!controls_.writeReports) return notReady();
    o.kind = CalibrationOutcome::kNothing;
    if (!controls_.writeDpt) o.refuse(CalibText::LookupNothingToWrite);
    return o;
  }
  std::vector<size_t> rows;
  for (size_t i = 0; i < run_.rows.size(); ++i)
    if (run_.rows[i].used()) rows.push_back(i);
  const LookupChoice choice = askLookupWrite(static_cast<int>(rows.size()));
  if (choice == LookupChoice::Cancel) {
    o.kind = CalibrationOutcome::kNothing;
    return o;
  }
  // The reader's factors never change unrecorded: with an archive set up
  // the run is stored before the first entry goes out (and updated with
  // each entry written); a run that cannot be stored leaves the reader
  // untouched.
  keep(o);
  if (o.kind == CalibrationOutcome::kFailed) {
    o.failWith(CalibText::LookupNotKept);
    changed();
    return o;
  }

  // One job on the line from the first entry's check to the last one's
  // read-back: no other program gets in between them.
  LineHold line;
  writing_ = true;
  abort_.clear();
  progress_ = {0, static_cast<int>(rows.size()), QString()};
  // What an earlier write of this run put into the reader stays recorded:
  // a second write that keeps those entries does not undo the first.
  updateControls();
  changed();

  DosimeterTableJob tableJob;
  tableJob.onBusy = onBusy;
  // Nothing the reader's table holds is limited on the way unseen.
  tableJob.Policy = LimitPolicy::Refuse;
  tableJob.confirm = [choice](ParamText question) {
    return question == ParamText::AreYouSure || choice == LookupChoice::Overwrite;
  };
  int written = 0, kept = 0;
  bool stopped = false;
  // Each entry the reader took is recorded before the next one goes out,
  // so that the reader is never more than the entry in flight ahead of the
  // archive; a record that fails ends the write. The run's update is told
  // once, at the end.
  std::optional<CalibReport> updated;
  const auto record = [&](const QString& id) {
    CalibrationOutcome k;
    keep(k);
    for (CalibReport& r : k.reports) {
      if (r.text == CalibText::RunUpdated)
        updated = std::move(r);
      else
        o.reports.push_back(std::move(r));
    }
    if (k.kind != CalibrationOutcome::kFailed) return true;
    o.failWith(CalibText::LookupNotRecorded, {id});
    return false;
  };
  // What the reader is known to hold for the entry now: the factor read
  // back, or none when its entry was deleted and the new one did not get in.
  const auto holds = [&](const QString& id, std::optional<float> factor) {
    std::erase_if(run_.lookup, [&id](const LookupWritten& w) { return w.dosimeter == id; });
    run_.lookup.push_back({id, factor});
    return record(id);
  };
  for (const size_t index : rows) {
    if (abort_.take()) {
      stopped = true;
      break;
    }
    const CalibrationRow& row = run_.rows[index];
    const QString& id = row.dosimeter;
    progress_.current = id;
    changed();
    const auto done = [this] {
      ++progress_.done;
      changed();
    };

    // The entry's base: the reader's own entry, or the type's default table.
    TBulbParamBlock base;
    std::memcpy(&base.Record, id.toLatin1().constData(), kIdentifierBytes);
    int rc = base.ReadLUTBlock();
    const bool exists = rc == 0;
    if (rc == kErrReaderRefused) {
      base.Record.KTYPE = static_cast<char>(row.type().toLatin1());
      rc = base.ReadCOMBlock();
      if (rc == 0 && QChar(QLatin1Char(base.Record.KTYPE)) != row.type()) {
        o.failWith(CalibText::LookupNoDefault, {id, QString(row.type())});
        done();
        continue;
      }
      std::memcpy(base.Record.KSN, id.toLatin1().constData() + 1, sizeof base.Record.KSN);
    }
    if (rc != 0) {
      o.fail(rc, id);
      break;
    }
    if (exists && choice == LookupChoice::NewOnly) {
      o.note(CalibText::LookupKept, {id});
      ++kept;
      done();
      continue;
    }
    if (const QString diff = difference(evaluationOf(base.Record), evaluationOf(row.readout.record));
        !diff.isEmpty()) {
      o.failWith(CalibText::TableDiffers, {id, diff});
      done();
      continue;
    }
    const float factor = static_cast<float>(*row.factor);
    base.Record.EVANORM = factor;
    tableJob.Table.Record = base.Record;
    tableJob.ChooseSource(TableSource::LookUp);
    tableJob.DataRefresh();
    const ParamOutcome written1 = tableJob.Write();
    if (!written1.reports.empty() || written1.kind != ParamOutcome::kDone)
      o.entries.emplace_back(id, written1);
    if (written1.kind == ParamOutcome::kNothing) {
      // The entry appeared since the check and the operator keeps it.
      o.note(CalibText::LookupKept, {id});
      ++kept;
      done();
      continue;
    }
    if (written1.kind != ParamOutcome::kDone) {
      o.kind = CalibrationOutcome::kFailed;
      // The parameter job found the reader without the entry after the
      // delete: the archive no longer shows a factor of it in force. When
      // what the reader holds is not known, nothing new is recorded.
      const bool deleted =
          std::any_of(written1.reports.begin(), written1.reports.end(),
                      [](const ParamReport& r) { return r.text == ParamText::EntryDeletedNotWritten; });
      const bool recorded = !deleted || holds(id, std::nullopt);
      // A line or a reader that fails, or a full table, fails the rest too.
      if (written1.kind == ParamOutcome::kFailed || !recorded) break;
      done();
      continue;
    }
    // The parameter job read the entry back into its table.
    const float back = tableJob.Table.Record.EVANORM;
    const bool same = std::memcmp(&tableJob.Table.Record, &base.Record, kIdentifierBytes) == 0;
    if (!same || !(back == factor)) {
      o.failWith(CalibText::LookupReadBack, {id, FactorText(back), FactorText(factor)});
      // The reader evaluates with the factor it gave back, so that is the
      // one recorded; an entry of another dosimeter tells nothing of its own.
      const bool recorded = !same || holds(id, back);
      done();
      if (!recorded) break;
      continue;
    }
    ++written;
    o.note(CalibText::LookupWritten, {id, FactorText(factor)});
    const bool recorded = holds(id, factor);
    done();
    if (!recorded) break;
  }
  if (stopped) {
    o.kind = CalibrationOutcome::kStopped;
    o.note(CalibText::LookupStopped, {QString::number(progress_.done), QString::number(progress_.total)});
  }
  o.note(CalibText::LookupSummary, {QString::number(written), QString::number(kept),
                                    QString::number(static_cast<int>(rows.size()) - written - kept)});
  if (updated) o.reports.push_back(std::move(*updated));
  writing_ = false;
  progress_.current.clear();
  updateControls();
  changed();
  return o;
}

// --- The dose archive --------------------------------------------------------------

bool CalibrationJob::locate(CalibrationOutcome& o, ArchiveLocation* location) const {
  if (!locateArchive) {
    o.refuse(CalibText::NoArchive);
    return false;
  }
  QString detail;
  if (const int rc = locateArchive(location, &detail)) {
    o.fail(rc, detail);
    return false;
  }
  return true;
}

void CalibrationJob::keep(CalibrationOutcome& o) {
  if (!locateArchive) return;
  const QString state = run_.note + QChar(0x1F) + WrittenText(run_);
  if (keptRun_ && state == keptState_) return;
  ArchiveLocation location;
  if (!locate(o, &location)) return;
  QString detail;
  qint64 id = keptRun_.value_or(0);
  BusyScope busy(onBusy);
  if (const int rc = KeepCalibrationRun(location, run_, &id, &detail)) {
    o.fail(rc, detail);
    return;
  }
  if (!detail.isEmpty()) o.note(CalibText::ArchiveUpgraded, {detail});
  if (keptRun_)
    o.note(CalibText::RunUpdated, {QString::number(id), WrittenText(run_)});
  else
    o.note(CalibText::RunKept, {QString::number(id)});
  keptRun_ = id;
  keptState_ = state;
}

CalibrationOutcome CalibrationJob::KeepRun() {
  if (!controls_.writeReports) return notReady();
  CalibrationOutcome o;
  if (!locateArchive) {
    o.refuse(CalibText::NoArchive);
    return o;
  }
  keep(o);
  changed();
  return o;
}

CalibrationOutcome CalibrationJob::LoadFactorHistory(const QString& dosimeter) {
  CalibrationOutcome o;
  if (const QString e = DosimeterIdError(dosimeter); !e.isEmpty()) {
    o.refuse(CalibText::HistoryDosimeter, {e});
    return o;
  }
  ArchiveLocation location;
  if (!locate(o, &location)) return o;
  std::vector<FactorHistoryEntry> entries;
  {
    QString detail;
    BusyScope busy(onBusy);
    if (const int rc = ReadFactorHistory(location, dosimeter, &entries, &detail)) {
      o.fail(rc, detail);
      return o;
    }
  }
  history_ = std::move(entries);
  historyDosimeter_ = NormalDosimeter(dosimeter);
  changed();
  return o;
}

}  // namespace quelm
