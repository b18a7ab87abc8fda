#pragma once
// The reader's look-up table as the list window and the command line see
// it: the directory read page by page, deleting entries, and the rules of
// the three small entry dialogs that ask for a type letter and serial
// number.

#include <QByteArray>
#include <QString>
#include <vector>

#include "parameters/BulbParamBlock.h"

namespace quelm {

// The directory has at most this many pages of ten identifiers.
inline constexpr int kMaxDirectoryPages = 96;

struct LookupEntry {
  QByteArray id;  // the five bytes as the reader sent them
  QString text;   // as listed: the characters up to a zero byte
};

// Reads directory pages 0, 1, ... until a page with fewer than 50 data
// bytes, a failed page or page 96, and returns the identifiers in text
// order. A failure ends the listing with what was read; *code gets it.
std::vector<LookupEntry> ReadLookupDirectory(TBulbParamBlock& commands, int* code = nullptr);

// The list text of an identifier.
QString identifierText(const QByteArray& id);

// Entry dialog rules. Each rewrites the texts as the dialog shows them
// afterwards and says whether the dialog may close.
// TTypeForm: the first character in upper case; closes on a letter A..Z.
bool acceptKeyType(QString& type);
// TTSnForm: the type as above, the serial cut to four characters; closes
// on a letter with four digits, or on anything that is no letter.
bool acceptKeyTypeSN(QString& type, QString& serial);
// TSNForm: the serial cut to four characters; closes on four digits.
bool acceptKeySN(QString& serial);

}  // namespace quelm
