#pragma once
// The calibration's part of the dose archive: read-outs taken from it (a
// list of dosimeters and a time span), and each run kept there as the
// archive's CalibrationRecord, so that a dosimeter's factors can be listed
// and charted beside the factor in force at each of its read-outs.

#include <QDateTime>
#include <QStringList>
#include <optional>
#include <vector>

#include "archive/Archive.h"
#include "calibration/Calibration.h"
#include "calibration/ReadoutSource.h"

namespace quelm {

// "A0001-A0010,A0020,B0001": dosimeter ids and ranges of one type letter
// with four-digit serials, comma-separated (blanks and case aside). Empty
// on success, with the ids in the order given and each once; otherwise
// what is wrong and *dosimeters untouched.
QString ParseDosimeterList(const QString& text, QStringList* dosimeters);
// A range holds at most this many dosimeters: a reader's memory holds 2048
// blocks, and a typing slip must not ask for a million.
inline constexpr int kMaxDosimeterRange = 10000;

// The archived read-outs of the dosimeters from `from` to `to` (read-out
// times, inclusive), dosimeter by dosimeter in time order. The archive is
// opened for reading for the fetch only. A dosimeter without a read-out
// in the span is Missing(). FetchAtMost has the archive count the span
// first and reads nothing of one that holds too many.
class ArchiveReadouts final : public ReadoutSource {
 public:
  ArchiveReadouts(ArchiveLocation location, QStringList dosimeters, QDateTime from, QDateTime to);
  QString Description() const override;
  int Fetch(std::vector<CalibrationReadout>* readouts, QString* context) override;
  int FetchAtMost(qint64 atMost, std::vector<CalibrationReadout>* readouts, qint64* held,
                  QString* context) override;
  QStringList Missing() const override { return missing_; }

 private:
  int read(std::optional<qint64> atMost, std::vector<CalibrationReadout>* readouts, qint64* held,
           QString* context);

  ArchiveLocation location_;
  QStringList dosimeters_;
  QDateTime from_, to_;
  QStringList missing_;
};

// The run as the archive keeps it.
CalibrationRecord CalibrationRecordOf(const CalibrationRun& run);
// What was written from the run: "batch table x.csv; certificate y.pdf;
// default tables a.dpt; 9 look-up entries", then each entry the reader
// holds otherwise ("A0003 look-up entry holds 1.25", "A0004 look-up entry
// deleted, the type's default table in force"); empty when nothing.
QString WrittenText(const CalibrationRun& run);

// Keeps the run in the archive: stored when *id is 0 (then *id its
// number), else the stored run's note and what was written updated. 0 (with
// *detail the archive's upgrade note, when this write upgraded it) or the
// archive's result code (with *detail what the archive said).
int KeepCalibrationRun(const ArchiveLocation& location, const CalibrationRun& run, qint64* id,
                       QString* detail);
// A dosimeter's factor history from the archive (opened for reading).
int ReadFactorHistory(const ArchiveLocation& location, const QString& dosimeter,
                      std::vector<FactorHistoryEntry>* entries, QString* detail);

}  // namespace quelm
