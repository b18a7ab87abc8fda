#include "parameters/ParamJob.h"

#include <iterator>

#include "base/Diag.h"
#include "base/ErrorCodes.h"
#include "base/IniFile.h"
#include "base/IntConversion.h"
#include "base/SharedFileDialogs.h"
#include "base/TextTable.h"

namespace quelm {
namespace {

constexpr MessageKind C = MessageKind::Confirmation, W = MessageKind::Warning, E = MessageKind::Error,
                      I = MessageKind::Information;

// clang-format off
const ParamTextEntry kParamTexts[] = {
    {ParamText::None, I, "", false, false, Ok},
    {ParamText::ReaderTableOverwrite, C, "The Reader Parameter Table will be overwritten! Are you sure?", true,
     false, Yes | No},
    {ParamText::AreYouSure, C, "Are you sure?", true, false, Yes | No},
    {ParamText::EntryExists, C, "The given serial number exist. Overwrite it?", true, false, Ok | Cancel},
    {ParamText::EntryNotFound, W, "The required key S/N has not been found!", true, false, Ok},
    {ParamText::MemoryFull, E, "Memory is full!", true, false, Ok},
    {ParamText::NoValidDefault, W, "There isn't valid default bulb parameter table for this key.", true, false,
     Ok},
    {ParamText::OtherTypeAnswered, I, "the reader answered with the table of type %1", false, false, Ok},
    {ParamText::NoOwnTable, W, "the reader refused the dosimeter's own table (no dosimeter in it?)", false,
     false, Ok},
    {ParamText::EntryDeletedNotWritten, E,
     "The reader's entry %1 was deleted, but the new one could not be written.", true, true, Ok},
    {ParamText::EntryMayBeDeleted, E,
     "The reader's entry %1 may have been deleted; the new entry was not written.", true, true, Ok},
    {ParamText::EntryNotReplaced, E, "The reader still holds its old entry %1; the new entry was not written.",
     true, true, Ok},
    {ParamText::EntryDiffers, E, "The reader's entry %1 is not the one that was written.", true, true, Ok},
    {ParamText::EntryMayNotBeWritten, E,
     "The reader's entry %1 was deleted; whether the new entry was written is unknown.", true, true, Ok},
    {ParamText::NewEntryMayNotBeWritten, E, "Whether the reader's new entry %1 was written is unknown.", true, true,
     Ok},
};
// clang-format on

const char* const kWindowHoldsEntry = " The window still holds it: write it again.";

}  // namespace

const ParamTextEntry& paramTextEntry(ParamText id) { return TableEntry(kParamTexts, id); }

QString paramText(ParamText id, const QString& arg) {
  const QString text = QString::fromUtf8(paramTextEntry(id).text);
  return text.contains(QLatin1String("%1")) ? text.arg(arg) : text;
}

bool askParamQuestion(ParamText question, const QString& title) {
  const ParamTextEntry& e = paramTextEntry(question);
  const auto first = static_cast<StandardButton>(e.buttons & (~e.buttons + 1));
  return showMessage(e.kind, title, paramText(question), e.buttons) == first;
}

void ParamOutcome::add(const ParamOutcome& later) {
  if (later.kind != kDone && kind == kDone) kind = later.kind;
  if (later.kind == kNotConverted) conversion = later.conversion;
  reports.insert(reports.end(), later.reports.begin(), later.reports.end());
}

void ShowParamOutcome(const ParamOutcome& outcome, const QString& title, TraceLine& trace) {
  for (const ParamReport& r : outcome.reports) {
    if (r.text != ParamText::None) {
      const ParamTextEntry& e = paramTextEntry(r.text);
      if (e.box)
        showMessage(e.kind, title,
                    paramText(r.text, r.arg) +
                        (e.windowHoldsEntry ? QLatin1String(kWindowHoldsEntry) : QLatin1String()));
    }
    if (r.code != 0) {
      trace << QLatin1String(r.step) + QStringLiteral("(): ") + QString::number(r.code);
      if (r.code == kErrFileWrite && !r.arg.isEmpty())
        reportUnableToWrite(r.arg);
      else
        ReportError(r.code, trace.text());
    }
  }
  if (outcome.kind == ParamOutcome::kNotConverted) showConversionError(outcome.conversion.message);
}

QString withExtension(const QString& name, const QString& extension) {
  if (name.right(extension.size()).compare(extension, Qt::CaseInsensitive) == 0) return name;
  return name + extension;
}

std::optional<QString> chooseSharedFile(FileMode mode, const QString& filter, const QString& extension) {
  SharedFileDialog& dialog = mode == FileMode::Open ? sharedOpenDialog() : sharedSaveDialog();
  dialog.Filter = filterFromPipes(filter);
  if (!dialog.Execute()) return std::nullopt;
  if (mode == FileMode::Save) dialog.FileName = withExtension(dialog.FileName, extension);
  return dialog.FileName;
}

}  // namespace quelm
