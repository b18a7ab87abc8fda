#include "archive/ArchiveSignoff.h"

#include "archive/ArchiveReport.h"
#include "archive/ArchiveText.h"
#include "archive/ReportPainter.h"
#include "base/ErrorCodes.h"

namespace quelm {

int SignPeriod(DoseArchive& archive, const ReportPeriod& period, const QString& signedBy, bool withOpenItems,
               const ArchiveSettings& settings, const QDateTime& printedAt, SignoffOutcome* outcome, QString* detail) {
  detail->clear();
  // What the documents show must still be the record when they are stored.
  SignoffBasis basis;
  if (const int rc = archive.signoffBasis(period, &basis)) return *detail = archive.errorDetail(), rc;
  // Refused before anything is made when items are open.
  if (basis.openItems && !withOpenItems) {
    *detail = OpenItemsText(basis.openItems, period.label);
    return kErrArchiveOpenItems;
  }
  // Read once for all the documents: a report each reading it again cost
  // persons times the archive.
  PeriodRecord record;
  if (const int rc = ReadPeriodRecord(archive, period, &record)) return *detail = archive.errorDetail(), rc;
  std::vector<SignoffDocument> documents;
  ReportDocument report;
  QByteArray pdf;
  if (const int rc = BuildSummaryReport(archive, period, settings, printedAt, &report, &record))
    return *detail = archive.errorDetail(), rc;
  if (const int rc = ReportPdf(report, &pdf)) return rc;
  documents.push_back({QString(), pdf});
  // Every person with a dose or a read-out in the period.
  for (const SummaryRow& row : basis.figures) {
    if (row.periodReadouts == 0 && row.periodDose == 0) continue;
    if (const int rc =
            BuildPersonReport(archive, row.totals.person.id, period, settings, printedAt, &report, &record))
      return *detail = archive.errorDetail(), rc;
    if (const int rc = ReportPdf(report, &pdf)) return rc;
    documents.push_back({row.totals.person.id, pdf});
  }
  SignoffOutcome out;
  if (const int rc = archive.storeSignoff(period, signedBy, withOpenItems, documents, basis, &out.signoff))
    return *detail = archive.errorDetail(), rc;
  out.documents = static_cast<int>(documents.size());
  *outcome = out;
  return kOk;
}

QString SignoffLine(const SignoffOutcome& o) {
  return QStringLiteral("Signed %1 by %2: %3 documents%4, SHA-256 %5")
      .arg(o.signoff.period, o.signoff.signedBy)
      .arg(o.documents)
      .arg(o.signoff.openItems ? QStringLiteral(", with %1 read-outs awaiting review").arg(o.signoff.openItems) : QString())
      .arg(o.signoff.sha256);
}

}  // namespace quelm
