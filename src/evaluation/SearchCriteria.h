#pragma once
// The search request of the content list as the search window edits it:
// the date texts of its bounds, the parsing of typed dates, the block-number
// fields, the dosimeter key and the criteria flags.

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>

#include "measurement/BlockRecord.h"

namespace quelm {

// A date bound as the window shows it: "yyyy.mm.dd hh:mm", 16 characters.
QString SearchDateText(const uint8_t stamp[5]);

// Reads "yyyy.mm.dd hh:mm" at its fixed positions (the separators are not
// examined) into year-1900, month, day, hour, minute. The year is moved into
// 2000..2100 (or, Refused, must lie there); the month must be 1..12, the day
// exist in that month (29 February in years divisible by 4), the hour be at
// most 24 and the minute at most 60. Returns 0, or kNotADate (stamp untouched) when
// a part is not a number or out of range, or the text is shorter than 16
// characters.
enum class YearOutside { Moved, Refused };
inline constexpr int kNotADate = -1;
int ParseSearchDateTime(const QString& text, uint8_t stamp[5], YearOutside year = YearOutside::Moved);

// Flags of a search with the ticked criteria; always backward.
uint8_t SearchFlags(bool byNumber, bool byDate, bool byDosimeter);

// The dosimeter key: its first 5 characters, a shorter key completed with
// zero bytes (it then matches no identifier, all of which have 5).
void SetSearchDosimeter(SearchRequest& request, const QString& key);

// The number in a block-number field: nothing for an empty field (the last
// number stays), 0 when the text is not an unsigned decimal number.
std::optional<uint32_t> BlockFieldNumber(const QString& text);
// Keys a block-number field lets through: digits and the characters below '0'.
bool BlockFieldKeyAccepted(QChar c);

// First-use defaults: the search starts at the newest block and covers the
// current year up to now.
void InitialiseSearchRequest(SearchRequest& request, uint32_t lastBlock, const QDateTime& now);

}  // namespace quelm
