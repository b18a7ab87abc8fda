#pragma once
// Signing a quarter or a year, the one workflow the command line and the
// archive window both run: the service summary and every person's report
// of the period are made as PDF and stored, with their SHA-256, who signed
// and when, in the archive (DoseArchive::storeSignoff). Refused while
// review items of the period are open, unless the signer signs with them,
// which the reports then state; refused, with nothing stored, when the
// record changed while the documents were made. Needs fonts: a
// QGuiApplication.

#include <QDateTime>
#include <QString>

#include "archive/Archive.h"
#include "archive/ArchiveLocation.h"

namespace quelm {

struct SignoffOutcome {
  Signoff signoff;
  int documents = 0;
};

int SignPeriod(DoseArchive& archive, const ReportPeriod& period, const QString& signedBy, bool withOpenItems,
               const ArchiveSettings& settings, const QDateTime& printedAt, SignoffOutcome* outcome, QString* detail);

// "Signed 2026Q3: 12 documents, SHA-256 ..."
QString SignoffLine(const SignoffOutcome& outcome);

}  // namespace quelm
