#pragma once
// The main window's two output commands as plain code: the single-block text
// export and the placement of the window's image on a printed page.

#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>

#include "measurement/BlockRecord.h"

namespace quelm {

inline constexpr char kExportFilter[] = "Quelm glowdata files (*.txt)|*.TXT";

// "Quelm" + block number + ".txt": Quelm123.txt.
QString ProposedExportName(uint16_t blockNumber);

// Writes the record as the export text file (created or truncated), its
// values decoded as the detail view decodes them. 0, -107, -110 or -111.
// dataFile, the data file the record was read from, is never the target,
// under whatever name (-107).
int ExportBlockText(const BlockRecord& record, const QString& name, const QString& dataFile = QString());

// Where the window's image goes on a page of `page` printer pixels at `dpi`:
// margins of 400 (left, top) and 200 (right, bottom) pixels of a 600 dpi
// page, scaled to the printer's resolution, and the window's aspect kept by
// cutting the height or the width. Empty when the page leaves no room or the
// window has no size.
QRect FitPrintRect(const QSize& page, const QSize& window, int dpi);

}  // namespace quelm
