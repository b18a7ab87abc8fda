#pragma once
// The calibration workflow without the window: the read-outs of a run from
// a ReadoutSource, the delivered dose, the note and the outlier limit in;
// per read-out the chain's dose, the solved factor and its ratio to the
// batch mean, the batch figures and the outliers out; and the writes: the
// batch table (CSV), a default table per dosimeter type (.dpt, the batch
// mean as EVANORM), the certificate (PDF) and the reader's look-up entries
// (through DosimeterTableJob's own write sequence: check, overwrite
// question, delete, add, read back).
//
// TCalibrationForm paints the job and forwards its clicks; quelm-cli
// calibrate drives the same object. Decisions are callbacks; each operation
// returns a CalibrationOutcome and shows nothing itself. The figures are
// made again whenever an input changes.

#include <QDateTime>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "archive/ArchiveLocation.h"
#include "archive/CalibrationRecords.h"
#include "base/AbortToken.h"
#include "base/ListNotice.h"
#include "calibration/Calibration.h"
#include "calibration/CalibrationText.h"
#include "parameters/ParamJob.h"

namespace quelm {

class ReadoutSource;

// One thing an outcome tells: a text of the table with its arguments, or a
// result code with what it concerned (a file or a dosimeter).
struct CalibReport {
  CalibText text = CalibText::None;
  QStringList args;
  int code = 0;
  QString context;
};

struct CalibrationOutcome {
  enum Kind {
    kDone,     // done; reports may still hold notes
    kNothing,  // cancelled or declined: nothing was written
    kRefused,  // the input cannot be used: see reports
    kFailed,   // a file or reader operation failed: see reports
    kStopped,  // the operator stopped it; what was done stays
  };
  Kind kind = kDone;
  std::vector<CalibReport> reports;
  // Look-up entries whose write told something of its own (the parameter
  // job's texts and codes), by dosimeter.
  std::vector<std::pair<QString, ParamOutcome>> entries;

  void note(CalibText text, const QStringList& args = {}) { reports.push_back({text, args, 0, QString()}); }
  void refuse(CalibText text, const QStringList& args = {}) {
    kind = kRefused;
    note(text, args);
  }
  void fail(int code, const QString& context) {
    kind = kFailed;
    reports.push_back({CalibText::None, {}, code, context});
  }
  void failWith(CalibText text, const QStringList& args = {}) {
    kind = kFailed;
    note(text, args);
  }
};

// The window's way: the notes of a finished operation come back as lines
// (for its status line); warnings, refusals and failures are shown in one
// box titled "Calibration", each code through ReportError with what it
// concerned, each look-up entry's own texts with ShowParamOutcome. The
// operator's own cancel shows nothing. More lines than a box shows whole
// (kMaxBoxLines) go to showList as a list that scrolls, where it is given.
inline constexpr int kMaxBoxLines = 12;
QString ShowCalibrationOutcome(const CalibrationOutcome& outcome,
                               const std::function<void(const ListNotice&)>& showList = {});

// What the look-up question may answer.
enum class LookupChoice { Cancel, NewOnly, Overwrite };

// Which of the window's controls may be used.
struct CalibrationControls {
  bool inputs = true;         // sources, dose, note, outlier limit: not while loading or writing
  bool keep = false;          // the outliers' check boxes
  bool writeReports = false;  // CSV and certificate: figures made
  bool writeDpt = false;      // a factor in the mean
  bool writeLookup = false;   // that, the service level and the line free
  bool abort = false;         // while the look-up entries are written
  bool keepRun = false;       // figures made and a dose archive set up
  bool archive = false;       // a dose archive is set up: its read-outs and histories
};

// How far the look-up write has come.
struct LookupProgress {
  int done = 0;
  int total = 0;
  QString current;  // the dosimeter in progress
};

class CalibrationJob {
 public:
  // The service level is taken once, as by the parameter windows.
  CalibrationJob();
  ~CalibrationJob();
  CalibrationJob(const CalibrationJob&) = delete;
  CalibrationJob& operator=(const CalibrationJob&) = delete;

  const CalibrationRun& Run() const { return run_; }
  CalibrationControls Controls() const;
  const LookupProgress& Progress() const { return progress_; }
  // Counts every change of the rows and figures, so that a view repaints
  // its table only when they changed.
  uint64_t Revision() const { return revision_; }
  // Read-outs and a dose are there: the rows hold their results.
  bool Ready() const { return !run_.rows.empty() && run_.dose.given(); }

  // --- Decisions and hooks -------------------------------------------------
  // Told whenever the run, the controls or the progress changed.
  std::function<void()> onChanged;
  // Before the look-up write: how many entries; the default asks through
  // the dialog seam with LookupQuestion (Yes, No, Cancel).
  std::function<LookupChoice(int entries)> askLookupWrite;
  // Paints the certificate into a PDF file: 0 or a result code. The print
  // library's WriteCertificatePdf, installed by the front end; without it
  // the certificate is refused (NoPrinting).
  std::function<int(const CertificateContent&, const QString& path)> writePdf;
  // Who and when, for the run; tests set them.
  std::function<QString()> whoIsCalibrating;
  std::function<QDateTime()> now;
  BusyHook onBusy;
  // Where the dose archive is: kOk with *location, or a result code with
  // *detail (an address that is none). Not set: no archive, runs are not
  // kept. The window takes the configuration's, quelm-cli its --db.
  std::function<int(ArchiveLocation* location, QString* detail)> locateArchive;

