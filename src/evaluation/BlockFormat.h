#pragma once
// Texts of one measurement block shared by the detail view, the content
// list and the text lists: doses, error flags, read-out times.

#include <QString>
#include <cstdint>
#include <optional>

#include "measurement/ErrorFlags.h"

// Dose in uSv as shown everywhere: "0.50 uSv", "12.3 uSv", "1.23 mSv",
// "2.50 Sv" (with the micro sign). Negative values and not-a-number show 0.
QString FormatDose(float value);
void FormatDose(float value, QString& text);

// Seconds since 1980-01-01 00:00:00 to year-1900, month, day, hour, minute,
// second. Returns 0, or kDateOutsideRange when the year falls outside
// 2000..2049; then the date reads 1 January (before 2000) or 31 December
// (after 2049).
inline constexpr int kDateOutsideRange = -1;
int SecondsToDate(uint32_t seconds, uint8_t date[6]);
// A last read-out time as shown: "2006.01.01 00:00  " (two trailing blanks),
// or "Not Available" when SecondsToDate finds no year.
QString FormatReadOutTime(uint32_t seconds);

// Reference and background dosimeters (SENS..., BGND... and their mixed
// spellings [SB][EG]N[SD]) have no exposure, dose rate or last read-out.
bool IsSpecialDosimeter(const char bulbId[5]);

// Whether a block's exposure and dose rate are shown: not for a block
// without a valid time nor for reference and background dosimeters, no
// exposure at 0xFFFF and no rate without an exposure. The reader fills the
// dose rate field of such blocks too, with nothing a rate means.
struct ExposureShown {
  bool exposure = false;
  bool rate = false;
};
ExposureShown ShownExposure(uint8_t errorCodes, const char bulbId[5], uint16_t exposure);

// Up to five characters of an identifier field; a zero byte ends it early.
QString IdentifierText(const char id[5]);

// Whole hours from the previous read-out (seconds since 1980 in reader time)
// to the block's DateTime, both taken as local time of the running system:
// the block time is converted with the daylight-saving flag set when the
// zone has daylight saving that year. Nothing when the previous read-out
// lies after the block's time.
std::optional<uint32_t> HoursSinceLastReadOut(const uint8_t dateTime[5], uint32_t lastReadOut);
