#pragma once
// The search request of the content list as the search window edits it:
// the block-number fields, the dosimeter key and the criteria flags. Its
// date bounds are reader stamps, typed and shown as base/DateText.h reads
// and writes them.

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>

#include "measurement/BlockRecord.h"

namespace quelm {

// Flags of a search with the ticked criteria; always backward.
uint8_t SearchFlags(bool byNumber, bool byDate, bool byDosimeter);

// The dosimeter key: its first 5 characters, a shorter key completed with
// zero bytes (it then matches no identifier, all of which have 5).
void SetSearchDosimeter(SearchRequest& request, const QString& key);

// The number in a block-number field: nothing for an empty field (the last
// number stays), 0 when the text is not an unsigned decimal number.
std::optional<uint32_t> BlockFieldNumber(const QString& text);
// What Ok refuses in a block-number field, or empty: text that is no
// number, or a number beyond the reader's 0 to 2047 (it would be sent).
QString BlockFieldError(const QString& text);
// Keys a block-number field lets through: digits and the characters below '0'.
bool BlockFieldKeyAccepted(QChar c);

// First-use defaults: the search starts at the newest block and covers the
// current year up to now.
void InitialiseSearchRequest(SearchRequest& request, uint32_t lastBlock, const QDateTime& now);

}  // namespace quelm
