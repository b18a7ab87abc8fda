#include "calibration/CalibrationText.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "base/NumberFormat.h"
#include "base/TextTable.h"
#include "base/UserLocale.h"
#include "evaluation/BlockCsv.h"
#include "measurement/ErrorFlags.h"

namespace quelm {
namespace {

constexpr MessageKind C = MessageKind::Confirmation, W = MessageKind::Warning, E = MessageKind::Error,
                      I = MessageKind::Information;

// clang-format off
const CalibTextEntry kCalibTexts[] = {
    {CalibText::None, I, ""},
    {CalibText::NotADosimeter, W, "not a type letter with four digits"},
    {CalibText::ReadAgain, W, "read before in this run (%1)"},
    {CalibText::NoDose, W, "no delivered dose"},
    {CalibText::NoReadouts, E, "%1 hold no read-outs"},
    {CalibText::TooManyReadouts, E,
     "%1 hold %2 read-outs; a calibration run takes at most %3. Choose fewer dosimeters or a shorter span."},
    {CalibText::BadDose, E, "\"%1\" is no dose in uSv above 0"},
    {CalibText::DoseFile, E, "%1: %2"},
    {CalibText::DoseFileHeader, E,
     "the second column is \"%1\", not dose_usv: a dose file's header is \"dosimeter,dose_usv\", its doses in uSv"},
    {CalibText::BadOutlierSd, E, "The outlier limit must be a number of standard deviations above 0 such as 2.5, not \"%1\""},
    {CalibText::NotReady, E, "Nothing to write yet: read-outs and a delivered dose are needed."},
    {CalibText::NoFactors, E, "No factor to write: every read-out was refused or left out."},
    {CalibText::CsvWritten, I, "Batch table written to %1"},
    {CalibText::PdfWritten, I, "Certificate written to %1"},
    {CalibText::NoPrinting, E, "The certificate needs the program's graphics libraries"},
    {CalibText::DptWritten, I, "%1: default table of type %2 with the batch mean %3 as EVANORM"},
    {CalibText::DptFromReadouts, W,
     "%1 held no table of type %2: its heating and other parameters are the file's defaults. Read the "
     "type's table from the reader into the file first, then calibrate again."},
    {CalibText::DptOtherType, E, "%1 holds a default table of type %2, not %3: nothing written"},
    {CalibText::DptMixedTables, E,
     "Type %1: its read-outs were evaluated with different windows or corrections, so one default factor "
     "cannot serve them all; no default table written"},
    {CalibText::LookupQuestion, C,
     "Write the factors of %1 dosimeters into the reader's look-up table?\n\n"
     "Yes: replace the entries the reader already holds for them.\n"
     "No: write only the dosimeters it holds no entry for."},
    {CalibText::LookupNothingToWrite, E, "No factor to write into the reader"},
    {CalibText::LookupWritten, I, "%1: factor %2 written and read back"},
    {CalibText::LookupKept, I, "%1: the reader's entry was kept"},
    {CalibText::LookupNoDefault, E, "%1: the reader holds no default table of type %2; not written"},
    {CalibText::TableDiffers, E,
     "%1: its table evaluates otherwise than the read-out was made (%2), so the factor would not give the "
     "dose; not written"},
    {CalibText::LookupReadBack, E, "%1: the reader gave back the factor %2 instead of %3"},
    {CalibText::LookupStopped, W, "Stopped: %1 of %2 entries done"},
    {CalibText::LookupSummary, I, "Look-up entries: %1 written, %2 kept, %3 not written"},
    {CalibText::LookupNotKept, E,
     "No look-up entry written: the run could not be kept in the dose archive, which must record it before "
     "the reader's factors change"},
    {CalibText::LookupNotRecorded, E,
     "%1: changed in the reader but not recorded in the dose archive, so no further entry was written; "
     "keep the run there as soon as the archive can be written"},
    {CalibText::MissingReadouts, E, "No read-out of %1 in %2. A calibration does not lose a dosimeter unseen: "
                                    "leave it out of the list or widen the time span."},
    {CalibText::RunKept, I, "Kept in the dose archive as calibration run %1"},
    {CalibText::RunUpdated, I, "Calibration run %1 in the dose archive: %2"},
    {CalibText::ArchiveUpgraded, I, "Dose archive %1"},
    {CalibText::NoArchive, E, "No dose archive is set up"},
    {CalibText::HistoryDosimeter, E, "Factor history: %1"},
    {CalibText::ArchiveSpan, E, "Read-outs from the dose archive: %1"},
};
// clang-format on

QString plainNumber(double v, int decimals) {
  QString s = QString::number(v, 'f', decimals);
  // -0.00 would read as a dose below nothing.
  if (s.startsWith(QLatin1Char('-')) && s.mid(1).remove(QLatin1Char('0')) == QLatin1String("."))
    s.remove(0, 1);
  return s;
}

QString flagsText(const CalibrationRow& row) {
  return FormatErrorCodes(row.readout.record.ErrorCodes).trimmed();
}

// The columns of a row: for a spreadsheet (ISO time, the outlier mark) or
// for a terminal (a blank in the time, the status against the run's limit).
QStringList rowFields(const CalibrationRow& row, bool csv, double outlierSd) {
  QString time;
  if (row.readoutTime)
    time = row.readoutTime->toString(csv ? QStringLiteral("yyyy-MM-ddTHH:mm")
                                         : QStringLiteral("yyyy-MM-dd HH:mm"));
  QString last;
  if (!csv)
    last = PlainField(RowStatusText(row, outlierSd));  // it may name a data file
  else if (row.factor)
    last = !row.outlier() ? QStringLiteral("no") : row.kept ? QStringLiteral("kept") : QStringLiteral("yes");
  return {csv ? CsvField(row.dosimeter) : PlainField(row.dosimeter),
          time,
          row.chainUsv ? plainNumber(*row.chainUsv, 2) : QString(),
          row.factor ? formatSingle(static_cast<float>(*row.factor)) : QString(),
          row.ratio ? plainNumber(*row.ratio, 4) : QString(),
          last};
}

}  // namespace

const CalibTextEntry& calibTextEntry(CalibText id) { return TableEntry(kCalibTexts, id); }

QString calibText(CalibText id, const QStringList& args) {
  QString text = QString::fromUtf8(calibTextEntry(id).text);
  for (int i = 0; i < args.size(); ++i) {
    const QString marker = QStringLiteral("%%1").arg(i + 1);
    text.replace(marker, args[i]);
  }
  return text;
}

QString RowRefusalText(const CalibrationRow& row) {
  switch (row.refusal) {
    case RowRefusal::None:
      return QString();
    case RowRefusal::NotADosimeter:
      return calibText(CalibText::NotADosimeter);
    case RowRefusal::ReadAgain:
      return calibText(CalibText::ReadAgain, {row.readBefore});
    case RowRefusal::NoDose:
      return calibText(CalibText::NoDose);
    case RowRefusal::Chain:
      break;
  }
  return NormFactRefusalText(row.solveRefusal);
}

QString DeviationText(double deviation, double limit) {
  if (!std::isfinite(deviation) || !(deviation > limit)) return formatFloat(deviation, 1);
  // The picture format holds 15 significant digits; a deviation closer to
  // the limit than that reads as itself, in the digits that read back as it.
  for (int decimals = 1; decimals <= 15; ++decimals) {
    const QString text = formatFloat(deviation, decimals);
    if (const std::optional<double> shown = parseUserFloat(text); shown && *shown > limit) return text;
  }
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, deviation);
  return withUserDecimal(QString::fromLatin1(buffer, ec == std::errc() ? end - buffer : 0));
}

