#include "archive/CalibrationRecords.h"

#include <QtGlobal>

#include "archive/ArchiveText.h"
#include "base/CsvText.h"
#include "base/NumberFormat.h"

namespace quelm {
namespace {

QString field(const QString& text, bool csv) { return csv ? CsvField(text) : PlainField(text); }
QString join(const QStringList& fields, bool csv) {
  return fields.join(csv ? QLatin1Char(',') : QLatin1Char('\t'));
}
QString isoTime(const QString& stored, bool csv) {
  QString t = stored;
  if (csv) t.replace(QLatin1Char(' '), QLatin1Char('T'));
  return t;
}
// A factor as the single a table holds, in the digits that read back as it.
QString factorNumber(const std::optional<double>& v) {
  return v ? formatSingle(static_cast<float>(*v)) : QString();
}
QString number(const std::optional<double>& v, int decimals) {
  return v ? ArchiveNumber(*v, decimals) : QString();
}

}  // namespace

QString CalibrationRunCsvHeader() {
  return QStringLiteral(
      "run,computed_at,calibrated_by,source,dose,note,type,factors,used,mean,sd,cv,written");
}

QStringList CalibrationRunRows(const CalibrationRecord& run, bool csv) {
  QStringList rows;
  std::vector<CalibrationBatchRecord> batches = run.batches;
  // A run whose read-outs all were refused still is a run.
  if (batches.empty()) batches.push_back({});
  for (const CalibrationBatchRecord& b : batches)
    rows << join(
        {QString::number(run.id), isoTime(run.computedAt, csv), field(run.calibratedBy, csv),
         field(run.source, csv), field(run.dose, csv), field(run.note, csv), field(b.type, csv),
         QString::number(b.factors), QString::number(b.used), factorNumber(b.mean), factorNumber(b.sd),
         number(b.cv ? std::optional<double>(*b.cv * 100) : std::nullopt, 2), field(run.written, csv)},
        csv);
  return rows;
}

QString FactorHistoryCsvHeader() {
  return QStringLiteral("time,kind,run,readout_id,reader,factor,ratio_to_mean,status");
}

QString FactorHistoryRow(const FactorHistoryEntry& e, bool csv) {
  const bool calibration = e.kind == FactorHistoryEntry::Calibration;
  QString status = e.status;
  if (calibration && e.written) status += QStringLiteral(", written to the reader");
  return join({isoTime(e.time, csv), calibration ? QStringLiteral("calibration") : QStringLiteral("read-out"),
               calibration ? QString::number(e.run) : QString(),
               e.readoutId ? QString::number(e.readoutId) : QString(), field(e.device, csv),
               factorNumber(e.factor), number(e.ratio, 4), field(status, csv)},
              csv);
}

}  // namespace quelm
