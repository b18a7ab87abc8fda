#include "parameters/ParamField.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include <QStringDecoder>

#include "base/DataFiles.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "base/NumberFormat.h"
#include "base/Prompter.h"
#include "base/UserLocale.h"

namespace quelm {
namespace {

int textLength(ParamType type) { return type == ParamType::Char ? 1 : 4; }

bool isText(ParamType type) { return type == ParamType::Char || type == ParamType::Text4; }

// Signed or unsigned as the field is declared.
long long loadInteger(const ParamField& f, std::span<const uint8_t> record) {
  const uint8_t* p = record.data() + f.offset;
  switch (f.type) {
    case ParamType::U8:
      return p[0];
    case ParamType::I8:
      return static_cast<int8_t>(p[0]);
    case ParamType::U16:
      return p[0] | (p[1] << 8);
    case ParamType::U32:
      return static_cast<long long>(uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
                                    (uint32_t{p[3]} << 24));
    default:
      return 0;
  }
}

// Keeps the value's low bits, as many as the field has.
void storeInteger(const ParamField& f, std::span<uint8_t> record, long long value) {
  const auto bits = static_cast<uint64_t>(value);
  for (int k = 0; k < paramSize(f.type); ++k)
    record[f.offset + static_cast<size_t>(k)] = (bits >> (8 * k)) & 0xFF;
}

float loadSingle(const ParamField& f, std::span<const uint8_t> record) {
  float v;
  std::memcpy(&v, record.data() + f.offset, sizeof v);
  return v;
}

void storeSingle(const ParamField& f, std::span<uint8_t> record, float v) {
  std::memcpy(record.data() + f.offset, &v, sizeof v);
}

QString loadText(const ParamField& f, std::span<const uint8_t> record) {
  QString s;
  for (int k = 0; k < textLength(f.type); ++k) {
    const uint8_t b = record[f.offset + static_cast<size_t>(k)];
    if (b == 0) break;
    s += QChar(b);  // Latin-1
  }
  return s;
}

QString withoutTrailingBlanks(QString s) {
  while (!s.isEmpty() && s.back() == QLatin1Char(' ')) s.chop(1);
  return s;
}

bool fitsInBytes(const QString& text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
}

// stored * scale + bias, the number files and edits show.
long long shownInteger(const ParamField& f, std::span<const uint8_t> record) {
  return loadInteger(f, record) * f.scale + f.bias;
}

long long toStored(const ParamField& f, long long shown) { return (shown - f.bias) / f.scale; }

double limited(double v, double min, double max) { return std::max(std::min(v, max), min); }

// Decimal integers as the edits take them: blanks around, an optional sign,
// digits, within 32 bits.
bool parseDecimalInteger(const QString& text, long long* value) {
  const QString t = text.trimmed();
  int at = 0;
  if (!t.isEmpty() && (t[0] == QLatin1Char('+') || t[0] == QLatin1Char('-'))) at = 1;
  if (at >= t.size()) return false;
  for (int k = at; k < t.size(); ++k)
    if (t[k] < QLatin1Char('0') || t[k] > QLatin1Char('9')) return false;
  bool ok = false;
  const long long v = t.toLongLong(&ok);
  if (!ok || v < INT32_MIN || v > INT32_MAX) return false;
  *value = v;
  return true;
}

// A profile integer; unsigned 32-bit fields also take decimals above 2^31,
// with a plus sign as the file check takes them.
bool parseFileInteger(const ParamField& f, const QString& text, long long* value) {
  int v = 0;
  if (ParseProfileInteger(text, &v)) {
    *value = f.type == ParamType::U32 ? static_cast<long long>(static_cast<uint32_t>(v)) : v;
    return true;
  }
  if (f.type != ParamType::U32) return false;
  QString t = text.trimmed();
  if (t.startsWith(QLatin1Char('+'))) t = t.mid(1);
  if (t.isEmpty() || !std::all_of(t.begin(), t.end(),
                                  [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }))
    return false;
  bool ok = false;
  const qulonglong u = t.toULongLong(&ok);
  if (!ok || u > 0xFFFFFFFFull) return false;
  *value = static_cast<long long>(u);
  return true;
}

QString limitsText(double min, double max) {
  const auto n = [](double v) { return formatGeneral(v, 15); };
  if (std::isinf(min)) return QStringLiteral("above %1").arg(n(max));
  if (std::isinf(max)) return QStringLiteral("below %1").arg(n(min));
  return QStringLiteral("outside %1..%2").arg(n(min), n(max));
}

QString outsideLimits(const ParamField& f, const QString& value, double min, double max) {
  return QStringLiteral("%1: %2 is %3").arg(QLatin1String(f.key), value, limitsText(min, max));
}

// --- What a parameter file says, before anything is converted ---------------

// An integer as profile files hold it (an optional sign, then decimal
// digits, or "0x" and hexadecimal digits), taken whole: nothing is cut.
enum class WholeNumber { Ok, NotANumber, TooLarge };
WholeNumber parseWholeNumber(const QString& text, long long* value) {
  QString t = text.trimmed();
  const bool negative = t.startsWith(QLatin1Char('-'));
  if (negative || t.startsWith(QLatin1Char('+'))) t = t.mid(1);
  int base = 10;
  if (t.size() > 2 && t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    base = 16;
    t = t.mid(2);
  }
  const auto digit = [base](QChar c) {
    return c.unicode() < 128 && (base == 10 ? c.isDigit() : std::isxdigit(c.toLatin1()) != 0);
  };
  if (t.isEmpty() || !std::all_of(t.begin(), t.end(), digit)) return WholeNumber::NotANumber;
  bool ok = false;
  const qulonglong magnitude = t.toULongLong(&ok, base);
  if (!ok || magnitude > (1ull << 40)) return WholeNumber::TooLarge;
  *value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  return WholeNumber::Ok;
}

// The numbers a file may give for an integer field: what the field holds,
// through its scale and bias, within the window's limits.
struct WholeRange {
  long long min, max;
};
// What the field's bytes can hold, as shown.
WholeRange typeRange(const ParamField& f) {
  long long lo = 0, hi = 0;
  switch (f.type) {
    case ParamType::U8:
      hi = 0xFF;
      break;
    case ParamType::I8:
      lo = -128, hi = 127;
      break;
    case ParamType::U16:
      hi = 0xFFFF;
      break;
    case ParamType::U32:
      hi = 0xFFFFFFFFll;
      break;
    default:
      break;
  }
  return {lo * f.scale + f.bias, hi * f.scale + f.bias};
}

WholeRange fileRange(const ParamField& f) {
  WholeRange r = typeRange(f);
  if (!std::isinf(f.editMin)) r.min = std::max(r.min, static_cast<long long>(std::ceil(f.editMin)));
  for (const double bound : {f.editMax, f.fileMax})
    if (!std::isinf(bound)) r.max = std::min(r.max, static_cast<long long>(std::floor(bound)));
  return r;
}

QString integerFault(const ParamField& f, const QString& text) {
  long long v = 0;
  const WholeNumber parsed = parseWholeNumber(text, &v);
  if (parsed == WholeNumber::NotANumber) return QStringLiteral("is not a whole number");
  const WholeRange r = fileRange(f);
  if (parsed == WholeNumber::TooLarge || v < r.min || v > r.max)
    return QStringLiteral("is outside %1..%2").arg(r.min).arg(r.max);
  if ((v - f.bias) % f.scale != 0) return QStringLiteral("is not a multiple of %1").arg(f.scale);
  return {};
}

QString realFault(const ParamField& f, const QString& text) {
  const std::optional<double> v = parseUserFloat(text);
  if (!v || !std::isfinite(*v)) return QStringLiteral("is not a number");
  const auto single = static_cast<float>(*v);
  if (!std::isfinite(single)) return QStringLiteral("does not fit a 32-bit float");
  if (*v != 0 && single == 0) return QStringLiteral("is too small for a 32-bit float");
  if (*v < f.editMin || *v > f.editMax) return QStringLiteral("is %1").arg(limitsText(f.editMin, f.editMax));
  return {};
}

// Control characters, C1 included: the trace of UTF-8 text read byte by
// byte (the second byte of every accented letter falls there).
bool isControl(QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0); }

QString textFault(const ParamField& f, const QString& text) {
  if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF || isControl(c); }))
    return QStringLiteral("is not text of single-byte (Latin-1) characters");
  if (text.size() > textLength(f.type))
    return textLength(f.type) == 1 ? QStringLiteral("is longer than 1 character")
                                   : QStringLiteral("is longer than %1 characters").arg(textLength(f.type));
  return {};
}

