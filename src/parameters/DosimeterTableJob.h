#pragma once
// The dosimeter parameter table window's workflow without the window: the
// table (a type's default table or a look-up entry), the dosimeter's own
// table, the texts of the edits and which of them are enabled, the source
// and "Write As" choices, and the operations behind Read, Write, Load, Save
// and List with their look-up sequences. TBptSubForm paints it and forwards
// its clicks; quelm-cli dpt drives the same object. Decisions (questions,
// the entry dialogs, the file to use) are callbacks; each operation returns
// a ParamOutcome and shows nothing itself.

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "base/AbortToken.h"
#include "measurement/ErrorFlags.h"
#include "parameters/BulbParamBlock.h"
#include "parameters/ParamJob.h"

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
inline constexpr const char* kTableSourceCaptions[] = {"Default Table", "Dosimeter", "Look Up Table"};

enum class TableLayout { Default, LookUp, Dosimeter };

class DosimeterTableJob {
 public:
  // The service level is taken once: what it enables stays so for good.
  DosimeterTableJob();

  TBulbParamBlock Table;
  TIBulbParamBlock Own;
  // One edit per field of bulbParamTable(); BGCOR, KANN and DLFA have none
  // and keep what the table holds.
  ParamEditor Edits;
  TableSource Source = TableSource::Dosimeter;
  TableSource WriteAs = TableSource::Dosimeter;
  // The window limits silently; the command line refuses what it would limit.
  LimitPolicy Policy = LimitPolicy::Limit;
  // The reserved bytes go from the reader back to the reader unchanged. The
  // window carries them from its last read. The command line writes records
  // made from a file, which never holds them: with this set, a write first
  // reads the table it replaces and sends its reserved bytes (zeros for a
  // table the reader does not hold yet); a failed read stops the write.
  bool ReservedFromReader = false;

  // --- Decisions and hooks -------------------------------------------------
  // A question of the table (AreYouSure, EntryExists): whether to go on.
  std::function<bool(ParamText question)> confirm;
  // The entry dialogs: a type letter; a type letter and serial number;
  // a serial number (nothing: cancelled); a picked look-up entry, five
  // characters (nothing: none picked). A dialog that is not there answers
  // nothing, and the edits keep their texts.
  std::function<std::optional<QString>()> askType;
  std::function<std::optional<std::pair<QString, QString>>()> askTypeAndSerial;
  std::function<std::optional<QString>()> askSerial;
  std::function<std::optional<QString>()> pickEntry;
  // Default: the shared dialogs with the ".dpt" filter.
  FileChooser chooseFile;
  // The text of a last read-out time (seconds since 1980).
  std::function<QString(uint32_t)> readOutText;
  BusyHook onBusy;

  // --- What the window shows -----------------------------------------------
  struct ControlState {
    std::vector<bool> edits;  // by field; fields without an edit stay false
    bool lastReadout = true;  // LROEdit
    bool list = false;        // ListLUTButton
    bool write = false;       // WriteCOMButton: service level
    bool writeAs = false;     // "Write As": service level
    bool lookUp = false;      // the "Look Up" group: service level and the line free
    bool reader = true;       // the "COM I/O" group: the line free
  };
  const ControlState& Controls() const { return controls_; }
  // The warning label: shown for a table whose first byte is 3 and after a
  // refused own-table transfer, hidden by the next refresh otherwise.
  bool Warning() const { return warning_; }
  const QString& LastReadoutText() const { return lastReadout_; }
  void SetReaderAvailable(bool available);

  // --- Operator input -----------------------------------------------------
  // A source also sets "Write As"; "Write As" Dosimeter switches to the
  // dosimeter layout.
  void ChooseSource(TableSource source);
  void ChooseWriteAs(TableSource writeAs);
  void SetLayout(TableLayout layout);
  // From the error-mask editor: the table's mask and the edit's text.
  void SetErrMask(uint8_t mask);