  // --- Input -----------------------------------------------------------------
  // The read-outs of the source replace the run's (kept marks go). The
  // source is read on a thread of its own while this waits in the event
  // loop (base/EventWait.h), as the archive window waits for its queries:
  // a window keeps painting, its clicks and keys wait, the inputs are off
  // (Loading()) and onBusy is held. A source of more than
  // kMaxCalibrationReadouts read-outs is refused with its count; the dose
  // archive counts them before reading any.
  CalibrationOutcome Load(ReadoutSource& source);
  bool Loading() const { return loading_; }
  // The archived read-outs of a dosimeter list (ParseDosimeterList) from
  // one day to another, as the window's edits hold them (the user's date
  // format or YYYY-MM-DD), through ArchiveReadouts.
  CalibrationOutcome LoadFromArchive(const QString& dosimeters, const QString& from, const QString& to);
  // One dose for every dosimeter, as typed (the user's decimal separator) or
  // as a number.
  // A text that is no dose is refused and leaves no dose in force: what the
  // edit shows then is never taken for the dose given before.
  CalibrationOutcome SetDoseText(const QString& text);
  CalibrationOutcome SetDose(double usv);
  // No delivered dose (an emptied edit): nothing can be written.
  void ClearDose();
  // The doses of a file "dosimeter,dose_usv" (ParseDoseCsv).
  CalibrationOutcome LoadDoseFile(const QString& path);
  void SetNote(const QString& note);
  CalibrationOutcome SetOutlierSd(double limit);
  // The limit as typed (the user's decimal separator); a text that is no
  // limit is refused and the limit in force stays.
  CalibrationOutcome SetOutlierSdText(const QString& text);
  // An outlier kept in the mean and the writes, or left out again; other
  // rows are not changed.
  void SetKept(int row, bool kept);
  // The reader's line (held by a software update: no look-up write).
  void SetReaderAvailable(bool available);

  // --- Output ----------------------------------------------------------------
  CalibrationOutcome WriteCsv(const QString& path);
  // One file per dosimeter type: `path` itself for a batch of one type,
  // "name-A.dpt", "name-B.dpt" beside it for several. A file that holds the
  // type's default table already keeps everything but EVANORM; a new one
  // takes window and corrections from the read-outs.
  CalibrationOutcome WriteDpt(const QString& path);
  CalibrationOutcome WriteCertificate(const QString& path);
  // The factor of every read-out in the mean into the reader's look-up
  // table, each entry based on the reader's own (its entry, or else the
  // default table of its type) with only EVANORM changed. With an archive
  // set up the run is kept there before the reader is asked for anything
  // (nothing is written when it cannot be), and updated with each entry
  // the reader took before the next one goes out (the write ends when it
  // cannot be); so is an entry the reader is known to hold otherwise: its
  // entry deleted and the new one not taken, or another factor read back.
  CalibrationOutcome WriteLookup();
  // Honoured between two entries.
  void RequestAbort() { abort_.request(); }

  // --- The dose archive ----------------------------------------------------
  // Keeps the run in the archive: stored the first time, then its note and
  // what was written since. Every write that succeeds keeps the run by
  // itself when an archive is set up; another input is another run.
  CalibrationOutcome KeepRun();
  // The run's number in the archive once kept.
  std::optional<qint64> KeptRun() const { return keptRun_; }
  // A dosimeter's factors from the archive, and the factor in force at
  // each of its read-outs (FactorHistory()).
  CalibrationOutcome LoadFactorHistory(const QString& dosimeter);
  const std::vector<FactorHistoryEntry>& FactorHistory() const { return history_; }
  const QString& FactorHistoryDosimeter() const { return historyDosimeter_; }

  // The file names WriteDpt writes for `path`, by type.
  std::vector<std::pair<QChar, QString>> DptFiles(const QString& path) const;
  // What an output must never replace: the files the run read (its data
  // files, its dose file), the archive's own file, and `others`. Each write
  // refuses them (with the run's other outputs as `others`); a front end
  // that knows all its outputs at once checks them before writing any.
  QStringList KeptFiles(const QStringList& others) const;

 private:
  void recompute();
  void changed();
  void updateControls();
  CalibrationOutcome notReady() const;
  // After a write that succeeded: the run kept, its reports added to o.
  void keep(CalibrationOutcome& o);
  // The outcome of writing a report file to `path`: the failure, or the
  // file noted in the run (*file), which the archive then keeps.
  CalibrationOutcome reportWritten(int rc, const QString& path, QString* file, CalibText written);
  // The archive the front end names; false with the refusal or the
  // failure in `o` when there is none.
  bool locate(CalibrationOutcome& o, ArchiveLocation* location) const;
  // 0, or -107 when `path` is one of KeptFiles(the run's outputs other
  // than `own`), noted in `o`.
  int refuseOutput(CalibrationOutcome& o, const QString& path, const QStringList& own) const;

  CalibrationRun run_;
  CalibrationControls controls_;
  LookupProgress progress_;
  AbortToken abort_;
  bool serviceLevel_ = false;
  bool readerAvailable_ = true;
  bool writing_ = false;
  bool loading_ = false;
  uint64_t revision_ = 0;
  std::optional<qint64> keptRun_;
  QString keptState_;  // the note and what was written, as last kept
  std::vector<FactorHistoryEntry> history_;
  QString historyDosimeter_;
  QStringList sourceFiles_;  // the loaded source's
  QString doseFile_;         // the dose file loaded, if the doses came from one
};

}  // namespace quelm
