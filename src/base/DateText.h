#pragma once
// Dates and times as people type them: the one home of each date format's
// parser and limits. Every front end (windows, quelm-cli, reports) reads a
// date of a format here, so that one text means one date, or is refused with
// one message, wherever it is typed.
//
// The reader's date: a reader stamp is year − 1900, month, day, hour and
// minute, one byte each (a block's time, a search request's bounds, the
// by-date download's query). Operators type it as "YYYY.MM.DD HH:MM" (the
// search window's date fields, `quelm-cli list --after/--before`,
// `quelm-cli download --since`) or as five numbers (the download window's
// date edits). Both are checked against kDateLimits and the calendar here:
// a date that is no calendar date (31 February) never reaches the reader.

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace quelm {

enum DateField : int { kYear, kMonth, kDay, kHour, kMinute, kDateFieldCount };
using DateFields = std::array<int, kDateFieldCount>;

struct DateFieldLimits {
  const char* name;
  int maxLength;  // characters an edit of the field takes
  int min;
  int max;
};
// The limits of the reader's date. The day is bounded by its month too
// (Gregorian calendar). Hour 24 and minute 60 are the reader's own: the end
// of a day, the end of an hour.
inline constexpr DateFieldLimits kDateLimits[kDateFieldCount] = {{"year", 4, 2000, 2100},
                                                                 {"month", 2, 1, 12},
                                                                 {"day", 2, 1, 31},
                                                                 {"hour", 2, 0, 24},
                                                                 {"minute", 2, 0, 60}};
// The download window's year edit also takes the twentieth century, back to
// the first year a stamp can hold.
inline constexpr int kFirstEditYear = 1900;

int DaysInMonth(int year, int month);

// The download window's five edits: each a whole number ("'x' is not a valid
// integer value") within its limits (years from firstYear on), the day one
// of its month. Nothing when one is not, with the message for the first in
// *why ("The day must be from 1 to 29, not 30").
std::optional<DateFields> ParseDateFields(const std::array<QString, kDateFieldCount>& texts, int firstYear,
                                          QString* why);

// What a typed year outside the limits becomes: the nearer limit (the search
// window), or a refusal (every other front end: a script is told, not given
// another date).
enum class YearOutside { Moved, Refused };

// Reads "YYYY.MM.DD HH:MM" at its fixed positions: characters 1-4 the year,
// 6-7 the month, 9-10 the day, 12-13 the hour, 15-16 the minute. The
// separators are not examined, characters after the 16th are ignored, and a
// part may begin with blanks ("2006.06. 4  5:30"); otherwise each part is
// decimal digits. Nothing when the text is not of that form or a field is
// out of its limits; *why then holds the field's message (empty when the
// text is not of the form).
std::optional<DateFields> ParseDateText(const QString& text, YearOutside year, QString* why = nullptr);

// As ParseDateText with the year refused outside its limits, for text a
// script wrote: only the form itself, its separators included, and nothing
// after it ("2006.01.20 08:00 tomorrow" or seconds are refused, not cut).
std::optional<DateFields> ParseExactDateText(const QString& text, QString* why = nullptr);

// "2006.06.24 15:30": the form ParseDateText reads.
QString DateText(const DateFields& fields);

// A refused date text where a front end names its input:
// `--since must be a date and time "YYYY.MM.DD HH:MM", not "31.01.2024"`,
// followed by why in brackets when there is a reason.
QString DateTextRefusal(const QString& input, const QString& text, const QString& why);

// A reader stamp: year − 1900, month, day, hour, minute.
void ToStamp(const DateFields& fields, uint8_t stamp[5]);
DateFields FromStamp(const uint8_t stamp[5]);

}  // namespace quelm
