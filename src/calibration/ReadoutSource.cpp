#include "calibration/ReadoutSource.h"

#include <QFileInfo>

#include "base/DataFiles.h"
#include "base/ErrorCodes.h"
#include "measurement/DataFileReader.h"

namespace quelm {

int ReadoutSource::FetchAtMost(qint64 atMost, std::vector<CalibrationReadout>* readouts, qint64* held,
                               QString* context) {
  std::vector<CalibrationReadout> all;
  if (const int rc = Fetch(&all, context)) return rc;
  *held = static_cast<qint64>(all.size());
  if (*held <= atMost) *readouts = std::move(all);
  return kOk;
}

QString DataFileReadouts::Description() const {
  QStringList names;
  for (const QString& f : files_) names << QFileInfo(f).fileName();
  return QStringLiteral("data files %1").arg(names.join(QStringLiteral(", ")));
}

int DataFileReadouts::Fetch(std::vector<CalibrationReadout>* readouts, QString* context) {
  std::vector<CalibrationReadout> all;
  for (const QString& name : files_) {
    *context = name;
    DataFileReader file;
    if (const int rc = file.open(name)) return rc;
    const uint64_t size = file.size();
    const QString shown = QFileInfo(name).fileName();
    for (uint64_t k = 0; (k + 1) * sizeof(BlockRecord) <= size; ++k) {
      CalibrationReadout r;
      if (!file.readAt(k * sizeof(BlockRecord), &r.record, sizeof r.record))
        return noteFileFailure(kErrFileRead, name, QStringLiteral("record %1 cannot be read").arg(k));
      r.origin = QStringLiteral("%1, block %2").arg(shown).arg(r.record.BlockNumber);
      all.push_back(r);
    }
    file.close();
    if (size % sizeof(BlockRecord))
      return noteFileFailure(
          kErrFileRead, name,
          QStringLiteral("the last %1 bytes are no whole record").arg(size % sizeof(BlockRecord)));
  }
  context->clear();
  *readouts = std::move(all);
  return kOk;
}

}  // namespace quelm
