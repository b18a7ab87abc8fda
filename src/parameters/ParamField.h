#pragma once
// The fields of a parameter record, described once per record: where each
// lies, how it is encoded, how parameter files write and read it, how the
// windows show it and which limits apply to what the operator types. The
// files, the windows' edits, their collect operations and the command line
// all work from these tables, so that a field can never be read one way and
// written another.

#include <QString>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "base/IntConversion.h"

namespace quelm {

class IniFile;

enum class ParamType : uint8_t {
  Char,   // one character, a Latin-1 byte; 0 is the empty text
  Text4,  // four characters, not terminated; a zero byte ends the text early
  U8,
  I8,
  U16,
  U32,
  Single,  // IEEE-754 single, little-endian
};

int paramSize(ParamType type);

inline constexpr double kNoLimit = std::numeric_limits<double>::infinity();

struct ParamField {
  const char* key;  // key name in files, field name in the record
  uint16_t offset;
  ParamType type;
  // Files and edits show stored * scale + bias. Fields with wrap16 take the
  // shown value's low 16 bits, unsigned: a file's before anything else, an
  // edit's after its limits; files get the low 16 bits of the sum: what the
  // reader's tables always held.
  int scale = 1;
  int bias = 0;
  bool wrap16 = false;
  double fileDefault = 0;        // numbers, as shown
  const char* textDefault = "";  // Char and Text4
  double fileMax = kNoLimit;     // a value read from a file is lowered to this (as shown)
  // What the operator types is limited to these (as shown); the maximum is
  // applied before the minimum.
  double editMin = -kNoLimit;
  double editMax = kNoLimit;
  bool showLimited = false;  // the edit shows the limited value after a collect
  bool upperCase = false;    // typed text is taken, and shown again, in upper case
  int expDigits = 2;         // reals in edits: least digits of a scientific exponent
  int maxLength = 0;         // characters an edit takes; 0: 1 for Char, 4 for Text4, else any
  // The window's row: its label (UTF-8, its unit in brackets; rich text
  // where it raises an exponent), column 1 or 2 and row from the top.
  // Without a caption the field has no edit and keeps what the record holds.
  const char* caption = nullptr;
  uint8_t column = 0;
  uint8_t row = 0;
  bool enterMovesOn = true;           // Enter in the edit moves to the next control
  const char* editName = nullptr;     // the edit's object name; nullptr: key + "Edit"
  const char* initialText = nullptr;  // shown until the first refresh; nullptr: the key
};

// A named list of a record's keys, in the order it is used: the edits a
// collect takes, or the edits a layout enables.
struct ParamKeyList {
  const char* name;
  std::span<const char* const> keys;
};

// Everything known about one record's fields, in the order of its file
// section, and the key lists that work on them.
struct ParamRecordTable {
  std::span<const ParamField> fields;
  std::span<const ParamKeyList> lists;
  // -1 when the record has no such field.
  int indexOf(const char* key) const;
  const ParamField* find(const char* key) const;
};

// The edit's object name and its text before the first refresh.
QString editObjectName(const ParamField& field);
QString initialEditText(const ParamField& field);

int editMaxLength(const ParamField& field);

// Profile files. Reading never fails: a missing key, a value that does not
// parse, and a text that does not fit in single bytes take the default.
// Bytes a read does not set keep what the record held.
void readProfileField(const IniFile& file, const QString& section, const ParamField& field,
                      std::span<uint8_t> record);
void writeProfileField(IniFile& file, const QString& section, const ParamField& field,
                       std::span<const uint8_t> record);

// A whole section. A name that is no plain file (a pipe, a folder, a
// device) is neither read nor written: -107, the record untouched. A file
// that is not there reads as empty (the defaults); one that is there but
// cannot be read (no permission, larger than IniFile::kMaxFileSize) is not
// read: -107, the record untouched; writing then gives -110. Writing keeps
// the rest of the file and returns 0, or -110 with the reason noted
// (noteFileFailure) when the file could not be written (it then keeps its
// content). Nothing is shown: the caller reports the code. `skip` names a
// key the section does not hold.
int readProfileSection(const QString& name, const QString& section, std::span<const ParamField> fields,
                       std::span<uint8_t> record);
int writeProfileSection(const QString& name, const QString& section, std::span<const ParamField> fields,
                        std::span<const uint8_t> record, const char* skip = nullptr);

// What a parameter file says for every field of a section (but `skip`),
// checked on the file's own text before anything is converted, for a file
// that is to go to a reader unseen: the key is there; an integer is a whole
// number that the field holds without cutting and within the window's
// limits; a real is a finite number that fits a single (and the limits); a
// text is single-byte (Latin-1) characters that fit the field. The first
// fault names the key and the value as the file has it.
struct FileFault {
  QString message;  // "MAXT=200 is outside -127..127"
  explicit operator bool() const { return !message.isEmpty(); }
};
FileFault checkProfileSection(const QString& name, const QString& section, std::span<const ParamField> fields,
                              const char* skip = nullptr);

// How an edit shows the field: reals with 7 significant digits.
QString paramEditText(const ParamField& field, std::span<const uint8_t> record);

enum class LimitPolicy {
  Limit,   // a value outside the limits is limited silently (the windows)
  Refuse,  // it stops the collect like a text that does not convert
};

struct CollectFailure {
  int index = -1;  // the edit that stopped the collect; -1 none
  QString message;
  explicit operator bool() const { return !message.isEmpty(); }
};

// The edit texts of one record, as the windows and the command line see
// them. A real whose text is still what the last refresh showed keeps the
// record's exact value: seven digits on the screen must not round away
// what the reader or the file held.
class ParamEditor {
 public:
  explicit ParamEditor(std::span<const ParamField> fields);

  int size() const { return static_cast<int>(fields_.size()); }
  // The fields with the limits in force (setEditLimits included).
  std::span<const ParamField> fields() const { return fields_; }
  const ParamField& field(int i) const { return fields_[static_cast<size_t>(i)]; }
  int indexOf(const char* key) const;  // -1 when the record has no such field
  // Changes a field's edit limits (a configured bound, for example).
  void setEditLimits(const char* key, double min, double max);

  const QString& text(int i) const { return edits_[static_cast<size_t>(i)].text; }
  QString text(const char* key) const;
  void setText(int i, const QString& text);
  void setText(const char* key, const QString& text);

  void refresh(std::span<const uint8_t> record);
  void refresh(int i, std::span<const uint8_t> record);

  // Takes the edits of `keys`, in that order, into the record. Stops at the
  // first text that does not convert (with Refuse also at the first value
  // outside its limits); the fields before it keep their new values. A key
  // the record lacks stops it too: a misspelt list must never send a record
  // with a field left out.
  // `into` describes the record when it is another than the editor's own
  // (the same keys at other places).
  CollectFailure collect(std::span<const char* const> keys, std::span<uint8_t> record,
                         LimitPolicy policy = LimitPolicy::Limit, std::span<const ParamField> into = {});

 private:
  struct Edit {
    QString text;
    QString shown;  // what the last refresh showed
    double shownValue = 0;
    bool refreshed = false;
  };
  CollectFailure collectOne(int i, const ParamField& f, std::span<uint8_t> record, LimitPolicy policy);

  std::vector<ParamField> fields_;
  std::vector<Edit> edits_;
};

}  // namespace quelm