QString RowStatusText(const CalibrationRow& row, double outlierSd) {
  if (!row.factor && row.refusal == RowRefusal::None) return QStringLiteral("awaiting the delivered dose");
  if (!row.factor) return QStringLiteral("refused: ") + RowRefusalText(row);
  if (!row.outlier()) return QStringLiteral("used");
  QStringList why;
  if (row.beyondLimit && row.deviation)
    why << DeviationText(*row.deviation, outlierSd) + QStringLiteral(" SD");
  if (row.flagged) why << QStringLiteral("flagged ") + flagsText(row);
  return QStringLiteral("outlier (%1), %2")
      .arg(why.join(QStringLiteral(", ")), row.kept ? QStringLiteral("kept") : QStringLiteral("left out"));
}

QString CalibDoseText(double usv) { return formatFloat(usv, 2); }
// The single a table holds, in the digits that read back as it: the
// certificate, the batch table and the archive name one factor alike.
QString FactorText(double factor) {
  const float single = static_cast<float>(factor);
  return std::isfinite(single) ? formatSingle(single) : formatGeneral(single, 7);
}
QString RatioText(double ratio) { return formatFloat(ratio, 4); }
QString PercentText(double fraction) { return formatFloat(fraction * 100, 2) + QStringLiteral(" %"); }
QString RunTimeText(const QDateTime& time) {
  return time.toString(userLocale().shortDateFormat + QStringLiteral(" HH:mm"));
}

QString CalibrationCsvHeader() {
  return QStringLiteral("dosimeter,readout_time,dose_chain_usv,factor,ratio_to_mean,outlier");
}