// A value as the operator wrote it: text that is valid UTF-8 is shown as
// such, so that "Ä" saved by a UTF-8 editor reads as "Ä" in the message.
QString shownAsWritten(const QString& latin1) {
  const QByteArray bytes = latin1.toLatin1();
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString decoded = utf8(bytes);
  return utf8.hasError() ? latin1 : decoded;
}

}  // namespace

int paramSize(ParamType type) {
  switch (type) {
    case ParamType::Char:
    case ParamType::U8:
    case ParamType::I8:
      return 1;
    case ParamType::U16:
      return 2;
    case ParamType::Text4:
    case ParamType::U32:
    case ParamType::Single:
      return 4;
  }
  return 0;
}

int ParamRecordTable::indexOf(const char* key) const {
  for (size_t i = 0; i < fields.size(); ++i)
    if (std::strcmp(fields[i].key, key) == 0) return static_cast<int>(i);
  return -1;
}

const ParamField* ParamRecordTable::find(const char* key) const {
  const int i = indexOf(key);
  return i < 0 ? nullptr : &fields[static_cast<size_t>(i)];
}

QString editObjectName(const ParamField& field) {
  return field.editName ? QLatin1String(field.editName) : QLatin1String(field.key) + QStringLiteral("Edit");
}

QString initialEditText(const ParamField& field) {
  return QLatin1String(field.initialText ? field.initialText : field.key);
}

