#include "archive/ArchiveText.h"

#include "base/NumberFormat.h"
#include "base/UserLocale.h"
#include "evaluation/BlockCsv.h"
#include "evaluation/BlockFormat.h"

namespace quelm {
namespace {

QString optionalNumber(const std::optional<double>& v, int decimals = 2) {
  return v ? ArchiveNumber(*v, decimals) : QString();
}

QString errorCodesText(int flags) {
  return flags != 0 ? FormatErrorCodes(static_cast<uint8_t>(flags)).trimmed() : QStringLiteral("OK");
}

QString timeOrNone(const QString& time) { return time.isEmpty() ? QStringLiteral("no time") : time; }

QStringList readoutFields(const ReadoutRow& r, bool csv) {
  QString time = r.readoutTime;
  if (csv) time.replace(QLatin1Char(' '), QLatin1Char('T'));
  const auto text = [csv](const QString& s) { return csv ? CsvField(s) : s; };
  return {time,
          text(r.deviceId),
          QString::number(r.blockNumber),
          text(r.dosimeter),
          text(r.person),
          optionalNumber(r.doseUsv),
          optionalNumber(r.doseRate),
          optionalNumber(r.exposureH, 1),
          errorCodesText(r.errorCodes)};
}

QStringList totalsFields(const PersonTotals& t, double annualLimit, bool csv) {
  return {csv ? CsvField(t.person) : t.person, ArchiveNumber(t.quarterToDate), ArchiveNumber(t.yearToDate),
          ArchiveNumber(t.lifetime),           QString::number(t.readouts),    ArchiveNumber(annualLimit)};
}

}  // namespace

QString ImportLine(const QString& file, const ImportResult& r) {
  return QStringLiteral("%1: %2 added, %3 already archived, %4 conflicting")
      .arg(file)
      .arg(r.added)
      .arg(r.duplicates)
      .arg(r.conflicts);
}

QString DownloadArchivedLine(const ImportResult& r) {
  return QStringLiteral("Archived: %1 added, %2 already archived").arg(r.added).arg(r.duplicates);
}

QString HighDoseLine(const ReadoutFields& f) {
  return QStringLiteral("High dose: %1 %2 µSv (block %3, %4)")
      .arg(f.dosimeter, optionalNumber(f.doseUsv))
      .arg(f.blockNumber)
      .arg(timeOrNone(f.readoutTime));
}

QString ConflictLine(const QString& where, const ReadoutFields& f) {
  return QStringLiteral(
             "%1: block %2 of reader %3, dosimeter %4, %5 is archived with other bytes; "
             "the archived read-out is kept")
      .arg(where)
      .arg(f.blockNumber)
      .arg(f.deviceId, f.dosimeter, timeOrNone(f.readoutTime));
}

QString ArchiveNumber(double value, int decimals) {
  // -0.00 would read as a dose below nothing.
  QString s = QString::number(value, 'f', decimals);
  if (s.startsWith(QLatin1Char('-')) && s.mid(1).remove(QLatin1Char('0')) == QLatin1String("."))
    s.remove(0, 1);
  return s;
}

QString DoseText(double usv) { return formatFloat(usv, 2) + QStringLiteral(" µSv"); }

QString DoseText(const std::optional<double>& usv) { return usv ? DoseText(*usv) : QString(); }

QString ShareText(double percent) { return formatFloat(percent, 1) + QStringLiteral(" %"); }

QString LocalDateText(const QDateTime& time) { return time.toString(userLocale().shortDateFormat); }

QString LocalTimeText(const QString& storedTime) {
  const std::optional<QDateTime> time = ParseArchiveTime(storedTime, false);
  if (!time) return QStringLiteral("no time");
  return LocalDateText(*time) + QStringLiteral(" ") + time->toString(QStringLiteral("HH:mm"));
}

QString HighDoseNotice(const std::vector<ReadoutFields>& readouts, const QStringList& persons, double level) {
  QStringList lines;
  lines << QStringLiteral("Read-outs at or above the notification level of %1:").arg(DoseText(level));
  for (size_t i = 0; i < readouts.size(); ++i) {
    const ReadoutFields& f = readouts[i];
    const QString person =
        i < static_cast<size_t>(persons.size()) ? persons[static_cast<qsizetype>(i)] : QString();
    lines << QStringLiteral("%1%2: %3, %4 (block %5)")
                 .arg(f.dosimeter,
                      person.isEmpty() ? QString() : QStringLiteral(" (") + person + QLatin1Char(')'),
                      DoseText(f.doseUsv), LocalTimeText(f.readoutTime))
                 .arg(f.blockNumber);
  }
  return lines.join(QLatin1Char('\n'));
}

QString ReadoutCsvHeader() {
  return QStringLiteral(
      "readout_time,device_id,block_number,dosimeter,person,dose_usv,dose_rate_usv_h,exposure_h,error_codes");
}

QString ReadoutCsvRow(const ReadoutRow& row) { return readoutFields(row, true).join(QLatin1Char(',')); }

QString ReadoutTextHeader() { return ReadoutCsvHeader().replace(QLatin1Char(','), QLatin1Char('\t')); }

QString ReadoutTextRow(const ReadoutRow& row) { return readoutFields(row, false).join(QLatin1Char('\t')); }

QString TotalsCsvHeader() {
  return QStringLiteral("person,quarter_to_date_usv,year_to_date_usv,lifetime_usv,readouts,annual_limit_usv");
}

QString TotalsCsvRow(const PersonTotals& t, double annualLimit) {
  return totalsFields(t, annualLimit, true).join(QLatin1Char(','));
}

QString TotalsTextHeader() { return TotalsCsvHeader().replace(QLatin1Char(','), QLatin1Char('\t')); }

QString TotalsTextRow(const PersonTotals& t, double annualLimit) {
  QString line = totalsFields(t, annualLimit, false).join(QLatin1Char('\t'));
  if (t.yearToDate >= annualLimit) line += QStringLiteral("  annual limit reached");
  return line;
}

}  // namespace quelm
