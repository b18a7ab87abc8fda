#include "evaluation/BlockCsv.h"

#include <QDate>
#include <QStringList>
#include <QTime>
#include <charconv>
#include <cmath>

#include "evaluation/BlockFormat.h"

namespace quelm {

namespace {

// The shortest text that reads back as the same single: a reader's 123.4
// stays 123.4 rather than 123.40000152587891.
QString singleText(float v) {
  if (!std::isfinite(v)) return QString();
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
  return ec == std::errc() ? QString::fromLatin1(buffer, static_cast<qsizetype>(end - buffer)) : QString();
}

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
  // Exposure and dose rate as the block's header shows them: not for a block
  // without a valid time nor for reference and background dosimeters, and no
  // rate without an exposure.
  const uint16_t exposure = r.Exposure;
  const bool readOutTimes = !(r.ErrorCodes & kClockFault) && !IsSpecialDosimeter(r.BulbID);
  const bool hasExposure = readOutTimes && exposure != 0xFFFF;
  const bool hasRate = hasExposure && exposure != 0;
  const QString codes = r.ErrorCodes != 0 ? FormatErrorCodes(r.ErrorCodes).trimmed() : QStringLiteral("OK");

  const QStringList fields = {
      QString::number(uint16_t{r.BlockNumber}),
      isoDateTime(r),
      CsvField(IdentifierText(r.BulbID)),
      CsvField(IdentifierText(r.DeviceID)),
      QString::number(r.ReaderTemp * 0.5, 'f', 1),
      codes,
      singleText(r.MeasuredDose),
      hasExposure ? QString::number(exposure * 0.1, 'f', 1) : QString(),
      hasRate ? singleText(r.DoseRate) : QString(),
      QString::number(r.EVASTART),
      QString::number(r.EVALEN),
      singleText(r.EVANORM),
  };
  return fields.join(QLatin1Char(','));
}

}  // namespace quelm