int editMaxLength(const ParamField& field) {
  if (field.maxLength > 0) return field.maxLength;
  return isText(field.type) ? textLength(field.type) : 0;
}

void readProfileField(const IniFile& file, const QString& section, const ParamField& f,
                      std::span<uint8_t> record) {
  const QString key = QLatin1String(f.key);
  if (isText(f.type)) {
    QString t = file.ReadString(section, key, QLatin1String(f.textDefault));
    if (!fitsInBytes(t)) t = withoutTrailingBlanks(QLatin1String(f.textDefault));
    const int n = static_cast<int>(std::min<qsizetype>(t.size(), textLength(f.type)));
    for (int k = 0; k < n; ++k)
      record[f.offset + static_cast<size_t>(k)] = static_cast<uint8_t>(t[k].unicode());
    // The text ends with a zero byte; where it fills the field, the next
    // field's own read covers that byte.
    if (n < textLength(f.type)) record[f.offset + static_cast<size_t>(n)] = 0;
    return;
  }
  if (f.type == ParamType::Single) {
    double v = f.fileDefault;
    if (file.ValueExists(section, key)) {
      const std::optional<double> parsed = parseUserFloat(file.ReadString(section, key, QString()));
      if (parsed && std::isfinite(static_cast<float>(*parsed))) v = *parsed;
    }
    storeSingle(f, record, static_cast<float>(v));
    return;
  }
  long long v = static_cast<long long>(f.fileDefault);
  if (file.ValueExists(section, key) && !parseFileInteger(f, file.ReadString(section, key, QString()), &v))
    v = static_cast<long long>(f.fileDefault);
  if (f.wrap16) v &= 0xFFFF;
  if (!std::isinf(f.fileMax)) v = std::min(v, static_cast<long long>(f.fileMax));
  storeInteger(f, record, toStored(f, v));
}

