#pragma once
// Calibration runs as the dose archive keeps them: what went in (the
// read-outs with their bytes, the delivered dose, the note), what came out
// (each dosimeter's factor, the batch figures), what was written, who and
// when. Plain data the calibration layer fills from its run (the archive
// knows nothing of the calibration's types), and the lists made of it: the
// runs, and one dosimeter's factor history.
//
// The factor in force on the reader when a read-out was made is the
// block's own EVANORM: the reader stores the factor it evaluated with in
// every block. The archive keeps the whole record, so it is known for
// every archived read-out whose block holds a factor (above 0) and is
// listed in a dosimeter's factor history beside its calibrations, rather
// than as another column of history and alerts, whose columns scripts
// read: it matters beside the calibrations (did the new factor reach the
// reader?), not beside a dose.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace quelm {

struct CalibrationFactorRecord {
  QString dosimeter;
  QString device;
  int blockNumber = 0;
  QString readoutTime;   // stored form; empty when the record holds no valid time
  QString origin;        // "night.dat, block 123", "archive read-out 17"
  qint64 readoutId = 0;  // the archive's read-out, when it came from there
  QByteArray record;     // the 512 bytes
  int evalStart = 0;     // the window the factor was solved with
  int evalLength = 1;
  std::optional<double> factorInForce;  // the block's own EVANORM
  std::optional<double> deliveredUsv;
  std::optional<double> chainUsv;
  std::optional<double> factor;
  std::optional<double> ratio;
  QString status;        // as the calibration says it ("used", "outlier (4.2 SD), left out", ...)
  bool used = false;     // in the mean
  bool written = false;  // its look-up entry was written into the reader
};

struct CalibrationBatchRecord {
  QString type;  // the dosimeter type letter
  int factors = 0;
  int used = 0;
  std::optional<double> mean, sd, cv;
};

struct CalibrationRecord {
  qint64 id = 0;
  QString computedAt;  // stored form, the workstation's clock
  QString storedAt;    // UTC
  QString calibratedBy;
  QString program;
  QString source;
  QString dose;  // "1000 uSv", "per dosimeter from doses.csv"
  QString note;
  double outlierSd = 3;
  QString written;  // files and look-up entries
  std::vector<CalibrationBatchRecord> batches;
  std::vector<CalibrationFactorRecord> factors;  // empty in lists of runs
};
// Why a run cannot be stored; empty when it can.
QString CalibrationRecordError(const CalibrationRecord& run);

// One step of a dosimeter's factor history: a calibration that gave it a
// factor, or a read-out made with the factor then in force on the reader.
struct FactorHistoryEntry {
  enum Kind { Calibration, Readout };
  Kind kind = Calibration;
  QString time;  // stored form: the run's time, or the read-out's
  qint64 run = 0;
  qint64 readoutId = 0;  // a calibration's too, when its run read it from the archive
  QString device;
  std::optional<double> factor;
  std::optional<double> ratio;  // a calibration's, to its batch mean
  QString status;               // a calibration's; "in force" or "not known" for a read-out
  bool used = false;            // a calibration's factor was in the batch mean
  bool written = false;         // a calibration's factor went into the reader
};

// calibrations: run,computed_at,calibrated_by,source,dose,note,type,factors,
// used,mean,sd,cv,written; a row per run and dosimeter type.
QString CalibrationRunCsvHeader();
QStringList CalibrationRunRows(const CalibrationRecord& run, bool csv);
// calibrations --dosimeter: time,kind,run,readout_id,reader,factor,
// ratio_to_mean,status; a calibration names its read-out when its run read
// it from the archive.
QString FactorHistoryCsvHeader();
QString FactorHistoryRow(const FactorHistoryEntry& entry, bool csv);

}  // namespace quelm
