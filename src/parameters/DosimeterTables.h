#pragma once
// The dosimeter parameter tables as their window works on them: the table
// (a type's default table or a look-up entry), the dosimeter's own table,
// the texts of the window's edits, the source and "Write As" choices, and
// the operations behind Read, Write, Load and Save without the window. The
// window and the command line drive this object; questions, dialogs and
// messages stay with them.

#include <QString>
#include <functional>

#include "measurement/ErrorFlags.h"
#include "parameters/BulbParamBlock.h"
#include "parameters/ParamField.h"

namespace quelm {

// The boxes of the error-mask editor and the ERRMASK bits each stands for;
// a box is ticked when any of its bits is set and sets all of them.
struct ErrMaskBox {
  const char* caption;
  uint8_t bits;
};
inline constexpr ErrMaskBox kErrMaskBoxes[] = {
    {"Sensitivity", kFlagSensitivity}, {"Background", kFlagBackground}, {"Heating", kFlagHeating},
    {"Overflow", kFlagOverflow},       {"Clock", kClockFault},          {"Abort", kFlagAbort},
    {"Sensor", kFlagDosimeterCode}};

// In the order of the radio items.
enum class TableSource { Default = 0, Dosimeter = 1, LookUp = 2 };

class DosimeterTables {
 public:
  DosimeterTables();

  TBulbParamBlock Table;
  TIBulbParamBlock Own;
  // One edit per field of bulbParamFields(); BGCOR, KANN and DLFA have none
  // in the window and keep what the table holds.
  ParamEditor Edits;
  TableSource Source = TableSource::Dosimeter;
  TableSource WriteAs = TableSource::Dosimeter;

  // The table's first byte is 3: the window shows its warning.
  bool Warning() const { return uint8_t(Table.Record.KTYPE) == 3; }

  void DataRefresh();
  // The three ways the edits go into a record. Each stops at an edit that
  // does not convert, with the fields before it taken.
  // Into the table, KSN cleared: a type's default table.
  CollectFailure DefaultDataCollect(LimitPolicy policy = LimitPolicy::Limit);
  // Type, serial and evaluation window into the own table.
  CollectFailure KeyDataCollect(LimitPolicy policy = LimitPolicy::Limit);
  // Every edit of the look-up layout into the table.
  CollectFailure LookupDataCollect(LimitPolicy policy = LimitPolicy::Limit);
  // The type (first character) and serial (first four) edits into the
  // table's KTYPE and KSN; the edits show the cut texts afterwards.
  CollectFailure TakeIdentifier(bool upperCase);

  // ".M" for the table's KTYPE. A failure leaves the table clear.
  int ReadDefault();
  // ".Q0#", then ".M" for its type; the own table's type, serial and
  // evaluation window then go into the table. -210: no own table.
  struct OwnRead {
    int code = 0;
    bool ownRead = false;       // the own table came (a later ".M" may still fail)
    bool typeMismatch = false;  // the reader's default table is of another type
  };
  OwnRead ReadOwn();
  // ".X" for the table's KTYPE and KSN; -210: the reader has no such entry.
  int ReadLookup();

  // ".L" of the table, ".O" of the own table (-210: refused).
  int WriteDefault();
  int WriteOwn();

  // The look-up write: every edit is converted first; then the reader is
  // asked whether it holds the entry, and an existing one is replaced only
  // when overwrite() says so (".E", then ".Z"). Nothing is deleted before
  // the new entry is known to be convertible.
  struct LookupWrite {
    enum Outcome {
      Written,
      NotConverted,         // an edit does not convert: nothing sent
      Declined,             // the entry exists and is not to be overwritten: nothing written
      Failed,               // code: the check, the delete or the write failed; nothing deleted
      DeletedNotRewritten,  // the old entry is gone and the new one did not get in
    } outcome = Written;
    enum Step { None, Check, Delete, Write } step = None;  // the command that failed
    int code = 0;                                          // -210 at Write: the look-up table is full
    CollectFailure conversion;
  };
  LookupWrite WriteLookup(const std::function<bool()>& overwrite, LimitPolicy policy = LimitPolicy::Limit);
  // What a look-up write that did not end well means for the reader's
  // entry `id` (type and serial), told beside the code's own message; empty
  // where the code says it all. A delete whose reply was lost may have
  // been carried out: the entry may be gone.
  static QString LookupWriteMessage(const LookupWrite& w, const QString& id);

  // The file's own text for every field a write by the source sends from
  // it (the default section without KSN, the look-up section, the own
  // section), with the window's limits. See checkProfileSection.
  FileFault CheckFile(const QString& name) const;

  // By the source: the default section into the table, or the own section
  // into the own table and its identification and evaluation window into
  // the table. Then the edits. Always 0.
  int Load(const QString& name);
  // By the source: the collect of that kind, then its section. 0, -1 when
  // an edit did not convert (*failure tells which), or -110 when the file
  // could not be written (its message has been shown).
  int Save(const QString& name, CollectFailure* failure, LimitPolicy policy = LimitPolicy::Limit);

  // `name` with ".dpt" appended unless it already ends so, in any case.
  static QString withDptExtension(const QString& name);

 private:
  void copyOwnIntoTable();
};

}  // namespace quelm
