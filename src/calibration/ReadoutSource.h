#pragma once
// Where a calibration's read-outs come from. The job takes any source and
// never asks which kind it is: data files here, the dose archive (a list of
// dosimeters and a time span) in CalibrationArchive.h.

#include <QString>
#include <QStringList>
#include <vector>

#include "calibration/Calibration.h"

namespace quelm {

class ReadoutSource {
 public:
  virtual ~ReadoutSource() = default;
  // What the run records as its input ("data files night.dat, day.dat").
  virtual QString Description() const = 0;
  // Every read-out the source holds, in its order, with its origin. 0, or a
  // result code with *context naming what failed (a file code's name and
  // reason are noted with noteFileFailure); nothing is taken then.
  virtual int Fetch(std::vector<CalibrationReadout>* readouts, QString* context) = 0;
  // Fetch for a caller that takes at most `atMost` read-outs: *held is how
  // many the source holds, and a source holding more gives none, so that it
  // can be refused with its size. This one reads them all to count them; a
  // source that can count first (the archive) gives the count without
  // reading a row, as a sweep of hundreds of thousands would fill the memory.
  virtual int FetchAtMost(qint64 atMost, std::vector<CalibrationReadout>* readouts, qint64* held,
                          QString* context);
  // After Fetch: what was asked for and is not there (dosimeters without a
  // read-out); the job takes no run that misses any.
  virtual QStringList Missing() const { return {}; }
  // The files it reads, which no output of the run may replace.
  virtual QStringList Files() const { return {}; }
};

// Every whole record of each data file, file by file. A record cut short
// at a file's end (an interrupted download) is refused with kErrFileRead:
// a calibration must not silently lose a dosimeter.
class DataFileReadouts final : public ReadoutSource {
 public:
  explicit DataFileReadouts(QStringList files) : files_(std::move(files)) {}
  QString Description() const override;
  int Fetch(std::vector<CalibrationReadout>* readouts, QString* context) override;
  QStringList Files() const override { return files_; }

 private:
  QStringList files_;
};

}  // namespace quelm