QString CalibrationCsvRow(const CalibrationRow& row) {
  return rowFields(row, true, 0).join(QLatin1Char(','));  // the outlier mark needs no limit
}

QString CalibrationTextHeader() {
  return CalibrationCsvHeader()
      .replace(QLatin1String("outlier"), QLatin1String("status"))
      .replace(QLatin1Char(','), QLatin1Char('\t'));
}

QString CalibrationTextRow(const CalibrationRow& row, double outlierSd) {
  return rowFields(row, false, outlierSd).join(QLatin1Char('\t'));
}

QByteArray CalibrationCsv(const CalibrationRun& run) {
  // Spreadsheets expect CRLF line ends.
  QString text = CalibrationCsvHeader() + QStringLiteral("\r\n");
  for (const CalibrationRow& row : run.rows) text += CalibrationCsvRow(row) + QStringLiteral("\r\n");
  return text.toUtf8();
}

QString BatchLine(const BatchFigures& b) {
  QString line = QStringLiteral("Type %1: %2 factors, %3 in the mean").arg(b.type).arg(b.factors).arg(b.used);
  if (b.mean) line += QStringLiteral("; mean %1").arg(FactorText(*b.mean));
  if (b.sd) line += QStringLiteral(", SD %1").arg(formatGeneral(*b.sd, 4));
  if (b.cv) line += QStringLiteral(", CV %1").arg(PercentText(*b.cv));
  return line;
}

CertificateContent BuildCertificate(const CalibrationRun& run) {
  CertificateContent c;
  c.title = QStringLiteral("Calibration certificate");
  int factors = 0, used = 0;
  for (const CalibrationRow& row : run.rows) {
    factors += row.factor.has_value();
    used += row.used();
  }
  QString dose;
  if (run.dose.all) {
    dose = CalibDoseText(*run.dose.all) + QStringLiteral(" µSv to every dosimeter");
  } else if (!run.dose.perDosimeter.empty()) {
    double low = run.dose.perDosimeter.begin()->second, high = low;
    for (const auto& [id, d] : run.dose.perDosimeter) {
      low = std::min(low, d);
      high = std::max(high, d);
    }
    dose = QStringLiteral("per dosimeter from %1 (%2 to %3 µSv)")
               .arg(run.dose.file, CalibDoseText(low), CalibDoseText(high));
  }
  c.run = {
      {QStringLiteral("Run"), QStringLiteral("computed %1 by %2").arg(RunTimeText(run.computedAt), run.user)},
      {QStringLiteral("Read-outs"), QStringLiteral("%1 from %2").arg(run.rows.size()).arg(run.source)},
      {QStringLiteral("Delivered dose"), dose},
      {QStringLiteral("Note"), run.note.isEmpty() ? QStringLiteral("none") : run.note},
      {QStringLiteral("Factors"), QStringLiteral("%1 solved, %2 in the mean, %3 refused")
                                      .arg(factors)
                                      .arg(used)
                                      .arg(static_cast<int>(run.rows.size()) - factors)},
      {QStringLiteral("Outliers"),
       QStringLiteral("more than %1 SD from the mean of the others, or flagged by the reader")
           .arg(formatGeneral(run.outlierSd, 4))},
  };
  for (const BatchFigures& b : run.batches) c.batches << BatchLine(b);
  // The delivered dose per row only where the rows have doses of their own.
  const bool perRow = !run.dose.all;
  c.columns = {{QStringLiteral("Dosimeter"), false, true}, {QStringLiteral("Read-out"), false, false}};
  if (perRow) c.columns.push_back({QStringLiteral("Dose µSv"), true, false});
  c.columns.insert(c.columns.end(), {{QStringLiteral("Chain µSv"), true, false},
                                     {QStringLiteral("Factor"), true, true},
                                     {QStringLiteral("Ratio"), true, true},
                                     {QStringLiteral("Status"), false, true}});
  for (const CalibrationRow& row : run.rows) {
    QStringList cells = {row.dosimeter,
                         row.readoutTime ? RunTimeText(*row.readoutTime) : QStringLiteral("no time")};
    if (perRow) cells << (row.deliveredUsv ? CalibDoseText(*row.deliveredUsv) : QString());
    cells << (row.chainUsv ? CalibDoseText(*row.chainUsv) : QString())
          << (row.factor ? FactorText(*row.factor) : QString())
          << (row.ratio ? RatioText(*row.ratio) : QString()) << RowStatusText(row, run.outlierSd);
    c.rows.push_back(cells);
    c.marked.push_back(!row.used());
  }
  c.signature = QStringLiteral("Calibrated by %1 on %2 with %3")
                    .arg(run.user, RunTimeText(run.computedAt), run.program);
  return c;
}

}  // namespace quelm
