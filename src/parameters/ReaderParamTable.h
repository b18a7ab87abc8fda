#pragma once
// The reader parameter table as its window works on it: the record, the
// texts of the window's edits and the operations behind its buttons,
// without the window. The window and the command line drive this object;
// questions, file dialogs and messages stay with them.

#include <QString>
#include <cstdint>

#include "parameters/DeviceParamBlock.h"
#include "parameters/ParamField.h"

namespace quelm {

class ReaderParamTable {
 public:
  ReaderParamTable();

  TDeviceParamBlock Block;
  // One edit per field of deviceParamFields(), DCALX0 included (no window
  // shows it; it only keeps its texts' shape).
  ParamEditor Edits;
  // The configuration's bound of POSTH; the byte bounds it at 255 as well.
  int32_t MaxPostHeating = 50;

  // The edits from the record.
  void DataRefresh();
  // The edits into the record, in the window's order and with its limits.
  // DCALX0 keeps what the record holds: no edit shows it.
  CollectFailure DataCollect(LimitPolicy policy = LimitPolicy::Limit);

  // The file's own text for every field a write from it sends, with the
  // window's limits (the configured POSTH bound included); nothing is read
  // into the record. See checkProfileSection.
  FileFault CheckFile(const QString& name);

  // ".J#", then the edits; a failed read changes neither.
  int ReadCOMData();
  // The file into the record, then the edits. Always 0.
  int Load(const QString& name);
  // The record into the file `name` as given (see withRptExtension).
  int Save(const QString& name);

  // `name` with ".rpt" appended unless it already ends so, in any case.
  static QString withRptExtension(const QString& name);

 private:
  void applyLimits();
};

}  // namespace quelm
