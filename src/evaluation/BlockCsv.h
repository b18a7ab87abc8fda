#pragma once
// Blocks as comma-separated rows (RFC 4180) for spreadsheets: plain numbers
// with a decimal point and ISO dates, whatever the user's regional settings,
// one row per block record.

#include <QString>

#include "base/CsvText.h"
#include "measurement/BlockRecord.h"

namespace quelm {

// The header row, without its line end.
QString BlockCsvHeader();
// One block: number, read-out time (ISO 8601, empty when the block carries
// none), dosimeter, device, reader temperature 'C, error codes, measured
// dose uSv, exposure h, dose rate uSv/h, evaluation start and length,
// normalisation factor; without its line end.
QString BlockCsvRow(const BlockRecord& record);

}  // namespace quelm