void writeProfileField(IniFile& file, const QString& section, const ParamField& f,
                       std::span<const uint8_t> record) {
  const QString key = QLatin1String(f.key);
  if (isText(f.type)) {
    file.WriteString(section, key, loadText(f, record));
  } else if (f.type == ParamType::Single) {
    file.WriteString(section, key, FormatProfileFloat(static_cast<double>(loadSingle(f, record))));
  } else {
    long long v = shownInteger(f, record);
    if (f.wrap16) v &= 0xFFFF;
    file.WriteString(section, key, QString::number(v));
  }
}

int readProfileSection(const QString& name, const QString& section, std::span<const ParamField> fields,
                       std::span<uint8_t> record) {
  if (fileKind(name) == FileKind::Other) return noteFileFailure(kErrFileOpen, name, notRegularReason());
  const IniFile file(name, IniFile::Encoding::Latin1);
  // Only a file that is not there gives the defaults: one that is there
  // but cannot be read would otherwise load, and then be written to a
  // reader, as defaults nobody chose.
  if (file.status() == IniFile::LoadStatus::Unreadable)
    return noteFileFailure(kErrFileOpen, name, QStringLiteral("what it holds cannot be read"));
  for (const ParamField& f : fields) readProfileField(file, section, f, record);
  return 0;
}

int writeProfileSection(const QString& name, const QString& section, std::span<const ParamField> fields,
                        std::span<const uint8_t> record, const char* skip) {
  if (fileKind(name) == FileKind::Other) return noteFileFailure(kErrFileOpen, name, notRegularReason());
  IniFile file(name, IniFile::Encoding::Latin1);
  // What a file holds that cannot be read could not be kept.
  if (file.status() == IniFile::LoadStatus::Unreadable)
    return noteFileFailure(kErrFileWrite, name, QStringLiteral("what it holds cannot be read"));
  for (const ParamField& f : fields)
    if (!skip || std::strcmp(f.key, skip) != 0) writeProfileField(file, section, f, record);
  return file.UpdateFile() ? 0 : kErrFileWrite;
}

FileFault checkProfileSection(const QString& name, const QString& section, std::span<const ParamField> fields,
                              const char* skip) {
  const IniFile file(name, IniFile::Encoding::Latin1);
  for (const ParamField& f : fields) {
    if (skip && std::strcmp(f.key, skip) == 0) continue;
    const QString key = QLatin1String(f.key);
    if (!file.ValueExists(section, key)) return {QStringLiteral("%1 is missing").arg(key)};
    const QString value = file.ReadString(section, key, QString());
    const QString why = isText(f.type)                ? textFault(f, value)
                        : f.type == ParamType::Single ? realFault(f, value)
                                                      : integerFault(f, value);
    if (!why.isEmpty()) return {QStringLiteral("%1=%2 %3").arg(key, shownAsWritten(value), why)};
  }
  return {};
}

QString paramEditText(const ParamField& f, std::span<const uint8_t> record) {
  if (isText(f.type)) return loadText(f, record);
  if (f.type == ParamType::Single)
    return formatGeneral(static_cast<double>(loadSingle(f, record)), 7, f.expDigits);
  return QString::number(shownInteger(f, record));
}

ParamEditor::ParamEditor(std::span<const ParamField> fields) : fields_(fields.begin(), fields.end()) {
  edits_.resize(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) edits_[i].text = initialEditText(fields_[i]);
}

int ParamEditor::indexOf(const char* key) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (std::strcmp(fields_[i].key, key) == 0) return static_cast<int>(i);
  return -1;
}

void ParamEditor::setEditLimits(const char* key, double min, double max) {
  const int i = indexOf(key);
  if (i < 0) return;
  fields_[static_cast<size_t>(i)].editMin = min;
  fields_[static_cast<size_t>(i)].editMax = max;
}

QString ParamEditor::text(const char* key) const {
  const int i = indexOf(key);
  return i < 0 ? QString() : text(i);
}

void ParamEditor::setText(int i, const QString& text) { edits_[static_cast<size_t>(i)].text = text; }

void ParamEditor::setText(const char* key, const QString& text) {
  if (const int i = indexOf(key); i >= 0) setText(i, text);
}

void ParamEditor::refresh(std::span<const uint8_t> record) {
  for (int i = 0; i < size(); ++i) refresh(i, record);
}

