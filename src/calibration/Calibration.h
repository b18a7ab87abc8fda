#pragma once
// A calibration run as plain data, and its computation: a batch of
// dosimeters irradiated to a known dose is read out, and each dosimeter gets
// the normalisation factor for which the program's dose chain gives that
// dose (SolveNormFact). The batch's mean factor per dosimeter type, its
// spread, and the outliers left out of it follow.
//
// CalibrationRun holds everything a run was and did (what went in, what
// came out, what was written, who and when) without any database or window
// type, so that the dose archive can keep it as it is.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <vector>

#include "evaluation/DoseChain.h"
#include "measurement/BlockRecord.h"

namespace quelm {

// One read-out as it goes into a calibration: the record's 512 bytes and
// where they came from ("night.dat, block 123").
struct CalibrationReadout {
  BlockRecord record;
  QString origin;
  qint64 archiveId = 0;  // the dose archive's read-out, when it came from there
};

// The dose the dosimeters were irradiated to, in µSv: one value for the
// whole run, or one per dosimeter from a file.
struct DeliveredDose {
  std::optional<double> all;
  std::map<QString, double> perDosimeter;  // by identifier ("A0017")
  QString file;                            // where perDosimeter came from
  bool given() const { return all.has_value() || !perDosimeter.empty(); }
  std::optional<double> of(const QString& dosimeter) const;
};

// A delivered dose as the files and edits give it: a finite number above
// 0 (a dose of 0 calibrates nothing).
bool isDeliveredDose(double usv);

// The lines "dosimeter,dose_usv" of a dose file: CSV (RFC 4180 quotes
// allowed), an optional header line "dosimeter,dose_usv" (any case, blanks
// around the names; a first line naming "dosimeter" with another second
// column is refused: its doses may be in another unit), blank lines
// skipped; each dosimeter a type letter and four digits, once; each dose a
// number with a decimal point, above 0. Empty on success; otherwise what is
// wrong, with its line number, and *doses untouched.
QString ParseDoseCsv(const QByteArray& text, std::map<QString, double>* doses);

// A dosimeter that can have a look-up entry: a type letter A..Z and four
// digits.
bool isCalibratableDosimeter(const QString& id);

// Why a read-out has no factor beyond the chain's own reasons.
enum class RowRefusal {
  None,
  NotADosimeter,  // its identifier is no type letter with four digits
  ReadAgain,      // the dosimeter was read before in this run
  NoDose,         // no delivered dose for it
  Chain,          // SolveNormFact refused: see solveRefusal
};

struct CalibrationRow {
  // What went in.
  CalibrationReadout readout;
  QString dosimeter;  // "A0017"
  QString device;
  int blockNumber = 0;
  std::optional<QDateTime> readoutTime;  // none when the record holds no valid time
  // The block's own evaluation as a fresh refresh sets it up.
  EvalMembers window;
  std::optional<double> deliveredUsv;

  // What came out.
  std::optional<double> chainUsv;  // the chain with the block's own window and factor
  std::optional<double> factor;    // the chain gives deliveredUsv with it
  RowRefusal refusal = RowRefusal::None;
  NormFactRefusal solveRefusal = NormFactRefusal::None;
  QString readBefore;               // ReadAgain: the origin of the read-out that counts
  std::optional<double> ratio;      // factor / the mean of its type
  bool flagged = false;             // the reader set error flags
  std::optional<double> deviation;  // from the others' mean, in their standard deviations
  bool beyondLimit = false;         // more than the run's limit of them
  bool kept = false;                // an outlier the operator keeps

  bool outlier() const { return factor && (flagged || beyondLimit); }
  // Counted in the mean and written.
  bool used() const { return factor && (!outlier() || kept); }
  QChar type() const { return dosimeter.isEmpty() ? QChar() : dosimeter.front(); }
};

// The figures of one dosimeter type (the batch is usually one type).
struct BatchFigures {
  QChar type;
  int factors = 0;  // read-outs with a factor
  int used = 0;     // of them in the mean
  std::optional<double> mean;
  std::optional<double> sd;  // sample standard deviation, from 2 used factors
  std::optional<double> cv;  // sd / mean
};

// A look-up entry the run changed in a reader, as read back: the factor the
// reader holds for the dosimeter (the run's, or another one it gave back),
// or none when its entry was deleted and the new one did not get in (the
// reader then evaluates with its type's default table).
struct LookupWritten {
  QString dosimeter;
  std::optional<float> factor;
};

struct CalibrationRun {
  // What went in.
  QString source;  // where the read-outs came from, as its source describes it
  DeliveredDose dose;
  QString note;  // the operator's: source, date of irradiation, who irradiated
  double outlierSd = 3;
  std::vector<CalibrationRow> rows;  // in the order the source gave them

  // What came out.
  std::vector<BatchFigures> batches;  // by type letter

  // What was written.
  QString csvFile;
  QString pdfFile;
  QStringList dptFiles;
  std::vector<LookupWritten> lookup;

  // Who and when.
  QString user;          // the operating system's user
  QDateTime computedAt;  // when the figures were made
  QString program;       // programVersion()

  const BatchFigures* batchOf(QChar type) const;
};

inline constexpr double kDefaultOutlierSd = 3;
// An outlier limit in standard deviations: a finite number above 0.
bool isOutlierLimit(double sd);
// The read-outs one run takes at most: a batch of dosimeters read once or
// a few times each is far below it, while a dosimeter list and span that
// sweep the archive (hundreds of thousands) would fill the memory with
// rows and the window with a table nobody can check.
inline constexpr int kMaxCalibrationReadouts = 20000;

// The rows of the read-outs, with their identifiers, times, windows and
// chain doses; the first read-out of a dosimeter by read-out time counts,
// a later one (it holds only what the first left) is refused.
std::vector<CalibrationRow> MakeCalibrationRows(const std::vector<CalibrationReadout>& readouts);

// Solves every row for its delivered dose, marks the outliers and makes the
// batch figures. Marks of kept outliers stay where the row is still one.
void EvaluateCalibration(CalibrationRun& run);

// The ratios and batch figures again, after the operator kept or dropped
// an outlier.
void UpdateBatchFigures(CalibrationRun& run);

// The outlier rule: a factor lies more than `limit` standard deviations
// from the mean of the others of its type (flagged read-outs are not among
// the others). Each factor is held against the others, so that one outlier
// does not widen the spread that should show it. Needs at least two
// others; the deviation in those standard deviations, nothing without.
std::vector<std::optional<double>> OutlierDeviations(const std::vector<double>& factors);

// The ratios to the mean as a histogram: `bins` equal bins over the spread
// of the ratios in the mean (a tenth wider on each side), each counting the
// read-outs in the mean and the outliers left out; ratios beyond the bins
// are counted apart, so that one far outlier does not squeeze the batch
// into a single bar.
struct RatioHistogram {
  double low = 0, high = 0;
  std::vector<int> used;
  std::vector<int> left;
  int below = 0, above = 0;
  int tallest() const;
};
RatioHistogram MakeRatioHistogram(const CalibrationRun& run, int bins);

// The operating system's user running the program.
QString operatingSystemUser();

}  // namespace quelm
