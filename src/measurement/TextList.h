#pragma once
// The text files people read: the content list (".lst"), the detailed text
// list (".txt") and the single-block export. These files travel to Windows
// machines and older tools that compare them column by column, so they are
// single-byte text with CR LF line ends on every platform, and each row is
// laid out at fixed character positions.
//
// The pieces are built here as byte strings with "\n" line ends; writeText
// turns every "\n" into CR LF as it writes.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdio>
#include <functional>
#include <vector>

#include "measurement/BlockRecord.h"

namespace quelm {

// Titles of the title block: download lists (21 blanks, plural) and the
// block export (singular).
inline constexpr char kListTitle[] = "                     LIST OF MEASUREMENTS";
inline constexpr char kExportTitle[] = "                     LIST OF MEASUREMENT";

// Scientific notation with one digit before and two after the decimal
// separator (the user's), the exponent with its sign and without leading
// zeros: 123.4 -> "1.23E+2", 0.5 -> "5.00E-1", 0 -> "0.00E+0". The digits
// are rounded half away from zero from the value's 15-digit decimal form.
QByteArray formatFloatE(double value);

// The column header: four lines, the degree sign as byte 0xB0.
QByteArray columnHeaderText();
// The title block: rule, title, file name, date and time of printing in the
// user's short date and long time format, and the column header on request.
QByteArray titleBlockText(const QString& fileName, const QByteArray& title, bool columnHeader,
                          const QDateTime& now);
// One content-list row of the record, with its line end.
QByteArray listRowText(const BlockRecord& record);
// "\n\nBL No=%6u  \n".
QByteArray blockNumberLineText(const BlockRecord& record);
// An empty line and the 106 value lines, labelled (list) or comma-separated
// (csv). values/ranges are the decoded RawValues of the record.
QByteArray valueLinesList(const BlockRecord& record, const uint32_t values[kRawValueCount],
                          const uint32_t ranges[kRawValueCount]);
QByteArray valueLinesCsv(const BlockRecord& record, const uint32_t values[kRawValueCount]);

// The text with every "\n" as CR LF.
QByteArray crlfText(QByteArray text);
// Writes text to an open file with every "\n" as CR LF; false when the
// write did not complete.
bool writeText(std::FILE* file, const QByteArray& text);

// The time that "Date/time of printing" shows; tests fix it.
QDateTime textFileNow();
void setTextFileClock(std::function<QDateTime()> clock);  // empty: the system clock

// A complete content list of the given blocks: the title block with the
// plural title and the column header, then one row per block. Creates or
// truncates the file. 0, -107 (cannot be created), -110 (a write failed) or
// -111 (cannot be closed).
int WriteContentList(const QString& name, const std::vector<BlockRecord>& blocks);

}  // namespace quelm
