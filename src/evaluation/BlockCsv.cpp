#include "evaluation/BlockCsv.h"

#include <QDate>
#include <QStringList>
#include <QTime>
#include <cmath>

#include "base/NumberFormat.h"
#include "evaluation/BlockFormat.h"

namespace quelm {

namespace {

QString isoDateTime(const BlockRecord& r) {
  if (r.ErrorCodes & kClockFault) return QString();
  const QDate date(1900 + r.DateTime[0], r.DateTime[1], r.DateTime[2]);
  const QTime time(r.DateTime[3], r.DateTime[4]);
  if (!date.isValid() || !time.isValid()) return QString();
  return date.toString(Qt::ISODate) + QLatin1Char('T') + time.toString(QStringLiteral("HH:mm"));
}

}  // namespace

QString BlockCsvHeader() {
  return QStringLiteral(
      "BlockNumber,DateTime,Dosimeter,DeviceID,ReaderTemp_C,ErrorCodes,MeasuredDose_uSv,Exposure_h,"
      "DoseRate_uSv_h,EvalStart,EvalLength,NormFact");
}

QString BlockCsvRow(const BlockRecord& r) {
  // Exposure and dose rate as the block's header shows them.
  const uint16_t exposure = r.Exposure;
  const ExposureShown shown = ShownExposure(r.ErrorCodes, r.BulbID, exposure);
  const QString codes = r.ErrorCodes != 0 ? FormatErrorCodes(r.ErrorCodes).trimmed() : QStringLiteral("OK");

  const QStringList fields = {
      QString::number(uint16_t{r.BlockNumber}),
      isoDateTime(r),
      CsvField(IdentifierText(r.BulbID)),
      CsvField(IdentifierText(r.DeviceID)),
      QString::number(r.ReaderTemp * 0.5, 'f', 1),
      codes,
      formatSingle(r.MeasuredDose),
      shown.exposure ? QString::number(exposure * 0.1, 'f', 1) : QString(),
      shown.rate ? formatSingle(r.DoseRate) : QString(),
      QString::number(r.EVASTART),
      QString::number(r.EVALEN),
      formatSingle(r.EVANORM),
  };
  return fields.join(QLatin1Char(','));
}

}  // namespace quelm
