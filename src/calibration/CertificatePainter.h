#pragma once
// The calibration certificate on one A4 page, with real text: the run, the
// batch figures, the table of read-outs and who calibrated when. The table
// gets smaller type, then two groups of rows side by side with the
// essential columns only, as the batch grows; a batch too large for the
// page lists the read-outs left out of the mean first and says how many
// more the batch table (CSV) holds.
//
// Text needs fonts, so a QGuiApplication must exist (the command line makes
// one on the offscreen platform for a certificate).

#include <QString>

#include "calibration/CalibrationText.h"

class QPagedPaintDevice;

namespace quelm {

// Sets A4 without margins on the device and paints the page. kOk, or
// kErrFileWrite when the device could not be painted on.
int PaintCertificate(const CertificateContent& content, QPagedPaintDevice& device);
// The certificate as a PDF file, written whole or not at all: kOk,
// kErrFileOpen (the file cannot be made; noted with noteFileFailure) or
// kErrFileWrite.
int WriteCertificatePdf(const CertificateContent& content, const QString& path);

}  // namespace quelm