  // --- Operations -----------------------------------------------------------
  // Asks a running Write to stop at its next safe point: before anything is
  // written, never between a look-up entry's delete and its new write. The
  // stop is a failure with kErrUserAbort; a Write ends a request it did not
  // meet.
  void RequestAbort() { abort_.request(); }
  // The table of the source from the reader (through the entry dialogs).
  ParamOutcome Read();
  // The question, then the table of "Write As" into the reader, and back.
  ParamOutcome Write();
  // The file section of the source, then the edits.
  ParamOutcome Load();
  // The edits of the source's kind, then its file section (".dpt" added to
  // a name the dialog gave).
  ParamOutcome Save();
  // A look-up entry picked from the reader's list, then read.
  ParamOutcome List();

  // The edits from the table (and the last read-out from the own table).
  void DataRefresh();
  // The three ways the edits go into a record. Each stops at an edit that
  // does not convert, with the fields before it taken.
  CollectFailure DefaultDataCollect();  // into the table, KSN cleared
  CollectFailure KeyDataCollect();      // type, serial, evaluation window into the own table
  CollectFailure LookupDataCollect();   // every edit of the look-up layout into the table
  // The type (first character) and serial (first four) edits into the
  // table's KTYPE and KSN; the edits show the cut texts afterwards.
  CollectFailure TakeIdentifier(bool upperCase);

  // The file's own text for every field a write by the source sends from
  // it, with the window's limits. See checkProfileSection.
  FileFault CheckFile(const QString& name) const;
  // The section a write by the source takes from a file.
  QString SourceSection() const;
  // What a write from a file sends: the source's own section (a look-up
  // entry from the look-up section, where Load takes the default section)
  // into the records and the edits.
  int LoadSourceSection(const QString& name);
  // The identifier the edits show ("A0042").
  QString Identifier() const;

 private:
  // What the reader is sent under a table's identifier (the first five
  // bytes of `record`) must name a type (a letter A..Z, or the bytes 2 and 3
  // a table read may hold) and, for a look-up entry or a dosimeter's own
  // table, a dosimeter (four digits): anything else would make a table no
  // dosimeter ever finds. The failure names the edit.
  CollectFailure identifierFault(std::span<const uint8_t> record, bool withSerial) const;
  // A read of the table the identifier edits name: laid out as `layout`,
  // the identifier taken, `read` under the busy pointer, then the table
  // shown with its serial and the list offered for a look-up entry only.
  ParamOutcome readIdentified(TableLayout layout, bool lookup,
                              const std::function<void(ParamOutcome& o)>& read);
  ParamOutcome readDefault();
  ParamOutcome readLookup();
  // With ReservedFromReader: the reserved bytes of `replaced` into the
  // table, or zeros when there is none.
  void keepReserved(const BulbParamRecord* replaced);
  ParamOutcome writeDefault();
  ParamOutcome writeOwn();
  ParamOutcome sendOwn();  // writeOwn without the layout it leaves
  ParamOutcome writeLookupAs();
  ParamOutcome writeLookup();
  // The delete of the existing entry `id` and the write of the table in
  // its place, each failure settled by reading the entry back.
  ParamOutcome replaceLookup(const QString& id);
  // The write of the table as entry `id` (in place of a deleted one when
  // replacing), a failure settled by reading the entry back.
  ParamOutcome writeSettled(const QString& id, bool replacing);
  enum class Held { Nothing, Sent, Other, Unknown };
  // What the reader holds under the table's identifier.
  Held heldEntry() const;
  // A safe point of Write: true, with the outcome failed as a user abort,
  // when a stop was asked for.
  bool stopHere(ParamOutcome& o, const char* step);
  void setSource(TableSource source);
  int loadFile(const QString& name, bool lookUpSection);
  void copyOwnIntoTable();
  void enable(const char* key, bool on);

  ControlState controls_;
  bool warning_ = false;
  AbortToken abort_;
  QString lastReadout_ = QStringLiteral("LRO");
};

}  // namespace quelm
