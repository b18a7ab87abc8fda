#include "parameters/ReaderParamJob.h"

#include <algorithm>

#include "base/ErrorCodes.h"
#include "base/ServiceLevel.h"

namespace quelm {
namespace {

const QString kTitle = QStringLiteral("Reader Parameter Table");

}  // namespace

ReaderParamJob::ReaderParamJob() : Edits(deviceParamFields()) {
  confirmWrite = [] { return askParamQuestion(ParamText::ReaderTableOverwrite, kTitle); };
  chooseFile = [](FileMode mode) {
    const QString filter = QStringLiteral("Reader parameter table files (*.rpt)|*.RPT");
    return chooseSharedFile(mode,
                            mode == FileMode::Open ? filter + QStringLiteral("|All files (*.*)|*.*") : filter,
                            QStringLiteral(".rpt"));
  };
}

bool ReaderParamJob::CanWrite() const { return serviceLevel() && ReaderAvailable; }

void ReaderParamJob::DataRefresh() { Edits.refresh(Block.bytes()); }

void ReaderParamJob::applyLimits() {
  Edits.setEditLimits("POSTH", 0, std::min<double>(255, maxPostHeating()));
}

CollectFailure ReaderParamJob::DataCollect() {
  applyLimits();
  return Edits.collect(deviceParamCollectOrder(), Block.bytes(), Policy);
}

FileFault ReaderParamJob::CheckFile(const QString& name) {
  applyLimits();
  return checkProfileSection(name, kReaderParamSection, Edits.fields());
}

ParamOutcome ReaderParamJob::shownAfterRead(int rc, const char* step) {
  ParamOutcome o;
  if (rc != 0)
    o.fail(rc, step);
  else
    DataRefresh();
  return o;
}

ParamOutcome ReaderParamJob::ReadCOMData() {
  BusyScope busy(onBusy);
  return shownAfterRead(Block.ReadCOMBlock(), "ReadCOMBlock");
}

ParamOutcome ReaderParamJob::WriteCOMData() {
  // The button is greyed then; a click that reaches here anyway (a
  // shortcut, a stale state) writes nothing.
  if (!CanWrite() || !confirmWrite()) return ParamOutcome::nothing();
  BusyScope busy(onBusy);
  if (const CollectFailure f = DataCollect()) return ParamOutcome::notConverted(f);
  ParamOutcome o;
  if (ReservedFromReader) {
    TDeviceParamBlock replaced;
    if (const int rc = replaced.ReadCOMBlock()) {
      o.fail(rc, "ReadCOMBlock");
      return o;
    }
    Block.Record.Reserved41 = replaced.Record.Reserved41;
  }
  if (const int rc = Block.WriteCOMBlock()) o.fail(rc, "WriteCOMBlock");
  return o;
}

ParamOutcome ReaderParamJob::Load() {
  const std::optional<QString> name = chooseFile(FileMode::Open);
  if (!name) return ParamOutcome::nothing();
  BusyScope busy(onBusy);
  return shownAfterRead(Block.ReadFileBlock(*name), "ReadFileBlock");
}

ParamOutcome ReaderParamJob::Save() {
  if (const CollectFailure f = DataCollect()) return ParamOutcome::notConverted(f);
  const std::optional<QString> name = chooseFile(FileMode::Save);
  if (!name) return ParamOutcome::nothing();
  BusyScope busy(onBusy);
  ParamOutcome o;
  if (const int rc = Block.WriteFileBlock(*name); rc != 0) o.fail(rc, "WriteFileBlock", *name);
  return o;
}

}  // namespace quelm
