#pragma once
// The calibration's texts, one home for the window, the command line and
// the certificate: what its operations tell, a row's status, the
// spreadsheet rows, and the certificate's content.

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

#include "base/Prompter.h"
#include "calibration/Calibration.h"

namespace quelm {

// Every text the calibration workflow shows or prints.
enum class CalibText {
  None,
  // Why a read-out has no factor (besides the chain's own reasons).
  NotADosimeter,
  ReadAgain,
  NoDose,
  // Input.
  NoReadouts,
  TooManyReadouts,
  BadDose,
  DoseFile,
  DoseFileHeader,
  BadOutlierSd,
  // Output.
  NotReady,
  NoFactors,
  CsvWritten,
  PdfWritten,
  NoPrinting,
  DptWritten,
  DptFromReadouts,
  DptOtherType,
  DptMixedTables,
  // The look-up entries.
  LookupQuestion,
  LookupNothingToWrite,
  LookupWritten,
  LookupKept,
  LookupNoDefault,
  TableDiffers,
  LookupReadBack,
  LookupStopped,
  LookupSummary,
  LookupNotKept,
  LookupNotRecorded,
  // The dose archive.
  MissingReadouts,
  RunKept,
  RunUpdated,
  ArchiveUpgraded,
  NoArchive,
  HistoryDosimeter,
  ArchiveSpan,
};

struct CalibTextEntry {
  CalibText id;
  MessageKind kind;
  const char* text;  // %1, %2, %3 as the call gives them
};
const CalibTextEntry& calibTextEntry(CalibText id);
QString calibText(CalibText id, const QStringList& args = {});

// A read-out's status in the batch: "used", "outlier (4.2 SD), left out",
// "flagged (EBHE), kept", "refused: <why>"; `outlierSd` is the run's limit.
QString RowStatusText(const CalibrationRow& row, double outlierSd);
// A deviation beyond the limit in standard deviations, "4.2": one decimal,
// or as many more as it takes to read above the limit (3.008 beyond 3 is
// "3.01", never "3.0", which would look within it on a certificate).
QString DeviationText(double deviation, double limit);
// Why the row has no factor; empty when it has one.
QString RowRefusalText(const CalibrationRow& row);

// Numbers as the window and the certificate show them (the user's decimal
// separator): a dose "1234.50", a factor with the seven digits a single
// holds, a ratio "1.0234", a coefficient of variation "0.84 %".
QString CalibDoseText(double usv);
QString FactorText(double factor);
QString RatioText(double ratio);
QString PercentText(double fraction);
QString RunTimeText(const QDateTime& time);

// dosimeter,readout_time,dose_chain_usv,factor,ratio_to_mean,outlier
// One row per read-out in the run's order: plain numbers with a decimal
// point, ISO times, the factor as the single a table holds; outlier is
// "no", "yes" (left out) or "kept", and empty with the factor for a read-out
// that has none. Lines end in CRLF.
QString CalibrationCsvHeader();
QString CalibrationCsvRow(const CalibrationRow& row);
QByteArray CalibrationCsv(const CalibrationRun& run);

// The same columns tab-separated for a terminal, times "YYYY-MM-DD HH:MM",
// the status (RowStatusText) in place of the outlier mark.
QString CalibrationTextHeader();
QString CalibrationTextRow(const CalibrationRow& row, double outlierSd);

// The batch's figures of one type as one line.
QString BatchLine(const BatchFigures& figures);

// What the one-page certificate says, made once from the run; the print
// library lays it out.
struct CertificateColumn {
  QString title;
  bool right;      // numbers
  bool essential;  // kept where rows are set side by side; the last takes what is left
};
struct CertificateContent {
  QString title;
  std::vector<std::pair<QString, QString>> run;  // caption, value
  QStringList batches;                           // BatchLine per type
  std::vector<CertificateColumn> columns;
  std::vector<QStringList> rows;
  std::vector<bool> marked;  // rows not in the mean
  QString signature;         // who and when
};
CertificateContent BuildCertificate(const CalibrationRun& run);

}  // namespace quelm
