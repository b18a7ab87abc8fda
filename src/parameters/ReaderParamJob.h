#pragma once
// The reader parameter table window's workflow without the window: the
// record, the texts of its edits, whether Write may be used, and the
// operations behind Read, Write, Load and Save. TDptForm paints it and
// forwards its clicks; quelm-cli reader-params drives the same object.
// Decisions (the question before a write, the file to use) are callbacks;
// each operation returns a ParamOutcome and shows nothing itself.

#include <QString>
#include <cstdint>
#include <functional>

#include "parameters/DeviceParamBlock.h"
#include "parameters/ParamJob.h"

namespace quelm {

class ReaderParamJob {
 public:
  ReaderParamJob();

  TDeviceParamBlock Block;
  // One edit per field of deviceParamTable(), DCALX0 included (no window
  // shows it; it only keeps the texts' shape).
  ParamEditor Edits;
  // The configuration's bound of POSTH, asked at every collect; the byte
  // bounds it at 255 as well.
  std::function<int32_t()> maxPostHeating = [] { return 50; };
  // The window limits silently; the command line refuses what it would limit.
  LimitPolicy Policy = LimitPolicy::Limit;
  // The reserved byte goes from the reader back to the reader unchanged. The
  // window carries it from its last read. The command line writes a record
  // made from a file, which never holds it: with this set, a write first
  // reads the table it replaces and sends that byte; a failed read stops it.
  bool ReservedFromReader = false;

  // --- Decisions and hooks -------------------------------------------------
  // The question before a write (ParamText::ReaderTableOverwrite).
  std::function<bool()> confirmWrite;
  // The file to load or save; nothing: cancelled. Default: the shared
  // dialogs with the ".rpt" filters.
  FileChooser chooseFile;
  BusyHook onBusy;

  // --- State ------------------------------------------------------------------
  // Write needs the service level and a line the software update does not hold.
  bool CanWrite() const;
  bool ReaderAvailable = true;

  // --- Operations ---------------------------------------------------------------
  // ".J#", then the edits; a failed read changes neither.
  ParamOutcome ReadCOMData();
  // The question, the edits into the record, (".J#" for ReservedFromReader),
  // ".I".
  ParamOutcome WriteCOMData();
  // A file into the record, then the edits.
  ParamOutcome Load();
  // The edits into the record, then the file (".rpt" added to a name the
  // dialog gave).
  ParamOutcome Save();

  // The edits from the record.
  void DataRefresh();
  // The edits into the record, in the window's order and with its limits.
  // DCALX0 keeps what the record holds: no edit shows it.
  CollectFailure DataCollect();
  // The file's own text for every field a write from it sends, with the
  // window's limits (the configured POSTH bound included); nothing is read
  // into the record. See checkProfileSection.
  FileFault CheckFile(const QString& name);

 private:
  void applyLimits();
  // The outcome of a read into the record: shown in the edits, or failed at
  // `step` with the edits as they were.
  ParamOutcome shownAfterRead(int rc, const char* step);
};

}  // namespace quelm
