#include "measurement/NurvoDataBlock.h"

#include <cstring>

#include "shell/Diag.h"

TNurvoDataBlock::TNurvoDataBlock(QObject* owner)
    : Owner(owner),
      State(0),
      FileHandle(nullptr),
      Source(SourceNone),
      ValidBlocks(0),
      LastBlock(0),
      LastUnsaved(0),
      ByDate(0),
      BlockIndex(0) {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::TNurvoDataBlock(): "));
  std::memset(&Record, 0, sizeof Record);
  std::memset(Summaries, 0, sizeof Summaries);
  std::memset(Values, 0, sizeof Values);
  std::memset(Ranges, 0, sizeof Ranges);
  trace.ok();
}

TNurvoDataBlock::~TNurvoDataBlock() {
  quelm::TraceLine trace(QStringLiteral("TNurvoDataBlock::~TNurvoDataBlock(): "));
  if (FileHandle) std::fclose(FileHandle);
  FileHandle = nullptr;
  trace.ok();
}
