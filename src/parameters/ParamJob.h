#pragma once
// What the parameter jobs share: how an operation ends, the one table of
// the texts their workflows show, and how a window shows an outcome.
//
// A job operation never shows a failure itself, nor do the record operations
// below it: it returns a ParamOutcome; the window shows it with
// ShowParamOutcome, the command line prints the same texts from the same
// table. (Its questions are asked through the dialog seam or a callback.)

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "base/BusyHook.h"
#include "base/Prompter.h"
#include "parameters/ParamField.h"

namespace quelm {

class TraceLine;

// Every text of the parameter workflows, questions included.
enum class ParamText {
  None,
  ReaderTableOverwrite,     // the question before the reader table is written
  AreYouSure,               // the question before a dosimeter table is written
  EntryExists,              // the question before a look-up entry is replaced
  EntryNotFound,            // ".X" refused
  MemoryFull,               // ".Z" refused
  NoValidDefault,           // the default table's type is not the dosimeter's
  OtherTypeAnswered,        // a default table of another type than asked for
  NoOwnTable,               // ".Q0#" or ".O" refused: no dosimeter in the reader
  EntryDeletedNotWritten,   // the old entry is gone, the new one did not get in
  EntryMayBeDeleted,        // the delete's reply was lost, and so was the read-back's
  EntryNotReplaced,         // the delete failed; the read-back found the old entry
  EntryDiffers,             // the read-back after a failed write found another entry
  EntryMayNotBeWritten,     // the old entry is gone; the write and the read-back failed
  NewEntryMayNotBeWritten,  // a new entry: the write and the read-back failed
};

struct ParamTextEntry {
  ParamText id;
  MessageKind kind;
  const char* text;  // %1: the dosimeter's identifier or type
  // The window shows it in a box; otherwise the window shows it its own way
  // (the warning label) and only the command line prints the text.
  bool box;
  // What the window adds in the same box: its edits still hold the entry.
  bool windowHoldsEntry;
  unsigned buttons;  // a question's buttons; the first says yes
};
const ParamTextEntry& paramTextEntry(ParamText id);
QString paramText(ParamText id, const QString& arg = QString());
// Asks a question of the table through the dialog seam: whether its first
// button was chosen.
bool askParamQuestion(ParamText question, const QString& title);

// One thing an outcome tells: a text of the table, or a result code with
// the record operation that returned it (for the trace).
struct ParamReport {
  ParamText text = ParamText::None;
  QString arg;  // the text's %1, or the file a code's operation wrote

  int code = 0;
  const char* step = nullptr;  // "ReadCOMBlock", ...
};

struct ParamOutcome {
  enum Kind {
    kDone,          // done; reports may still hold notes
    kNothing,       // cancelled or declined: nothing was sent or written
    kNotConverted,  // an edit did not convert: nothing was sent or written
    kFailed,        // a reader or file operation failed: see reports
  };
  Kind kind = kDone;
  std::vector<ParamReport> reports;  // in the order they happened
  CollectFailure conversion;         // kNotConverted

  void note(ParamText text, const QString& arg = QString()) { reports.push_back({text, arg}); }
  void fail(int code, const char* step, const QString& file = QString()) {
    kind = kFailed;
    reports.push_back({ParamText::None, file, code, step});
  }
  void failWith(ParamText text, const QString& arg = QString()) {
    kind = kFailed;
    note(text, arg);
  }
  // Appends what a later step of the same operation told.
  void add(const ParamOutcome& later);

  static ParamOutcome nothing() {
    ParamOutcome o;
    o.kind = kNothing;
    return o;
  }
  static ParamOutcome notConverted(const CollectFailure& f) {
    ParamOutcome o;
    o.kind = kNotConverted;
    o.conversion = f;
    return o;
  }
};

// The window's way: each text the table boxes in a box titled `title`, a
// conversion failure as the conversion message, each code traced as
// "<step>(): <code>" and passed to ReportError, but a file that could not be
// written as "Unable to write to <file>" (reportUnableToWrite).
void ShowParamOutcome(const ParamOutcome& outcome, const QString& title, TraceLine& trace);

// What a job asks the file dialog for. The default runs the shared dialogs
// with the job's filters; the command line answers with the file it was
// given.
enum class FileMode { Open, Save };
using FileChooser = std::function<std::optional<QString>(FileMode)>;
// The shared open or save dialog with filter (as "Desc|*.x|..."). A name
// chosen for saving gets `extension` unless it ends so in any letter case,
// and the dialog keeps that name.
std::optional<QString> chooseSharedFile(FileMode mode, const QString& filter, const QString& extension);

// `name` with `extension` (".rpt") appended unless it already ends so, in any case.
QString withExtension(const QString& name, const QString& extension);

}  // namespace quelm
