#include "parameters/ReaderParamTable.h"

#include <algorithm>

namespace quelm {

ReaderParamTable::ReaderParamTable() : Edits(deviceParamFields()) {}

void ReaderParamTable::DataRefresh() { Edits.refresh(Block.bytes()); }

void ReaderParamTable::applyLimits() {
  Edits.setEditLimits("POSTH", 0, std::min<double>(255, MaxPostHeating));
}

CollectFailure ReaderParamTable::DataCollect(LimitPolicy policy) {
  applyLimits();
  return Edits.collect(deviceParamCollectOrder(), Block.bytes(), policy);
}

FileFault ReaderParamTable::CheckFile(const QString& name) {
  applyLimits();
  return checkProfileSection(name, kReaderParamSection, Edits.fields());
}

int ReaderParamTable::ReadCOMData() {
  if (const int rc = Block.ReadCOMBlock()) return rc;
  DataRefresh();
  return 0;
}

int ReaderParamTable::Load(const QString& name) {
  const int rc = Block.ReadFileBlock(name);
  DataRefresh();
  return rc;
}

int ReaderParamTable::Save(const QString& name) { return Block.WriteFileBlock(name); }

QString ReaderParamTable::withRptExtension(const QString& name) {
  if (name.right(4).compare(QLatin1String(".rpt"), Qt::CaseInsensitive) == 0) return name;
  return name + QStringLiteral(".rpt");
}

}  // namespace quelm
