#pragma once
// The error flags of a block record (ErrorCodes): their short codes, used by
// the header, the content list and the text lists alike, and their long
// texts for the header's hint. One table for all of them.

#include <QString>
#include <cstdint>

// Short codes of the set error flags in table order, each followed by a
// blank ("EBSE EBCK DINV "); "OK " when no flag is set.
QString FormatErrorCodes(uint8_t flags);
void FormatErrorCodes(uint8_t flags, QString& text);

// Long texts of the set flags without the separator of the last one, e.g.
// "Heating; Overflow" or "Sensitivity Background"; empty when none is set.
QString ErrorCodesHint(uint8_t flags);

// The flag bits: what the reader sets in a block's ErrorCodes and what a
// dosimeter table's ERRMASK enables. Bits 0..5 are single flags; bits 7..6
// hold one two-bit code of the dosimeter (its sensor, validity, chip).
inline constexpr uint8_t kFlagSensitivity = 0x01;
inline constexpr uint8_t kFlagBackground = 0x02;
inline constexpr uint8_t kFlagHeating = 0x04;
inline constexpr uint8_t kFlagOverflow = 0x08;
inline constexpr uint8_t kClockFault = 0x10;  // the block's DateTime is not available
inline constexpr uint8_t kFlagAbort = 0x20;
inline constexpr uint8_t kFlagDosimeterCode = 0xC0;
