#include "base/IniFile.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/DataFiles.h"
#include "base/NumberFormat.h"
#include "base/Prompter.h"
#include "base/SmallFile.h"
#include "base/UserLocale.h"

namespace quelm {
namespace {

QString stripValue(QString v) {
  v = v.trimmed();
  if (v.size() >= 2) {
    const QChar first = v.front(), last = v.back();
    if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && first == last)
      v = v.mid(1, v.size() - 2);
  }
  return v.left(IniFile::kMaxValueLength);
}

QString stripTrailingBlanks(QString s) {
  while (!s.isEmpty() && (s.back() == QLatin1Char(' ') || s.back() == QLatin1Char('\t'))) s.chop(1);
  return s;
}

}  // namespace

bool ParseProfileInteger(const QString& text, int* value) {
  QString t = text.trimmed();
  bool negative = false;
  if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
    negative = t.front() == QLatin1Char('-');
    t = t.mid(1);
  }
  int base = 10;
  if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    base = 16;
    t = t.mid(2);
  }
  if (t.isEmpty()) return false;
  for (QChar c : t) {
    const bool digit =
        base == 10 ? c.isDigit() && c.unicode() < 128 : QStringLiteral("0123456789abcdefABCDEF").contains(c);
    if (!digit) return false;
  }
  bool ok = false;
  const qlonglong v = t.toLongLong(&ok, base);
  if (!ok) return false;
  const qlonglong s = negative ? -v : v;
  // Hexadecimal values name bit patterns: 0xFFFFFFFF is -1, as a 32-bit word.
  if (base == 16 && !negative && s <= 0xFFFFFFFFll) {
    *value = static_cast<int>(static_cast<uint32_t>(s));
    return true;
  }
  if (s < INT32_MIN || s > INT32_MAX) return false;
  *value = static_cast<int>(s);
  return true;
}

QString FormatProfileFloat(double value) { return formatGeneral(value, 15, 1); }

IniFile::IniFile(const QString& path, Encoding encoding)
    : path_(path), latin1_(encoding == Encoding::Latin1) {
  QByteArray bytes;
  switch (ReadSmallFile(path, IniFile::kMaxFileSize, &bytes)) {
    case SmallFileResult::Missing:
      status_ = LoadStatus::Missing;
      return;
    case SmallFileResult::Unreadable:
      status_ = LoadStatus::Unreadable;
      return;
    case SmallFileResult::Read:
      break;
  }
  status_ = LoadStatus::Loaded;
  QString text;
  if (!latin1_) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = utf8(bytes);
    latin1_ = utf8.hasError();  // then every byte is kept as it was
  }
  if (latin1_) text = QString::fromLatin1(bytes);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  lines_ = std::vector<QString>();
  for (const QString& l : text.split(QLatin1Char('\n'))) lines_.push_back(l);
  if (!lines_.empty() && lines_.back().isEmpty()) lines_.pop_back();  // final line end
}

bool IniFile::isSectionHeader(const QString& line, QString* name) {
  const QString t = line.trimmed();
  if (!t.startsWith(QLatin1Char('['))) return false;
  const int close = t.indexOf(QLatin1Char(']'));
  if (close < 0) return false;
  if (name) *name = t.mid(1, close - 1).trimmed();
  return true;
}

bool IniFile::splitKey(const QString& line, QString* key, QString* value) {
  const QString t = line.trimmed();
  if (t.startsWith(QLatin1Char(';'))) return false;
  const int eq = line.indexOf(QLatin1Char('='));
  if (eq < 0) return false;
  *key = line.left(eq).trimmed();
  if (value) *value = line.mid(eq + 1);
  return !key->isEmpty();
}

int IniFile::findSection(const QString& section) const {
  const QString wanted = section.trimmed();
  QString name;
  for (size_t i = 0; i < lines_.size(); ++i)
    if (isSectionHeader(lines_[i], &name) && name.compare(wanted, Qt::CaseInsensitive) == 0)
      return static_cast<int>(i);
  return -1;
}

