#pragma once
// The one way a text field reaches a spreadsheet or a plain-text list.
//
// Spreadsheets run a cell that begins with '=', '+', '-' or '@' (and some a
// tab or a carriage return) as a formula: a name or an identifier a
// record carries could then compute, or call out, when a list is opened.
// Such a field is written with a leading apostrophe, which spreadsheets
// show as text. Numbers are never passed through here: a negative dose
// stays a number.
//
// Plain-text lists are read line by line and column by tab: a tab or a
// line break inside a name would make a reader see another column or row,
// so control characters are written as visible escapes.

#include <QString>
#include <QStringList>

namespace quelm {

// A CSV text field (RFC 4180): quoted when it holds a comma, a quote or a
// line break, and kept from being taken for a formula.
QString CsvField(const QString& text);
// Fields joined by commas, without the line end.
QString CsvLine(const QStringList& fields);

// A field of a tab-separated text list: tab, line breaks and other control
// characters as "\t", "\n", "\r", "\xNN".
QString PlainField(const QString& text);

}  // namespace quelm
