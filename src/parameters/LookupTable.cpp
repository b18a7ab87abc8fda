#include "parameters/LookupTable.h"

#include <algorithm>

namespace quelm {
namespace {

bool isLetter(QChar c) { return c >= QLatin1Char('A') && c <= QLatin1Char('Z'); }

bool fourDigits(const QString& s) {
  return s.size() == 4 && std::all_of(s.begin(), s.end(),
                                      [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

}  // namespace

QString identifierText(const QByteArray& id) {
  const qsizetype end = id.indexOf('\0');
  return QString::fromLatin1(end < 0 ? id : id.left(end));
}

std::vector<LookupEntry> ReadLookupDirectory(TBulbParamBlock& commands, int* code) {
  std::vector<LookupEntry> entries;
  if (code) *code = 0;
  for (int page = 0; page < kMaxDirectoryPages; ++page) {
    uint8_t data[kDirectoryPageBytes];
    uint16_t length = 0;
    if (const int rc = commands.ReadLUTList(data, static_cast<uint8_t>(page), &length)) {
      if (code) *code = rc;
      break;
    }
    const int count = std::min(length / kIdentifierBytes, kDirectoryPageBytes / kIdentifierBytes);
    for (int k = 0; k < count; ++k) {
      LookupEntry e;
      e.id = QByteArray(reinterpret_cast<const char*>(data) + k * kIdentifierBytes, kIdentifierBytes);
      e.text = identifierText(e.id);
      entries.push_back(std::move(e));
    }
    if (length < kDirectoryPageBytes) break;
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const LookupEntry& a, const LookupEntry& b) { return a.text < b.text; });
  return entries;
}

bool acceptKeyType(QString& type) {
  type = type.left(1).toUpper();
  return !type.isEmpty() && isLetter(type[0]);
}

bool acceptKeyTypeSN(QString& type, QString& serial) {
  type = type.left(1).toUpper();
  serial = serial.left(4);
  if (type.isEmpty() || !isLetter(type[0])) return true;
  return fourDigits(serial);
}

bool acceptKeySN(QString& serial) {
  serial = serial.left(4);
  return fourDigits(serial);
}

}  // namespace quelm