int IniFile::findKey(int sectionLine, const QString& key) const {
  const QString wanted = key.trimmed();
  QString k;
  for (size_t i = sectionLine + 1; i < lines_.size(); ++i) {
    if (isSectionHeader(lines_[i], nullptr)) break;
    if (splitKey(lines_[i], &k, nullptr) && k.compare(wanted, Qt::CaseInsensitive) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

bool IniFile::SectionExists(const QString& section) const { return findSection(section) >= 0; }

bool IniFile::ValueExists(const QString& section, const QString& key) const {
  const int s = findSection(section);
  return s >= 0 && findKey(s, key) >= 0;
}

QStringList IniFile::ReadSection(const QString& section) const {
  QStringList keys;
  const int s = findSection(section);
  if (s < 0) return keys;
  QString k;
  for (size_t i = s + 1; i < lines_.size(); ++i) {
    if (isSectionHeader(lines_[i], nullptr)) break;
    if (splitKey(lines_[i], &k, nullptr)) keys << k;
  }
  return keys;
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const {
  const int s = findSection(section);
  const int k = s < 0 ? -1 : findKey(s, key);
  if (k < 0) return stripTrailingBlanks(defaultValue).left(kMaxValueLength);
  QString name, value;
  splitKey(lines_[k], &name, &value);
  return stripValue(value);
}

int IniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
  if (!ValueExists(section, key)) return defaultValue;
  int v = 0;
  return ParseProfileInteger(ReadString(section, key, QString()), &v) ? v : defaultValue;
}

double IniFile::ReadFloat(const QString& section, const QString& key, double defaultValue) const {
  if (!ValueExists(section, key)) return defaultValue;
  // One file serves every user of the machine: its decimal point is a point
  // whatever the user's settings. A comma counts only where the text holds
  // no point (files written with a comma before); neither groups digits.
  QString t = ReadString(section, key, QString()).trimmed();
  if (!t.contains(QLatin1Char('.'))) t.replace(QLatin1Char(','), QLatin1Char('.'));
  static const QRegularExpression number(
      QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
  if (!number.match(t).hasMatch()) return defaultValue;
  bool ok = false;
  const double v = QLocale::c().toDouble(t, &ok);
  return ok && std::isfinite(v) ? v : defaultValue;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
  const QString line = key.trimmed() + QLatin1Char('=') + value;
  int s = findSection(section);
  if (s < 0) {
    // A new section goes to the end, separated from what is there by a blank line.
    if (!lines_.empty() && !lines_.back().trimmed().isEmpty()) lines_.push_back(QString());
    lines_.push_back(QLatin1Char('[') + section.trimmed() + QLatin1Char(']'));
    lines_.push_back(line);
    dirty_ = true;
    return;
  }
  const int k = findKey(s, key);
  if (k >= 0) {
    if (lines_[k] != line) {
      lines_[k] = line;
      dirty_ = true;
    }
    return;
  }
  // A new key goes after the section's last non-blank line.
  size_t end = s + 1;
  for (size_t i = s + 1; i < lines_.size() && !isSectionHeader(lines_[i], nullptr); ++i)
    if (!lines_[i].trimmed().isEmpty()) end = i + 1;
  lines_.insert(lines_.begin() + static_cast<long>(end), line);
  dirty_ = true;
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value) {
  WriteString(section, key, QString::number(value));
}

void IniFile::WriteFloat(const QString& section, const QString& key, float value) {
  WriteString(section, key, FormatProfileFloat(static_cast<double>(value)));
}

bool IniFile::UpdateFile() {
  if (!dirty_ && status_ == LoadStatus::Loaded) return true;
  QString text;
  for (const QString& l : lines_) text += l + QLatin1String("\r\n");
  const QByteArray bytes = latin1_ ? text.toLatin1() : text.toUtf8();
  // Written beside the old file and renamed over it, so that a failed write
  // leaves the old content in place; the failure's reason is noted there.
  if (writeDataFile(path_, bytes, WriteMode::Replace) != 0) return false;
  dirty_ = false;
  status_ = LoadStatus::Loaded;
  return true;
}

QString unableToWriteText(const QString& path) { return QStringLiteral("Unable to write to %1").arg(path); }

void reportUnableToWrite(const QString& path) {
  showMessage(MessageKind::Error, QStringLiteral("Error"), unableToWriteText(path));
}

}  // namespace quelm