void ParamEditor::refresh(int i, std::span<const uint8_t> record) {
  const ParamField& f = field(i);
  Edit& e = edits_[static_cast<size_t>(i)];
  e.text = paramEditText(f, record);
  e.shown = e.text;
  e.shownValue = f.type == ParamType::Single ? static_cast<double>(loadSingle(f, record)) : 0;
  e.refreshed = true;
}

CollectFailure ParamEditor::collect(std::span<const char* const> keys, std::span<uint8_t> record,
                                    LimitPolicy policy, std::span<const ParamField> into) {
  for (const char* key : keys) {
    const int i = indexOf(key);
    const ParamField* target = i < 0 ? nullptr : &field(i);
    if (target && !into.empty()) {
      const auto at = std::find_if(into.begin(), into.end(),
                                   [key](const ParamField& f) { return std::strcmp(f.key, key) == 0; });
      target = at == into.end() ? nullptr : &*at;
    }
    if (!target) return {-1, QStringLiteral("%1 is no field of the record").arg(QLatin1String(key))};
    if (CollectFailure failure = collectOne(i, *target, record, policy)) return failure;
  }
  return {};
}

CollectFailure ParamEditor::collectOne(int i, const ParamField& f, std::span<uint8_t> record,
                                       LimitPolicy policy) {
  Edit& e = edits_[static_cast<size_t>(i)];
  if (isText(f.type)) {
    if (f.upperCase) e.text = e.text.toUpper();
    const QString taken = e.text.left(textLength(f.type));
    // One character, one byte: never several bytes, never a substitute.
    if (!fitsInBytes(taken))
      return {i, QStringLiteral("'%1' holds a character that does not fit in one byte").arg(e.text)};
    for (int k = 0; k < textLength(f.type); ++k)
      record[f.offset + static_cast<size_t>(k)] =
          k < taken.size() ? static_cast<uint8_t>(taken[k].unicode()) : 0;
    return {};
  }
  if (f.type == ParamType::Single) {
    double v = e.shownValue;
    if (!e.refreshed || e.text != e.shown) {
      const std::optional<double> parsed = parseUserFloat(e.text);
      if (!parsed) return {i, notAFloat(e.text)};
      v = *parsed;
    }
    // Too large or too small for a single: 1e-50 would be stored as 0.
    const auto single = static_cast<float>(v);
    if (!std::isfinite(single) || (single == 0 && v != 0)) return {i, notAFloat(e.text)};
    const double l = limited(static_cast<double>(static_cast<float>(v)), f.editMin, f.editMax);
    if (policy == LimitPolicy::Refuse && l != static_cast<double>(static_cast<float>(v)))
      return {i, outsideLimits(f, e.text.trimmed(), f.editMin, f.editMax)};
    storeSingle(f, record, static_cast<float>(l));
    return {};
  }
  long long typed = 0;
  if (!parseDecimalInteger(e.text, &typed)) return {i, notAnInteger(e.text)};
  // Limited as typed, before any wrap: a negative voltage or current must
  // give the lowest value, not wrap round to one near the top of 16 bits
  // that the limit then lowers to the highest.
  const auto l = static_cast<long long>(limited(static_cast<double>(typed), f.editMin, f.editMax));
  if (policy == LimitPolicy::Refuse && l != typed)
    return {i, outsideLimits(f, QString::number(typed), f.editMin, f.editMax)};
  // Beyond what the field's bytes hold, only some low bits would reach the
  // reader: -10 °C as the maximum heating temperature would become 1520 °C,
  // 300 as a channel 44. Such a value is refused, whichever the policy.
  if (const WholeRange r = typeRange(f); l < r.min || l > r.max)
    return {i,
            outsideLimits(f, QString::number(typed), static_cast<double>(r.min), static_cast<double>(r.max))};
  storeInteger(f, record, toStored(f, f.wrap16 ? (l & 0xFFFF) : l));
  if (f.showLimited) e.text = QString::number(l);
  return {};
}

}  // namespace quelm
